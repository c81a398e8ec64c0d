// The debug build's checks behind TN_ASSERT and TN_ILLEGAL: a failed
// invariant stops the program at once with its place; an illegal state is
// remembered by place so that the error report can name it.
#include <cstdio>
#include <cstdlib>

#include "engine/core/status.h"

namespace {
// One engine runs on one thread; the last detecting place is all a report needs.
IllegalSite g_illegal_site{nullptr, 0};
}  // namespace

void tn_assert_failed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: invariant failed: %s\n", file, line, condition);
  std::abort();
}

int tn_illegal_at(const char* file, int line) {
  g_illegal_site = IllegalSite{file, line};
  return int(kIllegalError);  // the place is recorded: no TN_ILLEGAL() here
}

IllegalSite tn_illegal_site() { return g_illegal_site; }
