// plotpoly, mesh and surf: one polygon-mesh record each, {flags, P, N, x[N],
// y[N], z[N], colours, (zmin, zmax), F, F·P vertex numbers}. Sizes are
// counted in 64 bits from the arguments before anything is written; vertex
// numbers are checked at the command, so the record never names a vertex
// it does not hold.
#include "graphics/commands/poly_commands.h"

#include <cmath>
#include <cstring>

#include "engine/core/convert.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "graphics/commands/command_args.h"
#include "graphics/subplot/autoscale.h"

namespace {

constexpr int32_t kMeshHead = 3;  // flags, P, N
constexpr int32_t kQuad = 4;
constexpr int32_t kTriangle = 3;
constexpr int32_t kRgbPlanes = 3;
constexpr int32_t kOptionBytes = 16;
constexpr int32_t kFaceKindBytes = 8;
constexpr char kStripWord[] = "strip";
constexpr char kFanWord[] = "fan";
constexpr uint32_t kPlotpolyDefault = kMeshFill;
constexpr uint32_t kMeshDefault = kMeshFill | kMeshEdges;
constexpr uint32_t kStyleDefaultBits = kStyleKindInvisible;

// A double array argument of any shape (the real part of a complex one).
struct ArrayArg {
  bool given = false;
  int nd = 0;
  const uint32_t* dims = nullptr;
  int64_t count = 0;
  const double* re = nullptr;
  uint32_t dim(int k) const { return k < nd ? dims[k] : 1u; }
};

int arg_array(EngineContext* ctx, int nargin, int arg, ArrayArg* out) {
  double* re = nullptr;
  double* im = nullptr;
  TN_TRY(stk_get_double_array(ctx, nargin - 1 - arg, &out->nd, &out->dims, &out->count, &re, &im));
  out->re = re;
  out->given = true;
  return kOk;
}

bool same_dims(const ArrayArg& a, const ArrayArg& b) {
  if (a.nd != b.nd) return false;
  for (int k = 0; k < a.nd; ++k)
    if (a.dims[k] != b.dims[k]) return false;
  return true;
}

// The options string: f 1, b 2 and (plotpoly) * 4; "*" alone asks for all
// three. An empty string keeps the default.
int read_options(EngineContext* ctx, int nargin, int arg, bool ears_allowed, uint32_t* flags) {
  if (!stk_is_char(ctx, nargin - 1 - arg)) return kWrongType;
  char text[kOptionBytes];
  int32_t len = 0;
  if (stk_get_string_buf(ctx, nargin - 1 - arg, text, kOptionBytes, &len) != kOk) return kUnknownOption;
  if (len == 0) return kOk;
  uint32_t v = 0;
  for (int32_t i = 0; i < len; ++i) {
    if (text[i] == 'f') v |= kMeshFill;
    else if (text[i] == 'b') v |= kMeshEdges;
    else if (text[i] == '*' && ears_allowed) v |= kMeshEars;
    else return kUnknownOption;
  }
  *flags = v == kMeshEars ? kMeshFill | kMeshEdges | kMeshEars : v;
  return kOk;
}

// The colours as the record stores them.
struct Colours {
  uint32_t flags = kMeshNoColour;
  const double* re = nullptr;
  int64_t count = 0;         // doubles written
  int64_t column_rows = -1;  // >= 0: an N-by-3 matrix written column by column
};

void put_colours(PlotWriter* w, const Colours& c) {
  if (c.column_rows < 0) {
    for (int64_t i = 0; i < c.count; ++i) plotwriter_put(w, c.re[i]);
    return;
  }
  for (int32_t j = 0; j < kRgbPlanes; ++j)
    for (int64_t i = 0; i < c.column_rows; ++i) plotwriter_put(w, c.re[i * kRgbPlanes + j]);
}

// zmin and zmax over the values that are not NaN (NaN when there are none).
void put_z_range(PlotWriter* w, const double* z, int64_t n) {
  double lo = NAN, hi = NAN;
  for (int64_t i = 0; i < n; ++i) {
    if (std::isnan(z[i])) continue;
    if (!(z[i] >= lo)) lo = z[i];
    if (!(z[i] <= hi)) hi = z[i];
  }
  plotwriter_put(w, lo);
  plotwriter_put(w, hi);
}

// Vertex numbers as 32-bit integers, two per double in memory order; the
// block ends with one double more (half or wholly zero), floor(F·P/2) + 1
// in all. Written as bytes: no bit pattern passes through a float register.
struct FacePacker {
  PlotWriter* w;
  uint32_t pending = 0;
  bool half = false;
  void put(int64_t v) {
    if (!half) {
      pending = uint32_t(v);
      half = true;
      return;
    }
    store(uint64_t(pending) | uint64_t(uint32_t(v)) << 32);
    half = false;
  }
  void finish() { store(half ? uint64_t(pending) : 0u); }
  void store(uint64_t bits) {
    std::memcpy(w->data + w->used, &bits, sizeof bits);
    ++w->used;
  }
};
int64_t face_doubles(int64_t fp) { return fp / 2 + 1; }

// The record's doubles after its header.
int64_t mesh_data(int64_t n, const Colours& c, int64_t fp) {
  return kMeshHead + 3 * n + c.count + ((c.flags & kMeshNoColour) ? 2 : 0) + 1 + face_doubles(fp);
}

// Room for the whole record (and the opening record): F·P must fit 32 bits.
int mesh_room(const CommandList& list, int64_t n, const Colours& c, int64_t fp) {
  if (fp > INT32_MAX) return kPlotOverflow;
  return command_room(list, kRecHead + mesh_data(n, c, fp));
}

// Style, flags and line kind by the table of mesh flags. A style that fills
// (its pen bits exactly the fill bit) colours the faces of plotpoly and surf.
uint32_t style_flags(bool is_mesh, bool coloured, bool styled, StyleSpec* st) {
  const bool fills = (st->bits & kStyleBitsPen) == kStyleBitFill;
  uint32_t f = 0;
  if (is_mesh) {
    if (coloured || !styled) f |= kMeshPlainLines;
    if (styled && !coloured) f |= kMeshStyledLines;
  } else {
    if (styled && !fills) f |= kMeshStyledLines;
    if (coloured || !fills) f |= kMeshColouredFaces;
    if (!coloured && fills) f |= kMeshStyleFaces;
  }
  if ((f & kMeshStyledLines) && (st->bits & kStyleBitsKind) == kStyleKindInvisible) st->bits &= ~kStyleBitsKind;
  return f;
}

// The trailing style and id arguments from `at` on.
int read_style_and_id(EngineContext* ctx, int nargin, int at, bool ids_allowed, StyleArg* style, double* id,
                      StyleSpec* st) {
  if (nargin > at + 2 || (nargin == at + 2 && !ids_allowed)) return kTooManyInputs;
  if (nargin == at + 2) TN_TRY(stk_get_real_scalar(ctx, 0, id));
  if (nargin >= at + 1) TN_TRY(arg_style(ctx, nargin, at, style));
  return style_of(*style, 0, kStyleDefaultBits, nullptr, st);
}

// plotpoly's colour argument against N vertices.
int plotpoly_colours(const ArrayArg& c, int64_t n, Colours* out) {
  if (!c.given || c.count == 0) return kOk;
  const bool three_columns = c.nd == 2 && c.dims[1] == uint32_t(kRgbPlanes);
  const int64_t q = c.count;
  out->re = c.re;
  out->count = q;
  if (q == n && !(q == kRgbPlanes && three_columns)) {
    out->flags = kMeshValues;
  } else if (q == n) {
    out->flags = kMeshUniform | kMeshRgb;
  } else if (q == kRgbPlanes * n) {
    out->flags = kMeshRgb;
    if (three_columns) out->column_rows = n;
  } else if (q == 1) {
    out->flags = kMeshUniform | kMeshValues;
  } else if (q == kRgbPlanes) {
    out->flags = kMeshUniform | kMeshRgb;
  } else {
    return kIncompatibleSize;
  }
  return kOk;
}

// The faces of "strip" and "fan": F = N - 2 triangles (none below 3 vertices).
enum class FaceKind { kMatrix, kStrip, kFan };
int read_face_kind(EngineContext* ctx, int nargin, int arg, FaceKind* kind) {
  char text[kFaceKindBytes];
  int32_t len = 0;
  if (stk_get_string_buf(ctx, nargin - 1 - arg, text, kFaceKindBytes, &len) != kOk) return kUnknownOption;
  auto is = [&](const char* word) {
    return size_t(len) == std::strlen(word) && std::memcmp(text, word, size_t(len)) == 0;
  };
  if (is(kStripWord)) *kind = FaceKind::kStrip;
  else if (is(kFanWord)) *kind = FaceKind::kFan;
  else return kUnknownOption;
  return kOk;
}

// Face matrix values: whole numbers from 1 to n.
int check_faces(const MatArg& f, int64_t n) {
  const int64_t count = int64_t(f.rows) * f.cols;
  for (int64_t i = 0; i < count; ++i) {
    const double v = f.re[i];
    if (v != std::floor(v)) return kNonIntegerIndex;  // NaN too
    if (!(v >= 1 && v <= double(n))) return kIndexOutOfRange;
  }
  return kOk;
}

void put_vertex_block(PlotWriter* w, const ArrayArg& a) {
  for (int64_t i = 0; i < a.count; ++i) plotwriter_put(w, a.re[i]);
}

// Arguments of mesh and surf after z: their positions.
struct MeshArgs {
  ArrayArg x, y, z, c;
  bool vectors = false;  // x and y give column and row coordinates
  int32_t rows = 0, cols = 0;
};

int mesh_coordinates(EngineContext* ctx, int nargin, MeshArgs* a, int* next) {
  int32_t r = 0, c = 0;
  const bool xyz = nargin >= 3 && stk_get_matrix(ctx, nargin - 2, &r, &c, nullptr, nullptr) == kOk;
  if (!xyz) {
    TN_TRY(arg_array(ctx, nargin, 0, &a->z));
    *next = 1;
  } else {
    TN_TRY(arg_array(ctx, nargin, 0, &a->x));
    TN_TRY(arg_array(ctx, nargin, 1, &a->y));
    TN_TRY(arg_array(ctx, nargin, 2, &a->z));
    *next = 3;
  }
  if (a->z.nd != 2) return kBadSize;
  a->rows = int32_t(a->z.dims[0]), a->cols = int32_t(a->z.dims[1]);
  if (!xyz) return kOk;
  if (!same_dims(a->y, a->z)) {
    if (a->y.count != a->rows || a->x.count != a->cols) return kIncompatibleSize;
    a->vectors = true;
  } else if (!same_dims(a->x, a->z)) {
    return kIncompatibleSize;
  }
  return kOk;
}

// mesh's colour argument against an R-by-C grid.
int mesh_colours(const MeshArgs& a, Colours* out) {
  const ArrayArg& c = a.c;
  if (!c.given || c.count == 0) return kOk;
  if (c.nd > 3 || (c.nd == 3 && c.dims[2] != uint32_t(kRgbPlanes))) return kBadSize;
  const uint32_t kind = c.nd == 3 ? kMeshRgb : kMeshValues;
  out->re = c.re;
  out->count = c.count;
  if (c.dims[0] == 1 && c.dims[1] == 1) {
    out->flags = kMeshUniform | kind;
  } else if (c.dims[0] == uint32_t(a.rows) && c.dims[1] == uint32_t(a.cols)) {
    out->flags = kind;
  } else {
    return kIncompatibleSize;
  }
  return kOk;
}

void put_grid(PlotWriter* w, const MeshArgs& a) {
  const int32_t R = a.rows, C = a.cols;
  for (int32_t r = 0; r < R; ++r)
    for (int32_t c = 0; c < C; ++c)
      plotwriter_put(w, !a.x.given ? double(c + 1) : a.vectors ? a.x.re[c] : a.x.re[int64_t(r) * C + c]);
  for (int32_t r = 0; r < R; ++r)
    for (int32_t c = 0; c < C; ++c)
      plotwriter_put(w, !a.y.given ? double(r + 1) : a.vectors ? a.y.re[r] : a.y.re[int64_t(r) * C + c]);
  put_vertex_block(w, a.z);
}

}  // namespace

