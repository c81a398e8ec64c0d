// The plot store's heap of doubles: walking, first-largest free search with
// lazy merging, compaction, resizing and moving, and the reservation of room
// for a list being built. Walks stop at a block whose length is not a whole
// number inside the area, so a damaged store is never read past its end.
#include "graphics/plotlist/plot_store.h"

#include <cmath>
#include <cstring>
#include <set>

#include "engine/core/checked.h"

namespace {

uint8_t* area_bytes(PlotStore* s) { return reinterpret_cast<uint8_t*>(s) + sizeof(PlotStore); }
const uint8_t* area_bytes(const PlotStore* s) {
  return reinterpret_cast<const uint8_t*>(s) + sizeof(PlotStore);
}

// Length of the block at i, or 0 when its size word is damaged.
int32_t block_len(const PlotStore* s, int32_t i) {
  const double m = std::fabs(plotstore_at(s, i));
  if (!(m >= 1.0 && m <= double(s->n - i)) || m != std::floor(m)) return 0;
  return int32_t(m);
}

void move_doubles(PlotStore* s, int32_t to, int32_t from, int32_t count) {
  if (count > 0 && to != from)
    std::memmove(area_bytes(s) + 8 * size_t(to), area_bytes(s) + 8 * size_t(from), 8 * size_t(count));
}

}  // namespace

double* plotstore_data(PlotStore* s) { return reinterpret_cast<double*>(area_bytes(s)); }
double plotstore_at(const PlotStore* s, int32_t i) { return tn::ld_f64(area_bytes(s) + 8 * size_t(i)); }
void plotstore_put(PlotStore* s, int32_t i, double v) { tn::st_f64(area_bytes(s) + 8 * size_t(i), v); }

void plotstore_init(PlotStore* s, int32_t total_doubles) {
  s->n = total_doubles - kPlotStoreOverhead;
  s->compacted = 1;
  std::memset(s->unused, 0, sizeof s->unused);
  if (s->n > 0) plotstore_put(s, 0, -double(s->n));
}

int32_t plotstore_compact(PlotStore* s) {
  int32_t w = 0;
  for (int32_t i = 0; i < s->n;) {
    const int32_t len = block_len(s, i);
    if (len == 0) break;
    if (plotstore_at(s, i) > 0) {
      move_doubles(s, w, i, len);
      w += len;
    }
    i += len;
  }
  if (w < s->n) plotstore_put(s, w, -double(s->n - w));
  s->compacted = 1;
  return w + kPlotBlockHead;
}

void plotstore_largest_free(PlotStore* s, int32_t* data_pos, int32_t* capacity, bool allow_compaction,
                            int32_t* total_free) {
  int32_t best = -1, best_at = -1, total = 0;
  for (;;) {
    best = -1;
    best_at = -1;
    total = 0;
    int32_t prev = -1;  // the free block that the current run merges into
    for (int32_t i = 0; i < s->n;) {
      const int32_t len = block_len(s, i);
      if (len == 0) break;
      if (plotstore_at(s, i) < 0) {
        total += len;
        int32_t at = i, run = len;
        if (prev >= 0) {
          run = block_len(s, prev) + len;
          plotstore_put(s, prev, -double(run));
          at = prev;
        } else {
          prev = i;
        }
        if (run > best) {
          best = run;
          best_at = at;
        }
      } else {
        prev = -1;
      }
      i += len;
    }
    if (allow_compaction && total > 2 * best && total > s->n / 8 && s->compacted == 0) {
      plotstore_compact(s);
      continue;
    }
    break;
  }
  if (data_pos) *data_pos = best_at + kPlotBlockHead;
  if (capacity) *capacity = best - kPlotBlockHead;
  if (total_free) *total_free = total;
}

int plotstore_resize(PlotStore* s, int32_t total_doubles) {
  const int32_t n2 = total_doubles - kPlotStoreOverhead;
  if (n2 == s->n) return 0;
  if (n2 > s->n) {
    plotstore_put(s, s->n, -double(n2 - s->n));
    s->n = n2;
    return 0;
  }
  const int32_t w = plotstore_compact(s) - kPlotBlockHead;
  if (w >= n2) return kPlotStoreExhausted;
  plotstore_put(s, w, -double(n2 - w));
  s->n = n2;
  return 0;
}

int plotstore_move(PlotStore* old_store, PlotStore* new_store, int32_t total_doubles) {
  const int32_t n = old_store->n;
  const uint8_t flag = old_store->compacted;
  // The area first: the new header may lie inside the old area.
  if (n > 0) std::memmove(area_bytes(new_store), area_bytes(old_store), 8 * size_t(n));
  new_store->n = n;
  new_store->compacted = flag;
  std::memset(new_store->unused, 0, sizeof new_store->unused);
  return plotstore_resize(new_store, total_doubles);
}

