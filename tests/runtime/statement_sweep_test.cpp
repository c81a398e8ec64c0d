// Every built-in of every registered table (the engine's with the rows of
// the libraries, the runtime and the graphics bound, the host's, and the
// compiler's intrinsics) called as a statement, for no output, for one and
// for the most, from a plot handler, where the plot commands have a list to
// fill. The first pass calls each by opcode and judges what each call that
// succeeds leaves on the stacks; the second calls the same built-ins from
// compiled ZVR code, where the engine's own check (live in the debug build)
// judges every call. Ports are a pseudo-terminal; files go to a temporary
// directory.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "engine/core/builtin_call_check.h"
#include "engine/core/containers.h"
#include "engine/core/frames.h"
#include "engine/core/interp.h"
#include "engine/core/interp_dispatch.h"
#include "engine/core/lib_calls.h"
#include "engine/core/opcodes.h"
#include "engine/lib/builtin_tables.h"
#include "host/devices/file_library.h"
#include "host/devices/serial_device.h"
#include "runtime/fake_host.h"
#include "runtime/instances.h"
#include "runtime/layout.h"
#include "support/builtin_targets.h"
#include "tools/imagetools/image_builder.h"

namespace {

// Built-ins that end the program, wait for the user or the clock, start a
// process or a task, drive the debugger, or end the handler that runs the
// sweep: the engine's check judges them where their own tests call them.
const std::set<std::string> kLeftOut = {
    "quit",    "exit",     "launchurl", "input",   "keyboard", "pause",    "threadnew", "threadsleep", "threadkill",
    "dbhalt",  "dbcont",   "dbstep",    "dbquit",  "dbstop",   "cancel",   "dialog",    "getfile",     "putfile",
    "tncall",  "sandbox",  "error",     "rethrow", "drawnow",  "echo",     "more",      "diary",       "system",
    "unix",    "dos",      "evalin",    "assignin", "semaphorelock", "clear",   "global",
    "sw_rows_", "sw_note_",  // the sweep's own
};

// The sample values by letter. P is the pseudo-terminal's port name.
struct Sample {
  char letter;
  const char* text;
};
constexpr Sample kSamples[] = {
    {'A', "[1 2 3; 4 5 6]"}, {'M', "[2 1; 1 3]"},   {'V', "[1 2 3 4]"},      {'X', "0.5"},
    {'N', "2"},              {'Z', "[1+2i, -3; 0.5i, 4]"}, {'S', "'ab c'"}, {'I', "int16([3 -4 5])"},
    {'L', "logical([1 0 1])"}, {'C', "{1, 'a'; [2 3], {}}"}, {'T', "struct('a', {1, 2}, 'b', 'x')"},
    {'E', "[]"},             {'F', "@sin"},        {'P', "serialdevname(1)"}, {'W', "'w'"},
    {'R', "'T10'"},          {'Q', "'sw_file.txt'"},
};

// Argument sets, one letter an input; a built-in takes the first n inputs of
// a set for n its least and its most inputs.
constexpr const char* kArgSets[] = {
    "A",    "AA",   "AAA",  "M",    "MM",   "MMM",  "MMMM", "V",    "VV",   "VVV",  "VVVV", "VVVVV", "X",
    "XN",   "XNN",  "NNN",  "NV",   "VX",   "AN",   "ANN",  "Z",    "ZZ",   "S",    "SS",   "SX",    "SA",
    "SN",   "I",    "IN",   "L",    "LL",   "C",    "CN",   "T",    "TS",   "E",    "EE",   "FX",    "FXX",
    "FV",   "FVV",  "FXV",  "P",    "PS",   "SW",   "NVV",  "VVA",  "XVV",
};

// First inputs made by a call for the built-ins that need a live object:
// each call gets a fresh one. (row name, the maker's name, the maker's inputs
// by letter). A port reads with a short time-out: flushing waits for it.
// The file sw_file.txt holds a few lines of text.
struct Maker {
  const char* row;
  const char* maker;
  const char* inputs;
};
constexpr Maker kMakers[] = {
    {"closedevice", "serialdevopen", "PR"}, {"flushdevice", "serialdevopen", "PR"},
    {"semaphoredelete", "semaphorenew", ""}, {"semaphoreunlock", "semaphorenew", ""},
    {"fclose", "fopen", "Q"},  {"fread", "fopen", "Q"},    {"fgetl", "fopen", "Q"},  {"fgets", "fopen", "Q"},
    {"fscanf", "fopen", "Q"},  {"feof", "fopen", "Q"},     {"ftell", "fopen", "Q"},  {"fseek", "fopen", "Q"},
    {"fflush", "fopen", "QW"}, {"fwrite", "fopen", "QW"},  {"fprintf", "fopen", "QW"},
};

const Maker* maker_of(const std::string& name) {
  for (const Maker& m : kMakers)
    if (name == m.row) return &m;
  return nullptr;
}

using Target = BuiltinTarget;

// The output counts a statement, no output, one output and the most ask for.
std::vector<int> output_forms(const Target& t) {
  if (t.fixed_out) return {t.min_out};
  std::vector<int> forms = {-1};
  if (t.min_out == 0) forms.push_back(0);
  if (t.min_out <= 1 && t.max_out >= 1) forms.push_back(1);
  const int most = t.max_out >= kArgsAny ? 3 : t.max_out;
  if (most > 1) forms.push_back(most);
  return forms;
}

// The input counts a set gives a built-in.
std::vector<int> input_counts(const Target& t, const char* set) {
  const int len = int(std::strlen(set));
  if (t.min_in > len) return {};
  const int most = std::min(t.max_in, len);
  if (most == t.min_in) return {most};
  return {t.min_in, most};
}

struct Breach {
  std::string name;
  int nargin, nargout;
  int64_t items;
};
std::string describe(const Breach& b) {
  return b.name + " (" + std::to_string(b.nargin) + " in, " + std::to_string(b.nargout) + " out) left " +
         std::to_string(b.items);
}

// What the passes found: the breaches, and for each built-in the first
// argument uses that succeeded (set, input count).
struct Findings {
  std::vector<Breach> breaches;
  std::vector<Target> targets;
  std::vector<std::vector<std::pair<std::string, int>>> usable;
  int calls = 0, judged = 0;
  std::vector<std::pair<int, int>> notes;  // (built-in, statements that ran) from the second pass
};
Findings g_found;

void collect_breach(void*, const char* name, int nargin, int nargout, int64_t items) {
  g_found.breaches.push_back({name, nargin, nargout, items});
}

int sample_index(char letter) {
  for (int i = 0; i < int(std::size(kSamples)); ++i)
    if (kSamples[i].letter == letter) return i + 1;
  return 0;
}

// The first pass, as a built-in of the plot handler: sw_rows_(samples).
struct DirectPass {
  EngineContext* c;
  int32_t base_desc, base_data, base_frame;
  CodePosition base_pos;

