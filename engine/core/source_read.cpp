// Reading sources through the hook rows: "+readlib" for libraries, "+readfn"
// for functions, each asked per extension in search order until one has the
// text; then the line-end, byte-order-mark and character-set fixes and the
// in-place expansion of "include" lines. The text never grows past the
// caller's buffer: what does not fit is an error, not a cut.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "engine/core/calls.h"
#include "engine/core/fntable.h"
#include "engine/core/lexer.h"
#include "engine/core/libraries.h"
#include "engine/core/source_walk.h"
#include "engine/core/symbols.h"

namespace {

constexpr char kFunctionExtensions[] = ".m\0";  // a list: ".m", then the empty end
constexpr char kKwInclude[] = "include";

struct ReadRequest {
  const char* extensions;
  int library_flag;
  uint32_t options;
};

int read_source(EngineContext* c, const char* name, int32_t length, int32_t name_limit, const ReadRequest& rq,
                char* buffer, int32_t capacity, int32_t* out_length, int32_t* first_line, int depth);

// Asks every hook row of the kind, per extension, until one answers other than 300.
int ask_hooks(EngineContext* c, const char* name, const ReadRequest& rq, char* buffer, int32_t capacity,
              int32_t* length, int32_t* first_line) {
  const char* hook_name = rq.library_flag ? kHookReadLib : kHookReadFn;
  const uint32_t mode = rq.library_flag ? kSourceModeLibrary : kSourceModeFunction;
  const BuiltinEntry* row = nullptr;
  int32_t index = 0;
  while ((row = lib_find_builtin(c, hook_name, row, 0, &index)) != nullptr) {
    if (!row->fn) continue;
    auto hook = reinterpret_cast<SourceHookFn>(reinterpret_cast<void (*)()>(row->fn));
    const uintptr_t data = builtin_data(c, row);
    auto ask = [&](const char* ext) {
      *length = 0;
      *first_line = 0;
      uint8_t found = 0;
      return hook(c, name, ext, mode, buffer, capacity, length, first_line, &found, data);
    };
    if (!rq.extensions) {
      const int status = ask(nullptr);
      if (status != kFileNotFound) return status;
      continue;
    }
    for (const char* ext = rq.extensions; *ext; ext += std::strlen(ext) + 1) {
      const int status = ask(ext);
      if (status != kFileNotFound) return status;
    }
  }
  return kFileNotFound;
}

// The file name on an "include" line, from p: quoted, or up to a blank, a
// separator or a comment.
bool include_name(const char* t, int32_t p, int32_t e, int32_t* start, int32_t* length) {
  while (p < e && lex_blank(t[p])) ++p;
  if (p < e && (t[p] == '"' || t[p] == '\'')) {
    const char q = t[p++];
    int32_t s = p;
    while (p < e && t[p] != q) ++p;
    *start = s;
    *length = p - s;
    return p < e && p > s;
  }
  int32_t s = p;
  while (p < e && !lex_blank(t[p]) && t[p] != ';' && t[p] != ',' && t[p] != '%' &&
         !(t[p] == '/' && p + 1 < e && t[p + 1] == '/'))
    ++p;
  *start = s;
  *length = p - s;
  return p > s;
}

// The first "include" statement at or after `from`, as the compiler's
// statement reader finds statements.
struct IncludeAt {
  int32_t from;
  bool found = false;
  bool if_exists = false;
  int32_t start = 0, words = 0, line_end = 0;
};

int first_include(void* arg, int kind, int32_t start, int32_t words, int32_t line_end, int32_t) {
  auto* at = static_cast<IncludeAt*>(arg);
  if ((kind != kLineInclude && kind != kLineIncludeIfExists) || start < at->from) return kOk;
  at->found = true;
  at->if_exists = kind == kLineIncludeIfExists;
  at->start = start;
  at->words = words;
  at->line_end = line_end;
  return kEndOfFile;  // enough read: this reading stops here
}

// True when the word "include" stands at or after `from` where a statement
// may start: with nothing but blanks before it on its line, or after a
// separator, the end of a block comment, or a word that a statement may
// follow on its line. A text that has the word only in comments and prose
// needs no reading for its statements.
bool may_hold_include(const char* t, int32_t from, int32_t n) {
  static constexpr const char* kStatementBefore[] = {"private", "public", "else",  "otherwise",
                                                      "repeat",  "try",    "catch", "endfunction"};
  const std::string_view text(t, size_t(n));
  for (size_t at = text.find(kKwInclude, size_t(from)); at != std::string_view::npos;
       at = text.find(kKwInclude, at + 1)) {
    int32_t p = int32_t(at);
    while (p > 0 && lex_blank(t[p - 1])) --p;
    if (p == 0 || lex_line_end(t[p - 1]) || t[p - 1] == ',' || t[p - 1] == ';' || t[p - 1] == '/') return true;
    int32_t w = p;
    while (w > 0 && lex_ident_char(t[w - 1])) --w;
    if (w > 0 && !lex_blank(t[w - 1]) && !lex_line_end(t[w - 1]) && t[w - 1] != ',' && t[w - 1] != ';' &&
        t[w - 1] != '/')
      continue;
    const std::string_view word(t + w, size_t(p - w));
    for (const char* k : kStatementBefore)
      if (word == k) return true;
  }
  return false;
}

// Replaces each "include" statement of buffer[0, *length), to its line end,
// by the text it names, read into the free tail of the buffer and then
// rotated into place. Each search reads the text from its start (only from
// there is a statement known as one) but takes no statement before the
// text spliced in last, which is expanded already.
int expand_includes(EngineContext* c, const ReadRequest& rq, const char* source_name, char* buf, int32_t* length,
                    int32_t capacity, int depth) {
  int32_t total = *length;
  int32_t resume = 0;
  while (may_hold_include(buf, resume, total)) {
    IncludeAt at{resume};
    const int walked = source_walk_lines(c, buf, total, first_include, &at);
    if (!at.found) {
      TN_TRY(walked);
      break;
    }
    int32_t ns = 0, nl = 0;
    if (!include_name(buf, at.words, at.line_end, &ns, &nl))
      return fn_raise(c, kIncludeSyntax, 0, int32_t(std::strlen(source_name)), source_name);
    if (depth + 1 > kMaxIncludeDepth) return fn_raise(c, kIncludeDepth, 0, int32_t(std::strlen(source_name)), source_name);
    char name[kIncludeNameLimit + 1];
    if (nl > kIncludeNameLimit) return fn_raise(c, kNameTooLong, 0, nl, buf + ns);
    std::memcpy(name, buf + ns, size_t(nl));
    name[nl] = 0;
    int32_t n = 0, line = 0;
    const int status = read_source(c, name, nl, kIncludeNameLimit, rq, buf + total, capacity - total, &n, &line,
                                   depth + 1);
    if (status == kLibraryNotFound || status == kSourceNotFound) {
      if (!at.if_exists) return status;
      n = 0;
    } else if (status != kOk) {
      return status;
    }
    // The statement goes with its line end, and with the blanks before it
    // when it opens its line.
    int32_t start = at.start;
    while (start > 0 && lex_blank(buf[start - 1])) --start;
    if (start > 0 && !lex_line_end(buf[start - 1])) start = at.start;
    int32_t next = at.line_end;
    if (next < total) next += buf[next] == '\r' && next + 1 < total && buf[next + 1] == '\n' ? 2 : 1;
    // buf: head, include statement [start, next), tail, included text (n bytes).
    const int32_t cut = next - start;
    const int32_t tail = total - next;
    std::memmove(buf + start, buf + next, size_t(tail + n));
    std::rotate(buf + start, buf + start + tail, buf + start + tail + n);
    total = total - cut + n;
    resume = start + n;
  }
  *length = total;
  return kOk;
}

int read_source(EngineContext* c, const char* name, int32_t length, int32_t name_limit, const ReadRequest& rq,
                char* buffer, int32_t capacity, int32_t* out_length, int32_t* first_line, int depth) {
  if (length < 0) length = int32_t(std::strlen(name));
  if (length < 1) return kNullName;
  if (length > name_limit) return fn_raise(c, kNameTooLong, 0, length, name);
  char terminated[kIncludeNameLimit + 1];
  std::memcpy(terminated, name, size_t(length));
  terminated[length] = 0;
  if (capacity < 0) capacity = 0;

  int32_t n = 0, line = 0;
  int status = ask_hooks(c, terminated, rq, buffer, capacity, &n, &line);
  if (status == kFileNotFound)
    return fn_raise(c, rq.library_flag ? kLibraryNotFound : kSourceNotFound, 0, length, terminated);
  TN_TRY(status);
  if (n < 0 || n > capacity) return kObjectTooLarge;

  if (n == 0 || (buffer[n - 1] != '\n' && buffer[n - 1] != '\r')) {
    if (n >= capacity) return kDataStackOverflow;
    buffer[n++] = '\n';
  }
  if (c->charset[kCharsetBom]) {
    const int skip = c->charset[kCharsetBom](buffer, nullptr, nullptr, n);
    if (skip > 0 && skip <= n) {
      std::memmove(buffer, buffer + skip, size_t(n - skip));
      n -= skip;
    }
  }
  if (rq.options & kReadConvert) {
    int32_t index = 0;
    for (const BuiltinEntry* row = nullptr; (row = lib_find_builtin(c, kHookConvertCharset, row, 0, &index));) {
      if (!row->fn) continue;
      auto hook = reinterpret_cast<ConvertCharsetFn>(reinterpret_cast<void (*)()>(row->fn));
      TN_TRY(hook(c, buffer, capacity, &n, builtin_data(c, row)));
      if (n < 0 || n > capacity) return kObjectTooLarge;
      break;
    }
  }
  if (!(rq.options & kReadNoInclude)) TN_TRY(expand_includes(c, rq, terminated, buffer, &n, capacity, depth));
  *out_length = n;
  *first_line = line;
  return kOk;
}

// Matches a definition against a function's name and class symbols.
bool definition_is(EngineContext* c, const SourceDefinition& d, int32_t name_sym, int32_t class_sym) {
  int32_t n = 0;
  const char* name = symtab_name(c, name_sym, &n);
  if (!name || d.name_length != n || std::memcmp(d.name, name, size_t(n)) != 0) return false;
  if (class_sym == 0) return d.class_length == 0;
  const char* cls = symtab_name(c, class_sym, &n);
  return cls && d.class_length == n && std::memcmp(d.class_name, cls, size_t(n)) == 0;
}

// Finds the definition in buffer[0, n) and moves it to the start.
int take_definition(EngineContext* c, char* buffer, int32_t n, int32_t name_sym, int32_t class_sym,
                    int32_t* length, int32_t* line, bool whole_text_fallback) {
  DefinitionScan scan;
  SourceDefinition d{};
  for (;;) {
    const int status = fn_find_next_definition(c, buffer, n, &scan, &d);
    if (status == kEndOfFile) break;
    TN_TRY(status);
    if (!definition_is(c, d, name_sym, class_sym)) continue;
    std::memmove(buffer, buffer + d.start, size_t(d.end - d.start));
    *length = d.end - d.start;
    *line += d.line;
    return kOk;
  }
  if (whole_text_fallback) {
    *length = n;
    return kOk;
  }
  int32_t k = 0;
  const char* name = symtab_name(c, name_sym, &k);
  return fn_raise(c, kSourceNotFound, 0, k, name);
}

}  // namespace

