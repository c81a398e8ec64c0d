// The body of the `scale` built-in: scale keywords and numeric scale codes,
// limits that fix or lock the axes, and the query of the current scale.
// Arguments already applied stay applied when a later one is refused.
#include <cstring>

#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "graphics/plotlist/plot_records.h"
#include "graphics/subplot/autoscale.h"

namespace {

constexpr int32_t kKeywordBytes = 32;
constexpr int32_t kOpenObjectSubplot = 0;

// Scale keywords: the first column goes into scaleFlags, the second into scaleKind.
struct ScaleKeyword {
  const char* name;
  uint32_t flags;
  uint32_t kind;
};
constexpr ScaleKeyword kKeywords[] = {
    {"equal", 64, 0}, {"linlin", 0, 0},   {"linlog", 2, 2},   {"loglin", 1, 1},
    {"loglog", 3, 3}, {"lindb", 16, 18}, {"logdb", 17, 19},
};
constexpr char kLockWord[] = "lock";

// Numeric scale codes: bit 0 log x, bit 6 log y, bit 7 dB y, bit 12 equal.
constexpr uint32_t kCodeLogX = 1, kCodeLogY = 64, kCodeDbY = 128, kCodeEqual = 4096;
uint32_t code_bits(uint32_t u, bool first) {
  uint32_t v = (u & kCodeLogX) | ((u & kCodeLogY) ? uint32_t(kScaleLogY) : 0u) | ((u & kCodeDbY) ? uint32_t(kScaleDbY) : 0u);
  if (first && (u & kCodeEqual)) v |= kScaleEqualAspect;
  return v;
}

const ScaleKeyword* find_keyword(const char* text, int32_t len) {
  for (const ScaleKeyword& k : kKeywords)
    if (int32_t(std::strlen(k.name)) == len && std::memcmp(k.name, text, size_t(len)) == 0) return &k;
  return nullptr;
}

struct ScaleArgs {
  uint32_t flags = 0;  // A
  uint32_t kind = 0;   // B
  bool lock = false;
};

int read_keyword(EngineContext* ctx, int depth, ScaleArgs* a) {
  char text[kKeywordBytes];
  int32_t len = 0;
  if (stk_get_string_buf(ctx, depth, text, kKeywordBytes, &len) != kOk) return kUnknownOption;
  if (len == int32_t(sizeof kLockWord - 1) && std::memcmp(text, kLockWord, size_t(len)) == 0) {
    a->lock = true;
    return kOk;
  }
  const char* slash = static_cast<const char*>(std::memchr(text, '/', size_t(len)));
  const int32_t first_len = slash ? int32_t(slash - text) : len;
  const ScaleKeyword* first = find_keyword(text, first_len);
  if (!first) return kUnknownOption;
  const ScaleKeyword* second = first;
  if (slash) {
    const int32_t rest = len - first_len - 1;
    second = rest > 0 && slash[1] == 'l' ? find_keyword(slash + 1, rest) : nullptr;
    if (!second) return kUnknownOption;
  }
  a->flags = first->flags;
  a->kind = second->kind;
  return kOk;
}

bool already_locked_elsewhere(const Subplot* s, const double* v, int64_t count) {
  const bool locked = count == 2 ? subplot_is_x_locked(s) : subplot_is_scale_locked(s);
  if (!locked) return false;
  const double now[6] = {s->xMin, s->xMax, s->yMin, s->yMax, s->zMin, s->zMax};
  for (int64_t i = 0; i < count; ++i)
    if (v[i] != now[i]) return true;
  return false;
}

void apply_limits(Subplot* s, const double* v, int64_t count, const ScaleArgs& a) {
  const double e0 = kEmptyMin, e1 = kEmptyMax;
  const double y0 = count >= 4 ? v[2] : e0, y1 = count >= 4 ? v[3] : e1;
  if (a.lock) {
    if (already_locked_elsewhere(s, v, count)) return;  // keep a view the user zoomed or dragged
    subplot_unlock_scale(s);
    if (count == 6) {
      subplot_set_3d(s, 1);
      subplot_set_fixed_limits3(s, v[0], v[1], v[2], v[3], v[4], v[5]);
    } else {
      subplot_set_fixed_limits(s, v[0], v[1], y0, y1);
    }
    return;
  }
  if (count == 6) {
    subplot_set_scale_kind(s, a.kind, a.flags);
    subplot_set_3d(s, 1);
    subplot_set_auto_limits(s, v[0], v[1], v[2], v[3], v[4], v[5]);
  } else if (s->is3D) {
    subplot_set_fixed_limits(s, v[0], v[1], y0, y1);
  } else {
    subplot_set_scale_kind(s, a.kind, a.flags);
    subplot_set_auto_limits(s, v[0], v[1], y0, y1, e0, e1);
  }
}

// Reads the arguments from the first on and applies them.
int apply_arguments(EngineContext* ctx, int nargin, Subplot* s) {
  ScaleArgs a;
  for (int k = 0; k < nargin; ++k) {
    const int depth = nargin - 1 - k;
    if (stk_is_char(ctx, depth)) {
      TN_TRY(read_keyword(ctx, depth, &a));
      continue;
    }
    int64_t count = 0;
    double* re = nullptr;
    double* im = nullptr;
    TN_TRY(stk_get_double_array(ctx, depth, nullptr, nullptr, &count, &re, &im));
    if (im) return kBadArgument;
    if (count == 1) {
      if (k > 1) return kBadArgument;
      const double d = re[0];
      const uint32_t u = d >= 0 && d < 4294967296.0 ? uint32_t(d) : 0;
      if (k == 0) a.flags = code_bits(u, true);
      else a.kind = code_bits(u, false);
      continue;
    }
    if (count != 2 && count != 4 && count != 6) return kBadArgument;
    if (k != nargin - 1) return kBadArgument;
    apply_limits(s, re, count, a);
    return kOk;
  }
  subplot_set_scale_kind(s, a.kind, a.flags);
  if (a.lock && nargin == 1 && !s->frozen) subplot_lock_scale(s);
  return kOk;
}

const char* axis_word(uint32_t flags, uint32_t db, uint32_t log) {
  return (flags & db) ? "db" : (flags & log) ? "log" : "lin";
}

int push_query(EngineContext* ctx, int nargout, const Subplot* s) {
  if (nargout >= 2) {
    char text[8];
    std::strcpy(text, axis_word(s->scaleFlags, kScaleDbX, kScaleLogX));
    std::strcat(text, axis_word(s->scaleFlags, kScaleDbY, kScaleLogY));
    TN_TRY(stk_push_cstr(ctx, int32_t(std::strlen(text)), text));
  }
  double v[6];
  int32_t n = 0;
  if (s->is3D) {
    const double all[6] = {s->xMin, s->xMax, s->yMin, s->yMax, s->zMin, s->zMax};
    for (double x : all) v[n++] = x;
  } else {
    if (s->xMode >= kAxisFixed) subplot_visible_xrange(s, &v[n], &v[n + 1]), n += 2;
    if (s->yMode >= kAxisFixed) subplot_visible_yrange(s, &v[n], &v[n + 1]), n += 2;
  }
  double* re = nullptr;
  // A real row, empty when nothing is fixed: an im pointer would ask for a
  // complex one whose imaginary half nobody writes.
  const int status = stk_push_matrix(ctx, 1, n, &re, nullptr);
  if (status != kOk) {
    if (nargout >= 2) stk_drop(ctx);  // a refused query leaves the stack as it was
    return status;
  }
  for (int32_t i = 0; i < n; ++i) re[i] = v[i];
  return kOk;
}

}  // namespace

int scale_body(EngineContext* ctx, int nargin, int nargout, Subplot* s, double* list, int32_t capacity,
               int32_t* used) {
  if (nargin > 0 && *used == 0) {
    if (!plotlist_open_object(list, capacity, used, kOpenObjectSubplot)) return kPlotOverflow;
    subplot_begin_autoscale(s);
  }
  if (nargin == 0) return nargout == 0 ? kOk : push_query(ctx, nargout, s);
  if (nargout >= 1) return kTooManyInputs;
  TN_TRY(apply_arguments(ctx, nargin, s));
  for (int k = 0; k < nargin; ++k) stk_drop(ctx);
  if (nargout < 0) TN_TRY(stk_push_no_value(ctx));
  return kOk;
}
