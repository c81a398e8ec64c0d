// Menu items run through the handler call on a built application in a
// moving host: an entry answers 10201 with an undo row, a failing one drops
// its row, a cancelled one answers 0; Copy As gives a data text that Paste
// As, choosing its alternative by the text's type, reads back to the same
// value, and the link line of the text is kept in the item.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "runtime/app_fixture.h"
#include "runtime/menu_exec.h"

namespace {

using apptest::App;

const char kApp[] =
    "instance demo\n"
    "var x\n"
    "var msg\n"
    "init x = m_init()\n"
    "figure \"Plot\"\n"
    "menu \"Edit\"\n"
    "entry \"Double\" x = m_double(x)\n"
    "entry \"Fail\" x = m_fail(x)\n"
    "entry \"Cancel\" x = m_cancel(x)\n"
    "entry \"Grow\" x = m_grow()\n"
    "item \"Copy As\" _xdata, _xdatatype = m_copy(x)\n"
    "item \"Paste As\" x = m_paste_text(_xdata)\n"
    "item \"\" x = m_paste_matrix(_xdata)\n"
    "item \"Mark As\" x = m_mark_text()\n"
    "item \"\" x = m_mark_matrix()\n";

const char kSource[] =
    "function x = m_init()\n x = [1 2; 3 4];\n"
    "function x = m_double(x)\n x = 2 * x;\n"
    "function x = m_fail(x)\n error('menu failed');\n"
    "function x = m_cancel(x)\n cancel;\n"
    "function x = m_grow()\n x = reshape(1:20000, 100, 200) + 0.123456789012;\n"
    "function [d, t] = m_copy(x)\n d = x; t = 'matrix';\n"
    "function x = m_paste_text(d)\n x = -1;\n"
    "function x = m_paste_matrix(d)\n x = d;\n"
    "function x = m_mark_text()\n x = -1;\n"
    "function x = m_mark_matrix()\n x = 7;\n"
    "function [t, i, e] = _menuFlags(x, msg, type, p)\n"
    "  t = logical([1 1]); e = logical([1 1 1]);\n"
    "  if strcmp(type, 'matrix'), i = logical([1 0 1 0 1]); else i = logical([1 1 0 1 0]); end\n";

struct Menu : App {
  void SetUp() override {
    App::SetUp();
    ASSERT_NO_FATAL_FAILURE(build(kApp, kSource, 1u << 20));
  }
  double sum_x() {
    if (handler_push_input(host.block, 0, false, code("x")) != 0) return -999;
    double *re = nullptr, *im = nullptr;
    int32_t r = 0, cols = 0;
    double s = 0;
    if (stk_get_matrix(c(), 0, &r, &cols, &re, &im) == 0)
      for (int32_t k = 0; k < r * cols; ++k) s += re[k];
    stk_drop(c());
    return s;
  }
};

TEST_F(Menu, AnEntryRunsWithAnUndoRowAndAFailingOneDropsIt) {
  ASSERT_EQ(sum_x(), 10);
  EXPECT_FALSE(rt_can_undo(host.block, 0));
  EXPECT_EQ(inst_menu_exec(h(), 0, record(kTagEntry, 0)), kRtHandledRedraw);
  EXPECT_EQ(sum_x(), 20);
  EXPECT_TRUE(rt_can_undo(host.block, 0));
  ASSERT_EQ(inst_undo(h(), 0), kRtHandledRedraw);
  EXPECT_EQ(sum_x(), 10);
  EXPECT_FALSE(rt_can_undo(host.block, 0));
  const int failed = inst_menu_exec(h(), 0, record(kTagEntry, 1));
  EXPECT_NE(failed, 0);
  EXPECT_NE(failed, kRtHandledRedraw);
  EXPECT_EQ(inst_menu_exec(h(), 0, record(kTagEntry, 2)), 0);  // cancel: 402 answered as 0
  EXPECT_EQ(sum_x(), 10);
  EXPECT_FALSE(rt_can_undo(host.block, 0));  // neither left a row
  EXPECT_EQ(inst_menu_exec(h(), 5, record(kTagEntry, 0)), kRtNonexistentInstance);
  host.take_output();
}

TEST_F(Menu, ATextRunsTheAlternativeItsTypeAllowsAndKeepsItsLink) {
  const int32_t mark = record(kTagItem, 3);
  const std::string matrix = "%TN xdata \"matrix\"\r\n%TN link 03 17\r\n[1 2]";
  EXPECT_EQ(inst_call_text_handler(h(), 0, mark, matrix.data(), int32_t(matrix.size())), kRtHandledRedraw)
      << host.take_output();
  EXPECT_EQ(sum_x(), 7);
  EXPECT_TRUE(rt_can_undo(host.block, 0));
  // The link ids went into the alternative that ran.
  int32_t start = 0;
  ASSERT_EQ(rec_find_instance(host.block, 0, &start), 0);
  const int32_t* item = rt_record_words(host.block) + start + record(kTagItem, 4) + kRecordHeadWords;
  EXPECT_EQ(item[0], 3);
  EXPECT_EQ(item[1], 17);
  EXPECT_EQ(inst_call_text_handler(h(), 0, mark, "plain", -1), kRtHandledRedraw);
  EXPECT_EQ(sum_x(), -1);
}

TEST_F(Menu, CopyAsThenPasteAsGivesTheSameValueBack) {
  char* out = nullptr;
  int32_t n = 0;
  ASSERT_EQ(inst_record_call(h(), 0, record(kTagItem, 0), 7, &out, &n), 0) << host.take_output();
  const std::string text(out, size_t(n));
  EXPECT_EQ(text.rfind("%TN xdata \"matrix\"\r\n%TN link 00 07\r\n", 0), 0u) << text;
  ASSERT_EQ(inst_menu_exec(h(), 0, record(kTagEntry, 0)), kRtHandledRedraw);
  ASSERT_EQ(sum_x(), 20);
  // The matrix text takes the second alternative, which reads the value back.
  EXPECT_EQ(inst_call_text_handler(h(), 0, record(kTagItem, 1), text.data(), int32_t(text.size())),
            kRtHandledRedraw)
      << host.take_output();
  EXPECT_EQ(sum_x(), 10);
}

// Paste As of a text whose body assigns NaN is refused, and leaves nothing
// behind: texts holding NaN pasted before and after it read the same (after
// it, every text holding NaN was refused as a bad argument).
TEST_F(Menu, PasteAsOfAnAssignmentLeavesTheNextPasteAsItWas) {
  const std::string row = "%TN xdata \"matrix\"\r\n[NaN 3]\r\n";
  const std::string assign = "%TN xdata \"matrix\"\r\nNaN=1\r\n";
  auto x_is_row = [&] {
    if (handler_push_input(host.block, 0, false, code("x")) != 0) return false;
    double *re = nullptr, *im = nullptr;
    int32_t r = 0, cols = 0;
    const bool ok = stk_get_matrix(c(), 0, &r, &cols, &re, &im) == 0 && r == 1 && cols == 2 && std::isnan(re[0]) &&
                    re[1] == 3;
    stk_drop(c());
    return ok;
  };
  const int32_t paste = record(kTagItem, 1);
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    ASSERT_EQ(inst_menu_exec(h(), 0, record(kTagEntry, 0)), kRtHandledRedraw);
    ASSERT_FALSE(x_is_row());
    EXPECT_EQ(inst_call_text_handler(h(), 0, paste, row.data(), int32_t(row.size())), kRtHandledRedraw)
        << host.take_output();
    EXPECT_TRUE(x_is_row());
    const int refused = inst_call_text_handler(h(), 0, paste, assign.data(), int32_t(assign.size()));
    EXPECT_NE(refused, kRtHandledRedraw);
    host.take_output();
    EXPECT_TRUE(x_is_row());
  }
}

