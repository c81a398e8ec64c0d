// The image tools end to end: tnbuild writes the flat stream, tnpack the
// same application behind a copy of a program that still runs; both load
// into a fresh block, equal to what the builder makes in process.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/core/fntable.h"
#include "host/appended/appended_reader.h"
#include "engine/core/value_stack.h"
#include "runtime/fake_host.h"
#include "runtime/handler_call.h"
#include "runtime/host_clock.h"
#include "runtime/name_table.h"
#include "runtime/instances.h"
#include "runtime/record_list.h"
#include "support/image_feed.h"
#include "tools/imagetools/application_build.h"
#include "tools/imagetools/image_packer.h"

namespace {

using namespace tnbuild;

constexpr uint32_t kBlockBytes = 4u << 20;

int run(const std::string& command) { return std::system((command + " 2>/dev/null").c_str()); }

void start(FakeHost* h) {
  ASSERT_EQ(h->start(kBlockBytes, 4 * kBlockBytes), 0);
  ASSERT_EQ(rt_register_library(h->block, g_builtin_table_host), 0);
}

void expect_demo_loaded(RuntimeBlock* b) {
  ASSERT_EQ(b->h.instance_count, 1);
  const char* text = nullptr;
  int32_t length = 0;
  char buffer[64];
  ASSERT_EQ(inst_get_title(b, 0, &text, &length, buffer, sizeof buffer), 0);
  EXPECT_EQ(std::string(text, size_t(length)), "Demo");
  int32_t pos = 0;
  EXPECT_EQ(rec_find_tag(b, 0, &pos, kTagMouseDrag), 0);
}

TEST(ImageTools, TnbuildAndTnpackRoundTrip) {
  const std::string scratch = TOOLS_SCRATCH;
  const std::string image = scratch + "/demo.img", packed = scratch + "/demo_packed", flat_out = scratch + "/demo.flat";
  ASSERT_EQ(run(std::string(TNBUILD_PATH) + " " + DEMO_DESCRIPTION + " " + image), 0);
  ASSERT_EQ(run(std::string(TNPACK_PATH) + " " + DEMO_DESCRIPTION + " " + TEST_PROGRAM_PATH + " " + packed), 0);
  ASSERT_EQ(run(std::string(TNPACK_PATH) + " --flat " + DEMO_DESCRIPTION + " " + flat_out), 0);
  // The packed program still runs as itself.
  EXPECT_EQ(run(packed + " -e \"x = 1 + 1;\""), 0);

  Sections in_process;
  std::string description, error;
  ASSERT_TRUE(build_application(DEMO_DESCRIPTION, &in_process, &description, &error)) << error;
  const std::vector<uint8_t> stream = read_file(image);
  EXPECT_EQ(stream, flat(in_process));
  EXPECT_EQ(read_file(flat_out), stream);

  FakeHost from_flat;
  start(&from_flat);
  FlatFeed feed{&stream, stream.size()};
  ASSERT_EQ(rt_load_image(&from_flat.block, &FlatFeed::read, &feed), 0);
  EXPECT_EQ(feed.at, stream.size());
  expect_demo_loaded(from_flat.block);

  AppendedStream s{};
  AppendedDescription d{};
  ASSERT_TRUE(appended_open(packed.c_str(), &s, &d));
  EXPECT_EQ(std::string(d.text, d.length), description);
  // The description is what the About box shows: the title and the version text.
  EXPECT_EQ(description, "Demo\n1.0");
  FakeHost from_packed;
  start(&from_packed);
  EXPECT_EQ(rt_load_image(&from_packed.block, &appended_chunk_read, &s), 0);
  appended_close(&s);
  appended_description_free(&d);
  expect_demo_loaded(from_packed.block);
  EXPECT_EQ(from_packed.block->h.record_words, from_flat.block->h.record_words);
}

// The bundled demo built in a large block (its function table then larger
// than a 512 KB block's whole code area) loads into a 512 KB block that may
// grow: the engine asks for a larger code area and the loader grows the block,
// where it used to refuse the image with 600.
TEST(ImageTools, DemoFromALargeBlockLoadsIntoASmallBlockThatGrows) {
  const std::string tnd = APPS_DEMO_DESCRIPTION;
  const std::vector<uint8_t> description = read_file(tnd);
  const std::vector<uint8_t> source = read_file(tnd.substr(0, tnd.size() - 3) + "zvr");
  ASSERT_FALSE(description.empty());
  ASSERT_FALSE(source.empty());
  FakeHost writer;
  ASSERT_EQ(writer.start(32u << 20, 32u << 20), 0);
  ASSERT_EQ(rt_register_library(writer.block, g_builtin_table_host), 0);
  Builder builder(writer.block, {{"demo", std::string(source.begin(), source.end())}});
  ASSERT_TRUE(builder.build(std::string(description.begin(), description.end()))) << builder.error;
  const Sections saved = builder.sections();

  FakeHost small;
  ASSERT_EQ(small.start(512u << 10, 64u << 20), 0);
  ASSERT_EQ(rt_register_library(small.block, g_builtin_table_host), 0);
  ASSERT_GT(int64_t(rt_engine(writer.block)->fn_capacity) * kEntryCodeWords,
            int64_t(rt_engine(small.block)->code_size));
  RequestFeed feed{&saved, 0};
  ASSERT_EQ(rt_load_image(&small.block, &RequestFeed::read, &feed), 0);
  EXPECT_GT(small.moves, 0);
  ASSERT_EQ(small.block->h.instance_count, 1);
  const char* text = nullptr;
  int32_t length = 0;
  char buffer[64];
  ASSERT_EQ(inst_get_title(small.block, 0, &text, &length, buffer, sizeof buffer), 0);
  EXPECT_EQ(std::string(text, size_t(length)), "Tarnivel Demo");
}

TEST(ImageTools, BadInputIsRefusedWithAStatus) {
  const std::string scratch = TOOLS_SCRATCH;
  EXPECT_EQ(run(std::string(TNBUILD_PATH)), 2 << 8);
  EXPECT_NE(run(std::string(TNBUILD_PATH) + " " + scratch + "/missing.tnd " + scratch + "/x.img"), 0);
  const std::string bad = scratch + "/bad.tnd";
  ASSERT_TRUE(write_file(bad, std::vector<uint8_t>{'b', 'o', 'g', 'u', 's', '\n'}));
  EXPECT_NE(run(std::string(TNPACK_PATH) + " --flat " + bad + " " + scratch + "/x.img"), 0);
}

// What a tool writes on standard error, and its exit status.
std::string run_capturing(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return out;
  char buffer[512];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  *status = pclose(pipe);
  return out;
}

// An author's mistakes, each answered with the line of the description or
// of the source and what is wrong there, once (no retry in a larger block).
TEST(ImageTools, MessagesNameTheLineAndWhatIsWrong) {
  const std::string dir = std::string(TOOLS_SCRATCH) + "/messages";
  ASSERT_EQ(std::system(("mkdir -p " + dir).c_str()), 0);
  const std::string tnd = dir + "/app.tnd", zvr = dir + "/demo.zvr";
  const std::string start = "function a = start()\n a = 1;\nendfunction\nfunction draw(a)\nendfunction\n";
  const std::string head = "instance demo\nvar a\n";
  struct Case {
    std::string description, source;  // no source: no demo.zvr
    std::string message;              // after "tnpack: "
  };
  const Case cases[] = {
      {head + "figure \"F\"\nplot draw(3)\n", start,
       tnd + ":4: '3' of draw is a value: a handler passes variables (declared with var) or special variables "
             "(such as _x), never values; compute the value in the function\n    plot draw(3)\n"},
      {head + "figure \"F\"\nplot draw('a')\n", start,
       tnd + ":4: ''a'' of draw is a value: a handler passes variables (declared with var) or special variables "
             "(such as _x), never values; compute the value in the function\n    plot draw('a')\n"},
      {head + "figure \"F\"\nplot draw(b)\n", start,
       tnd + ":4: 'b' of draw is not declared: add `var b` to the instance before this line\n    plot draw(b)\n"},
      {head + "init b = start()\n", start,
       tnd + ":3: 'b' of start is not declared: add `var b` to the instance before this line\n"
             "    init b = start()\n"},
      {head + "press -1 draw(_nosuch)\n", start,
       tnd + ":3: '_nosuch' of draw is no special variable\n    press -1 draw(_nosuch)\n"},
      {head + "press -1 a = draw(a)\n", start,
       tnd + ":3: 'draw' gives at most 0 output(s); the handler takes 1\n    press -1 a = draw(a)\n"},
      {head + "init a = start()\n", "",
       tnd + ":3: 'start' is not a built-in function, and demo.zvr, the source of the instance's functions, "
             "was not found beside the description\n    init a = start()\n"},
      {head + "init a = strat()\n", start,
       tnd + ":3: 'strat' is neither a function of demo.zvr nor a built-in function\n    init a = strat()\n"},
      {head + "init a = start(a)\n", start,
       tnd + ":3: 'start' takes at most 0 input(s); the handler passes 1\n    init a = start(a)\n"},
      {head + "figur \"F\"\n", start, tnd + ":3: unknown record 'figur'\n    figur \"F\"\n"},
      {"var a\n", start, tnd + ":1: 'var' comes before the first instance line\n    var a\n"},
      {head + "title Demo\n", start, tnd + ":3: 'title' takes a text in double quotes\n    title Demo\n"},
      {head + "drag a = draw(a)\n", start,
       tnd + ":3: 'drag' takes an element id (-1: any element) before its handler\n    drag a = draw(a)\n"},
      {head + "init a = start\n", start,
       tnd + ":3: expected a handler: [outputs =] function(inputs)\n    init a = start\n"},
      {head + "init a = start()\n", "\nfunction a = start()\n a = helper(2);\nendfunction\n",
       zvr + ":3: Can't find function definition 'helper': 'helper' is used here, but it is no variable given a "
             "value before, no function of " + zvr + " and no built-in function\n"},
      {head + "init a = start()\n", "function a = start(\n a = 1;\nendfunction\n",
       zvr + ":1: Bad function header\n"},
      // A handler reaches only its own instance's variables.
      {"instance one\nvar a\ninstance two\nvar b\nderived b = abs(a)\n", "",
       tnd + ":5: 'a' of abs is a variable of instance one: a handler of instance two passes only the variables "
             "declared with var in instance two\n    derived b = abs(a)\n"},
      {"instance one\nvar a\ninstance two\nvar b\ninit a = abs(b)\n", "",
       tnd + ":5: 'a' of abs is a variable of instance one: a handler of instance two passes only the variables "
             "declared with var in instance two\n    init a = abs(b)\n"},
      {"instance one\nvar a\ninstance two\nvar b\nchange a b = abs(b)\n", "",
       tnd + ":5: the watched 'a' is a variable of instance one: a handler of instance two passes only the "
             "variables declared with var in instance two\n    change a b = abs(b)\n"},
      // A name that the name table would cut: a legal ZVR name of up to 32
      // characters, but no record holds more than 28 of it.
      {head + "figure \"F\"\nplot nm_plot_handler_long_name_abcdef(a)\n",
       start + "function nm_plot_handler_long_name_abcdef(a)\nendfunction\n",
       tnd + ":4: the function name 'nm_plot_handler_long_name_abcdef' is 32 characters long; the application's "
             "name table holds names of at most 28 characters\n    plot nm_plot_handler_long_name_abcdef(a)\n"},
      {head + "var shared_first_twenty_eight_char_a\nvar shared_first_twenty_eight_char_b\n", start,
       tnd + ":3: the variable name 'shared_first_twenty_eight_char_a' is 32 characters long; the application's "
             "name table holds names of at most 28 characters\n    var shared_first_twenty_eight_char_a\n"},
      {head + "var a\n", start, tnd + ":3: 'a' is declared twice in instance demo\n    var a\n"},
      {head + "var _x\n", start,
       tnd + ":3: '_x' is a special variable: var declares the instance's own variables\n    var _x\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description);
    ASSERT_TRUE(write_file(tnd, std::vector<uint8_t>(c.description.begin(), c.description.end())));
    std::remove(zvr.c_str());
    if (!c.source.empty()) ASSERT_TRUE(write_file(zvr, std::vector<uint8_t>(c.source.begin(), c.source.end())));
    int status = 0;
    EXPECT_EQ(run_capturing(std::string(TNPACK_PATH) + " --flat " + tnd + " " + dir + "/out.img", &status),
              "tnpack: " + c.message);
    EXPECT_NE(status, 0);
  }
  // An error of a handler at the reset names the function and the source
  // line; the engine's report comes once.
  const std::string failing = "function a = start()\n a = 1;\n a = zeros(2) * ones(3);\nendfunction\n";
  const std::string description = head + "init a = start()\n";
  ASSERT_TRUE(write_file(tnd, std::vector<uint8_t>(description.begin(), description.end())));
  ASSERT_TRUE(write_file(zvr, std::vector<uint8_t>(failing.begin(), failing.end())));
  int status = 0;
  EXPECT_EQ(run_capturing(std::string(TNBUILD_PATH) + " " + tnd + " " + dir + "/out.img", &status),
            "Incompatible size (_TN_demo/start;3) '*'\n"
            "tnbuild: instance demo: its init handlers failed: Incompatible size (_TN_demo/start;3) '*'\n");
  EXPECT_NE(status, 0);
}

// The tools' MemMax: sizes with their suffixes, and the sizes refused.
TEST(ImageTools, MemMaxOptionReadsSizes) {
  struct Row {
    const char* text;
    bool ok;
    uint32_t bytes;
  };
  const Row rows[] = {
      {"256K", true, 256u << 10}, {"64M", true, 64u << 20},        {"64m", true, 64u << 20},
      {"1G", true, 1u << 30},     {"2047M", true, 2047u << 20},    {"268435456", true, 256u << 20},
      {"255K", false, 0},         {"2048M", false, 0},             {"2G", false, 0},
      {"", false, 0},             {"M", false, 0},                 {"12MB", false, 0},
      {"-5M", false, 0},          {"99999999999999999999G", false, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    uint32_t bytes = 7;
    EXPECT_EQ(parse_mem_max(r.text, &bytes), r.ok);
    EXPECT_EQ(bytes, r.ok ? r.bytes : 7u);
  }
}

// An init handler that makes an 8 MB matrix builds at the default MemMax
// (the program's), with nothing on standard error: the attempts that ran
// short of room are no failures. Under a MemMax too small for it the build
// fails once, with one report of the engine's and the option that gives it
// room; a larger --memmax builds it.
TEST(ImageTools, InitHandlersGetTheProgramsMemMax) {
  const std::string dir = std::string(TOOLS_SCRATCH) + "/memmax";
  ASSERT_EQ(std::system(("mkdir -p " + dir).c_str()), 0);
  const std::string tnd = dir + "/app.tnd", zvr = dir + "/app.zvr", out = dir + "/out.img";
  const std::string description = "instance app\nvar r\ninit r = make()\n";
  const std::string source = "function r = make()\n r = rand(1000);\nendfunction\n";
  ASSERT_TRUE(write_file(tnd, std::vector<uint8_t>(description.begin(), description.end())));
  ASSERT_TRUE(write_file(zvr, std::vector<uint8_t>(source.begin(), source.end())));
  for (const char* tool : {TNBUILD_PATH, TNPACK_PATH}) {
    SCOPED_TRACE(tool);
    const std::string flat = std::string(tool) == TNPACK_PATH ? " --flat " : " ";
    int status = 0;
    EXPECT_EQ(run_capturing(std::string(tool) + flat + tnd + " " + out, &status), "");
    EXPECT_EQ(status, 0);
    const std::string refused = run_capturing(std::string(tool) + " --memmax 8M" + flat + tnd + " " + out, &status);
    EXPECT_NE(status, 0);
    const size_t first = refused.find("overflow");
    ASSERT_NE(first, std::string::npos) << refused;
    // The engine's report, then the tool's line that repeats it: no more.
    const size_t second = refused.find("overflow", first + 1);
    ASSERT_NE(second, std::string::npos) << refused;
    EXPECT_EQ(refused.find("overflow", second + 1), std::string::npos) << refused;
    EXPECT_NE(refused.find("its init handlers failed"), std::string::npos) << refused;
    // It names the option that gives it room, as zvr names -m.
    EXPECT_NE(refused.find("the build's block is full at its MemMax of 8 MB; --memmax BYTES gives a larger one\n"),
              std::string::npos)
        << refused;
    EXPECT_EQ(run_capturing(std::string(tool) + " --memmax=64M" + flat + tnd + " " + out, &status), "");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(run_capturing(std::string(tool) + " --memmax 12X" + flat + tnd + " " + out, &status).substr(0, 17),
              std::string(tool) == TNPACK_PATH ? "tnpack: bad --mem" : "tnbuild: bad --me");
    EXPECT_EQ(status, 2 << 8);
    // A failure that more room would not mend does not name it.
    const std::string failing = dir + "/failing.tnd";
    const std::string text = "instance app\nvar r\ninit r = nothing_of_that_name()\n";
    ASSERT_TRUE(write_file(failing, std::vector<uint8_t>(text.begin(), text.end())));
    const std::string other = run_capturing(std::string(tool) + flat + failing + " " + out, &status);
    EXPECT_NE(status, 0);
    EXPECT_EQ(other.find("--memmax"), std::string::npos) << other;
  }
}

// The application of the twin test: its init handler, named to the name
// table's limit, measures a literal's length, starts a task that sleeps and
// then sets a global the handler waits for, and draws from the generator;
// a menu entry draws again.
constexpr char kTwinSource[] =
    "function [n, done, waited, r] = twin_init_named_to_the_limit()\n"
    "  n = length('\xc3\xa9');\n"
    "  global twin_done\n"
    "  twin_done = 0;\n"
    "  tic;\n"
    "  threadnew(@twin_task, threadset());\n"
    "  while twin_done == 0 && toc < 2\n"
    "  end\n"
    "  done = twin_done;\n"
    "  waited = toc;\n"
    "  r = rand(1, 3);\n"
    "endfunction\n"
    "function twin_task()\n"
    "  global twin_done\n"
    "  threadsleep(0.2);\n"
    "  twin_done = 1;\n"
    "endfunction\n"
    "function r = twin_draw()\n"
    "  r = rand(1, 3);\n"
    "endfunction\n";
constexpr char kTwinDescription[] =
    "instance twin\n"
    "var n\nvar done\nvar waited\nvar r\n"
    "init [n, done, waited, r] = twin_init_named_to_the_limit()\n"
    "menu \"Draw\" r = twin_draw()\n";

// A block set up as the program sets its own before it loads the image.
void start_as_program(FakeHost* h, ToolHost* t) {
  start(h);
  rt_set_display_format(h->block, kDisplayFormatUtf8);
  rt_set_break_poll(h->block, break_key_poll, &t->break_flag);
  rt_set_clock_callback(h->block, cpu_time_callback, t->clock_slots, kHostClockSlotBytes);
}

// An instance's variable as a row of doubles; empty when it holds none.
std::vector<double> row_of(RuntimeBlock* b, const char* name, int32_t id = 0) {
  const NameTable* t = rt_name_table(b);
  int32_t code = -1;
  for (int32_t k = 0; k < t->count; ++k)
    if (std::strncmp(name_entries(t)[k].name, name, kNameBytes) == 0) code = name_entries(t)[k].code;
  EngineContext* c = rt_engine(b);
  if (code < 0 || handler_push_input(b, id, false, code) != 0) return {};
  double* re = nullptr;
  int64_t count = 0;
  std::vector<double> out;
  if (stk_get_double_array(c, 0, nullptr, nullptr, &count, &re, nullptr) == 0) out.assign(re, re + count);
  stk_drop(c);
  return out;
}

// Init at build time, in zvr and at the program's Reset Data give the same
// for the same code: text literals are UTF-8, a task started by init runs
// while init waits for it, and its threadsleep sleeps. The image holds the
// generator as init left it, so the program's first draw after start, like
// a Reset Data's, goes on from there instead of repeating init's draws.
TEST(ImageTools, InitAtBuildTimeRunsAsInZvrAndAtResetData) {
  const std::string dir = std::string(TOOLS_SCRATCH) + "/twin";
  ASSERT_EQ(std::system(("mkdir -p " + dir).c_str()), 0);
  const std::string tnd = dir + "/twin.tnd", zvr = dir + "/twin.zvr", image = dir + "/twin.img";
  const std::string script = dir + "/script.zvr";
  const std::string description = kTwinDescription, source = kTwinSource;
  const std::string call = "[n, done, waited, r] = twin_init_named_to_the_limit();\n"
                           "fprintf('%d %d %d\\n', n, done, waited >= 0.2);\n";
  ASSERT_TRUE(write_file(tnd, std::vector<uint8_t>(description.begin(), description.end())));
  ASSERT_TRUE(write_file(zvr, std::vector<uint8_t>(source.begin(), source.end())));
  std::vector<uint8_t> both(call.begin(), call.end());
  both.insert(both.end(), source.begin(), source.end());
  ASSERT_TRUE(write_file(script, both));
  int status = 0;
  EXPECT_EQ(run_capturing(std::string(TEST_PROGRAM_PATH) + " " + script, &status), "1 1 1\n");
  EXPECT_EQ(status, 0);

  ASSERT_EQ(run_capturing(std::string(TNBUILD_PATH) + " " + tnd + " " + image, &status), "");
  ASSERT_EQ(status, 0);
  const std::vector<uint8_t> stream = read_file(image);
  ToolHost program_host;
  FakeHost program;
  start_as_program(&program, &program_host);
  FlatFeed feed{&stream, stream.size()};
  ASSERT_EQ(rt_load_image(&program.block, &FlatFeed::read, &feed), 0);
  RuntimeBlock* b = program.block;
  const std::vector<double> built = row_of(b, "r");
  ASSERT_EQ(built.size(), 3u);
  EXPECT_EQ(row_of(b, "n"), std::vector<double>{1});
  EXPECT_EQ(row_of(b, "done"), std::vector<double>{1});
  ASSERT_EQ(row_of(b, "waited").size(), 1u);
  EXPECT_GE(row_of(b, "waited")[0], 0.2);

  int32_t draw = 0;
  ASSERT_EQ(rec_find_tag(b, 0, &draw, kTagMenuTitle), 0);
  ASSERT_EQ(handler_call(&program.block, 0, draw, false, true, false, -1, false, 0, kFdStdout, -1, nullptr, 0,
                         nullptr, nullptr, 0, nullptr),
            0);
  const std::vector<double> after_start = row_of(program.block, "r");
  ASSERT_EQ(after_start.size(), 3u);
  EXPECT_NE(after_start, built);

  ASSERT_EQ(inst_reset(&program.block, 0), 0);
  EXPECT_EQ(row_of(program.block, "n"), std::vector<double>{1});
  EXPECT_EQ(row_of(program.block, "done"), std::vector<double>{1});
  const std::vector<double> reset = row_of(program.block, "r");
  EXPECT_EQ(reset.size(), 3u);
  EXPECT_NE(reset, built);
  EXPECT_NE(reset, after_start);
}

// Instances declare variables of the same name, and a variable may share
// its name with a handler's function: each instance keeps its own value.
TEST(ImageTools, InstancesShareVariableNamesAndKeepTheirOwnValues) {
  const std::string dir = std::string(TOOLS_SCRATCH) + "/shared_names";
  ASSERT_EQ(std::system(("mkdir -p " + dir).c_str()), 0);
  const std::string tnd = dir + "/app.tnd", image = dir + "/app.img";
  const std::string description =
      "instance one\nvar a\ninit a = first()\n"
      "instance two\nvar first\nvar a\ninit [a, first] = second()\n";
  const std::string one = "function a = first()\n a = 1;\nendfunction\n";
  const std::string two = "function [a, b] = second()\n a = 2;\n b = 3;\nendfunction\n";
  ASSERT_TRUE(write_file(tnd, std::vector<uint8_t>(description.begin(), description.end())));
  ASSERT_TRUE(write_file(dir + "/one.zvr", std::vector<uint8_t>(one.begin(), one.end())));
  ASSERT_TRUE(write_file(dir + "/two.zvr", std::vector<uint8_t>(two.begin(), two.end())));
  int status = 0;
  ASSERT_EQ(run_capturing(std::string(TNBUILD_PATH) + " " + tnd + " " + image, &status), "");
  ASSERT_EQ(status, 0);
  const std::vector<uint8_t> stream = read_file(image);
  FakeHost program;
  start(&program);
  FlatFeed feed{&stream, stream.size()};
  ASSERT_EQ(rt_load_image(&program.block, &FlatFeed::read, &feed), 0);
  EXPECT_EQ(row_of(program.block, "a", 0), std::vector<double>{1});
  EXPECT_EQ(row_of(program.block, "a", 1), std::vector<double>{2});
  EXPECT_EQ(row_of(program.block, "first", 1), std::vector<double>{3});
}

}  // namespace
