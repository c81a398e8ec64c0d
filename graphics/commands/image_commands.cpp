// image, pcolor and colormap: rasters of bytes, cells coloured through the
// colour map, and the map itself. Every argument is read and every size
// settled before the room check, so a refused command leaves the list as it
// was; colormap counts its room after the maps it will remove and checks it
// before removing any.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/core/convert.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "graphics/commands/command_args.h"
#include "graphics/commands/image_commands.h"
#include "graphics/subplot/autoscale.h"

namespace {

constexpr uint32_t kImageThreePlanes = 1;
constexpr uint32_t kImageWholeMultiples = 2;
constexpr uint32_t kImageModeUnit = 4;  // flags = ... + 4 * mode
constexpr int32_t kImageHead = 7;       // flags, rows, columns, x, y, width, height
constexpr int32_t kBytesPerDouble = 8;
constexpr int32_t kPlaneCount = 3;
constexpr double kUnitToByte = 255.9;

constexpr uint32_t kCellsXVector = 1, kCellsXMatrix = 2, kCellsYVector = 4, kCellsYMatrix = 8;
constexpr uint32_t kCellsDefaultBits = kStyleKindInvisible;  // cells without a grid
constexpr int32_t kCellsHead = 3;                            // flags, rows, columns

constexpr int32_t kMapColumns = 3;
constexpr int32_t kOptionBytes = 64;

// An image plane as the engine holds it: doubles, singles or bytes (uint8
// or logical), pages outermost and each page row by row.
struct Plane {
  enum Kind { kDouble, kSingle, kBytes } kind = kDouble;
  bool logical = false;
  int ndims = 2;
  int32_t rows = 0, cols = 0, pages = 1;
  const double* d = nullptr;
  const float* f = nullptr;
  const uint8_t* b = nullptr;
  // Byte k of page p: values 0..1 scale to bytes, NaN giving 0.
  uint8_t byte(int32_t p, int64_t k) const {
    const int64_t i = int64_t(p) * rows * cols + k;
    if (kind == kBytes) return logical ? (b[i] ? 255 : 0) : b[i];
    const double t = kUnitToByte * (kind == kDouble ? d[i] : double(f[i]));
    if (!(t > 0)) return 0;
    return t >= 255.0 ? 255 : uint8_t(t);
  }
};

int read_plane(EngineContext* ctx, int nargin, int arg, Plane* p) {
  const int depth = nargin - 1 - arg;
  int nd = 0;
  const uint32_t* dims = nullptr;
  int64_t count = 0;
  double* re = nullptr;
  double* im = nullptr;
  float* sre = nullptr;
  float* sim = nullptr;
  TypedView t;
  if (stk_get_double_array(ctx, depth, &nd, &dims, &count, &re, &im) == kOk) {
    if (im) return kWrongType;
    p->kind = Plane::kDouble, p->d = re;
  } else if (stk_get_single_array(ctx, depth, &nd, &dims, &count, &sre, &sim) == kOk) {
    if (sim) return kWrongType;
    p->kind = Plane::kSingle, p->f = sre;
  } else if (typed_view(ctx, depth, &t) && t.type == kElemU8 && !t.is_complex) {
    p->kind = Plane::kBytes, p->b = t.elems, p->logical = t.subtype == kPayLogical;
    nd = int(t.ndims), dims = t.dims;
  } else {
    return kWrongType;
  }
  if (nd < 2 || nd > 3) return kBadSize;
  for (int k = 0; k < nd; ++k)
    if (dims[k] > uint32_t(INT32_MAX)) return kBadSize;
  p->ndims = nd;
  p->rows = int32_t(dims[0]), p->cols = int32_t(dims[1]), p->pages = nd == 3 ? int32_t(dims[2]) : 1;
  return kOk;
}

// The option string's first character: e, 1 (linear) or 3 (cubic).
uint32_t image_option_flags(const char* text, int32_t length) {
  if (length < 1) return 0;
  switch (text[0]) {
    case 'e': return kImageWholeMultiples;
    case '1': return 1 * kImageModeUnit;
    case '3': return 3 * kImageModeUnit;
    default: return 0;
  }
}

// Reads the planes of image's numeric arguments (1 or 3 of them).
int image_planes(EngineContext* ctx, int nargin, int count, Plane planes[kPlaneCount], int* plane_count) {
  if (count == 1) {
    TN_TRY(read_plane(ctx, nargin, 0, &planes[0]));
    const Plane& a = planes[0];
    if (a.ndims == 3 && a.pages != kPlaneCount) return kBadSize;
    *plane_count = a.ndims == 3 ? kPlaneCount : 1;
    if (a.ndims == 3) planes[1] = planes[2] = a;
    return kOk;
  }
  for (int k = 0; k < kPlaneCount; ++k) {
    TN_TRY(read_plane(ctx, nargin, k, &planes[k]));
    if (planes[k].ndims != 2) return kBadSize;
  }
  for (int k = 1; k < kPlaneCount; ++k) {
    if (planes[k].kind != planes[0].kind || planes[k].logical != planes[0].logical) return kWrongType;
    if (planes[k].rows != planes[0].rows || planes[k].cols != planes[0].cols) return kIncompatibleSize;
  }
  *plane_count = kPlaneCount;
  return kOk;
}

// Places the plane bytes behind the record's head, 8 to a double, the last
// one padded with zeros. Written as bytes: no byte pattern passes through
// a floating-point register.
void put_image_bytes(PlotWriter* w, const Plane planes[kPlaneCount], bool three, int64_t doubles) {
  uint8_t* dst = reinterpret_cast<uint8_t*>(w->data + w->used);
  std::memset(dst, 0, size_t(doubles) * kBytesPerDouble);
  const int64_t rc = int64_t(planes[0].rows) * planes[0].cols;
  int64_t at = 0;
  for (int k = 0; k < (three ? kPlaneCount : 1); ++k) {
    // A three-page array gives its planes as pages; three matrices their page 0.
    const int32_t page = planes[k].pages == kPlaneCount ? k : 0;
    for (int64_t i = 0; i < rc; ++i) dst[at++] = planes[k].byte(page, i);
  }
  w->used += int32_t(doubles);
}

// The last map record of the whole list: its first data index and k.
bool last_colour_map(const CommandList& list, const double** data, int32_t* k) {
  PlotReader r;
  plotreader_init(&r, list.data, *list.used, 0);
  PlotRecord rec;
  bool found = false;
  while (plotreader_next(&r, &rec)) {
    int32_t m;
    if (rec.code_int != kCodeColourMap || !record_count(rec, 0, (rec.n - 1) / kMapColumns, &m)) continue;
    *data = rec.data + 1;
    *k = m;
    found = true;
  }
  return found;
}

// Start of the current object (its opening record), and the doubles that
// its map records take.
void current_maps(const CommandList& list, int32_t* object_start, int64_t* map_doubles) {
  PlotReader r;
  plotreader_init(&r, list.data, *list.used, 0);
  PlotRecord rec;
  *object_start = 0;
  *map_doubles = 0;
  while (plotreader_next(&r, &rec)) {
    if (rec.code_int == kCodeOpenObject) *object_start = rec.at, *map_doubles = 0;
    if (rec.code_int == kCodeColourMap) *map_doubles += kRecHead + rec.n;
  }
}

// Removes the map records of the current object; later records move down.
void remove_current_maps(const CommandList& list, int32_t object_start) {
  PlotReader r;
  plotreader_init(&r, list.data, *list.used, object_start);
  PlotRecord rec;
  int32_t to = object_start;
  int32_t end = object_start;
  while (plotreader_next(&r, &rec)) {
    const int32_t len = kRecHead + rec.n;
    end = rec.at + len;
    if (rec.code_int == kCodeColourMap) continue;
    if (to != rec.at) std::memmove(list.data + to, list.data + rec.at, size_t(len) * sizeof(double));
    to += len;
  }
  // Anything the reader could not walk stays behind the kept records.
  if (end < *list.used) std::memmove(list.data + to, list.data + end, size_t(*list.used - end) * sizeof(double));
  *list.used = to + (*list.used - end);
}

int push_map(EngineContext* ctx, const CommandList& list) {
  const double* data = nullptr;
  int32_t k = 0;
  if (!last_colour_map(list, &data, &k)) return stk_push_empty(ctx);
  double* re = nullptr;
  // A push never moves the block (a full stack fails instead), so the map
  // read before it is still in place.
  TN_TRY(stk_push_matrix(ctx, k, kMapColumns, &re, nullptr));
  for (int32_t i = 0; i < k; ++i)
    for (int32_t c = 0; c < kMapColumns; ++c) re[int64_t(i) * kMapColumns + c] = data[int64_t(c) * k + i];
  return kOk;
}

}  // namespace

