// Building and defining the declaration function. Its shape:
//   function (v1,...,vn,_plots,...,_help)=f; v1='_undef'; ... <settings> <text>
// without a tag-9 record, or, with one of inputs a1..an,
//   function (an,...,a1)=f; a1='_undef'; ... an='_undef'; <text>
// The marker '_undef' tells the run which variables the text left alone.
#include "runtime/declaration.h"

#include <cstring>

#include "engine/core/calls.h"
#include "engine/core/fntable.h"
#include "engine/core/frames.h"
#include "engine/core/interp.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "runtime/name_table.h"
#include "runtime/record_list.h"
#include "runtime/records.h"
#include "runtime/runtime_status.h"
#include "runtime/special_vars.h"
#include "runtime/tn_builtins.h"
#include "runtime/undo_store.h"

namespace {

constexpr int32_t kFirstDeclaredCode = kKeyHelp + 1;
constexpr char kSettingOutputs[] =
    "_plots,_plotprops,_plot3d,_plotpos,_plotsize,_plotspring,_plotparam,_title,_version,_help";
constexpr char kSettingDefaults[] =
    "_plots='';_plotprops=[];_plot3d=[];_plotpos=[];_plotsize=[];_plotspring=[];_plotparam={};_title=[];"
    "_version=[];_help=[]; ";
constexpr char kUndefined[] = "='_undef'; ";
constexpr char kUndefinedMarker[] = "_undef";
constexpr int32_t kUndefinedMarkerLength = int32_t(sizeof kUndefinedMarker - 1);
constexpr int kSettingCount = 10;
// The built-ins the settings go to, in the order they lie on the stack from
// the top, with how many of them each takes.
struct Handover {
  BuiltinFn fn;
  int args;
};
constexpr Handover kHandover[] = {{bi_subplots, 1},   {bi_subplotprops, 2}, {bi_subplotpos, 1},
                                  {bi_subplotsize, 1}, {bi_subplotspring, 1}, {bi_subplotparam, 1},
                                  {bi_tntitle, 1},   {bi_tnversion, 1},   {bi_tnhelp, 1}};
static_assert(sizeof kHandover / sizeof kHandover[0] == kSettingCount - 1, "_plot3d goes with _plotprops");

int append_name(RuntimeBlock* b, int32_t code, std::string* out) {
  const char* name = nullptr;
  int32_t length = 0;
  if (fixtab_find(rt_name_table(b), code, &name, &length) != 0) return kRtVarNotFound;
  out->append(name, size_t(length));
  return 0;
}

}  // namespace

int tn_declared_variables(RuntimeBlock* b, int32_t id, std::vector<int32_t>* codes, bool* from_record) {
  codes->clear();
  *from_record = false;
  int32_t start = 0, pos = -1;
  TN_TRY(rec_find_instance(b, id, &start));
  RecordView r;
  if (rec_find_tag(b, id, &pos, kTagDeclared) == 0 && rec_at(b, int64_t(start) + pos, &r)) {
    *from_record = true;
    if (r.data_words < kHdFixedWords) return kRtUndefElement;
    const int32_t nin = r.data[kHdInputs], nout = r.data[kHdOutputs];
    if (nin < 0 || nout < 0 || int64_t(kHdFixedWords) + nin + nout > r.data_words) return kRtUndefElement;
    for (int32_t k = 0; k < nin; ++k) codes->push_back(r.data[kHdFixedWords + nout + k]);
    return 0;
  }
  int32_t code = 0;
  for (int32_t k = 0; undo_store_get_field(rt_value_store(b), id, k, true, &code) == 0; ++k)
    if (code >= kFirstDeclaredCode) codes->push_back(code);
  return 0;
}

int tn_init_build_source(RuntimeBlock* b, int32_t id, const char* text, int32_t length, std::string* source) {
  std::vector<int32_t> codes;
  bool from_record = false;
  TN_TRY(tn_declared_variables(b, id, &codes, &from_record));
  const int32_t n = int32_t(codes.size());
  std::string& s = *source;
  s = "function ";
  if (from_record && n > 0) {
    s += '(';
    for (int32_t k = n - 1; k >= 0; --k) {
      TN_TRY(append_name(b, codes[size_t(k)], &s));
      if (k > 0) s += ',';
    }
    s += ")=";
  } else if (!from_record && n > 0) {
    s += '(';
    for (int32_t k = 0; k < n; ++k) {
      TN_TRY(append_name(b, codes[size_t(k)], &s));
      s += ',';
    }
    s += kSettingOutputs;
    s += ")=";
  }
  s += "f; ";
  for (int32_t k = 0; k < n; ++k) {
    TN_TRY(append_name(b, codes[size_t(k)], &s));
    s += kUndefined;
  }
  if (!from_record) s += kSettingDefaults;
  if (length > 0) s.append(text, size_t(length));
  return 0;
}

