// lookfor: every library's source and help file, then the help files of the
// registered sections, "ZVR" and "other", searched for entries whose name or
// summary line holds a word. Matches go to fd 4 as records
// "##[[help:q::name|q::name]]## summary"; a record whose header was printed
// already is left out, so an entry reached through two files shows once.
// Scratch: the free data stack, three quarters for reading, the top quarter
// for the printed headers (each a length byte pair and its text).
#include <cstring>

#include "engine/core/fntable.h"
#include "engine/core/frames.h"
#include "engine/core/libraries.h"
#include "engine/core/stack_ops.h"
#include "engine/core/streams.h"
#include "engine/core/symbols.h"
#include "engine/core/value_stack.h"
#include "engine/lib/help.h"
#include "engine/lib/help_scan.h"
#include "engine/lib/help_source.h"

namespace {

constexpr char kRecordOpen[] = "##[[help:";
constexpr char kRecordBar[] = "|";
constexpr char kRecordClose[] = "]]## ";
constexpr char kQualifierMark[] = "::";
constexpr char kOrOrName[] = "||";
constexpr char kOrOrWritten[] = "oror";
constexpr int32_t kRecordBytes = 1024;
constexpr int32_t kHeaderLengthBytes = 2;
constexpr int kKeepQuarters = 1;
constexpr char kEngineOwnName[] = "ZVR";

struct Search {
  EngineContext* ctx;
  const char* word;
  int32_t word_length;
  char* keep;           // printed headers
  int32_t keep_bytes;
  int32_t keep_used = 0;
};

// A bounded record text; `fits` goes false once anything is cut.
struct Record {
  char text[kRecordBytes];
  int32_t n = 0;
  bool fits = true;
  void add(const char* s, int32_t k) {
    if (k < 0 || n + k > kRecordBytes) {
      fits = false;
      return;
    }
    std::memcpy(text + n, s, size_t(k));
    n += k;
  }
  void add(const char* s) { add(s, int32_t(std::strlen(s))); }
};

bool header_printed(const Search& s, const char* header, int32_t n) {
  for (int32_t at = 0; at + kHeaderLengthBytes <= s.keep_used;) {
    const int32_t k = uint8_t(s.keep[at]) | (int32_t(uint8_t(s.keep[at + 1])) << 8);
    at += kHeaderLengthBytes;
    if (k == n && std::memcmp(s.keep + at, header, size_t(n)) == 0) return true;
    at += k;
  }
  return false;
}

// A header the list has no room for is not kept: its entry may then show twice.
void remember_header(Search* s, const char* header, int32_t n) {
  if (n > 0xFFFF || s->keep_used + kHeaderLengthBytes + n > s->keep_bytes) return;
  s->keep[s->keep_used] = char(n & 0xFF);
  s->keep[s->keep_used + 1] = char(n >> 8);
  std::memcpy(s->keep + s->keep_used + kHeaderLengthBytes, header, size_t(n));
  s->keep_used += kHeaderLengthBytes + n;
}

void add_qualified(Record* r, const char* qualifier, int32_t qn, const char* name, int32_t nn) {
  if (qn > 0) {
    r->add(qualifier, qn);
    r->add(kQualifierMark);
  }
  r->add(name, nn);
}

// One entry: matched on its name or summary line, then printed once.
int lookfor_match_entry(Search* s, const char* qualifier, int32_t qn, const char* name, int32_t nn,
                        const char* text, int32_t length, const HelpComment& comment) {
  const HelpLine summary = help_summary_line(text, length, comment);
  if (!contains_folded(name, nn, s->word, s->word_length) &&
      !contains_folded(text + summary.start, summary.n, s->word, s->word_length))
    return kOk;
  Record r;
  r.add(kRecordOpen);
  const bool oror = nn == 2 && std::memcmp(name, kOrOrName, 2) == 0;
  if (oror)
    add_qualified(&r, qualifier, qn, kOrOrWritten, int32_t(sizeof kOrOrWritten) - 1);
  else
    add_qualified(&r, qualifier, qn, name, nn);
  r.add(kRecordBar);
  add_qualified(&r, qualifier, qn, name, nn);
  r.add(kRecordClose);
  const int32_t header = r.n;
  r.add(text + summary.start, summary.n);
  if (!r.fits || header_printed(*s, r.text, header)) return kOk;
  remember_header(s, r.text, header);
  return io_write(s->ctx, kFdLookfor, r.text, r.n);
}

int lookfor_scan_help_file(Search* s, const char* text, int32_t length) {
  int32_t pos = 0;
  const char *word = nullptr, *qualifier = nullptr;
  int32_t wn = 0, qn = 0;
  while (help_file_next_word(text, length, &pos, &word, &wn, &qualifier, &qn)) {
    HelpComment c{};
    if (!help_comment_after(text, length, pos, &c)) continue;
    TN_TRY(lookfor_match_entry(s, qualifier, qn, word, wn, text, length, c));
  }
  return kOk;
}

// Each definition of a library source with the comment after its header;
// the qualifier is the library's name. A source the scanner cannot follow
// ends its scan where it stops making sense, without an error; a scan that
// ran out of room fails with its room status.
int lookfor_scan_source(Search* s, const char* library, int32_t ln, const char* text, int32_t length) {
  EngineContext* ctx = s->ctx;
  const ErrorStateSave saved = error_state_save(ctx);
  int write_status = kOk;
  const int status = fn_each_definition(ctx, text, length, [&](const SourceDefinition& d) -> int {
    const char* def = text + d.start;
    const int32_t dn = d.end - d.start;
    HelpComment c{};
    if (!help_comment_at_line(def, dn, src_skip_logical_line(def, dn), &c)) return kOk;
    char name[2 * kHelpNameBytes + 2];
    int32_t nn = 0;
    if (d.class_length > 0 && d.class_length + d.name_length + 2 <= int32_t(sizeof name)) {
      std::memcpy(name, d.class_name, size_t(d.class_length));
      std::memcpy(name + d.class_length, kQualifierMark, 2);
      nn = d.class_length + 2;
    }
    if (nn + d.name_length > int32_t(sizeof name)) return kOk;
    std::memcpy(name + nn, d.name, size_t(d.name_length));
    nn += d.name_length;
    write_status = lookfor_match_entry(s, library, ln, name, nn, def, dn, c);
    return write_status;
  });
  if (write_status != kOk) return write_status;
  if (status != kOk) error_state_restore(ctx, saved);
  return help_room_status(status) ? status : int(kOk);
}

// Reads and scans one help file; one that cannot be read is passed over,
// one that did not fit the room fails the search.
int scan_help_named(Search* s, const HelpScratch& scratch, const char* name, int32_t n) {
  int32_t length = 0;
  const int read = help_read_library(s->ctx, name, n, false, scratch.read, scratch.read_bytes, &length);
  if (read != kOk) return help_room_status(read) ? read : int(kOk);
  return lookfor_scan_help_file(s, scratch.read, length);
}

int scan_libraries(Search* s, const HelpScratch& scratch, bool* aborted) {
  EngineContext* ctx = s->ctx;
  for (int32_t id = 1; id < ctx->fn_count; ++id) {
    if (!ent_is_library(ctx, id)) continue;
    int32_t n = 0;
    const char* symbol_name = symtab_name(ctx, ent(ctx, id, kEntLink), &n);
    if (!symbol_name || n < 1 || n > kSourceNameLimit) continue;
    // The symbol area may move while sources are read: the name is copied.
    char name[kSourceNameLimit + 1];
    std::memcpy(name, symbol_name, size_t(n));
    name[n] = 0;
    int32_t length = 0;
    const int read = help_read_library(ctx, name, n, true, scratch.read, scratch.read_bytes, &length);
    if (read == kOk) TN_TRY(lookfor_scan_source(s, name, n, scratch.read, length));
    if (help_room_status(read)) return read;
    TN_TRY(scan_help_named(s, scratch, name, n));
    if (poll_abort(ctx)) {
      *aborted = true;
      return kOk;
    }
  }
  return kOk;
}

// True when an earlier section row of any registered table has that name.
bool section_seen_before(EngineContext* ctx, int32_t table, int32_t row, const char* name) {
  const LibraryTableRef* refs = table_refs(ctx);
  for (int32_t t = 0; t <= table; ++t) {
    const int32_t rows = t == table ? row : refs[t].rows;
    for (int32_t r = 0; r < rows; ++r) {
      const char* other = refs[t].table[r].name;
      if ((other[0] == '@' || other[0] == '!') && std::strncmp(other + 1, name, sizeof refs[t].table[r].name - 1) == 0)
        return true;
    }
  }
  return false;
}

int scan_sections(Search* s, const HelpScratch& scratch) {
  EngineContext* ctx = s->ctx;
  for (int32_t t = 0; t < ctx->table_count; ++t) {
    for (int32_t r = 0; r < table_refs(ctx)[t].rows; ++r) {
      const BuiltinEntry& row = table_refs(ctx)[t].table[r];
      if ((row.name[0] != '@' && row.name[0] != '!') || row.name[1] == 0) continue;
      char name[sizeof row.name];
      std::memcpy(name, row.name + 1, sizeof row.name - 1);
      name[sizeof row.name - 1] = 0;
      if (std::strcmp(name, kEngineOwnName) == 0 || section_seen_before(ctx, t, r, name)) continue;
      TN_TRY(scan_help_named(s, scratch, name, int32_t(std::strlen(name))));
    }
  }
  return kOk;
}

}  // namespace

