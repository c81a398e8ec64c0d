// Main of the test executables that draw with Qt: the offscreen platform
// unless the caller chose one (the same pixels come out under X11), one
// QApplication for the whole run, and the bundled DejaVu Sans as the
// application font, so no result depends on the fonts a machine has.
// Before returning it ends the engine's workers and waits until they and the
// threads Qt started are gone, so that the leak check at exit never meets a
// thread that is still ending.
#include <gtest/gtest.h>

#include <time.h>

#include <cstdio>
#include <cstdlib>

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QThreadPool>

#include "engine/core/parallel_for.h"
#include "support/process_threads.h"
#include "support/qt_test_font.h"

// Qt and fontconfig keep caches for the life of the process that the leak
// checker of the sanitizer build would otherwise report.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\nleak:libQt6\nleak:libfreetype\nleak:libglib\nleak:libdbus\nleak:libxcb\nleak:libX11\n";
}

namespace {

constexpr int kThreadWaitMillis = 10000;

// Qt's threads (the X11 event reader, the global pool's workers) are
// detached: stopping them returns once each has said it is finished, while
// the thread itself is still ending. The leak checker that runs at exit
// stops and reads every thread of the process, and one that ends under it
// brings it down ("Tracer caught signal 11"), the more often the more loaded
// the machine. Only when the kernel no longer lists them is the exit safe.
void wait_for_threads(int count) {
  const timespec tick{0, 1000000};
  for (int waited = 0; waited < kThreadWaitMillis && process_thread_count() > count; ++waited)
    nanosleep(&tick, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // Threads started before main (a BLAS library's pool) stay to the end.
  const int threads_at_start = process_thread_count();
  int status = 0;
  {
    QApplication app(argc, argv);
    if (QFontDatabase::addApplicationFont(QStringLiteral(TN_TEST_FONT_FILE)) < 0) {
      std::fprintf(stderr, "cannot load the test font %s\n", TN_TEST_FONT_FILE);
      return 1;
    }
    QFont font(QString::fromLatin1(kTestFontFace));
    font.setPixelSize(kTestFontPixels);
    QApplication::setFont(font);
    ::testing::InitGoogleTest(&argc, argv);
    status = RUN_ALL_TESTS();
    QThreadPool::globalInstance()->waitForDone();
  }
  tn_parallel_for_stop();  // the engine's workers, started by a large elementwise loop
  wait_for_threads(threads_at_start);
  return status;
}