int tn_init_source(RuntimeBlock* b, int32_t id, int32_t library, const char* name, const char* text,
                   int32_t length) {
  std::string source;
  TN_TRY(tn_init_build_source(b, id, text, length, &source));
  int32_t fn = 0;
  return fn_define_from_source(rt_engine(b), name, -1, source.data(), int32_t(source.size()), library, 0, 0, &fn);
}

namespace {

bool is_undefined_marker(EngineContext* c) {
  char text[kUndefinedMarkerLength + 1];
  int32_t n = 0;
  return stk_is_char(c, 0) == 1 && stk_get_string_buf(c, 0, text, sizeof text, &n) == kOk &&
         n == kUndefinedMarkerLength && std::memcmp(text, kUndefinedMarker, size_t(n)) == 0;
}

// Stores the value on top under code in the newest row and pops it.
int store_top(RuntimeBlock* b, int32_t id, int32_t code) {
  EngineContext* c = rt_engine(b);
  int64_t words = 0;
  void* data = nullptr;
  TN_TRY(stk_item_words(c, 0, &words));
  TN_TRY(undo_store_put_value(rt_value_store(b), id, -1, code, words, &data));
  TN_TRY(stk_descriptor_as_doubles(c, 0, static_cast<double*>(data)));
  stk_drop(c);
  return 0;
}

// Takes the variables' results from the top. The tag-9 form lists its
// outputs last input first, so the top result belongs to the last input.
int store_results(RuntimeBlock* b, int32_t id, const std::vector<int32_t>& codes, bool from_record) {
  EngineContext* c = rt_engine(b);
  const size_t n = codes.size();
  for (size_t k = 0; k < n; ++k) {
    const int32_t code = codes[from_record ? n - 1 - k : k];
    if (!is_undefined_marker(c)) {
      TN_TRY(store_top(b, id, code));
      continue;
    }
    stk_drop(c);
    if (from_record) {
      TN_TRY(stk_push_empty(c));
      TN_TRY(store_top(b, id, code));
    }
  }
  return 0;
}

// Hands the settings on top of the stack to the built-ins, the first
// failure ending it.
int hand_over(RuntimeBlock* b, int32_t id) {
  EngineContext* c = rt_engine(b);
  // The layout built-ins belong to a figure's set-up.
  b->h.user = CallContext{b, id, 1, 0, 0};
  for (const Handover& h : kHandover) {
    // subplotprops takes _plotprops first and _plot3d on top of it.
    if (h.args == 2) TN_TRY(stk_move(c, 2, 1));
    TN_TRY(lib_call_builtin(c, h.fn, h.args, 0));
  }
  return 0;
}

}  // namespace

int tn_init_run(RuntimeBlock** handle, int32_t id, const char* name, bool clean_up) {
  RuntimeBlock* b = *handle;
  EngineContext* c = rt_engine(b);
  int32_t fn = -1;
  if (fn_find_user_simple(c, name, -1, 0, &fn) != kOk || fn < 1) return 0;
  std::vector<int32_t> codes;
  bool from_record = false;
  TN_TRY(tn_declared_variables(b, id, &codes, &from_record));
  const bool settings = !from_record && !codes.empty();
  const int nout = int(codes.size()) + (settings ? kSettingCount : 0);
  const int32_t base = c->desc_top;
  b->h.user = CallContext{b, id, 0, 0, 0};
  int status = interp_call(c, name, 0, 0, nout, 0, 0);
  b = *handle;  // the run may have grown the block
  c = rt_engine(b);
  if (status != kOk) frame_unwind(c, 0);
  if (clean_up) {
    const int removed = fn_code_remove(c, fn);
    if (status == kOk) status = removed;
  }
  if (status == kOk && c->desc_top != base + 3 * nout) status = kTooFewOutputs;
  if (status == kOk) status = store_results(b, id, codes, from_record);
  if (status == kOk && settings) status = hand_over(b, id);
  while (c->desc_top > base) stk_drop(c);
  b->h.user = CallContext{b, 0, 0, 0, 0};
  return status;
}

int tn_init_compile(RuntimeBlock** handle, int32_t id, const char* text, int32_t length) {
  TN_TRY(tn_init_source(*handle, id, 0, kDeclarationFunction, text, length));
  return tn_init_run(handle, id, kDeclarationFunction, true);
}
