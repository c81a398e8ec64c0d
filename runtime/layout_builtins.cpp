// The layout built-ins of application code: `subplots`, `subplotprops`,
// `subplotpos`, `subplotsize`, `subplotspring` and `subplotparam`. Each
// checks every input before it changes anything, and a call that fails
// leaves the stacks and the instance as they were: the instance record is
// copied before a change and put back when an output or the stored layout
// cannot be written. An empty input changes nothing (the declaration hands
// every setting over, empty ones included).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/containers.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "graphics/render/graphics_driver.h"
#include "runtime/layout.h"
#include "runtime/record_list.h"
#include "runtime/records.h"
#include "runtime/special_vars.h"
#include "runtime/tn_builtins.h"
#include "runtime/undo_store.h"

namespace {

constexpr int32_t kPropsColumns = 5;    // flag word, xmin, xmax, ymin, ymax
constexpr int32_t kPosColumns = 4;      // left, right, top, bottom
constexpr int32_t kSizeElements = 2;    // width, height
constexpr double kMaxFlagWord = 4294967295.0;
constexpr char kCellSeparator = '\t';
constexpr char kLF = '\n';
constexpr char kCR = '\r';
constexpr char kFirstPrintable = ' ';

// The instance that the running code belongs to, found through the call context.
struct Call {
  EngineContext* ctx;
  CallContext* cc;
  RuntimeBlock* b;
  InstanceRec* rec;
  int32_t id;
  int32_t n;  // subplots: rows x cols, at most the maximum
};

int begin_call(EngineContext* ctx, uintptr_t data, Call* out) {
  CallContext* cc = reinterpret_cast<CallContext*>(data);
  // Layout and redraw belong to the figure's own set-up and drawing code.
  if (!cc || !cc->block || !cc->flags) return kBadContext;
  InstanceRec* rec = inst_find_by_id(cc->block, cc->instance_id);
  if (!rec) return kBadContext;
  const int32_t n = std::min(std::max(0, rec->rows) * std::max(0, rec->cols), kMaxSubplots);
  *out = Call{ctx, cc, cc->block, rec, cc->instance_id, n};
  return kOk;
}

// The input at depth as a real matrix; its values copied out, so that the
// pushes of the outputs cannot reach them.
struct Matrix {
  int32_t rows = 0, cols = 0;
  std::vector<double> v;
  bool empty() const { return rows == 0 || cols == 0; }
  double at(int32_t i, int32_t j) const { return v[size_t(i) * size_t(cols) + size_t(j)]; }
};

int read_matrix(EngineContext* ctx, int depth, Matrix* m) {
  double *re = nullptr, *im = nullptr;
  TN_TRY(stk_get_matrix(ctx, depth, &m->rows, &m->cols, &re, &im));
  if (im) return kWrongType;
  m->v.assign(re, re + int64_t(m->rows) * m->cols);
  return kOk;
}

// An n x columns input, or an empty one (nothing to set).
int read_table(EngineContext* ctx, int depth, int32_t n, int32_t columns, Matrix* m) {
  TN_TRY(read_matrix(ctx, depth, m));
  if (m->empty()) return kOk;
  return m->rows == n && m->cols == columns ? kOk : kBadSize;
}

int push_matrix(EngineContext* ctx, int32_t rows, int32_t cols, const double* values) {
  double* re = nullptr;
  TN_TRY(stk_push_matrix(ctx, rows, cols, &re, nullptr));
  if (rows > 0 && cols > 0) std::memcpy(re, values, sizeof(double) * size_t(rows) * size_t(cols));
  return kOk;
}

// The end of a call: with the instance changed, the figure is laid out
// again and the stored layout rewritten, and the caller learns that the
// layout changed and a redraw is wanted; then the inputs below the pushed
// outputs go. A failure drops the outputs and restores the record.
int finish_call(const Call& c, const InstanceRec& before, int nargin, int nargout, int pushed) {
  const bool changed = std::memcmp(&before, c.rec, sizeof before) != 0;
  int status = kOk;
  // A statement call leaves one item: the no-value when it gave nothing.
  if (nargout < 0 && pushed == 0) {
    status = stk_push_no_value(c.ctx);
    if (status == kOk) pushed = 1;
  }
  if (changed) {
    inst_layout_positions(c.rec);
    status = inst_layout_to_array(c.b, c.id);
  }
  if (status != kOk) {
    for (int k = 0; k < pushed; ++k) stk_drop(c.ctx);
    std::memcpy(static_cast<void*>(c.rec), &before, sizeof before);
    return status;
  }
  if (changed) c.cc->status |= kCallLayoutChanged | kCallRedraw;
  return nargin > 0 ? stk_remove(c.ctx, pushed, nargin) : kOk;
}

// Puts the record back after a failed push of outputs.
int undo_change(const Call& c, const InstanceRec& before, int pushed, int status) {
  for (int k = 0; k < pushed; ++k) stk_drop(c.ctx);
  std::memcpy(static_cast<void*>(c.rec), &before, sizeof before);
  return status;
}

// A value the caller sees when it asks for one, or when a statement call
// (nargout < 0) gave no input: it then shows it. No output asked for
// (nargout 0) leaves nothing.
int wanted_outputs(int nargin, int nargout) { return nargout > 0 ? nargout : nargin == 0 && nargout < 0 ? 1 : 0; }

// ---- subplots: the layout as text --------------------------------------------

// The text of the figure record at run position `figure`, or "".
std::string figure_name(RuntimeBlock* b, int32_t id, int32_t figure) {
  int32_t start = 0;
  RecordView r;
  const char* text = nullptr;
  int32_t length = 0;
  if (figure < 0 || rec_find_instance(b, id, &start) != 0) return {};
  if (!rec_at(b, int64_t(start) + figure, &r) || r.tag != kTagFigure || !rec_text(r, 0, &text, &length)) return {};
  return std::string(text, size_t(length));
}

// The figure whose name the cell starts with, the name followed by the end
// of the cell or a control character; kEmptyFigure for an empty cell and
// kDefaultFigure for a name that no figure has.
int32_t figure_of_cell(RuntimeBlock* b, int32_t id, const std::string& cell) {
  if (cell.empty()) return kEmptyFigure;
  for (int32_t pos = -1; rec_find_tag(b, id, &pos, kTagFigure) == 0;) {
    const std::string name = figure_name(b, id, pos);
    if (cell.compare(0, name.size(), name) != 0) continue;
    if (cell.size() == name.size() || static_cast<unsigned char>(cell[name.size()]) < kFirstPrintable) return pos;
  }
  return kDefaultFigure;
}

// Lines end at LF, CR or CR LF; a last line without its end counts.
std::vector<std::vector<std::string>> split_layout(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row(1);
  for (size_t i = 0; i < text.size(); ++i) {
    const char ch = text[i];
    if (ch == kCR || ch == kLF) {
      if (ch == kCR && i + 1 < text.size() && text[i + 1] == kLF) ++i;
      rows.push_back(row);
      row.assign(1, std::string());
    } else if (ch == kCellSeparator) {
      row.emplace_back();
    } else {
      row.back() += ch;
    }
  }
  if (row.size() > 1 || !row[0].empty()) rows.push_back(row);
  return rows;
}

std::string layout_text(const Call& c) {
  std::string text;
  for (int32_t i = 0; i < c.rec->rows && i * c.rec->cols < c.n; ++i) {
    if (i > 0) text += kLF;
    for (int32_t j = 0; j < c.rec->cols; ++j) {
      if (j > 0) text += kCellSeparator;
      text += figure_name(c.b, c.id, inst_own_figure(c.rec->subplots[i * c.rec->cols + j]));
    }
  }
  return text;
}

int set_layout_text(const Call& c, const std::string& text) {
  const auto rows = split_layout(text);
  if (rows.empty()) return kOk;
  size_t cols = 0;
  for (const auto& row : rows) cols = std::max(cols, row.size());
  TN_TRY(inst_set_grid(c.b, c.id, int32_t(std::min<size_t>(rows.size(), kMaxSubplots)),
                       int32_t(std::min<size_t>(cols, kMaxSubplots))));
  for (int32_t i = 0; i < c.rec->rows; ++i)
    for (int32_t j = 0; j < c.rec->cols; ++j) {
      const auto& row = rows[size_t(i)];
      const std::string cell = size_t(j) < row.size() ? row[size_t(j)] : std::string();
      TN_TRY(inst_subplot_assign(c.b, c.id, i, j, figure_of_cell(c.b, c.id, cell), false));
    }
  return kOk;
}

// ---- subplotprops: scale settings and 3-D views -------------------------------

bool valid_flag_word(double v) { return v >= 0 && v <= kMaxFlagWord && v == std::floor(v); }

int check_views(const Call& c, const Matrix& views) {
  for (int32_t i = 0; i < views.rows; ++i) {
    const double k = views.at(i, 0);
    if (!(k >= 0 && k < c.n && k == std::floor(k))) return kIndexOutOfRange;
    if (!valid_flag_word(views.at(i, 1))) return kBadArgument;
  }
  return kOk;
}

void apply_props(const Call& c, const Matrix& props, const Matrix& views) {
  for (int32_t k = 0; k < props.rows; ++k) {
    Subplot& s = c.rec->subplots[k];
    bool selected = false;
    layout_unpack_flags(uint32_t(props.at(k, 0)), &s, &selected);
    const double x0 = props.at(k, 1), x1 = props.at(k, 2), y0 = props.at(k, 3), y1 = props.at(k, 4);
    // All four 0: the scales follow the data again.
    s.frozen = x0 != 0 || x1 != 0 || y0 != 0 || y1 != 0;
    if (s.frozen) s.xMin = x0, s.xMax = x1, s.yMin = y0, s.yMax = y1;
  }
  for (int32_t i = 0; i < views.rows; ++i) {
    double row[kCameraColumns];
    for (int32_t j = 0; j < kCameraColumns; ++j) row[j] = views.at(i, j);
    layout_apply_camera_row(&c.rec->subplots[int32_t(row[0])], row);
  }
}

int push_props(const Call& c) {
  std::vector<double> v(size_t(c.n) * kPropsColumns);
  for (int32_t k = 0; k < c.n; ++k) {
    const Subplot& s = c.rec->subplots[k];
    const bool locked = s.frozen != 0;
    const double row[kPropsColumns] = {double(layout_pack_flags(s, false)), locked ? s.xMin : 0.0,
                                       locked ? s.xMax : 0.0, locked ? s.yMin : 0.0, locked ? s.yMax : 0.0};
    std::copy(row, row + kPropsColumns, v.begin() + k * kPropsColumns);
  }
  return push_matrix(c.ctx, c.n, kPropsColumns, v.data());
}

int push_views(const Call& c) {
  std::vector<double> v;
  int32_t rows = 0;
  for (int32_t k = 0; k < c.n; ++k) {
    if (!c.rec->subplots[k].is3D) continue;
    v.resize(size_t(rows + 1) * kCameraColumns);
    layout_camera_row(c.rec->subplots[k], k, v.data() + size_t(rows++) * kCameraColumns);
  }
  return push_matrix(c.ctx, rows, kCameraColumns, v.data());
}

}  // namespace