  int items() const { return (c->desc_top - base_desc) / kDescWords; }
  // Pushes sample `letter` (from the list under the pushed items).
  int push_sample(char letter) { return stk_list_get(c, items(), sample_index(letter)); }
  int push_input(const std::string& row, int i, char letter) {
    if (const Maker* m = i == 0 ? maker_of(row) : nullptr) {
      const int32_t at = maker_opcode(m->maker);
      if (at < 0) return kNotSupported;
      const int nin = int(std::strlen(m->inputs));
      for (int j = 0; j < nin; ++j) TN_TRY(push_sample(m->inputs[j]));
      return lib_call_opcode(c, at, nin, 1);
    }
    return push_sample(letter);
  }
  int32_t maker_opcode(const char* name) const {
    for (int k = 0; const BuiltinEntry* e = lib_entry_by_index(c, k); ++k)
      if (!std::strcmp(e->name, name)) return int32_t(kFirstLibraryOpcode) + k;
    return -1;
  }
  // Back to the state before the call, whatever it left.
  void restore() {
    if (c->frame != base_frame) frame_unwind(c, base_frame + 1);
    c->pos = base_pos;
    if (c->desc_top < base_desc) {  // a call that took more than its inputs: nothing to drop safely
      c->desc_top = base_desc;
      c->data_top = base_data;
      return;
    }
    while (c->desc_top > base_desc) stk_drop(c);
    c->data_top = base_data;
    fileio_close_all();  // what the call or its makers opened
  }
  // One call; true when it succeeded.
  bool call(const Target& t, const char* set, int nin, int nout) {
    ++g_found.calls;
    for (int i = 0; i < nin; ++i)
      if (push_input(t.name, i, set[i]) != kOk) {
        restore();
        return false;
      }
    const BuiltinCallMark mark = builtin_call_mark(c);
    const int status = lib_call_opcode(c, t.opcode, nin, nout);
    int64_t items = 0;
    if (status == kOk && builtin_results_left(c, mark, nin, &items)) {
      ++g_found.judged;
      const int owed = t.fixed_out ? t.min_out : builtin_results_owed(nout);
      if (items != owed) g_found.breaches.push_back({t.name + " by opcode", nin, nout, items});
    }
    restore();
    err_state_clear(c);
    return status == kOk;
  }
};

int bi_sw_rows(EngineContext* c, int nargin, int nargout, uintptr_t) {
  if (nargin != 1) return kTooFewInputs;
  DirectPass pass{c, c->desc_top, c->data_top, c->frame, c->pos};
  for (size_t ti = 0; ti < g_found.targets.size(); ++ti) {
    const Target& t = g_found.targets[ti];
    for (const char* set : kArgSets) {
      if (g_found.usable[ti].size() >= 2) break;
      for (int nin : input_counts(t, set)) {
        bool any = false;
        for (int nout : output_forms(t)) any = pass.call(t, set, nin, nout) || any;
        if (any) g_found.usable[ti].push_back({set, nin});
      }
    }
  }
  stk_drop(c);
  return nargout < 0 ? stk_push_no_value(c) : int(kOk);
}

// sw_note_(k, n): the second pass's k-th built-in ran n statements.
int bi_sw_note(EngineContext* c, int, int nargout, uintptr_t) {
  double k = 0, n = 0;
  TN_TRY(stk_get_real_scalar(c, 0, &n));
  TN_TRY(stk_get_real_scalar(c, 1, &k));
  stk_drop(c);
  stk_drop(c);
  g_found.notes.push_back({int(k), int(n)});
  return nargout < 0 ? stk_push_no_value(c) : int(kOk);
}

BuiltinEntry g_sweep_rows[] = {
    builtin_row("sw_rows_", 1, 1, 0, 0, 0, 0, bi_sw_rows),
    builtin_row("sw_note_", 2, 2, 0, 0, 0, 0, bi_sw_note),
    builtin_end_row(),
};

std::string samples_list() {
  std::string s = "{";
  for (const Sample& v : kSamples) s += std::string(s.size() > 1 ? ", " : "") + v.text;
  return s + "}";
}

std::string input_text(const Target& t, int i, char letter) {
  if (const Maker* m = i == 0 ? maker_of(t.name) : nullptr) {
    std::string in;
    for (const char* l = m->inputs; *l; ++l) in += std::string(l == m->inputs ? "" : ", ") + kSamples[sample_index(*l) - 1].text;
    return std::string(m->maker) + "(" + in + ")";
  }
  return kSamples[sample_index(letter) - 1].text;
}

// The second pass: a function per built-in whose statements call it in every
// form, each in a try block, counting those that ran; sw_note_ reports.
std::string statements_of(const Target& t, int k, const std::vector<std::pair<std::string, int>>& uses) {
  std::string body = "function sw_" + std::to_string(k) + "_()\n n_ = 0;\n";
  auto add = [&](const std::string& statement) {
    body += " try\n  " + statement + "\n  n_ = n_ + 1;\n catch\n end\n fclose('all');\n";
  };
  for (const auto& [set, nin] : uses) {
    std::string args;
    for (int i = 0; i < nin; ++i) args += (i ? ", " : "") + input_text(t, i, set[size_t(i)]);
    const std::string call = t.name + "(" + args + ")";
    add(call);        // shown
    add(call + ";");  // silent
    if (t.min_out == 0 && !t.fixed_out) add("feval('" + t.name + "'" + (args.empty() ? "" : ", " + args) + ");");
    for (int nout : output_forms(t)) {
      if (nout < 1) continue;
      std::string outs;
      for (int i = 0; i < nout; ++i) outs += (i ? ", " : "") + std::string("o") + std::to_string(i) + "_";
      add("[" + outs + "] = " + call + ";");
    }
  }
  return body + " sw_note_(" + std::to_string(k) + ", n_);\nendfunction\n";
}

class StatementSweep : public ::testing::Test {
 protected:
  int master = -1;
  std::vector<std::string> ports;
  std::filesystem::path dir, cwd;

