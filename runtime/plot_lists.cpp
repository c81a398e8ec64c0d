// The plot-list building state of the block header over the plot store, and
// the scratch region lent out of the store's free space. While a list is
// being built its room is a free block of the store, so the scratch region
// is then the unused rest of that room, and nothing compacts under it.
#include "runtime/plot_lists.h"

#include "graphics/plotlist/plot_store.h"

int plotstore_begin_list(RuntimeBlock* b, int32_t key, bool fresh) {
  PlotStore* s = rt_plot_store(b);
  int32_t pos = 0, used = 0, cap = 0;
  if (fresh) {
    plotstore_free(s, key);
    plotstore_largest_free(s, &pos, &cap, true, nullptr);
  } else {
    TN_TRY(plotstore_reserve(s, key, &pos, &used, &cap));
  }
  b->h.build = PlotBuildState{key, pos, cap, used, -1};
  return 0;
}

void plotstore_commit_list(RuntimeBlock* b) {
  PlotBuildState& st = b->h.build;
  if (st.key < 0) return;
  if (st.used > 0) plotstore_write_block(rt_plot_store(b), st.key, st.start, st.used);
  st.key = -1;
}

void plotstore_widen_list(RuntimeBlock* b) {
  PlotBuildState& st = b->h.build;
  if (st.key >= 0) plotstore_widen_room(rt_plot_store(b), &st.start, &st.capacity, st.used);
}

void plotstore_free_subplot(RuntimeBlock* b, int32_t key) { plotstore_free(rt_plot_store(b), key); }

void rt_scratch_area(RuntimeBlock* b, uint8_t** start, int64_t* bytes) {
  PlotStore* s = rt_plot_store(b);
  const PlotBuildState& st = b->h.build;
  int32_t pos = 0;
  int64_t n = 0;
  if (st.key >= 0) {
    pos = st.start + st.used;
    n = st.capacity > st.used ? int64_t(st.capacity - st.used) * 8 : 0;
  } else {
    plotstore_free_tail(s, &pos, &n);
  }
  *start = reinterpret_cast<uint8_t*>(plotstore_data(s) + pos);
  *bytes = n;
}
