// The plot-list building state of the block header over the plot store, and
// the scratch region lent out of the store's free space. While a list is
// being built its room is a free block of the store, so the scratch region
// is then the unused rest of that room, and nothing compacts under it.
#include "runtime/plot_lists.h"

#include "graphics/plotlist/plot_records.h"
#include "graphics/plotlist/plot_store.h"
#include "runtime/instances.h"

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

namespace {

// The subplot an opening record names; -1 for any other record.
int32_t opened_subplot(const PlotRecord& r) {
  int32_t k = -1;
  if (r.code_int != kCodeOpenObject || !record_count(r, 0, kMaxSubplots - 1, &k)) return -1;
  return k;
}

}  // namespace

bool plotlist_has_object(const double* list, int32_t used, int32_t k) {
  PlotReader r;
  plotreader_init(&r, list, used, 0);
  PlotRecord rec;
  while (plotreader_next(&r, &rec))
    if (opened_subplot(rec) == k) return true;
  return false;
}

int32_t plotlist_empty_object_at(const double* list, int32_t used, int32_t k) {
  PlotReader r;
  plotreader_init(&r, list, used, 0);
  PlotRecord rec, last{};
  bool any = false;
  while (plotreader_next(&r, &rec)) last = rec, any = true;
  // A walk that stopped short of the end found no last record.
  if (!any || r.pos != used || opened_subplot(last) != k) return -1;
  return last.at;
}
