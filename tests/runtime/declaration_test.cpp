// The generated declaration function byte for byte (no variables, one, two,
// and a tag-9 record's inputs), its definition, and the "+readlib" hook that
// serves an instance's libraries from its tag-43 records (and no help files).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/core/calls.h"
#include "engine/core/fntable.h"
#include "engine/core/frames.h"
#include "engine/core/interp.h"
#include "engine/core/libraries.h"
#include "engine/core/newline.h"
#include "engine/core/status.h"
#include "engine/core/streams.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "engine/lib/builtin_tables.h"
#include "runtime/app_fixture.h"
#include "runtime/declaration.h"
#include "runtime/fake_host.h"
#include "runtime/instances.h"
#include "runtime/layout.h"
#include "runtime/library_source.h"
#include "runtime/name_table.h"
#include "runtime/record_list.h"
#include "runtime/runtime_status.h"
#include "tools/imagetools/image_builder.h"

namespace {

using tnbuild::Builder;

constexpr uint32_t kBytes = 4u << 20;
constexpr char kSettings[] =
    "_plots='';_plotprops=[];_plot3d=[];_plotpos=[];_plotsize=[];_plotspring=[];_plotparam={};_title=[];"
    "_version=[];_help=[]; ";
constexpr char kOutputs[] =
    "_plots,_plotprops,_plot3d,_plotpos,_plotsize,_plotspring,_plotparam,_title,_version,_help)=f; ";

struct Declared : ::testing::Test {
  FakeHost host;
  RuntimeBlock* b = nullptr;
  void build(const std::string& description, std::map<std::string, std::string> sources = {}) {
    SCOPED_TRACE(description);
    ASSERT_EQ(host.start(kBytes, kBytes), 0);
    ASSERT_EQ(rt_register_library(host.block, g_builtin_table_host), 0);
    Builder builder(host.block, std::move(sources));
    ASSERT_TRUE(builder.build(description)) << builder.error;
    b = host.block;
  }
  std::string source(int32_t id, const std::string& text) {
    std::string s;
    const int status = tn_init_build_source(b, id, text.data(), int32_t(text.size()), &s);
    return status == 0 ? s : "error " + std::to_string(status);
  }
};

TEST_F(Declared, SourceForNoneOneAndTwoVariables) {
  ASSERT_NO_FATAL_FAILURE(build("instance none\ninstance one\nvar x\ninstance two\nvar x2\nvar y\n"));
  EXPECT_EQ(source(0, "a = 1;"), std::string("function f; ") + kSettings + "a = 1;");
  EXPECT_EQ(source(1, "x = 2;\n"), std::string("function (x,") + kOutputs + "x='_undef'; " + kSettings + "x = 2;\n");
  EXPECT_EQ(source(2, ""), std::string("function (x2,y,") + kOutputs + "x2='_undef'; y='_undef'; " + kSettings);
  // A variable whose name the name table has lost.
  NameTable* names = rt_name_table(b);
  for (int32_t k = 0; k < names->count; ++k)
    if (std::string(name_entries(names)[k].name) == "y") name_entries(names)[k].code = -12345;
  EXPECT_EQ(source(2, ""), "error " + std::to_string(kRtVarNotFound));
  EXPECT_EQ(source(7, ""), "error " + std::to_string(kRtNonexistentInstance));
}

TEST_F(Declared, SourceForATag9RecordListsItsInputsLastFirst) {
  ASSERT_NO_FATAL_FAILURE(build("instance decl\nvar a\nvar b\n"));
  // Append {9, length, function code, 2 inputs, 0 outputs, a, b} to the run.
  int32_t* words = rt_record_words(b);
  const int32_t at = b->h.record_words;
  const int32_t record[] = {kTagDeclared, 7, tnbuild::kFirstFunctionCode, 2, 0, tnbuild::kFirstVariableCode,
                            tnbuild::kFirstVariableCode + 1};
  std::memcpy(words + at, record, sizeof record);
  b->h.record_words = at + 7;
  EXPECT_EQ(source(0, "a=1;"), "function (b,a)=f; a='_undef'; b='_undef'; a=1;");
}

TEST_F(Declared, DefinedUnderItsNameAndDefinedAgainOnceItsCodeIsRemoved) {
  ASSERT_NO_FATAL_FAILURE(build("instance one\nvar x\n"));
  EngineContext* c = rt_engine(b);
  const std::string text = "x = 3;";
  ASSERT_EQ(tn_init_source(b, 0, 0, kDeclarationFunction, text.data(), int32_t(text.size())), 0);
  int32_t id = -1;
  ASSERT_EQ(fn_find_user_simple(c, kDeclarationFunction, -1, 0, &id), 0);
  ASSERT_GT(id, 0);
  // Eleven results: x on top, then the ten settings.
  const int32_t base = c->desc_top;
  ASSERT_EQ(interp_call(c, kDeclarationFunction, 0, 0, 11, 0, 0), 0);
  ASSERT_EQ(c->desc_top, base + 11 * 3);
  double x = 0;
  EXPECT_EQ(stk_get_real_scalar(c, 0, &x), 0);
  EXPECT_EQ(x, 3.0);
  while (c->desc_top > base) stk_drop(c);
  ASSERT_EQ(fn_code_remove(c, id), 0);
  EXPECT_EQ(tn_init_source(b, 0, 0, kDeclarationFunction, text.data(), int32_t(text.size())), 0);
}

constexpr char kLibrary[] = "function y = demo_twice(v)\n  y = 2 * v;\n";

TEST_F(Declared, ReadlibServesTheInstanceLibraryByItsExactName) {
  ASSERT_NO_FATAL_FAILURE(build("instance demo\ninstance other\n", {{"demo", kLibrary}, {"other", "function z = o()\n z = 1;\n"}}));
  EngineContext* c = rt_engine(b);
  char buf[256];
  struct Case { const char* name; uint32_t mode; int32_t capacity; int status; };
  const Case cases[] = {
      {"_TN_demo", kSourceModeLibrary, 256, 0},
      {"_tn_demo", kSourceModeLibrary, 256, kFileNotFound},
      {"_TN_Demo", kSourceModeLibrary, 256, kFileNotFound},
      {"_TN_", kSourceModeLibrary, 256, kFileNotFound},
      {"_TN_nobody", kSourceModeLibrary, 256, kFileNotFound},
      {"demo", kSourceModeLibrary, 256, kFileNotFound},
      {"_TN_demo", kSourceModeFunction, 256, kFileNotFound},
      {"_TN_demo", kSourceModeLibrary, int32_t(sizeof kLibrary - 2), kStackOverflow},  // never cut
  };
  for (const Case& k : cases) {
    int32_t n = -1, line = -1;
    uint8_t found = 9;
    EXPECT_EQ(bi_tn_readlib(c, k.name, "zvl", k.mode, buf, k.capacity, &n, &line, &found, 0), k.status) << k.name;
    if (k.status == 0) {
      EXPECT_EQ(std::string(buf, size_t(n)), kLibrary);
      EXPECT_EQ(found, 0);
    }
  }
  int32_t n = 0, line = 0;
  uint8_t found = 0;
  ASSERT_EQ(bi_tn_readlib(c, "_TN_other", "zvl", kSourceModeLibrary, buf, 256, &n, &line, &found, 0), 0);
  EXPECT_EQ(std::string(buf, size_t(n)), "function z = o()\n z = 1;\n");
}

// The hook serves library sources only: asked for a library's help file
// (another extension) it passes the request on, so that lookfor, which reads
// every library's source and then its help file, does not take the code for
// help entries ("function", "y", "=" ... as names with a summary line).
std::string g_fd4;
int fd4_write(EngineContext*, int32_t fd, const char* bytes, int32_t length, uintptr_t) {
  if (fd != kFdLookfor) return kNotMyDescriptor;
  g_fd4.append(bytes, size_t(length));
  return kOk;
}

TEST_F(Declared, ReadlibServesSourcesNotHelpFiles) {
  constexpr char kHelped[] = "function y = demo_twice(v)\n% demo_twice(v)\n% Twice v.\n  y = 2 * v;\nendfunction\n";
  ASSERT_NO_FATAL_FAILURE(build("instance demo\n", {{"demo", kHelped}}));
  EngineContext* c = rt_engine(b);
  char buf[256];
  int32_t n = 0, line = 0;
  uint8_t found = 0;
  for (const char* ext : {"hlp", "zv", "zvlx", ""})
    EXPECT_EQ(bi_tn_readlib(c, "_TN_demo", ext, kSourceModeLibrary, buf, 256, &n, &line, &found, 0), kFileNotFound)
        << ext;
  for (const char* ext : {"zvl", static_cast<const char*>(nullptr)})
    EXPECT_EQ(bi_tn_readlib(c, "_TN_demo", ext, kSourceModeLibrary, buf, 256, &n, &line, &found, 0), 0);

  static BuiltinEntry rows[2];
  rows[0] = stream_hook_row(kHookWrite, static_cast<StreamWriteHook>(fd4_write), kNewlineLF);
  rows[1] = builtin_end_row();
  ASSERT_EQ(engine_register_builtin_table(c, rows, 0), 0);
  g_fd4.clear();
  const std::string text = "lookfor('')\n";
  int status = exec_command_line(c, text.data(), int32_t(text.size()), 0);
  if (status == kSliceEnded) status = interp_run(c, 0);
  ASSERT_EQ(status, 0) << host.take_output();
  EXPECT_NE(g_fd4.find("##[[help:_TN_demo::demo_twice|_TN_demo::demo_twice]]##  Twice v."), std::string::npos) << g_fd4;
  for (const char* code : {"[[help:function|", "[[help:y|", "[[help:=|", "[[help:endfunction|"})
    EXPECT_EQ(g_fd4.find(code), std::string::npos) << code << " in " << g_fd4;
}

TEST_F(Declared, ALibraryFunctionWhoseCodeWasRemovedCompilesAgain) {
  ASSERT_NO_FATAL_FAILURE(build("instance demo\n", {{"demo", kLibrary}}));
  EngineContext* c = rt_engine(b);
  const int32_t slot = rec_instance_slot(b, 0);
  int32_t id = -1;
  ASSERT_EQ(fn_find_user_simple(c, "demo_twice", -1, slot, &id), 0);
  ASSERT_GT(id, 0);
  ASSERT_EQ(fn_code_remove(c, id), 0);
  ASSERT_EQ(stk_push_real(c, 21), 0);
  ASSERT_EQ(interp_call(c, "demo_twice", slot, 1, 1, 0, 0), 0) << host.take_output();
  double y = 0;
  ASSERT_EQ(stk_pop_real_scalar(c, &y), 0);
  EXPECT_EQ(y, 42.0);
}

}  // namespace