  void SetUp() override {
    g_found = Findings{};
    int slave_fd = -1;
    char name[256] = {};
    ASSERT_EQ(openpty(&master, &slave_fd, name, nullptr, nullptr), 0);
    ::close(slave_fd);  // the library opens the slave by its path
    ports = {name};
    serial_set_port_list(&ports);
    char pattern[] = "/tmp/tn_sweep_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir = pattern;
    cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir);  // files the built-ins write land here
    std::ofstream("sw_file.txt") << "1 2 3\nab c\n4.5\n";
    builtin_check_set_reporter(collect_breach, nullptr);
  }
  void TearDown() override {
    fileio_close_all();  // the files and ports the calls left open
    builtin_check_set_reporter(nullptr, nullptr);
    serial_set_port_list(nullptr);
    if (master >= 0) ::close(master);
    std::filesystem::current_path(cwd);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }

  // Builds an application whose plot handler runs `plot_body` beside
  // `functions`, with the sweep's built-ins registered after the host's
  // table, and runs the plot handler once.
  // Quiet, what the statements show is dropped: it would fill the host's
  // capture, and a full capture fails the statements that show.
  static void run_plot(FakeHost& host, const std::string& functions, const std::string& plot_body,
                       bool quiet = true) {
    ASSERT_EQ(host.start(32u << 20, 32u << 20), 0);  // no growth: the sweep's built-in holds the context
    ASSERT_EQ(rt_register_library(host.block, g_builtin_table_host), 0);
    ASSERT_EQ(rt_register_library(host.block, g_sweep_rows), 0);
    if (quiet) rt_engine(host.block)->capture = CaptureBuffer{};
    const std::string source = functions + "function sw_plot()\n" + plot_body + "endfunction\n";
    tnbuild::Builder builder(host.block, {{"demo", source}});
    ASSERT_TRUE(builder.build("instance demo\nfigure \"Main\"\nplot sw_plot()\n")) << builder.error;
    ASSERT_EQ(figure_layout_subplots(&host.block, 0, 0, 400, 0, 300), 0);
    host.take_output();
    EXPECT_EQ(inst_refresh(&host.block, 0), 0) << host.take_output();
  }
};

