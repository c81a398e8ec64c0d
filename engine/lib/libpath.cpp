// The library search path. The text always ends with ";" and holds at most
// kLibPathBytes - 1 characters; an entry with "%f", "%b" or "%s" is a
// template, any other a directory to which the file name is joined with "/".
// "%%" stands for "%" in both kinds.
#include "engine/lib/libpath.h"

#include <cstring>

#include "engine/core/call_cache.h"
#include "engine/core/streams.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"

namespace {

constexpr char kSeparator = ';';
constexpr char kInitialPath[] = ";";
char g_path[kLibPathBytes] = ";";
static_assert(sizeof kInitialPath <= kLibPathBytes);

bool is_ascii_letter(char ch) { return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z'); }

// Two or more letters and ":": a scheme prefix ("zip:", "http:"), never a
// drive letter.
int scheme_flag(const char* text) {
  int letters = 0;
  while (is_ascii_letter(text[letters])) ++letters;
  return letters >= 2 && text[letters] == ':';
}

// Bounded candidate text: appends stop at kCandidateLimit characters.
struct Candidate {
  char text[kCandidateBytes] = {};
  int32_t length = 0;
  void put(char ch) {
    if (length < kCandidateLimit) text[length++] = ch;
  }
  void put(const char* s) {
    while (s && *s) put(*s++);
  }
  void put_file(const char* name, const char* ext) {
    put(name);
    if (ext && *ext) {
      put('.');
      put(ext);
    }
  }
};

bool is_template(const char* entry, int32_t n) {
  for (int32_t i = 0; i + 1 < n; ++i) {
    if (entry[i] != '%') continue;
    const char next = entry[i + 1];
    if (next == 'f' || next == 'b' || next == 's') return true;
    if (next == '%') ++i;  // "%%f" is a percent sign and an f
  }
  return false;
}

void build_candidate(const char* entry, int32_t n, const char* name, const char* ext, Candidate* c) {
  const bool templ = is_template(entry, n);
  for (int32_t i = 0; i < n; ++i) {
    if (entry[i] != '%' || i + 1 >= n) {
      c->put(entry[i]);
      continue;
    }
    const char next = entry[i + 1];
    if (next == '%') {
      c->put('%');
      ++i;
    } else if (templ && next == 'f') {
      c->put_file(name, ext);
      ++i;
    } else if (templ && next == 'b') {
      c->put(name);
      ++i;
    } else if (templ && next == 's') {
      if (ext && *ext) {
        c->put('.');
        c->put(ext);
      }
      ++i;
    } else {
      c->put('%');
    }
  }
  if (templ) return;
  if (c->length > 0 && c->text[c->length - 1] != '/') c->put('/');
  c->put_file(name, ext);
}

int try_candidate(const Candidate& c, char* found, LibPathReader reader, char* buffer, int32_t size,
                  int32_t* length, int* scheme) {
  const int flag = scheme_flag(c.text);
  if (reader(c.text, flag, buffer, size, length) != kOk) return kFileNotFound;
  if (found) std::memcpy(found, c.text, kCandidateBytes);
  if (scheme) *scheme = flag;
  return kOk;
}

}  // namespace

const char* libpath_text() { return g_path; }

int libpath_set(const char* p1, int32_t n1, const char* p2, int32_t n2) {
  char next[kLibPathBytes];
  int32_t at = 0;
  auto add = [&](const char* p, int32_t n, int32_t room) {
    if (n < 0) return false;
    // The path is one zero-terminated text: a part ends at its first NUL,
    // so that its separator is never left behind one.
    n = int32_t(strnlen(p, size_t(n)));
    if (n + 1 > room) return false;
    std::memcpy(next + at, p, size_t(n));
    at += n;
    if (n == 0 || p[n - 1] != kSeparator) next[at++] = kSeparator;
    return true;
  };
  // The first part may take 1022 characters and its separator; the second the rest.
  if (!add(p1, n1, kLibPathBytes - 1)) return kObjectTooLarge;
  if (p2 && (n2 > 0 || n1 == 0) && !add(p2, n2, kLibPathBytes - 1 - at)) return kObjectTooLarge;
  if (at == 2 && next[0] == kSeparator) at = 1;  // two empty parts make the one empty entry
  next[at] = 0;
  std::memcpy(g_path, next, size_t(at) + 1);
  call_cache_clear();  // a function found on the new path may take a name's place
  return kOk;
}

int libpath_find_file(const char* name, const char* extension, const char* referring, char* found,
                      LibPathReader reader, char* buffer, int32_t size, int32_t* length, int* scheme) {
  if (scheme) *scheme = 0;
  if (!reader || !name) return kFileNotFound;
  if (referring) {
    const char* slash = std::strrchr(referring, '/');
    Candidate c;
    build_candidate(referring, slash ? int32_t(slash - referring + 1) : 0, name, extension, &c);
    if (try_candidate(c, found, reader, buffer, size, length, scheme) == kOk) return kOk;
  }
  const char* p = g_path;
  while (*p) {
    const char* end = std::strchr(p, kSeparator);
    const int32_t n = end ? int32_t(end - p) : int32_t(std::strlen(p));
    Candidate c;
    build_candidate(p, n, name, extension, &c);
    if (try_candidate(c, found, reader, buffer, size, length, scheme) == kOk) return kOk;
    p += n + (end ? 1 : 0);
  }
  return kFileNotFound;
}

int libpath_readlib_hook(EngineContext* ctx, const char* name, const char* extension, uint32_t,
                         char* buffer, int32_t capacity, int32_t* length, int32_t*, uint8_t* found,
                         uintptr_t data) {
  *length = 0;
  if (found) *found = 1;
  // A row bound without a reader gets the context's default data word, which
  // is no function: such a row reads nothing.
  if (data == 0 || data == ctx->default_data) return kFileNotFound;
  const auto reader = reinterpret_cast<LibPathReader>(data);
  return libpath_find_file(name, extension, nullptr, nullptr, reader, buffer, capacity, length, nullptr);
}

namespace {

int print_path(EngineContext* ctx) {
  const char* p = g_path;
  while (*p) {
    const char* end = std::strchr(p, kSeparator);
    const int32_t n = end ? int32_t(end - p) : int32_t(std::strlen(p));
    if (n > 0) TN_TRY(io_write(ctx, kFdStdout, p, n));
    TN_TRY(io_newline(ctx, kFdStdout));
    p += n + (end ? 1 : 0);
  }
  return kOk;
}

}  // namespace

int bi_path(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  if (nargin > 0) {
    char p1[kLibPathBytes], p2[kLibPathBytes];
    int32_t n1 = 0, n2 = 0;
    const int first_depth = nargin - 1;
    int status = stk_get_string_buf(ctx, first_depth, p1, kLibPathBytes, &n1);
    if (status == kOk && nargin == 2) status = stk_get_string_buf(ctx, 0, p2, kLibPathBytes, &n2);
    if (status != kOk) return status;
    TN_TRY(libpath_set(p1, n1, nargin == 2 ? p2 : nullptr, n2));
  } else if (nargout < 1) {
    TN_TRY(print_path(ctx));
  }
  if (nargout >= 1) {
    TN_TRY(stk_push_bytes(ctx, int32_t(std::strlen(g_path)), g_path));
    return stk_remove(ctx, 1, nargin);
  }
  TN_TRY(stk_remove(ctx, 0, nargin));
  return nargout < 0 ? stk_push_no_value(ctx) : kOk;
}