int plot_cmd_plotpoly(EngineContext* ctx, int nargin, Subplot* s, CommandList list, bool ids_allowed) {
  TN_TRY(arg_refuse_text(ctx, nargin, 0, 3));
  TN_TRY(stk_argcheck(ctx, nargin, "aaa*"));
  if (nargin < 4) return kTooFewInputs;
  const bool with_c = nargin >= 5 && !stk_is_char(ctx, nargin - 5);
  const int faces_at = with_c ? 4 : 3;
  ArrayArg c;
  if (with_c) TN_TRY(arg_array(ctx, nargin, 3, &c));
  uint32_t options = kPlotpolyDefault;
  if (nargin > faces_at + 1) TN_TRY(read_options(ctx, nargin, faces_at + 1, true, &options));
  StyleArg style;
  double id = kNoId;
  StyleSpec st;
  TN_TRY(read_style_and_id(ctx, nargin, faces_at + 2, ids_allowed, &style, &id, &st));
  FaceKind kind = FaceKind::kMatrix;
  MatArg faces;
  if (stk_is_char(ctx, nargin - 1 - faces_at)) {
    TN_TRY(read_face_kind(ctx, nargin, faces_at, &kind));
  } else {
    TN_TRY(arg_real_matrix(ctx, nargin, faces_at, &faces));
    if (faces.cols != 0 && faces.cols < kTriangle) return kBadSize;
  }
  ArrayArg x, y, z;
  TN_TRY(arg_array(ctx, nargin, 0, &x));
  TN_TRY(arg_array(ctx, nargin, 1, &y));
  TN_TRY(arg_array(ctx, nargin, 2, &z));
  const int64_t n = x.count;
  if (y.count != n || z.count != n) return kIncompatibleSize;
  Colours colours;
  TN_TRY(plotpoly_colours(c, n, &colours));
  int64_t f = faces.rows, p = faces.cols;
  if (kind != FaceKind::kMatrix) f = n >= kTriangle ? n - 2 : 0, p = kTriangle;
  else TN_TRY(check_faces(faces, n));
  TN_TRY(mesh_room(list, n, colours, f * p));

  const bool coloured = !(colours.flags & kMeshNoColour);
  const uint32_t flags = options | colours.flags | style_flags(false, coloured, style.length >= 0, &st);
  command_open(list, s);
  subplot_set_3d(s, 1);
  PlotWriter w = command_writer(list);
  plotwriter_begin_record(&w, kCodePolygons, id, 1, &st, int32_t(mesh_data(n, colours, f * p)));
  plotwriter_put(&w, flags);
  plotwriter_put(&w, double(p));
  plotwriter_put(&w, double(n));
  const int32_t vertices = w.used;
  put_vertex_block(&w, x);
  put_vertex_block(&w, y);
  put_vertex_block(&w, z);
  put_colours(&w, colours);
  if (!coloured) put_z_range(&w, z.re, n);
  plotwriter_put(&w, double(f));
  FacePacker pack{&w};
  for (int64_t k = 0; k < f; ++k) {
    if (kind == FaceKind::kFan) {
      pack.put(0), pack.put(k + 1), pack.put(k + 2);
    } else if (kind == FaceKind::kStrip) {
      pack.put(k % 2 ? k + 1 : k), pack.put(k % 2 ? k : k + 1), pack.put(k + 2);
    } else {
      for (int64_t j = 0; j < p; ++j) pack.put(int64_t(faces.re[k * p + j]) - 1);
    }
  }
  pack.finish();
  const double* v = w.data + vertices;
  subplot_autoscale_to_data(s, v, v + n, v + 2 * n, int32_t(n));
  *list.used = w.used;
  command_done(ctx, nargin);
  return kOk;
}

