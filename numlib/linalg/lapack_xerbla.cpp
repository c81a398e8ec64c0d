// LAPACK's error handler, replaced. A driver, or any routine it calls, that
// refuses an argument calls XERBLA; the library's own prints a line to
// standard output and some callers go on with results the driver never wrote.
// This strong definition, in the object every "!lapack" row links through
// lapack_status, takes its place ahead of the reference library's and
// OpenBLAS's (weak there), statically linked or not: it prints nothing and
// leaves a note that the row turns into a status.
#include <cstring>

#include "engine/core/status.h"
#include "numlib/linalg/lapack_frame.h"

namespace {

// The first refusal on this thread since a row last read the note (a driver
// that goes on after a refusal below it may cause more; the first names the
// cause). Engine threads are cooperative, and every row reads the note right
// after its driver call.
struct Refusal {
  bool pending = false;
  char routine[8] = {};
  la_int argument = 0;
};
thread_local Refusal refusal;

}  // namespace

extern "C" void xerbla_(const char* name, const la_int* info, la_len name_len) {
  if (refusal.pending) return;
  refusal.pending = true;
  const size_t n = name_len < sizeof refusal.routine - 1 ? name_len : sizeof refusal.routine - 1;
  std::memcpy(refusal.routine, name, n);
  refusal.routine[n] = 0;
  refusal.argument = info ? *info : 0;
}

int lapack_status(la_int info) {
  const bool refused = refusal.pending || info < 0;
  refusal = Refusal{};
  return refused ? int{kBadArgument} : int{kOk};
}

bool lapack_pending_refusal(char* routine, size_t size, la_int* argument) {
  if (!refusal.pending) return false;
  if (size > 0) {
    std::strncpy(routine, refusal.routine, size - 1);
    routine[size - 1] = 0;
  }
  *argument = refusal.argument;
  return true;
}
