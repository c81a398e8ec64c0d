// daspect, plotoption, scalefactor, label, title, lightangle, material and
// sensor3. Arguments are read and checked before anything changes; a result
// is pushed before the argument is removed, so a full stack leaves the
// subplot and the stacks as they were. The record writers count their room
// (a floor of free doubles, the record, the opening record of an empty
// list) before they write.
#include "graphics/subplot/plot_options.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/core/convert.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "graphics/plotlist/plot_records.h"
#include "graphics/subplot/autoscale.h"

namespace {

constexpr int32_t kOpenObjectSubplot = 0;
constexpr int32_t kTriple = 3;
constexpr int32_t kKeywordBytes = 32;
constexpr int32_t kTextBytes = 1024;  // labels keep 16 bytes, titles 64

// --- Real arrays and the three-value results -------------------------------

// Characters where numbers are wanted are refused with kWrongType: the
// engine answers kWrongArgType for text by calling the command again with
// the character codes in its place, so 'abc' would pass for [97 98 99].
int refuse_text(EngineContext* ctx, int depth) { return stk_is_char(ctx, depth) ? int(kWrongType) : int(kOk); }

// A real double array argument at `depth`; kWrongType for text and
// kWrongArgType for any other type.
int real_array(EngineContext* ctx, int depth, int64_t* count, const double** re) {
  TN_TRY(refuse_text(ctx, depth));
  double* r = nullptr;
  double* im = nullptr;
  if (stk_get_double_array(ctx, depth, nullptr, nullptr, count, &r, &im) != kOk || im) return kWrongArgType;
  *re = r;
  return kOk;
}

// daspect and scalefactor: with a request (or without an argument as a
// statement, whose value is displayed) the 1 x 3 row after `apply`. The row
// is pushed first and takes the argument's place only once all is done.
template <class Apply, class Read>
int triple_command(EngineContext* ctx, int nargin, int nargout, Apply apply, Read read) {
  const bool result = nargout > 0 || (nargin == 0 && nargout < 0);
  double* out = nullptr;
  if (result) TN_TRY(stk_push_matrix(ctx, 1, kTriple, &out, nullptr));  // an im pointer asks for a complex row
  apply();
  if (result) read(out);
  if (nargin == 0) return kOk;
  if (result) {
    stk_replace_with_top(ctx, 0);
    return kOk;
  }
  stk_drop(ctx);
  return nargout < 0 ? stk_push_no_value(ctx) : int(kOk);
}

// --- plotoption keywords -----------------------------------------------------

enum class OptionKind { kBits, kFill3d, kCorner, kGrid, kFullGrid };
struct OptionKeyword {
  const char* name;
  OptionKind kind;
  uint32_t bits;
};
constexpr uint32_t kOptLegend = 0x20000;
constexpr uint32_t kOptCornerBits = 0xC0000;
constexpr uint32_t kOptXGrid = 4, kOptYGrid = 64;
constexpr uint32_t kOptNoGrid = 0x1000, kOptGrid = 0x2000, kOptFullGrid = 0x4000;
constexpr uint32_t kOptGridAndNoGrid = kOptNoGrid | kOptGrid;
constexpr OptionKeyword kOptionKeywords[] = {
    {"frame", OptionKind::kBits, kOptFrame},
    {"margin", OptionKind::kBits, kOptMargin},
    {"label", OptionKind::kBits, kOptLabel},
    {"legend", OptionKind::kBits, kOptLegend},
    {"xgrid", OptionKind::kBits, kOptXGrid},
    {"ygrid", OptionKind::kBits, kOptYGrid},
    {"xygrid", OptionKind::kBits, kOptXGrid | kOptYGrid},
    {"fill3d", OptionKind::kFill3d, kViewFill},
    {"grid", OptionKind::kGrid, 0},
    {"fullgrid", OptionKind::kFullGrid, 0},
    {"trlegend", OptionKind::kCorner, 0},
    {"tllegend", OptionKind::kCorner, 0x40000},
    {"brlegend", OptionKind::kCorner, 0x80000},
    {"bllegend", OptionKind::kCorner, 0xC0000},
};

const OptionKeyword* find_option(const char* text, int32_t len) {
  for (const OptionKeyword& k : kOptionKeywords)
    if (int32_t(std::strlen(k.name)) == len && std::memcmp(k.name, text, size_t(len)) == 0) return &k;
  return nullptr;
}

int apply_option(Subplot* s, const char* text, int32_t len) {
  const OptionKeyword* k = find_option(text, len);
  bool negated = false;
  if (!k && len > 2 && text[0] == 'n' && text[1] == 'o') {
    k = find_option(text + 2, len - 2);
    negated = true;
  }
  if (!k) return kUnknownOption;
  switch (k->kind) {
    case OptionKind::kBits:
      subplot_set_option_flags(s, negated ? 0 : k->bits, k->bits);
      return kOk;
    case OptionKind::kFill3d:
      s->viewFlags = negated ? s->viewFlags & ~k->bits : s->viewFlags | k->bits;
      return kOk;
    case OptionKind::kCorner:
      if (negated) return kUnknownOption;
      subplot_set_option_flags(s, k->bits, kOptCornerBits);
      return kOk;
    case OptionKind::kGrid:
      subplot_set_option_flags(s, negated ? kOptNoGrid : kOptGrid, kOptGridBits);
      subplot_fix_tools(s);
      return kOk;
    case OptionKind::kFullGrid:
      if (negated) return kUnknownOption;
      subplot_set_option_flags(s, kOptFullGrid, kOptGridAndNoGrid | kOptFullGrid);
      subplot_fix_tools(s);
      return kOk;
  }
  return kUnknownOption;
}

// --- Records -----------------------------------------------------------------

constexpr int32_t kRecordFloor = 18;  // free doubles the lighting records ask for
constexpr int32_t kLightDoubles = 6;
constexpr int32_t kMaterialValues = 5;
constexpr double kMaterialDefaults[kMaterialValues] = {0.0, 0.8, 1.0, 3.0, 1.0};  // m1 is required
constexpr int32_t kSensorSpare = 1;  // a sensor asks for one double beyond its record
constexpr double kSensorWhole = 3, kSensorFirst = 1, kSensorSecond = 2;

// Room for `need` doubles, with the opening record of an empty list.
bool record_room(int32_t capacity, int32_t used, int64_t need) {
  return need + (used == 0 ? kOpenObjectLength : 0) <= int64_t(capacity) - used;
}
void open_if_empty(double* list, int32_t capacity, int32_t* used, Subplot* s) {
  if (*used != 0) return;
  plotlist_open_object(list, capacity, used, kOpenObjectSubplot);
  subplot_begin_autoscale(s);
}
void begin_plain_record(PlotWriter* w, int32_t code, double id, int32_t n) {
  plotwriter_begin_record(w, code, id, -1, nullptr, n);
}

// One sensor part: kind string at depth kd, values at depth vd.
struct SensorPart {
  char kind;
  int64_t count;
  const double* values;
};
int read_sensor_part(EngineContext* ctx, int kd, int vd, SensorPart* out) {
  char text[kTextBytes];
  int32_t len = 0;
  TN_TRY(stk_get_string_buf(ctx, kd, text, kTextBytes, &len));
  if (len < 1 || (text[0] != kSensorPlane && text[0] != kSensorSphere)) return kUnknownOption;
  out->kind = text[0];
  double* re = nullptr;
  double* im = nullptr;
  TN_TRY(stk_get_double_array(ctx, vd, nullptr, nullptr, &out->count, &re, &im));
  out->values = re;
  const int64_t want = out->kind == kSensorPlane ? kSensorPlaneValues : kSensorSphereValues;
  return out->count == want ? int(kOk) : int(kBadSize);
}

int write_sensor(const SensorPart& p, double id, double part, Subplot* s, double* list, int32_t capacity,
                 int32_t* used) {
  const int32_t n = kSensorValues + int32_t(p.count);
  if (!record_room(capacity, *used, kRecHead + n + kSensorSpare)) return kPlotOverflow;
  open_if_empty(list, capacity, used, s);
  PlotWriter w{list, capacity, *used};
  plotwriter_begin_record(&w, kCodeSensor, id, 0, nullptr, n);
  plotwriter_put(&w, double(uint8_t(p.kind)));
  plotwriter_put(&w, part);
  for (int64_t i = 0; i < p.count; ++i) plotwriter_put(&w, p.values[i]);
  *used = w.used;
  return kOk;
}

}  // namespace

