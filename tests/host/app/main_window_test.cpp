// The program in-process on the offscreen platform, with the packed demo:
// title, menus, the first paint's pixels, a drag of the point, Undo, Redo,
// Reset Data, Copy, printing to PDF, resizing, a failing drag handler, keys
// and a program without an application. Settings go to a temporary file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <utility>
#include <thread>
#include <vector>

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

#include <zlib.h>

#include "engine/core/checked.h"
#include "host/app/appearance.h"
#include "host/app/main_menu.h"
#include "host/app/runtime_host.h"
#include "host/app/tn_app.h"
#include "host/app/tn_doc.h"
#include "host/app/tn_main_frame.h"
#include "host/app/tn_view.h"
#include "host/shell/shell_registration.h"
#include "host/ui/text_frame.h"
#include "platform/command_map.h"
#include "runtime/image_loader.h"
#include "runtime/instances.h"
#include "runtime/layout.h"
#include "runtime/tn_builtins.h"
#include "platform/settings_store.h"
#include "support/room_limit.h"
#include "tests/host/ui/scripted_dialogs.h"
#include "tools/imagetools/application_build.h"
#include "tools/imagetools/image_packer.h"

namespace {

// The tools build every init handler the program runs at its default
// settings: their MemMax is the program's, and so are its bounds.
static_assert(tnbuild::kToolMemMaxDefault == uint32_t(kMemMaxDefault));
static_assert(tnbuild::kToolMemLimit == uint32_t(kMemLimit));

constexpr std::chrono::milliseconds kMouseStep{20};
constexpr QRgb kBackground = 0xFFE5E5E5, kCurve = 0xFF0000FF, kPoint = 0xFFFF0000;

QStringList menu_texts(QMenuBar* bar) {
  QStringList out;
  for (QAction* a : bar->actions()) out << a->text();
  return out;
}

// The bounding box of the pixels of one colour (empty when none).
QRect colour_box(const QImage& image, QRgb colour) {
  QRect box;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (image.pixel(x, y) == colour) box |= QRect(x, y, 1, 1);
  return box;
}

void send_mouse(QWidget* w, QEvent::Type type, QPoint p, Qt::MouseButton button, Qt::MouseButtons buttons) {
  QMouseEvent e(type, QPointF(p), w->mapToGlobal(QPointF(p)), button, buttons, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

// A packed application from a description and its source, behind no program.
QString pack(const QTemporaryDir& dir, const std::string& description, const std::string& source) {
  const std::string base = dir.path().toStdString() + "/app";
  tnbuild::write_file(base + ".tnd", std::vector<uint8_t>(description.begin(), description.end()));
  tnbuild::write_file(dir.path().toStdString() + "/demo.zvr", std::vector<uint8_t>(source.begin(), source.end()));
  tnbuild::Sections sections;
  std::string text, error;
  EXPECT_TRUE(tnbuild::build_application(base + ".tnd", &sections, &text, &error)) << error;
  const auto packed = tnbuild::with_trailer({}, tnbuild::appended_block(sections, text));
  tnbuild::write_file(base + ".packed", packed);
  return QString::fromStdString(base + ".packed");
}

struct Program : ::testing::Test {
  QTemporaryDir dir;
  std::unique_ptr<SettingsStore> settings;
  std::unique_ptr<TNApp> app;
  ScriptedDialogs dialogs;

  void SetUp() override {
    // Start-up registers the document types: in the test's own directories.
    qputenv("XDG_DATA_HOME", (dir.path() + "/data").toUtf8());
    qputenv("XDG_CONFIG_HOME", (dir.path() + "/config").toUtf8());
    settings = std::make_unique<SettingsStore>(dir.path() + "/settings.ini");
    // The demo's figure takes the mouse: with the highlight preference on its
    // axes are red like its point, which the tests find by its colour.
    settings->write_int(QStringLiteral("InteractiveHilight"), 0);
    shell_set_database_updates(false);
  }
  void TearDown() override { shell_set_database_updates(true); }
  void start(const QString& program) {
    app = std::make_unique<TNApp>(settings.get(), program);
    ASSERT_TRUE(app->init_instance());
    app->main_frame()->resize(640, 480);
    QApplication::processEvents();
  }
  TNView* view() { return app->view(); }
  QImage screen() {
    view()->redraw_now();
    return view()->back_buffer().copy();
  }
  QPoint point_centre() { return colour_box(screen(), kPoint).center(); }
  // Moves closer together than the runtime's mouse rate are dropped, as a
  // hand's would be: the drag waits that long between its steps.
  void drag(QPoint from, QPoint to) {
    send_mouse(view(), QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    for (int k = 1; k <= 3; ++k) {
      std::this_thread::sleep_for(kMouseStep);
      send_mouse(view(), QEvent::MouseMove, from + (to - from) * k / 3, Qt::NoButton, Qt::LeftButton);
    }
    send_mouse(view(), QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
  }
  bool run(int command) { return app->commands()->dispatch(command); }
};

TEST_F(Program, DemoWindowTitleMenusAndFirstPaint) {
  start(QStringLiteral(TN_DEMO_PROGRAM));
  EXPECT_EQ(app->main_frame()->windowTitle(), QStringLiteral("Tarnivel Demo - Tarnivel Runtime"));
  const QStringList menus = menu_texts(app->main_frame()->menuBar());
  ASSERT_GE(menus.size(), 5);
  EXPECT_EQ(menus.mid(0, 3), (QStringList{"&File", "&Edit", "&Demo"}));
  EXPECT_TRUE(menus.contains("F&igure") && menus.last() == "&Help");
  const QImage first = screen();
  EXPECT_FALSE(colour_box(first, kBackground).isEmpty());
  EXPECT_FALSE(colour_box(first, kCurve).isEmpty());
  EXPECT_FALSE(colour_box(first, kPoint).isEmpty());
  // The image was saved initialised: nothing has run since it was loaded.
  EXPECT_FALSE(rt_can_undo(app->host()->block(), 0));
  // Start-up registered the document types: the command is checked, and
  // disabled since there is nothing left to do.
  const CommandState association = app->commands()->state_of(kCmdFileAssociation);
  EXPECT_FALSE(association.enabled());
  EXPECT_EQ(association.check(), kCheckOn);
}

// The window is titled after the application from the start, while the
// Help item and the About window keep their first texts until a menu
// command changes the title.
TEST_F(Program, HelpAndAboutKeepTheirFirstTextsAtTheStart) {
  start(QStringLiteral(TN_DEMO_PROGRAM));
  EXPECT_EQ(app->main_frame()->windowTitle(), QStringLiteral("Tarnivel Demo - Tarnivel Runtime"));
  const CommandState help = app->commands()->state_of(kCmdHelp);
  ASSERT_NE(help.text(), nullptr);
  EXPECT_EQ(help.text()->toStdString(), "TN File Help");
  ASSERT_TRUE(run(kCmdAbout));
  ASSERT_NE(app->document()->about_window(), nullptr);
  EXPECT_EQ(app->document()->about_window()->windowTitle().toStdString(), "About TN File");
  app->document()->about_window()->hide();
}

TEST_F(Program, DragUndoRedoAndResetData) {
  start(QStringLiteral(TN_DEMO_PROGRAM));
  const QPoint home = point_centre();
  drag(home, home + QPoint(-80, 40));
  const QPoint moved = point_centre();
  EXPECT_LT(moved.x(), home.x() - 40);
  EXPECT_GT(moved.y(), home.y() + 20);
  EXPECT_TRUE(dialogs.asked.isEmpty());
  ASSERT_TRUE(run(kCmdEditUndo));
  EXPECT_EQ(point_centre(), home);
  ASSERT_TRUE(run(kCmdEditRedo));
  EXPECT_EQ(point_centre(), moved);
  ASSERT_TRUE(run(kCmdReset));
  EXPECT_EQ(point_centre(), home);
  // A menu entry of the application changes its state: the curve flips.
  drag(home, home + QPoint(0, -30));
  const int top = point_centre().y();
  ASSERT_TRUE(app->commands()->dispatch(kCmdAppFirst));  // "Flip Curve"
  EXPECT_GT(point_centre().y(), top + 30);
}

// Moves that queue up while a step draws (a burst read at once) become one
// step to the latest of them: one drawing, and the point where a drag
// straight there puts it. A burst right after the press, inside the mouse
// rate, still ends there once the rate allows the step.
TEST_F(Program, QueuedMovesBecomeOneStepToTheLatest) {
  start(QStringLiteral(TN_DEMO_PROGRAM));
  const QPoint home = point_centre(), to = home + QPoint(-80, 40);
  drag(home, to);
  const QPoint straight = point_centre();
  ASSERT_TRUE(run(kCmdEditUndo));
  ASSERT_EQ(point_centre(), home);
  struct Case {
    bool wait_after_press;
    int64_t most_renders;  // the burst's step, and one again after a drop by the mouse rate
  };
  for (const Case& c : {Case{true, 1}, Case{false, 2}}) {
    SCOPED_TRACE(c.wait_after_press);
    send_mouse(view(), QEvent::MouseButtonPress, home, Qt::LeftButton, Qt::LeftButton);
    if (c.wait_after_press) std::this_thread::sleep_for(kMouseStep);
    const int64_t before = view()->renders();
    constexpr int kBurst = 8;
    for (int k = 1; k <= kBurst; ++k) {
      const QPointF p = home + (to - home) * k / kBurst;
      QCoreApplication::postEvent(view(), new QMouseEvent(QEvent::MouseMove, p, view()->mapToGlobal(p), Qt::NoButton,
                                                          Qt::LeftButton, Qt::NoModifier));
    }
    // Long enough for a move the mouse rate dropped to be tried again.
    for (int k = 0; k < 10; ++k) {
      QApplication::processEvents();
      std::this_thread::sleep_for(kMouseStep / 2);
    }
    EXPECT_GE(view()->renders() - before, 1);
    EXPECT_LE(view()->renders() - before, c.most_renders);
    send_mouse(view(), QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(colour_box(view()->back_buffer(), kPoint).center(), straight);
    ASSERT_TRUE(run(kCmdEditUndo));
    ASSERT_EQ(point_centre(), home);
  }
}

// The whole of a drag read at once, as a view busy drawing reads it: the
// hover that brought the pointer there, the press, the moves and the
// release. The step to the last move comes inside the mouse rate after the
// hover; the release waits for it, so the point ends where the pointer did,
// as after a drag at a hand's pace, and one Undo takes the drag back.
TEST_F(Program, AWholeDragReadAtOnceEndsWhereThePointerDid) {
  start(QStringLiteral(TN_DEMO_PROGRAM));
  const QPoint home = point_centre(), to = home + QPoint(-80, 40);
  send_mouse(view(), QEvent::MouseMove, home, Qt::NoButton, Qt::NoButton);
  send_mouse(view(), QEvent::MouseButtonPress, home, Qt::LeftButton, Qt::LeftButton);
  send_mouse(view(), QEvent::MouseMove, home + QPoint(-40, 20), Qt::NoButton, Qt::LeftButton);
  send_mouse(view(), QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
  send_mouse(view(), QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
  for (int tick = 0; tick < 100 && view()->dragging(); ++tick) {
    std::this_thread::sleep_for(kMouseStep / 2);
    QApplication::processEvents();
  }
  EXPECT_FALSE(view()->dragging());
  const QPoint whole = point_centre();
  ASSERT_TRUE(run(kCmdEditUndo));
  EXPECT_EQ(point_centre(), home);
  drag(home, to);
  EXPECT_EQ(whole, point_centre());
  EXPECT_TRUE(dialogs.asked.isEmpty()) << dialogs.asked.join("\n").toStdString();
}

TEST_F(Program, CopyGivesSvgAndPngAndLeavesTheScreen) {
  start(QStringLiteral(TN_DEMO_PROGRAM));
  const QImage before = screen();
  ASSERT_TRUE(run(kCmdEditCopy));
  const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
  ASSERT_TRUE(mime);
  ASSERT_TRUE(mime->hasFormat(QStringLiteral("image/svg+xml")));
  ASSERT_TRUE(mime->hasFormat(QStringLiteral("image/png")));
  EXPECT_TRUE(mime->data(QStringLiteral("image/svg+xml")).contains("<svg"));
  const QImage png = QImage::fromData(mime->data(QStringLiteral("image/png")), "PNG");
  ASSERT_FALSE(png.isNull());
  double x0 = 0, x1 = 0, y0 = 0, y1 = 0;
  inst_subplot_frame(app->host()->block(), 0, &x0, &x1, &y0, &y1);
  EXPECT_EQ(png.size(), QSize(int(x1 - x0), int(y1 - y0)));
  EXPECT_FALSE(colour_box(png, kCurve).isEmpty());
  EXPECT_EQ(screen(), before);
}

TEST_F(Program, PrintsOnePageOfPdf) {
  start(QStringLiteral(TN_DEMO_PROGRAM));
  const QImage before = screen();
  QPrinter printer(QPrinter::HighResolution);
  printer.setResolution(300);
  printer.setOutputFormat(QPrinter::PdfFormat);
  const QString pdf = dir.path() + "/figure.pdf";
  printer.setOutputFileName(pdf);
  view()->print_to(&printer);
  QFile f(pdf);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray bytes = f.readAll();
  EXPECT_TRUE(bytes.startsWith("%PDF"));
  EXPECT_EQ(bytes.count("/Type /Page\n") + bytes.count("/Type /Page "), 1);
  EXPECT_EQ(screen(), before);
}

// A page is drawn as a screen of larger pixels: the text is set in the
// 10-point printer font and the point's mark grows with it, at any resolution.
TEST_F(Program, PrintedTextIsTenPointAndMarksScaleWithIt) {
  start(QStringLiteral(TN_DEMO_PROGRAM));
  const QImage before = screen();
  const QRect mark = colour_box(before, kPoint);
  ASSERT_FALSE(mark.isEmpty());
  constexpr double kMetresPerInch = 0.0254;
  for (int dpi : {300, 600}) {
    SCOPED_TRACE(dpi);
    const double unit = print_unit(dpi);
    const double ten_points = 10.0 * dpi / 72.0;  // in device pixels
    EXPECT_NEAR(unit * std::round(10.0 * 96 / 72), std::round(ten_points), 1e-9);
    QImage page(int(5 * dpi), int(3.5 * dpi), QImage::Format_RGB32);
    page.setDotsPerMeterX(int(std::lround(dpi / kMetresPerInch)));
    page.setDotsPerMeterY(page.dotsPerMeterX());
    page.fill(Qt::white);
    view()->print_page(&page, page.rect(), dpi);
    const QRect printed = colour_box(page, kPoint);
    ASSERT_FALSE(printed.isEmpty());
    EXPECT_NEAR(printed.width(), mark.width() * unit, 1.5 * unit);
    EXPECT_NEAR(printed.height(), mark.height() * unit, 1.5 * unit);
    // The x tick labels, between the plot frame and the subplot's bottom:
    // their digits are about 0.7 of the font's size.
    const Subplot& s = inst_find_by_id(app->host()->block(), 0)->subplots[0];
    QRect labels;
    for (int y = int((s.frameBottom + 2) * unit); y < int(s.rectBottom * unit); ++y)
      for (int x = int(s.frameLeft * unit); x < int(s.frameRight * unit); ++x)
        if (qGray(page.pixel(x, y)) < 128) labels |= QRect(x, y, 1, 1);
    EXPECT_GT(labels.height(), 0.55 * ten_points);
    EXPECT_LT(labels.height(), 0.9 * ten_points);
  }
  view()->relayout();
  EXPECT_EQ(screen(), before);
}

// Interactive Figure Highlight: the demo's figure takes the mouse, so with
// the preference on its axes take the interactive style (red, like the
// point) at once; off, only the point is red.
TEST_F(Program, InteractiveHighlightShowsOnTheFigureAtOnce) {
  start(QStringLiteral(TN_DEMO_PROGRAM));
  const QRect point = colour_box(screen(), kPoint);
  ASSERT_FALSE(point.isEmpty());
  ASSERT_TRUE(run(kCmdPrefHighlight));
  EXPECT_EQ(settings->read_int(QStringLiteral("InteractiveHilight"), -1), 1);
  EXPECT_EQ(app->commands()->state_of(kCmdPrefHighlight).check(), kCheckOn);
  const QRect lit = colour_box(screen(), kPoint);
  EXPECT_TRUE(lit.contains(point));
  EXPECT_GT(lit.width(), view()->width() / 2);  // the axes' frame
  ASSERT_TRUE(run(kCmdPrefHighlight));
  EXPECT_EQ(colour_box(screen(), kPoint), point);
}

TEST_F(Program, AResizeLaysOutAgainAMoveDoesNot) {
  start(QStringLiteral(TN_DEMO_PROGRAM));
  auto frame = [this] {
    double x0 = 0, x1 = 0, y0 = 0, y1 = 0;
    inst_subplot_frame(app->host()->block(), 0, &x0, &x1, &y0, &y1);
    return QRectF(QPointF(x0, y0), QPointF(x1, y1));
  };
  const QRectF before = frame();
  app->main_frame()->move(app->main_frame()->pos() + QPoint(5, 5));
  QApplication::processEvents();
  EXPECT_EQ(frame(), before);
  app->main_frame()->resize(app->main_frame()->width() + 1, app->main_frame()->height());
  QApplication::processEvents();
  EXPECT_EQ(view()->back_buffer().width(), view()->width());
  EXPECT_EQ(frame().right(), before.right() + 1);
}

// Moving the curve's subplot with the Select tool across a 2 x 2 grid, by
// way of another cell, leaves exactly the subplots there were: the curve in
// its new cell and three empty ones; Undo gives the figure back pixel for
// pixel.
TEST_F(Program, AFrameMoveLeavesNoPhantomSubplots) {
  start(QStringLiteral(TN_DEMO_PROGRAM));
  ASSERT_TRUE(run(kCmdLayoutFirst + 3));  // 2 x 2
  ASSERT_TRUE(run(kCmdToolLast));         // Select
  // A click selects the subplot (its mark shows); the move starts from there.
  const QRect curve = colour_box(screen(), kCurve);
  ASSERT_LT(curve.right(), view()->width() / 2);
  const QPoint from = curve.center();
  send_mouse(view(), QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
  send_mouse(view(), QEvent::MouseButtonRelease, from, Qt::LeftButton, Qt::NoButton);
  const QImage before = screen();
  // Through the bottom-left cell to the bottom-right one.
  const QPoint by(from.x(), from.y() + view()->height() / 2), to(from.x() + view()->width() / 2, by.y());
  send_mouse(view(), QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
  for (QPoint p : {by, to}) {
    std::this_thread::sleep_for(kMouseStep);
    send_mouse(view(), QEvent::MouseMove, p, Qt::NoButton, Qt::LeftButton);
  }
  send_mouse(view(), QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
  const QImage after = screen();
  const InstanceRec* rec = inst_find_by_id(app->host()->block(), 0);
  ASSERT_NE(rec, nullptr);
  for (int k = 0; k < 4; ++k) {
    const Subplot& s = rec->subplots[k];
    EXPECT_EQ(s.handlerWords[kSubplotFigureWord] == kEmptyFigure, k != 3) << "cell " << k;
    if (k != 3) EXPECT_FALSE(s.hasContent) << "cell " << k;
  }
  // The curve moved whole; the cells it left look as the empty ones did.
  EXPECT_EQ(colour_box(after, kCurve), curve.translated(to - from));
  const int w = view()->width() / 2, h = view()->height() / 2;
  EXPECT_TRUE(after.copy(0, 0, w, h) == before.copy(w, 0, w, h));
  EXPECT_TRUE(after.copy(0, h, w, h) == before.copy(w, h, w, h));
  ASSERT_TRUE(run(kCmdEditUndo));
  EXPECT_TRUE(screen() == before);
}

// Zooms, drags and a menu command between them on the demo, drawn on the
// screen with Qt: each Undo gives back the picture before its step, pixel for
// pixel, down to the first one, and each Redo the picture after it.
TEST_F(Program, ZoomsAndDragsUndoAndRedoPixelForPixel) {
  start(QStringLiteral(TN_DEMO_PROGRAM));
  std::vector<QImage> pictures{screen()};
  const QPoint c = colour_box(pictures[0], kCurve).center();
  const auto step = [&](int tool, QPoint from, QPoint to) {
    if (tool) {
      ASSERT_TRUE(run(tool));
      drag(c + from, c + to);
    } else {
      ASSERT_TRUE(app->commands()->dispatch(kCmdAppFirst));  // "Flip Curve"
    }
    pictures.push_back(screen());
    ASSERT_FALSE(pictures.back() == pictures[pictures.size() - 2]) << "step " << pictures.size() - 1;
  };
  const int zoom = kCmdToolFirst + 1, zoom_x = kCmdToolFirst + 2, pan = kCmdToolFirst + 3;
  step(zoom, QPoint(-90, -50), QPoint(60, 40));
  step(pan, QPoint(0, 0), QPoint(40, 25));
  step(0, QPoint(), QPoint());
  step(zoom_x, QPoint(-70, 0), QPoint(30, 10));
  step(pan, QPoint(10, 10), QPoint(-30, -20));
  for (size_t k = pictures.size() - 1; k > 0; --k) {
    ASSERT_TRUE(run(kCmdEditUndo));
    EXPECT_TRUE(screen() == pictures[k - 1]) << "undo of step " << k;
  }
  EXPECT_FALSE(rt_can_undo(app->host()->block(), 0));
  for (size_t k = 1; k < pictures.size(); ++k) {
    ASSERT_TRUE(run(kCmdEditRedo));
    EXPECT_TRUE(screen() == pictures[k]) << "redo of step " << k;
  }
}

// A figure font chosen while the program runs draws the figure at once, laid
// out as a start with that font lays it out, and a resize there and back
// lays it out the same way again.
TEST_F(Program, AFigureFontTakesAtOnceAsAStartWithItWould) {
  start(QStringLiteral(TN_DEMO_PROGRAM));
  const QImage before = screen();
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(19);
  settings->write_string(QStringLiteral("FigFontName"), font.family());
  settings->write_int(QStringLiteral("FigFontSize"), -font.pixelSize());
  view()->set_figure_font(font);
  QApplication::processEvents();
  const QImage changed = screen();
  EXPECT_TRUE(changed != before);
  const QSize size = app->main_frame()->size();
  app->main_frame()->resize(size + QSize(1, 1));
  QApplication::processEvents();
  app->main_frame()->resize(size);
  QApplication::processEvents();
  EXPECT_TRUE(screen() == changed) << "a resize laid the figure out otherwise";
  app.reset();
  start(QStringLiteral(TN_DEMO_PROGRAM));
  EXPECT_TRUE(screen() == changed) << "a start with the font lays the figure out otherwise";
}

TEST_F(Program, AFailingDragHandlerShowsOneMessage) {
  const QString packed = pack(dir,
                              "instance demo\ntitle \"Broken\"\nvar px\nvar py\ninit [px, py] = demo_init()\n"
                              "figure \"F\"\nplot demo_plot(px, py)\ndrag 1 [px, py] = demo_drag(_x, _y)\n",
                              "function [px, py] = demo_init()\n  px = 5; py = 1;\nendfunction\n"
                              "function demo_plot(px, py)\n  scale([0 10 -2 2]);\n  plot(px, py, 'ro', 1);\n"
                              "endfunction\n"
                              "function [px, py] = demo_drag(x, y)\n  error('no drag today');\nendfunction\n");
  start(packed);
  const QPoint home = point_centre();
  drag(home, home + QPoint(-40, 20));
  ASSERT_EQ(dialogs.asked.size(), 1) << dialogs.asked.join("\n").toStdString();
  EXPECT_TRUE(dialogs.asked[0].contains("no drag today")) << dialogs.asked[0].toStdString();
  EXPECT_EQ(point_centre(), home);
}

// A drag held while the window is resized ends with the point under the
// pointer, as the same drag without a resize does: the axes the plot handler
// fixes keep their data range on the new rectangle while the drag marks them.
TEST_F(Program, ADragHeldAcrossAResizeEndsUnderThePointer) {
  const QString packed = pack(dir,
                              "instance demo\ntitle \"Resize\"\nvar px\nvar py\ninit [px, py] = demo_init()\n"
                              "figure \"F\"\nplot demo_plot(px, py)\ndrag 1 [px, py] = demo_drag(_x1, _y1)\n",
                              "function [px, py] = demo_init()\n  px = 5; py = 5;\nendfunction\n"
                              "function demo_plot(px, py)\n  scale([0 10 0 10]);\n  plot(px, py, 'ro', 1);\n"
                              "endfunction\n"
                              "function [px, py] = demo_drag(x, y)\n  px = x; py = y;\nendfunction\n");
  start(packed);
  // The mark's centre lies where the drag without a resize leaves it beside
  // the pointer; after a resize it may differ by a pixel's rounding.
  QPoint beside;
  for (const QSize grow : {QSize(0, 0), QSize(240, 160), QSize(-300, -200)}) {
    const QPoint from = point_centre(), to = from + QPoint(-30, 20);
    send_mouse(view(), QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    app->main_frame()->resize(app->main_frame()->size() + grow);
    QApplication::processEvents();
    std::this_thread::sleep_for(kMouseStep);
    send_mouse(view(), QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    send_mouse(view(), QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
    for (int tick = 0; tick < 100 && view()->dragging(); ++tick) {
      std::this_thread::sleep_for(kMouseStep / 2);
      QApplication::processEvents();
    }
    const QPoint off = point_centre() - to;
    if (grow.isNull()) {
      beside = off;
      EXPECT_LE(off.manhattanLength(), 2);
    }
    EXPECT_LE(std::abs(off.x() - beside.x()), 1) << "grown by " << grow.width() << " x " << grow.height();
    EXPECT_LE(std::abs(off.y() - beside.y()), 1) << "grown by " << grow.width() << " x " << grow.height();
  }
  EXPECT_TRUE(dialogs.asked.isEmpty()) << dialogs.asked.join("\n").toStdString();
}

// A figure-only instance whose commands lay out two cells with subplot and
// read the frames back in the same run: subplotpos gives the first cell as
// the new grid lays it out in the window, at start and after Reset Data.
TEST_F(Program, SubplotposAfterSubplotGivesTheCellInTheWindow) {
  const QString packed = pack(dir,
                              "instance demo\n"
                              "commands \"subplot(2, 1, 1); p = subplotpos(); "
                              "title(sprintf('%.9g %.9g %.9g %.9g', p(1, :))); plot([0 10], [0 0], 'b');\"\n"
                              "title \"Cells\"\n",
                              "");
  start(packed);
  auto check = [this](const char* when) {
    screen();
    RuntimeBlock* b = app->host()->block();
    const InstanceRec* rec = inst_find_by_id(b, 0);
    ASSERT_NE(rec, nullptr);
    double gx = 0, gy = 0;
    rt_grid_steps(b, &gx, &gy);
    const double width = rec->frame[1] - rec->frame[0], height = rec->frame[3] - rec->frame[2];
    ASSERT_EQ(width, view()->width()) << when;
    double p[4] = {-1, -1, -1, -1};
    ASSERT_EQ(std::sscanf(std::string(rec->subplots[0].title, sizeof rec->subplots[0].title).c_str(),
                          "%lf %lf %lf %lf", &p[0], &p[1], &p[2], &p[3]),
              4)
        << when;
    const double cell[4] = {0, width / gx, 0, height / 2 / gy};
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(p[k], cell[k], 1e-6) << when << ", column " << k + 1;
  };
  check("at start");
  ASSERT_TRUE(run(kCmdReset));
  check("after Reset Data");
}

// A declared free layout with uneven springs, which do not retrace their way
// back from another size: six copies, and a printed page as Print Preview
// draws it, leave every frame and the picture as they were.
TEST_F(Program, CopiesAndPagesLeaveAFreeLayoutWhereItWas) {
  const QString packed =
      pack(dir,
           "instance demo\ntitle \"Springs\"\nvar x\n"
           "declare \"_plots = sprintf('A\\tB'); _plotpos = [2 22 2 14; 25 45 16 30]; "
           "_plotspring = [0.25 0.5 0.75 0.25 0.5 0.75; 0.8 0.3 0.6 0.9 0.2 0.5];\"\n"
           "figure \"A\"\nplot demo_a()\nfigure \"B\"\nplot demo_b()\n",
           "function demo_a()\n  scale([0 1 0 1]);\n  plot(0.5, 0.5, 'ro', 1);\nendfunction\n"
           "function demo_b()\n  scale([0 10 -1 1]);\n  plot([0 10], [0 0], 'b');\nendfunction\n");
  start(packed);
  using Frames = std::vector<double>;
  auto frames = [this] {
    Frames out;
    const InstanceRec* rec = inst_find_by_id(app->host()->block(), 0);
    if (!rec) return out;
    out.assign(rec->frame, rec->frame + 4);
    for (int k = 0; k < rec->rows * rec->cols; ++k) {
      const Subplot& s = rec->subplots[k];
      for (double v : {s.rectLeft, s.rectRight, s.rectTop, s.rectBottom, s.frameLeft, s.frameRight, s.frameTop,
                       s.frameBottom, s.xOffset, s.xScale, s.yOffset, s.yScale})
        out.push_back(v);
    }
    return out;
  };
  const QImage before = screen();
  const Frames laid_out = frames();
  ASSERT_EQ(laid_out.size(), 4u + 2 * 12);
  ASSERT_TRUE(inst_find_by_id(app->host()->block(), 0)->free_layout);
  for (int copy = 1; copy <= 6; ++copy) {
    ASSERT_TRUE(run(kCmdEditCopy));
    EXPECT_EQ(frames(), laid_out) << "copy " << copy;
  }
  EXPECT_TRUE(screen() == before);
  QPrinter printer(QPrinter::HighResolution);
  printer.setResolution(300);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(dir.path() + "/springs.pdf");
  view()->print_to(&printer);
  EXPECT_EQ(frames(), laid_out) << "after the page";
  EXPECT_TRUE(screen() == before);
}

// Standard error written while fn runs.
template <class Fn>
std::string stderr_of(const QTemporaryDir& dir, Fn fn) {
  const std::string path = dir.path().toStdString() + "/stderr.txt";
  std::fflush(stderr);
  const int saved = dup(2);
  FILE* out = std::fopen(path.c_str(), "w");
  dup2(fileno(out), 2);
  fn();
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  std::fclose(out);
  QFile f(QString::fromStdString(path));
  return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}

// An error raised inside a built-in that a handler called (feval of an
// undefined function, a failing call through a function handle) shows in
// its box the report that standard error shows, naming what failed.
TEST_F(Program, AHandlersErrorBoxShowsTheReportOfStandardError) {
  const QString packed = pack(dir,
                              "instance demo\ntitle \"Feval\"\nvar n\ninit n = demo_init()\n"
                              "menutitle \"&App\"\nmenu \"&Missing\" n = demo_missing(n)\n"
                              "menu \"&Handle\" n = demo_handle(n)\nfigure \"F\"\nplot demo_plot(n)\n",
                              "function n = demo_init()\n  n = 0;\nendfunction\n"
                              "function demo_plot(n)\n  plot([0 1], [n n]);\nendfunction\n"
                              "function n = demo_missing(n)\n  n = feval('no_such_function_here', n);\nendfunction\n"
                              "function n = demo_handle(n)\n  f = @(x) ones(2, 3) * ones(2, 3);\n  n = f(n);\n"
                              "endfunction\n");
  start(packed);
  for (int item = 0; item < 2; ++item) {
    SCOPED_TRACE(item);
    dialogs.asked.clear();
    const std::string err = stderr_of(dir, [&] { ASSERT_TRUE(run(kCmdAppFirst + item)); });
    ASSERT_EQ(dialogs.asked.size(), 1);
    const std::string first_line = err.substr(0, err.find('\n'));
    ASSERT_FALSE(first_line.empty());
    EXPECT_NE(dialogs.asked[0].toStdString().find("|" + first_line + "|"), std::string::npos)
        << dialogs.asked[0].toStdString() << "\nstderr: " << err;
    if (item == 0) EXPECT_NE(first_line.find("no_such_function_here"), std::string::npos) << first_line;
  }
}

// A plot that grows the block from the first one on its way to the screen:
// the growth lines are all that standard error shows.
TEST_F(Program, APlotThatGrowsTheBlockPrintsOnlyTheGrowth) {
  const QString packed = pack(dir, "instance demo\ntitle \"Big\"\nfigure \"F\"\nplot demo_plot()\n",
                              "function demo_plot()\n  y = cumsum(rand(1, 400000));\n  plot(y);\nendfunction\n");
  const std::string err = stderr_of(dir, [&] { start(packed); });
  EXPECT_NE(err.find("TN memory expanded to"), std::string::npos) << err;
  for (size_t at = 0; at < err.size();) {
    const size_t end = std::min(err.find('\n', at), err.size());
    if (end > at) EXPECT_EQ(err.compare(at, 21, "TN memory expanded to"), 0) << err.substr(at, end - at);
    at = end + 1;
  }
  EXPECT_TRUE(dialogs.asked.isEmpty()) << dialogs.asked.join("\n").toStdString();
}

// Memory that runs out while the figure is drawn: the window says so once,
// as it shows a handler's failure, and keeps what it could draw; a drawing
// that succeeds again re-arms the message.
// Ten thousand blue rings and a red line drawn after them: the rings need
// more drawing room than 64 KB.
QString pack_rings(const QTemporaryDir& dir) {
  return pack(dir, "instance demo\ntitle \"Rings\"\nfigure \"F\"\nplot demo_plot()\n",
              "function demo_plot()\n  circle(rand(1, 10000), rand(1, 10000), 0.01 * ones(1, 10000), 'b');\n"
              "  plot([0 1], [0 1], 'r');\nendfunction\n");
}

TEST_F(Program, MemoryThatRunsOutWhileDrawingIsToldOnce) {
  const QString packed = pack_rings(dir);
  {
    const DrawRoomBound bound(65536);
    start(packed);
    const QImage bounded = screen();
    QApplication::processEvents();
    ASSERT_EQ(dialogs.asked.size(), 1) << dialogs.asked.join("\n").toStdString();
    EXPECT_TRUE(dialogs.asked[0].contains("memory")) << dialogs.asked[0].toStdString();
    EXPECT_FALSE(colour_box(bounded, kPoint).isEmpty());  // the line after the circles
    EXPECT_TRUE(colour_box(bounded, kCurve).isEmpty());   // no circle
    screen();
    QApplication::processEvents();
    EXPECT_EQ(dialogs.asked.size(), 1);  // not again for the same figure
  }
  EXPECT_FALSE(colour_box(screen(), kCurve).isEmpty());
  QApplication::processEvents();
  EXPECT_EQ(dialogs.asked.size(), 1);
  const DrawRoomBound bound(65536);
  screen();
  QApplication::processEvents();
  EXPECT_EQ(dialogs.asked.size(), 2);
}

// A page or a copy that runs out of memory while it draws says so, as the
// window does after a paint, each time; one drawn whole says nothing.
TEST_F(Program, MemoryThatRunsOutWhilePrintingOrCopyingIsTold) {
  start(pack_rings(dir));
  screen();
  QApplication::processEvents();
  ASSERT_TRUE(dialogs.asked.isEmpty()) << dialogs.asked.join("\n").toStdString();
  QImage page(1500, 1050, QImage::Format_RGB32);
  const std::pair<const char*, std::function<void()>> outputs[] = {
      {"print", [&] { view()->print_page(&page, page.rect(), 300); }},
      {"copy", [&] { view()->on_edit_copy(); }},
  };
  for (const auto& [what, output] : outputs) {
    SCOPED_TRACE(what);
    const qsizetype told = dialogs.asked.size();
    output();
    QApplication::processEvents();
    EXPECT_EQ(dialogs.asked.size(), told);
    for (int again = 1; again <= 2; ++again) {
      {
        const DrawRoomBound bound(65536);
        output();
      }
      QApplication::processEvents();
      ASSERT_EQ(dialogs.asked.size(), told + again) << dialogs.asked.join("\n").toStdString();
      EXPECT_TRUE(dialogs.asked.back().contains("overflow") || dialogs.asked.back().contains("memory"))
          << dialogs.asked.back().toStdString();
    }
  }
  // The window itself drew whole all along.
  EXPECT_FALSE(colour_box(screen(), kCurve).isEmpty());
  QApplication::processEvents();
  EXPECT_EQ(dialogs.asked.size(), 4);
}

// A plot past MemMax: the handler's memory runs out, and the window says so
// rather than show an empty figure with the reason on standard error alone.
TEST_F(Program, APlotPastMemMaxIsToldInTheWindow) {
  settings->write_int(QStringLiteral("MemMax"), 16 << 20);
  const QString packed = pack(dir, "instance demo\ntitle \"Huge\"\nfigure \"F\"\nplot demo_plot()\n",
                              "function demo_plot()\n  plot(1:1000000, rand(1, 1000000));\nendfunction\n");
  const std::string err = stderr_of(dir, [&] { start(packed); });
  screen();
  QApplication::processEvents();
  ASSERT_EQ(dialogs.asked.size(), 1) << dialogs.asked.join("\n").toStdString() << "\nstderr: " << err;
  EXPECT_TRUE(dialogs.asked[0].contains("overflow") || dialogs.asked[0].contains("memory"))
      << dialogs.asked[0].toStdString();
}

TEST_F(Program, AHandlerCallingQuitClosesTheWindow) {
  const QString packed = pack(dir,
                              "instance demo\ntitle \"Quitter\"\nvar n\ninit n = demo_init()\n"
                              "menutitle \"&App\"\nmenu \"&Quit\" n = demo_quit(n)\nfigure \"F\"\n"
                              "plot demo_plot(n)\n",
                              "function n = demo_init()\n  n = 0;\nendfunction\n"
                              "function demo_plot(n)\n  plot([0 1], [n n]);\nendfunction\n"
                              "function n = demo_quit(n)\n  drawnow;\n  quit;\n  n = n + 1;\nendfunction\n");
  start(packed);
  ASSERT_TRUE(app->main_frame()->isVisible());
  ASSERT_TRUE(run(kCmdAppFirst));
  EXPECT_TRUE(dialogs.asked.isEmpty()) << dialogs.asked.join("\n").toStdString();
  QApplication::processEvents();
  EXPECT_FALSE(app->main_frame()->isVisible());
  EXPECT_NE(settings->read_int(QStringLiteral("WindowLeft"), -1), -1);  // closing saved the placement
}

// An application whose init handler left tasks alive when it was built (the
// builder keeps no clock; the program keeps 8 bytes a task clock state, and
// installs its clock and break poll before loading): the program opens with
// the application's title, and the tasks resume in its ticks: one that
// sleeps, one that waits on a semaphore, one that lets it go.
TEST_F(Program, TasksAliveInTheImageResumeAfterStartUp) {
  const QString packed = pack(dir,
                              "instance demo\ntitle \"Live Tasks\"\nvar n\ninit n = demo_init()\n"
                              "figure \"F\"\nplot demo_plot(n)\n",
                              "function n = demo_init()\n  s = semaphorenew();\n  semaphorelock(s);\n"
                              "  threadnew(@demo_sleeper);\n  threadnew(@demo_waiter, threadset(), s);\n"
                              "  threadnew(@demo_runner, threadset(), s);\n  n = 1;\nendfunction\n"
                              "function demo_sleeper()\n  threadsleep(0.2);\n  fprintf(2, 'slept\\n');\nendfunction\n"
                              "function demo_waiter(s)\n  semaphorelock(s);\n  fprintf(2, 'waited\\n');\nendfunction\n"
                              "function demo_runner(s)\n  fprintf(2, 'ran\\n');\n  semaphoreunlock(s);\nendfunction\n"
                              "function demo_plot(n)\n  plot([0 1], [n n]);\nendfunction\n");
  // The three tasks saved with the image each say so once they have run.
  const std::string err = stderr_of(dir, [&] {
    start(packed);
    EngineContext* c = rt_engine(app->host()->block());
    for (int k = 0; k < 500 && c->task_first != 0; ++k) {
      QApplication::processEvents();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  EXPECT_EQ(app->main_frame()->windowTitle(), QStringLiteral("Live Tasks - Tarnivel Runtime"));
  EXPECT_EQ(rt_engine(app->host()->block())->task_first, 0) << err;
  EXPECT_NE(err.find("ran\nwaited\n"), std::string::npos) << err;
  EXPECT_NE(err.find("slept\n"), std::string::npos) << err;
  EXPECT_TRUE(dialogs.asked.isEmpty()) << dialogs.asked.join("\n").toStdString();
}

// A damaged appended application (a header word out of its range, or cut
// inside a section) is refused: the window stays untitled, and standard
// error names the program, the status and its message.
TEST_F(Program, ARefusedApplicationSaysWhyOnStandardError) {
  const QString packed = pack(dir, "instance demo\ntitle \"Damaged\"\nfigure \"F\"\n", "");
  QFile file(packed);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray whole = file.readAll();
  file.close();
  // The image's first chunk (its 68-byte header) with no figure tool.
  const uint32_t block = tn::get_le32(reinterpret_cast<const uint8_t*>(whole.constData()) + whole.size() - 4);
  const uint32_t text = tn::get_le32(reinterpret_cast<const uint8_t*>(whole.constData()) + block);
  const int chunk = int(block + 4 + text + 1);
  const uint32_t packed_length = tn::get_le32(reinterpret_cast<const uint8_t*>(whole.constData()) + chunk);
  QByteArray header(kRuntimeImageHeaderBytes, 0);
  uLongf produced = uLongf(header.size());
  ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(header.data()), &produced,
                       reinterpret_cast<const Bytef*>(whole.constData()) + chunk + 4, packed_length),
            Z_OK);
  tn::put_le32(reinterpret_cast<uint8_t*>(header.data()) + kImgInteractionMode, 0);
  QByteArray again(int(compressBound(uLong(header.size()))), 0);
  uLongf again_length = uLongf(again.size());
  ASSERT_EQ(compress(reinterpret_cast<Bytef*>(again.data()), &again_length,
                     reinterpret_cast<const Bytef*>(header.constData()), uLong(header.size())),
            Z_OK);
  again.resize(int(again_length));
  QByteArray damaged = whole.left(chunk);
  uint8_t length[4];
  tn::put_le32(length, uint32_t(again.size()));
  damaged += QByteArray(reinterpret_cast<const char*>(length), 4) + again;
  damaged += whole.mid(chunk + 4 + int(packed_length));
  const QString path = dir.path() + "/damaged";
  QFile out(path);
  ASSERT_TRUE(out.open(QIODevice::WriteOnly));
  out.write(damaged);
  out.close();

  const std::string err = stderr_of(dir, [&] { start(path); });
  EXPECT_EQ(app->main_frame()->windowTitle(), QStringLiteral("Untitled - Tarnivel Runtime"));
  EXPECT_EQ(err, path.toStdString() +
                     ": the application appended to this program was not loaded: status 600, Initialization error\n");
  app.reset();
  // The same program undamaged loads without a word.
  const std::string quiet = stderr_of(dir, [&] { start(packed); });
  EXPECT_EQ(app->main_frame()->windowTitle(), QStringLiteral("Damaged - Tarnivel Runtime"));
  EXPECT_EQ(quiet, "");
}

// A program with nothing appended opens untitled without a word; one whose
// trailer or description is damaged (cut short, lost, pointing past the
// file, a description longer than the file) opens untitled too, and says
// why on standard error.
TEST_F(Program, WithoutAnApplicationTheWindowIsUntitled) {
  QFile demo(QStringLiteral(TN_DEMO_PROGRAM));
  ASSERT_TRUE(demo.open(QIODevice::ReadOnly));
  const QByteArray whole = demo.readAll();
  QFile bare_file(QStringLiteral(TN_BARE_PROGRAM));
  ASSERT_TRUE(bare_file.open(QIODevice::ReadOnly));
  const QByteArray bare = bare_file.readAll();
  auto word = [](uint32_t v) {
    char b[4];
    tn::put_le32(reinterpret_cast<uint8_t*>(b), v);
    return QByteArray(b, 4);
  };
  const std::string refused = ": the application appended to this program was not loaded: ";
  struct Row {
    const char* name;
    QByteArray file;
    std::string says;  // empty: nothing said
  } rows[] = {
      {"bare", bare, ""},
      {"cut", whole.left(whole.size() - 1000), "the "},
      {"lost trailer", whole.left(whole.size() - 4), "the "},
      {"offset past the end", bare + word(0) + word(uint32_t(bare.size() + 64)),
       "the trailer's block offset " + std::to_string(bare.size() + 64) + " lies past the end of the file"},
      {"huge description", bare + word(0xFFFFFFF0u) + word(uint32_t(bare.size())),
       "the description length 4294967280 runs past the end of the file"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const QString path = dir.path() + "/" + QString::fromLatin1(r.name);
    QFile out(path);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(r.file);
    out.close();
    const std::string err = stderr_of(dir, [&] { start(path); });
    if (r.says.empty()) EXPECT_EQ(err, "");
    else EXPECT_EQ(err.rfind(path.toStdString() + refused + r.says, 0), 0u) << err;
    EXPECT_EQ(err.find("status"), std::string::npos) << err;
    EXPECT_EQ(app->main_frame()->windowTitle(), QStringLiteral("Untitled - Tarnivel Runtime"));
    EXPECT_EQ(menu_texts(app->main_frame()->menuBar()),
              (QStringList{"&File", "&Edit", "F&igure", "&Layout", "&Help"}));
    screen();
    drag(QPoint(100, 100), QPoint(150, 120));
    app.reset();
  }
}

// The About box shows what a user reads of the application: its title,
// then its version and help texts as plain text, each where it gives one.
// A program packed when the description was the whole build description
// shows the same, from its loaded image.
TEST_F(Program, TheAboutBoxShowsTheApplicationsTexts) {
  struct Row {
    std::string tnd, about;
  } rows[] = {
      {"# The curves\ninstance demo\ntitle \"Curves\"\nversion \"Version 2.1\"\nhelp \"Drag the point.\"\n"
       "var x\nfigure \"F\"\n",
       "Curves\nVersion 2.1\nDrag the point."},
      {"instance demo\ntitle \"Plain\"\nfigure \"F\"\n", "Plain"},
      {"\n  instance demo\nversion \"Only a version\"\n", "Only a version"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.tnd);
    const QString packed = pack(dir, r.tnd, "");
    start(packed);
    EXPECT_EQ(app->document()->description().toStdString(), r.about);
    app.reset();
    // The same image with the build description as its description.
    tnbuild::Sections sections;
    std::string text, error;
    ASSERT_TRUE(tnbuild::build_application(dir.path().toStdString() + "/app.tnd", &sections, &text, &error)) << error;
    const std::string older = dir.path().toStdString() + "/older.packed";
    tnbuild::write_file(older, tnbuild::with_trailer({}, tnbuild::appended_block(sections, r.tnd)));
    start(QString::fromStdString(older));
    EXPECT_EQ(app->document()->description().toStdString(), r.about);
    app.reset();
  }
}

TEST(StartupSettings, ClampsAndDefaults) {
  QTemporaryDir dir;
  SettingsStore s(dir.path() + "/s.ini");
  StartupSettings d = startup_settings_read(s);
  EXPECT_EQ(d.mem_min, 8290304);
  EXPECT_EQ(d.mem_max, 134217728);
  EXPECT_EQ(d.background, 0xE5E5E5u);
  EXPECT_EQ(d.format_letter, 'g');
  EXPECT_EQ(d.imaginary, 'j');
  EXPECT_EQ(d.digits, 4);
  struct Row {
    const char* key;
    const char* value;
  };
  for (Row r : {Row{"MemMin", "0"}, Row{"MemMax", "1"}, Row{"CodeOptimization", "-1"}, Row{"FormatType", "2x"},
                Row{"FormatImagSymbol", "I"}})
    s.write_string(QString::fromLatin1(r.key), QString::fromLatin1(r.value));
  d = startup_settings_read(s);
  EXPECT_EQ(d.mem_min, 8290304);
  EXPECT_EQ(d.mem_max, 8290304);  // below MemMin: the block never grows
  EXPECT_NE(d.code_optimization, 0);
  EXPECT_EQ(d.format_letter, 'g');
  EXPECT_EQ(d.imaginary, 'j');
  s.write_string(QStringLiteral("MemMin"), QStringLiteral("2147483647"));
  EXPECT_EQ(startup_settings_read(s).mem_min, 2146435072);
}

// Every stored figure font height gives a font the drivers draw: its size
// in pixels, cut to 2048; 0 the fallback font.
TEST(FigureFontSetting, EveryStoredHeight) {
  struct Row {
    int32_t height;
    int pixels;  // 0: the fallback font, set in points
  } rows[] = {{-11, 11}, {11, 11}, {-1, 1}, {0, 0}, {-2048, 2048}, {2049, 2048},
              {INT32_MIN, 2048}, {INT32_MIN + 1, 2048}, {INT32_MAX, 2048}};
  for (const Row& r : rows) {
    const QFont f = figure_font_from_settings(QStringLiteral("DejaVu Sans"), r.height);
    if (r.pixels == 0) {
      EXPECT_EQ(f.pointSize(), 9) << r.height;
    } else {
      EXPECT_EQ(f.pixelSize(), r.pixels) << r.height;
    }
  }
}

// The program starts and draws with the extreme 32-bit values stored in
// every integer setting it reads at start-up (the block's sizes aside,
// whose clamps ClampsAndDefaults covers).
TEST_F(Program, StartsWithExtremeStoredSettings) {
  static const char* const kKeys[] = {"CodeOptimization", "DiscardAssert", "InteractiveHilight", "ThickLines",
                                      "BkColor", "FormatLoose", "FormatNDigits", "FigFontSize", "WindowFlags",
                                      "WindowShowCmd", "WindowLeft", "WindowRight", "WindowTop", "WindowBottom",
                                      "CmdPanelHeight"};
  for (const int32_t value : {INT32_MIN, int32_t(-1), INT32_MAX}) {
    SCOPED_TRACE(value);
    for (const char* key : kKeys) settings->write_int(QString::fromLatin1(key), value);
    start(QStringLiteral(TN_DEMO_PROGRAM));
    EXPECT_FALSE(colour_box(screen(), kCurve).isEmpty());
    EXPECT_LE(gdi_figure_font().pixelSize(), 2048);
    app.reset();
  }
}

// A damaged bar layout (its line count near 2^31) is refused before Qt's
// reader loops over it: the start takes no longer than a plain one and the
// tool bar stays where it was; an undamaged layout is still restored.
TEST_F(Program, ADamagedBarLayoutDoesNotStallTheStart) {
  start(QStringLiteral(TN_BARE_PROGRAM));
  QToolBar* bar = app->main_frame()->findChild<QToolBar*>();
  ASSERT_NE(bar, nullptr);
  bar->hide();
  QByteArray state = app->main_frame()->saveState();
  app.reset();
  settings->write_string(QStringLiteral("BarSettings"), QString::fromLatin1(state.toBase64()));
  start(QStringLiteral(TN_BARE_PROGRAM));
  EXPECT_TRUE(app->main_frame()->findChild<QToolBar*>()->isHidden());
  app.reset();
  const qsizetype lines = state.indexOf(char(0xfc)) + 1;
  ASSERT_GT(lines, 0);
  for (int i = 0; i < 4; ++i) state[lines + i] = char(i == 0 ? 0x7f : 0xff);
  settings->write_string(QStringLiteral("BarSettings"), QString::fromLatin1(state.toBase64()));
  const std::clock_t before = std::clock();
  start(QStringLiteral(TN_BARE_PROGRAM));
  EXPECT_LT(double(std::clock() - before) / CLOCKS_PER_SEC, 5.0);
  EXPECT_FALSE(app->main_frame()->findChild<QToolBar*>()->isHidden());
}

TEST_F(Program, APreferenceToggleIsReadAtTheNextStart) {
  start(QStringLiteral(TN_BARE_PROGRAM));
  ASSERT_TRUE(run(kCmdPrefThickLines));
  EXPECT_EQ(settings->read_int(QStringLiteral("ThickLines"), -1), 1);
  app.reset();
  start(QStringLiteral(TN_BARE_PROGRAM));
  EXPECT_EQ(get_app_option(), 1);
  ASSERT_TRUE(run(kCmdPrefThickLines));
  EXPECT_EQ(get_app_option(), 0);
}

// Closing the window saves the bar state, the placement and the number
// format: one rewrite of the file for all of them, and a key the program
// does not know stays. The save the application's end makes (when the
// window was not closed first) writes nothing again.
TEST_F(Program, ClosingRewritesTheSettingsFileOnce) {
  ASSERT_TRUE(settings->write_string(QStringLiteral("UserNote"), QStringLiteral("mine")));
  start(QStringLiteral(TN_BARE_PROGRAM));
  const int before = settings->file_writes();
  app->main_frame()->close();
  QApplication::processEvents();
  EXPECT_EQ(settings->file_writes(), before + 1);
  app->main_frame()->save_settings();
  EXPECT_EQ(settings->file_writes(), before + 1);
  SettingsStore file(settings->file_path());
  EXPECT_EQ(file.read_string(QStringLiteral("UserNote"), QString()), QStringLiteral("mine"));
  EXPECT_FALSE(file.read_string(QStringLiteral("BarSettings"), QString()).isEmpty());
  EXPECT_NE(file.read_int(QStringLiteral("WindowRight"), -1), -1);
  EXPECT_EQ(file.read_int(QStringLiteral("FormatNDigits"), -1), 4);
  EXPECT_EQ(file.read_string(QStringLiteral("FormatType"), QString()), QStringLiteral("g"));
}

// A resize while the plot handler works a second (its first run, at the
// start, is quick): the status bar shows
// "Running" and repaints the window meanwhile. Once the handler has ended,
// the view shows the line across the plot frame laid out in the new size:
// its right end moves with the frame's right edge (by the growth less the
// data's inner margins), y = 0 down by half the growth.
TEST_F(Program, AResizeWhileThePlotHandlerWorksEndsWithTheNewPicture) {
  const QString packed = pack(dir, "instance demo\ntitle \"Slow\"\nfigure \"F\"\nplot demo_plot()\n",
                              "function demo_plot()\n  global runs;\n  runs = [runs 1];\n"
                              "  for k = 1:1500 * (numel(runs) > 1)\n    s = sum(sqrt(1:1e5));\n"
                              "  end\n  scale([0 10 -1 1]);\n  plot([0 10], [0 0], 'b');\nendfunction\n");
  start(packed);
  const QRect before = colour_box(screen(), kCurve);
  ASSERT_FALSE(before.isEmpty());
  constexpr int kGrowW = 200, kGrowH = 100;
  const int64_t renders = view()->renders();
  app->main_frame()->resize(app->main_frame()->size() + QSize(kGrowW, kGrowH));
  // The picture as the window shows it: nothing here draws it again.
  for (int k = 0; k < 50 && view()->renders() == renders; ++k) {
    QApplication::processEvents();
    std::this_thread::sleep_for(kMouseStep);
  }
  QApplication::processEvents();
  EXPECT_EQ(view()->back_buffer().size(), view()->size());
  const QRect after = colour_box(view()->back_buffer(), kCurve);
  ASSERT_FALSE(after.isEmpty()) << "no line after the resize";
  EXPECT_GE(after.right(), before.right() + kGrowW * 94 / 100 - 1);
  EXPECT_LE(after.right(), before.right() + kGrowW);
  EXPECT_EQ(after.top(), before.top() + kGrowH / 2);
  EXPECT_EQ(after.height(), before.height());
}

// Shift under the drag tool turns the open hand into the cursor of a drag
// along x, and back when it is let go: the view reads Shift from the
// keyboard's state as it stands.
TEST_F(Program, ShiftUnderTheDragToolShowsTheDragAlongX) {
  start(QStringLiteral(TN_DEMO_PROGRAM));
  ASSERT_TRUE(run(kCmdToolFirst + 3));  // Drag
  QWidget* frame = app->main_frame();
  frame->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
  view()->setFocus();
  const QPoint centre = view()->rect().center();
  QCursor::setPos(view()->mapToGlobal(centre));
  send_mouse(view(), QEvent::MouseMove, centre, Qt::NoButton, Qt::NoButton);
  EXPECT_EQ(view()->cursor().shape(), Qt::OpenHandCursor);
  QTest::keyPress(frame->windowHandle(), Qt::Key_Shift, Qt::ShiftModifier);
  EXPECT_EQ(view()->cursor().shape(), Qt::SizeHorCursor);
  QTest::keyRelease(frame->windowHandle(), Qt::Key_Shift, Qt::NoModifier);
  EXPECT_EQ(view()->cursor().shape(), Qt::OpenHandCursor);
}

// The wheel's Shift reaches the wheel handler as `_m`, 1 with Shift held.
TEST_F(Program, TheWheelHandlerSeesShift) {
  const QString packed = pack(dir,
                              "instance demo\ntitle \"Wheel\"\nvar n\ninit n = demo_init()\nfigure \"F\"\n"
                              "plot demo_plot(n)\nwheel -1 n = demo_wheel(n, _m)\n",
                              "function n = demo_init()\n  n = 0;\nendfunction\n"
                              "function demo_plot(n)\n  scale([0 10 -1 1]);\n  plot([0 10], [0 0], 'b');\n"
                              "endfunction\n"
                              "function n = demo_wheel(n, m)\n  fprintf(2, 'wheel %d\\n', m);\n  n = n + 1;\n"
                              "endfunction\n");
  start(packed);
  const QPointF centre = QRectF(view()->rect()).center();
  const std::string err = stderr_of(dir, [&] {
    for (Qt::KeyboardModifiers m : {Qt::KeyboardModifiers(Qt::ShiftModifier), Qt::KeyboardModifiers()}) {
      QWheelEvent e(centre, view()->mapToGlobal(centre), QPoint(), QPoint(0, -120), Qt::NoButton, m,
                    Qt::NoScrollPhase, false);
      QApplication::sendEvent(view(), &e);
    }
  });
  EXPECT_EQ(err, "wheel 1\nwheel 0\n");
  EXPECT_TRUE(dialogs.asked.isEmpty()) << dialogs.asked.join("\n").toStdString();
}

// Starts an application whose catch-all key handler prints each key's code
// on standard error, runs `refusal` (ZVR lines that may fail) and counts the
// key; the view has the focus.
void start_key_counter(Program* t, const std::string& refusal, QWidget** frame) {
  const QString packed = pack(t->dir,
                              "instance demo\ntitle \"Keys\"\nvar n\ninit n = demo_init()\nfigure \"F\"\n"
                              "plot demo_plot(n)\nkey \"\" n = demo_key(n, _key)\n",
                              "function n = demo_init()\n  n = 0;\nendfunction\n"
                              "function demo_plot(n)\n  plot([0 1], [n n]);\nendfunction\n"
                              "function n = demo_key(n, key)\n  fprintf(2, 'key %d\\n', double(key));\n" +
                                  refusal + "  n = n + 1;\nendfunction\n");
  t->start(packed);
  *frame = t->app->main_frame();
  (*frame)->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(*frame));
  t->view()->setFocus();
}

// A catch-all key handler receives every key that no menu shortcut takes,
// by its character code: Tab and Shift+Tab (which would move the focus) as
// 9, Ctrl with a letter as its control code, the editing keys as theirs.
TEST_F(Program, ACatchAllKeyHandlerGetsTabAndControlLetters) {
  QWidget* frame = nullptr;
  ASSERT_NO_FATAL_FAILURE(start_key_counter(this, "", &frame));
  struct Key {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    int code;
  } const keys[] = {
      {Qt::Key_A, Qt::NoModifier, 'a'},          {Qt::Key_Tab, Qt::NoModifier, 9},
      {Qt::Key_Backtab, Qt::ShiftModifier, 9},   {Qt::Key_Q, Qt::ControlModifier, 17},
      {Qt::Key_B, Qt::ControlModifier, 2},       {Qt::Key_N, Qt::ControlModifier, 14},
      {Qt::Key_Backspace, Qt::NoModifier, 8},    {Qt::Key_Return, Qt::NoModifier, 13},
      {Qt::Key_Escape, Qt::NoModifier, 27},      {Qt::Key_Delete, Qt::NoModifier, 127},
  };
  std::string want;
  const std::string err = stderr_of(dir, [&] {
    for (const Key& k : keys) {
      QTest::keyClick(frame->windowHandle(), k.key, k.modifiers);
      want += "key " + std::to_string(k.code) + "\n";
    }
  });
  EXPECT_EQ(err, want);
  EXPECT_EQ(QApplication::focusWidget(), view());
}

// The shortcuts of the menu bar's items at any depth, with their texts.
void menu_shortcuts(const QWidget* menu, std::vector<std::pair<QKeySequence, QString>>* out) {
  for (const QAction* a : menu->actions()) {
    if (a->menu()) menu_shortcuts(a->menu(), out);
    for (const QKeySequence& k : a->shortcuts()) out->emplace_back(k, a->text());
  }
}

// One press, one run of a catch-all key handler, also for a Tab it refuses;
// a key any menu item binds is that command's even while it is disabled (a
// disabled shortcut hands its press to the view); Alt with a key is the
// menus' and the window manager's. Each key is followed by a letter the
// handler counts, so that every key's effect is told apart.
TEST_F(Program, AKeyHandlerRunsOncePerPressAndNeverForMenuOrAltKeys) {
  QWidget* frame = nullptr;
  ASSERT_NO_FATAL_FAILURE(start_key_counter(this, "  if key == 9 || key == 13\n    error('refused');\n  end\n", &frame));
  std::vector<std::pair<QKeySequence, QString>> bound;
  for (const QMenuBar* bar : frame->findChildren<QMenuBar*>()) menu_shortcuts(bar, &bound);
  QStringList names;
  for (const auto& [key, text] : bound) names << key.toString() + " " + text;
  EXPECT_TRUE(names.contains(QStringLiteral("Ctrl+Z &Undo")) && names.contains(QStringLiteral("Ctrl+Shift+Z &Redo")))
      << names.join(", ").toStdString();
  // Every command disabled, as Undo and Redo are with nothing to undo.
  std::vector<int> ran;
  app->commands()->route(0, std::numeric_limits<int>::max(), [&](int c) { ran.push_back(c); },
                         [](int, CommandState* st) { st->enable(false); });
  const std::string refused = "refused (_TN_demo/demo_key;10)\n";
  struct Press {
    QKeySequence key;
    std::string told;  // the handler's lines
  };
  std::vector<Press> presses = {
      {QKeySequence(Qt::Key_A), "key 97\n"},
      {QKeySequence(Qt::Key_Tab), "key 9\n" + refused},
      {QKeySequence(Qt::SHIFT | Qt::Key_Backtab), "key 9\n" + refused},
      {QKeySequence(Qt::Key_Return), "key 13\n" + refused},
      {QKeySequence(Qt::CTRL | Qt::Key_Q), "key 17\n"},  // bound by no menu
      {QKeySequence(Qt::ALT | Qt::Key_Q), ""},
      {QKeySequence(Qt::ALT | Qt::Key_K), ""},
      {QKeySequence(Qt::ALT | Qt::Key_1), ""},
      {QKeySequence(Qt::ALT | Qt::Key_Return), ""},
      {QKeySequence(Qt::ALT | Qt::Key_Left), ""},
      {QKeySequence(Qt::ALT | Qt::Key_Tab), ""},
      {QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_Z), ""},
  };
  for (const auto& [key, text] : bound) presses.push_back({key, ""});
  for (const Press& p : presses) {
    SCOPED_TRACE(p.key.toString().toStdString());
    const std::string err = stderr_of(dir, [&] {
      QTest::keySequence(frame->windowHandle(), p.key);
      QTest::keyClick(frame->windowHandle(), Qt::Key_B);
    });
    EXPECT_EQ(err, p.told + "key 98\n");
  }
  EXPECT_TRUE(ran.empty());
}

// Alt with a letter is no figure shortcut: Alt+K and Alt+M leave the layout
// as it is, K and M alone add a row and a column.
TEST_F(Program, AltWithALetterIsNoFigureShortcut) {
  start(QStringLiteral(TN_DEMO_PROGRAM));
  QWidget* frame = app->main_frame();
  frame->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
  view()->setFocus();
  auto grid = [&] {
    int32_t rows = 0, cols = 0;
    inst_get_grid(app->host()->block(), 0, &rows, &cols);
    return std::pair{rows, cols};
  };
  const auto [rows, cols] = grid();
  QTest::keyClick(frame->windowHandle(), Qt::Key_K, Qt::AltModifier);
  QTest::keyClick(frame->windowHandle(), Qt::Key_M, Qt::AltModifier);
  EXPECT_EQ(grid(), std::pair(rows, cols));
  QTest::keyClick(frame->windowHandle(), Qt::Key_K);
  QTest::keyClick(frame->windowHandle(), Qt::Key_M);
  EXPECT_EQ(grid(), std::pair(rows + 1, cols + 1));
}

TEST(Placement, RestoreRules) {
  const QRect small(0, 0, 800, 600), large(0, 0, 1280, 1024);
  struct Row {
    QRect desktop;
    StoredPlacement in;
    bool restored;
    int32_t left, top;
  } rows[] = {
      {small, {0, 1, 100, 100, 500, 400}, true, 100, 100},
      {small, {0, 1, 900, 100, 950, 400}, true, 768, 100},  // left moved back, right kept
      {small, {0, 1, 700, 100, 790, 400}, true, 700, 100},
      {small, {0, 1, 780, 590, 800, 600}, true, 768, 568},  // moved back by an icon's size
      {small, {0, 1, -1, 100, 500, 400}, false, 0, 0},
      {small, {0, 1, 500, 100, 400, 400}, false, 0, 0},   // inside out
      {small, {0, 1, 100, 400, 500, 300}, false, 0, 0},
      // Past 1000 pixels on either axis, on any screen.
      {large, {0, 1, 100, 100, 1200, 700}, false, 0, 0},
      {large, {0, 1, 100, 100, 900, 1001}, false, 0, 0},
      {large, {0, 1, 0, 0, 1000, 1000}, true, 0, 0},
  };
  for (Row r : rows) {
    StoredPlacement p = r.in;
    ASSERT_EQ(placement_restorable(&p, r.desktop, 32), r.restored) << r.in.left << "," << r.in.top << " to "
                                                                    << r.in.right << "," << r.in.bottom;
    if (r.restored) {
      EXPECT_EQ(p.left, r.left);
      EXPECT_EQ(p.top, r.top);
      EXPECT_EQ(p.right, r.in.right);
      EXPECT_EQ(p.bottom, r.in.bottom);
    }
  }
}

TEST(ViewTables, CursorsWheelAndMetafileUnits) {
  Qt::CursorShape s;
  ASSERT_TRUE(cursor_for_kind(9, &s));
  Qt::CursorShape t;
  ASSERT_TRUE(cursor_for_kind(10, &t));
  EXPECT_EQ(s, t);
  ASSERT_TRUE(cursor_for_kind(0, &s));
  ASSERT_TRUE(cursor_for_kind(8, &t));
  EXPECT_EQ(s, Qt::ArrowCursor);
  EXPECT_EQ(t, Qt::ArrowCursor);
  EXPECT_FALSE(cursor_for_kind(15, &s));
  EXPECT_EQ(wheel_notches(-120), 1.0);  // one notch towards the user
  EXPECT_EQ(wheel_notches(120), -1.0);
  EXPECT_EQ(pixels_to_himetric(100, 96), 2646);
}

}  // namespace