void rt_grid_steps(RuntimeBlock* b, double* step_x, double* step_y) {
  // The installed driver's grid; a step that could not divide (a metafile's
  // before its text is measured, or none installed) takes the screen's.
  const GraphicsDriver* d = b ? b->h.driver : nullptr;
  const auto usable = [](double v) { return std::isfinite(v) && v >= 1.0; };
  *step_x = d && usable(d->values.gridStepX) ? d->values.gridStepX : kDefaultGridStep;
  *step_y = d && usable(d->values.gridStepY) ? d->values.gridStepY : kDefaultGridStep;
}

int bi_subplots(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  if (nargout > 1) return kTooManyOutputs;  // one text or matrix at most
  Call c;
  TN_TRY(begin_call(ctx, data, &c));
  std::string text;
  if (nargin > 0) {
    if (!stk_is_char(ctx, 0)) {
      Matrix m;
      if (read_matrix(ctx, 0, &m) != kOk || !m.empty()) return kWrongArgType;
    } else {
      int64_t count = 0;
      int ndims = 0;
      const uint32_t* dims = nullptr;
      TN_TRY(stk_get_array_info(ctx, 0, &ndims, &dims, &count));
      text.resize(size_t(count) + 1);
      int32_t length = 0;
      TN_TRY(stk_get_string_buf(ctx, 0, text.data(), int32_t(text.size()), &length));
      text.resize(size_t(length));
    }
  }
  InstanceRec before;
  std::memcpy(static_cast<void*>(&before), c.rec, sizeof before);
  if (int s = set_layout_text(c, text); s != kOk) return undo_change(c, before, 0, s);
  int pushed = 0;
  if (wanted_outputs(nargin, nargout) > 0) {
    const std::string now = layout_text(c);
    if (int s = stk_push_cstr(ctx, int32_t(now.size()), now.data()); s != kOk) return undo_change(c, before, 0, s);
    pushed = 1;
  }
  return finish_call(c, before, nargin, nargout, pushed);
}

