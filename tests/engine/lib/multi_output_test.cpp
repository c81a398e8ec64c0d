// Every built-in that allows more than one output, over the built-in tables
// of a started engine (the intrinsics and the rows engine_start registers):
// called from compiled code and through feval at every output count it
// allows, as a statement, inside try and inside an expression, it leaves
// the stack as its handler called directly does: as many results, the same
// values, nothing left over. Rows still holding the "Not supported"
// placeholder are skipped.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engine/core/interp.h"
#include "engine/core/opcodes.h"
#include "engine/lib/builtin_tables.h"
#include "support/zvr_session.h"

namespace {

// Output counts past this are not tried where a built-in allows any number.
constexpr int kMostOutputsTried = 4;

// Arguments by the least number of inputs a built-in takes, chosen so that
// most calls succeed whatever the function; the functions that need other
// values name their own below.
const std::map<int, std::vector<std::string>> kArgsByInputs = {
    {0, {}},
    {1, {"[3 1 2 3]"}},
    {2, {"[3 1 2 3]", "[2 5]"}},
    {3, {"[3 1 2 3]", "[2 5]", "1"}},
};

// The calling built-ins run their callee through the interpreter, so the
// handler that answers for them directly is the callee's.
struct OwnArgs {
  const char* name;
  std::vector<std::string> args;
  const char* callee = nullptr;
  std::vector<std::string> callee_args = {};
  int most_outputs = -1;  // fewer counts than the table allows, where the built-in itself limits them
};
const OwnArgs kOwnArgs[] = {
    {"builtin", {"'max'", "[3 1 2]"}, "max", {"[3 1 2]"}},
    // eval compiles its text for the values the text leaves: one here.
    {"eval", {"'deal(7)'"}, "deal", {"7"}, 1},
    {"feval", {"'deal'", "7"}, "deal", {"7"}},
    // str2obj runs its text as eval does: the text's one value.
    {"str2obj", {"'{1, 2}'"}, "deal", {"{1, 2}"}, 1},
    {"fevalx", {"'deal'", "7"}, "deal", {"7"}},
    {"deal", {"7"}},
    {"deconv", {"[1 3 2]", "[1 1]"}},
    {"filter", {"1", "[1 -0.5]", "[1 2 3]"}},
    {"find", {"[0 3; 4 0]"}},
    {"ind2sub", {"[2 3 2]", "9"}},
    {"meshgrid", {"1:2", "1:3"}},
    {"ndgrid", {"1"}},
    {"orderfields", {"struct('b', 1, 'a', 2)"}},
    {"size", {"ones(2, 3, 4)"}},
    {"sscanf", {"'1 2 3'", "'%d'"}},
    {"strtok", {"'ab cd'"}},
    {"ss2tf", {"[-1 0; 0 -2]", "[1; 1]", "[1 1]", "0"}},
};

// Built-ins left out: fscanf reads an open stream, which a test engine does
// not have; map calls its function value once per element, so no one
// handler answers for it.
const char* const kLeftOut[] = {"fscanf", "map"};

struct Case {
  std::string name;
  int32_t opcode;  // engine opcode, or 327 + the row's index
  int min_out, max_out;
  std::vector<std::string> args;
  int32_t direct_opcode;  // the handler that answers directly, and its arguments
  std::vector<std::string> direct_args;
};

Case make_case(const std::string& name, int32_t opcode, int min_out, int max_out, int min_in) {
  Case k{name, opcode, min_out, max_out, {}, opcode, {}};
  auto it = kArgsByInputs.find(min_in);
  if (it != kArgsByInputs.end()) k.args = it->second;
  for (const OwnArgs& o : kOwnArgs) {
    if (name != o.name) continue;
    k.args = o.args;
    if (o.most_outputs >= 0) k.max_out = o.most_outputs;
    if (!o.callee) continue;
    const IntrinsicEntry* callee = intrinsic_find(o.callee);
    k.direct_opcode = int32_t(callee->opcode);
    // The callee decides how many outputs there can be.
    if (argc_max(callee->out_args) != kArgcNoMaximum && argc_max(callee->out_args) < k.max_out)
      k.max_out = argc_max(callee->out_args);
  }
  k.direct_args = k.args;
  for (const OwnArgs& o : kOwnArgs)
    if (name == o.name && o.callee) k.direct_args = o.callee_args;
  return k;
}

bool left_out(const char* name) {
  for (const char* n : kLeftOut)
    if (std::strcmp(n, name) == 0) return true;
  return false;
}

std::vector<Case> multi_output_cases(EngineContext* c) {
  std::vector<Case> cases;
  for (int i = 0; i < kIntrinsicCount; ++i) {
    const IntrinsicEntry& e = kIntrinsicTable[i];
    const int hi = argc_max(e.out_args);
    if ((hi != kArgcNoMaximum && hi < 2) || !interp_op_registered(e.opcode) || left_out(e.name))
      continue;
    const int most = hi == kArgcNoMaximum ? kMostOutputsTried : hi;
    cases.push_back(make_case(e.name, int32_t(e.opcode), argc_min(e.out_args), most, argc_min(e.in_args)));
  }
  for (int k = 0; const BuiltinEntry* row = lib_entry_by_index(c, k); ++k) {
    const char first = row->name[0];
    const bool callable = (first >= 'a' && first <= 'z') || (first >= 'A' && first <= 'Z') || first == '_';
    // A row named as an intrinsic is never what a call by that name reaches.
    if (!callable || builtin_is_placeholder(row) || row->max_out < 2 || row->class_word > 0 ||
        intrinsic_find(row->name) || left_out(row->name))
      continue;
    const int most = row->max_out >= kArgsAny ? kMostOutputsTried : row->max_out;
    cases.push_back(make_case(row->name, int32_t(kFirstLibraryOpcode) + k, row->min_out, most, row->min_in));
  }
  return cases;
}

std::string joined(const std::vector<std::string>& parts, const char* sep) {
  std::string s;
  for (size_t i = 0; i < parts.size(); ++i) s += (i ? sep : "") + parts[i];
  return s;
}

std::string targets(int n) {
  std::vector<std::string> t;
  for (int k = 1; k <= n; ++k) t.push_back("r" + std::to_string(k) + "_");
  return n == 0 ? "" : "[" + joined(t, ", ") + "] = ";
}

struct MultiOutput : ::testing::Test, ZvrSession {
  // A line of code; a failure unwinds its frames, so the next line starts clean.
  int line(const std::string& text) {
    const int status = run(text);
    if (status != kOk) frame_unwind(c, 0);
    return status;
  }

