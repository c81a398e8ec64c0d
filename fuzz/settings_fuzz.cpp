// libFuzzer target: arbitrary bytes as the program's settings file, read the
// way start-up, the view and the main frame read it: the memory bounds, the
// code optimisation, highlight, thick lines, background and number format
// handed to a runtime block that then shows numbers; the figure font made
// and measured; the window placement judged against a desktop and applied
// to a window; the bar state restored into a main window with a tool bar and
// a status bar. Every stored 32-bit value must come out as a value its user
// takes: bounds inside their limits, a letter for the format, a colour of
// 24 bits, a font of positive size, a placement inside the desktop.
// Start-up's settings are also held against a model of the file: where the
// file is plain lines (group lines, Key=Value with letters, digits, signs
// and the bar state's characters, each key once), the model reads the
// values of the group "1.0" itself and takes each key by the start-up rules
// (a decimal integer or the default, the bounds clamped, a letter for the
// format, 'i' or 'j'); every field must be what its own key says.
// Qt runs on the offscreen platform (the corpus test's own application, or
// one made here on the first input).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "engine/core/calls.h"
#include "engine/core/frames.h"
#include "engine/core/interp.h"
#include "engine/core/status.h"
#include "engine/core/streams.h"
#include "fuzz/fuzz_runtime_block.h"
#include "graphics/interact/interaction.h"
#include "runtime/runtime_block.h"
// Qt after the engine: its `slots` keyword is a macro.
#include <QApplication>
#include <QFile>
#include <QMainWindow>
#include <QStatusBar>
#include <QToolBar>


#include "graphics/render/graphics_driver.h"
#include "host/app/appearance.h"
#include "host/app/tn_app.h"
#include "host/app/tn_main_frame.h"
#include "platform/bar_state.h"
#include "platform/settings_store.h"

namespace {

using fuzzblock::require;

constexpr int32_t kFormatWord5 = 24;  // as start-up passes it
constexpr int kIconSize = 32;
const QRect kDesktop(0, 0, 1280, 1024);

// The settings file, in a folder of its own that goes at exit.
std::string g_folder;
void remove_folder() {
  ::unlink((g_folder + "/settings.ini").c_str());
  ::rmdir(g_folder.c_str());
}
const std::string& settings_path() {
  static const std::string path = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tn_settings_XXXXXX";
    require(::mkdtemp(pattern.data()) != nullptr);
    g_folder = pattern;
    std::atexit(remove_folder);
    return pattern + "/settings.ini";
  }();
  return path;
}

void ensure_application() {
  if (QCoreApplication::instance()) return;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "settings_fuzz";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);  // lives for the run
}

// A main window as the frame builds it, for the bar state.
QMainWindow* bar_window() {
  static QMainWindow* w = [] {
    auto* m = new QMainWindow;
    m->addToolBar(QStringLiteral("Standard"))->setObjectName(QStringLiteral("ToolBar"));
    m->setStatusBar(new QStatusBar(m));
    return m;
  }();
  return w;
}

char g_out[1 << 14];
uint32_t g_out_len = 0;

// The numbers shown in the stored format, in a block that took every
// runtime setting start-up hands over.
void show_numbers(const StartupSettings& s) {
  RuntimeBlock* b = *fuzzblock::fresh_block(fuzzblock::kStartBytes);
  rt_set_code_optimisation(b, s.code_optimization ? 4 : 0, s.discard_assert & 0xFF);
  rt_set_interactive_highlight(b, uint8_t(s.interactive_highlight));
  rt_set_number_format(b, s.format_letter, s.digits, s.imaginary, s.loose, kFormatWord5, false);
  EngineContext* c = rt_engine(b);
  g_out_len = 0;
  c->capture = CaptureBuffer{g_out, sizeof g_out, &g_out_len};
  io_set_redirect(c, kFdStdout, kFdCapture, 0);
  for (const char* line : {"x = [pi -1e10; 1/3 NaN]", "y = 1 + 2i", "z = [1e300 -Inf 0.5]", "w = int8(-5)",
                           "disp(pi * 1e5)", "v = single(2.5)"}) {
    int status = exec_command_line(c, line, int32_t(std::strlen(line)), 0);
    if (status == kSliceEnded) status = interp_run(c, 0);
    if (status != kOk) frame_unwind(c, 0);
    g_out_len = 0;
  }
  fuzzblock::release_block();
}

// The group "1.0" of a plain settings file; false when the file is not
// plain (the model then says nothing).
bool model_group(const uint8_t* data, size_t size, std::map<std::string, std::string>* out) {
  auto word_char = [](char ch) { return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9'); };
  auto value_char = [&](char ch) { return word_char(ch) || ch == '+' || ch == '-' || ch == '/' || ch == '='; };
  std::string group;
  std::map<std::string, std::string> seen;
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (line.front() == '[') {
      if (line.size() < 3 || line.back() != ']') return false;
      group = line.substr(1, line.size() - 2);
      for (const char ch : group)
        if (!word_char(ch) && ch != '.') return false;
      continue;
    }
    const size_t equals = line.find('=');
    if (equals == 0 || equals == std::string::npos) return false;
    const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
    for (const char ch : key)
      if (!word_char(ch)) return false;
    for (const char ch : value)
      if (!value_char(ch)) return false;
    if (!seen.emplace(group + "/" + key, value).second) return false;
    if (group == "1.0") (*out)[key] = value;
  }
  return true;
}

