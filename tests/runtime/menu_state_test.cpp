// Menu states from the instance's "_menuFlags": titles, items (with their
// alternatives) and entries enabled and checked, `_param` handlers without a
// current subplot, the stale flag and stamp, results of the wrong kind, and
// the data text's type handed to the function.
#include <gtest/gtest.h>

#include <string>

#include "runtime/fake_host.h"
#include "runtime/layout.h"
#include "runtime/menu_state.h"
#include "runtime/record_list.h"
#include "tools/imagetools/image_builder.h"

namespace {

using tnbuild::Builder;

constexpr uint32_t kBytes = 4u << 20;

const char kMenus[] =
    "instance demo\n"
    "var x\n"
    "figure \"Plot\"\n"
    "menu \"File\"\n"
    "item \"Copy\" x = m_copy(x)\n"
    "item \"\" x = m_copy2(x, _param)\n"
    "item \"Paste\" x = m_paste(x)\n"
    "entry \"Scale\" x = m_scale(x, _param)\n"
    "entry \"Reset\" x = m_reset(x)\n"
    "menu \"Edit\"\n";

// Titles: File enabled, Edit enabled and checked; items: Copy off, its
// alternative on, Paste on; entries on, but off for a "matrix" text; items
// as doubles for a "bad" text; Copy itself rather than its alternative for
// plain text.
const char kFlags[] =
    "function [t, i, e] = _menuFlags(x, type, p)\n"
    "  t = logical([1 0 1 1]); i = logical([0 1 1]); e = logical([1 1]);\n"
    "  if strcmp(type, 'matrix'), e = logical([0 0]); end\n"
    "  if strcmp(type, 'bad'), i = [1 1 1]; end\n"
    "  if strcmp(type, 'text'), i = logical([1 0 1]); end\n";

struct Menus : ::testing::Test {
  FakeHost host;
  RuntimeBlock* b = nullptr;
  void build(const char* source) {
    ASSERT_EQ(host.start(kBytes, kBytes), 0);
    ASSERT_EQ(rt_register_library(host.block, g_builtin_table_host), 0);
    Builder builder(host.block, {{"demo", source}});
    ASSERT_TRUE(builder.build(kMenus)) << builder.error;
    b = host.block;
  }
  // Run positions of the records of a tag, in order.
  std::vector<int32_t> positions(int32_t tag) {
    std::vector<int32_t> out;
    for (int32_t pos = -1; rec_find_tag(b, 0, &pos, tag) == 0;) out.push_back(pos);
    return out;
  }
  std::vector<int32_t> states(int32_t tag, int32_t stamp, const char* data = nullptr) {
    std::vector<int32_t> out;
    for (int32_t pos : positions(tag)) out.push_back(inst_menu_item_state(b, 0, pos, stamp, data, -1));
    return out;
  }
  InstanceRec* rec() { return inst_find_by_id(b, 0); }
};

TEST_F(Menus, FlagsEnableAndCheckTitlesItemsAndEntries) {
  ASSERT_NO_FATAL_FAILURE(build(kFlags));
  const int32_t base = rt_engine(b)->desc_top;
  rec()->menu_stale = 1;
  EXPECT_EQ(states(kTagMenuTitle, 1), (std::vector<int32_t>{kMenuEnabled, kMenuEnabled | kMenuChecked}));
  // The alternative ORs its value into Copy and has no state of its own.
  EXPECT_EQ(states(kTagItem, 1), (std::vector<int32_t>{1, 0, 1}));
  EXPECT_EQ(states(kTagEntry, 1), (std::vector<int32_t>{1, 1}));
  EXPECT_EQ(rec()->menu_stale, 0);
  EXPECT_EQ(b->h.user.instance_id, 0);
  EXPECT_EQ(rt_engine(b)->desc_top, base);
  EXPECT_EQ(host.take_output(), "");
}

TEST_F(Menus, ParamHandlersAreOffWithoutACurrentSubplot) {
  ASSERT_NO_FATAL_FAILURE(build(kFlags));
  rec()->menu_stale = 1;
  ASSERT_EQ(inst_set_grid(b, 0, 1, 2), 0);  // two subplots, none selected
  ASSERT_LT(inst_current_subplot(b, 0), 0);
  EXPECT_EQ(states(kTagEntry, 2), (std::vector<int32_t>{0, 1}));
  EXPECT_EQ(states(kTagItem, 2)[0], 0);  // Copy's alternative uses _param
  inst_set_selection(b, 0, 1u, false);
  ASSERT_EQ(inst_current_subplot(b, 0), 0);
  rec()->menu_stale = 1;
  EXPECT_EQ(states(kTagEntry, 3), (std::vector<int32_t>{1, 1}));
}

TEST_F(Menus, AClearStaleFlagWithTheSameStampReusesTheTables) {
  ASSERT_NO_FATAL_FAILURE(build(kFlags));
  rec()->menu_stale = 1;
  const int32_t entry = positions(kTagEntry)[0];
  EXPECT_EQ(inst_menu_item_state(b, 0, entry, 5, nullptr, 0), 1);
  // A matrix text would turn the entries off, but the tables are current.
  const char text[] = "%TN xdata \"matrix\"\n[1 2]";
  EXPECT_EQ(inst_menu_item_state(b, 0, entry, 5, text, -1), 1);
  EXPECT_EQ(inst_menu_item_state(b, 0, entry, 6, text, -1), 0);  // a new stamp evaluates
  rec()->menu_stale = 1;
  EXPECT_EQ(inst_menu_item_state(b, 0, entry, 6, nullptr, 0), 1);  // so does a stale flag
}

TEST_F(Menus, AResultOfTheWrongKindStopsTheUpdateAndKeepsTheFlag) {
  ASSERT_NO_FATAL_FAILURE(build(kFlags));
  const int32_t base = rt_engine(b)->desc_top;
  rec()->menu_stale = 1;
  EXPECT_EQ(states(kTagEntry, 1), (std::vector<int32_t>{1, 1}));
  rec()->menu_stale = 1;
  // The items come back as doubles: titles update, items and entries stay.
  rec()->menu_state[2][0] = 0;
  const char text[] = "%TN xdata \"bad\"\n1";
  EXPECT_EQ(inst_menu_item_state(b, 0, positions(kTagEntry)[0], 2, text, -1), 0);
  EXPECT_EQ(rec()->menu_stale, 1);
  EXPECT_EQ(rt_engine(b)->desc_top, base);
  EXPECT_EQ(b->h.user.instance_id, 0);
}

TEST_F(Menus, WithoutMenuFlagsEverythingIsEnabledAndNothingPrinted) {
  ASSERT_NO_FATAL_FAILURE(build("function y = other(x)\n y = x;\n"));
  rec()->menu_stale = 1;
  EXPECT_EQ(inst_menu_flags_eval(b, 0, nullptr, 0), kUndefinedFunction);
  EXPECT_EQ(states(kTagEntry, 1), (std::vector<int32_t>{1, 1}));
  EXPECT_EQ(host.take_output(), "");
}

TEST_F(Menus, ATextTakesTheAlternativeThatItsTypeAllows) {
  ASSERT_NO_FATAL_FAILURE(build(kFlags));
  const std::vector<int32_t> items = positions(kTagItem);  // Copy, its alternative, Paste
  const char matrix[] = "%TN xdata \"matrix\"\n[1 2]";
  EXPECT_EQ(inst_handler_text_value(b, 0, items[0], matrix, -1), items[1]);
  EXPECT_EQ(inst_handler_text_value(b, 0, items[0], "plain", -1), items[0]);
  EXPECT_EQ(inst_handler_text_value(b, 0, items[2], matrix, -1), items[2]);
  // The alternative's handler uses _param: not without a current subplot.
  ASSERT_EQ(inst_set_grid(b, 0, 1, 2), 0);
  EXPECT_EQ(inst_handler_text_value(b, 0, items[0], matrix, -1), kNoTextHandler);
  // An item whose link instance id is 0 is passed over.
  ASSERT_EQ(inst_set_grid(b, 0, 1, 1), 0);
  int32_t start = 0;
  ASSERT_EQ(rec_find_instance(b, 0, &start), 0);
  rt_record_words(b)[start + items[1] + kRecordHeadWords] = 0;
  EXPECT_EQ(inst_handler_text_value(b, 0, items[0], matrix, -1), kNoTextHandler);
  EXPECT_EQ(b->h.user.instance_id, 0);
}

TEST_F(Menus, AFigureCanBeChosenForTheCurrentSubplotOrANewFreeOne) {
  ASSERT_NO_FATAL_FAILURE(build(kFlags));
  const int32_t plot = positions(kTagFigure)[0];
  EXPECT_EQ(inst_can_select_subplot(b, 0, plot), kFigureSelectable | kFigureShown);
  EXPECT_EQ(inst_can_select_subplot(b, 0, plot + 1), kFigureSelectable);
  ASSERT_EQ(inst_set_grid(b, 0, 1, 2), 0);  // no current subplot
  EXPECT_EQ(inst_can_select_subplot(b, 0, plot), 0);
  ASSERT_EQ(inst_layout_to_free(b, 0), 0);
  EXPECT_EQ(inst_can_select_subplot(b, 0, plot), kFigureSelectable);
  EXPECT_EQ(inst_can_select_subplot(b, 9, plot), 0);
}

TEST(XdataType, HeaderTypePlainTextAndNothing) {
  struct Case { const char* text; const char* type; };
  const Case cases[] = {{"", ""},
                        {"%TN xdata \"matrix\"\r\n[1]", "matrix"},
                        {"%TN xdata \"open\nbody", "open"},
                        {"%TN xdata 'q'\n1", "text"},
                        {"plain", "text"}};
  for (const Case& k : cases) {
    const char* type = nullptr;
    const int32_t n = xdata_text_type(k.text, -1, &type);
    EXPECT_EQ(std::string(type ? type : "", size_t(n)), k.type) << k.text;
  }
}

}  // namespace
