// The common frame of the "!lapack" rows: work arrays carved one after the
// other out of the free data stack above the outputs already pushed, and the
// driver workspace that is all the room left after them. Every row pushes
// its outputs first, then takes its work arrays (3 "Data stack overflow"
// when they do not fit: the outputs are dropped again), calls the drivers,
// fills the outputs and removes its inputs from below them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/core/context.h"
#include "numlib/linalg/lapack_drivers.h"
#include "numlib/linalg/linalg_stack.h"

// One-letter CHARACTER arguments.
constexpr la_len kCharLen = 1;

struct LapackArena {
  double* next = nullptr;
  int64_t left = 0;  // doubles
  bool short_of_room = false;
};

// The free data stack above the current top.
LapackArena lapack_arena(EngineContext* ctx);

// `doubles` doubles, or null (and short_of_room set) when they do not fit.
double* lapack_take(LapackArena* arena, int64_t doubles);
la_int* lapack_take_ints(LapackArena* arena, int64_t count);

// LWORK: all that is left, in doubles (or complex elements when cplx);
// false when it is below the floor that covers every driver's minimum for
// problems of order up to `order` with `extra` right-hand sides.
bool lapack_workspace(LapackArena* arena, bool cplx, int64_t order, int64_t extra, double** work,
                      la_int* lwork);

// After every driver call: kOk, or 107 "Bad argument" when the driver gave
// INFO < 0 or any routine under it refused an argument through XERBLA (whose
// message our own handler keeps off the output). A positive INFO is the row's
// to read. Clears the refusal it reports.
int lapack_status(la_int info);

// The first refusal not yet read by lapack_status: the routine's name and the
// position of the argument it refused. False when there is none.
bool lapack_pending_refusal(char* routine, size_t size, la_int* argument);

// 21 unless the matrix is square.
inline int lapack_square(const MatRef& a) { return a.m == a.n ? kOk : kBadSize; }