// A decimal integer of 32 bits with an optional sign, else the default.
int32_t model_int(const std::map<std::string, std::string>& g, const char* key, int32_t fallback) {
  const auto it = g.find(key);
  if (it == g.end()) return fallback;
  const std::string& v = it->second;
  size_t at = v.size() > 0 && (v[0] == '+' || v[0] == '-') ? 1 : 0;
  if (at == v.size()) return fallback;
  int64_t n = 0;
  for (; at < v.size(); ++at) {
    if (v[at] < '0' || v[at] > '9') return fallback;
    n = n * 10 + (v[at] - '0');
    if (n > int64_t(1) << 32) return fallback;
  }
  if (v[0] == '-') n = -n;
  return n < INT32_MIN || n > INT32_MAX ? fallback : int32_t(n);
}

void check_startup(const StartupSettings& s, const uint8_t* data, size_t size) {
  std::map<std::string, std::string> g;
  if (!model_group(data, size, &g)) return;
  auto text = [&](const char* key, const char* fallback) {
    const auto it = g.find(key);
    return it == g.end() ? std::string(fallback) : it->second;
  };
  const int32_t mem_min = std::clamp(model_int(g, "MemMin", kMemMinDefault), kMemMinDefault, kMemLimit);
  const std::string type = text("FormatType", "g"), imaginary = text("FormatImagSymbol", "j");
  const bool letter = !type.empty() && ((type[0] >= 'a' && type[0] <= 'z') || (type[0] >= 'A' && type[0] <= 'Z'));
  const struct {
    const char* key;
    int64_t got, want;
  } fields[] = {
      {"MemMin", s.mem_min, mem_min},
      {"MemMax", s.mem_max, std::clamp(model_int(g, "MemMax", kMemMaxDefault), mem_min, kMemLimit)},
      {"CodeOptimization", s.code_optimization, model_int(g, "CodeOptimization", 1)},
      {"DiscardAssert", s.discard_assert, model_int(g, "DiscardAssert", 0)},
      {"InteractiveHilight", s.interactive_highlight, model_int(g, "InteractiveHilight", 1)},
      {"ThickLines", s.thick_lines, model_int(g, "ThickLines", 0)},
      {"BkColor", s.background, uint32_t(model_int(g, "BkColor", int32_t(0xE5E5E5)))},
      {"FormatType", s.format_letter, letter ? type[0] : 'g'},
      {"FormatImagSymbol", s.imaginary, !imaginary.empty() && imaginary[0] == 'i' ? 'i' : 'j'},
      {"FormatLoose", s.loose, uint8_t(model_int(g, "FormatLoose", 0))},
      {"FormatNDigits", s.digits, model_int(g, "FormatNDigits", 4)},
  };
  for (const auto& f : fields) {
    if (f.got == f.want) continue;
    std::fprintf(stderr, "settings_fuzz: %s read as %lld, the file says %lld\n%.*s\n", f.key, (long long)f.got,
                 (long long)f.want, int(size), reinterpret_cast<const char*>(data));
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ensure_application();
  {
    QFile f(QString::fromStdString(settings_path()));
    require(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    require(size == 0 || f.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size));
  }
  // Qt keeps a file's settings while its time and size stay the same: each
  // run's file gets a time of its own, so that its contents are read.
  static time_t g_stamp = 1000000000;
  const struct timespec times[2] = {{++g_stamp, 0}, {g_stamp, 0}};
  require(::utimensat(AT_FDCWD, settings_path().c_str(), times, 0) == 0);
  SettingsStore store(QString::fromStdString(settings_path()));

  // Start-up's settings.
  const StartupSettings s = startup_settings_read(store);
  check_startup(s, data, size);
  require(s.mem_min >= kMemMinDefault && s.mem_min <= s.mem_max && s.mem_max <= kMemLimit);
  require((s.format_letter >= 'a' && s.format_letter <= 'z') || (s.format_letter >= 'A' && s.format_letter <= 'Z'));
  require(s.imaginary == 'i' || s.imaginary == 'j');
  set_background_color(s.background);
  require(get_background_color() <= 0xFFFFFF);
  set_app_option(s.thick_lines);
  show_numbers(s);

  // The figure font, as the view makes it and the drivers measure it.
  const QFont font = figure_font_saved(&store);
  GraphicsDriverContext ctx{};
  appearance_set_font(&ctx, font);
  require(ctx.figure_font_size > 0 && ctx.figure_font_face[sizeof ctx.figure_font_face - 1] == 0);

  // The placement: applied only inside the desktop, and then to a window.
  StoredPlacement p{};
  p.flags = store.read_int(QStringLiteral("WindowFlags"), 0);
  p.show_cmd = store.read_int(QStringLiteral("WindowShowCmd"), kShowNormal);
  p.left = store.read_int(QStringLiteral("WindowLeft"), -1);
  p.right = store.read_int(QStringLiteral("WindowRight"), -1);
  p.top = store.read_int(QStringLiteral("WindowTop"), -1);
  p.bottom = store.read_int(QStringLiteral("WindowBottom"), -1);
  if (placement_restorable(&p, kDesktop, kIconSize)) {
    require(p.left >= 0 && p.top >= 0 && p.left <= p.right && p.top <= p.bottom);
    require(p.right <= kDesktop.right() + 1 && p.bottom <= kDesktop.bottom() + 1);
    bar_window()->setGeometry(QRect(QPoint(p.left, p.top), QPoint(p.right - 1, p.bottom - 1)));
  }

  // The bar state, as the frame restores it.
  const QByteArray state =
      QByteArray::fromBase64(store.read_string(QStringLiteral("BarSettings"), QString()).toLatin1());
  if (!state.isEmpty()) bar_state_restore(bar_window(), state);
  return 0;
}