int daspect_body(EngineContext* ctx, int nargin, int nargout, Subplot* s) {
  double v[kTriple] = {};
  bool fixed = false;
  if (nargin > 0) {
    int64_t count = 0;
    const double* re = nullptr;
    TN_TRY(real_array(ctx, 0, &count, &re));
    if (count != 0 && count != kTriple) return kBadSize;
    fixed = count == kTriple;
    if (fixed) std::copy(re, re + kTriple, v);
  }
  return triple_command(
      ctx, nargin, nargout, [&] { if (nargin > 0) subplot_set_aspect(s, fixed ? v : nullptr); },
      [&](double* out) { subplot_get_aspect(s, out); });
}

int scalefactor_body(EngineContext* ctx, int nargin, int nargout, Subplot* s) {
  double v[kTriple] = {};
  if (nargin > 0) {
    int64_t count = 0;
    const double* re = nullptr;
    TN_TRY(real_array(ctx, 0, &count, &re));
    if (count < 1 || count > kTriple) return kBadSize;
    // One value for all three axes; two share the first between x and y.
    v[0] = re[0];
    v[1] = count == kTriple ? re[1] : re[0];
    v[2] = re[count - 1];
  }
  return triple_command(
      ctx, nargin, nargout, [&] { if (nargin > 0) subplot_set_scalefactor(s, v[0], v[1], v[2]); },
      [&](double* out) { subplot_get_scalefactor(s, &out[0], &out[1], &out[2]); });
}