// image(A), image(Rp, Gp, Bp), each with optional limits, option string
// and id.
int plot_cmd_image(EngineContext* ctx, int nargin, Subplot* s, CommandList list, bool ids_allowed) {
  int left = nargin;
  double id = kNoId;
  int option_at = -1;
  if (ids_allowed && nargin >= 3 && stk_is_char(ctx, 1)) {
    TN_TRY(stk_get_real_scalar(ctx, 0, &id));
    option_at = nargin - 2;
    left = nargin - 2;
  } else if (nargin >= 1 && stk_is_char(ctx, 0)) {
    option_at = nargin - 1;
    left = nargin - 1;
  }
  uint32_t flags = 0;
  if (option_at >= 0) {
    char text[kOptionBytes];
    int32_t len = 0;
    TN_TRY(stk_get_string_buf(ctx, nargin - 1 - option_at, text, kOptionBytes, &len));
    flags |= image_option_flags(text, len);
  }
  MatArg limits;
  if (left == 2 || left == 4) {
    TN_TRY(arg_matrix(ctx, nargin, left - 1, &limits));
    if (int64_t(limits.rows) * limits.cols != 4) return kBadSize;
    --left;
  }
  if (left != 1 && left != 3) return kBadArgument;
  Plane planes[kPlaneCount];
  int count = 0;
  TN_TRY(image_planes(ctx, nargin, left, planes, &count));
  const bool three = count == kPlaneCount;
  const int32_t rows = planes[0].rows, cols = planes[0].cols;
  const int64_t bytes = int64_t(rows) * cols * (three ? kPlaneCount : 1);
  const int64_t byte_doubles = (bytes + kBytesPerDouble - 1) / kBytesPerDouble;
  TN_TRY(command_room(list, kRecHead + kImageHead + byte_doubles));
  command_open(list, s);
  if (three) flags |= kImageThreePlanes;
  const double x1 = limits.given ? limits.re[0] : 0.0, x2 = limits.given ? limits.re[1] : double(cols);
  const double y1 = limits.given ? limits.re[2] : 0.0, y2 = limits.given ? limits.re[3] : double(rows);
  PlotWriter w = command_writer(list);
  plotwriter_begin_record(&w, kCodeImage, id, 0, nullptr, int32_t(kImageHead + byte_doubles));
  for (double v : {double(flags), double(rows), double(cols), x1, y1, x2 - x1, y2 - y1}) plotwriter_put(&w, v);
  put_image_bytes(&w, planes, three, byte_doubles);
  *list.used = w.used;
  const double xs[2] = {x1, x2}, ys[2] = {y1, y2};
  subplot_autoscale_to_data(s, xs, ys, nullptr, 2);
  command_done(ctx, nargin);
  return kOk;
}