namespace {

const char kFigures[] =
    "instance demo\n"
    "title \"Demo\"\n"
    "var x\n"
    "var y\n"
    "figure \"First\"\n"
    "figure \"Second\"\n"
    "instance bare\n"
    "title \"Bare\"\n";

// The stored value of a field as text for comparison, or "none".
std::string stored(RuntimeBlock* b, int32_t id, int32_t code) {
  int32_t units = 0;
  void* data = nullptr;
  if (undo_store_get_value(rt_value_store(b), id, 0, code, &units, &data) != 0 || !data) return "none";
  EngineContext* c = rt_engine(b);
  if (stk_push_descriptor(c, static_cast<const double*>(data)) != 0) return "push failed";
  double v = 0;
  std::string s = stk_get_real_scalar(c, 0, &v) == 0 ? std::to_string(int(v)) : "other";
  stk_drop(c);
  return s;
}

std::string title(RuntimeBlock* b, int32_t id) {
  const char* text = nullptr;
  int32_t n = 0;
  char buf[64];
  return inst_get_title(b, id, &text, &n, buf, sizeof buf) == 0 ? std::string(text, size_t(n)) : "none";
}

TEST_F(Declared, ResetsStoreVariablesAndHandTheSettingsOver) {
  ASSERT_NO_FATAL_FAILURE(build(kFigures));
  EngineContext* c = rt_engine(b);
  const int32_t base = c->desc_top;
  const int32_t x = tnbuild::kFirstVariableCode, y = x + 1;
  const std::string first = "x = 5; y = 6; _title = 'Declared'; _plots = sprintf('First\\tSecond\\nFirst');";
  ASSERT_EQ(tn_init_compile(&host.block, 0, first.data(), int32_t(first.size())), 0) << host.take_output();
  b = host.block;
  EXPECT_EQ(stored(b, 0, x), "5");
  EXPECT_EQ(stored(b, 0, y), "6");
  EXPECT_EQ(title(b, 0), "Declared");
  const InstanceRec* rec = inst_find_by_id(b, 0);
  EXPECT_EQ(rec->rows, 2);
  EXPECT_EQ(rec->cols, 2);
  EXPECT_EQ(rec->subplots[3].handlerWords[kSubplotFigureWord], kEmptyFigure);
  EXPECT_EQ(c->desc_top, base);
  EXPECT_EQ(b->h.user.instance_id, 0);
  // A second reset runs too; a variable left at '_undef' keeps its value,
  // and settings left at their defaults change nothing.
  const std::string second = "y = 7;";
  ASSERT_EQ(tn_init_compile(&host.block, 0, second.data(), int32_t(second.size())), 0) << host.take_output();
  EXPECT_EQ(stored(b, 0, x), "5");
  EXPECT_EQ(stored(b, 0, y), "7");
  EXPECT_EQ(title(b, 0), "Declared");
  EXPECT_EQ(rec->rows, 2);
  // Without declared variables the settings are not handed over.
  const std::string bare = "_title = 'Ignored';";
  ASSERT_EQ(tn_init_compile(&host.block, 1, bare.data(), int32_t(bare.size())), 0);
  EXPECT_EQ(title(b, 1), "Bare");
}

TEST_F(Declared, AFailingDeclarationReportsAndLeavesNothingBehind) {
  ASSERT_NO_FATAL_FAILURE(build(kFigures));
  EngineContext* c = rt_engine(b);
  const int32_t base = c->desc_top;
  struct Case { const char* text; int status; };
  const Case cases[] = {{"x = undefined_thing;", kUndefinedFunction},
                        {"_plotsize = [0 1];", kBadArgument},
                        {"_title = 3;", kWrongArgType}};
  for (const Case& k : cases) {
    EXPECT_EQ(tn_init_compile(&host.block, 0, k.text, int32_t(std::strlen(k.text))), k.status) << k.text;
    EXPECT_EQ(c->desc_top, base) << k.text;
    EXPECT_EQ(b->h.user.instance_id, 0);
    host.take_output();
  }
  // Each failure removed the function's code: the next reset defines it again.
  const char ok[] = "x = 1;";
  EXPECT_EQ(tn_init_compile(&host.block, 0, ok, int32_t(sizeof ok - 1)), 0);
  EXPECT_EQ(stored(b, 0, tnbuild::kFirstVariableCode), "1");
  // A name that is not defined has nothing to run.
  EXPECT_EQ(tn_init_run(&host.block, 0, "_never_defined", true), 0);
}

}  // namespace

