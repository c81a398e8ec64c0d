// Work arrays of the "!lapack" rows in the free data stack (lapack_frame.h).
#include "numlib/linalg/lapack_frame.h"

#include <algorithm>
#include <climits>

#include "engine/core/value_stack.h"

namespace {

// The floor of LWORK in elements: 8 (order + extra) + 16 covers DGESVD,
// DGELSS, DGEEV, DGEGV, DGEES, DGGES and the QR and Hessenberg drivers.
constexpr int64_t kWorkPerOrder = 8;
constexpr int64_t kWorkBase = 16;

}  // namespace

LapackArena lapack_arena(EngineContext* ctx) {
  LapackArena a;
  a.next = reinterpret_cast<double*>(data_words(ctx) + ctx->data_top);
  a.left = data_free_words(ctx);
  return a;
}

double* lapack_take(LapackArena* arena, int64_t doubles) {
  if (doubles < 1) doubles = 1;
  if (doubles > arena->left) {
    arena->short_of_room = true;
    return nullptr;
  }
  double* p = arena->next;
  arena->next += doubles;
  arena->left -= doubles;
  return p;
}

la_int* lapack_take_ints(LapackArena* arena, int64_t count) {
  return reinterpret_cast<la_int*>(lapack_take(arena, (count + 1) / 2));
}

bool lapack_workspace(LapackArena* arena, bool cplx, int64_t order, int64_t extra, double** work,
                      la_int* lwork) {
  if (arena->short_of_room) return false;
  const int64_t elements = std::min<int64_t>(cplx ? arena->left / 2 : arena->left, INT_MAX);
  if (elements < kWorkPerOrder * (order + extra) + kWorkBase) {
    arena->short_of_room = true;
    return false;
  }
  *work = arena->next;
  *lwork = static_cast<la_int>(elements);
  return true;
}