int bi_subplotprops(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  Call c;
  TN_TRY(begin_call(ctx, data, &c));
  Matrix props, views;
  if (nargin >= 1) TN_TRY(read_table(ctx, nargin - 1, c.n, kPropsColumns, &props));
  if (nargin >= 2) {
    TN_TRY(read_matrix(ctx, 0, &views));
    if (!views.empty() && views.cols != kCameraColumns) return kBadSize;
    if (views.empty()) views = Matrix{};
  }
  for (int32_t k = 0; k < props.rows; ++k)
    if (!valid_flag_word(props.at(k, 0))) return kBadArgument;
  TN_TRY(check_views(c, views));
  InstanceRec before;
  std::memcpy(static_cast<void*>(&before), c.rec, sizeof before);
  apply_props(c, props, views);
  // The first output goes on top: the views (when asked for) first.
  const int wanted = wanted_outputs(nargin, nargout);
  int pushed = 0;
  int s = kOk;
  if (wanted >= 2) {
    s = push_views(c);
    if (s == kOk) ++pushed;
  }
  if (s == kOk && wanted >= 1) {
    s = push_props(c);
    if (s == kOk) ++pushed;
  }
  if (s != kOk) return undo_change(c, before, pushed, s);
  return finish_call(c, before, nargin, nargout, pushed);
}

