// Creating and discarding instances, figure-only detection, and the small
// queries and setters of the host's menus. Instances are kept packed at the top of area 1 in creation
// order; the plot store below them always ends where the last slot begins.
#include <cstdint>
#include <cstring>

#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "graphics/plotlist/plot_store.h"
#include "runtime/instances.h"
#include "runtime/layout.h"
#include "runtime/markup/markup_display.h"
#include "runtime/record_list.h"
#include "runtime/records.h"
#include "runtime/runtime_status.h"
#include "runtime/special_vars.h"
#include "runtime/undo_store.h"

namespace {

constexpr int32_t kStateOff = 0, kStateIdle = 2;
// Capability bits read by the kinds 1 to 9 (true when the bit is clear).
constexpr int8_t kCapabilityBit[] = {-1, 5, 5, 5, 1, 5, 5, 0, 4, 3};
constexpr uint32_t kCapNoFigures = 1u << 1;

bool has_tag(RuntimeBlock* b, int32_t id, int32_t tag) {
  int32_t pos = 0;
  return rec_find_tag(b, id, &pos, tag) == 0;
}

// Value `key` of the newest row as UTF-8 text in buffer, when it is text.
bool stored_text(RuntimeBlock* b, int32_t id, int32_t key, char* buffer, int32_t capacity, int32_t* length) {
  int32_t units = 0;
  void* data = nullptr;
  if (!buffer || capacity <= 0) return false;
  if (undo_store_get_value(rt_value_store(b), id, 0, key, &units, &data) != 0 || !data || units < kFlatHeaderWords)
    return false;
  EngineContext* c = rt_engine(b);
  const double* flat = static_cast<const double*>(data);
  if (tn::ld_f64(flat) != double(kKindPayload) || tn::ld_f64(flat + 1) + kFlatHeaderWords != units) return false;
  const int32_t before = c->desc_top;
  if (stk_push_descriptor(c, flat) != 0) return false;
  const bool ok = stk_get_string_buf(c, 0, buffer, capacity, length) == 0;
  while (c->desc_top > before) stk_drop(c);
  return ok;
}

int instance_text(RuntimeBlock* b, int32_t id, int32_t key, int32_t tag, const char** text, int32_t* length,
                  char* buffer, int32_t capacity) {
  if (!inst_find_by_id(b, id)) return kRtNonexistentInstance;
  if (stored_text(b, id, key, buffer, capacity, length)) {
    *text = buffer;
    return 0;
  }
  int32_t start = 0, pos = 0;
  TN_TRY(rec_find_instance(b, id, &start));
  TN_TRY(rec_find_tag(b, id, &pos, tag));
  RecordView r;
  if (!rec_at(b, int64_t(start) + pos, &r) || !rec_text(r, 0, text, length)) return kRtUndefElement;
  return 0;
}

// A markup text in the output the format letter asks for ('n': as it is).
// The converter copies its source first, so the text may lie in buffer.
int converted_text(RuntimeBlock* b, char format, const char** text, int32_t* length, char* buffer,
                   int32_t capacity) {
  if (format == 'n') return 0;
  const MarkupFormatId id = format == 'r' ? kMkRtf : format == 'h' ? kMkHtml : kMkPlainText;
  static const char* const kLineEnds[] = {"\r", "\n", "\r\n"};  // the block's modes 0, 1, 2
  const int32_t mode = b->h.line_end;
  const char* line_end = mode >= 0 && mode <= 2 ? kLineEnds[mode] : kLineEnds[2];
  MarkupConverter* c = markup_converter_run(*text, *length, markup_format(id), 0, 0, line_end);
  if (!c) return kRtExhausted;
  const bool fits = c->status == 0 && c->bytes <= capacity;
  if (fits) {
    std::memcpy(buffer, c->text, size_t(c->bytes));
    *text = buffer;
    *length = c->bytes;
  }
  markup_converter_free(c);
  return fits ? 0 : kRtTooSmallNameBuf;
}

}  // namespace

// The id for a new instance: the next id, or the least one on from it that
// no instance holds, counting past INT32_MAX from 1 (0 is the first
// instance's): never an id twice, never an overflow.
static int32_t take_instance_id(RuntimeBlock* b) {
  int32_t id = b->h.next_instance_id >= 1 ? b->h.next_instance_id : 1;
  while (inst_find_by_id(b, id)) id = id == INT32_MAX ? 1 : id + 1;
  return id;
}

int inst_create(RuntimeBlock* b, int32_t* out_id) {
  PlotStore* store = rt_plot_store(b);
  UndoStore* values = rt_value_store(b);
  if (!out_id) {
    plotstore_free(store, 0);
    undo_store_remove_record(values, 0);
  }
  const int32_t count = b->h.instance_count;
  if (out_id) TN_TRY(plotstore_resize(store, rt_plot_store_doubles(b, int64_t(count) + 1)));
  const int32_t id = out_id ? take_instance_id(b) : 0;
  TN_TRY(undo_store_add_record(values, id));
  for (int32_t key = kKeyLayout; key <= kKeyHelp; ++key) {
    const int status = undo_store_add_field(values, id, key, 0);
    if (status != 0) {
      undo_store_remove_record(values, id);
      return status;
    }
  }
  InstanceRec* rec = inst_at(b, 0);
  if (out_id) {
    *out_id = id;
    b->h.next_instance_id = id == INT32_MAX ? 1 : id + 1;
    ++b->h.instance_count;
    rec = inst_at(b, count);
  }
  inst_write_defaults(b, rec, id, out_id ? 0 : 1);
  return inst_layout_reset(b, id, true);
}

