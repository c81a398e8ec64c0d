// The set intrinsics over one sorted sequence: the elements of the first
// operand followed by those of the second (converted to the first's class),
// sorted stably by a total order in which NaN ranks last, then cut into runs
// of equal values (or, where few values repeat many times, hashed into the
// same runs). Each run records the first position of its value in either
// operand; every set function is a choice of runs. Calls that need no
// positions (ismember, and unique and the other set functions with one
// output, on real operands) sort values alone and give what the runs give.
// int64 and uint64 values are compared as integers throughout, never as
// doubles, which cannot tell them apart past 2^53.
#include "engine/lib/sets.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#include "engine/core/checked.h"
#include "engine/core/containers.h"
#include "engine/core/convert.h"
#include "engine/core/local_queries.h"
#include "engine/core/opcodes.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "engine/lib/operands.h"
#include "engine/lib/sort.h"
#include "numlib/sort_kernels.h"

namespace {

enum class SeqClass : uint8_t { kDouble, kSingle, kInt, kString };

// The combined sequence: combined index c < n0 is element c of the first
// operand (part 0), any other element c - n0 of the second (part 1).
struct SetSeq {
  SeqClass cls = SeqClass::kDouble;
  const uint8_t* re[2] = {};
  const uint8_t* im[2] = {};  // null for a real part
  bool cplx = false;          // either part complex: order by modulus first
  int32_t n0 = 0;
  int32_t n = 0;
  uint32_t type = 0;                // integer element type (both parts)
  const StringElem* str = nullptr;  // n entries
};

struct Place {
  int part;
  int64_t pos;
};
inline Place place_of(const SetSeq& s, int32_t c) {
  return c < s.n0 ? Place{0, c} : Place{1, int64_t{c} - s.n0};
}

struct Cplx {
  double re, im;
};
Cplx float_at(const SetSeq& s, int32_t c) {
  const Place p = place_of(s, c);
  if (s.cls == SeqClass::kDouble) {
    const double im = s.im[p.part] ? tn::load<double>(s.im[p.part] + 8 * p.pos) : 0.0;
    return {tn::load<double>(s.re[p.part] + 8 * p.pos), im};
  }
  const double im = s.im[p.part] ? tn::load<float>(s.im[p.part] + 4 * p.pos) : 0.0;
  return {tn::load<float>(s.re[p.part] + 4 * p.pos), im};
}

__int128 int_at(const SetSeq& s, int32_t c) {
  const Place p = place_of(s, c);
  return load_int_element(s.re[p.part], p.pos, s.type);
}

// Complex values go by squared modulus, then real part, then imaginary part,
// so that equal values always lie next to each other.
int32_t seq_cmp(int32_t x, int32_t y, void* rec) {
  const SetSeq& s = *static_cast<const SetSeq*>(rec);
  switch (s.cls) {
    case SeqClass::kString: return string_compare(s.str[x], s.str[y]);
    case SeqClass::kInt: {
      const __int128 a = int_at(s, x), b = int_at(s, y);
      return a < b ? -1 : a > b ? 1 : 0;
    }
    default: {
      const Cplx a = float_at(s, x), b = float_at(s, y);
      if (s.cplx) {
        const int32_t m = cmp_nan_last(a.re * a.re + a.im * a.im, b.re * b.re + b.im * b.im);
        if (m != 0) return m;
        const int32_t r = cmp_nan_last(a.re, b.re);
        if (r != 0) return r;
        return cmp_nan_last(a.im, b.im);
      }
      return cmp_nan_last(a.re, b.re);
    }
  }
}

// NaN equals nothing, so every NaN makes a run of its own.
bool seq_equal(const SetSeq& s, int32_t x, int32_t y) {
  switch (s.cls) {
    case SeqClass::kString: return string_equal(s.str[x], s.str[y]);
    case SeqClass::kInt: return int_at(s, x) == int_at(s, y);
    default: {
      const Cplx a = float_at(s, x), b = float_at(s, y);
      return a.re == b.re && a.im == b.im;
    }
  }
}

// The top bit of a permutation entry marks the first element of a run, where
// the sort found the runs already (RunMarks::kMarked).
constexpr uint32_t kRunStart = 0x80000000u;
enum class RunMarks : uint8_t { kNone, kMarked };

// Real values whose doubles keep their order (double, single, integers of
// up to 32 bits) are sorted as (value, position) pairs, much faster than
// comparing through seq_cmp.
bool sorts_as_pairs(const SetSeq& s) {
  return !s.cplx && (s.cls == SeqClass::kDouble || s.cls == SeqClass::kSingle ||
                     (s.cls == SeqClass::kInt && (s.type & 127) <= 4));
}

// 64-bit integers, whose doubles lose exactness past 2^53, are sorted as
// (integer, position) pairs instead: as fast, and exact.
bool sorts_as_int_pairs(const SetSeq& s) {
  return !s.cplx && s.cls == SeqClass::kInt && (s.type & 127) == 8;
}

// Element k of a part of a 64-bit sequence as an IntPair key: unsigned
// values with the top bit flipped, so that signed order is theirs.
template <bool kUnsigned>
inline int64_t int64_key(const uint8_t* re, int64_t k) {
  if constexpr (kUnsigned)
    return static_cast<int64_t>(tn::load<uint64_t>(re + 8 * k) ^ (uint64_t{1} << 63));
  else
    return tn::load<int64_t>(re + 8 * k);
}

// sort_sequence for sorts_as_int_pairs, through pairs and merge as there.
template <bool kUnsigned>
void sort_int_sequence(const SetSeq& s, int32_t* perm, IntPair* pairs, IntPair* merge) {
  for (int part = 0, c = 0; part < 2; ++part) {
    const int32_t count = part ? s.n - s.n0 : s.n0;
    for (int32_t k = 0; k < count; ++k, ++c) pairs[c] = IntPair{int64_key<kUnsigned>(s.re[part], k), c};
  }
  sort_int_pairs(pairs, s.n, merge);
  int64_t before = 0;
  for (int32_t q = 0; q < s.n; ++q) {
    const int64_t key = pairs[q].key;
    const auto c = static_cast<uint32_t>(pairs[q].pos);
    perm[q] = static_cast<int32_t>(q == 0 || key != before ? c | kRunStart : c);
    before = key;
  }
}

// perm := the combined positions in the order of seq_cmp, ties by position,
// the first of each run marked when the pairs sorted them. merge, when
// given, is room for half the pairs, where a sequence of a few ordered runs
// is merged; without pairs, room for half the permutation, where the same
// is done through seq_cmp.
// With pairs, they lie at the start of the scratch, where perm begins too:
// perm[q] is written after pairs[q] is read, and covers only pairs read
// before it.
void sort_sequence(const SetSeq& s, int32_t* perm, SortPair* pairs, void* merge) {
  if (!pairs) {
    sort_index(s.n, seq_cmp, perm, const_cast<SetSeq*>(&s), 0, static_cast<int32_t*>(merge));
    return;
  }
  if (sorts_as_int_pairs(s)) {
    auto* p = reinterpret_cast<IntPair*>(pairs);
    if (s.type & kElemUnsigned)
      sort_int_sequence<true>(s, perm, p, static_cast<IntPair*>(merge));
    else
      sort_int_sequence<false>(s, perm, p, static_cast<IntPair*>(merge));
    return;
  }
  SortPair* p = pairs;
  if (s.cls == SeqClass::kInt)
    for (int32_t c = 0; c < s.n; ++c) p[c] = SortPair{static_cast<double>(int_at(s, c)), double(c)};
  else if (s.cls == SeqClass::kDouble)
    for (int part = 0, c = 0; part < 2; ++part) {
      const int32_t count = part ? s.n - s.n0 : s.n0;
      for (int32_t k = 0; k < count; ++k, ++c)
        p[c] = SortPair{tn::load<double>(s.re[part] + 8 * int64_t{k}), double(c)};
    }
  else
    for (int32_t c = 0; c < s.n; ++c) p[c] = SortPair{float_at(s, c).re, double(c)};
  sort_pairs(p, s.n, 0, static_cast<SortPair*>(merge));
  // Equal values lie side by side, and equality of doubles is transitive
  // (NaN equals nothing), so a run starts wherever a key differs from the
  // one before it: marked here, while the keys are in order in memory.
  double before = 0;
  for (int32_t q = 0; q < s.n; ++q) {
    const double key = p[q].key;
    const auto c = static_cast<uint32_t>(p[q].comp);
    perm[q] = static_cast<int32_t>(q == 0 || !(key == before) ? c | kRunStart : c);
    before = key;
  }
}

// First 0-based position of the run's value in each operand, -1 when absent.
struct SetRun {
  int32_t first[2];
  bool has(int part) const { return first[part] >= 0; }
};

struct SetWork {
  SetSeq seq;
  NumOperand a;         // the first operand (numeric operands)
  bool cplx_a = false;  // the first operand complex
  int items = 0;        // arguments, converted copy and scratch: removed at the end
  int32_t* perm = nullptr;
  SetRun* runs = nullptr;
  int32_t* run_of = nullptr;  // run of each element of the first operand
  int32_t nruns = 0;
};

bool same_class(const NumOperand& a, const NumOperand& b) {
  return a.kind == b.kind && (a.kind != NumKind::kInt || a.type == b.type);
}

// Converts the top item (a copy of the second operand) to the first
// operand's class, truncating and wrapping as concatenation does.
int convert_top_to(EngineContext* ctx, const NumOperand& a) {
  int st;
  switch (a.kind) {
    case NumKind::kDouble: st = stk_convert_to_double(ctx, 0, 0, nullptr); break;
    case NumKind::kSingle: st = stk_convert_to_double(ctx, 0, 1, nullptr); break;
    default:
      st = stk_convert_to_int(ctx, 0, static_cast<int>(a.type & 127),
                              (a.type & kElemUnsigned) ? 1 : 0, 0);
  }
  return st == kWrongType ? kWrongArgType : st;
}

int32_t walk_runs(SetWork* w, RunMarks marks) {
  const SetSeq& s = w->seq;
  int32_t r = -1, start = 0;
  for (int32_t q = 0; q < s.n; ++q) {
    const auto entry = static_cast<uint32_t>(w->perm[q]);
    const auto c = static_cast<int32_t>(entry & ~kRunStart);
    const bool starts = marks == RunMarks::kMarked ? (entry & kRunStart) != 0
                                                   : r < 0 || !seq_equal(s, start, c);  // against the run's first
    if (starts) {
      w->runs[++r] = SetRun{{-1, -1}};
      start = c;
    }
    const Place p = place_of(s, c);
    // The sort is stable, so the first element met of each operand is the
    // one at its smallest position.
    if (!w->runs[r].has(p.part)) w->runs[r].first[p.part] = static_cast<int32_t>(p.pos);
    if (p.part == 0) w->run_of[p.pos] = r;
  }
  return r + 1;
}

// --- Runs by hashing ----------------------------------------------------------
// Where few values repeat many times, each element is hashed to the run of
// its value (runs numbered as first met) and only the distinct values are
// sorted: linear in the elements, where sorting them all is n log n and
// loses to a merge sort that finds the runs of an ordered input, whatever
// the order. Values that repeat too little are handed back to the sort once
// an eighth of the sequence has proved distinct, whatever the order too:
// hashing that eighth costs a small share of sorting the whole. The runs, their
// order and their first positions are those the sort gives: ascending value,
// -0 and 0 one run, every NaN a run of its own after the numbers, in order of
// position. 64-bit integers are hashed by their IntPair keys (K int64_t),
// every other class by its doubles (K double).
// Written for speed: the set functions of large arrays with repeated values
// spend their time here.

template <class K>
struct HashRun {
  K key;             // -0 kept as 0; NaN for a NaN's own run
  int32_t first[2];  // as SetRun
  int32_t met;       // the run's number before sorting
  int32_t pad;
};
static_assert(sizeof(HashRun<double>) == 24 && sizeof(HashRun<int64_t>) == 24);

constexpr int32_t kHashFrom = 1024;  // shorter sequences: the sort alone
constexpr int32_t kNoRun = -1;

// Most runs kept, and the table's most slots: a power of two of at least
// twice that. Both lie in the scratch's room for the permutation and the
// runs (12 bytes an element), which the hashing leaves unused until it
// writes its runs: the table at the start, within the permutation's room
// (under 2 bytes an element), the hashed runs at the end (3 bytes an
// element), clear of the first m runs written (8 bytes each after the
// permutation's 4 an element: under 5 bytes an element).
struct HashPlan {
  int32_t limit = 0;
  int32_t table = 0;
};

HashPlan hash_plan(const SetSeq& s) {
  HashPlan p;
  if (!(sorts_as_pairs(s) || sorts_as_int_pairs(s)) || s.n < kHashFrom) return p;
  p.limit = s.n / 8;
  p.table = 64;
  while (p.table < 2 * p.limit) p.table *= 2;
  return p;
}

// The top bits of a multiplicative hash of the key's bits, which every bit
// of the key reaches: small integers differ only in their high bits.
template <class K>
inline uint32_t hash_slot(K key, int shift) {
  uint64_t b;
  std::memcpy(&b, &key, sizeof b);
  b ^= b >> 29;
  return static_cast<uint32_t>((b * 0x9E3779B97F4A7C15ull) >> shift);
}

template <class K>
class RunHasher {
 public:
  RunHasher(const HashPlan& plan, int32_t* slots, HashRun<K>* runs)
      : plan_(plan), slots_(slots), runs_(runs) {
    resize(64);
  }

