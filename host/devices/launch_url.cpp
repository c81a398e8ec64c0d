// "launchurl": the text goes to the desktop's opener as one argument of a
// process started directly (never a shell command line, so no character of
// the text is interpreted). The opener runs in a session of its own; the
// children that ended are reaped at the next launch.
#include <string>
#include <vector>

#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "host/devices/detached_process.h"
#include "host/devices/file_library.h"

namespace {

constexpr char kOpener[] = "xdg-open";

UrlLauncher g_launcher = launchurl_xdg_open;
void* g_launcher_context = nullptr;

// 16-bit characters as UTF-8; a lone surrogate stays a three-byte sequence.
std::string to_utf8(const uint8_t* chars, int64_t n) {
  std::string s;
  for (int64_t i = 0; i < n; ++i) {
    uint32_t c = tn::load<uint16_t>(chars + 2 * i);
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < n) {
      const uint32_t low = tn::load<uint16_t>(chars + 2 * (i + 1));
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (c < 0x80) {
      s += char(c);
    } else if (c < 0x800) {
      s += char(0xC0 | (c >> 6));
      s += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      s += char(0xE0 | (c >> 12));
      s += char(0x80 | ((c >> 6) & 0x3F));
      s += char(0x80 | (c & 0x3F));
    } else {
      s += char(0xF0 | (c >> 18));
      s += char(0x80 | ((c >> 12) & 0x3F));
      s += char(0x80 | ((c >> 6) & 0x3F));
      s += char(0x80 | (c & 0x3F));
    }
  }
  return s;
}

}  // namespace

void launchurl_set_launcher(UrlLauncher fn, void* context) {
  g_launcher = fn ? fn : launchurl_xdg_open;
  g_launcher_context = fn ? context : nullptr;
}

bool launchurl_xdg_open(void*, const char* text) { return spawn_detached(kOpener, text); }

int bi_launchurl(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  if (nargin != 1) return nargin < 1 ? kTooFewInputs : kTooManyInputs;
  if (!stk_is_char(ctx, 0)) return kWrongArgType;
  TypedView t;
  if (!typed_view(ctx, 0, &t)) return kWrongArgType;
  const std::string text = to_utf8(t.elems, t.count);
  // Room for the answer before the opener starts: a failure starts nothing.
  if (nargout != 0 && !desc_room(ctx)) return kStackOverflow;
  const bool started = g_launcher(g_launcher_context, text.c_str());
  stk_drop(ctx);
  if (nargout >= 1) return stk_push_logical_scalar(ctx, started ? 1 : 0);
  return nargout < 0 ? stk_push_no_value(ctx) : kOk;
}
