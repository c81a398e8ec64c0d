// Main of the test executables that draw with Qt: the offscreen platform
// unless the caller chose one (the same pixels come out under X11), one
// QApplication for the whole run, and the bundled DejaVu Sans as the
// application font, so no result depends on the fonts a machine has.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include <QApplication>
#include <QFont>
#include <QFontDatabase>

#include "support/qt_test_font.h"

// Qt and fontconfig keep caches for the life of the process that the leak
// checker of the sanitizer build would otherwise report.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\nleak:libQt6\nleak:libfreetype\nleak:libglib\nleak:libdbus\nleak:libxcb\nleak:libX11\n";
}

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  if (QFontDatabase::addApplicationFont(QStringLiteral(TN_TEST_FONT_FILE)) < 0) {
    std::fprintf(stderr, "cannot load the test font %s\n", TN_TEST_FONT_FILE);
    return 1;
  }
  QFont font(QString::fromLatin1(kTestFontFace));
  font.setPixelSize(kTestFontPixels);
  QApplication::setFont(font);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
