// Derived variables: records of tag 16 compute their outputs from their
// inputs. A handler that needs a variable without a value has it computed
// first, through the chain of records that produce it; a handler that
// assigns variables drops the values computed from them. Marks in the value
// store's row carry the "wanted" and "changed" sets between the steps. A
// code that names no field of the instance (a damaged or foreign image)
// can never be marked, so every scan counts only the marks it really set,
// and ends.
#include <vector>

#include "runtime/handler_call.h"
#include "runtime/record_list.h"
#include "runtime/records.h"
#include "runtime/runtime_status.h"
#include "runtime/special_vars.h"
#include "runtime/undo_store.h"

namespace {

constexpr int kCircularDependency = 10007;  // circularMakeDep

// A tag-16 record's codes, copied out so that nothing points into the list.
struct Derived {
  int32_t position;  // from the instance's header
  std::vector<int32_t> outputs, inputs;
};

// One walk over the instance's run (a vector without tag-16 records stays
// unallocated: the common case costs no allocation).
std::vector<Derived> derived_records(RuntimeBlock* b, int32_t id) {
  std::vector<Derived> out;
  int32_t start = 0;
  if (rec_find_instance(b, id, &start) != 0) return out;
  RecordView r;
  for (int64_t w = start; rec_at(b, w, &r); w += r.length) {
    if (r.tag == kTagHeader && w != start) break;
    if (r.tag != kTagDerived) continue;
    const int32_t off = rec_hd_offset(r.tag, r.data, r.data_words);
    if (off < 0) continue;
    const int32_t nin = r.data[off + kHdInputs], nout = r.data[off + kHdOutputs];
    const int32_t* codes = r.data + off + kHdFixedWords;
    out.push_back(Derived{int32_t(w - start), std::vector<int32_t>(codes, codes + nout),
                          std::vector<int32_t>(codes + nout, codes + nout + nin)});
  }
  return out;
}

bool is_instance_variable(int32_t code) {
  return hd_is_variable(code) && !(code >= kKeyLayout && code <= kKeyHelp);
}

struct Row {
  UndoStore* s;
  int32_t id, back;
  bool present(int32_t code) const { return undo_store_value_present(s, id, back, code); }
  bool marked(int32_t code) const { return undo_store_value_marked(s, id, back, code); }
  // False when the row has no slot for the code: nothing was marked.
  bool mark(int32_t code) const { return undo_store_set_value(s, id, back, code, true) == 0; }
  void release() const { undo_store_release_row(s, id, back); }
  bool has_field(int32_t code) const {
    int32_t units = 0;
    void* data = nullptr;
    return undo_store_get_value(s, id, back, code, &units, &data) != kRtVarNotFound;
  }
};

bool any_marked(const Row& row, const std::vector<int32_t>& codes) {
  for (int32_t code : codes)
    if (hd_is_variable(code) && row.marked(code)) return true;
  return false;
}

bool inputs_present(const Row& row, const std::vector<int32_t>& codes) {
  for (int32_t code : codes)
    if (hd_is_variable(code) && !row.present(code)) return false;
  return true;
}

bool contains(const std::vector<int32_t>& codes, int32_t code) {
  for (int32_t c : codes)
    if (c == code) return true;
  return false;
}

// Nothing wanted can be computed: the wanted values wait on each other when
// some marked variable is not grounded, that is, cannot be traced back to a
// variable that no record produces (or that the instance does not have).
bool wanted_values_are_circular(const Row& row, const std::vector<Derived>& records) {
  std::vector<int32_t> grounded;
  std::vector<int32_t> marked;
  for (const Derived& d : records)
    for (const std::vector<int32_t>* list : {&d.outputs, &d.inputs})
      for (int32_t code : *list)
        if (hd_is_variable(code) && row.marked(code) && !contains(marked, code)) marked.push_back(code);
  for (int32_t code : marked) {
    bool produced = false;
    for (const Derived& d : records) produced |= contains(d.outputs, code);
    if (!produced) grounded.push_back(code);
  }
  for (bool grew = true; grew;) {
    grew = false;
    for (const Derived& d : records) {
      bool blocked_by_ground = false;
      for (int32_t code : d.inputs)
        blocked_by_ground |= contains(grounded, code) || (hd_is_variable(code) && !row.has_field(code));
      if (!blocked_by_ground) continue;
      for (int32_t code : d.outputs)
        if (contains(marked, code) && !contains(grounded, code)) {
          grounded.push_back(code);
          grew = true;
        }
    }
  }
  return grounded.size() < marked.size();
}

}  // namespace