  // The run of key, a new one when it is not met yet; kNoRun when the runs
  // would pass the limit.
  int32_t run_of(K key) {
    if (key != key) return add(key);
    if constexpr (std::is_same_v<K, double>) key += 0.0;  // -0 to 0: one run, one hash
    for (uint32_t h = hash_slot(key, shift_);; h = (h + 1) & mask_) {
      const int32_t r = slots_[h];
      if (r == kNoRun) {
        const int32_t fresh = add(key);
        if (fresh != kNoRun) place(fresh);
        return fresh;
      }
      if (runs_[r].key == key) return r;
    }
  }
  HashRun<K>& run(int32_t r) { return runs_[r]; }
  int32_t count() const { return count_; }
  int32_t* spare() { return slots_; }  // count() ints, once hashing is over

 private:
  int32_t add(K key) {
    if (count_ == plan_.limit) return kNoRun;
    runs_[count_] = HashRun<K>{key, {-1, -1}, count_, 0};
    return count_++;
  }
  // Enters run r, growing the table to keep it at most half full.
  void place(int32_t r) {
    if (2 * int64_t{count_} > mask_ + 1) {
      resize(2 * (mask_ + 1));
      return;  // the new table holds every run, r too
    }
    uint32_t h = hash_slot(runs_[r].key, shift_);
    while (slots_[h] != kNoRun) h = (h + 1) & mask_;
    slots_[h] = r;
  }
  void resize(uint32_t size) {
    mask_ = size - 1;
    shift_ = 64 - std::countr_zero(size);
    std::fill(slots_, slots_ + size, kNoRun);
    for (int32_t r = 0; r < count_; ++r) {
      if (runs_[r].key != runs_[r].key) continue;
      uint32_t h = hash_slot(runs_[r].key, shift_);
      while (slots_[h] != kNoRun) h = (h + 1) & mask_;
      slots_[h] = r;
    }
  }