int plotoption_body(EngineContext* ctx, Subplot* s) {
  if (!stk_is_char(ctx, 0)) return kWrongArgType;
  if (!s->frozen) {
    char text[kKeywordBytes];
    int32_t len = 0;
    if (stk_get_string_buf(ctx, 0, text, kKeywordBytes, &len) != kOk) return kUnknownOption;
    TN_TRY(apply_option(s, text, len));
  }
  stk_drop(ctx);
  return kOk;
}

int label_body(EngineContext* ctx, int nargin, Subplot* s) {
  char text[3][kTextBytes];
  int32_t len[3] = {0, 0, 0};
  for (int k = 0; k < nargin; ++k) {
    const int depth = nargin - 1 - k;
    if (!stk_is_char(ctx, depth)) return kWrongArgType;
    TN_TRY(stk_get_string_buf(ctx, depth, text[k], kTextBytes, &len[k]));
  }
  // A z label not given stays: the setter clears it only for a z text given
  // with a length below 1.
  subplot_set_labels(s, text[0], len[0], nargin >= 2 ? text[1] : nullptr, len[1], nargin >= 3 ? text[2] : nullptr,
                     nargin >= 3 ? len[2] : 1);
  for (int k = 0; k < nargin; ++k) stk_drop(ctx);
  return kOk;
}

int title_body(EngineContext* ctx, Subplot* s) {
  if (!stk_is_char(ctx, 0)) return kWrongArgType;
  char text[kTextBytes];
  int32_t len = 0;
  TN_TRY(stk_get_string_buf(ctx, 0, text, kTextBytes, &len));
  subplot_set_title(s, text, len);
  stk_drop(ctx);
  return kOk;
}

