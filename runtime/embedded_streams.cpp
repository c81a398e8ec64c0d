// Embedded-data streams: `efopen` and the "+write", "+read", "+fclose" and
// "+iocontrol" hooks of its rows. A slot names its record by instance id and
// offset in that instance's run; every hook finds the record again and reads
// it through the bounded record reader, so a grown block, a deleted
// neighbour or a damaged record can never make it read outside the data.
#include "runtime/embedded_streams.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/streams.h"
#include "engine/core/strings.h"
#include "engine/core/value_stack.h"
#include "engine/lib/builtin_tables.h"
#include "engine/lib/gray_base64.h"
#include "runtime/char_args.h"
#include "runtime/instances.h"
#include "runtime/record_list.h"
#include "runtime/records.h"
#include "runtime/runtime_block.h"

namespace {

constexpr int kTooManyOpenFiles = 304;
constexpr uint32_t kPositionMask = (1u << 27) - 1;
static_assert(kPositionMask == kEmbeddedMaxBytes, "a text seek reaches exactly as far as the data can");
constexpr uint32_t kOpenBit = 1u << 27;
constexpr uint32_t kBase64Bit = 1u << 28;
constexpr uint32_t kEndBit = 1u << 29;
constexpr int kTakenShift = 30;
constexpr int32_t kSeekStep = 16;  // base64 seeks read in steps of this many bytes
constexpr int32_t kBase64Group = 3;

// The request codes past those the engine names.
enum : uint32_t { kIoReqLast = kIoReqTell };

CallContext* call_of(uintptr_t data) { return reinterpret_cast<CallContext*>(data); }

EmbeddedSlot g_slots[kEmbeddedSlots];

const void* owner_of(RuntimeBlock* b) { return rt_handle(b); }

bool in_block(RuntimeBlock* b, int32_t fd) {
  const int32_t base = b->h.stream_base;
  return base > 0 && fd >= base && fd < base + kEmbeddedDescriptors;
}

// The slot of fd when it is one of this block's descriptors and the slot
// is this block's; null otherwise.
EmbeddedSlot* slot_of(RuntimeBlock* b, int32_t fd) {
  if (!in_block(b, fd)) return nullptr;
  const int32_t k = fd - b->h.stream_base;
  return k < kEmbeddedSlots && g_slots[k].owner == owner_of(b) ? &g_slots[k] : nullptr;
}

bool is_open(const EmbeddedSlot& s) { return s.owner && (s.state & kOpenBit) != 0; }
uint32_t position_of(const EmbeddedSlot& s) { return s.state & kPositionMask; }
uint32_t taken_of(const EmbeddedSlot& s) { return s.state >> kTakenShift; }

void set_state(EmbeddedSlot* s, uint32_t position, uint32_t taken, bool end) {
  s->state = (s->state & (kOpenBit | kBase64Bit)) | (position & kPositionMask) | (end ? kEndBit : 0u) |
             (taken << kTakenShift);
}

// A tag-42 record: its name and data, read through the bounded reader.
struct Embedded {
  const char* name;
  int32_t name_length;
  const uint8_t* data;
  int32_t length;
};

bool read_record(RuntimeBlock* b, int32_t id, int32_t record, Embedded* out) {
  int32_t start = 0;
  if (rec_find_instance(b, id, &start) != 0) return false;
  RecordView r;
  if (!rec_at(b, int64_t(start) + record, &r) || r.tag != kTagEmbedded) return false;
  if (!rec_text(r, 0, &out->name, &out->name_length)) return false;
  const char* data = nullptr;
  if (!rec_text(r, int32_t(rec_text_words(out->name_length)), &data, &out->length)) return false;
  out->data = reinterpret_cast<const uint8_t*>(data);
  return out->length >= 0 && uint32_t(out->length) <= kEmbeddedMaxBytes;
}

// The data of an open slot, or false (its instance or record is gone).
bool data_of(RuntimeBlock* b, const EmbeddedSlot& s, Embedded* out) {
  return read_record(b, s.instance_id, s.record, out);
}

// One base64 group from pos: its bytes (0 to 3) and the position after it.
int decode_group(const Embedded& e, uint32_t pos, uint8_t bytes[3], uint32_t* next) {
  int64_t at = pos;
  int produced = 0;
  if (at < e.length) base64_decode_block(e.data, e.length, &at, bytes, &produced);
  *next = uint32_t(at < e.length ? at : e.length);
  return produced;
}

// Base64: up to capacity decoded bytes into buffer (null: only counted); the
// slot's state advances. Answers the bytes delivered. A short group, once
// delivered whole, ends the data whatever the record holds after it.
int32_t read_base64(EmbeddedSlot* s, const Embedded& e, uint8_t* buffer, int32_t capacity) {
  int32_t n = 0;
  uint32_t pos = position_of(*s), taken = taken_of(*s);
  bool end = (s->state & kEndBit) != 0;
  while (n < capacity && !end) {
    uint8_t group[kBase64Group];
    uint32_t next = pos;
    const int produced = decode_group(e, pos, group, &next);
    if (produced <= int(taken)) {
      // Nothing left in this group: a short group was the last.
      if (produced < kBase64Group || next == pos) {
        end = true;
        break;
      }
      pos = next;
      taken = 0;
      continue;
    }
    while (n < capacity && int(taken) < produced) {
      if (buffer) buffer[n] = group[taken];
      ++n;
      ++taken;
    }
    if (int(taken) == produced) {
      if (produced < kBase64Group) end = true;
      pos = next;
      taken = 0;
      if (end) break;
    }
  }
  set_state(s, pos, taken, end);
  return n;
}

// Text: CR becomes LF and an LF right after a CR is skipped.
int32_t read_text(EmbeddedSlot* s, const Embedded& e, char* buffer, int32_t capacity) {
  uint32_t pos = position_of(*s);
  int32_t n = 0;
  while (n < capacity && pos < uint32_t(e.length)) {
    const uint8_t c = e.data[pos];
    if (c == '\n' && pos > 0 && e.data[pos - 1] == '\r') {
      ++pos;
      continue;
    }
    buffer[n++] = c == '\r' ? '\n' : char(c);
    ++pos;
  }
  set_state(s, pos, 0, false);
  return n;
}

// Bytes delivered so far in base64: decoded again from the start.
uint32_t base64_tell(const EmbeddedSlot& s, const Embedded& e) {
  EmbeddedSlot probe = s;
  set_state(&probe, 0, 0, false);
  uint32_t delivered = 0;
  const uint32_t target = position_of(s);
  for (uint32_t pos = 0; pos < target;) {
    uint8_t group[kBase64Group];
    uint32_t next = pos;
    const int produced = decode_group(e, pos, group, &next);
    if (next <= pos) break;
    delivered += uint32_t(produced);
    pos = next;
  }
  return delivered + taken_of(s);
}

// Skips n decoded bytes (n > 0) by reading them in steps.
void base64_skip(EmbeddedSlot* s, const Embedded& e, int64_t n) {
  while (n > 0) {
    const int32_t step = int32_t(std::min<int64_t>(n, kSeekStep));
    const int32_t got = read_base64(s, e, nullptr, step);
    if (got < step) return;
    n -= got;
  }
}

// A text seek goes where it is sent, past the end too (the stream is then at
// its end until a seek brings it back), stopping only at 0. A position the
// slot's field cannot hold fails the seek and keeps the old one.
int control_text(EmbeddedSlot* s, const Embedded& e, uint32_t request, uint32_t* word) {
  const int64_t pos = position_of(*s), end = e.length;
  const int64_t value = int32_t(*word);  // seeks read the word as signed
  int64_t to = pos;
  switch (request) {
    case kIoReqEof: *word = pos >= end ? 1 : 0; return kOk;
    case kIoReqSeekSet: to = value; break;
    case kIoReqSeekCur: to = pos + value; break;
    case kIoReqSeekEnd: to = end + value; break;
    case kIoReqTell: *word = uint32_t(pos); return kOk;
    default: return kOk;
  }
  to = std::max<int64_t>(to, 0);
  if (to > int64_t(kPositionMask)) return kReadWriteError;
  set_state(s, uint32_t(to), 0, false);
  return kOk;
}

int control_base64(EmbeddedSlot* s, const Embedded& e, uint32_t request, uint32_t* word) {
  const int64_t value = int32_t(*word);
  switch (request) {
    case kIoReqEof: {
      EmbeddedSlot probe = *s;
      *word = read_base64(&probe, e, nullptr, 1) == 0 ? 1 : 0;
      return kOk;
    }
    case kIoReqSeekSet:
      set_state(s, 0, 0, false);
      base64_skip(s, e, value);
      return kOk;
    case kIoReqSeekCur:
      base64_skip(s, e, value);  // a non-positive value does nothing
      return kOk;
    case kIoReqSeekEnd: {
      set_state(s, 0, 0, false);
      EmbeddedSlot probe = *s;
      int64_t length = 0;
      while (const int32_t got = read_base64(&probe, e, nullptr, kSeekStep)) length += got;
      base64_skip(s, e, length + value);
      return kOk;
    }
    case kIoReqTell: *word = base64_tell(*s, e); return kOk;
    case kIoReqFlush: return kOk;
    default: return kIllegalError;
  }
}


// The first tag-42 record of the instance with this name: its offset in the run.
int find_record(RuntimeBlock* b, int32_t id, const std::string& name, int32_t* record) {
  for (int32_t pos = 0;;) {
    if (rec_find_tag(b, id, &pos, kTagEmbedded) != 0) return kFileNotFound;
    Embedded e;
    if (read_record(b, id, pos, &e) && size_t(e.name_length) == name.size() &&
        std::memcmp(e.name, name.data(), name.size()) == 0) {
      *record = pos;
      return kOk;
    }
  }
}

}  // namespace