// A value whose data text is larger than any free region of the block is
// copied whole: its text goes to memory outside the block, grown as the
// writer needs, and the block grows for the writer's own room (before, the
// copy failed). Pasted back, it gives the same value.
TEST_F(Menu, CopyAsGivesATextLargerThanTheBlocksRoom) {
  ASSERT_EQ(inst_menu_exec(h(), 0, record(kTagEntry, 3)), kRtHandledRedraw) << host.take_output();
  host.take_output();
  const double sum = sum_x();
  char* out = nullptr;
  int32_t n = 0;
  ASSERT_EQ(inst_record_call(h(), 0, record(kTagItem, 0), 7, &out, &n), 0) << host.take_output();
  uint8_t* region = nullptr;
  int64_t room = 0;
  rt_scratch_area(host.block, &region, &room);
  EXPECT_GT(n, room);
  const std::string text(out, size_t(n));
  ASSERT_EQ(text.rfind("%TN xdata \"matrix\"\r\n%TN link 00 07\r\n", 0), 0u);
  ASSERT_EQ(inst_call_text_handler(h(), 0, record(kTagItem, 1), text.data(), int32_t(text.size())),
            kRtHandledRedraw)
      << host.take_output();
  EXPECT_EQ(sum_x(), sum);
  // The copy's growth reports nothing but the growth itself.
  const std::string said = host.take_output();
  EXPECT_EQ(said.find("overflow"), std::string::npos) << said;
}

TEST(LinkLine, TwoDigitPairsAndLiteralsThatMayOnlyBeDigits) {
  struct Case { const char* line; bool ok; int32_t a, b; };
  const Case cases[] = {{"%TN link 03 17", true, 3, 17},   {"%TN link 99 00\r\n", true, 99, 0},
                        {"%TN link 3 17", false, 0, 0},    {"%TN link 0a 17", false, 0, 0},
                        {"%TN lin", false, 0, 0},          {"%TN link 12317", true, 12, 17},
                        {"%tn link 03 17", false, 0, 0}};
  for (const Case& k : cases) {
    int32_t a = -1, b = -1;
    EXPECT_EQ(read_link_line(k.line, int32_t(std::strlen(k.line)), &a, &b), k.ok) << k.line;
    if (k.ok) {
      EXPECT_EQ(a, k.a) << k.line;
      EXPECT_EQ(b, k.b) << k.line;
    }
  }
}

}  // namespace

namespace {

// An application menu item (the menus' walk answers it) carries its handler
// after its text; one without a handler has nothing to run.
using MenuItem = apptest::App;
TEST_F(MenuItem, RunsItsHandler) {
  ASSERT_NO_FATAL_FAILURE(build("instance demo\nvar x\ninit x = m_init()\nmenutitle \"Tools\"\n"
                                "menu \"Triple\" x = m_triple(x)\nmenu \"Plain\"\n",
                                "function x = m_init()\n x = 2;\nfunction x = m_triple(x)\n x = 3 * x;\n",
                                1u << 20));
  EXPECT_EQ(inst_menu_exec(h(), 0, record(kTagMenuTitle, 0)), kRtHandledRedraw) << host.take_output();
  EXPECT_EQ(value("x"), 6);
  EXPECT_TRUE(rt_can_undo(host.block, 0));
  EXPECT_EQ(inst_menu_exec(h(), 0, record(kTagMenuTitle, 1)), kRtUndefElement);
  EXPECT_EQ(value("x"), 6);
}

}  // namespace