int lightangle_body(EngineContext* ctx, int nargin, Subplot* s, double* list, int32_t capacity, int32_t* used) {
  int32_t colour_rows = 0, colour_cols = 0;
  double* colours = nullptr;
  if (nargin >= 3) {
    double* im = nullptr;
    TN_TRY(refuse_text(ctx, 0));
    if (stk_get_matrix(ctx, 0, &colour_rows, &colour_cols, &colours, &im) != kOk || im) return kWrongArgType;
    if (int64_t(colour_rows) * colour_cols == 0) colour_rows = 0;  // an empty matrix: no colours
    if (colour_rows > 0 && colour_cols != kTriple) return kBadSize;
    for (int64_t i = 0; i < int64_t(colour_rows) * colour_cols; ++i)
      if (!(colours[i] >= 0.0 && colours[i] <= 1.0)) return kArgOutOfRange;
  }
  int64_t lights = 0, azimuths = 0;
  const double* el = nullptr;
  const double* az = nullptr;
  TN_TRY(real_array(ctx, nargin - 2, &lights, &el));
  if (colour_rows > 1 && colour_rows != lights) return kIncompatibleSize;
  TN_TRY(real_array(ctx, nargin - 1, &azimuths, &az));
  if (azimuths != lights) return kIncompatibleSize;
  const int64_t n = kLightDoubles * lights;
  if (!record_room(capacity, *used, std::max<int64_t>(kRecordFloor, kRecHead + n))) return kPlotOverflow;
  open_if_empty(list, capacity, used, s);
  PlotWriter w{list, capacity, *used};
  begin_plain_record(&w, kCodeLights, -1, int32_t(n));
  for (int64_t i = 0; i < lights; ++i) {
    const double a = az[i], e = el[i];
    plotwriter_put(&w, std::cos(a) * std::cos(e));
    plotwriter_put(&w, std::sin(a) * std::cos(e));
    plotwriter_put(&w, std::sin(e));
    const int64_t row = colour_rows > 1 ? i : 0;
    for (int32_t c = 0; c < kTriple; ++c) plotwriter_put(&w, colour_rows > 0 ? colours[row * kTriple + c] : 1.0);
  }
  *used = w.used;
  for (int k = 0; k < nargin; ++k) stk_drop(ctx);
  return kOk;
}

int material_body(EngineContext* ctx, Subplot* s, double* list, int32_t capacity, int32_t* used) {
  int64_t count = 0;
  const double* m = nullptr;
  TN_TRY(real_array(ctx, 0, &count, &m));
  if (count < 1 || count > kMaterialValues) return kBadSize;
  if (!record_room(capacity, *used, kRecordFloor)) return kPlotOverflow;
  open_if_empty(list, capacity, used, s);
  PlotWriter w{list, capacity, *used};
  begin_plain_record(&w, kCodeMaterial, -1, kMaterialValues);
  for (int32_t i = 0; i < kMaterialValues; ++i) plotwriter_put(&w, i < count ? m[i] : kMaterialDefaults[i]);
  *used = w.used;
  stk_drop(ctx);
  return kOk;
}

int sensor3_body(EngineContext* ctx, int nargin, Subplot* s, double* list, int32_t capacity, int32_t* used) {
  if (nargin != 3 && nargin != 5) return kWrongArgType;
  TN_TRY(stk_argcheck(ctx, nargin, nargin == 3 ? "SAi" : "SASAi"));
  double id = 0;
  TN_TRY(stk_get_real_scalar(ctx, 0, &id));
  SensorPart first;
  TN_TRY(read_sensor_part(ctx, nargin - 1, nargin - 2, &first));
  TN_TRY(write_sensor(first, id, nargin == 3 ? kSensorWhole : kSensorFirst, s, list, capacity, used));
  if (nargin == 5) {
    // The first part's record stays when the second is refused.
    SensorPart second;
    TN_TRY(read_sensor_part(ctx, 2, 1, &second));
    TN_TRY(write_sensor(second, id, kSensorSecond, s, list, capacity, used));
  }
  for (int k = 0; k < nargin; ++k) stk_drop(ctx);
  return kOk;
}