int bi_efopen(EngineContext* ctx, int nargin, int, uintptr_t data) {
  CallContext* cc = call_of(data);
  if (!cc) return kBadContext;
  RuntimeBlock* b = cc->block;
  if (b->h.stream_base <= 0) {
    const int32_t base = fd_alloc(ctx, kEmbeddedDescriptors);
    if (base <= 0) return kTooManyOpenFiles;
    b->h.stream_base = base;
  }
  bool base64 = false;
  if (nargin == 2) {
    std::string mode;
    TN_TRY(char_arg_utf8(ctx, 0, &mode));
    if (mode == "base64") base64 = true;
    else if (mode != "text") return kUnknownOption;
  }
  std::string name;
  TN_TRY(char_arg_utf8(ctx, nargin - 1, &name));
  if (!inst_find_by_id(b, cc->instance_id)) return kBadContext;
  int32_t record = 0;
  TN_TRY(find_record(b, cc->instance_id, name, &record));
  int32_t k = 0;
  while (k < kEmbeddedSlots && is_open(g_slots[k])) ++k;
  if (k == kEmbeddedSlots) return kTooManyOpenFiles;
  TN_TRY(stk_push_real(ctx, double(b->h.stream_base + k)));
  g_slots[k] = EmbeddedSlot{owner_of(b), cc->instance_id, record, kOpenBit | (base64 ? kBase64Bit : 0u)};
  io_note_open(b->h.stream_base + k);
  return stk_remove(ctx, 1, nargin);
}

