// Value-stack helpers shared by the linear-algebra built-ins: matrix fetches
// that answer "Wrong type" in the built-ins' own code, room tests made before
// the first change to the stacks, and cutting the top matrix down to a block
// of itself. A built-in that fails leaves the stacks as it found them: it
// tests room first, works on scratch copies where a kernel can fail, and
// drops what it pushed before returning a status.
#pragma once

#include <cstdint>

#include "engine/core/context.h"
#include "engine/core/status.h"

// Statuses of the error table that the engine's status list does not name.
enum : int {
  kNoConvergence = 9,      // "Algorithm does not converge"
  kNonVectorArray = 22,    // "Non-vector array"
  kNotColumnVector = 23,   // "Not a column vector"
};

constexpr double kMachineEps = 2.220446049250313e-16;

// A double matrix item: rows, columns and its blocks (im null when real).
struct MatRef {
  int32_t m = 0, n = 0;
  double* re = nullptr;
  double* im = nullptr;
  bool cplx() const { return im != nullptr; }
  int64_t count() const { return int64_t{m} * n; }
  bool empty() const { return m == 0 || n == 0; }
};

// The numeric double matrix at depth; anything else is kWrongArgType (44).
int la_fetch(EngineContext* ctx, int depth, MatRef* out);

// Data words of an m x n matrix (0 for an empty one, which is pushed as 0 x 0).
int64_t la_words(int64_t m, int64_t n, bool cplx);

// kOk when `items` more descriptors and `words` more data words fit.
int la_room(EngineContext* ctx, int items, int64_t words);

// Pushes an m x n matrix (complex when cplx and not empty) and fetches it.
int la_push(EngineContext* ctx, int32_t m, int32_t n, bool cplx, MatRef* out);
int la_push_zeros(EngineContext* ctx, int32_t m, int32_t n, bool cplx, MatRef* out);

// Scratch of `words` doubles above everything pushed so far (valid until the
// next push that reaches it; callers size their pushes first).
int la_scratch(EngineContext* ctx, int64_t words, double** out);

// Keeps rows 0 .. rows-1 and columns c0 .. c0+cols-1 of the top matrix,
// moving the elements forward in place (never up). Cannot fail.
void la_cut_top(EngineContext* ctx, int32_t rows, int32_t c0, int32_t cols);

// Drops the top `count` items (the cleanup of a failed call).
void la_drop(EngineContext* ctx, int count);

// Output count of a call: 0 or less (a statement) counts as one.
inline int la_outputs(int nargout) { return nargout < 1 ? 1 : nargout; }

// Copies a matrix (both blocks) to dst, which holds count or 2 count doubles.
void la_copy(const MatRef& a, double* dst);
