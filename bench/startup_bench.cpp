// Start-up to the first figure: the program's start-up with the packed demo
// (settings, runtime block, the appended application, the main window) until
// its view has painted the figure once, beside a bare Qt program that opens
// one window and paints it once. Each run is its own process, so loading the
// libraries counts: at the end of the first paint the process prints the
// monotonic clock in seconds and leaves at once, without tearing down, and
// bench/startup.sh subtracts the time it started the process.
//   startup_bench PACKED_PROGRAM   |   startup_bare
// The bare program is this file built without the runtime (TN_STARTUP_BARE):
// it links Qt's widgets and nothing of ours, and its window has the size the
// program's main window takes where no placement is kept (800 x 600), so that
// both sides fill and flush as many pixels.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include <QApplication>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#ifndef TN_STARTUP_BARE
#include "host/app/tn_app.h"
#include "host/app/tn_view.h"
#include "platform/font_warmup.h"
#include "platform/settings_store.h"
#endif

namespace {

// Reports the clock and ends the process once the watched widget has
// painted: the filter sees the event first, so the report waits for the
// next turn of the event loop.
class FirstPaint : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint)
      QTimer::singleShot(0, [] {
        timespec t;
        clock_gettime(CLOCK_MONOTONIC, &t);
        std::printf("%.6f\n", double(t.tv_sec) + double(t.tv_nsec) * 1e-9);
        std::fflush(stdout);
        _exit(0);
      });
    return QObject::eventFilter(watched, event);
  }
};

class BareWindow : public QWidget {
 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), QColor(0xE5, 0xE5, 0xE5));
    p.drawLine(0, 0, width(), height());
  }
};

}  // namespace

int main(int argc, char** argv) {
#ifndef TN_STARTUP_BARE
  FontWarmup fonts;  // as the program's main does
#endif
  QApplication app(argc, argv);
  FirstPaint watcher;
#ifndef TN_STARTUP_BARE
  if (argc < 2) return 2;
  fonts.application_ready();
  QTemporaryDir dir;
  SettingsStore settings(dir.path() + QStringLiteral("/settings.ini"));
  TNApp tn(&settings, QString::fromLocal8Bit(argv[1]));
  tn.set_font_warmup(&fonts);
  if (!tn.init_instance()) return 1;
  tn.view()->installEventFilter(&watcher);
  return app.exec();
#else
  (void)argv;
  BareWindow window;
  window.resize(800, 600);
  window.installEventFilter(&watcher);
  window.show();
  return app.exec();
#endif
}