int rt_embedded_write(EngineContext*, int32_t fd, const char*, int32_t, uintptr_t data) {
  CallContext* cc = call_of(data);
  return cc && in_block(cc->block, fd) ? kReadWriteError : kNotMyDescriptor;
}

// The open stream fd of the calling block and its record's data: 0, or
// kNotMyDescriptor when fd is no open stream of it, kReadWriteError when its
// record no longer stands.
static int open_stream(uintptr_t data, int32_t fd, EmbeddedSlot** slot, Embedded* e) {
  CallContext* cc = call_of(data);
  if (!cc) return kNotMyDescriptor;
  *slot = slot_of(cc->block, fd);
  if (!*slot || !is_open(**slot)) return kNotMyDescriptor;
  return data_of(cc->block, **slot, e) ? kOk : kReadWriteError;
}

int rt_embedded_read(EngineContext*, int32_t fd, char* buffer, int32_t capacity, int32_t* count, uintptr_t data) {
  *count = 0;
  EmbeddedSlot* s = nullptr;
  Embedded e;
  TN_TRY(open_stream(data, fd, &s, &e));
  if (capacity < 1) return kEndOfFile;  // a read that delivers nothing
  const int32_t n = (s->state & kBase64Bit) ? read_base64(s, e, reinterpret_cast<uint8_t*>(buffer), capacity)
                                            : read_text(s, e, buffer, capacity);
  if (n == 0) return kEndOfFile;
  *count = n;
  return kOk;
}