TEST_F(StatementSweep, EveryBuiltinLeavesWhatItsOutputCountAsksFor) {
  {
    FakeHost probe;  // the targets as the program registers the tables
    ASSERT_EQ(probe.start(1u << 20, 1u << 20), 0);
    ASSERT_EQ(rt_register_library(probe.block, g_builtin_table_host), 0);
    ASSERT_EQ(rt_register_library(probe.block, g_sweep_rows), 0);
    g_found.targets = builtin_targets(rt_engine(probe.block), kLeftOut);
  }
  g_found.usable.assign(g_found.targets.size(), {});

  // By opcode.
  {
    FakeHost host;
    run_plot(host, "", " sw_rows_(" + samples_list() + ");\n");
  }
  for (const Breach& b : g_found.breaches) ADD_FAILURE() << describe(b);
  size_t used = 0;
  for (const auto& u : g_found.usable) used += !u.empty();
  // Nearly every built-in succeeds with one of the sets at least.
  EXPECT_GE(10 * used, 8 * g_found.targets.size()) << used << " of " << g_found.targets.size();
  EXPECT_GE(g_found.judged, 1500) << g_found.calls << " calls";

  // From compiled code: the uses found above, or a few sets for a built-in
  // that none suited (its errors are calls too).
  g_found.breaches.clear();
  std::string functions, body;
  int statements = 0;
  for (size_t k = 0; k < g_found.targets.size(); ++k) {
    const Target& t = g_found.targets[k];
    std::vector<std::pair<std::string, int>> uses = g_found.usable[k];
    for (const char* set : kArgSets) {
      if (!uses.empty()) break;
      for (int nin : input_counts(t, set)) uses.push_back({set, nin});
    }
    functions += statements_of(t, int(k), uses);
    body += " sw_" + std::to_string(k) + "_();\n";
    statements += int(uses.size());
  }
  {
    FakeHost host;
    run_plot(host, functions, body);
  }
  for (const Breach& b : g_found.breaches) ADD_FAILURE() << describe(b);
  // Every function ran to its end, in order: no call broke the statements after it.
  ASSERT_EQ(g_found.notes.size(), g_found.targets.size())
      << "stopped after " << (g_found.notes.empty() ? "none" : g_found.targets[g_found.notes.size()].name);
  int ran = 0;
  for (size_t k = 0; k < g_found.notes.size(); ++k) {
    EXPECT_EQ(g_found.notes[k].first, int(k));
    ran += g_found.notes[k].second;
  }
  EXPECT_GE(ran, statements) << "statements that ran";
}

// The serial built-ins that give nothing, in a handler: shown or silent,
// they leave the handler's statements after them working and show nothing.
TEST_F(StatementSweep, DeviceCallsInAHandlerLeaveTheStatementsAfterThem) {
  FakeHost host;
  run_plot(host, "",
           " p = serialdevopen(serialdevname(1), 'T20');\n"
           " flushdevice(p)\n"
           " flushdevice(p);\n"
           " closedevice(p)\n"
           " x = 1;\n"
           " closedevice(serialdevopen(serialdevname(1)));\n"
           " x = x + 1;\n"
           " feval('closedevice', serialdevopen(serialdevname(1)));\n"
           " sw_note_(x, 0);\n",
           false);
  EXPECT_EQ(g_found.notes, (std::vector<std::pair<int, int>>{{2, 0}})) << host.take_output();
  EXPECT_EQ(host.take_output().find("ans"), std::string::npos);
  EXPECT_TRUE(g_found.breaches.empty());
}

}  // namespace