// pcolor(Cv) or pcolor(X, Y, Cv), then an optional style and id. X has
// Cv's size or one value per column; Y Cv's size or one per row.
int plot_cmd_pcolor(EngineContext* ctx, int nargin, Subplot* s, CommandList list, bool ids_allowed) {
  const char* spec_one = ids_allowed ? "R[Sr" : "R[S";
  const char* spec_three = ids_allowed ? "RRR[Sr" : "RRR[S";
  const bool three = nargin >= 3 && !stk_is_char(ctx, nargin - 2);
  const int cv_at = three ? 2 : 0;
  TN_TRY(arg_refuse_text(ctx, nargin, 0, cv_at + 1));
  TN_TRY(stk_argcheck(ctx, nargin, three ? spec_three : spec_one));
  if (nargin > cv_at + (ids_allowed ? 3 : 2)) return kTooManyInputs;
  MatArg x, y, v;
  TN_TRY(arg_matrix(ctx, nargin, cv_at, &v));
  const int32_t R = v.rows, C = v.cols;
  uint32_t flags = 0;
  if (three) {
    TN_TRY(arg_matrix(ctx, nargin, 0, &x));
    TN_TRY(arg_matrix(ctx, nargin, 1, &y));
    const int64_t nx = int64_t(x.rows) * x.cols, ny = int64_t(y.rows) * y.cols;
    if (x.rows == R && x.cols == C) flags |= kCellsXMatrix;
    else if ((x.rows == 1 || x.cols == 1) && nx == C) flags |= kCellsXVector;
    else return kIncompatibleSize;
    if (y.rows == R && y.cols == C) flags |= kCellsYMatrix;
    else if ((y.rows == 1 || y.cols == 1) && ny == R) flags |= kCellsYVector;
    else return kIncompatibleSize;
  }
  StyleArg style;
  if (nargin > cv_at + 1) TN_TRY(arg_style(ctx, nargin, cv_at + 1, &style));
  double id = kNoId;
  if (nargin > cv_at + 2) TN_TRY(stk_get_real_scalar(ctx, 0, &id));
  StyleSpec st{kCellsDefaultBits, 0, 0, 0};
  if (style.length >= 0) TN_TRY(style_of(style, 0, kDefaultCurveBits, nullptr, &st));
  const int64_t rc = int64_t(R) * C;
  const int64_t nx = (flags & kCellsXMatrix) ? rc : (flags & kCellsXVector) ? C : 0;
  const int64_t ny = (flags & kCellsYMatrix) ? rc : (flags & kCellsYVector) ? R : 0;
  const int64_t n = kCellsHead + nx + ny + rc;
  if (n > INT32_MAX - kRecHead) return kPlotOverflow;
  TN_TRY(command_room(list, kRecHead + n));
  command_open(list, s);
  PlotWriter w = command_writer(list);
  plotwriter_begin_record(&w, kCodeCells, id, 0, &st, int32_t(n));
  plotwriter_put(&w, flags);
  plotwriter_put(&w, R);
  plotwriter_put(&w, C);
  for (int64_t i = 0; i < nx; ++i) plotwriter_put(&w, x.re[i]);
  for (int64_t i = 0; i < ny; ++i) plotwriter_put(&w, y.re[i]);
  for (int64_t i = 0; i < rc; ++i) plotwriter_put(&w, v.re[i]);
  *list.used = w.used;
  const double cx[2] = {1.0, double(C)}, cy[2] = {1.0, double(R)};
  if (nx) subplot_autoscale_to_data(s, x.re, nullptr, nullptr, int32_t(nx));
  else subplot_autoscale_to_data(s, cx, nullptr, nullptr, 2);
  if (ny) subplot_autoscale_to_data(s, nullptr, y.re, nullptr, int32_t(ny));
  else subplot_autoscale_to_data(s, nullptr, cy, nullptr, 2);
  command_done(ctx, nargin);
  return kOk;
}