void inst_store_discard(RuntimeBlock* b, int32_t id) {
  undo_store_remove_record(rt_value_store(b), id);
  plotstore_free(rt_plot_store(b), id);
  if (id == 0) return;
  const int32_t count = b->h.instance_count;
  int32_t k = 0;
  while (k < count && inst_at(b, k)->id != id) ++k;
  if (k == count) return;
  // Slots lie top down, so the ones after k sit below it: each moves up one.
  for (int32_t j = k + 1; j < count; ++j) std::memmove(inst_at(b, j - 1), inst_at(b, j), kInstanceBytes);
  b->h.instance_count = count - 1;
  plotstore_resize(rt_plot_store(b), rt_plot_store_doubles(b, b->h.instance_count));
}

bool inst_is_figure_only(RuntimeBlock* b, int32_t id) {
  int32_t start = 0;
  if (!inst_find_by_id(b, id) || rec_find_instance(b, id, &start) != 0) return false;
  RecordView header, next;
  return rec_at(b, start, &header) && rec_at(b, int64_t(start) + header.length, &next) &&
         next.tag == kTagFigureOnly;
}

bool inst_detect_figure_only(RuntimeBlock* b, int32_t id) {
  if (!inst_is_figure_only(b, id)) return false;
  inst_find_by_id(b, id)->figure_only = 1;
  return true;
}

int inst_set_flag(RuntimeBlock* b, int32_t id, uint8_t value) {
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  rec->debug = value;
  return 0;
}

bool inst_get_debug_flag(RuntimeBlock* b, int32_t id) {
  const InstanceRec* rec = inst_find_by_id(b, id);
  return rec && rec->debug;
}

bool inst_changed_flag(RuntimeBlock* b, int32_t id) {
  const InstanceRec* rec = inst_find_by_id(b, id);
  return rec && rec->changed_outside;
}

int inst_set_mode_word(RuntimeBlock* b, int32_t id, int32_t value) {
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  if (rec->section_selector == value) return 0;
  rec->section_selector = value;
  return kRtSectionChanged;
}

bool inst_has_idle_handler(RuntimeBlock* b, int32_t id) { return inst_find_by_id(b, id) && has_tag(b, id, kTagIdle); }

bool inst_idle_running(RuntimeBlock* b, int32_t id) {
  const InstanceRec* rec = inst_find_by_id(b, id);
  return rec && rec->state != kStateOff && has_tag(b, id, kTagIdle);
}

bool inst_has_any_handler(RuntimeBlock* b, int32_t id) {
  const InstanceRec* rec = inst_find_by_id(b, id);
  return rec && !(rec->capabilities & kCapNoFigures) && has_tag(b, id, kTagFigure);
}

InstanceRec* inst_mark_state(RuntimeBlock* b, int32_t id, bool on) {
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return nullptr;
  if (!on) {
    rec->state = kStateOff;
  } else if (rec->state == kStateOff) {
    rec->state = kStateIdle;
    rec->idle_mode = 0;
  }
  return rec;
}

bool inst_capability(RuntimeBlock* b, int32_t id, int32_t kind) {
  const InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec || kind < 1 || kind >= int32_t(sizeof kCapabilityBit)) return false;
  return !((rec->capabilities >> kCapabilityBit[kind]) & 1);
}

bool rt_can_undo(RuntimeBlock* b, int32_t id) { return undo_store_can_undo(rt_value_store(b), id); }
bool rt_can_redo(RuntimeBlock* b, int32_t id) { return undo_store_can_redo(rt_value_store(b), id); }

int inst_get_title(RuntimeBlock* b, int32_t id, const char** text, int32_t* length, char* buffer, int32_t capacity) {
  return instance_text(b, id, kKeyTitle, kTagTitle, text, length, buffer, capacity);
}
int inst_get_version(RuntimeBlock* b, int32_t id, char format, const char** text, int32_t* length, char* buffer,
                     int32_t capacity) {
  TN_TRY(instance_text(b, id, kKeyVersion, kTagVersion, text, length, buffer, capacity));
  return converted_text(b, format, text, length, buffer, capacity);
}
int inst_get_help(RuntimeBlock* b, int32_t id, char format, const char** text, int32_t* length, char* buffer,
                  int32_t capacity) {
  TN_TRY(instance_text(b, id, kKeyHelp, kTagHelp, text, length, buffer, capacity));
  return converted_text(b, format, text, length, buffer, capacity);
}

int inst_about_text(RuntimeBlock* b, int32_t id, char* buffer, int32_t capacity, int32_t* length) {
  if (!inst_find_by_id(b, id)) return kRtNonexistentInstance;
  constexpr char kPlain = 't';
  // Each part is made in the free end of the buffer, then moved behind the
  // parts before it.
  int32_t used = 0;
  for (int part = 0; part < 3; ++part) {
    const int32_t gap = used > 0 ? 1 : 0;
    char* room = buffer + used + gap;
    const int32_t free_room = capacity - used - gap;
    if (free_room <= 0) return kRtTooSmallNameBuf;
    const char* text = nullptr;
    int32_t n = 0;
    const int status = part == 0 ? inst_get_title(b, id, &text, &n, room, free_room)
                       : part == 1 ? inst_get_version(b, id, kPlain, &text, &n, room, free_room)
                                   : inst_get_help(b, id, kPlain, &text, &n, room, free_room);
    if (status == kRtTooSmallNameBuf) return status;
    if (status != 0 || !text) continue;  // the instance gives none
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == ' ')) --n;
    if (n == 0) continue;
    if (n > free_room) return kRtTooSmallNameBuf;
    std::memmove(room, text, size_t(n));  // a record's text lies in the list, not yet here
    if (gap) buffer[used] = '\n';
    used += gap + n;
  }
  *length = used;
  return 0;
}