int rt_embedded_close(EngineContext*, int32_t fd, uintptr_t data) {
  CallContext* cc = call_of(data);
  if (!cc) return kNotMyDescriptor;
  if (fd == kCloseAllFd) {
    // Every slot of the block; the hooks of other stream classes close
    // theirs as well.
    const void* owner = owner_of(cc->block);
    for (EmbeddedSlot& s : g_slots)
      if (s.owner == owner) s = EmbeddedSlot{};
    return kNotMyDescriptor;
  }
  EmbeddedSlot* s = slot_of(cc->block, fd);
  if (!s || !is_open(*s)) return kNotMyDescriptor;
  *s = EmbeddedSlot{};
  return kOk;
}

int rt_embedded_control(EngineContext*, int32_t fd, uint32_t request, uint32_t* word, uintptr_t data) {
  EmbeddedSlot* s = nullptr;
  Embedded e;
  TN_TRY(open_stream(data, fd, &s, &e));
  if (s->state & kBase64Bit) return control_base64(s, e, request, word);
  return request > kIoReqLast ? kOk : control_text(s, e, request, word);
}

void rt_embedded_close_instance(RuntimeBlock* b, int32_t id) {
  const void* owner = owner_of(b);
  for (EmbeddedSlot& s : g_slots)
    if (s.owner == owner && s.instance_id == id) s = EmbeddedSlot{};
}

void rt_embedded_reset(RuntimeBlock* b) {
  const void* owner = owner_of(b);
  for (EmbeddedSlot& s : g_slots)
    if (s.owner == owner) s = EmbeddedSlot{};
  b->h.stream_base = 0;
}

const EmbeddedSlot* rt_embedded_slot(RuntimeBlock* b, int32_t fd) { return slot_of(b, fd); }

int rt_embedded_bind() {
  static const BuiltinBinding bindings[] = {
      {"!Tarnivel", "efopen", bi_efopen, 0},
      {"!Tarnivel", kHookWrite, builtin_fn_from(static_cast<StreamWriteHook>(rt_embedded_write)), 0},
      {"!Tarnivel", kHookRead, builtin_fn_from(static_cast<StreamReadHook>(rt_embedded_read)), 0},
      {"!Tarnivel", kHookClose, builtin_fn_from(static_cast<StreamCloseHook>(rt_embedded_close)), 0},
      {"!Tarnivel", kHookControl, builtin_fn_from(static_cast<StreamControlHook>(rt_embedded_control)), 0},
  };
  return builtin_table_bind(g_builtin_table_engine, bindings, int(sizeof bindings / sizeof bindings[0]));
}
