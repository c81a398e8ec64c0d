// help: the comment after a user function's header (else the entry in its
// library's help file), else the entry of the help file of the row's section
// ("ZVR" for intrinsics and operators), else of "other". Plain help goes to fd 1 line by line; marked-up help to fd 4
// in one piece. Sources are read into the free data stack, which nothing
// pushes onto while they are in use.
#include "engine/lib/help.h"

#include <cstring>

#include "engine/core/calls.h"
#include "engine/core/libraries.h"
#include "engine/core/opcodes.h"
#include "engine/core/stack_ops.h"
#include "engine/core/symbols.h"
#include "engine/core/streams.h"
#include "engine/core/value_stack.h"
#include "engine/lib/help_scan.h"
#include "engine/lib/help_source.h"

namespace {

constexpr char kHelpUsage1[] =
    "Type \"help fn\" to get help on function fn or \"help 'op'\" to get help on operator op.";
constexpr char kHelpUsage2[] =
    "Type \"lookfor str\" to get a list of functions whose short description contains \"str\".";
constexpr char kNoHelpAbout[] = "Sorry, no help about ";
// Longest name help looks for; a longer one has no help.
constexpr int32_t kHelpNameLimit = 2 * kHelpNameBytes;
constexpr int32_t kApologyNameBytes = 1024;

// Where a help text was found: the comment in the read buffer.
struct Found {
  const char* text = nullptr;
  int32_t length = 0;
  HelpComment comment{};
};

// The entry of a help file whose word (with its qualifier when the name
// has one) equals the name.
bool find_entry(const char* text, int32_t length, const char* name, int32_t n, Found* out) {
  const char* mark = nullptr;
  for (int32_t i = 0; i + 1 < n && !mark; ++i)
    if (name[i] == ':' && name[i + 1] == ':' && i > 0) mark = name + i;
  const int32_t qn = mark ? int32_t(mark - name) : 0;
  const char* plain = mark ? mark + 2 : name;
  const int32_t pn = mark ? n - qn - 2 : n;
  int32_t pos = 0;
  const char *word = nullptr, *qualifier = nullptr;
  int32_t wn = 0, qln = 0;
  while (help_file_next_word(text, length, &pos, &word, &wn, &qualifier, &qln)) {
    if (wn != pn || std::memcmp(word, plain, size_t(pn)) != 0) continue;
    if (mark && (qln != qn || std::memcmp(qualifier, name, size_t(qn)) != 0)) continue;
    HelpComment c{};
    if (!help_comment_after(text, length, pos, &c)) continue;
    *out = Found{text, length, c};
    return true;
  }
  return false;
}

// Looks for the name in one help file; room statuses pass on.
int search_help_file(EngineContext* ctx, const char* file, int32_t file_length, const HelpScratch& s,
                     const char* name, int32_t n, Found* out, bool* found) {
  int32_t length = 0;
  const int status = help_read_library(ctx, file, file_length, false, s.read, s.read_bytes, &length);
  if (status == kFileNotFound) return kOk;
  TN_TRY(status);
  *found = find_entry(s.read, length, name, n, out);
  return kOk;
}

// The help of a user function: the comment that opens the line after its
// header. Without one, its library's help file is read next: *library gets
// the library's name (empty for a function without library).
int search_user_function(EngineContext* ctx, const HelpScratch& s, const char* name, int32_t n, Found* out,
                         bool* found, char (&library)[kHelpNameBytes + 1], int32_t* library_length) {
  *library_length = 0;
  int32_t id = -1;
  // At the top level the command line's library stands for the caller: the
  // libraries its use lines name are the ones the user sees.
  int32_t from = fn_library_of(ctx, frame_current_function(ctx));
  if (from <= 0) from = lib_index_by_symbol(ctx, symtab_find(ctx, kCliLibrary, int32_t(sizeof kCliLibrary) - 1));
  if (fn_find_user_simple(ctx, name, n, from > 0 ? from : 0, &id) != kOk || id <= 0) return kOk;
  const char* lib = nullptr;
  int32_t ln = 0;
  if (fn_source_text(ctx, id, &lib, &ln) == kOk && ln > 0 && ln <= kHelpNameBytes) {
    std::memcpy(library, lib, size_t(ln));
    *library_length = ln;
  }
  int32_t length = 0;
  const int status = help_read_function(ctx, id, s.read, s.read_bytes, &length);
  if (status == kFileNotFound) return kOk;
  TN_TRY(status);
  HelpComment c{};
  if (help_comment_at_line(s.read, length, src_skip_logical_line(s.read, length), &c)) {
    *out = Found{s.read, length, c};
    *found = true;
  }
  return kOk;
}

int search_help(EngineContext* ctx, const HelpScratch& s, const char* name, int32_t n, Found* out, bool* found) {
  *found = false;
  char library[kHelpNameBytes + 1];
  int32_t library_length = 0;
  TN_TRY(search_user_function(ctx, s, name, n, out, found, library, &library_length));
  if (*found) return kOk;
  if (library_length > 0) {
    TN_TRY(search_help_file(ctx, library, library_length, s, name, n, out, found));
    if (*found) return kOk;
  }
  char terminated[kHelpNameLimit + 1];
  std::memcpy(terminated, name, size_t(n));
  terminated[n] = 0;
  const char* section = nullptr;
  int32_t section_length = 0;
  if (!help_row_section(ctx, terminated, &section, &section_length) || !section || section_length == 0) {
    // Intrinsics, operators and rows outside any section are the engine's own.
    section = kEngineHelpFile;
    section_length = int32_t(sizeof kEngineHelpFile) - 1;
  }
  TN_TRY(search_help_file(ctx, section, section_length, s, name, n, out, found));
  if (*found) return kOk;
  return search_help_file(ctx, kOtherHelpFile, int32_t(sizeof kOtherHelpFile) - 1, s, name, n, out, found);
}

// Buffering is a hint: a stream that takes no bursts still prints.
void buffering(EngineContext* ctx, int32_t fd, int32_t on) { (void)io_set_buffering(ctx, fd, on); }

int print_plain(EngineContext* ctx, const Found& f) {
  buffering(ctx, kFdStdout, 1);
  HelpLines lines(f.text, f.length, f.comment);
  HelpLine line{};
  int status = kOk;
  while (status == kOk && lines.next(&line)) {
    status = io_write(ctx, kFdStdout, f.text + line.start, line.n);
    if (status == kOk) status = io_newline(ctx, kFdStdout);
  }
  buffering(ctx, kFdStdout, 0);
  return status;
}

// Marked-up text in one piece: the lines are drawn together in place, each
// ended by a line feed. The write position never passes the line being read,
// since every line loses its marker or keeps its place.
int print_markup(EngineContext* ctx, const Found& f) {
  char* text = const_cast<char*>(f.text);
  HelpLines lines(f.text, f.length, f.comment);
  HelpLine line{};
  int32_t w = 0;
  while (lines.next(&line)) {
    std::memmove(text + w, text + line.start, size_t(line.n));
    w += line.n;
    if (w < f.length) text[w++] = '\n';
  }
  return io_write(ctx, kFdLookfor, text, w);
}

int print_usage(EngineContext* ctx) {
  TN_TRY(io_write(ctx, kFdStdout, kHelpUsage1, -1));
  TN_TRY(io_newline(ctx, kFdStdout));
  TN_TRY(io_write(ctx, kFdStdout, kHelpUsage2, -1));
  return io_newline(ctx, kFdStdout);
}

int print_none(EngineContext* ctx, const char* name, int32_t n) {
  TN_TRY(io_write(ctx, kFdStdout, kNoHelpAbout, -1));
  TN_TRY(io_write(ctx, kFdStdout, name, n));
  return io_newline(ctx, kFdStdout);
}

int finish(EngineContext* ctx, int nargin, int nargout, bool answer) {
  if (nargout >= 1) {
    TN_TRY(stk_push_logical_scalar(ctx, answer));
    return stk_remove(ctx, 1, nargin);
  }
  TN_TRY(stk_remove(ctx, 0, nargin));
  return nargout < 0 ? stk_push_no_value(ctx) : kOk;
}

}  // namespace

int bi_help(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  if (nargin == 0) {
    if (nargout < 1) TN_TRY(print_usage(ctx));
    return finish(ctx, 0, nargout, true);
  }
  // A name longer than any entry's has no help, but the apology names it.
  char name[kApologyNameBytes];
  int32_t n = 0;
  int status = stk_get_string_buf(ctx, 0, name, int32_t(sizeof name), &n);
  const bool too_long = status == kObjectTooLarge;
  if (!too_long) TN_TRY(status);
  bool found = false;
  Found where{};
  if (!too_long && n > 0 && n <= kHelpNameLimit) {
    HelpScratch scratch(ctx, 0);
    TN_TRY(search_help(ctx, scratch, name, n, &where, &found));
    if (found && nargout < 1) {
      status = help_is_markup(where.text, where.length, where.comment) ? print_markup(ctx, where)
                                                                        : print_plain(ctx, where);
      TN_TRY(status);
    }
  }
  if (!found && nargout < 1) TN_TRY(print_none(ctx, name, too_long ? 0 : n));
  return finish(ctx, nargin, nargout, found);
}
