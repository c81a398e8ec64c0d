// The saved-image loader: the header, the fit test that grows the block, the
// engine's sections (replayed from a record when the engine asks for a larger
// area 0 after it has consumed some of them, since the host's stream cannot
// rewind), then the block's own sections, each checked before use. Any
// failure after the header puts the block back into its initial state.
#include "runtime/embedded_streams.h"
#include "runtime/image_loader.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>

#include "engine/core/checked.h"
#include "engine/core/fntable.h"
#include "engine/core/heap.h"
#include "engine/core/image_words.h"
#include "engine/core/snapshot.h"
#include "engine/core/status.h"
#include "graphics/plotlist/plot_store.h"
#include "runtime/image_check.h"
#include "runtime/instances.h"
#include "runtime/name_table.h"
#include "runtime/record_list.h"
#include "runtime/records.h"
#include "runtime/runtime_status.h"
#include "runtime/special_vars.h"
#include "runtime/undo_store.h"

namespace {

constexpr int kBadImage = kInitError;       // 600
constexpr int kHeaderUnread = kEndOfFile;   // 305
// Growth loops end after this many successful growths whatever happens.
constexpr int kMaxGrowths = 48;
constexpr int kEngineSections = 7;  // header and six sections
constexpr int32_t kStateIdle = 2;

// Tool modes an image may hold: manipulate to select, and the zoom and drag
// variants (6 to 12) a tool mode stands for.
constexpr int64_t kFirstToolMode = 1, kLastToolMode = 12;

struct Header {
  int64_t main_bytes, instances, record_words, name_bytes, head_bytes, units;
};

Header parse(const uint8_t* h) {
  return Header{tn::get_le32(h + kImgMainBytes),  tn::get_le32(h + kImgInstanceCount),
                tn::get_le32(h + kImgRecordWords), tn::get_le32(h + kImgNameBytes),
                tn::get_le32(h + kImgValueHeadBytes), tn::get_le32(h + kImgValueUnits)};
}

// The code that asks for growth, 0 when everything fits (64-bit arithmetic:
// the counts are hostile).
int fit_code(RuntimeBlock* b, const Header& h) {
  if (h.main_bytes + (h.instances + 1) * int64_t(kInstanceBytes) > b->h.area_size[kAreaMain]) return kRtPlotOverflow;
  if (h.record_words * 4 > b->h.area_size[kAreaRecords]) return kRtNotEnoughMemForTNFile;
  if (h.name_bytes > b->h.area_size[kAreaNames]) return kRtTooSmallNameBuf;
  if (h.head_bytes / kUndoUnitBytes + h.units + 1 > b->h.area_size[kAreaValues] / kUndoUnitBytes)
    return kRtVarTooLargeForUndo;
  return 0;
}

// What the engine's reader delivered in the attempts so far; a new attempt
// is served from it before the host's stream is read again.
struct EngineReplay {
  RtReadFn read;
  void* context;
  uint8_t* bytes = nullptr;
  int64_t used = 0, capacity = 0;
  int64_t sizes[kEngineSections] = {};
  int count = 0;   // requests recorded
  int cursor = 0;  // request of the current attempt
  int64_t offset = 0;

  ~EngineReplay() { std::free(bytes); }