int bi_subplotpos(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  if (nargout > 1) return kTooManyOutputs;  // one text or matrix at most
  Call c;
  TN_TRY(begin_call(ctx, data, &c));
  Matrix pos;
  if (nargin >= 1) TN_TRY(read_table(ctx, 0, c.n, kPosColumns, &pos));
  double gx = 0, gy = 0;
  rt_grid_steps(c.b, &gx, &gy);
  InstanceRec before;
  std::memcpy(static_cast<void*>(&before), c.rec, sizeof before);
  InstanceRec* rec = c.rec;
  if (!pos.empty()) {
    if (!rec->free_layout) {
      // Frames of their own make the layout free, with every spring at its default.
      TN_TRY(inst_layout_to_free(c.b, c.id));
      for (auto& springs : rec->springs) std::fill(springs, springs + kSpringValues, kSpringDefault);
    }
    for (int32_t k = 0; k < pos.rows; ++k)
      subplot_set_rect(&rec->subplots[k], rec->frame[0] + pos.at(k, 0) * gx, rec->frame[0] + pos.at(k, 1) * gx,
                       rec->frame[2] + pos.at(k, 2) * gy, rec->frame[2] + pos.at(k, 3) * gy);
    rec->pending_frames = inst_frame_is_reset(rec) ? kFramesInPixels : 0;
  }
  int pushed = 0;
  if (wanted_outputs(nargin, nargout) > 0) {
    std::vector<double> v(size_t(c.n) * kPosColumns);
    for (int32_t k = 0; k < c.n; ++k) {
      const Subplot& s = rec->subplots[k];
      const double row[kPosColumns] = {(s.rectLeft - rec->frame[0]) / gx, (s.rectRight - rec->frame[0]) / gx,
                                       (s.rectTop - rec->frame[2]) / gy, (s.rectBottom - rec->frame[2]) / gy};
      std::copy(row, row + kPosColumns, v.begin() + k * kPosColumns);
    }
    if (int s = push_matrix(ctx, c.n, kPosColumns, v.data()); s != kOk) return undo_change(c, before, 0, s);
    pushed = 1;
  }
  return finish_call(c, before, nargin, nargout, pushed);
}

int bi_subplotspring(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  if (nargout > 1) return kTooManyOutputs;  // one text or matrix at most
  Call c;
  TN_TRY(begin_call(ctx, data, &c));
  Matrix springs;
  if (nargin >= 1) TN_TRY(read_table(ctx, 0, c.n, kSpringValues, &springs));
  for (double q : springs.v)
    if (!(q >= 0.0 && q <= 1.0)) return kBadArgument;
  InstanceRec before;
  std::memcpy(static_cast<void*>(&before), c.rec, sizeof before);
  for (int32_t k = 0; k < springs.rows; ++k)
    for (int32_t j = 0; j < kSpringValues; ++j) c.rec->springs[k][j] = springs.at(k, j);
  int pushed = 0;
  if (wanted_outputs(nargin, nargout) > 0) {
    std::vector<double> v(size_t(c.n) * kSpringValues);
    for (int32_t k = 0; k < c.n; ++k) std::copy(c.rec->springs[k], c.rec->springs[k] + kSpringValues, v.begin() + k * kSpringValues);
    if (int s = push_matrix(ctx, c.n, kSpringValues, v.data()); s != kOk) return undo_change(c, before, 0, s);
    pushed = 1;
  }
  return finish_call(c, before, nargin, nargout, pushed);
}