  // The handler called directly on the arguments: the rendered results
  // (the first output on top), or the status when it fails.
  int direct(const Case& k, int nout, std::vector<std::string>* results) {
    const int32_t base = c->desc_top;
    for (size_t i = 0; i < k.direct_args.size(); ++i) {
      const std::string var = "a" + std::to_string(i) + "_";
      if (line(var + " = " + k.direct_args[i] + ";") != kOk || push_variable(var.c_str()) != kOk) return kBadArgument;
    }
    const int status = lib_call_opcode(c, k.direct_opcode, int(k.direct_args.size()), nout);
    const int32_t items = (c->desc_top - base) / 3;
    for (int d = 0; status == kOk && d < items; ++d) results->push_back(render(d));
    while (c->desc_top > base) stk_drop(c);
    return status;
  }

  // The targets of a statement that ran, rendered.
  std::vector<std::string> assigned(int n) {
    std::vector<std::string> got;
    for (int k = 1; k <= n; ++k) {
      const std::string var = "r" + std::to_string(k) + "_";
      if (push_variable(var.c_str()) != kOk) {
        got.push_back("unset");
        continue;
      }
      got.push_back(render(0));
      stk_drop(c);
    }
    run("clear r1_ r2_ r3_ r4_ r5_ r6_ r7_ r8_ r9_ r10_ r11_ r12_ r13_ r14_ r15_ r16_ e_");
    return got;
  }

  // One output count: the handler directly, then the call and feval from
  // code. The handler's status; kNotSupported skips the rest.
  int check_count(const Case& k, int n) {
    std::vector<std::string> want;
    const int status = direct(k, n, &want);
    if (status == kNotSupported) return status;
    // The handler gives exactly the outputs asked for (one or none for 0);
    // a count it refuses is refused from code too.
    if (status == kOk) {
      EXPECT_EQ(int(want.size()), n == 0 && want.size() <= 1 ? int(want.size()) : n);
    }
    want.resize(size_t(n));
    if (status != kOk) want.assign(size_t(n), "unset");
    const std::string args = joined(k.args, ", ");
    const std::string call = k.name + "(" + args + ")";
    const std::string via_feval = "feval('" + k.name + "'" + (args.empty() ? "" : ", " + args) + ")";
    for (const std::string& form : {call, via_feval}) {
      SCOPED_TRACE(form);
      std::vector<std::string> in_try = want;
      if (status != kOk && n > 0) in_try[0] = "'caught'";
      EXPECT_EQ(line("try, " + targets(n) + form + "; catch, r1_ = 'caught'; end"), kOk);
      EXPECT_TRUE(clean());
      EXPECT_EQ(assigned(n), in_try);
      EXPECT_EQ(line(targets(n) + form + ";"), status) << take_output();
      EXPECT_TRUE(clean());
      EXPECT_EQ(assigned(n), want);
      if (n != 1 || status != kOk) continue;
      // In an expression the one result stands between its neighbours.
      EXPECT_EQ(line("e_ = {7, " + form + ", 8};"), kOk) << take_output();
      EXPECT_TRUE(clean());
      EXPECT_EQ(push_variable("e_"), kOk);
      EXPECT_EQ(render(0), "{double 1x1 [7], " + want[0] + ", double 1x1 [8]}");
      stk_drop(c);
      assigned(0);
    }
    return kOk;
  }
};

TEST_F(MultiOutput, EveryCountFromCodeAndFevalLeavesTheStackAsTheHandler) {
  int tried = 0;
  for (const Case& k : multi_output_cases(c)) {
    int answered = 0, supported = 1;
    for (int n = k.min_out; n <= k.max_out && supported; ++n) {
      SCOPED_TRACE(k.name + " with " + std::to_string(n) + " outputs");
      const int status = check_count(k, n);
      supported = status != kNotSupported;
      answered += status == kOk;
    }
    // The arguments chosen let the built-in answer at some count at least.
    if (supported) {
      EXPECT_GT(answered, 0) << k.name;
    }
    tried += answered;
  }
  // The set functions, sort, max, size and the calls by name all take part.
  EXPECT_GE(tried, 40);
}

}  // namespace