  HashPlan plan_;
  int32_t* slots_;
  HashRun<K>* runs_;
  uint32_t mask_ = 0;
  int shift_ = 64;
  int32_t count_ = 0;
};

// Whether the values are likely few enough for the hashing, from a sample
// of kSampled elements at pseudo-random places: were the values `limit`
// distinct ones evenly spread, the sample would hold about
// limit (1 - e^(-kSampled / limit)) distinct values, so the values are
// likely fewer when the sample holds fewer. Random places, since a stride
// can fall in step with periodic data. Distinct values, which the sort
// handles better (sorted ones in one merge of their runs), then cost the
// sample and not an eighth of the sequence hashed.
constexpr int kSampled = 1024;

bool few_distinct_likely(const SetSeq& s, const HashPlan& plan) {
  double sample[kSampled];
  int taken = 0;
  uint64_t state = kSampleSeed;
  for (int q = 0; q < kSampled; ++q) {
    const auto c = static_cast<int32_t>(next_sample_place(&state, s.n));
    const double key = s.cls == SeqClass::kInt ? static_cast<double>(int_at(s, c)) : float_at(s, c).re;
    if (key == key) sample[taken++] = key;
  }
  if (taken == 0) return false;  // all NaN: each its own run, too many to hash
  return sample_suggests_few(sample, taken, plan.limit);
}

// Cuts the sequence into runs (w->runs, w->run_of, w->nruns); false, with
// nothing set that the sort does not set again, when the values repeat too
// little.
template <class K>
bool hash_runs(SetWork* w, const HashPlan& plan) {
  const SetSeq& s = w->seq;
  auto* room = reinterpret_cast<uint8_t*>(w->perm);
  const int64_t room_end = 12 * int64_t{s.n};
  const int64_t hashed_at = (room_end - int64_t{sizeof(HashRun<K>)} * plan.limit) & ~int64_t{7};
  TN_ASSERT(plan.table <= s.n);
  TN_ASSERT(hashed_at >= 4 * int64_t{s.n} + int64_t{sizeof(SetRun)} * plan.limit);
  RunHasher<K> h(plan, w->perm, reinterpret_cast<HashRun<K>*>(room + hashed_at));
  // An element equal to the one before it is in its run: sorted and
  // clustered inputs skip most lookups. NaN equals nothing, the first too;
  // an integer before the first has no run.
  K before{};
  if constexpr (std::is_same_v<K, double>) before = std::numeric_limits<double>::quiet_NaN();
  int32_t before_run = kNoRun;
  auto visit = [&](int part, int32_t pos, K key) {
    const int32_t r = key == before && before_run != kNoRun ? before_run : h.run_of(key);
    if (r == kNoRun) return false;
    before = key;
    before_run = r;
    HashRun<K>& run = h.run(r);
    if (run.first[part] < 0) run.first[part] = pos;
    if (part == 0) w->run_of[pos] = r;
    return true;
  };
  for (int part = 0; part < 2; ++part) {
    const int32_t count = part ? s.n - s.n0 : s.n0;
    const uint8_t* re = s.re[part];
    if constexpr (std::is_same_v<K, int64_t>) {
      const bool uns = (s.type & kElemUnsigned) != 0;
      for (int32_t k = 0; k < count; ++k)
        if (!visit(part, k, uns ? int64_key<true>(re, k) : int64_key<false>(re, k))) return false;
    } else if (s.cls == SeqClass::kDouble) {
      for (int32_t k = 0; k < count; ++k)
        if (!visit(part, k, tn::load<double>(re + 8 * int64_t{k}))) return false;
    } else {
      const int32_t base = part ? s.n0 : 0;
      for (int32_t k = 0; k < count; ++k) {
        const double key = s.cls == SeqClass::kInt ? static_cast<double>(int_at(s, base + k))
                                                   : float_at(s, base + k).re;
        if (!visit(part, k, key)) return false;
      }
    }
  }
  // The distinct values in order; NaN runs, met in order of position, stay
  // in that order.
  const int32_t m = h.count();
  HashRun<K>* runs = &h.run(0);
  std::sort(runs, runs + m, [](const HashRun<K>& x, const HashRun<K>& y) {
    const bool xn = x.key != x.key, yn = y.key != y.key;
    if (xn != yn) return yn;
    return xn ? x.met < y.met : x.key < y.key;
  });
  // rank takes the table's room; runs[r] ends below the hashed runs (see
  // HashPlan).
  int32_t* rank = h.spare();
  for (int32_t r = 0; r < m; ++r) {
    rank[runs[r].met] = r;
    w->runs[r] = SetRun{{runs[r].first[0], runs[r].first[1]}};
  }
  for (int32_t k = 0; k < s.n0; ++k) w->run_of[k] = rank[w->run_of[k]];
  w->nruns = m;
  return true;
}

// Sets up the sequence of the nops top items (one: x; two: a deeper, b on
// top), sorts it and cuts it into runs. Pushes a converted copy of b when
// the classes differ, and one scratch item; w->items counts what must go.
int set_prepare(EngineContext* ctx, int nops, SetWork* w) {
  TN_TRY(stk_argcheck(ctx, nops, nullptr));
  const StackMark mark = stack_mark(ctx);
  const int da = nops - 1;
  const bool list_a = item_is_list_or_cell(ctx, da);
  const bool list_b = nops == 2 && item_is_list_or_cell(ctx, 0);
  SetSeq& s = w->seq;
  int extra = 0;
  int64_t na = 0, nb = 0;
  if (list_a || list_b) {
    if (nops == 2 && list_a != list_b) return kWrongArgType;
    s.cls = SeqClass::kString;
    na = list_or_cell_count(ctx, da);
    nb = nops == 2 ? list_or_cell_count(ctx, 0) : 0;
  } else {
    NumOperand a = num_operand(ctx, da), b;
    if (a.kind == NumKind::kNone) return kWrongArgType;
    if (nops == 2) {
      b = num_operand(ctx, 0);
      if (b.kind == NumKind::kNone) return kWrongArgType;
      if (!same_class(a, b)) {
        TN_TRY(stk_dup(ctx, 0, 1));
        const int st = convert_top_to(ctx, a);
        if (st != kOk) return fail_to_mark(ctx, mark, st);
        extra = 1;
        a = num_operand(ctx, da + 1);
        b = num_operand(ctx, 0);
      }
      nb = b.count;
      s.re[1] = static_cast<const uint8_t*>(b.re);
      s.im[1] = static_cast<const uint8_t*>(b.im);
    }
    na = a.count;
    s.cls = a.kind == NumKind::kDouble   ? SeqClass::kDouble
            : a.kind == NumKind::kSingle ? SeqClass::kSingle
                                         : SeqClass::kInt;
    s.re[0] = static_cast<const uint8_t*>(a.re);
    s.im[0] = static_cast<const uint8_t*>(a.im);
    s.cplx = a.cplx || (nops == 2 && b.cplx);
    s.type = a.type;
    w->a = a;
    w->cplx_a = a.cplx;
  }
  const int64_t n = na + nb;
  if (n > std::numeric_limits<int32_t>::max()) return fail_to_mark(ctx, mark, kObjectTooLarge);
  s.n0 = static_cast<int32_t>(na);
  s.n = static_cast<int32_t>(n);

  // Scratch: string elements, the permutation, the runs, the run of each
  // element of the first operand.
  // The pairs of the fast sort, where they are used, take the room of the
  // permutation and the runs (filled only after the sort) and what more
  // they need; without that room the sort goes through seq_cmp.
  const int64_t str_words = s.cls == SeqClass::kString ? kStringElemWords * n : 0;
  const int64_t sort_bytes = 4 * n + int64_t{sizeof(SetRun)} * n + 4 * na;
  const int64_t pair_bytes = int64_t{sizeof(SortPair)} * n;
  static_assert(sizeof(IntPair) == sizeof(SortPair));
  bool pairs = sorts_as_pairs(s) || sorts_as_int_pairs(s);
  void* scratch;
  int st = kDataStackOverflow;
  if (pairs) st = push_scratch(ctx, (std::max(sort_bytes, pair_bytes) + 7) / 8, &scratch);
  if (st == kDataStackOverflow) {
    pairs = false;
    st = push_scratch(ctx, str_words + (sort_bytes + 7) / 8, &scratch);
  }
  if (st != kOk) return fail_to_mark(ctx, mark, st);
  auto* words = static_cast<uint64_t*>(scratch);
  auto* bytes = reinterpret_cast<uint8_t*>(words + str_words);
  w->perm = reinterpret_cast<int32_t*>(bytes);
  w->runs = reinterpret_cast<SetRun*>(bytes + 4 * n);
  w->run_of = reinterpret_cast<int32_t*>(bytes + 4 * n + int64_t{sizeof(SetRun)} * n);
  w->items = nops + extra + 1;
  if (s.cls == SeqClass::kString) {
    auto* elems = reinterpret_cast<StringElem*>(words);
    st = list_string_elems(ctx, w->items - 1, elems, s.n0);
    if (st == kOk && nops == 2) st = list_string_elems(ctx, 1, elems + na, static_cast<int32_t>(nb));
    if (st != kOk) return fail_to_mark(ctx, mark, st);
    s.str = elems;
  }
  // Past the data top, where there is room, half as many pairs (or
  // permutation entries) again to merge the runs of an ordered sequence:
  // used by the sort alone, before any result is pushed, and taking nothing
  // from the results' room.
  void* merge = nullptr;
  const int64_t merge_words = pairs ? int64_t{sizeof(SortPair)} / 8 * ((n + 1) / 2)
                                    : (4 * ((n + 1) / 2) + 7) / 8;
  if (stk_reserve_top(ctx, merge_words, &merge) != kOk) merge = nullptr;
  // The hashing's room is the pairs' (where these fail, so does it).
  const HashPlan hash = pairs ? hash_plan(s) : HashPlan{};
  // (The sample of 64-bit integers goes by their doubles: only a guess,
  // which the hashing, exact, corrects by giving up.)
  if (hash.limit > 0 && few_distinct_likely(s, hash) &&
      (sorts_as_int_pairs(s) ? hash_runs<int64_t>(w, hash) : hash_runs<double>(w, hash)))
    return kOk;
  sort_sequence(s, w->perm, pairs ? static_cast<SortPair*>(scratch) : nullptr, merge);
  w->nruns = walk_runs(w, pairs ? RunMarks::kMarked : RunMarks::kNone);
  return kOk;
}

// Where run r's value is taken from: the first operand when it has it.
Place run_source(const SetWork& w, int32_t r) {
  const SetRun& run = w.runs[r];
  return run.has(0) ? Place{0, run.first[0]} : Place{1, run.first[1]};
}

template <int kBytes>
void copy_run_values(const SetWork& w, const int32_t* sel, int32_t k, uint8_t* out) {
  for (int32_t q = 0; q < k; ++q) {
    const Place p = run_source(w, sel[q]);
    std::memcpy(out + int64_t{q} * kBytes, w.seq.re[p.part] + p.pos * kBytes, kBytes);
  }
}

// A result vector of `count` elements of like's class: a row where row is
// set, else a column; the elements are left for the caller.
int push_vector_like(EngineContext* ctx, const NumOperand& like, int64_t count, bool row, bool cplx, uint8_t** re,
                     uint8_t** im) {
  const auto n = static_cast<int32_t>(count);
  const int32_t dims[2] = {row ? 1 : n, row ? n : 1};
  return push_array_like(ctx, like, 2, dims, cplx, re, im);
}

// Pushes the values of the k runs listed in sel (each taken from the first
// operand when it has the value): a list for strings, else a row or column
// of the first operand's class. sel is overwritten.
int push_run_values(EngineContext* ctx, const SetWork& w, int32_t* sel, int32_t k, bool row,
                    bool cplx) {
  const SetSeq& s = w.seq;
  if (s.cls == SeqClass::kString) {
    for (int32_t q = 0; q < k; ++q) {
      const Place p = run_source(w, sel[q]);
      sel[q] = static_cast<int32_t>(p.part == 0 ? p.pos : s.n0 + p.pos);
    }
    return push_list_of(ctx, s.str, sel, k);
  }
  uint8_t *re, *im;
  TN_TRY(push_vector_like(ctx, w.a, k, row, cplx, &re, &im));
  const uint32_t es = num_elem_bytes(w.a);
  if (!im) {  // one copy of a known size an element: results of millions of values
    switch (es) {
      case 8: copy_run_values<8>(w, sel, k, re); return kOk;
      case 4: copy_run_values<4>(w, sel, k, re); return kOk;
      case 2: copy_run_values<2>(w, sel, k, re); return kOk;
      case 1: copy_run_values<1>(w, sel, k, re); return kOk;
      default: break;
    }
  }
  for (int32_t q = 0; q < k; ++q) {
    const Place p = run_source(w, sel[q]);
    std::memcpy(re + int64_t{q} * es, s.re[p.part] + p.pos * es, es);
    if (!im) continue;
    if (s.im[p.part])
      std::memcpy(im + int64_t{q} * es, s.im[p.part] + p.pos * es, es);
    else
      std::memset(im + int64_t{q} * es, 0, es);
  }
  return kOk;
}

// A 1 x k row of first positions (1-based) in `part` of the listed runs
// that pass the filter.
template <typename Filter>
int push_positions(EngineContext* ctx, const SetWork& w, const int32_t* sel, int32_t k, int part,
                   Filter keep) {
  int64_t count = 0;
  for (int32_t q = 0; q < k; ++q) count += keep(w.runs[sel[q]]) ? 1 : 0;
  double* out;
  TN_TRY(push_index_row(ctx, count, &out));
  for (int32_t q = 0; q < k; ++q)
    if (keep(w.runs[sel[q]])) *out++ = w.runs[sel[q]].first[part] + 1.0;
  return kOk;
}

// The order an output lists its runs in: the sequence's (kSeqOrder), or the
// value order of the real operand `part`. A difference reports an operand's
// values in the order of that operand's own unique values, and a real
// operand's go by value even where the other operand, being complex, puts
// the sequence in modulus order (so setdiff([3 -5 1], 2i) is [-5 1 3]).
// Runs without a value in `part` go last; NaN runs keep the sequence's order.
constexpr int kSeqOrder = -1;

void arrange_runs(const SetWork& w, int32_t* sel, int32_t k, int order) {
  if (order == kSeqOrder) {
    std::sort(sel, sel + k);  // runs are numbered in sequence order
    return;
  }
  const SetSeq& s = w.seq;
  auto value = [&](int32_t r) {
    const int32_t pos = w.runs[r].first[order];
    return float_at(s, order == 0 ? pos : s.n0 + pos).re;
  };
  std::sort(sel, sel + k, [&](int32_t x, int32_t y) {
    const bool hx = w.runs[x].has(order), hy = w.runs[y].has(order);
    if (hx != hy) return hx;
    if (hx) {
      const int32_t c = cmp_nan_last(value(x), value(y));
      if (c != 0) return c < 0;
    }
    return x < y;
  });
}

// kSeqOrder, or `part` where its values go by value against a sequence in
// modulus order.
int own_order(const SetWork& w, int part) {
  return w.seq.cplx && !w.seq.im[part] ? part : kSeqOrder;
}

// A row (2 dimensions, one row) stays a row in unique and setdiff.
bool is_row(const NumOperand& o) { return o.dims && o.ndims == 2 && o.dims[0] == 1; }

int clamp_outputs(int nargout) { return nargout < 1 ? 1 : nargout; }

enum class SetOp : uint8_t { kUnion, kIntersect, kSetdiff, kSetxor };
int set_values_only(EngineContext* ctx, SetOp op, bool* done);
int set_int64_values_only(EngineContext* ctx, SetOp op, bool* done);

int set_binary(EngineContext* ctx, int nargout, SetOp op) {
  if (nargout > 3) return kTooManyOutputs;
  const int nout = clamp_outputs(nargout);
  if (nout == 1) {
    TN_TRY(stk_argcheck(ctx, 2, nullptr));
    bool done = false;
    TN_TRY(set_values_only(ctx, op, &done));
    if (!done) TN_TRY(set_int64_values_only(ctx, op, &done));
    if (done) return kOk;
  }
  const StackMark mark = stack_mark(ctx);
  SetWork w;
  TN_TRY(set_prepare(ctx, 2, &w));
  auto chosen = [op](const SetRun& r) {
    switch (op) {
      case SetOp::kUnion: return true;
      case SetOp::kIntersect: return r.has(0) && r.has(1);
      case SetOp::kSetdiff: return r.has(0) && !r.has(1);
      default: return r.has(0) != r.has(1);
    }
  };
  // The chosen runs in order; the permutation is no longer needed.
  int32_t* sel = w.perm;
  int32_t k = 0;
  for (int32_t r = 0; r < w.nruns; ++r)
    if (chosen(w.runs[r])) sel[k++] = r;

  // Outputs from the last to the first, which ends on top. setdiff's values
  // and positions and setxor's positions are differences, each in its
  // operand's own order; setxor's values are the union of the two.
  const bool difference = op == SetOp::kSetdiff || op == SetOp::kSetxor;
  int arranged = kSeqOrder;
  auto arrange = [&](int order) {
    if (order != arranged) arrange_runs(w, sel, k, order);
    arranged = order;
  };
  int st = kOk;
  if (nout >= 3) {
    arrange(op == SetOp::kSetxor ? own_order(w, 1) : kSeqOrder);
    st = push_positions(ctx, w, sel, k, 1, [op](const SetRun& r) {
      return op == SetOp::kIntersect ? true : !r.has(0);
    });
  }
  if (st == kOk && nout >= 2) {
    arrange(difference ? own_order(w, 0) : kSeqOrder);
    st = push_positions(ctx, w, sel, k, 0, [](const SetRun& r) { return r.has(0); });
  }
  if (st == kOk) {
    arrange(op == SetOp::kSetdiff ? own_order(w, 0) : kSeqOrder);
    const bool row = op == SetOp::kSetdiff && is_row(w.a);
    const bool cplx = op == SetOp::kSetdiff ? w.cplx_a : w.seq.cplx;
    st = push_run_values(ctx, w, sel, k, row, cplx);
  }
  if (st != kOk) return fail_to_mark(ctx, mark, st);
  return stk_remove(ctx, nout, w.items);
}

// --- ismember by lookup ---------------------------------------------------------
// ismember(x, s) needs no sort of x: the values of s are sorted alone (no
// positions, no NaN, each once) and every element of x is looked up in
// them. Where x is ordered, or made of a few ordered stretches, each lookup
// starts from the one before and gallops (a merge walk in effect); where s
// is small, a bisection in the cache. Any other pair of operands goes
// through the runs of the whole sequence, which sorts x and s together.
// Written for speed: ismember of large ordered arrays spends its time here.

constexpr int64_t kLookupSmallSet = 4096;  // elements of s: bisection stays in the cache
constexpr int32_t kLookupMostRuns = 64;    // ordered stretches of x for a walk
constexpr int64_t kLookupScanned = 65536;  // elements of x that show its order

// Calls f(key_at) once, key_at(k) giving element k of a real operand whose
// values are exact as doubles (sorts_as_pairs): one loop per class, the
// class decided outside it. Loops over key_at keep their state in local
// variables: a lambda's captures by reference would be stored and loaded
// around every store of a result (a byte store may alias anything).
template <class F>
void with_keys(const NumOperand& o, F&& f) {
  const auto* p = static_cast<const uint8_t*>(o.re);
  if (o.kind == NumKind::kDouble) {
    f([p](int64_t k) { return tn::load<double>(p + 8 * k); });
    return;
  }
  if (o.kind == NumKind::kSingle) {
    f([p](int64_t k) { return static_cast<double>(tn::load<float>(p + 4 * k)); });
    return;
  }
  switch (o.type) {
    case kElemI8: f([p](int64_t k) { return double(tn::load<int8_t>(p + k)); }); break;
    case kElemU8: f([p](int64_t k) { return double(tn::load<uint8_t>(p + k)); }); break;
    case kElemI16: f([p](int64_t k) { return double(tn::load<int16_t>(p + 2 * k)); }); break;
    case kElemU16: f([p](int64_t k) { return double(tn::load<uint16_t>(p + 2 * k)); }); break;
    case kElemI32: f([p](int64_t k) { return double(tn::load<int32_t>(p + 4 * k)); }); break;
    case kElemU32: f([p](int64_t k) { return double(tn::load<uint32_t>(p + 4 * k)); }); break;
    default: TN_ASSERT(false);
  }
}

// Calls f(p) once, p pointing to the elements of a real single or integer
// operand of up to 32 bits, as their own type.
template <class F>
void with_elements(const NumOperand& o, F&& f) {
  const void* p = o.re;
  if (o.kind == NumKind::kSingle) {
    f(static_cast<const float*>(p));
    return;
  }
  switch (o.type) {
    case kElemI8: f(static_cast<const int8_t*>(p)); break;
    case kElemU8: f(static_cast<const uint8_t*>(p)); break;
    case kElemI16: f(static_cast<const int16_t*>(p)); break;
    case kElemU16: f(static_cast<const uint16_t*>(p)); break;
    case kElemI32: f(static_cast<const int32_t*>(p)); break;
    case kElemU32: f(static_cast<const uint32_t*>(p)); break;
    default: TN_ASSERT(false);
  }
}

// Whether a real single or integer operand of up to 32 bits strictly
// ascends (kStrictlyAscends) and whether it strictly descends, so holding
// neither NaN nor both zeros: an empty operand does both, one element both
// unless it is NaN (no key).
constexpr int kStrictlyAscends = 1, kStrictlyDescends = 2;
int strict_orders(const NumOperand& o) {
  int orders = 0;
  with_elements(o, [&](const auto* p) {
    const int64_t n = o.count;
    if (n < 2) {
      orders = n == 0 || p[0] == p[0] ? kStrictlyAscends | kStrictlyDescends : 0;
      return;
    }
    if (run_end_from(p, 1, n, RunOrder::kAscending) == n)
      orders = kStrictlyAscends;
    else if (run_end_from(p, 1, n, RunOrder::kDescending) == n)
      orders = kStrictlyDescends;
  });
  return orders;
}

bool keys_exact(const NumOperand& o) {
  return !o.cplx && (o.kind == NumKind::kDouble || o.kind == NumKind::kSingle ||
                     (o.kind == NumKind::kInt && (o.type & 127) <= 4));
}

// Whether the first kLookupScanned elements of x fall into at most
// kLookupMostRuns monotone stretches (NaNs aside); the scan ends as soon as
// they do not. What follows is taken to be alike: were it not, the
// galloping lookups would cost about twice a bisection each.
bool few_ordered_stretches(const NumOperand& x) {
  const int64_t scanned = std::min(x.count, kLookupScanned);
  if (x.kind == NumKind::kDouble && scanned > 0) {  // one stretch, read a block at a time
    const auto* p = static_cast<const double*>(x.re);
    if (run_end_from(p, 1, scanned, RunOrder::kNondecreasing) == scanned ||
        run_end_from(p, 1, scanned, RunOrder::kDescending) == scanned)
      return true;
  }
  int32_t runs = 1;
  int direction = 0;
  double before = std::numeric_limits<double>::quiet_NaN();
  auto step = [&](double key) {
    if (key != key) return true;
    if (!(key != before)) return true;  // equal, or the first number
    if (before != before) {
      before = key;
      return true;
    }
    const int d = key > before ? 1 : -1;
    before = key;
    if (direction == 0 || d == direction) {
      direction = d;
      return true;
    }
    direction = 0;
    return ++runs <= kLookupMostRuns;
  };
  bool few = true;
  with_keys(x, [&](auto key_at) {
    for (int64_t k = 0; k < scanned && few; ++k) few = step(key_at(k));
  });
  return few;
}

// One operand's numbers, sorted and each once, at the front of its room
// (or where they lie, when they are so already); the positions of its NaNs,
// last first, at the back.
struct OperandValues {
  const double* keys = nullptr;
  int64_t count = 0;       // distinct numbers
  int64_t nan_from = 0;    // keys[nan_from .. room) hold NaN positions, last first
  int64_t room = 0;
  double zero = 0;         // the first zero of the operand, as stored
};

// Doubles strictly ascending (so neither NaN nor a second zero) are their
// own keys, read where they lie: *v set so, and no room needed.
bool own_keys(const NumOperand& o, OperandValues* v) {
  if (o.kind != NumKind::kDouble) return false;
  const auto* p = static_cast<const double*>(o.re);
  if (o.count > 0 && (p[0] != p[0] || run_end_from(p, 1, o.count, RunOrder::kAscending) < o.count))
    return false;
  *v = OperandValues{};
  v->keys = p;
  v->count = v->nan_from = v->room = o.count;
  const double* z = std::lower_bound(p, p + o.count, 0.0);
  if (z != p + o.count && *z == 0) v->zero = *z;
  return true;
}

// The values of an operand that are not its own keys, through room (its
// element count) and merge (half that, or none).
OperandValues sorted_values(const NumOperand& o, double* room, double* merge) {
  OperandValues v;
  v.keys = room;
  v.room = o.count;
  // Doubles strictly descending (so neither NaN nor a second zero) are
  // copied in reverse while the order is checked; at the first step out of
  // that order the general pass below starts over.
  if (o.kind == NumKind::kDouble && o.count > 0) {
    const auto* p = static_cast<const double*>(o.re);
    const int64_t n = o.count;
    int64_t k = 1;
    room[n - 1] = p[0];
    while (k < n && p[k] < p[k - 1]) {
      room[n - 1 - k] = p[k];
      ++k;
    }
    if (k == n && p[0] == p[0]) {
      v.count = v.nan_from = n;
      const double* z = std::lower_bound(room, room + n, 0.0);
      if (z != room + n && *z == 0) v.zero = *z;
      return v;
    }
  }
  // While the numbers come in order, each is kept only when it differs
  // from the one before: a sorted operand is done in this one pass. (A zero
  // left out so equals a zero kept before it, the first of them.)
  bool in_order = true;
  int64_t m = 0, nan_from = o.count;
  double zero = 0;
  const double* plain = o.kind == NumKind::kDouble ? static_cast<const double*>(o.re) : nullptr;
  // The end of the run of elements equal to element k - 1, read in their
  // own type.
  auto equal_run_end = [&o, plain](int64_t k) {
    if (plain) return run_end_from(plain, k, o.count, RunOrder::kEqual);
    int64_t end = k;
    with_elements(o, [&](const auto* p) { end = run_end_from(p, k, o.count, RunOrder::kEqual); });
    return end;
  };
  with_keys(o, [&](auto key_at) {
    bool ordered = true, zero_seen = false;
    int64_t kept = 0, nans_at = nan_from;
    double last = std::numeric_limits<double>::quiet_NaN(), first_zero = 0;
    for (int64_t k = 0; k < o.count; ++k) {
      const double key = key_at(k);
      if (key != key) {
        room[--nans_at] = double(k);
        continue;
      }
      if (ordered) {
        if (key == last) {  // and so may many more be
          k = equal_run_end(k + 1) - 1;
          continue;
        }
        ordered = !(key < last);  // true for the first number
      }
      if (key == 0 && !zero_seen) {
        zero_seen = true;
        first_zero = key;
      }
      room[kept++] = key;
      last = key;
    }
    in_order = ordered;
    m = kept;
    nan_from = nans_at;
    zero = first_zero;
  });
  if (!in_order) {
    sort_numbers(room, m, 0, merge);
    m = std::unique(room, room + m) - room;
  }
  v.count = m;
  v.nan_from = nan_from;
  v.zero = zero;
  return v;
}

// The first place p in keys[lo..hi) with !less(keys[p], v) (keys ordered
// by less), searched outward from `from` (lo <= from <= hi) at steps of 1,
// 2, 4, ...
template <class K, class Less>
int64_t gallop_lower_bound(const K* keys, int64_t lo, int64_t hi, int64_t from, K v, Less less) {
  int64_t a = from, b = from, step = 1;
  if (from < hi && less(keys[from], v)) {  // forward: keys[a] before v throughout
    while (b < hi && less(keys[b], v)) {
      a = b;
      b = from + step;
      step *= 2;
    }
    return std::lower_bound(keys + a + 1, keys + std::min(b, hi), v, less) - keys;
  }
  while (a > lo && !less(keys[a - 1], v)) {  // backward: keys[b] not before v (or b == hi)
    b = a - 1;
    a = from - step;
    step *= 2;
    if (a < lo) a = lo;
  }
  return std::lower_bound(keys + a, keys + b, v, less) - keys;
}

// A value the first element of x (n of them) is sure to differ from, so
// that the first lookup is made: NaN for doubles and singles; for integers, which have
// no such value, the complement of that element.
template <class K, class KeyAt>
K differing_from_first(KeyAt key_at, int64_t n) {
  if constexpr (std::is_floating_point_v<K>)
    return std::numeric_limits<double>::quiet_NaN();
  else
    return n > 0 ? ~key_at(0) : K{0};
}

// tf[k] := whether element k of x (key_at) is among keys[0..count), which
// are distinct numbers ordered by less (ascending, or descending where they
// are an operand's own); walk as ismember_by_lookup decides. plain: x's
// elements where they are doubles, whose runs of repeats are then read a
// block at a time (null for integer keys).
template <class KeyAt, class K, class Less>
void look_up(KeyAt key_at, const double* plain, int64_t n, const K* keys, int64_t count, bool walk,
             Less less, uint8_t* tf) {
  K before = differing_from_first<K>(key_at, n);
  int64_t at = 0;
  uint8_t found = 0;
  int64_t k = 0;
  if (walk && n > 0 && count > 0) {
    // While x steps strictly in the keys' direction, the walk only moves
    // forward: one comparison an element where x and the keys interleave
    // closely (the common case), a search where x leaps ahead. The general
    // loop takes over at a NaN, a repeat or a step back.
    before = key_at(0);
    if (before == before) {
      at = gallop_lower_bound(keys, 0, count, 0, before, less);
      tf[0] = at < count && keys[at] == before ? 1 : 0;
      for (k = 1; k < n; ++k) {
        const K key = key_at(k);
        if (!less(before, key)) break;
        if (at < count && less(keys[at], key)) {
          if (at + 1 < count && !less(keys[at + 1], key))
            ++at;
          else
            at = gallop_lower_bound(keys, 0, count, at, key, less);
        }
        tf[k] = at < count && keys[at] == key ? 1 : 0;
        before = key;
      }
      if (k < n) found = tf[k - 1];
    }
  }
  for (; k < n; ++k) {
    const K key = key_at(k);
    if (key != key) {
      tf[k] = 0;
      continue;
    }
    if (key != before) {
      // A merge walk's step: the same place or the next one in the
      // direction of x, and a search only when the place lies further.
      if (!walk) {
        at = std::lower_bound(keys, keys + count, key, less) - keys;
      } else if (less(before, key)) {
        if (at < count && less(keys[at], key)) {
          if (at + 1 < count && !less(keys[at + 1], key))
            ++at;
          else
            at = gallop_lower_bound(keys, 0, count, at, key, less);
        }
      } else if (less(key, before)) {
        if (at > 0 && !less(keys[at - 1], key)) {
          if (at >= 2 && less(keys[at - 2], key))
            --at;
          else
            at = gallop_lower_bound(keys, 0, count, at, key, less);
        }
      } else {  // the first number
        at = gallop_lower_bound(keys, 0, count, at, key, less);
      }
      found = at < count && keys[at] == key ? 1 : 0;
      before = key;
    }
    tf[k] = found;
    if constexpr (std::is_same_v<K, double>) {
      if (plain && k + 1 < n && plain[k + 1] == key) {  // repeats answered at once
        const int64_t end = run_end_from(plain, k + 1, n, RunOrder::kEqual);
        std::memset(tf + k + 1, found, static_cast<size_t>(end - k - 1));
        k = end - 1;
      }
    }
  }
}

// Doubles strictly descending (so neither NaN nor a second zero): an
// operand's own keys in the reverse order, read where they lie.
bool strictly_descending(const NumOperand& o) {
  if (o.kind != NumKind::kDouble || o.count < 1) return false;
  const auto* p = static_cast<const double*>(o.re);
  return p[0] == p[0] && run_end_from(p, 1, o.count, RunOrder::kDescending) == o.count;
}

// --- 64-bit integers by value ----------------------------------------------------
// int64 and uint64 values go by their own keys (IntPair's: unsigned ones
// with the top bit flipped), never by doubles, which lose exactness past
// 2^53: the paths above of ismember, unique and the set functions of values
// alone, for these classes. No NaN, no signed zero: only order and repeats.
// Written for speed: the set functions of large 64-bit arrays spend their
// time here.

bool is_int64(const NumOperand& o) {
  return o.kind == NumKind::kInt && !o.cplx && (o.type & 127) == 8;
}

// Calls f(key_at) once, key_at(k) giving element k of a 64-bit operand as a
// key: one loop per signedness, decided outside it.
template <class F>
void with_int_keys(const NumOperand& o, F&& f) {
  const auto* p = static_cast<const uint8_t*>(o.re);
  if (o.type & kElemUnsigned)
    f([p](int64_t k) { return int64_key<true>(p, k); });
  else
    f([p](int64_t k) { return int64_key<false>(p, k); });
}

// Key q of out, an array of o's class, from its key.
inline void store_int_key(const NumOperand& o, uint8_t* out, int64_t q, int64_t key) {
  const uint64_t flip = (o.type & kElemUnsigned) ? uint64_t{1} << 63 : 0;
  tn::store<uint64_t>(out + 8 * q, static_cast<uint64_t>(key) ^ flip);
}

// Whether o's keys are likely at most `limit` distinct ones, from a sample
// at pseudo-random places, as few_distinct_likely.
bool few_int_keys_likely(const NumOperand& o, int64_t limit) {
  int64_t sample[kSampled];
  uint64_t state = kSampleSeed;
  with_int_keys(o, [&](auto key_at) {
    for (int64_t& x : sample) x = key_at(next_sample_place(&state, o.count));
  });
  return sample_suggests_few(sample, kSampled, limit);
}

// The distinct keys of o, unordered, at room[0..returned), found through a
// hash table in `table` (a power of two `size` of slots, at least twice
// limit); -1 once they pass limit. Integers have no spare value to mark an
// empty slot, so one key stands for it and its presence is kept apart.
// Linear in the elements, where periodic data costs a sort a merge per
// level of its many runs.
int64_t hash_int_keys(const NumOperand& o, int64_t* room, int64_t limit, int64_t* table,
                      int64_t size) {
  constexpr int64_t kEmpty = std::numeric_limits<int64_t>::min();
  std::fill(table, table + size, kEmpty);
  const int shift = 64 - std::countr_zero(static_cast<uint64_t>(size));
  const auto mask = static_cast<uint64_t>(size - 1);
  int64_t m = 0;
  bool empty_seen = false;
  with_int_keys(o, [&](auto key_at) {
    int64_t before = 0;
    for (int64_t k = 0; k < o.count; ++k) {
      const int64_t key = key_at(k);
      if (k > 0 && key == before) continue;  // runs of repeats: one lookup
      before = key;
      if (key == kEmpty) {
        if (!empty_seen) {
          empty_seen = true;
          if (m == limit) return void(m = -1);
          room[m++] = key;
        }
        continue;
      }
      uint64_t b = static_cast<uint64_t>(key);
      b ^= b >> 29;
      for (uint64_t h = (b * 0x9E3779B97F4A7C15ull) >> shift;; h = (h + 1) & mask) {
        if (table[h] == key) break;
        if (table[h] == kEmpty) {
          if (m == limit) return void(m = -1);
          table[h] = key;
          room[m++] = key;
          break;
        }
      }
    }
  });
  return m;
}

// The distinct values of a[0..na) (distinct) and b[0..nb), both ascending,
// at out[0..returned); out may be where b lies, ending at b's end, since
// each element is written no further on than the one it was read from.
int64_t merge_distinct(const int64_t* a, int64_t na, const int64_t* b, int64_t nb, int64_t* out) {
  int64_t i = 0, j = 0, k = 0;
  int64_t last = 0;
  auto put = [&](int64_t v) {
    if (k == 0 || v != last) out[k++] = v;
    last = v;
  };
  while (i < na && j < nb) {
    const int64_t x = a[i], y = b[j];
    const int64_t v = x < y ? x : y;
    i += x == v ? 1 : 0;
    j += y == v ? 1 : 0;
    put(v);
  }
  for (; i < na; ++i) put(a[i]);
  for (; j < nb; ++j) put(b[j]);
  return k;
}

// The distinct keys of o ascending at room[0..returned) (room for o.count),
// merge as for sort_int_keys. While the keys come in order each is kept
// only when it differs from the one before, so a sorted operand is done in
// this one pass; a reversed one is a single run to the sort. Few values
// repeated many times (periodic data) are hashed, where the merge room
// holds the table.
int64_t distinct_int_keys(const NumOperand& o, int64_t* room, int64_t* merge) {
  const int64_t n = o.count;
  const bool hashable = merge && n >= kHashFrom;
  int64_t m = 0, prefix = 0;
  bool ordered = true, hashed = false;
  with_int_keys(o, [&](auto key_at) {
    // Strictly descending keys are distinct already: copied in reverse
    // while the order is checked, and at the first step out of it the
    // general pass below starts over.
    if (n >= 2 && key_at(1) < key_at(0)) {
      int64_t k = 1;
      room[n - 1] = key_at(0);
      for (; k < n; ++k) {
        const int64_t key = key_at(k);
        if (!(key < room[n - k])) break;
        room[n - 1 - k] = key;
      }
      if (k == n) {
        m = n;
        return;
      }
    }
    int64_t kept = 0, k = 0;
    for (; k < n; ++k) {
      const int64_t key = key_at(k);
      if (kept > 0 && key <= room[kept - 1]) {
        if (key == room[kept - 1]) continue;
        break;
      }
      room[kept++] = key;
    }
    prefix = kept;
    ordered = k == n;
    hashed = !ordered && hashable && few_int_keys_likely(o, n / 8);
    if (hashed) return;  // room filled below
    for (; k < n; ++k) room[kept++] = key_at(k);
    m = kept;
  });
  if (hashed) {
    const int64_t limit = n / 8;
    int64_t size = 64;
    while (size < 2 * limit) size *= 2;
    TN_ASSERT(size <= (n + 1) / 2);
    m = hash_int_keys(o, room, limit, merge, size);
    if (m >= 0) {
      sort_int_keys(room, m, nullptr);
      return m;
    }
    // More values than the sample showed: all of them to the sort.
    with_int_keys(o, [&](auto key_at) {
      for (int64_t k = 0; k < n; ++k) room[k] = key_at(k);
    });
    m = n;
    prefix = 0;
  }
  if (ordered) return m;
  // The ordered prefix, each value once already, stays apart: the rest is
  // sorted alone and merged with it, each value once, which saves a pass
  // over a prefix of half the keys (values repeated in sorted blocks).
  if (merge && prefix <= (n + 1) / 2) {
    sort_int_keys(room + prefix, m - prefix, merge);
    std::memcpy(merge, room, static_cast<size_t>(8 * prefix));
    return merge_distinct(merge, prefix, room + prefix, m - prefix, room);
  }
  sort_int_keys(room, m, merge);
  return std::unique(room, room + m) - room;
}

// Scratch for the keys of o (its element count, at least one word) and,
// past the data top where there is room, half that again to merge them.
int push_int_key_room(EngineContext* ctx, int64_t count, int64_t** keys, int64_t** merge) {
  void* scratch;
  TN_TRY(push_scratch(ctx, std::max<int64_t>(count, 1), &scratch));
  *keys = static_cast<int64_t*>(scratch);
  void* room = nullptr;
  if (stk_reserve_top(ctx, (count + 1) / 2, &room) != kOk) room = nullptr;
  *merge = static_cast<int64_t*>(room);
  return kOk;
}

// ismember(x, s) of a 64-bit x, s already in x's class: the distinct keys
// of s, x looked up in them. Pushes the result over one scratch item.
int ismember_int64(EngineContext* ctx, int x_depth, bool walk, int* items) {
  const NumOperand s = num_operand(ctx, 0);
  int64_t *keys, *merge;
  TN_TRY(push_int_key_room(ctx, s.count, &keys, &merge));
  ++*items;
  const int64_t count = distinct_int_keys(num_operand(ctx, 1), keys, merge);
  NumOperand x = num_operand(ctx, x_depth + 1);
  uint8_t* tf;
  TN_TRY(stk_push_logical_array(ctx, x.ndims, reinterpret_cast<const int32_t*>(x.dims), &tf));
  x = num_operand(ctx, x_depth + 2);
  with_int_keys(x, [n = x.count, keys, count, tf, walk](auto key_at) {
    look_up(key_at, nullptr, n, static_cast<const int64_t*>(keys), count, walk,
            [](int64_t a, int64_t b) { return a < b; }, tf);
  });
  return kOk;
}

// Whether the first kLookupScanned elements of a 64-bit x fall into at
// most kLookupMostRuns monotone stretches, as few_ordered_stretches.
bool few_ordered_int_stretches(const NumOperand& x) {
  const int64_t scanned = std::min(x.count, kLookupScanned);
  bool few = true;
  with_int_keys(x, [&](auto key_at) {
    int32_t runs = 1;
    int direction = 0;
    for (int64_t k = 1; k < scanned && few; ++k) {
      const int64_t a = key_at(k - 1), b = key_at(k);
      if (a == b) continue;
      const int d = b > a ? 1 : -1;
      if (direction == 0 || d == direction) {
        direction = d;
        continue;
      }
      direction = 0;
      few = ++runs <= kLookupMostRuns;
    }
  });
  return few;
}

// 1 where the keys of o strictly ascend, -1 where they strictly descend,
// else 0 (a single element ascends).
int strict_int_order(const NumOperand& o) {
  int order = 0;
  with_int_keys(o, [&](auto key_at) {
    // 64 places spread over the keys first: where they break the order
    // (values repeated in sorted blocks), the scan is not begun.
    const int64_t n = o.count;
    for (int q = 1; q <= 64 && n > 64; ++q) {
      const int64_t a = key_at((n - 1) * (q - 1) / 64), b = key_at((n - 1) * q / 64);
      if (!(key_at(0) < key_at(n - 1) ? a < b : a > b)) return;
    }
    int64_t k = 1;
    while (k < o.count && key_at(k - 1) < key_at(k)) ++k;
    if (k == o.count) {
      order = 1;
      return;
    }
    if (k > 1) return;
    while (k < o.count && key_at(k - 1) > key_at(k)) ++k;
    order = k == o.count ? -1 : 0;
  });
  return order;
}

// u = unique(x) of a 64-bit x: its distinct keys, in x's class, a row
// where x is one (*done set).
int unique_int64_values(EngineContext* ctx, bool* done) {
  *done = false;
  const NumOperand x = num_operand(ctx, 0);
  if (!is_int64(x) || x.count < 1 || x.count > std::numeric_limits<int32_t>::max()) return kOk;
  const StackMark mark = stack_mark(ctx);
  // Strictly ordered values are their own distinct ones. A vector is its
  // own result, reversed where it descends (x's own copy, as for doubles);
  // any other shape is copied (reversed) to a new one.
  const int order = strict_int_order(x);
  const bool vector = x.dims && x.ndims == 2 && (x.dims[0] == 1 || x.dims[1] == 1);
  if (order != 0 && vector) {
    auto* data = static_cast<uint8_t*>(x.re);
    for (int64_t lo = 0, hi = x.count - 1; order < 0 && lo < hi; ++lo, --hi) {
      const auto a = tn::load<uint64_t>(data + 8 * lo), b = tn::load<uint64_t>(data + 8 * hi);
      tn::store<uint64_t>(data + 8 * lo, b);
      tn::store<uint64_t>(data + 8 * hi, a);
    }
    *done = true;
    return kOk;
  }
  if (order != 0) {
    const auto n32 = static_cast<int32_t>(x.count);
    const int32_t dims[2] = {is_row(x) ? 1 : n32, is_row(x) ? n32 : 1};
    uint8_t *re, *im;
    TN_TRY(push_array_like(ctx, x, 2, dims, false, &re, &im));
    const auto* from = static_cast<const uint8_t*>(num_operand(ctx, 1).re);
    if (order > 0) {
      std::memcpy(re, from, static_cast<size_t>(8 * x.count));
    } else {
      for (int64_t q = 0, k = x.count - 1; k >= 0; ++q, --k)
        tn::store<uint64_t>(re + 8 * q, tn::load<uint64_t>(from + 8 * k));
    }
    *done = true;
    return stk_remove(ctx, 1, 1);
  }
  int64_t *keys, *merge;
  TN_TRY(push_int_key_room(ctx, x.count, &keys, &merge));
  const int64_t count = distinct_int_keys(num_operand(ctx, 1), keys, merge);
  if (x.ndims == 2) {
    // The keys, in the scratch just given up (nothing is pushed over it),
    // written over x's own copy, which then shrinks to them: no result to
    // push and move down. Nothing from here on can fail.
    TN_TRY(stk_remove(ctx, 0, 1));
    const NumOperand own = num_operand(ctx, 0);
    auto* out = static_cast<uint8_t*>(own.re);
    for (int64_t q = 0; q < count; ++q) store_int_key(own, out, q, keys[q]);
    *done = true;
    const auto k32 = static_cast<int32_t>(count);
    return stk_shrink_top_typed(ctx, is_row(x) ? 1 : k32, is_row(x) ? k32 : 1);
  }
  uint8_t *re, *im;
  const int st = push_vector_like(ctx, num_operand(ctx, 1), count, is_row(x), false, &re, &im);
  if (st != kOk) return fail_to_mark(ctx, mark, st);
  const NumOperand like = num_operand(ctx, 2);
  for (int64_t q = 0; q < count; ++q) store_int_key(like, re, q, keys[q]);
  *done = true;
  return stk_remove(ctx, 1, 2);
}

// The lookup path when it applies (*done set), else nothing done.
int ismember_by_lookup(EngineContext* ctx, bool* done) {
  *done = false;
  if (item_is_list_or_cell(ctx, 1) || item_is_list_or_cell(ctx, 0)) return kOk;
  NumOperand x = num_operand(ctx, 1), s = num_operand(ctx, 0);
  if (x.kind == NumKind::kNone || s.kind == NumKind::kNone) return kOk;
  const bool wide = is_int64(x);
  if ((!keys_exact(x) && !wide) || s.cplx || x.count > std::numeric_limits<int32_t>::max()) return kOk;
  const bool walk = wide ? few_ordered_int_stretches(x) : few_ordered_stretches(x);
  if (!walk && s.count > kLookupSmallSet) return kOk;

  const StackMark mark = stack_mark(ctx);
  int items = 2;
  if (!same_class(x, s)) {  // s in x's class, as concatenation converts it
    TN_TRY(stk_dup(ctx, 0, 1));
    const int st = convert_top_to(ctx, x);
    if (st != kOk) return fail_to_mark(ctx, mark, st);
    ++items;
    x = num_operand(ctx, 2);
    s = num_operand(ctx, 0);
  }
  if (wide) {
    const int st = ismember_int64(ctx, items - 1, walk, &items);
    if (st != kOk) return fail_to_mark(ctx, mark, st);
    *done = true;
    return stk_remove(ctx, 1, items);
  }
  int st = kOk;
  if (x.kind != NumKind::kDouble) {
    // Singles and integers looked up in a set that strictly ascends or
    // descends (so holds neither NaN nor both zeros), both in their own
    // type, where they lie.
    const int orders = strict_orders(s);
    const int order = (orders & kStrictlyAscends) ? 1 : (orders & kStrictlyDescends) ? -1 : 0;
    if (order != 0) {
      uint8_t* tf;
      st = stk_push_logical_array(ctx, x.ndims, reinterpret_cast<const int32_t*>(x.dims), &tf);
      if (st != kOk) return fail_to_mark(ctx, mark, st);
      x = num_operand(ctx, items);
      s = num_operand(ctx, 1);
      with_elements(x, [&](const auto* xp) {
        const auto* keys = static_cast<decltype(xp)>(s.re);
        auto key_at = [xp](int64_t k) { return xp[k]; };
        if (order > 0)
          look_up(key_at, nullptr, x.count, keys, s.count, walk, [](auto a, auto b) { return a < b; }, tf);
        else
          look_up(key_at, nullptr, x.count, keys, s.count, walk, [](auto a, auto b) { return a > b; }, tf);
      });
      *done = true;
      return stk_remove(ctx, 1, items);
    }
  }
  // The keys of s (unless they are its own) and, past the data top where
  // there is room, half as many again to merge their runs (used before the
  // result is pushed).
  OperandValues values;
  const bool down = strictly_descending(s);
  const bool own = down || own_keys(s, &values);
  const int64_t m = own ? 0 : s.count, merge_words = own ? 0 : (m + 1) / 2;
  void* scratch;
  void* merge = nullptr;
  st = push_scratch(ctx, m, &scratch);
  if (st != kOk) return fail_to_mark(ctx, mark, st);
  if (merge_words > 0 && stk_reserve_top(ctx, merge_words, &merge) != kOk) merge = nullptr;
  ++items;
  // NaN is in no set, and -0 is found as 0.
  if (!own) values = sorted_values(s, static_cast<double*>(scratch), static_cast<double*>(merge));
  const double* keys = down ? static_cast<const double*>(s.re) : values.keys;  // s stays where it lies
  const int64_t count = down ? s.count : values.count;

  uint8_t* tf;
  st = stk_push_logical_array(ctx, x.ndims, reinterpret_cast<const int32_t*>(x.dims), &tf);
  if (st != kOk) return fail_to_mark(ctx, mark, st);
  x = num_operand(ctx, items);  // the push may not move it, but reading it again costs nothing
  const double* plain = x.kind == NumKind::kDouble ? static_cast<const double*>(x.re) : nullptr;
  with_keys(x, [n = x.count, plain, keys, count, tf, walk, down](auto key_at) {
    if (down)
      look_up(key_at, plain, n, keys, count, walk, [](double a, double b) { return a > b; }, tf);
    else
      look_up(key_at, plain, n, keys, count, walk, [](double a, double b) { return a < b; }, tf);
  });
  *done = true;
  return stk_remove(ctx, 1, items);
}

// tf = ismember(x, s) of two variables, s strictly ascending, written from
// their blocks into tf's (see local_result_into): what ismember_by_lookup
// does with s's own keys, without the copies. Real matrices, or 64-bit
// integer matrices of one class (compared in their own type, whose order
// their keys keep). takes leaves in the result's last word whether x's
// values are 64-bit (kWideLookup) and whether x is walked (kWalkedLookup).
constexpr uint32_t kWideLookup = 1, kWalkedLookup = 2;

bool ismember_block_takes(EngineContext* ctx, const LocalArg* args, int64_t pushed_words, uint32_t* result) {
  const NumOperand x = num_operand_of(args[0].h, args[0].data), s = num_operand_of(args[1].h, args[1].data);
  if (x.count > std::numeric_limits<int32_t>::max()) return false;
  bool wide = false, walk = false;
  if (args[0].h[0] == kKindReal && args[1].h[0] == kKindReal) {
    OperandValues keys;
    if (!own_keys(s, &keys)) return false;
    walk = few_ordered_stretches(x);
  } else {
    if (!is_int64(x) || x.type != s.type || x.ndims != 2 || x.desc[2] != kPayNumeric || s.desc[2] != kPayNumeric ||
        strict_int_order(s) != 1)
      return false;
    wide = true;
    walk = few_ordered_int_stretches(x);
  }
  if (!walk && s.count > kLookupSmallSet) return false;
  const int64_t words = (typed_header_bytes(2) + x.count + 7) / 8;
  // The instructions' scratch items and result past the arguments' copies.
  const int64_t scratch = wide ? s.count + (s.count + 1) / 2 : 1;
  if (pushed_words + scratch + words >= data_free_words(ctx) || words > std::numeric_limits<int32_t>::max())
    return false;
  result[0] = kKindPayload;
  result[1] = static_cast<uint32_t>(words);
  result[2] = kPayLogical;
  result[3] = (wide ? kWideLookup : 0) | (walk ? kWalkedLookup : 0);
  return true;
}

void ismember_block_write(EngineContext*, const LocalArg* args, const uint32_t* result, uint64_t* dst, double*,
                          uint8_t) {
  const NumOperand x = num_operand_of(args[0].h, args[0].data), s = num_operand_of(args[1].h, args[1].data);
  const bool walk = (result[3] & kWalkedLookup) != 0;
  // A logical array of x's shape, its last word's spare bytes clear.
  const int64_t header = typed_header_bytes(2);
  dst[(header + x.count + 7) / 8 - 1] = 0;
  auto* b = reinterpret_cast<uint8_t*>(dst);
  std::memset(b, 0, static_cast<size_t>(header));
  tn::st_u32(b, 1 + kElemUnsigned);
  tn::st_u32(b + 4, 2);
  tn::st_u32(b + 8, x.dims[0]);
  tn::st_u32(b + 12, x.dims[1]);
  uint8_t* tf = b + header;
  auto native = [&](const auto* xs) {
    using K = std::remove_cv_t<std::remove_pointer_t<decltype(xs)>>;
    look_up([xs](int64_t k) { return xs[k]; }, std::is_same_v<K, double> ? reinterpret_cast<const double*>(xs) : nullptr,
            x.count, static_cast<const K*>(s.re), s.count, walk, [](K a, K c) { return a < c; }, tf);
  };
  if (!(result[3] & kWideLookup))
    native(static_cast<const double*>(x.re));
  else if (x.type & kElemUnsigned)
    native(static_cast<const uint64_t*>(x.re));
  else
    native(static_cast<const int64_t*>(x.re));
}

// --- unique of values alone ------------------------------------------------------
// u = unique(x) of a real double matrix needs neither positions nor runs:
// the values are sorted alone and the distinct ones written over x's own
// copy, which then shrinks to the result: the runs' machinery, its pairs
// and a result pushed above the argument all cost more than the sort. The
// result is the runs': -0 and 0 one value, written as the first zero of x;
// every NaN kept, after the numbers, in the order of x.
// Written for speed: unique of large arrays spends its time here.

// Writes the distinct values of the ordered keys[0..m) to out (which may be
// keys itself), the first of each run, a zero as `zero` where given;
// returns their count.
int64_t write_distinct(const double* keys, int64_t m, const double* zero, double* out) {
  int64_t k = 0;
  double kept = 0;  // the value last kept, in a register (not read back from out)
  for (int64_t q = 0; q < m; ++q) {
    const double v = keys[q];
    if (k > 0 && v == kept) continue;
    kept = v;
    out[k++] = v == 0 && zero ? *zero : v;
  }
  return k;
}

// u = unique(x) of a matrix of real singles or integers in few ordered
// runs (or of one or two bytes): x's own copy sorted where it lies by the
// sort of its type, which is stable, so each value's first place holds the
// first of its equals in x (the first zero for -0 and 0), and the distinct
// values kept at its front, to which it then shrinks. Nothing is pushed,
// so nothing fails once the sort has begun. What that sort does not take
// (NaN, many runs) is left untouched to the runs' machinery. *done set
// when done.
int unique_typed_in_place(EngineContext* ctx, bool* done) {
  *done = false;
  const NumOperand x = num_operand(ctx, 0);
  if (x.plain || x.cplx || x.kind == NumKind::kDouble || x.kind == NumKind::kNone || x.count < 2) return kOk;
  if (x.ndims != 2) return kOk;  // the result then needs a new array, which could fail after the sort
  if (x.count > std::numeric_limits<int32_t>::max()) return kOk;
  const uint32_t es = num_elem_bytes(x);
  int64_t free_bytes = 0;
  void* room = nullptr;
  stk_free_space(ctx, &free_bytes, &room);
  if (free_bytes < typed_sort_room_bytes(x.count, es, false)) return kOk;
  auto* data = static_cast<uint8_t*>(x.re);
  if (!sort_line_of_type(x, data, nullptr, x.count, 0, room, free_bytes)) return kOk;
  // The sort took the line, so it is aligned for its type.
  auto keep_first = [n = x.count](auto* a) {
    int64_t q = 1;
    while (q < n && !(a[q] == a[q - 1])) ++q;  // the distinct start stays where it is
    auto last = a[q - 1];
    int64_t kept = q;
    for (; q < n; ++q) {
      const auto v = a[q];
      if (v == last) continue;  // -0 == 0: the first zero stays
      a[kept++] = v;
      last = v;
    }
    return kept;
  };
  int64_t kept;
  if (x.kind == NumKind::kSingle)
    kept = keep_first(reinterpret_cast<float*>(data));
  else if (es == 1)
    kept = keep_first(data);
  else if (es == 2)
    kept = keep_first(reinterpret_cast<uint16_t*>(data));
  else if (es == 4)
    kept = keep_first(reinterpret_cast<uint32_t*>(data));
  else
    kept = keep_first(reinterpret_cast<uint64_t*>(data));
  const auto k32 = static_cast<int32_t>(kept);
  const bool row = is_row(x);
  const int32_t dims[2] = {row ? 1 : k32, row ? k32 : 1};
  *done = true;
  return stk_shrink_top_typed(ctx, dims[0], dims[1]);
}

// The path when it applies (*done set), else nothing done.
int unique_values_in_place(EngineContext* ctx, bool* done) {
  *done = false;
  const NumOperand x = num_operand(ctx, 0);
  if (!x.plain || x.kind != NumKind::kDouble || x.cplx || x.count < 1) return kOk;
  if (x.count > std::numeric_limits<int32_t>::max()) return kOk;
  const bool row = is_row(x);
  auto* data = static_cast<double*>(x.re);
  const int64_t n = x.count;
  int64_t kept;
  // Sorted without NaN (a NaN stops the scan): the values are their own
  // keys, the first zero of their order the first of x. Strictly
  // descending: reversed, they are so too, and each is kept.
  const int64_t ascending = run_end_from(data, 1, n, RunOrder::kAscending);
  const int64_t sorted = run_end_from(data, ascending, n, RunOrder::kNondecreasing);
  const int64_t descending =  // 0: not strictly descending
      sorted > 1 ? 0 : run_end_from(data, 1, n, RunOrder::kDescending);
  if (ascending >= n && data[0] == data[0]) {
    kept = n;  // each value once already
  } else if (sorted >= n && data[0] == data[0]) {
    kept = write_distinct(data, n, nullptr, data);
  } else if (descending >= n) {  // a single NaN too
    std::reverse(data, data + n);
    kept = n;
  } else {

    // Few values repeated many times are hashed into their runs faster
    // than the values sort, unless the order shows they are many.
    SetSeq seq;
    seq.re[0] = static_cast<const uint8_t*>(x.re);
    seq.n0 = seq.n = static_cast<int32_t>(n);
    const HashPlan plan = hash_plan(seq);
    if (plan.limit > 0 && few_distinct_likely(seq, plan)) return kOk;
    // Without NaN the numbers are sorted where they lie (x's own copy), the
    // first zero of x noted first. Else the numbers from the front of a
    // scratch, the NaNs from its back (so in reverse order). Past the data
    // top, where there is room, half as many again to merge the runs.
    const int64_t nans = count_nans(data, n);
    void* merge = nullptr;
    if (nans == 0) {
      const double* first_zero = std::find(data, data + n, 0.0);
      const double zero = first_zero != data + n ? *first_zero : 0.0;
      if (stk_reserve_top(ctx, (n + 1) / 2, &merge) != kOk) merge = nullptr;
      sort_numbers(data, n, 0, static_cast<double*>(merge));
      kept = write_distinct(data, n, &zero, data);
    } else {
      void* scratch;
      TN_TRY(push_scratch(ctx, n, &scratch));  // nothing pushed on failure
      if (stk_reserve_top(ctx, (n + 1) / 2, &merge) != kOk) merge = nullptr;
      data = static_cast<double*>(num_operand(ctx, 1).re);
      auto* keys = static_cast<double*>(scratch);
      int64_t m = 0, back = n;
      int64_t first_zero = -1;  // the zero of the result is x's first
      for (int64_t k = 0; k < n; ++k) {
        const double v = data[k];
        if (v == v)
          keys[m++] = v;
        else
          keys[--back] = v;
        if (v == 0 && first_zero < 0) first_zero = k;
      }
      const double zero = first_zero < 0 ? 0.0 : data[first_zero];
      sort_numbers(keys, m, 0, static_cast<double*>(merge));
      kept = write_distinct(keys, m, &zero, data);
      for (int64_t q = n - 1; q >= back; --q) data[kept++] = keys[q];
      TN_TRY(stk_remove(ctx, 0, 1));
    }
  }
  *done = true;
  const auto k32 = static_cast<int32_t>(kept);
  return stk_shrink_top_matrix(ctx, row ? 1 : k32, row ? k32 : 1);
}

// --- Set functions of values alone ----------------------------------------------
// c = union(a, b) (likewise intersect, setdiff, setxor) of real operands of
// one class needs no positions: each operand's numbers are sorted alone and
// made distinct, and one walk through both chooses the values. The result is
// the runs': a value from a where a has it, a zero as the first zero of its
// operand, the NaNs (each its own value) after the numbers, a's then b's, in
// their order. Few values repeated many times go to the hashing as before.
// Written for speed: the set functions of large arrays spend their time here.

// Stores v as element q of an array of o's class (v exact in it).
void store_key(const NumOperand& o, uint8_t* out, int64_t q, double v) {
  if (o.kind == NumKind::kDouble) {
    tn::store<double>(out + 8 * q, v);
    return;
  }
  if (o.kind == NumKind::kSingle) {
    tn::store<float>(out + 4 * q, static_cast<float>(v));
    return;
  }
  switch (o.type) {
    case kElemI8: tn::store<int8_t>(out + q, static_cast<int8_t>(v)); break;
    case kElemU8: tn::store<uint8_t>(out + q, static_cast<uint8_t>(v)); break;
    case kElemI16: tn::store<int16_t>(out + 2 * q, static_cast<int16_t>(v)); break;
    case kElemU16: tn::store<uint16_t>(out + 2 * q, static_cast<uint16_t>(v)); break;
    case kElemI32: tn::store<int32_t>(out + 4 * q, static_cast<int32_t>(v)); break;
    case kElemU32: tn::store<uint32_t>(out + 4 * q, static_cast<uint32_t>(v)); break;
    default: TN_ASSERT(false);
  }
}

// Whether the values of a real operand never step down (NaNs aside, which
// compare false).
bool nondecreasing(const NumOperand& o) {
  if (o.count < 2) return true;
  if (o.kind == NumKind::kDouble)
    return run_end_from(static_cast<const double*>(o.re), 1, o.count, RunOrder::kNondecreasing) == o.count;
  bool in_order = false;
  with_elements(o, [&](const auto* p) { in_order = run_end_from(p, 1, o.count, RunOrder::kNondecreasing) == o.count; });
  return in_order;
}

// The one-output set functions of integers of one or two bytes: which of
// the class's values each operand holds, marked in a table of them all,
// then the values kept written in order (*done set when there is room for
// the table).
int set_by_presence(EngineContext* ctx, SetOp op, bool* done) {
  const NumOperand a = num_operand(ctx, 1);
  const uint32_t size = num_elem_bytes(a);
  const int64_t values = int64_t{1} << (8 * size);
  const StackMark mark = stack_mark(ctx);
  void* scratch;
  if (push_scratch(ctx, (2 * values + 7) / 8, &scratch) != kOk) return kOk;  // the general way, in less room
  // in[v] and in[values + v]: whether a and b hold value v, set by plain
  // stores (a read of the mark before each would make a run of one value
  // wait on its own stores).
  auto* in = static_cast<uint8_t*>(scratch);
  std::memset(in, 0, static_cast<size_t>(2 * values));
  const NumOperand ops[2] = {num_operand(ctx, 2), num_operand(ctx, 1)};
  const bool is_signed = !(a.type & kElemUnsigned);
  // A value's place in the table: the class's order (signed values offset).
  auto note = [size, is_signed](const NumOperand& o, uint8_t* seen) {
    const auto* p = static_cast<const uint8_t*>(o.re);
    const int64_t n = o.count;
    if (size == 1)
      for (int64_t k = 0; k < n; ++k) seen[uint8_t(p[k] ^ (is_signed ? 0x80 : 0))] = 1;
    else
      for (int64_t k = 0; k < n; ++k) seen[uint16_t(tn::load<uint16_t>(p + 2 * k) ^ (is_signed ? 0x8000 : 0))] = 1;
  };
  note(ops[0], in);
  note(ops[1], in + values);
  auto kept = [op](uint8_t in_a, uint8_t in_b) {
    switch (op) {
      case SetOp::kUnion: return (in_a | in_b) != 0;
      case SetOp::kIntersect: return (in_a & in_b) != 0;
      case SetOp::kSetdiff: return in_a > in_b;
      default: return in_a != in_b;
    }
  };
  int64_t total = 0;
  for (int64_t v = 0; v < values; ++v) total += kept(in[v], in[values + v]) ? 1 : 0;
  uint8_t *re, *im;
  const int st = push_vector_like(ctx, ops[0], total, op == SetOp::kSetdiff && is_row(a), false, &re, &im);
  if (st != kOk) return fail_to_mark(ctx, mark, st);
  in = reinterpret_cast<uint8_t*>(item_data(ctx, 1));
  int64_t q = 0;
  for (int64_t v = 0; v < values; ++v) {
    if (!kept(in[v], in[values + v])) continue;
    if (size == 1)
      re[q++] = uint8_t(v ^ (is_signed ? 0x80 : 0));
    else
      tn::store<uint16_t>(re + 2 * q++, uint16_t(v ^ (is_signed ? 0x8000 : 0)));
  }
  *done = true;
  return stk_remove(ctx, 1, 3);
}

// The one-output set functions of singles or integers of up to 32 bits
// whose operands both strictly ascend, or both strictly descend (so hold
// neither NaN nor both zeros): one walk through both where they lie, in
// their own type, counting, then one writing the result (*done set when
// they do).
int set_ordered_elements(EngineContext* ctx, SetOp op, bool* done) {
  const NumOperand a = num_operand(ctx, 1), b = num_operand(ctx, 0);
  const int both = strict_orders(a) & strict_orders(b);
  const int order = (both & kStrictlyAscends) ? 1 : (both & kStrictlyDescends) ? -1 : 0;
  if (order == 0) return kOk;
  const bool from_a_only = op != SetOp::kIntersect;  // values a alone has are kept
  const bool from_b_only = op == SetOp::kUnion || op == SetOp::kSetxor;
  const bool from_both = op == SetOp::kUnion || op == SetOp::kIntersect;
  // Both in ascending order (descending operands read from their ends),
  // calling emit(element) for every element kept; a value in both is a's.
  auto walk = [&](const auto* pa, const auto* pb, auto emit) {
    const int64_t na = a.count, nb = b.count;
    auto run = [&](auto at_a, auto at_b) {
      int64_t i = 0, j = 0;
      while (i < na && j < nb) {
        const auto x = at_a(i), y = at_b(j);
        if (x < y) {
          if (from_a_only) emit(x);
          ++i;
        } else if (y < x) {
          if (from_b_only) emit(y);
          ++j;
        } else {
          if (from_both) emit(x);
          ++i;
          ++j;
        }
      }
      for (; from_a_only && i < na; ++i) emit(at_a(i));
      for (; from_b_only && j < nb; ++j) emit(at_b(j));
    };
    if (order > 0)
      run([pa](int64_t i) { return pa[i]; }, [pb](int64_t j) { return pb[j]; });
    else
      run([pa, na](int64_t i) { return pa[na - 1 - i]; }, [pb, nb](int64_t j) { return pb[nb - 1 - j]; });
  };
  int64_t total = 0;
  with_elements(a, [&](const auto* pa) {
    walk(pa, static_cast<decltype(pa)>(b.re), [&total](auto) { ++total; });
  });
  uint8_t *re, *im;
  TN_TRY(push_vector_like(ctx, a, total, op == SetOp::kSetdiff && is_row(a), false, &re, &im));
  const NumOperand a2 = num_operand(ctx, 2), b2 = num_operand(ctx, 1);
  with_elements(a2, [&](const auto* pa) {
    auto* out = reinterpret_cast<std::remove_const_t<std::remove_pointer_t<decltype(pa)>>*>(re);
    int64_t q = 0;
    walk(pa, static_cast<decltype(pa)>(b2.re), [out, &q](auto v) { out[q++] = v; });
  });
  *done = true;
  return stk_remove(ctx, 1, 2);
}

// The number of ascending runs of a real operand's elements, counted up to
// `most` + 1.
int ascending_runs(const NumOperand& o, int most) {
  int runs = 0;
  with_elements(o, [&](const auto* p) {
    for (int64_t k = 0; k < o.count && runs <= most; ++runs)
      k = run_end_from(p, k + 1, o.count, RunOrder::kNondecreasing);
  });
  return runs;
}

// c = union(a, b) of singles without NaN and of four-byte integers, made of
// few ascending runs (kRunsSortedTogether, not all of them one run each):
// both operands' elements sorted together in their own type, where the
// runs are merged, then the distinct values written (*done set when there
// is room for them all). Faster than each operand's values made distinct
// alone and then walked through, or hashed, when the runs are few.
constexpr int kRunsSortedTogether = 16;

int union_sorted_together(EngineContext* ctx, bool* done) {
  const StackMark mark = stack_mark(ctx);
  const NumOperand a = num_operand(ctx, 1);
  const int64_t n = a.count + num_operand(ctx, 0).count;
  void* scratch;
  if (push_scratch(ctx, (4 * n + 7) / 8, &scratch) != kOk) return kOk;  // the general way, in less room
  const NumOperand a2 = num_operand(ctx, 2), b2 = num_operand(ctx, 1);
  auto* keys = static_cast<uint8_t*>(scratch);
  std::memcpy(keys, a2.re, static_cast<size_t>(4 * a2.count));
  std::memcpy(keys + 4 * a2.count, b2.re, static_cast<size_t>(4 * b2.count));
  int64_t room_bytes = 0;
  void* room = nullptr;
  stk_free_space(ctx, &room_bytes, &room);
  // Stable sorts: of equal values the first stays, a's before b's, so the
  // zero kept is the first zero of a, or of b when a has none.
  int64_t m = 0;
  auto distinct = [&](auto* k) {
    if (!sort_typed_line(k, nullptr, n, 0, room, room_bytes)) std::stable_sort(k, k + n);
    m = std::unique(k, k + n) - k;
  };
  if (a.kind == NumKind::kSingle) {
    auto* k = reinterpret_cast<float*>(keys);
    for (int64_t q = 0; q < n; ++q)
      if (k[q] != k[q]) return fail_to_mark(ctx, mark, kOk);  // NaNs: the general way
    distinct(k);
  } else if (a.type == kElemI32) {
    distinct(reinterpret_cast<int32_t*>(keys));
  } else {
    distinct(reinterpret_cast<uint32_t*>(keys));
  }
  uint8_t *re, *im;
  const int st = push_vector_like(ctx, a, m, false, false, &re, &im);
  if (st != kOk) return fail_to_mark(ctx, mark, st);
  std::memcpy(re, item_data(ctx, 1), static_cast<size_t>(4 * m));
  *done = true;
  return stk_remove(ctx, 1, 3);
}

int set_values_only(EngineContext* ctx, SetOp op, bool* done) {
  *done = false;
  if (item_is_list_or_cell(ctx, 1) || item_is_list_or_cell(ctx, 0)) return kOk;
  const NumOperand a = num_operand(ctx, 1), b = num_operand(ctx, 0);
  if (a.kind == NumKind::kNone || b.kind == NumKind::kNone) return kOk;
  if (!keys_exact(a) || b.cplx || !same_class(a, b)) return kOk;
  const int64_t n = a.count + b.count;
  if (n > std::numeric_limits<int32_t>::max()) return kOk;
  // One- and two-byte integers by a table of their values, where the
  // operands are long beside it.
  if (a.kind == NumKind::kInt && num_elem_bytes(a) <= 2 && n >= (int64_t{1} << (8 * num_elem_bytes(a))) / 16) {
    TN_TRY(set_by_presence(ctx, op, done));
    if (*done) return kOk;
  }
  if (a.kind != NumKind::kDouble) {
    TN_TRY(set_ordered_elements(ctx, op, done));
    if (*done) return kOk;
  }
  if (op == SetOp::kUnion && (a.type == kElemI32 || a.type == kElemU32 || a.kind == NumKind::kSingle)) {
    // Operands in order already are one pass each below.
    const int runs_a = ascending_runs(a, kRunsSortedTogether), runs_b = ascending_runs(b, kRunsSortedTogether);
    if ((runs_a > 1 || runs_b > 1) && runs_a + runs_b <= kRunsSortedTogether) {
      TN_TRY(union_sorted_together(ctx, done));
      if (*done) return kOk;
    }
  }
  SetSeq seq;
  seq.cls = a.kind == NumKind::kDouble   ? SeqClass::kDouble
            : a.kind == NumKind::kSingle ? SeqClass::kSingle
                                         : SeqClass::kInt;
  seq.re[0] = static_cast<const uint8_t*>(a.re);
  seq.re[1] = static_cast<const uint8_t*>(b.re);
  seq.n0 = static_cast<int32_t>(a.count);
  seq.n = static_cast<int32_t>(n);
  seq.type = a.type;
  const HashPlan plan = hash_plan(seq);
  // Few values repeated many times are hashed, unless both operands come
  // in order already: their keys are then one pass each.
  if (plan.limit > 0 && few_distinct_likely(seq, plan) && !(nondecreasing(a) && nondecreasing(b)))
    return kOk;

  // Both operands' keys (unless they are their own) and, past the data top
  // where there is room, the merge room of the longer (used before the
  // result is pushed).
  const StackMark mark = stack_mark(ctx);
  OperandValues va, vb;
  const bool own_a = own_keys(a, &va), own_b = own_keys(b, &vb);
  const int64_t room_a = own_a ? 0 : a.count, room_b = own_b ? 0 : b.count;
  const int64_t merge_words = (std::max(room_a, room_b) + 1) / 2;
  void* scratch;
  void* merge = nullptr;
  int st = push_scratch(ctx, room_a + room_b, &scratch);
  if (st != kOk) return st;  // nothing pushed
  if (merge_words > 0 && stk_reserve_top(ctx, merge_words, &merge) != kOk) merge = nullptr;
  const NumOperand ops[2] = {num_operand(ctx, 2), num_operand(ctx, 1)};
  auto* room = static_cast<double*>(scratch);
  if (!own_a) va = sorted_values(ops[0], room, static_cast<double*>(merge));
  if (!own_b) vb = sorted_values(ops[1], room + room_a, static_cast<double*>(merge));

  const bool from_a_only = op != SetOp::kIntersect;  // values a alone has are kept
  const bool from_b_only = op == SetOp::kUnion || op == SetOp::kSetxor;
  const bool from_both = op == SetOp::kUnion || op == SetOp::kIntersect;
  // The walk through both, calling emit(part, value) for every value kept.
  auto walk = [&](auto emit) {
    int64_t i = 0, j = 0;
    while (i < va.count || j < vb.count) {
      if (j == vb.count || (i < va.count && va.keys[i] < vb.keys[j])) {
        if (from_a_only) emit(0, va.keys[i]);
        ++i;
      } else if (i == va.count || vb.keys[j] < va.keys[i]) {
        if (from_b_only) emit(1, vb.keys[j]);
        ++j;
      } else {
        if (from_both) emit(0, va.keys[i]);
        ++i;
        ++j;
      }
    }
  };
  int64_t k = 0;
  walk([&](int, double) { ++k; });
  const int64_t nans_a = from_a_only ? va.room - va.nan_from : 0;
  const int64_t nans_b = from_b_only ? vb.room - vb.nan_from : 0;
  const int64_t total = k + nans_a + nans_b;
  uint8_t *re, *im;
  st = push_vector_like(ctx, ops[0], total, op == SetOp::kSetdiff && is_row(a), false, &re, &im);
  if (st != kOk) return fail_to_mark(ctx, mark, st);
  const OperandValues* vals[2] = {&va, &vb};
  int64_t q = 0;
  if (ops[0].kind == NumKind::kDouble) {  // the common class without the store's switch
    auto* out = reinterpret_cast<double*>(re);
    walk([&](int part, double v) { out[q++] = v == 0 ? vals[part]->zero : v; });
  } else {
    walk([&](int part, double v) { store_key(ops[0], re, q++, v == 0 ? vals[part]->zero : v); });
  }
  // NaNs keep their bits: copied from their operands.
  const uint32_t es = num_elem_bytes(ops[0]);
  for (int part = 0; part < 2; ++part) {
    const OperandValues& v = *vals[part];
    if (part == 0 ? nans_a == 0 : nans_b == 0) continue;
    const auto* source = static_cast<const uint8_t*>(ops[part].re);
    for (int64_t r = v.room - 1; r >= v.nan_from; --r)
      std::memcpy(re + es * q++, source + es * static_cast<int64_t>(v.keys[r]), es);
  }
  *done = true;
  return stk_remove(ctx, 1, 3);
}

// c = union(a, b) (likewise intersect, setdiff, setxor) of two 64-bit
// operands of one class, as set_values_only: each operand's distinct keys,
// one walk through both (*done set).
int set_int64_values_only(EngineContext* ctx, SetOp op, bool* done) {
  *done = false;
  if (item_is_list_or_cell(ctx, 1) || item_is_list_or_cell(ctx, 0)) return kOk;
  const NumOperand a = num_operand(ctx, 1), b = num_operand(ctx, 0);
  if (!is_int64(a) || !is_int64(b) || !same_class(a, b)) return kOk;
  if (a.count + b.count > std::numeric_limits<int32_t>::max()) return kOk;
  const StackMark mark = stack_mark(ctx);
  int64_t *keys, *merge;
  TN_TRY(push_int_key_room(ctx, a.count + b.count, &keys, &merge));
  int64_t* const ka = keys;
  int64_t* const kb = keys + a.count;
  const int64_t ma = distinct_int_keys(num_operand(ctx, 2), ka, merge);
  const int64_t mb = distinct_int_keys(num_operand(ctx, 1), kb, merge);

  const bool from_a_only = op != SetOp::kIntersect;
  const bool from_b_only = op == SetOp::kUnion || op == SetOp::kSetxor;
  const bool from_both = op == SetOp::kUnion || op == SetOp::kIntersect;
  auto walk = [&](auto emit) {
    int64_t i = 0, j = 0;
    while (i < ma || j < mb) {
      if (j == mb || (i < ma && ka[i] < kb[j])) {
        if (from_a_only) emit(ka[i]);
        ++i;
      } else if (i == ma || kb[j] < ka[i]) {
        if (from_b_only) emit(kb[j]);
        ++j;
      } else {
        if (from_both) emit(ka[i]);
        ++i;
        ++j;
      }
    }
  };
  int64_t total = 0;
  walk([&](int64_t) { ++total; });
  uint8_t *re, *im;
  const int st = push_vector_like(ctx, num_operand(ctx, 2), total, op == SetOp::kSetdiff && is_row(a), false, &re, &im);
  if (st != kOk) return fail_to_mark(ctx, mark, st);
  const NumOperand like = num_operand(ctx, 3);
  int64_t q = 0;
  walk([&](int64_t key) { store_int_key(like, re, q++, key); });
  *done = true;
  return stk_remove(ctx, 1, 3);
}

}  // namespace

