// Start-up and the application commands. A runtime block that cannot be laid
// out does not stop the program: every runtime call is skipped and the
// creation status stands for its result. Settings are read once here; the
// preference commands write their key at once.
#include "host/app/tn_app.h"

#include <csignal>
#include <cstring>

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMenuBar>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QUrl>

#include "graphics/interact/interaction.h"
#include "host/app/appearance.h"
#include "host/app/block_runtime.h"
#include "host/app/main_menu.h"
#include "host/app/runtime_depth.h"
#include "host/app/runtime_host.h"
#include "host/app/tn_doc.h"
#include "host/app/tn_main_frame.h"
#include "host/app/tn_view.h"
#include "host/builtin_table_host.h"
#include "host/devices/file_library.h"
#include "host/shell/shell_registration.h"
#include "host/ui/about_wnd.h"
#include "platform/break_key_watch.h"
#include "platform/command_map.h"
#include "platform/host_style.h"
#include "platform/font_warmup.h"
#include "platform/settings_store.h"
#include "runtime/instances.h"
#include "runtime/runtime_block.h"

namespace {

constexpr char kAppTitle[] = "Tarnivel Runtime";
constexpr char kUntitled[] = "Untitled";
constexpr char kHelpPage[] = "Doc/TN_main.htm";
constexpr char kWebPage[] = "https://www.tarnivel.org/";
constexpr int32_t kOptimised = 4, kPlain = 0;
constexpr int32_t kFormatWord5 = 24;
constexpr int kPathLimit = 510;

BreakFlag* g_sigint_flag = nullptr;
extern "C" void on_sigint(int) {
  if (g_sigint_flag) g_sigint_flag->store(1);
}

bool ascii_letter(QChar c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

// The byte of a 32-bit setting that the runtime takes: its low byte, as the
// settings' rules say (a stored 256 is 0, not "on").
uint8_t low_byte(int32_t setting) { return uint8_t(uint32_t(setting) & 0xFFu); }

// The host table's window rows call back into the application object.
struct WindowCalls {
  static void repaint(void* app) {
    if (TNView* v = static_cast<TNApp*>(app)->view()) v->redraw_now();
  }
  static void request_close(void* app) {
    if (TNMainFrame* f = static_cast<TNApp*>(app)->main_frame())
      QMetaObject::invokeMethod(f, &QWidget::close, Qt::QueuedConnection);
  }
};
HostWindowCallbacks g_window_calls{};

}  // namespace

StartupSettings startup_settings_read(const SettingsStore& st) {
  StartupSettings s{};
  s.mem_min = std::clamp(st.read_int(QStringLiteral("MemMin"), kMemMinDefault), kMemMinDefault, kMemLimit);
  s.mem_max = std::clamp(st.read_int(QStringLiteral("MemMax"), kMemMaxDefault), s.mem_min, kMemLimit);
  s.code_optimization = st.read_int(QStringLiteral("CodeOptimization"), 1);
  s.discard_assert = st.read_int(QStringLiteral("DiscardAssert"), 0);
  s.interactive_highlight = st.read_int(QStringLiteral("InteractiveHilight"), 1);
  s.thick_lines = st.read_int(QStringLiteral("ThickLines"), 0);
  s.background = uint32_t(st.read_int(QStringLiteral("BkColor"), int32_t(0xE5E5E5)));
  const QString type = st.read_string(QStringLiteral("FormatType"), QStringLiteral("g"));
  s.format_letter = !type.isEmpty() && ascii_letter(type[0]) ? char(type[0].unicode()) : 'g';
  const QString imag = st.read_string(QStringLiteral("FormatImagSymbol"), QStringLiteral("j"));
  s.imaginary = !imag.isEmpty() && imag[0] == u'i' ? 'i' : 'j';
  s.loose = low_byte(st.read_int(QStringLiteral("FormatLoose"), 0));
  s.digits = st.read_int(QStringLiteral("FormatNDigits"), 4);
  return s;
}

QString running_program_path() { return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath(); }

std::optional<QString> app_file_beside_exe(const QString& program, const QString& name) {
  const QString path = QFileInfo(program).absolutePath() + QLatin1Char('/') + name;
  if (path.size() >= kPathLimit || !QFileInfo::exists(path)) return std::nullopt;
  return path;
}

TNApp::TNApp(SettingsStore* settings, QString program) : settings_(settings), program_(std::move(program)) {}

TNApp::~TNApp() {
  fileio_close_all();
  host_builtins_attach_window(nullptr);
  doc_.reset();
  frame_.reset();
  break_key_watch_stop();
  if (g_sigint_flag == &break_flag_) g_sigint_flag = nullptr;
  if (runtime_host() == host_.get()) runtime_host_set(nullptr);
}

TNView* TNApp::view() const { return frame_ ? frame_->view() : nullptr; }

void TNApp::attach_window_builtins() {
  g_window_calls.repaint = {WindowCalls::repaint, this};
  g_window_calls.request_close = {WindowCalls::request_close, this};
  host_builtins_attach_window(&g_window_calls);
}

bool TNApp::init_instance() {
  host_style_install(qApp);
  QApplication::setApplicationName(QString::fromLatin1(kAppTitle));
  // The document types, registered with the desktop where no part of a
  // registration exists yet.
  shell_register_at_startup(shell_program_path());
  s_ = startup_settings_read(*settings_);
  set_background_color(s_.background);

  host_ = std::make_unique<AppRuntimeHost>(s_.mem_min, s_.mem_max, 0, 2);
  runtime_host_set(host_.get());
  RuntimeBlock* b = host_->has_block() ? host_->block() : nullptr;
  if (b) {
    rt_set_display_format(b, kDisplayFormatUtf8);
    rt_add_named_value(b, "winInstanceHandle", nullptr);
    g_sigint_flag = &break_flag_;
    std::signal(SIGINT, on_sigint);
    rt_set_break_poll(b, break_key_poll, &break_flag_);
    // While a handler runs no window event is read, the view's key event
    // included: on an X display the key is watched beside the event loop.
    if (QGuiApplication::platformName() == QLatin1String("xcb")) break_key_watch_start(&break_flag_);
    rt_set_code_optimisation(b, s_.code_optimization ? kOptimised : kPlain, low_byte(s_.discard_assert));
    rt_set_clock_callback(b, cpu_time_callback, clock_slots_, kHostClockSlotBytes);
    rt_set_interactive_highlight(b, low_byte(s_.interactive_highlight));
  }
  set_app_option(s_.thick_lines);
  if (b) rt_set_number_format(b, s_.format_letter, s_.digits, s_.imaginary, s_.loose, kFormatWord5, false);
  attach_window_builtins();
  if (b) rt_register_library(b, g_builtin_table_host);
  fileio_table_init();

  // Document, main window and view.
  commands_ = std::make_unique<CommandMap>();
  doc_runtime_ = std::make_unique<BlockRuntime>(host_.get());
  // Everything up to the status bar measures no text: the frame with its tool
  // bar and view, the menus, the document and the commands are built while
  // the font worker may still be reading the configuration, which is waited
  // for before the status bar loads the first font.
  frame_ = std::make_unique<TNMainFrame>(host_.get(), doc_runtime_.get(), settings_, commands_.get());
  main_menu_build(frame_->menuBar(), commands_.get());
  commands_->watch_shortcuts();
  TNMainFrame* frame = frame_.get();
  doc_ = std::make_unique<TNDoc>(
      doc_runtime_.get(), commands_.get(), [frame] { return frame->menuBar(); },
      [frame] { frame->view()->invalidate(); }, frame);
  frame_->view()->set_document(doc_.get());
  frame_->view()->set_break_flag(&break_flag_);
  TNDoc* doc = doc_.get();
  frame_->set_documents_tick([doc] { doc->idle_check(); });
  frame_->set_before_close([this, doc] { doc->write_number_format(settings_); });
  QObject::connect(qApp, &QCoreApplication::aboutToQuit, frame, [frame] {
    frame->save_settings();
    fileio_close_all();  // files and serial ports the application left open
  });
  route_commands();
  frame_->setWindowTitle(QString::fromLatin1(kUntitled) + QStringLiteral(" - ") + QString::fromLatin1(kAppTitle));
  if (fonts_) fonts_->finish();
  frame_->add_status_bar();
  frame_->load_placement();
  frame_->show();

  help_page_ = app_file_beside_exe(program_, QString::fromLatin1(kHelpPage));
  doc_->set_title_listener([frame](const QString& title) {
    frame->setWindowTitle((title.isEmpty() ? QString::fromLatin1(kUntitled) : title) + QStringLiteral(" - ") +
                          QString::fromLatin1(kAppTitle));
  });
  // The window was laid out before the image stood (Qt delivers the first
  // resize at show): lay the loaded figure out in the view's size.
  if (doc_->LoadAppendedApplication(host_.get(), program_)) frame_->view()->relayout();
  return true;
}

void TNApp::route_commands() {
  CommandMap& m = *commands_;
  TNView* view = frame_->view();
  TNMainFrame* frame = frame_.get();
  RuntimeHost* host = host_.get();
  auto block = [host] { return host->has_block(); };

  m.route(kCmdPrefHighlight, kCmdPrefHighlight, [this, frame, host](int) {
    s_.interactive_highlight = !s_.interactive_highlight;
    if (host->has_block()) rt_set_interactive_highlight(host->block(), low_byte(s_.interactive_highlight));
    settings_->write_int(QStringLiteral("InteractiveHilight"), s_.interactive_highlight);
    frame->view()->invalidate();
  }, [this](int, CommandState* st) { st->set_check(s_.interactive_highlight ? kCheckOn : kCheckOff); });
  m.route(kCmdPrefThickLines, kCmdPrefThickLines, [this, frame](int) {
    s_.thick_lines = !s_.thick_lines;
    set_app_option(s_.thick_lines);
    settings_->write_int(QStringLiteral("ThickLines"), s_.thick_lines);
    frame->view()->invalidate();
  }, [this](int, CommandState* st) { st->set_check(s_.thick_lines ? kCheckOn : kCheckOff); });
  m.route(kCmdPrefBackground, kCmdPrefBackground, [this, frame](int) {
    if (!choose_background_color()) return;
    settings_->write_int(QStringLiteral("BkColor"), int32_t(get_background_color()));
    frame->view()->invalidate();
  }, nullptr);
  m.route(kCmdFigureFont, kCmdFigureFont, [view](int) { view->on_figure_font(); }, nullptr);

  m.route(kCmdEditUndo, kCmdEditUndo, [view](int) { view->on_undo(); },
          [this](int, CommandState* st) { st->enable(doc_runtime_->can_undo(kInstanceId)); });
  m.route(kCmdEditRedo, kCmdEditRedo, [view](int) { view->on_redo(); },
          [this](int, CommandState* st) { st->enable(doc_runtime_->can_redo(kInstanceId)); });
  m.route(kCmdEditSelectAll, kCmdEditSelectAll, [view](int) { view->on_select_all(); },
          [host, block](int, CommandState* st) { st->enable(block() && inst_takes_mouse(host->block(), kInstanceId)); });
  m.route(kCmdEditCopy, kCmdEditCopy, [view](int) { view->on_edit_copy(); }, nullptr);

  // Printing: one routine behind the dialog and the preview, at 300 dpi.
  m.route(kCmdFilePrint, kCmdFilePrint, [view, frame](int) {
    QPrintDialog dialog(view->printer(), frame);
    if (dialog.exec() == QDialog::Accepted) view->print_to(view->printer());
  }, nullptr);
  m.route(kCmdFilePrintPreview, kCmdFilePrintPreview, [view, frame](int) {
    QPrintPreviewDialog preview(view->printer(), frame);
    QObject::connect(&preview, &QPrintPreviewDialog::paintRequested, view, [view](QPrinter* p) { view->print_to(p); });
    preview.exec();
  }, nullptr);
  // Without a real printer the printer writes PDF, which the page set-up
  // dialog cannot serve.
  m.route(kCmdFilePageSetup, kCmdFilePageSetup, [view, frame](int) {
    QPageSetupDialog dialog(view->printer(), frame);
    dialog.exec();
  }, [view](int, CommandState* st) { st->enable(view->printer()->outputFormat() == QPrinter::NativeFormat); });
  m.route(kCmdAppExit, kCmdAppExit, [frame](int) { frame->close(); }, nullptr);

  m.route(kCmdAppAbout, kCmdAppAbout, [this, frame](int) {
    AboutWnd about(QString::fromLatin1(kAppTitle), QString(), doc_->description(), frame);
    about.exec();
  }, nullptr);
  m.route(kCmdHelpPage, kCmdHelpPage, [this](int) {
    if (help_page_) QDesktopServices::openUrl(QUrl::fromLocalFile(*help_page_));
  }, [this](int, CommandState* st) { st->enable(help_page_.has_value()); });
  m.route(kCmdWebPage, kCmdWebPage, [](int) { QDesktopServices::openUrl(QUrl(QString::fromLatin1(kWebPage))); },
          nullptr);
  m.route(kCmdFileAssociation, kCmdFileAssociation, [](int) { shell_register_all(shell_program_path()); },
          [](int, CommandState* st) {
            const ShellCommandState state = shell_association_state(shell_program_path());
            st->enable(state.enabled);
            st->set_check(state.checked ? kCheckOn : kCheckOff);
          });
}