int plot_cmd_mesh(EngineContext* ctx, int nargin, Subplot* s, bool surface, CommandList list, bool ids_allowed) {
  TN_TRY(arg_refuse_text(ctx, nargin, 0, 1));
  TN_TRY(stk_argcheck(ctx, nargin, "a*"));
  if (nargin < 1) return kTooFewInputs;
  MeshArgs a;
  int at = 0;
  TN_TRY(mesh_coordinates(ctx, nargin, &a, &at));
  if (at < nargin && !stk_is_char(ctx, nargin - 1 - at) && arg_array(ctx, nargin, at, &a.c) == kOk) ++at;
  uint32_t options = kMeshDefault;
  if (at < nargin) TN_TRY(read_options(ctx, nargin, at++, false, &options));
  StyleArg style;
  double id = kNoId;
  StyleSpec st;
  TN_TRY(read_style_and_id(ctx, nargin, at, ids_allowed, &style, &id, &st));
  Colours colours;
  TN_TRY(mesh_colours(a, &colours));
  if (a.rows < 2 || a.cols < 2) {
    command_done(ctx, nargin);
    return kOk;
  }
  const int64_t n = int64_t(a.rows) * a.cols;
  const int64_t f = int64_t(a.rows - 1) * (a.cols - 1);
  TN_TRY(mesh_room(list, n, colours, f * kQuad));

  const bool coloured = !(colours.flags & kMeshNoColour);
  const uint32_t flags = options | colours.flags | style_flags(!surface, coloured, style.length >= 0, &st);
  command_open(list, s);
  subplot_set_3d(s, 1);
  PlotWriter w = command_writer(list);
  plotwriter_begin_record(&w, kCodePolygons, id, 1, &st, int32_t(mesh_data(n, colours, f * kQuad)));
  plotwriter_put(&w, flags);
  plotwriter_put(&w, kQuad);
  plotwriter_put(&w, double(n));
  const int32_t vertices = w.used;
  put_grid(&w, a);
  put_colours(&w, colours);
  if (!coloured) put_z_range(&w, a.z.re, n);
  plotwriter_put(&w, double(f));
  FacePacker pack{&w};
  const int64_t C = a.cols;
  for (int64_t r = 0; r + 1 < a.rows; ++r)
    for (int64_t c = 0; c + 1 < C; ++c) {
      pack.put(r * C + c), pack.put(r * C + c + 1);
      pack.put((r + 1) * C + c + 1), pack.put((r + 1) * C + c);
    }
  pack.finish();
  const double* v = w.data + vertices;
  subplot_autoscale_to_data(s, v, v + n, v + 2 * n, int32_t(n));
  *list.used = w.used;
  command_done(ctx, nargin);
  return kOk;
}