const LocalResultHooks kIsmemberBlockHooks = {ismember_block_takes, ismember_block_write};

int bi_unique(EngineContext* ctx, int nargout) {
  if (nargout > 3) return kTooManyOutputs;
  const int nout = clamp_outputs(nargout);
  TN_TRY(stk_argcheck(ctx, 1, nullptr));
  const StackMark mark = stack_mark(ctx);
  const bool list = item_is_list_or_cell(ctx, 0);
  const NumOperand x = num_operand(ctx, 0);
  if (!list && x.kind == NumKind::kNone) return kWrongArgType;

  // Nothing to sort: the argument is the result, the indices are empty.
  if (list ? list_or_cell_count(ctx, 0) == 0 : x.count == 0) {
    int st = kOk;
    for (int k = 1; k < nout && st == kOk; ++k) st = stk_push_empty(ctx);
    if (st == kOk) st = stk_dup(ctx, nout - 1, 1);
    if (st != kOk) return fail_to_mark(ctx, mark, st);
    return stk_remove(ctx, nout, 1);
  }

  if (nout == 1 && !list) {
    bool done = false;
    TN_TRY(unique_values_in_place(ctx, &done));
    if (!done) TN_TRY(unique_int64_values(ctx, &done));
    if (!done) TN_TRY(unique_typed_in_place(ctx, &done));
    if (done) return kOk;
  }
  SetWork w;
  TN_TRY(set_prepare(ctx, 1, &w));
  int32_t* sel = w.perm;
  for (int32_t r = 0; r < w.nruns; ++r) sel[r] = r;
  int st = kOk;
  if (nout >= 3) {
    double* j;
    st = push_index_row(ctx, w.seq.n0, &j);
    if (st == kOk)
      for (int32_t k = 0; k < w.seq.n0; ++k) j[k] = w.run_of[k] + 1.0;
  }
  if (st == kOk && nout >= 2)
    st = push_positions(ctx, w, sel, w.nruns, 0, [](const SetRun&) { return true; });
  if (st == kOk) st = push_run_values(ctx, w, sel, w.nruns, is_row(x), x.cplx);
  if (st != kOk) return fail_to_mark(ctx, mark, st);
  return stk_remove(ctx, nout, w.items);
}

