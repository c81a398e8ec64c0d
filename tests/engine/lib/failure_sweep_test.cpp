// Every intrinsic and every bound built-in row under the failure sweep: with
// each room cut to k words, a failing call leaves its caller's stacks and
// variables as they were, and the call that finally succeeds gives what it
// gives with room. Built-ins that do I/O, run code or read the clock or the
// random generator are left out; every other row joins by being bound.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "engine/core/containers.h"
#include "engine/core/interp.h"
#include "engine/core/opcodes.h"
#include "engine/lib/builtin_tables.h"
#include "support/builtin_targets.h"
#include "support/failure_sweep.h"
#include "support/zvr_session.h"

namespace {

// Names that write or read streams, run or compile code, depend on the
// calling frame, or change state outside the stacks.
const std::set<std::string> kLeftOut = {
    "assert",  "builtin", "clc",      "clear",    "disp",     "error",   "eval",    "exist",
    "fclose",  "feof",    "feval",   "fevalx",  "fflush",   "fgetl",    "fgets",    "format",  "fprintf", "fread",
    "fscanf",  "fseek",   "ftell",   "fwrite",   "info",     "inline",   "lasterr", "lasterror", "nargin",
    "nargout", "rand",    "randn",   "randi",    "redirect", "rethrow",  "str2fun",
    "variables", "warning", "fopen", "printf",   "display",  "input",    "keyboard", "evalin", "assignin",
    "cellfun", "arrayfun", "structfun", "tic",   "toc",      "clock",    "cputime", "now",     "date",
    "pause",   "more",    "echo",    "dbstop",   "dbclear",  "dbhalt",   "dbcont",  "dbquit",  "dbstep",
    "dbstack", "dbtype",  "global",  "mlock",    "munlock",  "sprintf",  "fun2str", "func2str", "str2func",
    "quit",    "exit",    "drawnow", "help",     "lookfor",  "path",     "addpath", "rmpath",  "which",
    "lasterror", "beep",  "diary",   "rng",      "setenv",   "getenv",   "system",  "unix",    "dos",
};

// Inputs by letter: the values are made by ZVR code, the list on the stack.
constexpr const char* kDefinitions =
    "swA = [1 2 3; 4 5 6]; swZ = [1+2i, -3; 0.5i, 4]; swS = 'ab c'; swX = 0.5; swN = 2;"
    "swI = int16([3 -4 5]); swL = logical([1 0 1]); swC = {1, 'a'; [2 3], {}};"
    "swT = struct('a', {1, 2}, 'b', 'x'); swF = 'a'; swP = single([1.5 -2]); swE = [];"
    "swJ = int8([7 -8 9]); swQ = 1 - 2i; swR = uint8([200 3]);";

// One argument set: the inputs in order, one letter each ('l' is a list).
// Operands of different classes are converted to a common one before the
// result is pushed ("IJ", "IQ", "LI", "PR", "RX"): a failure must not leave them converted.
constexpr const char* kArgSets[] = {"AAA", "ZZZ", "SSS", "XNN", "ANN", "III", "LL", "CN", "TF", "l",
                                    "PP",  "ZA",  "E",   "EE",  "IJ",  "IQ",  "LI", "PR", "RX"};

using Target = BuiltinTarget;

class FailureSweep : public ::testing::Test {
 protected:
  ZvrSession s;
  EngineContext* c = s.c;

  void SetUp() override { ASSERT_EQ(s.run(kDefinitions), kOk) << s.take_output(); }

  int push_input(char letter) {
    if (letter != 'l') return s.push_variable((std::string("sw") + letter).c_str());
    TN_TRY(s.push_variable("swX"));
    if (int st = s.push_variable("swS"); st != kOk) {
      stk_drop(c);
      return st;
    }
    return stk_make_container(c, 2, 0, nullptr, 0);
  }

  std::vector<Target> targets() { return builtin_targets(c, kLeftOut); }
};

// Open faults the sweep has found and that are not mended yet: these
// built-ins change their arguments on a failure or answer differently with
// little room. The test holds the list exactly, so a mend (or a new fault)
// shows here and the entry goes.
const std::set<std::string> kKnownOpenFaults = {};

TEST_F(FailureSweep, EveryBuiltinLeavesItsCallerAsItWasWhenItFails) {
  int calls = 0, builtins_swept = 0;
  std::set<std::string> failing;
  for (const Target& t : targets()) {
    bool reported = false;  // the first failure of each built-in only
    bool swept = false;
    for (const char* set : kArgSets) {
      const int most = int(std::strlen(set));
      if (t.min_in > most) continue;
      const int ins[] = {t.min_in, std::min(t.max_in, most)};
      const int outs[] = {t.min_out, std::min(t.max_out, 3)};
      for (int nin : ins) {
        for (int nout : outs) {
          auto push = [&] {
            for (int i = 0; i < nin; ++i) {
              if (int st = push_input(set[i]); st != kOk) return st;
            }
            return int(kOk);
          };
          auto call = [&] { return lib_call_opcode(c, t.opcode, nin, nout); };
          ++calls;
          if (reported) continue;
          auto r = sweep_rooms(c, push, call, &swept);
          reported = !r;
          if (!r) failing.insert(t.name);
          if (!r && !kKnownOpenFaults.count(t.name))
            ADD_FAILURE() << t.name << " with " << std::string(set, size_t(nin)) << ", " << nout << " outputs: "
                          << r.message();
        }
      }
    }
    builtins_swept += swept;
  }
  for (const std::string& name : kKnownOpenFaults)
    EXPECT_TRUE(failing.count(name)) << name << " passes the sweep now: take it off the list of open faults";
  // Nearly every built-in succeeds on one of the argument sets at least.
  const int total = int(targets().size());
  EXPECT_GE(10 * builtins_swept, 9 * total) << builtins_swept << " of " << total << " swept, " << calls << " calls";
  s.take_output();
}

}  // namespace
