// Handler faults as a user meets them through the document's menus: a
// handler that enters the debugger leaves the next command working, and a
// pasted data text that cannot be read is reported as the paste's failure,
// not at the place of a handler that failed before it.
#include <gtest/gtest.h>

#include <QApplication>

#include "tests/host/app/doc_app_fixture.h"

namespace {

using docapp::Doc;

const char kApp[] =
    "instance demo\n"
    "title \"Faults\"\n"
    "var x\n"
    "init x = d_init()\n"
    "item \"Value\" x = d_paste(_xdata)\n"
    "menutitle \"Tools\"\n"
    "menu \"Bump\" x = d_bump(x)\n"
    "menu \"Halt\" x = d_halt(x)\n"
    "menu \"Sizes\" x = d_sizes(x)\n"
    "figure \"Main\"\n"
    "plot d_plot(x)\n";

const char kSource[] =
    "function x = d_init()\n x = 1;\n"
    "function x = d_bump(x)\n x = x + 1;\n"
    "function x = d_halt(x)\n dbhalt;\n x = 0;\n"
    "function x = d_sizes(x)\n x = [1 2] + [1 2 3];\n"
    "function x = d_paste(d)\n x = d;\n"
    "function d_plot(x)\n plot([1 2 3], [x 2 1]);\n";

struct Faults : Doc {
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(start(kApp, kSource)); }
};

TEST_F(Faults, AHandlerThatEntersTheDebuggerLeavesTheNextCommandWorking) {
  ASSERT_TRUE(click({"Tools", "Halt"}));
  EXPECT_EQ(value("x"), 1);
  ASSERT_EQ(dialogs.asked.size(), 1);
  EXPECT_TRUE(dialogs.asked[0].contains(QStringLiteral("Execution suspended for debugging")))
      << dialogs.asked[0].toStdString();
  dialogs.asked.clear();
  for (int k = 2; k <= 3; ++k) {
    ASSERT_TRUE(click({"Tools", "Bump"}));
    EXPECT_EQ(value("x"), k);
  }
  EXPECT_TRUE(dialogs.asked.isEmpty()) << dialogs.asked.join(QLatin1Char('\n')).toStdString();
  ASSERT_TRUE(click({"&File", "&Reset Data\tCtrl+N"}));
  EXPECT_EQ(value("x"), 1);
}

TEST_F(Faults, APasteThatCannotBeReadIsReportedAsThePaste) {
  ASSERT_TRUE(click({"Tools", "Sizes"}));
  ASSERT_EQ(dialogs.asked.size(), 1);
  EXPECT_TRUE(dialogs.asked[0].contains(QStringLiteral("d_sizes"))) << dialogs.asked[0].toStdString();
  dialogs.asked.clear();
  QGuiApplication::clipboard()->setText(QStringLiteral("%TN xdata \"t\"\nsin(1)"));
  ASSERT_TRUE(click({"&Edit", "Paste As", "Value"}));
  ASSERT_EQ(dialogs.asked.size(), 1);
  const std::string shown = dialogs.asked[0].toStdString();
  EXPECT_NE(shown.find("Bad argument '_xdata'"), std::string::npos) << shown;
  EXPECT_EQ(shown.find("d_sizes"), std::string::npos) << shown;
  EXPECT_EQ(value("x"), 1);
}

}  // namespace
