// help and lookfor over an in-memory "+readlib": the help files and library
// sources are strings served by the hook, fd 4 is captured. Help from the
// engine's file, a section's file, "other", a library function's comment,
// marked-up text; lookfor records byte for byte, "oror", one record for an
// entry in two files, the abort poll; and the introspection rows under the
// failure sweep at every output count.
#include <gtest/gtest.h>

#include <string>

#include "engine/core/streams.h"
#include "engine/lib/help.h"
#include "engine/lib/info_lists.h"
#include "engine/lib/introspection.h"
#include "engine/lib/tasks.h"
#include "support/fn_fakes.h"
#include "support/row_sweep.h"
#include "support/zvr_session.h"

namespace {

std::string g_fd4;

int fd4_write(EngineContext*, int32_t fd, const char* bytes, int32_t length, uintptr_t) {
  if (fd != kFdLookfor) return kNotMyDescriptor;
  g_fd4.append(bytes, size_t(length));
  return kOk;
}

int g_abort_polls = 0;
uint8_t abort_always(void*) {
  ++g_abort_polls;
  return 1;
}

constexpr char kEngineHelp[] =
    "// the engine's help\n"
    "sin\n% sin(x)\n% Sine of x.\n"
    "||\n% a || b\n% Logical or.\n"
    "marked\n%= Title\n% body **b**\n";

constexpr char kLibrarySource[] =
    "function y = dbl(a)\n"
    "% dbl(a)\n"
    "% Doubles A.\n"
    "  y = 2 * a;\n"
    "endfunction\n"
    "function y = plain(a)\n"
    "  y = a;\n"
    "endfunction\n";

class Help : public ::testing::Test {
 protected:
  ZvrSession s;
  EngineContext* c = s.c;
  SourceStore store;
  BuiltinEntry rows[8] = {};

  void SetUp() override {
    g_fd4.clear();
    rows[0] = hook_row("+readlib", store_hook, reinterpret_cast<uintptr_t>(&store));
    rows[1] = stream_hook_row(kHookWrite, static_cast<StreamWriteHook>(fd4_write), kNewlineLF);
    rows[2] = marker_row("@helpsec");
    rows[3] = fn_row("secfn", builtin_not_supported, 0, 0, 0, 1);
    rows[4] = fn_row("help", bi_help, 0, 1, 0, 1);
    rows[5] = fn_row("lookfor", bi_lookfor, 1, 1, 0, 0);
    rows[6] = fn_row("threadnew", bi_threadnew, 1, kArgsAny, 1, 1);
    ASSERT_EQ(engine_register_builtin_table(c, rows, 1), kOk);
    store.put("ZVR", "hlp", kEngineHelp);
    store.put("other", "hlp", "zzother\n% zzother()\n% Only in other.\nsin\n% sin(x)\n% Sine of x.\n");
    store.put("helpsec", "hlp", "secfn\n% secfn()\n% From the section's file.\n");
    store.library("mylib", kLibrarySource);
    ASSERT_EQ(s.run("use mylib\nfunction r = user(x)\n  r = dbl(x);\nendfunction\n"), kOk) << s.take_output();
    s.take_output();
  }

