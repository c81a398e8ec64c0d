// The stored bar layout: the window's own states are taken back and restored,
// every damaged form of them is refused before Qt reads it, and a refused
// value costs the restore no time (Qt's reader loops over a damaged count).
#include <gtest/gtest.h>

#include <ctime>

#include <QMainWindow>
#include <QStatusBar>
#include <QToolBar>

#include "platform/bar_state.h"

namespace {

// A window shaped like the program's frame: one tool bar and a status bar.
struct Frame {
  QMainWindow window;
  QToolBar* bar;
  Frame() {
    bar = window.addToolBar(QStringLiteral("Standard"));
    bar->setObjectName(QStringLiteral("ToolBar"));
    bar->addAction(QStringLiteral("New"));
    window.setStatusBar(new QStatusBar);
  }
};

// The offset of the tool-bar section's line count in the frame's state.
qsizetype line_count_at(const QByteArray& state) {
  qsizetype marker = state.indexOf(char(0xfc));
  if (marker < 0) marker = state.indexOf(char(0xfe));
  return marker < 0 ? -1 : marker + 1;
}

QByteArray with_word(QByteArray s, qsizetype at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = char(v >> (24 - 8 * i));
  return s;
}

TEST(BarState, OwnStatesAreRestored) {
  Frame saved;
  saved.window.resize(640, 480);
  saved.window.setCorner(Qt::TopLeftCorner, Qt::LeftDockWidgetArea);
  saved.bar->hide();
  saved.window.addToolBar(Qt::LeftToolBarArea, saved.bar);
  const QByteArray state = saved.window.saveState();
  Frame fresh;
  ASSERT_TRUE(bar_state_fits(state));
  ASSERT_TRUE(bar_state_restore(&fresh.window, state));
  EXPECT_EQ(fresh.window.toolBarArea(fresh.bar), Qt::LeftToolBarArea);
  EXPECT_TRUE(fresh.bar->isHidden());
  EXPECT_TRUE(bar_state_fits(fresh.window.saveState()));
}

TEST(BarState, DamagedStatesAreRefusedAtOnce) {
  Frame f;
  const QByteArray own = f.window.saveState();
  const qsizetype lines = line_count_at(own);
  ASSERT_GT(lines, 0);
  // Every cut-short value, and the whole one with a byte more.
  for (qsizetype n = 0; n < own.size(); ++n) EXPECT_FALSE(bar_state_fits(own.left(n))) << n;
  EXPECT_FALSE(bar_state_fits(own + char(0)));
  const struct {
    const char* what;
    QByteArray value;
  } rows[] = {
      {"huge line count", with_word(own, lines, 0x7fffffff)},
      {"negative line count", with_word(own, lines, 0x80000000)},
      {"area past the last", with_word(own, lines + 4, 4)},
      {"huge bar count", with_word(own, lines + 8, 0x7fffffff)},
      {"name longer than the value", with_word(own, lines + 12, 0x00fffff0)},
      {"odd name length", with_word(own, lines + 12, 13)},
      {"another header", with_word(own, 0, 0xfe)},
      {"another version", with_word(own, 4, 1)},
      {"a dock area", with_word(own, 9, 1)},
      {"a corner no area", with_word(own, 21, 3)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_FALSE(bar_state_fits(row.value));
    Frame target;
    const std::clock_t start = std::clock();
    EXPECT_FALSE(bar_state_restore(&target.window, row.value));
    EXPECT_LT(double(std::clock() - start) / CLOCKS_PER_SEC, 0.5);
    EXPECT_EQ(target.window.toolBarArea(target.bar), Qt::TopToolBarArea);
  }
}

}  // namespace
