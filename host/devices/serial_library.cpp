// The "@serial" built-ins and stream hooks over the device layer. A port is
// named by its listed device path, or for programs written against port
// numbers by "COMn" / "COMn:" for the n-th listed port. The engine's abort
// poll is the device's abort test only while one blocking operation runs.
#include "host/devices/serial_library.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/checked.h"
#include "engine/core/containers.h"
#include "engine/core/errors.h"
#include "engine/core/frames.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/streams.h"
#include "engine/core/value_stack.h"
#include "host/devices/serial_device.h"

namespace {

constexpr int32_t kNoBase = -1;
constexpr int kTooManyOpenFiles = 304;
constexpr int kTimeoutStatus = 306;
constexpr int32_t kMaxNameChars = 255;
constexpr double kMaxDelaySeconds = 1;
constexpr double kUsPerSecond = 1e6;
constexpr double kMsPerSecond = 1e3;
constexpr int64_t kSaturation = INT32_MAX;
constexpr char kComPrefix[] = "COM";

struct PortSlot {
  SerialDevice dev;
  uint8_t text_mode = 0;
  uint8_t cr_pending = 0;
  uint8_t in_use = 0;
};

PortSlot g_ports[kSerialSlots];
int32_t g_base = kNoBase;

PortSlot* port_of(int32_t fd) {
  if (g_base == kNoBase || fd < g_base || fd >= g_base + kSerialSlots) return nullptr;
  PortSlot* p = &g_ports[fd - g_base];
  return p->in_use ? p : nullptr;
}

void close_port(PortSlot* p) {
  serial_close(&p->dev);
  *p = PortSlot{};
}

bool engine_abort_test(void* context) { return poll_abort(static_cast<EngineContext*>(context)) != 0; }

// The abort poll stands as the device's abort test for one operation.
struct AbortScope {
  SerialDevice* dev;
  AbortScope(SerialDevice* d, EngineContext* ctx) : dev(d) { serial_set_abort_callback(dev, engine_abort_test, ctx); }
  ~AbortScope() { serial_set_abort_callback(dev, nullptr, nullptr); }
  AbortScope(const AbortScope&) = delete;
  AbortScope& operator=(const AbortScope&) = delete;
};

// Device codes raised by serialdevopen.
struct OpenError {
  const char* id;
  const char* message;
};
constexpr OpenError kOpenErrors[] = {
    {nullptr, nullptr},
    {"serial:device", "Cannot open serial port"},
    {"serial:device", "Nonexistent serial port path"},
    {"serial:device", "Serial port access error"},
    {"serial:device", "Serial port path is a directory"},
    {"serial:write", "Cannot write to serial port"},
    {"serial:timeout", "Serial port timeout"},
    {nullptr, nullptr},  // aborted: the engine's own status
    {"serial:devname", "Bad serial port name"},
    {"serial:bps", "Unsupported serial port speed"},
};

int raise_open_error(EngineContext* ctx, int code) {
  if (code == kSerialAborted) return kAborted;
  if (code < 1 || code > kSerialBadSpeed) return kReadWriteError;
  return err_raise_id(ctx, kOpenErrors[code].id, -1, kOpenErrors[code].message, -1);
}

int64_t saturating_digits(const char* text, int32_t length, int32_t* at) {
  int64_t v = 0;
  while (*at < length && text[*at] >= '0' && text[*at] <= '9') {
    v = std::min<int64_t>(v * 10 + (text[*at] - '0'), kSaturation);
    ++*at;
  }
  return v;
}

// A number of an options structure as an integer: truncated, NaN as 0, and
// kept inside the 32-bit range.
int32_t clamp_to_i32(double v) {
  if (!(v == v)) return 0;
  return int32_t(std::clamp(std::trunc(v), double(INT32_MIN), double(INT32_MAX)));
}

int settings_from_struct(EngineContext* ctx, int depth, SerialSettings* s) {
  double bps = 0, delay = 0, stop = 0, timeout = 0;
  uint8_t handshake = 0, text = 0;
  TN_TRY(opt_get_number(ctx, depth, "BPS", kSerialOptions, 0, &bps));
  TN_TRY(opt_get_number(ctx, depth, "Delay", kSerialOptions, 0, &delay));
  TN_TRY(opt_get_bool(ctx, depth, "Handshake", kSerialOptions, 0, &handshake));
  TN_TRY(opt_get_number(ctx, depth, "StopBits", kSerialOptions, 0, &stop));
  TN_TRY(opt_get_bool(ctx, depth, "TextMode", kSerialOptions, 0, &text));
  TN_TRY(opt_get_number(ctx, depth, "Timeout", kSerialOptions, 0, &timeout));
  s->speed = clamp_to_i32(bps);
  s->timeout_ms = clamp_to_i32(timeout * kMsPerSecond);
  s->stop_tenths = clamp_to_i32(stop * 10);
  s->handshake = handshake != 0;
  s->text_mode = text != 0;
  s->delay_us = clamp_to_i32(std::min(delay, kMaxDelaySeconds) * kUsPerSecond);
  return kOk;
}

// The port index of a name: its place in the list, or for "COMn" and
// "COMn:" the n-th listed port; -1 when neither names a port.
int32_t port_index(const std::string& name, std::string* path) {
  const std::vector<std::string> ports = serial_port_list();
  for (size_t i = 0; i < ports.size(); ++i) {
    if (ports[i] == name) {
      *path = ports[i];
      return int32_t(i);
    }
  }
  const size_t prefix = std::strlen(kComPrefix);
  if (name.compare(0, prefix, kComPrefix) != 0) return -1;
  std::string digits = name.substr(prefix);
  if (!digits.empty() && digits.back() == ':') digits.pop_back();
  if (digits.empty() || digits.size() > 3 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return -1;
  const long n = std::strtol(digits.c_str(), nullptr, 10);
  if (n < 1 || size_t(n) > ports.size()) return -1;
  *path = ports[size_t(n - 1)];
  return int32_t(n - 1);
}

// Text mode on reading: CR becomes LF, an LF right after a CR (also one
// delivered by an earlier read) is dropped.
int32_t convert_text(PortSlot* p, char* bytes, int32_t n) {
  int32_t kept = 0;
  for (int32_t i = 0; i < n; ++i) {
    const char ch = bytes[i];
    if (ch == '\n' && p->cr_pending) {
      p->cr_pending = 0;
      continue;
    }
    p->cr_pending = ch == '\r';
    bytes[kept++] = ch == '\r' ? '\n' : ch;
  }
  return kept;
}

int pop_fd(EngineContext* ctx, int32_t* fd) {
  double v = 0;
  const int st = stk_get_real_scalar(ctx, 0, &v);
  if (st != kOk) return st == kWrongType ? kWrongArgType : st;
  *fd = tn::dtoi32(v);
  return kOk;
}

// Pushes the name at index (from 0) as a char row, "" past the end.
int push_port_name(EngineContext* ctx, int32_t index) {
  std::string name;
  if (!serial_port_name(index, &name)) name.clear();
  return stk_push_cstr(ctx, int32_t(name.size()), name.c_str());
}

}  // namespace

const OptionDesc kSerialOptions[] = {
    opt_row("BPS", kOptReal, 19200), opt_row("Delay", kOptReal, 0),    opt_row("Handshake", kOptLogical, 0),
    opt_row("StopBits", kOptReal, 2), opt_row("TextMode", kOptLogical, 0), opt_row("Timeout", kOptReal, 1),
    opt_end_row(),
};

void serialio_close_all() {
  for (PortSlot& p : g_ports)
    if (p.in_use) close_port(&p);
}

void serialio_table_init() {
  serialio_close_all();
  g_base = kNoBase;
}

void serial_parse_option_string(const char* text, int32_t length, SerialSettings* s) {
  for (int32_t at = 0; at < length;) {
    const char ch = text[at++];
    switch (ch) {
      case 'b': s->speed = saturating_digits(text, length, &at); break;
      case 'T': s->timeout_ms = int32_t(saturating_digits(text, length, &at)); break;
      case 'h': s->handshake = true; break;
      case 't': s->text_mode = true; break;
      case 's':
        if (length - at >= 3 && std::memcmp(text + at, "1.5", 3) == 0) {
          s->stop_tenths = kStopBitsOneAndHalf;
          at += 3;
        } else if (at < length && text[at] == '1') {
          s->stop_tenths = kStopBitsOne;
          ++at;
        } else if (at < length && text[at] == '2') {
          s->stop_tenths = kStopBitsTwo;
          ++at;
        }
        break;
      default: break;
    }
  }
}

int bi_serialdevopen(EngineContext* ctx, int nargin, int, uintptr_t) {
  if (nargin < 1) return kTooFewInputs;
  if (nargin > 2) return kTooManyInputs;
  if (g_base == kNoBase) {
    const int32_t base = fd_alloc(ctx, kSerialDescriptorBlock);
    if (base < 0) return kTooManyOpenFiles;
    g_base = base;
  }
  char name[kMaxNameChars + 1];
  int32_t name_length = 0;
  if (!stk_is_char(ctx, nargin - 1)) return kWrongArgType;
  if (stk_get_string_buf(ctx, nargin - 1, name, int32_t(sizeof name), &name_length) != kOk)
    return raise_open_error(ctx, kSerialBadPort);
  SerialSettings s;
  if (nargin == 2) {
    if (stk_is_char(ctx, 0)) {
      char options[kMaxNameChars + 1];
      int32_t length = 0;
      TN_TRY(stk_get_string_buf(ctx, 0, options, int32_t(sizeof options), &length));
      serial_parse_option_string(options, length, &s);
    } else {
      TN_TRY(settings_from_struct(ctx, 0, &s));
    }
  }
  int slot = 0;
  while (slot < kSerialSlots && g_ports[slot].in_use) ++slot;
  if (slot == kSerialSlots) return kTooManyOpenFiles;
  std::string path;
  const int32_t index = port_index(std::string(name, size_t(name_length)), &path);
  // The inputs stay until the port is open, so a failure leaves them as
  // they were; the descriptor then takes their room.
  SerialDevice dev;
  const int code = serial_open(path, index, s.speed, s.stop_tenths, s.handshake, s.handshake, s.timeout_ms,
                               s.delay_us, &dev);
  if (code != kSerialOk) return raise_open_error(ctx, code);
  for (int i = 0; i < nargin; ++i) stk_drop(ctx);
  PortSlot& p = g_ports[slot];
  p.dev = dev;
  p.text_mode = s.text_mode ? 1 : 0;
  p.cr_pending = 0;
  p.in_use = 1;
  io_note_open(g_base + slot);
  return stk_push_real(ctx, double(g_base + slot));
}

int bi_serialdevset(EngineContext* ctx, int nargin, int, uintptr_t) {
  return opt_make_struct(ctx, nargin, kSerialOptions);
}

// With an index (from 1) the name of that port or ""; serialdevname without
// one, the list of every name.
int bi_serialdevname(EngineContext* ctx, int nargin, int, uintptr_t) {
  if (nargin > 1) return kTooManyInputs;
  if (nargin == 1) {
    double v = 0;
    const int st = stk_get_real_scalar(ctx, 0, &v);
    if (st != kOk) return st == kWrongType ? kWrongArgType : st;
    TN_TRY(push_port_name(ctx, v >= 1 && v <= double(INT32_MAX) ? int32_t(v) - 1 : -1));
    return stk_remove(ctx, 1, 1);
  }
  const std::vector<std::string> ports = serial_port_list();
  const int32_t desc0 = ctx->desc_top, data0 = ctx->data_top;
  for (const std::string& name : ports) {
    const int st = stk_push_cstr(ctx, int32_t(name.size()), name.c_str());
    if (st != kOk) {
      ctx->desc_top = desc0;
      ctx->data_top = data0;
      return st;
    }
  }
  const int st = stk_make_container(ctx, int(ports.size()), 0, nullptr, 0);
  if (st != kOk) {
    ctx->desc_top = desc0;
    ctx->data_top = data0;
  }
  return st;
}

// flushdevice and closedevice give nothing: a statement call leaves the
// no-value item in place of the fd, which always has room, since the fd's
// own item was just dropped.
int bi_flushdevice(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  if (nargin != 1) return nargin < 1 ? kTooFewInputs : kTooManyInputs;
  int32_t fd = 0;
  TN_TRY(pop_fd(ctx, &fd));
  PortSlot* p = port_of(fd);
  if (!p) return kNotMyDescriptor;
  stk_drop(ctx);
  {
    AbortScope scope(&p->dev, ctx);
    serial_flush_input(&p->dev);
  }
  return nargout < 0 ? stk_push_no_value(ctx) : int(kOk);
}

int bi_closedevice(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  if (nargin != 1) return nargin < 1 ? kTooFewInputs : kTooManyInputs;
  int32_t fd = 0;
  TN_TRY(pop_fd(ctx, &fd));
  TN_TRY(serial_close_hook(ctx, fd, 0));
  stk_drop(ctx);
  return nargout < 0 ? stk_push_no_value(ctx) : int(kOk);
}

int serial_write_hook(EngineContext* ctx, int32_t fd, const char* bytes, int32_t length, uintptr_t) {
  PortSlot* p = port_of(fd);
  if (!p) return kNotMyDescriptor;
  if (length <= 0) return kOk;
  AbortScope scope(&p->dev, ctx);
  return serial_write(&p->dev, bytes, length) == kSerialOk ? kOk : kReadWriteError;
}

// Reads until the capacity is reached. Bytes that arrived before a time-out
// or a break are delivered with status 0 (a short read); the time-out or the
// break is reported only by a read that brought nothing, and a break that
// came after some bytes is kept for the next read.
int serial_read_hook(EngineContext* ctx, int32_t fd, char* buffer, int32_t capacity, int32_t* count, uintptr_t) {
  PortSlot* p = port_of(fd);
  if (!p) return kNotMyDescriptor;
  *count = 0;
  AbortScope scope(&p->dev, ctx);
  while (*count < capacity) {
    int32_t got = 0;
    const int code = serial_read(&p->dev, buffer + *count, capacity - *count, &got);
    const int32_t kept = p->text_mode ? convert_text(p, buffer + *count, got) : got;
    *count += kept;
    if (code == kSerialOk) continue;
    if ((code == kSerialTimeout || code == kSerialAborted) && *count > 0) {
      if (code == kSerialAborted) p->dev.reserved[kSerialAbortPendingWord] = 1;
      return kOk;
    }
    return code == kSerialTimeout ? kTimeoutStatus : code == kSerialAborted ? kAborted : kReadWriteError;
  }
  return kOk;
}

int serial_close_hook(EngineContext*, int32_t fd, uintptr_t) {
  if (fd == kCloseAllFd) {
    serialio_close_all();
    return kNotMyDescriptor;  // the other libraries close theirs too
  }
  PortSlot* p = port_of(fd);
  if (!p) return kNotMyDescriptor;
  close_port(p);
  return kOk;
}

int serial_control_hook(EngineContext* ctx, int32_t fd, uint32_t request, uint32_t* word, uintptr_t) {
  PortSlot* p = port_of(fd);
  if (!p) return kNotMyDescriptor;
  switch (request) {
    case kIoReqEof: *word = 0; return kOk;  // a port never ends
    case kIoReqSeekSet:
    case kIoReqSeekCur:
    case kIoReqSeekEnd: return kReadWriteError;
    case kIoReqTell: *word = 0; return kReadWriteError;
    case kIoReqFlush: {
      AbortScope scope(&p->dev, ctx);
      serial_flush_input(&p->dev);
      return kOk;
    }
    default: return kIllegalError;
  }
}