  std::string out(const std::string& line) {
    EXPECT_EQ(s.run(line + "\n"), kOk) << line;
    return s.take_output();
  }
};

TEST_F(Help, HelpAloneAndItsOutput) {
  EXPECT_EQ(out("help"),
            "Type \"help fn\" to get help on function fn or \"help 'op'\" to get help on operator op.\n"
            "Type \"lookfor str\" to get a list of functions whose short description contains \"str\".\n");
  EXPECT_EQ(s.value("help"), s.value("true"));
  EXPECT_EQ(s.take_output(), "");
}

TEST_F(Help, EntriesOfTheHelpFiles) {
  EXPECT_EQ(out("help sin"), " sin(x)\n Sine of x.\n");
  EXPECT_EQ(out("help('||')"), " a || b\n Logical or.\n");
  EXPECT_EQ(out("help secfn"), " secfn()\n From the section's file.\n");
  EXPECT_EQ(out("help zzother"), " zzother()\n Only in other.\n");
  EXPECT_EQ(out("help dbl"), " dbl(a)\n Doubles A.\n");
  EXPECT_EQ(store.reads_of("helpsec|hlp"), 1);
  EXPECT_EQ(g_fd4, "");
}

TEST_F(Help, MarkupGoesToFd4InOnePiece) {
  EXPECT_EQ(out("help marked"), "");
  EXPECT_EQ(g_fd4, "= Title\n body **b**\n");
}

TEST_F(Help, NothingFound) {
  EXPECT_EQ(out("help zz"), "Sorry, no help about zz\n");
  EXPECT_EQ(out("help plain"), "Sorry, no help about plain\n");
  EXPECT_EQ(s.value("help('zz')"), s.value("false"));
  EXPECT_EQ(s.value("help('sin')"), s.value("true"));
  EXPECT_EQ(s.take_output(), "");
  // Without any help file every name falls through to the apology.
  store.files.clear();
  EXPECT_EQ(out("help sin"), "Sorry, no help about sin\n");
  // The failed reads leave no error behind.
  EXPECT_EQ(out("disp(lasterr)"), out("disp('')"));
}

TEST_F(Help, LookforRecords) {
  EXPECT_EQ(out("lookfor SINE"), "");
  // "sin" is in the engine's file and in "other": one record.
  EXPECT_EQ(g_fd4, "##[[help:sin|sin]]##  Sine of x.");
  g_fd4.clear();
  out("lookfor('logical')");
  EXPECT_EQ(g_fd4, "##[[help:oror|||]]##  Logical or.");
  g_fd4.clear();
  out("lookfor('doubles')");
  EXPECT_EQ(g_fd4, "##[[help:mylib::dbl|mylib::dbl]]##  Doubles A.");
  g_fd4.clear();
  out("lookfor('section')");
  EXPECT_EQ(g_fd4, "##[[help:secfn|secfn]]##  From the section's file.");
}

TEST_F(Help, LookforOrderAndAbort) {
  out("lookfor('')");
  // Library sources first, then the section files, "ZVR" and "other".
  EXPECT_EQ(g_fd4,
            "##[[help:mylib::dbl|mylib::dbl]]##  Doubles A."
            "##[[help:secfn|secfn]]##  From the section's file."
            "##[[help:sin|sin]]##  Sine of x."
            "##[[help:oror|||]]##  Logical or."
            "##[[help:marked|marked]]##  body **b**"
            "##[[help:zzother|zzother]]##  Only in other.");
  // An abort after the first library ends the search there.
  g_fd4.clear();
  store.asked.clear();
  g_abort_polls = 0;
  c->abort_fn = abort_always;
  ASSERT_EQ(stk_push_cstr(c, 0, ""), kOk);
  EXPECT_EQ(bi_lookfor(c, 1, 0, 0), kOk);
  c->abort_fn = nullptr;
  EXPECT_EQ(g_abort_polls, 1);
  EXPECT_EQ(store.reads_of("ZVR|hlp"), 0);
  EXPECT_EQ(store.reads_of("other|hlp"), 0);
  EXPECT_TRUE(s.clean());
}

// lookfor under the failure sweep: every run that succeeds with little room
// lists the records of a run with room (its source scans need room too).
TEST_F(Help, LookforRecordsUnderTheSweep) {
  ASSERT_EQ(s.run("w_ = 'doubles';"), kOk);
  std::vector<std::string> listed;
  bool swept = false;
  EXPECT_TRUE(sweep_rooms(
      c, [&] { return s.push_variable("w_"); },
      [&] {
        g_fd4.clear();
        const int status = bi_lookfor(c, 1, 0, 0);
        if (status == kOk) listed.push_back(g_fd4);
        return status;
      },
      &swept));
  EXPECT_TRUE(swept);
  for (const std::string& records : listed) EXPECT_EQ(records, "##[[help:mylib::dbl|mylib::dbl]]##  Doubles A.");
  s.e.clear();
}

TEST_F(Help, InfoPrintsEachKind) {
  EXPECT_EQ(out("info"), "ZVR 5.0.1\n");
  const std::string v = out("a_ = [1 2 3]; b_ = {1}; info('v')");
  EXPECT_NE(v.find("a_ (1x3)\n"), std::string::npos) << v;
  EXPECT_NE(v.find("b_ (list length=1)\n"), std::string::npos) << v;
  // Built-ins: the intrinsics first, under the engine's name; rows under
  // their section, those of an "@" section marked " u".
  const std::string b = out("info('b')");
  EXPECT_EQ(b.rfind("ZVR/", 0), 0u) << b.substr(0, 40);
  EXPECT_NE(b.find("\nhelpsec/secfn u\n"), std::string::npos);
  EXPECT_NE(b.find("\nZVR/sandbox u\n"), std::string::npos);
  EXPECT_NE(b.find("\nZVR/iskeyword\n"), std::string::npos);
  EXPECT_EQ(out("info('o')").substr(0, 6), ";\n,\n:\n");
  EXPECT_EQ(out("info('l')"), "_cli\nmylib\n");
  EXPECT_EQ(out("info('u')"), "mylib\n");
  EXPECT_EQ(out("info('g')"), "");
  EXPECT_EQ(out("info('t')"), "");
  // The command line's functions belong to its library; a function not yet
  // compiled is written in parentheses, and inmem leaves it out.
  EXPECT_EQ(out("info('m')"), "_cli/user\nmylib/dbl\n(mylib/plain)\n");
  EXPECT_EQ(out("info('f')"), "No user function\n");
  EXPECT_EQ(out("inmem"), "_cli/user\nmylib/dbl\n");
}

// A library function that does not compile leaves nothing behind: the
// names its body named are not compiled by the next command line, so help
// of an operator or an intrinsic still comes from the help files, other
// calls run, and a call of the function reports its own fault again.
TEST_F(Help, AFunctionThatDoesNotCompileLeavesHelpAlone) {
  store.library("badlib",
                "function y = bad(x)\n  y = qq_missing(x) + other_bad(x);\n  y = (;\nendfunction\n"
                "function y = other_bad(x)\n  y = x;\nendfunction\n");
  ASSERT_EQ(s.run("use badlib\n"), kOk) << s.take_output();
  s.take_output();
  for (int k = 0; k < 2; ++k) {
    EXPECT_NE(s.run("bad(1)\n"), kOk);
    frame_unwind(c, 0);
    EXPECT_EQ(s.take_output(), "Unexpected semicolon (badlib/bad;3)\n");
    EXPECT_EQ(out("help sin"), " sin(x)\n Sine of x.\n");
    EXPECT_EQ(out("help('||')"), " a || b\n Logical or.\n");
    EXPECT_EQ(out("disp(7)"), "     7\n");
  }
}

// A library file that does not load (a function keyword without a name):
// its use fails with that error, and it changes no help but its own
// functions': operators and intrinsics keep the help files' entries, or the
// apology where they have none, and other code runs.
TEST_F(Help, ALibraryThatDoesNotLoadLeavesHelpAlone) {
  store.library("nonamelib", "function y = fine(x)\n  y = x;\nendfunction\n\nfunction\n");
  EXPECT_EQ(s.run("use nonamelib\n"), kMissingFunctionName);
  frame_unwind(c, 0);
  EXPECT_EQ(s.take_output(), "\"function\" keyword without function name (5)\n");
  for (int k = 0; k < 2; ++k) {
    EXPECT_EQ(out("help('||')"), " a || b\n Logical or.\n");
    EXPECT_EQ(out("help('+')"), "Sorry, no help about +\n");
    EXPECT_EQ(out("help sin"), " sin(x)\n Sine of x.\n");
    EXPECT_EQ(out("help dbl"), " dbl(a)\n Doubles A.\n");
    EXPECT_EQ(out("help fine"), "Sorry, no help about fine\n");
    EXPECT_EQ(out("disp(7)"), "     7\n");
  }
}

// A library function that compiles but names functions its library's text
// cannot give (the text was edited after use: a nameless function keyword
// follows): calling it reports the library's fault, and the names it left
// to be compiled are not compiled for the command lines that follow, which
// name none of them. Help of intrinsics and operators comes from the help
// files, other calls run, and naming one of the names reports the fault.
TEST_F(Help, NamesLeftByAFunctionOfADamagedLibraryLeaveHelpAlone) {
  store.library("editedlib", "function y = ed(x)\n  y = x;\nendfunction\n");
  ASSERT_EQ(s.run("use editedlib\n"), kOk) << s.take_output();
  store.library("editedlib", "function ed\na\nb\nc\nd\ne\nfunction\n");
  const std::string fault = "\"function\" keyword without function name (7)\n";
  EXPECT_EQ(s.run("ed\n"), kMissingFunctionName);
  frame_unwind(c, 0);
  EXPECT_EQ(s.take_output(), fault);
  for (int k = 0; k < 2; ++k) {
    EXPECT_EQ(out("help sin"), " sin(x)\n Sine of x.\n");
    EXPECT_EQ(out("help('+')"), "Sorry, no help about +\n");
    EXPECT_EQ(out("help('||')"), " a || b\n Logical or.\n");
    EXPECT_EQ(out("help dbl"), " dbl(a)\n Doubles A.\n");
    EXPECT_EQ(out("disp(7)"), "     7\n");
  }
  for (const char* name : {"c\n", "e\n"}) {
    EXPECT_EQ(s.run(name), kMissingFunctionName) << name;
    frame_unwind(c, 0);
    EXPECT_EQ(s.take_output(), fault) << name;
  }
  EXPECT_TRUE(s.clean());
}

// The rows under the failure sweep: every output count they allow.
TEST_F(Help, RowsUnderTheSweep) {
  ASSERT_EQ(s.run("global gsw_; gsw_ = 1; tsw_ = threadnew(@() 1);"), kOk) << s.take_output();
  std::vector<RowCall> calls = {
      {"help", bi_help, 0, {}, 1},          {"help", bi_help, 0, {"'sin'"}, 1},
      {"help", bi_help, 0, {"'dbl'"}, 1},   {"help", bi_help, 0, {"'zz'"}, 1},
      {"help", bi_help, 0, {"'sin'"}, 0},   {"lookfor", bi_lookfor, 0, {"'sine'"}, 0},
      {"inmem", bi_info, kInmemData, {}, 1}, {"inmem", bi_info, kInmemData, {}, 0},
      {"info", bi_info, kInfoData, {}, 1},
  };
  for (const char* kind : {"'v'", "'f'", "'m'", "'l'", "'g'", "'p'", "'u'", "'b'", "'o'", "'t'", "'variables'"}) {
    calls.push_back({"info", bi_info, kInfoData, {kind}, 1});
    calls.push_back({"info", bi_info, kInfoData, {kind}, 0});
  }
  for (const RowCall& rc : calls) sweep_room(s, rc);
  const RowCall errors[] = {
      {"help", bi_help, 0, {"3"}, 1, kWrongType},
      {"lookfor", bi_lookfor, 0, {"{1}"}, 0, kAnyError},
      {"info", bi_info, kInfoData, {"'q'"}, 1, kUnknownOption},
      {"info", bi_info, kInfoData, {"''"}, 0, kUnknownOption},
      {"info", bi_info, kInfoData, {"5"}, 1, kAnyError},
  };
  for (const RowCall& rc : errors) expect_error_leaves_stacks(s, rc);
  s.take_output();
}

}  // namespace