namespace {

TEST_F(Declared, EveryResetRunsTheDeclarationOfTheImage) {
  ASSERT_NO_FATAL_FAILURE(build("instance demo\ntitle \"Demo\"\nvar x\nfigure \"First\"\n"
                                "declare \"x = 4; _title = 'Declared';\"\n"));
  for (int reset = 0; reset < 2; ++reset) {
    ASSERT_EQ(inst_reset(&host.block, 0), 0) << reset << host.take_output();
    b = host.block;
    EXPECT_EQ(stored(b, 0, tnbuild::kFirstVariableCode), "4") << reset;
    EXPECT_EQ(title(b, 0), "Declared") << reset;
    EXPECT_EQ(inst_find_by_id(b, 0)->initialised, 1);
  }
}

}  // namespace

namespace {

// A library function whose source is larger than the free descriptor space
// is read again after the stack grew, not cut: the handler that calls it
// runs once, after the growth.
using LibraryApp = apptest::App;
using apptest::g_probe;

TEST_F(LibraryApp, AnInstanceLibraryLargerThanTheFreeDescriptorSpaceCompilesAfterGrowth) {
  constexpr uint32_t kBlock = 1u << 20;
  ASSERT_EQ(host.start(kBlock, 64u << 20), 0);
  ASSERT_EQ(rt_register_library(host.block, g_builtin_table_host), 0);
  ASSERT_EQ(rt_register_library(host.block, apptest::g_test_rows), 0);
  const EngineContext* probe = rt_engine(host.block);
  const int64_t free_bytes = int64_t(probe->desc_capacity - probe->desc_top) * int64_t(sizeof(uint32_t));
  std::string source = "function b = big()\n tn_count;\n b = 42;\nendfunction\n";
  while (int64_t(source.size()) <= free_bytes + 1024) source += "% padding that the reader must not cut\n";
  // The record list, not the engine, takes the growth that holds the source.
  while (int64_t(host.block->h.area_size[kAreaRecords]) < 2 * int64_t(source.size()))
    ASSERT_TRUE(rt_memory_expand(&host.block, kRtNotEnoughMemForTNFile));
  tnbuild::Builder builder(host.block, {{"demo", source}});
  ASSERT_TRUE(builder.build("instance demo\nvar b\nresize b = big()\n")) << builder.error;
  host.take_output();
  EngineContext* e = c();
  int32_t id = -1;
  ASSERT_EQ(fn_find_user_simple(e, "big", -1, rec_instance_slot(host.block, 0), &id), 0);
  ASSERT_EQ(fn_code_remove(e, id), 0);
  ASSERT_LT(int64_t(e->desc_capacity - e->desc_top) * int64_t(sizeof(uint32_t)), int64_t(source.size()));
  g_probe.counted = 0;
  ASSERT_EQ(handler_call_plain(h(), 0, record(kTagResize), -1, false), 0) << host.take_output();
  EXPECT_EQ(g_probe.counted, 1);
  EXPECT_EQ(value("b"), 42);
  e = c();
  EXPECT_GE(int64_t(e->desc_capacity) * int64_t(sizeof(uint32_t)), int64_t(source.size()));
}

}  // namespace

