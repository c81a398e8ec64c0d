// libFuzzer target: arbitrary bytes as the program's settings file, read the
// way start-up, the view and the main frame read it: the memory bounds, the
// code optimisation, highlight, thick lines, background and number format
// handed to a runtime block that then shows numbers; the figure font made
// and measured; the window placement judged against a desktop and applied
// to a window; the bar state restored into a main window with a tool bar and
// a status bar. Every stored 32-bit value must come out as a value its user
// takes: bounds inside their limits, a letter for the format, a colour of
// 24 bits, a font of positive size, a placement inside the desktop.
// Qt runs on the offscreen platform (the corpus test's own application, or
// one made here on the first input).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ensure_application();
  {
    QFile f(QString::fromStdString(settings_path()));
    require(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    require(size == 0 || f.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size));
  }
  SettingsStore store(QString::fromStdString(settings_path()));

  // Start-up's settings.
  const StartupSettings s = startup_settings_read(store);
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