int bi_union(EngineContext* ctx, int nargout) { return set_binary(ctx, nargout, SetOp::kUnion); }
int bi_intersect(EngineContext* ctx, int nargout) {
  return set_binary(ctx, nargout, SetOp::kIntersect);
}
int bi_setdiff(EngineContext* ctx, int nargout) { return set_binary(ctx, nargout, SetOp::kSetdiff); }
int bi_setxor(EngineContext* ctx, int nargout) { return set_binary(ctx, nargout, SetOp::kSetxor); }

int bi_ismember(EngineContext* ctx) {
  TN_TRY(stk_argcheck(ctx, 2, nullptr));
  bool done = false;
  TN_TRY(ismember_by_lookup(ctx, &done));
  if (done) return kOk;
  const StackMark mark = stack_mark(ctx);
  SetWork w;
  TN_TRY(set_prepare(ctx, 2, &w));
  // The result takes x's dimensions: a list is a row.
  const int dx = w.items - 1;
  int ndims = 2;
  const uint32_t* dims = nullptr;
  int32_t list_dims[2] = {1, w.seq.n0};
  int st = kOk;
  if (w.seq.cls == SeqClass::kString) {
    st = stk_get_container_dims(ctx, dx, &ndims, &dims, nullptr, nullptr);
    if (!dims) ndims = 2;
  } else {
    ndims = w.a.ndims;
    dims = w.a.dims;
  }
  uint8_t* tf = nullptr;
  if (st == kOk)
    st = stk_push_logical_array(ctx, ndims,
                                dims ? reinterpret_cast<const int32_t*>(dims) : list_dims, &tf);
  if (st != kOk) return fail_to_mark(ctx, mark, st);
  for (int32_t k = 0; k < w.seq.n0; ++k) tf[k] = w.runs[w.run_of[k]].has(1) ? 1 : 0;
  return stk_remove(ctx, 1, w.items);
}

// --- Interpreter binding -------------------------------------------------------------

const uint16_t kSortSetOpcodes[kSortSetOpcodeCount] = {
    kOpSort, kOpUnique, kOpUnion, kOpIntersect, kOpSetdiff, kOpSetxor, kOpIsmember};

int op_sort_sets(EngineContext* ctx, int32_t selector, int nargin, int nargout, int) {
  switch (selector) {
    case kOpSort: return bi_sort(ctx, nargin, nargout);
    case kOpUnique: return bi_unique(ctx, nargout);
    case kOpUnion: return bi_union(ctx, nargout);
    case kOpIntersect: return bi_intersect(ctx, nargout);
    case kOpSetdiff: return bi_setdiff(ctx, nargout);
    case kOpSetxor: return bi_setxor(ctx, nargout);
    case kOpIsmember: return bi_ismember(ctx);
    default: return kNotSupported;
  }
}
