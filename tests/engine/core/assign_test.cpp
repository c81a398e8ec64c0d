// Variables, references and assignment: global links, nested assignments run
// from the code the compiler emits, errors that name the variable, growth and
// deletion of arrays and cells against the N-d model, and clear.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "engine/core/assign.h"
#include "engine/core/containers.h"
#include "engine/core/element_layout.h"
#include "engine/core/errors.h"
#include "engine/core/fntable.h"
#include "engine/core/indexing.h"
#include "engine/core/opcodes.h"
#include "engine/core/stack_ops.h"
#include "engine/core/symbols.h"
#include "support/asm.h"
#include "support/code_builder.h"
#include "support/nd_model.h"
#include "support/workspace.h"

ndm::Array random_array(std::mt19937& g, int kind, std::vector<int64_t> dims);
int random_kind(std::mt19937& g);
std::vector<int64_t> random_dims(std::mt19937& g);
std::vector<ndm::Sub> random_subs(std::mt19937& g, const std::vector<int64_t>& dims, bool growth);

namespace {

// Runs straight-line code by calling the handlers the interpreter dispatches
// the opcodes to.
int run(EngineContext* c, const std::string& text) {
  std::vector<uint16_t> code;
  std::string error;
  if (!tnasm::assemble(text, &code, &error)) {
    ADD_FAILURE() << error;
    return kIllegalError;
  }
  for (size_t pc = 0; pc < code.size(); pc += size_t(insn_length(&code[pc]))) {
    const uint16_t op = code[pc];
    const int16_t a = pc + 1 < code.size() ? int16_t(code[pc + 1]) : 0;
    const uint16_t b = pc + 2 < code.size() ? code[pc + 2] : 0;
    int st = kOk;
    switch (op) {
      case kOpNop: break;
      case kOpPushInt16: st = stk_push_real(c, a); break;
      case kOpPushDouble: {
        double d;
        std::memcpy(&d, &code[pc + 1], 8);
        st = stk_push_real(c, d);
        break;
      }
      case kOpPushString8: {
        std::string s;
        for (int i = 0; i < a; ++i) s += char((code[pc + 2 + i / 2] >> (8 * (i & 1))) & 0xFF);
        st = stk_push_cstr(c, a, s.c_str());
        break;
      }
      case kOpPushEmpty: st = stk_push_empty(c); break;
      case kOpMakeList: st = stk_make_container(c, a, 0, nullptr, 0); break;
      case kOpPopItem: stk_drop(c); break;
      case kOpLoadLocal: st = var_push_local(c, a); break;
      case kOpStoreLocal: st = var_store_local(c, a); break;
      case kOpIncLocal: st = var_local_add_constant(c, a, 1.0); break;
      case kOpDecLocal: st = var_local_add_constant(c, a, -1.0); break;
      case kOpClearLocal: st = var_clear_local(c, a); break;
      case kOpPushRef: st = var_push_ref(c, a, 0); break;
      case kOpPushRefTarget: st = var_push_ref(c, a, 1); break;
      case kOpDeref: st = ref_deref_top(c); break;
      case kOpRefField: st = op_ref_step(c, a, 0); break;
      case kOpRefDynfield: st = op_ref_step_dynfield(c, 0); break;
      case kOpRefElement: st = op_ref_step_element(c, a); break;
      case kOpIndexRead: st = index_extract(c, a, b, 1, 0); break;
      case kOpIndexRefRead: st = op_index_get(c, 0, a, b, kIndexCallOne); break;
      case kOpIndexEnd: st = op_index_end(c, a, int16_t(b), int16_t(code[pc + 3]), 1); break;
      case kOpRefAssign: st = op_ref_assign(c); break;
      case kOpIndexAssign: st = op_index_set(c, a, b); break;
      default: ADD_FAILURE() << "no handler for opcode " << op; return kNotSupported;
    }
    if (st != kOk) return st;
  }
  return kOk;
}

std::string sym(EngineContext* c, const char* name) {
  int32_t s = 0;
  EXPECT_EQ(symtab_intern(c, name, int32_t(std::strlen(name)), 32, &s), kOk);
  return std::to_string(s);
}

// The value of slot k, read from its block.
ndm::Array slot_array(Workspace& w, int32_t k) {
  const int32_t b = w.slot_block(k);
  EXPECT_NE(b, kNoBlock);
  auto a = ndm::from_item(block_words32(w.c, b), heap_words(w.c) + b + kElemHeaderWords);
  EXPECT_TRUE(a.has_value());
  return a ? *a : ndm::Array{};
}

std::vector<double> slot_doubles(Workspace& w, int32_t k) {
  ndm::Array a = slot_array(w, k);
  std::vector<double> v(a.re.size() / 8);
  std::memcpy(v.data(), a.re.data(), a.re.size());
  return v;
}

// Every container in the value has the size of its elements, and the block
// exactly the value's words.
bool sizes_consistent(const uint64_t* e) {
  if (elem_kind(e) != kKindContainer) return true;
  int64_t sum = 0;
  for (int64_t at = 0; at < elem_word(e, 1);) {
    const uint64_t* x = e + kElemHeaderWords + at;
    if (!sizes_consistent(x)) return false;
    at += elem_total_words(x);
    sum = at;
  }
  return sum == elem_word(e, 1);
}
bool block_consistent(Workspace& w, int32_t k) {
  const int32_t b = w.slot_block(k);
  return sizes_consistent(heap_words(w.c) + b) &&
         heap_block_size(w.c, b) >= elem_total_words(heap_words(w.c) + b);
}

// Takes every free heap word (large blocks first: the scan is linear).
void fill_heap(EngineContext* c) {
  int32_t filler = 0;
  for (int64_t n : {4096, 64, 1})
    while (heap_alloc(c, n, &filler) == kOk) {
    }
}

std::string error_text(EngineContext* c, int code) {
  char buf[kReportBufferBytes];
  int32_t n = 0;
  err_format_report(c, code, true, buf, sizeof buf, &n);
  return std::string(buf, size_t(n));
}

TEST(Variables, GlobalLinksShareOneEntry) {
  Workspace w;
  w.name(0, "g");
  w.name(1, "h");
  int32_t s = 0, id = 0;
  ASSERT_EQ(symtab_intern(w.c, "g", 1, 32, &s), kOk);
  ASSERT_EQ(fn_table_add(w.c, kEntryVariable, s, -1, -1, &id), kOk);
  EXPECT_EQ(var_link_global(w.c, 1, -1), kIllegalError);  // no entry for "h"
  ASSERT_EQ(run(w.c, "push_int16 5\nstore_local 0"), kOk);
  ASSERT_EQ(var_link_global(w.c, 0, -1), kOk);
  SlotTarget t;
  ASSERT_EQ(slot_locate(w.c, 0, &t), kOk);
  const uint32_t* link = block_words32(w.c, t.link);
  const uint32_t layout[12] = {8, 4, 0, 0, 0, 1, uint32_t(id), 0, 0, 0, 0, 0};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(link[i], layout[i]) << "word " << i;
  EXPECT_EQ(slot_array(w, 0).dims, (std::vector<int64_t>{0, 0}));  // a new global is []
  ASSERT_EQ(run(w.c, "push_int16 9\nstore_local 0"), kOk);
  EXPECT_EQ(ent(w.c, id, kEntCode), w.slot_block(0));
  EXPECT_EQ(slot_doubles(w, 0), (std::vector<double>{9}));
  // A nested assignment through the link moves the entry's block along.
  ASSERT_EQ(run(w.c, "push_int16 4\npush_ref_target 0\npush_int16 3\nindex_assign 1 0"), kOk);
  EXPECT_EQ(ent(w.c, id, kEntCode), w.slot_block(0));
  EXPECT_EQ(slot_doubles(w, 0), (std::vector<double>{9, 0, 4}));
  EXPECT_TRUE(w.sound());
  ASSERT_EQ(var_clear_local(w.c, 0), kOk);
  EXPECT_EQ(ent(w.c, id, kEntCode), kNoBlock);
  EXPECT_TRUE(w.sound());
  // Linking with a full heap changes nothing.
  fill_heap(w.c);
  EXPECT_EQ(var_link_global(w.c, 0, -1), kVariableOverflow);
  EXPECT_EQ(int32_t(desc_words(w.c)[kFrameFixedWords]), kNoBlock);
}

TEST(NestedAssignment, CreatesAndGrowsWhatThePathNeeds) {
  Workspace w;
  w.name(0, "s");
  w.name(1, "c");
  w.name(2, "y");
  const std::string a = sym(w.c, "a"), b = sym(w.c, "b");
  // s.a = 1 on an undefined s.
  ASSERT_EQ(run(w.c, "push_int16 1\npush_ref_target 0\nref_field " + a + "\nref_assign"), kOk);
  EXPECT_EQ(w.c->desc_top, kBaseFrameWords);
  ASSERT_EQ(var_push_local(w.c, 0), kOk);
  EXPECT_EQ(stk_is_struct(w.c, 0), 1);
  ASSERT_EQ(stk_struct_get_field(w.c, 0, "a", 1), kOk);
  double v;
  stk_pop_real_scalar(w.c, &v);
  EXPECT_EQ(v, 1);
  w.clear_stack();
  // c{3} = 1: a list of three, the first two empty.
  ASSERT_EQ(run(w.c, "push_int16 1\npush_ref_target 1\npush_int16 3\nref_element 1\nref_assign"), kOk);
  ASSERT_EQ(var_push_local(w.c, 1), kOk);
  int32_t n = 0;
  ASSERT_EQ(stk_get_container(w.c, 0, &n, nullptr), kOk);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(desc_at(w.c, 0)[2], kContList);
  ASSERT_EQ(stk_list_get(w.c, 0, 1), kOk);
  EXPECT_EQ(desc_at(w.c, 0)[1] * desc_at(w.c, 0)[2], 0u);
  w.clear_stack();
  // s.b{3}(2) = 7 creates the field, the list and the row.
  const std::string path = "push_ref_target 0\nref_field " + b + "\npush_int16 3\nref_element 1\n";
  ASSERT_EQ(run(w.c, "push_int16 7\n" + path + "push_int16 2\nindex_assign 1 0"), kOk);
  EXPECT_TRUE(block_consistent(w, 0));
  const int32_t block = w.slot_block(0);
  ASSERT_EQ(run(w.c, "push_int16 8\n" + path + "push_int16 2\nindex_assign 1 0"), kOk);
  EXPECT_EQ(w.slot_block(0), block);  // same size: edited in place
  ASSERT_EQ(run(w.c, "push_ref 0\nref_field " + b + "\npush_int16 3\nref_element 1\nderef\nstore_local 2"), kOk);
  EXPECT_EQ(slot_doubles(w, 2), (std::vector<double>{0, 8}));
  // Growing an inner element moves the tail and corrects every size on the path.
  ASSERT_EQ(run(w.c, "push_int16 9\n" + path + "push_int16 6\nindex_assign 1 0"), kOk);
  ASSERT_EQ(run(w.c, "push_string8 \"tail\"\npush_ref_target 0\nref_field " + sym(w.c, "z") + "\nref_assign"), kOk);
  ASSERT_EQ(run(w.c, "push_int16 5\npush_ref_target 0\nref_field " + a + "\nref_assign"), kOk);
  EXPECT_TRUE(block_consistent(w, 0));
  ASSERT_EQ(run(w.c, "push_ref 0\nref_field " + b + "\npush_int16 3\nref_element 1\nderef\nstore_local 2"), kOk);
  EXPECT_EQ(slot_doubles(w, 2), (std::vector<double>{0, 8, 0, 0, 0, 9}));
  ASSERT_EQ(run(w.c, "push_ref 0\npush_string8 \"z\"\nref_dynfield\nderef"), kOk);
  EXPECT_EQ(stk_is_char(w.c, 0), 1);
  w.clear_stack();
  EXPECT_TRUE(w.sound());
}

TEST(NestedAssignment, ErrorsNameTheVariable) {
  Workspace w;
  w.name(0, "x");
  w.name(1, "c");
  w.name(2, "u");
  ASSERT_EQ(run(w.c, "push_int16 1\nstore_local 0\npush_int16 1\npush_int16 2\nmake_list 2\nstore_local 1"), kOk);
  struct Case {
    std::string code;
    int status;
    const char* text;
  };
  const Case cases[] = {
      {"push_ref 0\nref_field " + sym(w.c, "f"), kFieldOfNonStruct,
       "Attempt to access field 'f' of non-struct variable 'x'"},
      {"push_ref 1\npush_int16 5\nref_element 1", kIndexOutOfRange, "Index out of range (5) for variable 'c'"},
      {"push_int16 1\npush_ref_target 0\npush_int16 2\nref_element 1", kElementOfNonList,
       "Attempt to access to element 2 of non-list variable 'x'"},
      {"load_local 2", kUndefinedVariable, "Undefined variable 'u'"},
      {"push_int16 1\npush_ref_target 1\npush_double 1.5\nref_element 1", kNonIntegerIndex,
       "Non-integer index for variable 'c'"},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(run(w.c, k.code), k.status) << k.code;
    const std::string text = error_text(w.c, k.status);
    EXPECT_EQ(text.substr(0, std::strlen(k.text)), k.text);
    w.clear_stack();
  }
  // Full stacks while pushing a variable name it too.
  const uint32_t capacity = w.c->desc_capacity;
  w.c->desc_capacity = uint32_t(w.c->desc_top);
  EXPECT_EQ(var_push_ref(w.c, 0, 0), kStackOverflowVar);
  EXPECT_EQ(error_text(w.c, kStackOverflowVar), "Stack overflow for variable 'x'");
  w.c->desc_capacity = capacity;
  // x(1:3) = [0 0]
  stk_push_zeros(w.c, 1, 2, 0);
  ASSERT_EQ(var_push_ref(w.c, 0, 1), kOk);
  ndm::push_sub(w.c, ndm::Sub{ndm::Sub::Numbers, {1, 2, 3}, {1, 3}}, false);
  EXPECT_EQ(op_index_set(w.c, 1, 0), kBadAssignmentSize);
  EXPECT_EQ(error_text(w.c, kBadAssignmentSize),
            "Incompatible size of right-hand side expression in assignment to variable 'x'");
  w.clear_stack();
  EXPECT_TRUE(w.sound());
}

TEST(IndexAssign, RandomAssignmentsAndDeletionsMatchTheModel) {
  Workspace w;
  w.name(0, "x");
  std::mt19937 g(77);
  std::optional<ndm::Array> model;
  int ok = 0;
  for (int round = 0; round < 4000; ++round) {
    if (round % 20 == 0) {
      // A fresh variable now and then, sometimes an undefined one.
      ASSERT_EQ(var_clear_local(w.c, 0), kOk);
      model.reset();
      if (g() % 4) {
        model = random_array(g, random_kind(g), random_dims(g));
        ASSERT_EQ(ndm::push(w.c, *model), kOk);
        ASSERT_EQ(var_store_local(w.c, 0), kOk);
      }
    }
    const std::vector<int64_t> dims = model ? model->dims : std::vector<int64_t>{0, 0};
    const bool erase = model && g() % 5 == 0;
    const std::vector<ndm::Sub> subs = random_subs(g, dims, !erase);
    ndm::Array rhs, want;
    int expect;
    if (erase) {
      rhs = ndm::like(ndm::Array{}, {0, 0}, false);
      expect = ndm::erase(*model, subs, &want);
    } else {
      // The same kind as the target (or any kind for a new variable), with one
      // element or as many as selected.
      int64_t total = 1;
      ndm::Selection s;
      if (ndm::select(dims, subs, true, nullptr, &s) == kOk)
        for (const auto& p : s.pos) total *= int64_t(p.size());
      std::vector<int64_t> rd = g() % 3 == 0 ? std::vector<int64_t>{1, 1} : std::vector<int64_t>{1, total};
      if (g() % 10 == 0) rd = {1, total + 1};
      if (model) {
        rhs = ndm::like(*model, rd, model->cls != ndm::Cls::Int && (model->cplx || g() % 4 == 0));
        for (auto& x : rhs.re) x = uint8_t(g());
        for (auto& x : rhs.im) x = uint8_t(g());
        if (rhs.subtype == kPayLogical)
          for (auto& x : rhs.re) x &= 1;
      } else {
        rhs = random_array(g, random_kind(g), rd);
      }
      // An empty right-hand side deletes, whatever the selection.
      expect = model && rhs.count() == 0 ? ndm::erase(*model, subs, &want) : ndm::assign(model, subs, rhs, &want);
    }
    ASSERT_EQ(ndm::push(w.c, rhs), kOk);
    ASSERT_EQ(var_push_ref(w.c, 0, 1), kOk);
    for (const ndm::Sub& s : subs)
      if (s.kind != ndm::Sub::Colon) {
        ASSERT_EQ(ndm::push_sub(w.c, s, g() % 2), kOk);
      }
    uint32_t mask = 0;
    for (size_t i = 0; i < subs.size(); ++i)
      if (subs[i].kind == ndm::Sub::Colon) mask |= 1u << i;
    const int got = op_index_set(w.c, int(subs.size()), mask);
    ASSERT_EQ(got, expect) << "round " << round;
    if (!model && expect != kOk) {
      // The failed assignment leaves the created empty list; start again.
      w.clear_stack();
      ASSERT_EQ(var_clear_local(w.c, 0), kOk);
      continue;
    }
    if (expect == kOk) {
      ASSERT_EQ(w.c->desc_top, kBaseFrameWords) << "round " << round;
      model = want;
      ++ok;
    }
    w.clear_stack();
    ASSERT_TRUE(slot_array(w, 0) == *model) << "round " << round;
    ASSERT_TRUE(w.sound()) << "round " << round;
  }
  EXPECT_GT(ok, 1500);
}

// A cell array whose entries are real scalars (0 stands for an empty entry)
// behaves under parenthesis subscripts like the double array of those values.
void push_cell(EngineContext* c, const ndm::Array& a) {
  const int64_t n = a.count();
  std::vector<int32_t> dims(a.dims.begin(), a.dims.end());
  int64_t words = kElemHeaderWords + cell_size_words(int(dims.size()));
  for (int64_t i = 0; i < n; ++i) words += kElemHeaderWords + (tn::ld_f64(&a.re[8 * i]) != 0 ? 1 : 0);
  uint64_t* out = stk_claim(c, kKindContainer, uint32_t(words), kContCell, uint32_t(words));
  write_cell_sizes(out, dims.data(), int(dims.size()));
  out += elem_total_words(out);
  for (int64_t i = 0; i < n; ++i) {
    const double v = tn::ld_f64(&a.re[8 * i]);
    elem_set_header(out, kKindReal, v != 0 ? 1 : 0, v != 0 ? 1 : 0, 0);
    if (v != 0) tn::st_f64(out + kElemHeaderWords, v);
    out += elem_total_words(out);
  }
}

std::optional<ndm::Array> cell_values(const uint32_t* h, uint64_t* data) {
  Entries e;
  if (!container_entries(h, data, &e) || !e.cell) return std::nullopt;
  std::vector<int64_t> dims(e.dims, e.dims + e.ndims);
  ndm::Array a = ndm::like(ndm::Array{}, e.count == 0 ? std::vector<int64_t>{0, 0} : dims, false);
  const uint64_t* x = e.first;
  for (int64_t i = 0; i < e.count; ++i, x += elem_total_words(x))
    tn::st_f64(&a.re[8 * i], elem_data_words(x) ? tn::ld_f64(x + kElemHeaderWords) : 0.0);
  return a;
}

ndm::Array nonzero_values(std::mt19937& g, std::vector<int64_t> dims) {
  ndm::Array a = ndm::like(ndm::Array{}, std::move(dims), false);
  for (int64_t i = 0; i < a.count(); ++i) tn::st_f64(&a.re[8 * i], double(1 + g() % 1000));
  return a;
}

TEST(IndexAssign, AppendingMovesTheBlockLogarithmicallyOften) {
  // x(k) = k on a row, on a column, and on an int16 row, 3000 times: the
  // values are the model's and the block moves only as its spare room runs out.
  struct Case {
    const char* start;  // x before the loop
    std::vector<int64_t> dims;
    bool integer;
  };
  for (const Case& t : {Case{"row", {0, 0}, false}, Case{"column", {2, 1}, false}, Case{"int16", {1, 1}, true}}) {
    SCOPED_TRACE(t.start);
    Workspace w;
    w.name(0, "x");
    ndm::Array proto;
    if (t.integer) {
      proto.cls = ndm::Cls::Int;
      proto.type = kElemI16;
      proto.subtype = kPayNumeric;
      proto.esize = 2;
    }
    const ndm::Array x = ndm::like(proto, t.dims, false);
    ASSERT_EQ(ndm::push(w.c, x), kOk);
    ASSERT_EQ(var_store_local(w.c, 0), kOk);
    const int64_t first = x.count() + 1;
    int moves = 0;
    for (int64_t k = first; k < first + 3000; ++k) {
      const int32_t before = w.slot_block(0);
      ASSERT_EQ(stk_push_real(w.c, double(k)), kOk);
      ASSERT_EQ(var_push_ref(w.c, 0, 1), kOk);
      ASSERT_EQ(stk_push_real(w.c, double(k)), kOk);
      ASSERT_EQ(op_index_set(w.c, 1, 0), kOk) << k;
      moves += w.slot_block(0) != before;
    }
    EXPECT_LT(moves, 30);
    const ndm::Array got = slot_array(w, 0);
    EXPECT_EQ(got.count(), first + 2999);
    EXPECT_EQ(got.dims[t.dims[0] > 1 ? 1 : 0], 1);  // a column stays a column, anything else is a row
    if (!t.integer) {
      const std::vector<double> v = slot_doubles(w, 0);
      for (int64_t k = first; k < first + 3000; ++k) ASSERT_EQ(v[size_t(k - 1)], double(k)) << k;
    }
    ASSERT_TRUE(w.sound());
  }
}

// Leaves `spare` free words on the data stack (under one filler item).
void leave_data_words(EngineContext* c, int64_t spare) {
  double* re = nullptr;
  const int64_t n = int64_t(c->data_capacity) - c->data_top - spare;
  ASSERT_GT(n, 0);
  ASSERT_EQ(stk_push_matrix(c, 1, int32_t(n), &re, nullptr), kOk);
}

TEST(IndexAssign, DeletingWorksWhereTheValueLies) {
  // With room on the data stack for the operands but not for a copy of the
  // value, x(end) = [], x(1) = [], M(1, :) = [] and a typed column's deletion
  // still succeed: the kept elements move down inside the block. The values
  // are those of the model, and the heap stays sound.
  struct Case {
    ndm::Array x;
    std::vector<ndm::Sub> subs;
  };
  ndm::Array row = ndm::like(ndm::Array{}, {1, 3000}, false);
  for (int64_t i = 0; i < row.count(); ++i) tn::st_f64(&row.re[8 * i], double(i + 1));
  ndm::Array matrix = ndm::like(ndm::Array{}, {1000, 3}, true);
  for (size_t i = 0; i < matrix.re.size(); ++i) matrix.re[i] = uint8_t(i * 7 + 1);
  for (size_t i = 0; i < matrix.im.size(); ++i) matrix.im[i] = uint8_t(i * 5 + 3);
  ndm::Array proto;
  proto.cls = ndm::Cls::Int;
  proto.type = kElemI16;
  proto.subtype = kPayNumeric;
  proto.esize = 2;
  ndm::Array column = ndm::like(proto, {4001, 1}, false);
  for (size_t i = 0; i < column.re.size(); ++i) column.re[i] = uint8_t(i);
  auto numbers = [](std::vector<int64_t> v) {
    ndm::Sub s;
    s.kind = ndm::Sub::Numbers;
    s.shape = {1, int64_t(v.size())};
    s.values = std::move(v);
    return s;
  };
  const ndm::Sub colon;
  const std::vector<Case> cases = {{row, {numbers({3000})}},
                                   {row, {numbers({1})}},
                                   {matrix, {numbers({1}), colon}},
                                   {matrix, {colon, numbers({2})}},
                                   {column, {numbers({4001, 1, 17})}}};
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    Workspace w;
    w.name(0, "x");
    ASSERT_EQ(ndm::push(w.c, cases[i].x), kOk);
    ASSERT_EQ(var_store_local(w.c, 0), kOk);
    ndm::Array want;
    ASSERT_EQ(ndm::erase(cases[i].x, cases[i].subs, &want), kOk);
    leave_data_words(w.c, 64);
    ASSERT_EQ(stk_push_empty(w.c), kOk);
    ASSERT_EQ(var_push_ref(w.c, 0, 1), kOk);
    uint32_t mask = 0;
    for (size_t j = 0; j < cases[i].subs.size(); ++j)
      if (cases[i].subs[j].kind == ndm::Sub::Colon)
        mask |= 1u << j;
      else
        ASSERT_EQ(ndm::push_sub(w.c, cases[i].subs[j], false), kOk);
    ASSERT_EQ(op_index_set(w.c, int(cases[i].subs.size()), mask), kOk);
    w.clear_stack();
    EXPECT_TRUE(slot_array(w, 0) == want);
    EXPECT_TRUE(w.sound());
  }
}