namespace {

// The layout a user first sees is the one Reset Data gives. The builder
// saves an image laid out against the reset frame and the window then lays
// it out in its rectangle; Reset Data runs the declaration in that
// rectangle. Free layouts declared with and without a design size, springs
// at their defaults, rigid and mixed, in two windows, and the resize after.
constexpr double kStep = 8.0;  // the grid step without a driver, as the screen's
const double kDeclaredPos[2][4] = {{2, 12, 2, 12}, {14, 30, 2, 12}};

struct StartLayout {
  FakeHost host;
  bool build(const std::string& declaration) {
    if (host.start(2u << 20, 64u << 20) != 0 || rt_register_library(host.block, g_builtin_table_host) != 0)
      return false;
    tnbuild::Builder builder(host.block, {{"demo", ""}});
    const bool built = builder.build("instance demo\nvar x\nfigure \"A\"\nfigure \"B\"\ndeclare \"" + declaration +
                                     "\"\n");
    EXPECT_TRUE(built) << builder.error;
    return built;
  }
  void lay_out(double w, double h) { ASSERT_EQ(figure_layout_subplots(&host.block, 0, 0, w, 0, h), 0); }
  std::vector<double> frames() {
    const InstanceRec* rec = inst_find_by_id(host.block, 0);
    std::vector<double> out;
    for (int32_t k = 0; k < rec->rows * rec->cols; ++k) {
      const Subplot& s = rec->subplots[k];
      out.insert(out.end(), {s.rectLeft, s.rectRight, s.rectTop, s.rectBottom});
    }
    return out;
  }
};

std::string joined(const std::vector<double>& v) {
  std::string s;
  for (double x : v) s += (s.empty() ? "" : " ") + std::to_string(x);
  return s;
}

// Within `tolerance`; 0 asks for the same doubles, as the same picture needs
// (a tick label half a pixel off rounds to the next row).
void expect_same(const std::vector<double>& got, const std::vector<double>& want, const std::string& what,
                 double tolerance = 0) {
  ASSERT_EQ(got.size(), want.size()) << what;
  for (size_t k = 0; k < want.size(); ++k)
    EXPECT_NEAR(got[k], want[k], tolerance) << what << ": " << joined(got) << " against " << joined(want);
}

TEST(StartLayoutTest, TheFirstLayoutIsTheOneResetDataGives) {
  const std::string pos = "_plots = sprintf('A\\tB'); _plotpos = [2 12 2 12; 14 30 2 12]; ";
  const std::string rigid = "_plotspring = [0.5 0.5 0.5 0.5 0.5 0.5; 1 1 0 1 1 0];";
  struct Case {
    std::string declaration;
    double design_w, design_h;  // grid steps; 0 without a design size
  };
  const Case cases[] = {{pos, 0, 0},
                        {pos + rigid, 0, 0},
                        {pos + "_plotsize = [80 50]; " + rigid, 80, 50},
                        {pos + "_plotsize = [40 30]; _plotspring = [1 1 0 1 1 0; 0 0.5 1 0 0.5 1];", 40, 30}};
  const double windows[][2] = {{640, 400}, {1000, 720}, {800, 531}};
  for (const Case& c : cases)
    for (const auto& window : windows) {
      const double w = window[0], h = window[1];
      const std::string what = c.declaration + " in " + std::to_string(int(w)) + " x " + std::to_string(int(h));
      StartLayout app;
      ASSERT_TRUE(app.build(c.declaration)) << what;
      ASSERT_NO_FATAL_FAILURE(app.lay_out(w, h));
      const std::vector<double> start = app.frames();
      // Where the declaration puts the cells: its grid steps, scaled from the
      // design size to the window when it has one.
      const double sx = c.design_w > 0 ? w / (c.design_w * kStep) : 1.0;
      const double sy = c.design_h > 0 ? h / (c.design_h * kStep) : 1.0;
      std::vector<double> model;
      for (const auto& p : kDeclaredPos)
        model.insert(model.end(), {p[0] * kStep * sx, p[1] * kStep * sx, p[2] * kStep * sy, p[3] * kStep * sy});
      expect_same(start, model, what + ", at start", 1e-9);
      ASSERT_NO_FATAL_FAILURE(app.lay_out(w + 200, h + 100));
      const std::vector<double> resized = app.frames();
      // Reset Data in the first window, then the same resize.
      ASSERT_NO_FATAL_FAILURE(app.lay_out(w, h));
      ASSERT_EQ(inst_reset(&app.host.block, 0), 0) << what << app.host.take_output();
      ASSERT_NO_FATAL_FAILURE(app.lay_out(w, h));
      expect_same(app.frames(), start, what + ", after Reset Data");
      ASSERT_NO_FATAL_FAILURE(app.lay_out(w + 200, h + 100));
      expect_same(app.frames(), resized, what + ", resized after Reset Data");
    }
}

}  // namespace
