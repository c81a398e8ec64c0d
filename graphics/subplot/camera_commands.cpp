// The bodies of the camera commands (campos, camtarget, camup, camdolly,
// campan, camorbit, camroll, camzoom, camva, camproj) on the current
// subplot. Arguments are read before anything changes, so a refused call
// leaves the camera as it was; a wrong-type argument is answered as
// kWrongArgType.
#include <cstring>

#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "graphics/subplot/subplot_view.h"

namespace {

constexpr int32_t kWordBytes = 16;

int wrong_type_as_arg(int status) { return status == kWrongType ? int(kWrongArgType) : status; }

// A real scalar argument at depth.
int scalar_arg(EngineContext* ctx, int depth, double* v) {
  return wrong_type_as_arg(stk_get_real_scalar(ctx, depth, v));
}

// A real vector of three elements at depth (any orientation).
int vector3_arg(EngineContext* ctx, int depth, double* v) {
  int32_t rows = 0, cols = 0;
  double *re = nullptr, *im = nullptr;
  TN_TRY(wrong_type_as_arg(stk_get_matrix(ctx, depth, &rows, &cols, &re, &im)));
  if (im) return kWrongArgType;
  if (int64_t(rows) * cols != 3 || (rows != 1 && cols != 1)) return kBadSize;
  std::memcpy(v, re, 3 * sizeof(double));
  return kOk;
}

bool word_is(const char* text, int32_t length, const char* word) {
  return int32_t(std::strlen(word)) == length && std::memcmp(text, word, size_t(length)) == 0;
}

// The query result is pushed when asked for, or when a statement without
// arguments may display it; a statement otherwise leaves the no-value item.
bool wants_result(int nargin, int nargout) { return nargout >= 1 || (nargin == 0 && nargout < 0); }

// What the call leaves is pushed above its arguments first, so that a full
// stack fails with the arguments still in place; then the arguments go.
int finish(EngineContext* ctx, int nargin, bool pushed_one, int push_status) {
  TN_TRY(push_status);
  for (int i = 0; i < nargin; ++i) {
    if (pushed_one) stk_replace_with_top(ctx, 0);
    else stk_drop(ctx);
  }
  return kOk;
}
int finish_without_result(EngineContext* ctx, int nargin, int nargout) {
  return finish(ctx, nargin, nargout < 0, nargout < 0 ? stk_push_no_value(ctx) : int(kOk));
}

int push_column3(EngineContext* ctx, const double* v) {
  double* re = nullptr;
  TN_TRY(stk_push_matrix(ctx, 3, 1, &re, nullptr));
  std::memcpy(re, v, 3 * sizeof(double));
  return kOk;
}

// campos, camtarget, camup: the vector, or "auto" / "manual" for its flag.
int camera_vector(EngineContext* ctx, int nargin, int nargout, Subplot* s, double* field, uint32_t flag) {
  if (nargin == 1) {
    if (stk_is_char(ctx, 0)) {
      char word[kWordBytes];
      int32_t length = 0;
      if (stk_get_string_buf(ctx, 0, word, kWordBytes, &length) != kOk) return kUnknownOption;
      if (word_is(word, length, "auto")) {
        s->viewFlags |= flag;
      } else if (word_is(word, length, "manual")) {
        subplot_update_transform(s);  // freezes the automatic value now on screen
        s->viewFlags &= ~flag;
      } else {
        return kUnknownOption;
      }
    } else {
      double v[3];
      TN_TRY(vector3_arg(ctx, 0, v));
      std::memcpy(field, v, sizeof v);
      s->viewFlags &= ~flag;
    }
  }
  subplot_update_transform(s);
  if (!wants_result(nargin, nargout)) return finish_without_result(ctx, nargin, nargout);
  return finish(ctx, nargin, true, push_column3(ctx, field));
}

int view_angle(EngineContext* ctx, int nargin, int nargout, Subplot* s) {
  if (nargin == 1) {
    double degrees = 0;
    TN_TRY(scalar_arg(ctx, 0, &degrees));
    subplot_set_view_angle(s, degrees);
  }
  if (!wants_result(nargin, nargout)) return finish_without_result(ctx, nargin, nargout);
  return finish(ctx, nargin, true, stk_push_real(ctx, subplot_view_angle(s)));
}

int projection(EngineContext* ctx, int nargin, int nargout, Subplot* s) {
  if (nargin == 1) {
    char word[kWordBytes];
    int32_t length = 0;
    if (!stk_is_char(ctx, 0) || stk_get_string_buf(ctx, 0, word, kWordBytes, &length) != kOk)
      return kUnknownOption;
    if (word_is(word, length, "o") || word_is(word, length, "orthographic")) subplot_set_orthographic(s, 1);
    else if (word_is(word, length, "p") || word_is(word, length, "perspective")) subplot_set_orthographic(s, 0);
    else return kUnknownOption;
  }
  if (!wants_result(nargin, nargout)) return finish_without_result(ctx, nargin, nargout);
  const char* name = s->orthographic ? "orthographic" : "perspective";
  return finish(ctx, nargin, true, stk_push_cstr(ctx, int32_t(std::strlen(name)), name));
}

// The moves: every argument read first, then what the call leaves pushed,
// then one move, so that a refused or failed call moves nothing.
int camera_move(EngineContext* ctx, int nargin, int nargout, Subplot* s, CameraCommand which) {
  double a = 0, b = 0, v[3] = {0, 0, 0};
  if (which == CameraCommand::kDolly) {
    TN_TRY(vector3_arg(ctx, 0, v));
  } else if (which == CameraCommand::kPan || (which == CameraCommand::kOrbit && nargin == 2)) {
    TN_TRY(scalar_arg(ctx, 1, &a));
    TN_TRY(scalar_arg(ctx, 0, &b));
  } else {
    TN_TRY(scalar_arg(ctx, 0, &a));
  }
  TN_TRY(finish_without_result(ctx, nargin, nargout));
  switch (which) {
    case CameraCommand::kDolly: return subplot_camdolly(s, v, 0), kOk;
    case CameraCommand::kPan: return subplot_campan(s, a, b), kOk;
    case CameraCommand::kOrbit: return subplot_camorbit(s, a, b), kOk;
    case CameraCommand::kRoll: return subplot_camroll(s, a), kOk;
    default: return subplot_camzoom(s, a), kOk;
  }
}

}  // namespace

int camera_command_body(EngineContext* ctx, int nargin, int nargout, Subplot* s, CameraCommand which) {
  switch (which) {
    case CameraCommand::kPos: return camera_vector(ctx, nargin, nargout, s, s->camPos, kViewAutoPos);
    case CameraCommand::kTarget: return camera_vector(ctx, nargin, nargout, s, s->camTarget, kViewAutoTarget);
    case CameraCommand::kUp: return camera_vector(ctx, nargin, nargout, s, s->camUp, kViewAutoUp);
    case CameraCommand::kViewAngle: return view_angle(ctx, nargin, nargout, s);
    case CameraCommand::kProjection: return projection(ctx, nargin, nargout, s);
    default: return camera_move(ctx, nargin, nargout, s, which);
  }
}