int bi_subplotsize(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  Call c;
  TN_TRY(begin_call(ctx, data, &c));
  double gx = 0, gy = 0;
  rt_grid_steps(c.b, &gx, &gy);
  bool set = false;
  double width = 0, height = 0;
  if (nargin == 2) {
    Matrix w, h;
    TN_TRY(read_matrix(ctx, 1, &w));
    TN_TRY(read_matrix(ctx, 0, &h));
    if (w.v.size() != 1 || h.v.size() != 1) return kBadSize;
    width = w.v[0], height = h.v[0], set = true;
  } else if (nargin == 1) {
    Matrix steps;
    TN_TRY(read_matrix(ctx, 0, &steps));
    if (!steps.empty()) {
      if (steps.rows != 1 || steps.cols != kSizeElements) return kBadSize;
      width = steps.v[0] * gx, height = steps.v[1] * gy, set = true;
    }
  }
  if (set && !(width > 0 && height > 0)) return kBadArgument;
  InstanceRec before;
  std::memcpy(static_cast<void*>(&before), c.rec, sizeof before);
  if (set) TN_TRY(inst_layout_from_design_size(c.b, c.id, width, height));
  const double w = c.rec->frame[1] - c.rec->frame[0], h = std::fabs(c.rec->frame[3] - c.rec->frame[2]);
  int pushed = 0;
  int status = kOk;
  if (nargout >= 2) {
    // Width and height in pixels, the first output on top.
    status = stk_push_real(ctx, h);
    if (status == kOk) pushed = 1, status = stk_push_real(ctx, w);
    if (status == kOk) pushed = 2;
  } else if (wanted_outputs(nargin, nargout) > 0) {
    // Whole grid steps: a part of a step counts as one.
    const double steps[kSizeElements] = {std::floor((w + gx - 1) / gx), std::floor((h + gy - 1) / gy)};
    status = push_matrix(ctx, 1, kSizeElements, steps);
    if (status == kOk) pushed = 1;
  }
  if (status != kOk) return undo_change(c, before, pushed, status);
  return finish_call(c, before, nargin, nargout, pushed);
}

int bi_subplotparam(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  if (nargout > 1) return kTooManyOutputs;  // one text or matrix at most
  Call c;
  TN_TRY(begin_call(ctx, data, &c));
  bool set = false;
  if (nargin >= 1) {
    int32_t count = 0;
    Matrix m;
    if (stk_is_list(ctx, 0)) {
      set = stk_get_container(ctx, 0, &count, nullptr) == kOk && count > 0;
    } else if (stk_get_container(ctx, 0, &count, nullptr) == kOk) {
      if (count > 0) return kWrongArgType;  // a cell array of parameters is not a list
    } else if (read_matrix(ctx, 0, &m) != kOk || !m.empty()) {
      return kWrongArgType;
    }
  }
  int pushed = 0;
  if (wanted_outputs(nargin, nargout) > 0) {
    if (set) {
      TN_TRY(stk_dup(ctx, 0, 1));
    } else {
      for (int32_t k = 0; k < c.n; ++k) {
        if (int s = inst_store_get_value(c.b, c.id, k, false); s != kOk) {
          for (int32_t j = 0; j < k; ++j) stk_drop(ctx);
          return s;
        }
      }
      if (int s = stk_make_container(ctx, c.n, 0, nullptr, 0); s != kOk) {
        for (int32_t j = 0; j < c.n; ++j) stk_drop(ctx);
        return s;
      }
    }
    pushed = 1;
  }
  if (set) {
    const int depth = pushed;
    int64_t words = 0;
    void* stored = nullptr;
    int s = stk_item_words(ctx, depth, &words);
    if (s == kOk) s = undo_store_put_value(rt_value_store(c.b), c.id, -1, kKeyParam, words, &stored);
    if (s == kOk) s = stk_descriptor_as_doubles(ctx, depth, static_cast<double*>(stored));
    if (s != kOk) {
      if (pushed) stk_drop(ctx);
      return s;
    }
    c.cc->status |= kCallLayoutChanged | kCallRedraw;
  }
  if (nargout < 0 && pushed == 0) {
    TN_TRY(stk_push_no_value(ctx));
    pushed = 1;
  }
  return nargin > 0 ? stk_remove(ctx, pushed, nargin) : kOk;
}
