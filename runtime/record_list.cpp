// Reading the tagged record list: run lookup, tag search, the menu walk with
// its section gates, and the section list. A record whose length word is
// below 2 or runs past the list ends every walk, so damaged lists are never
// read past their end.
#include "runtime/record_list.h"

#include <cstring>

#include "runtime/instances.h"
#include "runtime/records.h"
#include "runtime/runtime_status.h"

namespace {

constexpr char kSettingsTitle[] = "Settings";
constexpr int32_t kSettingsLength = 8;

int64_t list_words(RuntimeBlock* b) {
  const int64_t cap = b->h.area_size[kAreaRecords] / 4;
  return b->h.record_words < 0 ? 0 : (b->h.record_words < cap ? b->h.record_words : cap);
}

// The run of an instance: its first word and the word after its last record.
bool find_run(RuntimeBlock* b, int32_t id, int64_t* start, int64_t* end) {
  RecordView r;
  int64_t w = 0;
  *start = -1;
  for (; rec_at(b, w, &r); w += r.length) {
    if (r.tag != kTagHeader) continue;
    if (*start >= 0) break;
    if (r.data_words > 0 && r.data[0] == id) *start = w;
  }
  *end = w;
  return *start >= 0;
}

int32_t section_selector(RuntimeBlock* b, int32_t id) {
  const InstanceRec* inst = inst_find_by_id(b, id);
  return inst ? inst->section_selector : kDefaultSectionSelector;
}

int32_t tag_for_kind(char kind) {
  switch (kind) {
    case 'm': return kTagMenuTitle;
    case 'f': return kTagFigure;
    case 'i': case 'I': return kTagItem;
    default: return kTagEntry;
  }
}

// Whether the menu part of the run [first, end) holds an active menu title
// (tag 19) for the selector, gated as the menu walk gates.
bool has_active_menu_title(RuntimeBlock* b, int64_t start, int64_t first, int64_t end, int32_t selector) {
  RecordView r;
  bool active = true;
  for (int64_t w = first; w < end && rec_at(b, w, &r); w += r.length) {
    if (r.tag == kTagHeader || r.tag == kTagMenusEnd) break;
    if (r.tag == kTagSection) active = w - start == selector;
    else if (r.tag == kTagGate) active = r.data_words > 0 && r.data[0] == selector;
    else if (r.tag == kTagGateEnd) active = true;
    if (active && r.tag == kTagMenuTitle) return true;
  }
  return false;
}

}  // namespace

bool rec_at(RuntimeBlock* b, int64_t w, RecordView* out) {
  const int64_t n = list_words(b);
  if (w < 0 || w + kRecordHeadWords > n) return false;
  const int32_t* words = rt_record_words(b);
  const int32_t len = words[w + 1];
  if (len < kRecordHeadWords || w + len > n) return false;
  *out = RecordView{words[w], len, words + w + kRecordHeadWords, len - kRecordHeadWords};
  return true;
}

bool rec_text(const RecordView& r, int32_t k, const char** text, int32_t* length) {
  if (k < 0 || k >= r.data_words) return false;
  const int64_t n = r.data[k];
  if (n < 0 || k + rec_text_words(n) > r.data_words) return false;
  if (text) *text = reinterpret_cast<const char*>(r.data + k + 1);
  if (length) *length = int32_t(n);
  return true;
}

int rec_find_instance(RuntimeBlock* b, int32_t id, int32_t* position) {
  int64_t start = 0, end = 0;
  if (!find_run(b, id, &start, &end)) return kRtNonexistentInstance;
  *position = int32_t(start);
  return 0;
}

int rec_find_tag(RuntimeBlock* b, int32_t id, int32_t* position, int32_t tag) {
  int64_t start = 0, end = 0;
  if (!find_run(b, id, &start, &end)) return kRtNonexistentInstance;
  RecordView r;
  int64_t w = start;
  if (*position >= 0) {
    w = start + *position;
    if (!rec_at(b, w, &r)) return kRtUndefElement;
    w += r.length;
  } else if (tag != kTagHeader) {
    rec_at(b, w, &r);
    w += r.length;
  }
  for (; rec_at(b, w, &r); w += r.length) {
    if (r.tag == kTagHeader && tag != kTagHeader && w != start) return kRtUndefElement;
    if (r.tag == tag) {
      *position = int32_t(w - start);
      return 0;
    }
  }
  return kRtUndefElement;
}

bool rec_instance_has_more(RuntimeBlock* b, int32_t id) {
  int64_t start = 0, end = 0;
  RecordView r;
  if (!find_run(b, id, &start, &end) || !rec_at(b, start, &r)) return false;
  RecordView next;
  return start + r.length < end && rec_at(b, start + r.length, &next) && next.tag == kTagFigureOnly;
}

int32_t rec_instance_slot(RuntimeBlock* b, int32_t id) {
  int64_t start = 0, end = 0;
  RecordView r;
  if (!find_run(b, id, &start, &end) || !rec_at(b, start, &r) || r.data_words < 2) return 0;
  return r.data[1];
}

void rec_delete_instance(RuntimeBlock* b, int32_t id) {
  int64_t start = 0, end = 0;
  if (!find_run(b, id, &start, &end)) return;
  const int64_t n = list_words(b);
  int32_t* words = rt_record_words(b);
  std::memmove(words + start, words + end, size_t(4 * (n - end)));
  b->h.record_words = int32_t(n - (end - start));
}

