// The file library of ZVR programs: "fopen" hands out descriptors of real
// files, and its "+write", "+read", "+fclose" and "+iocontrol" hooks carry
// the stream layer's operations on them; "launchurl" hands a text to the
// desktop's opener. 32 slots; a descriptor is base + slot, the base taken
// from the engine's counter at the first "fopen".
#pragma once

#include <cstdint>

#include "engine/core/context.h"

constexpr int kFileSlots = 32;
constexpr int32_t kFileDescriptorBlock = 1024;

// Start-up, before any application code runs: every file slot and port slot
// free, and the descriptor blocks not yet reserved.
void fileio_table_init();
// Quit: closes every open file and every open serial port.
void fileio_close_all();

// The system read behind every file read, one call as read(2) makes it:
// the bytes read, 0 at the end of the file, -1 on an error. Tests put in one
// that counts the calls or reads less than asked; null puts the system's back.
using FilePlatformRead = int64_t (*)(int fd, char* buffer, int64_t length);
void fileio_set_platform_read(FilePlatformRead fn);

int bi_fopen(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int file_write_hook(EngineContext* ctx, int32_t fd, const char* bytes, int32_t length, uintptr_t user);
int file_read_hook(EngineContext* ctx, int32_t fd, char* buffer, int32_t capacity, int32_t* count, uintptr_t user);
int file_close_hook(EngineContext* ctx, int32_t fd, uintptr_t user);
int file_control_hook(EngineContext* ctx, int32_t fd, uint32_t request, uint32_t* word, uintptr_t user);

// The opener behind "launchurl": it receives the text (UTF-8) as one
// argument, never through a shell, and answers whether it started. The
// default starts `xdg-open` detached; null puts the default back.
using UrlLauncher = bool (*)(void* context, const char* text);
void launchurl_set_launcher(UrlLauncher fn, void* context);
bool launchurl_xdg_open(void* context, const char* text);

int bi_launchurl(EngineContext* ctx, int nargin, int nargout, uintptr_t data);

// Binds the file library, "launchurl" and the serial library into their rows
// of the host's table (sections "@ZVR", "@lnchurl", "@serial"). kOk or the
// binding's status.
int host_devices_bind(BuiltinEntry* host_table);