TEST(IndexAssign, OneCellEntryIsStoredWhereTheCellLies) {
  // c(i) = {v} and c(i, j) = {v} into a cell array of 3000 entries with no
  // room on the data stack for a rebuilt copy: each entry changes its size
  // in the variable's block, as c{i} = v would, and the values follow the model.
  Workspace w;
  w.name(0, "c");
  std::mt19937 g(99);
  ndm::Array model = nonzero_values(g, {60, 50});
  for (int64_t i = 0; i < model.count(); i += 3) tn::st_f64(&model.re[8 * i], 0.0);
  push_cell(w.c, model);
  ASSERT_EQ(var_store_local(w.c, 0), kOk);
  for (int round = 0; round < 200; ++round) {
    const int64_t i = g() % 60, j = g() % 50;
    const double v = round % 3 == 0 ? 0.0 : double(round + 1);
    leave_data_words(w.c, 40);
    ndm::Array one = ndm::like(ndm::Array{}, {1, 1}, false);
    tn::st_f64(&one.re[0], v);
    push_cell(w.c, one);
    ASSERT_EQ(var_push_ref(w.c, 0, 1), kOk);
    const bool linear = round % 2 == 0;
    if (linear) {
      ASSERT_EQ(stk_push_real(w.c, double(i * 50 + j + 1)), kOk);
    } else {
      ASSERT_EQ(stk_push_real(w.c, double(i + 1)), kOk);
      ASSERT_EQ(stk_push_real(w.c, double(j + 1)), kOk);
    }
    ASSERT_EQ(op_index_set(w.c, linear ? 1 : 2, 0), kOk) << round;
    tn::st_f64(&model.re[8 * (i * 50 + j)], v);
    w.clear_stack();
    const int32_t b = w.slot_block(0);
    ASSERT_TRUE(*cell_values(block_words32(w.c, b), heap_words(w.c) + b + kElemHeaderWords) == model) << round;
    ASSERT_TRUE(block_consistent(w, 0));
  }
  EXPECT_TRUE(w.sound());
}