int lookfor_search_all(EngineContext* ctx, const char* word, int32_t length) {
  HelpScratch scratch(ctx, kKeepQuarters);
  if (!scratch.read) return kDataStackOverflow;  // no room to read a single text
  Search s{ctx, word, length, scratch.keep, scratch.keep_bytes};
  (void)io_set_buffering(ctx, kFdLookfor, 1);  // a hint: a stream without bursts still prints
  bool aborted = false;
  int status = scan_libraries(&s, scratch, &aborted);
  if (status == kOk && !aborted) status = scan_sections(&s, scratch);
  if (status == kOk && !aborted)
    status = scan_help_named(&s, scratch, kEngineHelpFile, int32_t(sizeof kEngineHelpFile) - 1);
  if (status == kOk && !aborted)
    status = scan_help_named(&s, scratch, kOtherHelpFile, int32_t(sizeof kOtherHelpFile) - 1);
  (void)io_set_buffering(ctx, kFdLookfor, 0);
  return status;
}

int bi_lookfor(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  char word[kRecordBytes];
  int32_t n = 0;
  const int status = stk_get_string_buf(ctx, 0, word, int32_t(sizeof word), &n);
  // A word longer than any record cannot occur in one.
  if (status != kObjectTooLarge) {
    TN_TRY(status);
    TN_TRY(lookfor_search_all(ctx, word, n));
  }
  TN_TRY(stk_remove(ctx, 0, nargin));
  return nargout < 0 ? stk_push_no_value(ctx) : kOk;
}
