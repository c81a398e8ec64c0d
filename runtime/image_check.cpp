// Structure checks of a loaded image. The record list must walk exactly to
// its word count with every text and handler description inside its record;
// instance records must name only records of the right tag in their own run.
#include "runtime/image_check.h"

#include "runtime/instances.h"
#include "runtime/name_table.h"
#include "runtime/record_list.h"
#include "runtime/records.h"

namespace {

// Handler words 2 to 11 of a subplot name records of these tags, in order.
constexpr int32_t kFirstMouseWord = 2;

bool text_fits(const RecordView& r, int32_t k) { return rec_text(r, k, nullptr, nullptr); }

// The data a record of this tag must hold to be read safely.
bool record_shape_valid(const RecordView& r) {
  switch (r.tag) {
    case kTagHeader:
      return r.data_words >= 2 && text_fits(r, 2);
    case kTagTitle: case kTagVersion: case kTagHelp: case kTagSection: case kTagMenuTitle:
    case kTagSubmenuTitle: case kTagFigure: case kTagDeclaration: case kTagFigureOnly:
      return text_fits(r, 0);
    case kTagCapabilities: case kTagGate:
      return r.data_words >= 1;
    case kTagEmbedded: case kTagLibrary: {
      if (!text_fits(r, 0)) return false;
      return text_fits(r, int32_t(rec_text_words(r.data[0])));
    }
    case kTagInit: case kTagTerminate: case kTagDeclared: case kTagDerived: case kTagPlot:
    case kTagResize: case kTagIdle: case kTagItem: case kTagEntry: case kTagCallEntry:
    case kTagKey: case kTagChange:
      return rec_hd_offset(r.tag, r.data, r.data_words) >= 0;
    default:
      if (r.tag >= kTagMousePress && r.tag <= kTagMouseDragOut)
        return rec_hd_offset(r.tag, r.data, r.data_words) >= 0;
      return true;
  }
}

// The first and one-past-last word of an instance's run, or false.
bool run_of(RuntimeBlock* b, int32_t id, int64_t* start, int64_t* end) {
  int32_t pos = 0;
  if (rec_find_instance(b, id, &pos) != 0) return false;
  RecordView r;
  int64_t w = pos;
  rec_at(b, w, &r);
  for (w += r.length; rec_at(b, w, &r) && r.tag != kTagHeader; w += r.length) {}
  *start = pos;
  *end = w;
  return true;
}

// A record index held by an instance: negative, or a record of `tag` at that
// word offset of the run.
bool index_valid(RuntimeBlock* b, int32_t index, int32_t tag, bool has_run, int64_t start, int64_t end) {
  if (index < 0) return true;
  if (!has_run || start + index >= end) return false;
  // The index must land on a record boundary of the run.
  RecordView r;
  int64_t w = start;
  while (w < start + index && rec_at(b, w, &r)) w += r.length;
  return w == start + index && rec_at(b, w, &r) && r.tag == tag;
}

}  // namespace

bool image_records_valid(RuntimeBlock* b) {
  const int64_t n = b->h.record_words;
  if (n < 0 || n * 4 > b->h.area_size[kAreaRecords]) return false;
  const int32_t* words = rt_record_words(b);
  int64_t w = 0;
  while (w < n) {
    if (w + kRecordHeadWords > n) return false;
    const int64_t len = words[w + 1];
    if (len < kRecordHeadWords || len > n - w) return false;
    if (w == 0 && words[0] != kTagHeader) return false;
    RecordView r;
    if (!rec_at(b, w, &r) || !record_shape_valid(r)) return false;
    w += len;
  }
  return w == n;
}

bool image_names_valid(RuntimeBlock* b, int64_t loaded_bytes) {
  const NameTable* t = rt_name_table(b);
  if (loaded_bytes < kNameTableHeadBytes) return false;
  return t->count >= 0 && t->count <= t->capacity && name_table_bytes(t->count) <= loaded_bytes;
}

bool image_instances_valid(RuntimeBlock* b) {
  const int32_t n = b->h.instance_count;
  for (int32_t k = 0; k < n; ++k) {
    const InstanceRec* rec = inst_at(b, k);
    for (int32_t j = 0; j < k; ++j)
      if (inst_at(b, j)->id == rec->id) return false;
    if (rec->rows < 0 || rec->cols < 0 || int64_t(rec->rows) * rec->cols > kMaxSubplots) return false;
    if (rec->max_subplots < 1 || rec->max_subplots > kMaxSubplots) return false;
    int64_t start = 0, end = 0;
    const bool has_run = run_of(b, rec->id, &start, &end);
    for (const Subplot& s : rec->subplots) {
      if (!index_valid(b, s.handlerWords[kSubplotFigureWord], kTagFigure, has_run, start, end)) return false;
      if (!index_valid(b, s.handlerWords[kSubplotPlotHandlerWord], kTagPlot, has_run, start, end)) return false;
      for (int32_t h = kFirstMouseWord; h < kSubplotHandlerWords; ++h)
        if (!index_valid(b, s.handlerWords[h], kTagMousePress + h - kFirstMouseWord, has_run, start, end))
          return false;
    }
  }
  return true;
}
