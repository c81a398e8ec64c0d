// The stored bar layout: the window's own states are taken back and restored,
// every damaged form of them is refused before Qt reads it, and a refused
// value costs the restore no time (Qt's reader loops over a damaged count);
// a floating bar is taken only on the desktop and of a size it holds.
#include <gtest/gtest.h>

#include <ctime>

#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>

#include "platform/bar_state.h"

namespace {

const QRect kDesktop(0, 0, 1280, 1024);

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

QByteArray with_byte(QByteArray s, qsizetype at, uint8_t v) {
  s[at] = char(v);
  return s;
}

// The offset of the frame's one bar's flags byte: after the line count, the
// area, the bar count and the name (its length word and UTF-16 text).
qsizetype flags_at(const QByteArray& state) {
  const qsizetype name = line_count_at(state) + 12;
  return name + 4 + qsizetype(uint8_t(state[name + 3]));
}

// The two words of a floating bar at (x, y), w by h, packed as Qt packs them.
QByteArray floating(QByteArray s, int x, int y, int w, int h) {
  const qsizetype at = flags_at(s) + 9;
  const uint32_t g0 = (((uint32_t(w) & 0xffff) << 16 | (uint32_t(x + 0x7fff) & 0xffff)) << 1) | 1;
  const uint32_t g1 = (uint32_t(h) & 0xffff) << 16 | (uint32_t(y + 0x7fff) & 0xffff);
  return with_word(with_word(s, at, g0), at + 4, g1);
}

TEST(BarState, OwnStatesAreRestored) {
  Frame saved;
  saved.window.resize(640, 480);
  saved.window.setCorner(Qt::TopLeftCorner, Qt::LeftDockWidgetArea);
  saved.bar->hide();
  saved.window.addToolBar(Qt::LeftToolBarArea, saved.bar);
  const QByteArray state = saved.window.saveState();
  Frame fresh;
  ASSERT_TRUE(bar_state_fits(state, kDesktop));
  ASSERT_TRUE(bar_state_restore(&fresh.window, state));
  EXPECT_EQ(fresh.window.toolBarArea(fresh.bar), Qt::LeftToolBarArea);
  EXPECT_TRUE(fresh.bar->isHidden());
  EXPECT_TRUE(bar_state_fits(fresh.window.saveState(), kDesktop));
}

// A floating bar comes back where it was when it lies on the desktop.
TEST(BarState, FloatingBarOnTheDesktopIsRestored) {
  Frame f;
  QScreen* screen = QGuiApplication::primaryScreen();
  ASSERT_NE(screen, nullptr);
  const QRect desktop = screen->virtualGeometry();
  const QRect place(desktop.left() + 20, desktop.top() + 30, 120, 40);
  const QByteArray state = floating(f.window.saveState(), place.x(), place.y(), place.width(), place.height());
  ASSERT_TRUE(bar_state_fits(state, desktop));
  Frame fresh;
  ASSERT_TRUE(bar_state_restore(&fresh.window, state));
  EXPECT_TRUE(fresh.bar->isFloating());
}

TEST(BarState, DamagedStatesAreRefusedAtOnce) {
  Frame f;
  const QByteArray own = f.window.saveState();
  const qsizetype lines = line_count_at(own);
  ASSERT_GT(lines, 0);
  // Every cut-short value, and the whole one with a byte more.
  for (qsizetype n = 0; n < own.size(); ++n) EXPECT_FALSE(bar_state_fits(own.left(n), kDesktop)) << n;
  EXPECT_FALSE(bar_state_fits(own + char(0), kDesktop));
  const qsizetype flags = flags_at(own);
  ASSERT_EQ(own[flags], char(1));  // shown, horizontal
  const QByteArray broken_bar = with_word(with_word(with_byte(own, flags, 7), flags + 9, ~0u), flags + 13, ~0u);
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
      // A bar's own words: its flags, place, preferred length and geometry.
      {"flags 7, geometry all ones", broken_bar},
      {"and place and length 2^31 - 1", with_word(with_word(broken_bar, flags + 1, 0x7fffffff), flags + 5, 0x7fffffff)},
      {"flags 4", with_byte(own, flags, 4)},
      {"place 2^31 - 1", with_word(own, flags + 1, 0x7fffffff)},
      {"place -1", with_word(own, flags + 1, 0xffffffff)},
      {"place past the desktop", with_word(own, flags + 1, 1281)},
      {"length 2^31 - 1", with_word(own, flags + 5, 0x7fffffff)},
      {"length -2", with_word(own, flags + 5, 0xfffffffe)},
      {"length past the desktop", with_word(own, flags + 5, 1281)},
      {"docked with a geometry", with_word(own, flags + 13, 0x00100010)},
      {"floating 32767 x 65535", floating(own, 32768, 32768, 32767, 65535)},
      {"floating wider than the desktop", floating(own, 0, 0, 1281, 30)},
      {"floating taller than the desktop", floating(own, 0, 0, 100, 1025)},
      {"floating left of the desktop", floating(own, -1, 10, 100, 30)},
      {"floating above the desktop", floating(own, 10, -1, 100, 30)},
      {"floating past the right edge", floating(own, 1200, 10, 81, 30)},
      {"floating past the bottom edge", floating(own, 10, 1000, 100, 25)},
      {"floating no width", floating(own, 10, 10, 0, 30)},
      {"floating no height", floating(own, 10, 10, 100, 0)},
  };
  // The edges of what is taken: a bar shown vertical, a length and a place
  // as far as the desktop reaches, a floating bar filling the desktop.
  const QByteArray taken[] = {with_byte(own, flags, 3), with_word(own, flags + 5, 1280),
                              with_word(own, flags + 1, 1280), floating(own, 0, 0, 1280, 1024),
                              floating(own, 1279, 1023, 1, 1)};
  for (const QByteArray& t : taken) EXPECT_TRUE(bar_state_fits(t, kDesktop)) << t.toHex().constData();
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_FALSE(bar_state_fits(row.value, kDesktop));
    Frame target;
    const std::clock_t start = std::clock();
    EXPECT_FALSE(bar_state_restore(&target.window, row.value));
    EXPECT_LT(double(std::clock() - start) / CLOCKS_PER_SEC, 0.5);
    EXPECT_EQ(target.window.toolBarArea(target.bar), Qt::TopToolBarArea);
  }
}

}  // namespace