TEST(IndexAssign, RandomCellSelectionsMatchTheModel) {
  Workspace w;
  w.name(0, "c");
  std::mt19937 g(4242);
  ndm::Array model;
  int ok = 0;
  for (int round = 0; round < 3000; ++round) {
    if (round % 25 == 0) {
      model = nonzero_values(g, random_dims(g));
      push_cell(w.c, model);
      ASSERT_EQ(var_store_local(w.c, 0), kOk);
    }
    const unsigned op = g() % 3;
    const std::vector<ndm::Sub> subs = random_subs(g, model.dims, op == 2);
    uint32_t mask = 0;
    for (size_t i = 0; i < subs.size(); ++i)
      if (subs[i].kind == ndm::Sub::Colon) mask |= 1u << i;
    ndm::Array want;
    int expect, got;
    if (op == 0) {  // read, from a copy on the stack and in place
      expect = ndm::read(model, subs, &want);
      for (int in_place = 0; in_place < 2; ++in_place) {
        ASSERT_EQ(in_place ? var_push_ref(w.c, 0, 0) : var_push_local(w.c, 0), kOk);
        for (const ndm::Sub& s : subs)
          if (s.kind != ndm::Sub::Colon) ndm::push_sub(w.c, s, false);
        got = in_place ? op_index_get(w.c, 0, int(subs.size()), mask, kIndexCallOne) : index_extract(w.c, int(subs.size()), mask, 0, 0);
        ASSERT_EQ(got, expect) << "round " << round;
        if (got == kOk) {
          ASSERT_TRUE(*cell_values(desc_at(w.c, 0), item_data(w.c, 0)) == want) << "round " << round;
        }
        w.clear_stack();
      }
      if (expect == kOk) ++ok;
      continue;
    }
    if (op == 1) {
      expect = ndm::erase(model, subs, &want);
      stk_push_empty(w.c);
    } else {
      ndm::Selection sel;
      int64_t total = 1;
      if (ndm::select(model.dims, subs, true, nullptr, &sel) == kOk)
        for (const auto& p : sel.pos) total *= int64_t(p.size());
      const ndm::Array rhs = nonzero_values(g, {1, g() % 3 == 0 ? 1 : total + (g() % 10 == 0)});
      expect = ndm::assign(model, subs, rhs, &want);
      if (expect == kBadAssignmentSize && total == 0 && rhs.count() > 1) expect = kBadSize;
      push_cell(w.c, rhs);
    }
    ASSERT_EQ(var_push_ref(w.c, 0, 1), kOk);
    for (const ndm::Sub& s : subs)
      if (s.kind != ndm::Sub::Colon) ndm::push_sub(w.c, s, false);
    got = op_index_set(w.c, int(subs.size()), mask);
    ASSERT_EQ(got, expect) << "round " << round;
    if (expect == kOk) {
      model = want;
      ++ok;
    }
    w.clear_stack();
    const int32_t b = w.slot_block(0);
    ASSERT_TRUE(*cell_values(block_words32(w.c, b), heap_words(w.c) + b + kElemHeaderWords) == model)
        << "round " << round;
    ASSERT_TRUE(block_consistent(w, 0));
    ASSERT_TRUE(w.sound()) << "round " << round;
  }
  EXPECT_GT(ok, 1000);
}