bool plotstore_find(PlotStore* s, int32_t key, int32_t* data_pos, int32_t* length) {
  for (int32_t i = 0; i < s->n;) {
    const int32_t len = block_len(s, i);
    if (len == 0) break;
    if (plotstore_at(s, i) > 0 && len >= kPlotBlockHead && tn::dtoi32(plotstore_at(s, i + 1)) == key) {
      if (data_pos) *data_pos = i + kPlotBlockHead;
      if (length) *length = len - kPlotBlockHead;
      return true;
    }
    i += len;
  }
  return false;
}

void plotstore_free(PlotStore* s, int32_t key) {
  int32_t pos = 0;
  if (!plotstore_find(s, key, &pos, nullptr)) return;
  plotstore_put(s, pos - kPlotBlockHead, -plotstore_at(s, pos - kPlotBlockHead));
  s->compacted = 0;
}

void plotstore_write_block(PlotStore* s, int32_t key, int32_t data_pos, int32_t used) {
  const int32_t head = data_pos - kPlotBlockHead;
  const int32_t len = block_len(s, head);
  plotstore_put(s, head + 1, double(key));
  plotstore_put(s, head, double(used + kPlotBlockHead));
  if (len > used + kPlotBlockHead) plotstore_put(s, data_pos + used, -double(len - used - kPlotBlockHead));
}

int plotstore_reserve(PlotStore* s, int32_t key, int32_t* data_pos, int32_t* used, int32_t* capacity) {
  int32_t free_pos = 0, free_cap = 0, total = 0;
  plotstore_largest_free(s, &free_pos, &free_cap, false, &total);
  int32_t q = 0, u = 0;
  if (!plotstore_find(s, key, &q, &u)) {
    *data_pos = free_pos;
    *used = 0;
    *capacity = free_cap;
    return 0;
  }
  const int32_t size = u + kPlotBlockHead;
  const int32_t after = q - kPlotBlockHead + size;
  if (after < s->n && plotstore_at(s, after) < 0) {
    const int32_t f = block_len(s, after);
    if (f > 0 && u + f >= total / 2) {
      // Grow in place: list and follower become one free block that the
      // commit rewrites.
      plotstore_put(s, q - kPlotBlockHead, -double(size + f));
      *data_pos = q;
      *used = u;
      *capacity = u + f;
      return 0;
    }
  }
  if (2 * free_cap < total) {
    plotstore_largest_free(s, &free_pos, &free_cap, true, &total);
    plotstore_find(s, key, &q, &u);
  }
  if (free_cap < u) return kPlotOverflow;  // the old list stays as it was
  move_doubles(s, free_pos, q, u);
  plotstore_put(s, q - kPlotBlockHead, -double(u + kPlotBlockHead));
  s->compacted = 0;
  *data_pos = free_pos;
  *used = u;
  *capacity = free_cap;
  return 0;
}

void plotstore_free_tail(PlotStore* s, int32_t* data_pos, int64_t* bytes) {
  int32_t pos = 0, cap = 0;
  plotstore_largest_free(s, &pos, &cap, true, nullptr);
  *data_pos = pos;
  *bytes = cap > 0 ? int64_t(cap) * 8 : 0;
}

void plotstore_widen_room(PlotStore* s, int32_t* data_pos, int32_t* capacity, int32_t used) {
  const int32_t head = *data_pos - kPlotBlockHead;
  // Only while the room is still the free block it was taken as: a block
  // freed in front of it since may have taken it into its own run.
  if (head >= 0 && head < s->n && plotstore_at(s, head) < 0) {
    int32_t len = block_len(s, head);
    if (len >= *capacity + kPlotBlockHead) {
      for (int32_t next = head + len; next < s->n && plotstore_at(s, next) < 0;) {
        const int32_t f = block_len(s, next);
        if (f == 0) break;
        len += f;
        next += f;
      }
      plotstore_put(s, head, -double(len));
      *capacity = len - kPlotBlockHead;
    }
  }
  int32_t pos = 0, cap = 0;
  plotstore_largest_free(s, &pos, &cap, false, nullptr);
  if (cap <= *capacity) return;
  // Free space on both sides: the copy may overlap the old room.
  move_doubles(s, pos, *data_pos, used);
  *data_pos = pos;
  *capacity = cap;
}

bool plotstore_check(const PlotStore* s) {
  if (s->n < 0) return false;
  std::set<int32_t> keys;
  int32_t i = 0;
  while (i < s->n) {
    const int32_t len = block_len(s, i);
    if (len == 0) return false;
    if (plotstore_at(s, i) > 0) {
      if (len < kPlotBlockHead) return false;
      const double k = plotstore_at(s, i + 1);
      if (!tn::double_is_int32(k) || !keys.insert(int32_t(k)).second) return false;
    }
    i += len;
  }
  return i == s->n;
}
