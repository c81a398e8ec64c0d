// `getfile` and `putfile`: the filter built from MIME types through the
// extension table, the texts passed to the host's dialog as UTF-8, and the
// chosen path (UTF-8, 4-byte sequences as surrogate pairs) pushed back as a
// string. A cancelled dialog is no error: the result is "".
#include "runtime/file_dialogs.h"

#include <cstring>
#include <vector>

#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/strings.h"
#include "engine/core/value_stack.h"
#include "runtime/char_args.h"
#include "runtime/runtime_block.h"

namespace {

struct ExtensionRow {
  char extension[8];
  char type[24];
};
static_assert(sizeof(ExtensionRow) == 32);

constexpr ExtensionRow kExtensions[] = {
    {"txt", "text/plain"}, {"text", "text/plain"}, {"c", "text/plain"},    {"h", "text/plain"},
    {"p", "text/plain"},   {"f", "text/plain"},    {"f77", "text/plain"},  {"asm", "text/plain"},
    {"java", "text/plain"}, {"bas", "text/plain"}, {"html", "text/html"}, {"htm", "text/html"},
    {"", ""},
};

constexpr size_t kMaxList = 100;           // characters of the extension list
constexpr int32_t kPathBytes = 4096;
constexpr char kAllFiles[] = "|All files|*.*||";

// The UTF-8 text of the string at depth; an empty matrix counts as "".
int utf8_of(EngineContext* ctx, int depth, std::string* out) {
  out->clear();
  if (!stk_is_char(ctx, depth)) {
    int ndims = 0;
    const uint32_t* dims = nullptr;
    int64_t count = 0;
    if (stk_get_array_info(ctx, depth, &ndims, &dims, &count) == kOk && count == 0) return kOk;
    return kWrongArgType;
  }
  return char_arg_utf8(ctx, depth, out);
}

// UTF-8 to 16-bit units; a 4-byte sequence becomes a surrogate pair and a
// malformed byte is skipped.
std::u16string utf16_of(const char* text, int32_t length) {
  std::u16string out;
  const auto* s = reinterpret_cast<const uint8_t*>(text);
  for (int32_t i = 0; i < length;) {
    const uint8_t b = s[i];
    const int n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    bool ok = n > 0 && i + n <= length;
    uint32_t cp = n == 1 ? b : n == 2 ? b & 0x1Fu : n == 3 ? b & 0x0Fu : b & 0x07u;
    for (int k = 1; ok && k < n; ++k) {
      ok = (s[i + k] & 0xC0) == 0x80;
      cp = (cp << 6) | (s[i + k] & 0x3Fu);
    }
    if (!ok) {
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(char16_t(0xD800 + (cp >> 10)));
      out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(char16_t(cp));
    }
    i += n;
  }
  return out;
}

// Asks the host; "" without a callback or on cancel.
int file_dialog(EngineContext* ctx, int nargin, int nargout, uintptr_t data, bool save) {
  (void)nargout;
  CallContext* cc = reinterpret_cast<CallContext*>(data);
  std::string title, second;
  if (nargin > 0) TN_TRY(utf8_of(ctx, nargin - 1, &title));
  if (nargin > 1) TN_TRY(utf8_of(ctx, 0, &second));
  const std::string filter = save ? std::string(kAllFiles) : rt_file_filter(second.data(), int32_t(second.size()));
  std::vector<char> path(static_cast<size_t>(kPathBytes));
  int32_t length = 0;
  const RtFileDialogCallback cb = rt_file_dialog_callback();
  if (cc && cc->block && cb.fn) {
    const std::string name = save ? second : std::string();
    length = cb.fn(save, title.data(), int32_t(title.size()), filter.data(), int32_t(filter.size()), name.data(),
                   int32_t(name.size()), path.data(), kPathBytes, cb.context);
    if (length < 0 || length > kPathBytes) length = 0;
  }
  const std::u16string units = utf16_of(path.data(), length);
  TN_TRY(stk_push_wstr(ctx, int32_t(units.size()), units.data()));
  return nargin > 0 ? stk_remove(ctx, 1, nargin) : kOk;
}

RtFileDialogCallback g_file_dialog{};

}  // namespace

void rt_set_file_dialog_callback(RtFileDialogFn fn, void* context) { g_file_dialog = RtFileDialogCallback{fn, context}; }
RtFileDialogCallback rt_file_dialog_callback() { return g_file_dialog; }

std::string rt_file_filter(const char* types, int32_t length) {
  std::string list;
  for (int32_t i = 0; i < length;) {
    int32_t end = i;
    while (end < length && uint8_t(types[end]) >= 0x20) ++end;
    const std::string line(types + i, size_t(end - i));
    for (const ExtensionRow* row = kExtensions; row->extension[0]; ++row) {
      if (line != row->type) continue;
      const size_t grown = list.size() + (list.empty() ? 0 : 1) + std::strlen(row->extension);
      if (grown <= kMaxList) {
        if (!list.empty()) list += '/';
        list += row->extension;
      }
      break;
    }
    i = end + 1;
  }
  if (list.empty()) return kAllFiles;
  std::string patterns = "*.";
  for (char ch : list) patterns += ch == '/' ? std::string(";*.") : std::string(1, ch);
  return list + "|" + patterns + kAllFiles;
}

std::string rt_file_filter_qt(const std::string& filter) {
  // Pairs of description and patterns; the leading bar of a filter without
  // types opens no pair.
  std::vector<std::string> parts;
  size_t start = !filter.empty() && filter[0] == '|' ? 1 : 0;
  for (size_t i = start; i <= filter.size(); ++i) {
    if (i == filter.size() || filter[i] == '|') {
      parts.push_back(filter.substr(start, i - start));
      start = i + 1;
    }
  }
  std::string out;
  for (size_t k = 0; k + 1 < parts.size(); k += 2) {
    if (parts[k].empty() && parts[k + 1].empty()) break;
    std::string patterns;
    for (char ch : parts[k + 1]) patterns += ch == ';' ? ' ' : ch;
    if (patterns == "*.*") patterns = "*";
    if (!out.empty()) out += ";;";
    out += parts[k] + " (" + patterns + ")";
  }
  return out;
}

int bi_getfile(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return file_dialog(ctx, nargin, nargout, data, false);
}

int bi_putfile(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return file_dialog(ctx, nargin, nargout, data, true);
}