  static int deliver(void* to, uint32_t n, void* arg) {
    auto* r = static_cast<EngineReplay*>(arg);
    if (r->cursor < r->count) {
      if (r->sizes[r->cursor] != n) return 0;
      std::memcpy(to, r->bytes + r->offset, n);
      r->offset += n;
      ++r->cursor;
      return 1;
    }
    if (r->count == kEngineSections) return 0;
    if (!r->read(to, n, r->context)) return 0;
    if (r->used + n > r->capacity) {
      const int64_t want = r->used + n + r->capacity;
      void* grown = std::realloc(r->bytes, size_t(want));
      if (!grown) return 0;
      r->bytes = static_cast<uint8_t*>(grown);
      r->capacity = want;
    }
    if (n > 0) std::memcpy(r->bytes + r->used, to, n);
    r->used += n;
    r->offset = r->used;
    r->sizes[r->count++] = n;
    ++r->cursor;
    return 1;
  }
};

bool engine_asks_growth(int code) {
  return code == kGrowDescriptors || code == kGrowData || code == kGrowHeap || code == kGrowCode;
}

int load_engine(RuntimeBlock** handle, RtReadFn read, void* context) {
  EngineReplay replay;
  replay.read = read;
  replay.context = context;
  for (int growths = 0;; ++growths) {
    replay.cursor = 0;
    replay.offset = 0;
    const int status = engine_load_image(rt_engine(*handle), &EngineReplay::deliver, &replay);
    if (status == kEndOfFile) return kBadImage;  // the engine's header was short
    if (!engine_asks_growth(status)) return status;
    if (growths == kMaxGrowths || !rt_memory_expand(handle, status)) return status;
  }
}

struct SectionRead {
  RtReadFn read;
  void* context;
  static bool deliver(void* to, int64_t n, void* arg) {
    auto* s = static_cast<SectionRead*>(arg);
    return n >= 0 && n <= UINT32_MAX && s->read(to, uint32_t(n), s->context);
  }
};

int load_main_area(RuntimeBlock* b, const Header& h, SectionRead& in) {
  uint8_t* main = rt_area(b, kAreaMain);
  if (!in.deliver(main, h.main_bytes, &in)) return kBadImage;
  PlotStore* store = rt_plot_store(b);
  if (h.main_bytes < int64_t(sizeof(PlotStore)) || store->n < 0 ||
      (int64_t(store->n) + kPlotStoreOverhead) * 8 > h.main_bytes || !plotstore_check(store))
    return kBadImage;
  if (plotstore_resize(store, rt_plot_store_doubles(b, h.instances + 1)) != 0) return kBadImage;
  b->h.instance_count = int32_t(h.instances);
  if (h.instances == 0) return in.deliver(main, 0, &in) ? 0 : kBadImage;
  return in.deliver(inst_at(b, int32_t(h.instances - 1)), h.instances * kInstanceBytes, &in) ? 0 : kBadImage;
}

int load_tables(RuntimeBlock* b, const Header& h, SectionRead& in) {
  b->h.record_words = int32_t(h.record_words);
  if (!in.deliver(rt_record_words(b), h.record_words * 4, &in) || !image_records_valid(b)) return kBadImage;
  if (!image_instances_valid(b)) return kBadImage;
  NameTable* names = rt_name_table(b);
  if (!in.deliver(names, h.name_bytes, &in)) return kBadImage;
  if (h.name_bytes < kNameTableHeadBytes || fixtab_resize(names, b->h.area_size[kAreaNames]) != 0 ||
      !image_names_valid(b, h.name_bytes))
    return kBadImage;
  if (h.head_bytes > INT32_MAX || h.units > INT32_MAX) return kBadImage;
  const UndoSavedSizes sizes{int32_t(h.head_bytes), int32_t(h.units)};
  ++b->h.history_serial;  // a loaded history continues no run of this one
  return undo_store_load(rt_value_store(b), sizes, &SectionRead::deliver, &in) == 0 ? 0 : kBadImage;
}

void copy_header_fields(RuntimeBlock* b, const uint8_t* h) {
  b->h.current_figure = int32_t(tn::get_le32(h + kImgCurrentFigure));
  b->h.next_instance_id = int32_t(tn::get_le32(h + kImgNextInstanceId));
  // Flags: any non-zero byte is set, and the block holds it as 1.
  b->h.default_debug = h[kImgDefaultDebug] != 0 ? 1 : 0;
  b->h.interaction_mode = int32_t(tn::get_le32(h + kImgInteractionMode));
  auto style = [&](uint32_t at) {
    const uint8_t* c = h + at + 4;
    return StyleSpec{tn::get_le32(h + at), c[0], c[1], c[2], 0};
  };
  b->h.default_chart_style = style(kImgDefaultStyles);
  b->h.default_frame_style = style(kImgDefaultStyles + 8);
  b->h.flag_byte = h[kImgFlagByte];
  b->h.band_drawn = h[kImgBandDrawn] != 0 ? 1 : 0;
}

void settle_instances(RuntimeBlock* b) {
  for (int32_t k = 0; k < b->h.instance_count; ++k) {
    InstanceRec* rec = inst_at(b, k);
    int32_t pos = 0;
    rec->state = rec_find_tag(b, rec->id, &pos, kTagIdle) == 0 ? kStateIdle : 0;
    rec->idle_mode = 0;
    rec->next_due = -1.0;
    rec->idle_base = -1.0;
  }
}

int load_after_header(RuntimeBlock** handle, const uint8_t* raw, RtReadFn read, void* context) {
  const Header h = parse(raw);
  for (int growths = 0;; ++growths) {
    const int code = fit_code(*handle, h);
    if (code == 0) break;
    if (code == kRtTooSmallNameBuf || growths == kMaxGrowths || !rt_memory_expand(handle, code)) return code;
  }
  TN_TRY(load_engine(handle, read, context));
  RuntimeBlock* b = *handle;  // nothing below grows the block
  SectionRead in{read, context};
  TN_TRY(load_main_area(b, h, in));
  TN_TRY(load_tables(b, h, in));
  copy_header_fields(b, raw);
  settle_instances(b);
  return 0;
}

}  // namespace