int lib_read_source(EngineContext* c, const char* name, int32_t length, const char* extensions, int library_flag,
                    uint32_t options, char* buffer, int32_t capacity, int32_t* out_length, int32_t* first_line) {
  const ReadRequest rq{extensions, library_flag, options};
  return read_source(c, name, length, kSourceNameLimit, rq, buffer, capacity, out_length, first_line, 0);
}

char* source_scratch(EngineContext* c, const char* avoid, int32_t avoid_length, int32_t* capacity) {
  char* start = reinterpret_cast<char*>(desc_words(c) + c->desc_top);
  char* end = reinterpret_cast<char*>(desc_words(c) + c->desc_capacity);
  if (avoid && avoid + avoid_length > start && avoid < end) start = const_cast<char*>(avoid) + avoid_length;
  const int64_t room = end > start ? end - start : 0;
  *capacity = int32_t(room > INT32_MAX ? INT32_MAX : room);
  return start;
}

int fn_locate_source(EngineContext* c, int32_t id, char* buffer, int64_t capacity, int32_t* length,
                     int32_t* first_line) {
  if (id < 0 || id >= c->fn_count) return fn_raise(c, kUndefinedFunctionOrVariable, 0, -1, nullptr);
  if (!ent_is_function(c, id)) return kSourceNotFound;
  const int32_t cap = int32_t(capacity > INT32_MAX ? INT32_MAX : capacity < 0 ? 0 : capacity);
  const int32_t name_sym = ent(c, id, kEntName);
  const int32_t class_sym = ent(c, id, kEntExtra);
  const int32_t library = ent_library(c, id);
  int32_t n = 0, line = 0;
  if (library > 0) {
    int32_t k = 0;
    const char* lib_name = symtab_name(c, ent(c, library, kEntLink), &k);
    if (!lib_name) return kSourceNotFound;
    char extensions[kExtensionListBytes];
    library_extensions(c, extensions);
    TN_TRY(lib_read_source(c, lib_name, k, extensions, 1, kReadConvert, buffer, cap, &n, &line));
    TN_TRY(take_definition(c, buffer, n, name_sym, class_sym, length, &line, false));
  } else {
    // A method is asked for by its qualified name.
    char name[2 * kIdentifierLimit + 3] = {};
    int32_t k = 0, at = 0;
    if (class_sym) {
      const char* cls = symtab_name(c, class_sym, &k);
      std::memcpy(name, cls, size_t(k));
      std::memcpy(name + k, "::", 2);
      at = k + 2;
    }
    const char* plain = symtab_name(c, name_sym, &k);
    std::memcpy(name + at, plain, size_t(k));
    const ReadRequest rq{kFunctionExtensions, 0, 0};
    TN_TRY(read_source(c, name, at + k, int32_t(sizeof name) - 1, rq, buffer, cap, &n, &line, 0));
    TN_TRY(take_definition(c, buffer, n, name_sym, class_sym, length, &line, true));
  }
  *first_line = line;
  return kOk;
}

int fn_source_text(EngineContext* c, int32_t id, const char** text, int32_t* length) {
  if (!ent_is_function(c, id) || ent_library(c, id) == 0) return kSourceNotFound;
  *text = symtab_name(c, ent(c, ent_library(c, id), kEntLink), length);
  return *text ? kOk : kSourceNotFound;
}
