// The serial-port library of ZVR programs (section "@serial" of the host's
// table): serialdevopen and its kin open listed ports by name and hand out
// descriptors (base + slot, 16 slots, the base from the engine's counter at
// the first open); the four stream hooks read, write, close and control them.
#pragma once

#include <cstdint>

#include "engine/core/context.h"
#include "engine/core/options.h"

constexpr int kSerialSlots = 16;
constexpr int32_t kSerialDescriptorBlock = 512;

// The options template of serialdevset: BPS, Delay, Handshake, StopBits,
// TextMode, Timeout.
extern const OptionDesc kSerialOptions[];

// Every slot free and the descriptor block not yet reserved (ports still
// open are closed); closing every open port.
void serialio_table_init();
void serialio_close_all();

// What an options string or structure asks for.
struct SerialSettings {
  int64_t speed = 19200;
  int32_t timeout_ms = 1000;
  int32_t stop_tenths = 20;
  bool handshake = false;
  bool text_mode = false;
  int32_t delay_us = 0;
};
// Reads an options string ("b9600T500s1.5th"): digits accumulate with
// saturation, so no string can overflow a setting.
void serial_parse_option_string(const char* text, int32_t length, SerialSettings* s);

int bi_serialdevopen(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_serialdevset(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_serialdevname(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_flushdevice(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_closedevice(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int serial_write_hook(EngineContext* ctx, int32_t fd, const char* bytes, int32_t length, uintptr_t user);
int serial_read_hook(EngineContext* ctx, int32_t fd, char* buffer, int32_t capacity, int32_t* count, uintptr_t user);
int serial_close_hook(EngineContext* ctx, int32_t fd, uintptr_t user);
int serial_control_hook(EngineContext* ctx, int32_t fd, uint32_t request, uint32_t* word, uintptr_t user);
