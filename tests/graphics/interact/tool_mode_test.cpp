// The tool mode and the host's queries: the stored form of the saved
// variants, leaving manipulate ends every instance's pending subplot through
// its leave handler (once, the first error answered), and the figure and
// header queries the host's command updates make.
#include "runtime/app_fixture.h"

#include "graphics/interact/interaction.h"

namespace {

using apptest::App;
using apptest::g_probe;

const char kSource[] =
    "function left()\n tn_count;\nendfunction\n"
    "function bad()\n error('leave failed');\nendfunction\n";

// Two instances with leave handlers, the second one's failing when asked.
std::string two_instances(const char* second_leave) {
  return std::string("instance demo\nvar x\nfigure \"One\"\nleave -1 left()\n") +
         "instance other\nvar y\nfigure \"Two\"\nleave -1 " + second_leave + "\n" +
         "instance quiet\nvar z\n" + "instance shown\ncommands \"x = 1;\"\n";
}

struct ToolMode : App {
  void build_all(const char* second_leave) {
    ASSERT_EQ(host.start(2u << 20, 64u << 20), 0);
    ASSERT_EQ(rt_register_library(host.block, g_builtin_table_host), 0);
    ASSERT_EQ(rt_register_library(host.block, apptest::g_test_rows), 0);
    tnbuild::Builder builder(host.block, {{"demo", kSource}, {"other", kSource}});
    ASSERT_TRUE(builder.build(two_instances(second_leave))) << builder.error;
    host.take_output();
  }
  void pend(int32_t id, int32_t k) { inst_find_by_id(host.block, id)->pending_subplot = k; }
  int32_t pending(int32_t id) { return inst_find_by_id(host.block, id)->pending_subplot; }
};

TEST_F(ToolMode, SavedVariantsAreStoredAsTheToolsTheyStandFor) {
  build_all("left()");
  struct { int32_t given, stored; } rows[] = {{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 2}, {7, 2},
                                             {8, 4}, {9, 4}, {10, 4}, {11, 4}, {12, 4}, {13, 13}, {0, 0}};
  for (const auto& r : rows) {
    interact_set_tool_mode(h(), r.given);
    EXPECT_EQ(interact_get_tool_mode(host.block), r.stored) << r.given;
  }
}

TEST_F(ToolMode, LeavingManipulateRunsEveryPendingLeaveHandlerOnce) {
  build_all("left()");
  pend(0, 0);
  pend(1, 0);
  EXPECT_EQ(interact_set_tool_mode(h(), kToolZoom), kRtHandledRedraw);
  EXPECT_EQ(g_probe.counted, 2);
  EXPECT_EQ(pending(0), -1);
  EXPECT_EQ(pending(1), -1);
  // Between other tools, and back to manipulate, nothing runs.
  pend(0, 0);
  EXPECT_EQ(interact_set_tool_mode(h(), kToolSelect), 0);
  EXPECT_EQ(interact_set_tool_mode(h(), kToolManipulate), 0);
  EXPECT_EQ(g_probe.counted, 2);
  EXPECT_EQ(pending(0), 0);
  // Nothing pending: nothing runs, nothing to redraw.
  pend(0, -1);
  EXPECT_EQ(interact_set_tool_mode(h(), kToolDrag), 0);
  EXPECT_EQ(g_probe.counted, 2);
}

TEST_F(ToolMode, AFailingLeaveHandlerIsAnsweredOnceAndTheToolStillChanges) {
  build_all("bad()");
  pend(0, 0);
  pend(1, 0);
  const int status = interact_set_tool_mode(h(), kToolZoomX);
  EXPECT_NE(status, 0);
  EXPECT_NE(status, kRtHandledRedraw);
  EXPECT_EQ(g_probe.counted, 1);  // the other instance's handler still ran
  EXPECT_EQ(pending(1), -1);
  EXPECT_EQ(interact_get_tool_mode(host.block), kToolZoomX);
  EXPECT_EQ(interact_set_tool_mode(h(), kToolManipulate), 0);
  EXPECT_EQ(interact_set_tool_mode(h(), kToolZoom), 0);  // answered once: nothing is pending now
}

TEST_F(ToolMode, EndPendingWithoutRedrawOnlyAsksForOne) {
  build_all("left()");
  uint8_t wanted = 7;
  EXPECT_EQ(interact_end_pending(h(), 42, true, &wanted), kRtNonexistentInstance);
  EXPECT_EQ(wanted, 0);
  pend(0, 0);
  EXPECT_EQ(interact_end_pending(h(), 0, false, &wanted), 0);
  EXPECT_EQ(wanted, 1);
  EXPECT_EQ(g_probe.counted, 1);
  EXPECT_EQ(pending(0), -1);
  // A pending subplot without a leave handler only stops being pending.
  pend(2, 0);
  EXPECT_EQ(interact_end_pending(h(), 2, true, &wanted), 0);
  EXPECT_EQ(wanted, 0);
  EXPECT_EQ(pending(2), -1);
}

TEST_F(ToolMode, HostQueries) {
  build_all("left()");
  EXPECT_TRUE(inst_takes_mouse(host.block, 0));   // a figure record
  EXPECT_FALSE(inst_takes_mouse(host.block, 2));  // no figure
  EXPECT_TRUE(inst_takes_mouse(host.block, 3));   // a figure command text
  EXPECT_FALSE(inst_takes_mouse(host.block, 42));
  for (int32_t id = 0; id < 4; ++id) EXPECT_TRUE(rt_instance_known(host.block, id)) << id;
  EXPECT_FALSE(rt_instance_known(host.block, 4));
  EXPECT_FALSE(rt_instance_known(host.block, -1));
  rt_set_interactive_highlight(host.block, 1);
  EXPECT_EQ(host.block->h.interactive_highlight, 1);
  rt_set_interactive_highlight(host.block, 0);
  EXPECT_EQ(host.block->h.interactive_highlight, 0);
}

}  // namespace