TEST(ClearBuiltin, NamesAllAndFunctions) {
  Workspace w;
  w.name(0, "a");
  w.name(1, "b");
  ASSERT_EQ(run(w.c, "push_int16 1\nstore_local 0\npush_int16 2\nstore_local 1"), kOk);
  stk_push_cstr(w.c, -1, "foo");  // no such variable: ignored
  stk_push_cstr(w.c, -1, "b");
  ASSERT_EQ(bi_clear(w.c, 2), kOk);
  EXPECT_EQ(w.slot_block(1), kNoBlock);
  EXPECT_NE(w.slot_block(0), kNoBlock);
  EXPECT_EQ(w.c->desc_top, kBaseFrameWords);
  stk_push_real(w.c, 3);
  EXPECT_EQ(bi_clear(w.c, 1), kWrongArgType);
  w.clear_stack();
  ASSERT_EQ(bi_clear(w.c, 0), kOk);
  EXPECT_EQ(w.slot_block(0), kNoBlock);
  EXPECT_TRUE(w.sound());

  // clear -f removes compiled code, but not while a frame above the base runs.
  int32_t s = 0, id = 0;
  symtab_intern(w.c, "f", 1, 32, &s);
  HandFunction f;
  f.flags = kHdrNoNames;
  const uint32_t at = place_function(w.c, f);
  ASSERT_EQ(fn_table_add(w.c, s, 0, int32_t(at), 0, &id), kOk);
  HandFunction callee;
  callee.locals = 1;
  callee.names = {"v"};
  ASSERT_EQ(frame_push(w.c, nullptr, function_header(w.c, place_function(w.c, callee)), id, 0, 0, 0, 0, 0, 0), kOk);
  stk_push_cstr(w.c, -1, "-f");
  EXPECT_EQ(bi_clear(w.c, 1), kBadContext);
  stk_drop(w.c);
  ASSERT_EQ(frame_pop(w.c), kOk);
  // A command line's block runs in a frame of its own, which does not count.
  ASSERT_EQ(frame_push(w.c, nullptr, nullptr, 0, 0, -1, 0, 0, 0, 0), kOk);
  stk_push_cstr(w.c, -1, "-f");
  ASSERT_EQ(bi_clear(w.c, 1), kOk);
  EXPECT_EQ(ent(w.c, id, kEntCode), 0);
}

}  // namespace