int rec_nth_of_kind(RuntimeBlock* b, int32_t id, char kind, int32_t* position, const char** text, int32_t* length,
                    uint8_t* submenu_end, uint8_t* submenu) {
  int64_t start = 0, end = 0;
  if (!find_run(b, id, &start, &end)) return kRtNonexistentInstance;
  const bool nested = submenu_end && submenu;
  if (nested) *submenu_end = *submenu = 0;
  // Titles, nesting and separators belong to the menus; a nested walk of
  // another kind (the plots) passes over them.
  const bool structured = nested && kind == 'm';
  const int32_t want = tag_for_kind(kind);
  const int32_t selector = section_selector(b, id);
  const bool first_call = *position < 0;
  RecordView r;
  rec_at(b, start, &r);
  const int64_t first = start + r.length;
  // The settings menu comes first when an active menu title (tag 19)
  // exists anywhere in the menus; the next call walks them from the start.
  if (kind == 'm' && nested && first_call && has_active_menu_title(b, start, first, end, selector)) {
    *text = kSettingsTitle;
    *length = kSettingsLength;
    *submenu = 1;
    *position = 0;
    return 0;
  }
  // Gates are followed from the start of the run, so a walk that resumes in
  // the middle knows which stretch it is in.
  bool active = true;
  int32_t depth = 0;  // nesting opened by tag-22 records, followed like the gates
  for (int64_t w = first; w < end && rec_at(b, w, &r); w += r.length) {
    const int64_t at = w - start;
    if (r.tag == kTagHeader || r.tag == kTagMenusEnd) break;
    if (r.tag == kTagSection) active = at == selector;
    else if (r.tag == kTagGate) active = r.data_words > 0 && r.data[0] == selector;
    else if (r.tag == kTagGateEnd) active = true;
    if (active && r.tag == kTagSubmenuBegin) ++depth;
    const bool nested_title = depth > 0 && r.tag == kTagSubmenuTitle;
    if (active && r.tag == kTagSubmenuEnd && depth > 0) --depth;
    if (!active || (!first_call && at <= *position)) continue;
    if (structured && (r.tag == kTagSubmenuTitle || r.tag == kTagSubmenuEnd)) {
      // A title inside a nested level starts a submenu: the nesting flag with
      // a name; its end is the nesting flag without one.
      *submenu = r.tag == kTagSubmenuTitle && !nested_title;
      *submenu_end = r.tag == kTagSubmenuEnd || nested_title;
      if (!rec_text(r, 0, text, length)) *text = nullptr, *length = 0;
      *position = int32_t(at);
      return 0;
    }
    if (!nested && (r.tag == kTagSeparator || r.tag == kTagSubmenuBegin || r.tag == kTagSubmenuEnd)) break;
    // In the menus' walk a separator is an answer without a name or a flag.
    const bool separator = structured && r.tag == kTagSeparator;
    if (r.tag != want && !separator) continue;
    if (separator) {
      *text = nullptr;
      *length = 0;
      *position = int32_t(at);
      return 0;
    }
    if (kind == 'i') {
      int32_t n = 0;
      if (!rec_text(r, 2, text, &n)) continue;
      if (n == 0 && !first_call) continue;  // an alternative of the item before
      *length = n;
    } else if (kind == 'I') {
      if (r.data_words < 2) continue;
      *length = r.data[0];
      *text = reinterpret_cast<const char*>(r.data + 1);
    } else if (!rec_text(r, 0, text, length)) {
      continue;
    }
    *position = int32_t(at);
    return 0;
  }
  return kRtUndefElement;
}

int rec_iter_menu_a(RuntimeBlock* b, int32_t id, int32_t* position, const char** title, int32_t* title_length,
                    const char** name, int32_t* name_length) {
  int64_t start = 0, end = 0;
  if (!find_run(b, id, &start, &end)) return kRtNonexistentInstance;
  RecordView r;
  for (int64_t w = start; w < end && rec_at(b, w, &r); w += r.length) {
    if (r.tag != kTagSection || w - start <= *position) continue;
    const char* text = nullptr;
    int32_t n = 0;
    if (!rec_text(r, 0, &text, &n)) continue;
    const char* semi = static_cast<const char*>(std::memchr(text, ';', size_t(n)));
    const int32_t tl = semi ? int32_t(semi - text) : n;
    const char* nm = semi ? semi + 1 : text;
    const int32_t nl = semi ? n - tl - 1 : n;
    // Only the first section of a name is listed.
    bool seen = false;
    RecordView e;
    for (int64_t v = start; v < w && rec_at(b, v, &e) && !seen; v += e.length) {
      const char* et = nullptr;
      int32_t en = 0;
      if (e.tag != kTagSection || !rec_text(e, 0, &et, &en)) continue;
      const char* es = static_cast<const char*>(std::memchr(et, ';', size_t(en)));
      const char* enm = es ? es + 1 : et;
      const int32_t enl = es ? en - int32_t(es - et) - 1 : en;
      seen = enl == nl && std::memcmp(enm, nm, size_t(nl)) == 0;
    }
    if (seen) continue;
    *title = text;
    *title_length = tl;
    *name = nm;
    *name_length = nl;
    *position = int32_t(w - start);
    return 0;
  }
  return kRtUndefElement;
}