// Every field of the 68-byte header. The section sizes are bounded again by
// the fit test and the sections' own checks; ids count on from the next ones
// (inst_create never gives an id twice, wherever the count stands). The
// reserved words and the padding are never read: any value passes.
const ImageWordRange kRuntimeImageWords[] = {
    {kImgMainBytes, 1, kImageWord, 0, INT32_MAX, "main-area bytes"},
    {kImgInstanceCount, 1, kImageWord, 0, INT32_MAX, "instance count"},
    {kImgRecordWords, 1, kImageWord, 0, INT32_MAX, "record words"},
    {kImgNameBytes, 1, kImageWord, 0, INT32_MAX, "name-table bytes"},
    {kImgReserved16, 1, kImageWord, kAnyWordMin, kAnyWordMax, "reserved (the writer's table fingerprint)"},
    {kImgValueHeadBytes, 1, kImageWord, 0, INT32_MAX, "value-store head bytes"},
    {kImgValueUnits, 1, kImageWord, 0, INT32_MAX, "value-store units"},
    {kImgReserved28, 1, kImageWord, kAnyWordMin, kAnyWordMax, "reserved"},
    {kImgCurrentFigure, 1, kImageWord, 0, INT32_MAX, "current figure"},
    {kImgNextInstanceId, 1, kImageWord, 1, INT32_MAX, "next instance id"},
    {kImgDefaultDebug, 1, kImageByte, 0, 255, "default debug flag"},
    {kImgDefaultDebug + 1, 3, kImageByte, 0, 255, "padding"},
    {kImgInteractionMode, 1, kImageWord, kFirstToolMode, kLastToolMode, "interaction mode"},
    {kImgDefaultStyles, 4, kImageWord, kAnyWordMin, kAnyWordMax, "default styles"},
    {kImgFlagByte, 1, kImageByte, 0, 255, "flag byte"},
    {kImgBandDrawn, 1, kImageByte, 0, 255, "band drawn"},
    {kImgBandDrawn + 1, 2, kImageByte, 0, 255, "padding"},
};
const size_t kRuntimeImageWordRows = sizeof kRuntimeImageWords / sizeof kRuntimeImageWords[0];

uint32_t rt_table_fingerprint(EngineContext* ctx) {
  uLong crc = crc32(0L, Z_NULL, 0);
  for (int k = 0;; ++k) {
    const BuiltinEntry* row = lib_entry_by_index(ctx, k);
    if (!row) break;
    uint8_t bytes[sizeof row->name + 9];
    const size_t n = strnlen(row->name, sizeof row->name);
    std::memcpy(bytes, row->name, n);
    uint8_t* p = bytes + n;
    *p++ = 0;
    *p++ = row->min_in;
    *p++ = row->max_in;
    *p++ = row->min_out;
    *p++ = row->max_out;
    tn::put_le32(p, uint32_t(row->class_word));
    crc = crc32(crc, bytes, uInt(n + 9));
  }
  return uint32_t(crc);
}

void rt_reset_to_initial(RuntimeBlock* b) {
  EngineContext* c = rt_engine(b);
  rt_embedded_reset(b);
  heap_set_header(heap_words(c), 0, uint64_t(c->heap_size - 1));
  heap_hint_reset(c);
  c->sym_extent = 0;
  c->task_first = 0;
  c->task_current = 0;
  c->pos = CodePosition{kAreaNone, 0, 0};
  engine_reset(c);
  // Instance 0 first: the table set-up resets its layout.
  b->h.instance_count = 1;
  inst_write_defaults(b, inst_at(b, 0), 0, 1);
  // Formats the stores and tables and resets the engine's function table.
  special_vars_init(b, true);
  inst_layout_reset(b, 0, true);
}

int rt_load_image(RuntimeBlock** handle, RtReadFn read, void* context) {
  uint8_t raw[kRuntimeImageHeaderBytes];
  if (!read || !read(raw, kRuntimeImageHeaderBytes, context)) return kHeaderUnread;
  if (image_words_broken(raw, kRuntimeImageWords, kRuntimeImageWordRows) >= 0) return kBadImage;
  // The engine's descriptors come from the image: the streams' block goes.
  rt_embedded_reset(*handle);
  const int status = load_after_header(handle, raw, read, context);
  if (status != 0) rt_reset_to_initial(*handle);
  return status;
}