int plot_cmd_colormap(EngineContext* ctx, int nargin, int nargout, Subplot* s, CommandList list) {
  if (nargin == 0) {
    if (nargout > 0) return push_map(ctx, list);
    return nargout < 0 ? stk_push_no_value(ctx) : int(kOk);
  }
  if (nargin > 1) return kTooManyInputs;
  // A map is a real matrix. Characters are refused with the argument
  // readers' "Wrong type": the other code would have the engine retry them
  // as their character codes, and a text of three letters would pass for a
  // colour out of range.
  if (stk_is_char(ctx, 0)) return kWrongType;
  MatArg map;
  if (arg_real_matrix(ctx, nargin, 0, &map) != kOk) return kWrongArgType;
  if (map.cols != kMapColumns) return kBadSize;
  const int32_t k = map.rows;
  for (int64_t i = 0; i < int64_t(k) * kMapColumns; ++i)
    if (!(map.re[i] >= 0.0 && map.re[i] <= 1.0)) return kArgOutOfRange;
  if (nargout < 0 && !desc_room(ctx)) return kStackOverflow;
  int32_t object_start = 0;
  int64_t removed = 0;
  if (*list.used > 0) current_maps(list, &object_start, &removed);
  // Room after the removal, tested before anything is removed.
  const int64_t need = kRecHead + 1 + int64_t(kMapColumns) * k + (*list.used == 0 ? kOpenObjectLength : 0);
  if (need > int64_t(list.capacity) - (*list.used - removed)) return kPlotOverflow;
  if (*list.used > 0) remove_current_maps(list, object_start);
  command_open(list, s);
  PlotWriter w = command_writer(list);
  plotwriter_begin_record(&w, kCodeColourMap, -1, -1, nullptr, 1 + kMapColumns * k);
  plotwriter_put(&w, k);
  for (int32_t c = 0; c < kMapColumns; ++c)
    for (int32_t i = 0; i < k; ++i) plotwriter_put(&w, map.at(i, c));
  *list.used = w.used;
  if (nargout > 0) return kOk;  // the argument stays as the result
  stk_drop(ctx);
  return nargout < 0 ? stk_push_no_value(ctx) : int(kOk);
}