bool inst_has_stale_dependents(RuntimeBlock* b, int32_t id, int32_t record, int32_t back) {
  const Row row{rt_value_store(b), id, back};
  row.release();
  bool wanted = false;
  if (record >= 0) {
    int32_t start = 0;
    RecordView r;
    if (rec_find_instance(b, id, &start) != 0 || !rec_at(b, int64_t(start) + record, &r)) return false;
    const int32_t off = rec_hd_offset(r.tag, r.data, r.data_words);
    if (off < 0) return false;
    const int32_t nin = r.data[off + kHdInputs], nout = r.data[off + kHdOutputs];
    // Marking writes the value store only: the record stays where it is.
    for (int32_t k = 0; k < nin; ++k) {
      const int32_t code = r.data[off + kHdFixedWords + nout + k];
      if (is_instance_variable(code) && !row.present(code) && row.mark(code)) wanted = true;
    }
  } else {
    int32_t code = 0;
    for (int32_t k = 0; undo_store_get_field(row.s, id, k, false, &code) == 0; ++k)
      if (is_instance_variable(code) && !row.present(code) && row.mark(code)) wanted = true;
  }
  if (!wanted) return false;
  const std::vector<Derived> records = derived_records(b, id);
  for (size_t k = 0; k < records.size();) {
    bool marked_any = false;
    if (any_marked(row, records[k].outputs))
      for (int32_t code : records[k].inputs)
        if (hd_is_variable(code) && !row.present(code) && !row.marked(code) && row.mark(code)) marked_any = true;
    k = marked_any ? 0 : k + 1;
  }
  return true;
}

int inst_update_dependents(RuntimeBlock** handle, int32_t id, int32_t record, int32_t back, bool may_grow) {
  size_t limit = 0;
  for (size_t rounds = 0; inst_has_stale_dependents(*handle, id, record, back); ++rounds) {
    if (rounds == 0) limit = derived_records(*handle, id).size() + 1;
    const Row row{rt_value_store(*handle), id, back};
    const std::vector<Derived> records = derived_records(*handle, id);
    const Derived* next = nullptr;
    for (const Derived& d : records)
      if (any_marked(row, d.outputs) && inputs_present(row, d.inputs)) {
        next = &d;
        break;
      }
    if (!next) return wanted_values_are_circular(row, records) ? kCircularDependency : 0;
    if (rounds == limit) return kCircularDependency;
    const int32_t position = next->position;
    row.release();
    TN_TRY(handler_call(handle, id, position, back == 1, may_grow, true, -1, false, 0, -1, -1, nullptr, 0, nullptr,
                        nullptr, 0, nullptr));
  }
  return 0;
}

int inst_mark_dependents(RuntimeBlock* b, int32_t id, int32_t record_or_code, bool single) {
  std::vector<int32_t> changed;
  if (single) {
    changed.push_back(record_or_code);
  } else {
    int32_t start = 0;
    RecordView r;
    TN_TRY(rec_find_instance(b, id, &start));
    if (!rec_at(b, int64_t(start) + record_or_code, &r)) return kRtUndefElement;
    const int32_t off = rec_hd_offset(r.tag, r.data, r.data_words);
    if (off < 0) return kRtUndefElement;
    const int32_t nout = r.data[off + kHdOutputs];
    changed.assign(r.data + off + kHdFixedWords, r.data + off + kHdFixedWords + nout);
  }
  const Row row{rt_value_store(b), id, 0};
  const std::vector<Derived> records = derived_records(b, id);
  if (records.empty()) return 0;  // nothing is derived
  for (const Derived& d : records) {
    bool takes_changed = false;
    for (int32_t code : d.inputs) takes_changed |= contains(changed, code);
    if (!takes_changed) continue;
    for (int32_t code : d.outputs)
      if (hd_is_variable(code) && !contains(changed, code)) row.mark(code);
  }
  for (bool grew = true; grew;) {
    grew = false;
    for (const Derived& d : records) {
      if (!any_marked(row, d.inputs)) continue;
      for (int32_t code : d.outputs)
        if (hd_is_variable(code) && !row.marked(code) && !contains(changed, code) && row.mark(code)) grew = true;
    }
  }
  row.release();
  return 0;
}
