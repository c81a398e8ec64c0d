// Keys on a figure and the texts the view shows: a focused text field
// (written by the test as its built-in would) takes typing, arrows and
// backspace within its 16-byte field and commits through the drag handler;
// key handlers match before the catch-all before the figure shortcuts, each
// shortcut with its effect; and the cursor kinds and hover texts as one table.
#include "graphics/interact/figure_events.h"

#include <cstring>

#include "graphics/plotlist/plot_records.h"
#include "graphics/plotlist/plot_store.h"
#include "graphics/subplot/autoscale.h"
#include "graphics/subplot/subplot_view.h"
#include "runtime/plot_lists.h"
#include "runtime/runtime_status.h"

namespace {

using figtest::Figure;

const char kSource[] =
    "function p = start()\n p = [2 3];\nendfunction\n"
    "function draw(p)\n scale([0 10 0 10]);\n plot(p(1), p(2), 'o', 1);\nendfunction\n"
    "function draw3(p)\n plot3([0 1], [0 2], [0 3]);\nendfunction\n"
    "function v = committed(x1, id)\n v = [x1 id];\nendfunction\n"
    "function log = keyed(log, k)\n log = [log double(k)];\nendfunction\n"
    "function log = any(log, k)\n log = [log -double(k)];\nendfunction\n"
    "function bad()\n error('no key');\nendfunction\n"
    "function stop()\n cancel;\nendfunction\n"
    "function p = moved(p, x1)\n p = [x1 0];\nendfunction\n";

std::string app(const std::string& more) {
  return "instance demo\nvar p\nvar v\nvar log\ninit p = start()\nfigure \"A\"\nplot draw(p)\n"
         "drag 7 v = committed(_x1, _id)\n" + more + "figure \"B\"\nplot draw(p)\nfigure \"C\"\nplot draw3(p)\n";
}

constexpr int32_t kFieldRecord = 7;  // after the opening record

struct TextField : Figure {
  void SetUp() override {
    Figure::SetUp();
    open(app(""), kSource);
    write_field("Val", "12.5", 7);
  }
  // A list of one object holding one text field laid out as textfield
  // writes it (rectangle, row position, two reserved values, then the texts
  // in n - 4 doubles), and the focus on it as a press on the field gives it:
  // the whole text selected.
  void write_field(const char* label, const char* text, int32_t n) {
    RuntimeBlock* b = host.block;
    ASSERT_EQ(plotstore_begin_list(b, 0, true), 0);
    PlotWriter w{plotstore_data(rt_plot_store(b)) + b->h.build.start, b->h.build.capacity, 0};
    ASSERT_TRUE(plotlist_open_object(w.data, w.capacity, &w.used, 0));
    const StyleSpec style{0, 0, 0, 0};
    ASSERT_EQ(plotwriter_begin_record(&w, 65, 7, 1, &style, n + 3), 0);
    char bytes[64] = {};
    std::memcpy(bytes, label, std::strlen(label));
    std::memcpy(bytes + std::strlen(label) + 1, text, std::strlen(text));
    for (double v : {0, 0, 0, 0, -1, 0, 0}) plotwriter_put(&w, v);
    plotwriter_put_text(&w, bytes, (n - 4) * 8);
    b->h.build.used = w.used;
    plotstore_commit_list(b);
    InstanceRec* r = inst();
    r->focus_subplot = 0, r->focus_record = kFieldRecord, r->focus_caret = 0, r->focus_anchor = 32000;
  }
  std::string field() {
    int32_t pos = 0, length = 0;
    EXPECT_TRUE(plotstore_find(rt_plot_store(host.block), 0, &pos, &length));
    const char* bytes = reinterpret_cast<const char*>(plotstore_data(rt_plot_store(host.block)) + pos +
                                                      kFieldRecord + 6 + 7);
    return std::string(bytes + 4, strnlen(bytes + 4, 16));
  }
  int key(uint32_t k) { return inst_key_event(h(), 0, k); }
  int type(const char* s) {
    int last = 0;
    for (; *s; ++s) last = key(uint8_t(*s));
    return last;
  }
};

TEST_F(TextField, TypingReplacesTheSelectionAndAFifteenthCharacterIsRefused) {
  EXPECT_EQ(key('3'), kRtHandledRedraw);
  EXPECT_EQ(field(), "3");
  EXPECT_EQ(type("1234567890123"), kRtHandledRedraw);
  EXPECT_EQ(field(), "31234567890123");  // 14 characters
  EXPECT_EQ(key('9'), kRtHandledRedraw);
  EXPECT_EQ(field(), "31234567890123");
  EXPECT_EQ(key('x'), 0);  // not a number's character
  EXPECT_EQ(key(8), kRtHandledRedraw);
  EXPECT_EQ(field(), "3123456789012");
}

TEST_F(TextField, ArrowsMoveTheCaretAndClampedPositionsEdit) {
  EXPECT_EQ(key(0xF703), kRtHandledRedraw);  // collapses the whole selection to its end
  EXPECT_EQ(inst()->focus_caret, 4);
  EXPECT_EQ(key(0xF702), kRtHandledRedraw);
  EXPECT_EQ(key(0xF702), kRtHandledRedraw);
  EXPECT_EQ(inst()->focus_caret, 2);
  EXPECT_EQ(key('7'), kRtHandledRedraw);
  EXPECT_EQ(field(), "127.5");
  inst()->focus_caret = 1, inst()->focus_anchor = 3;  // "27" selected
  EXPECT_EQ(key(0xF702), kRtHandledRedraw);
  EXPECT_EQ(inst()->focus_caret, 1);
  EXPECT_EQ(inst()->focus_anchor, 1);
  inst()->focus_caret = 1, inst()->focus_anchor = 3;
  EXPECT_EQ(key(8), kRtHandledRedraw);
  EXPECT_EQ(field(), "1.5");
  inst()->focus_caret = 99, inst()->focus_anchor = 120;  // beyond the text: the end
  EXPECT_EQ(key('e'), kRtHandledRedraw);
  EXPECT_EQ(field(), "1.5e");
  EXPECT_EQ(inst()->focus_caret, 4);
  EXPECT_EQ(key(0xF703), kRtHandledRedraw);
  EXPECT_EQ(inst()->focus_caret, 4);
}

TEST_F(TextField, EnterCommitsThroughTheDragHandlerAndDropsTheFocus) {
  EXPECT_EQ(type("-2.5e1"), kRtHandledRedraw);
  EXPECT_EQ(key(13), kRtHandledRedraw);
  const std::vector<double> v = matrix("v");
  ASSERT_EQ(v.size(), 2u);
  EXPECT_EQ(v[0], -25);
  EXPECT_EQ(v[1], 7);  // the field's id
  EXPECT_EQ(inst()->focus_record, -1);
  EXPECT_EQ(inst()->focus_subplot, -1);
  EXPECT_EQ(inst()->focus_caret, -1);
  EXPECT_EQ(inst()->focus_anchor, -1);
  EXPECT_EQ(inst_undo(h(), 0), kRtHandledRedraw);  // the commit is one undo step
  EXPECT_TRUE(matrix("v").empty());
  // A text that is no number commits nothing.
  write_field("Val", "12.5", 7);
  EXPECT_EQ(type("-"), kRtHandledRedraw);
  EXPECT_EQ(key(10), kRtHandledRedraw);
  EXPECT_TRUE(matrix("v").empty());
  // A press elsewhere commits the field first.
  write_field("Val", "4", 7);
  EXPECT_EQ(interact_mouse_down(h(), 0, -5, -5, 0), kRtNoInteraction);
  EXPECT_EQ(matrix("v")[0], 4);
  EXPECT_EQ(inst()->focus_record, -1);
}

TEST_F(TextField, ARecordThatIsNoLongerATextFieldOrIsCutShortGivesTwelve) {
  inst()->focus_record = 0;  // the opening record
  EXPECT_EQ(key('1'), kIllegalError);
  EXPECT_EQ(interact_commit_textfield(h(), 0), kIllegalError);
  write_field("Label", "1", 6);  // 16 bytes: the label leaves no room for the field
  EXPECT_EQ(key('1'), kIllegalError);
  inst()->focus_record = 1 << 20;  // past the list
  EXPECT_EQ(key('1'), kIllegalError);
  inst()->focus_record = -1;
  EXPECT_EQ(interact_textfield_key(h(), 0, '1'), 0);
}

struct Keys : Figure {};

TEST_F(Keys, AMatchBeforeTheCatchAllBeforeTheShortcuts) {
  open(app("key \"a\" log = keyed(log, _key)\nkey \"\" log = any(log, _key)\nkey \"\\u00e9\" bad()\n"), kSource);
  EXPECT_EQ(inst_key_event(h(), 0, 'a'), kRtHandledRedraw);
  EXPECT_EQ(inst_key_event(h(), 0, '2'), kRtHandledRedraw);  // the catch-all, not the tool shortcut
  EXPECT_EQ(interact_get_tool_mode(host.block), kToolManipulate);
  const std::vector<double> log = matrix("log");
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], 'a');
  EXPECT_EQ(log[1], -'2');
  EXPECT_EQ(inst_undo(h(), 0), kRtHandledRedraw);
  EXPECT_EQ(matrix("log").size(), 1u);
  EXPECT_EQ(inst_key_event(h(), 9, 'a'), kRtNonexistentInstance);
}

TEST_F(Keys, FailingAndCancelledKeyHandlers) {
  open(app("key \"b\" bad()\nkey \"c\" stop()\n"), kSource);
  const bool could = rt_can_undo(host.block, 0);
  const int status = inst_key_event(h(), 0, 'b');
  EXPECT_NE(status, 0);
  EXPECT_NE(status, kRtHandledRedraw);
  EXPECT_EQ(rt_can_undo(host.block, 0), could);  // its row dropped
  EXPECT_EQ(inst_key_event(h(), 0, 'c'), 0);
  EXPECT_EQ(inst_key_event(h(), 0, 0xF700), kRtUndefElement);  // above 127, no handler
  EXPECT_EQ(inst_key_event(h(), 0, 'q'), kRtUndefElement);
}

TEST_F(Keys, EachShortcutDoesWhatItsTableSays) {
  open(app(""), kSource, 1, 1);
  InstanceRec* r = inst();
  // The scale and property switches change what the subplot allows: a
  // figure whose subplot offers the grid styles but no other scales.
  sp(0).toolFlags |= 0x7000;
  const uint32_t flags = sp(0).scaleFlags;
  for (char k : {'l', 'L', 'd'}) EXPECT_EQ(inst_key_shortcut(h(), 0, uint32_t(k)), kRtHandledRedraw) << k;
  EXPECT_EQ(sp(0).scaleFlags, flags);
  EXPECT_EQ(inst_key_shortcut(h(), 0, 'g'), kRtHandledRedraw);
  EXPECT_EQ(sp(0).optionFlags & 0x7000u, 0x2000u);
  EXPECT_EQ(inst_key_shortcut(h(), 0, 'g'), kRtHandledRedraw);
  EXPECT_EQ(sp(0).optionFlags & 0x7000u, 0x1000u);
  EXPECT_EQ(inst_key_shortcut(h(), 0, 'G'), kRtHandledRedraw);
  EXPECT_EQ(sp(0).optionFlags & 0x7000u, 0x4000u);
  sp(0).hasContent = 1;  // the scale lock holds a subplot that shows a plot
  EXPECT_EQ(inst_key_shortcut(h(), 0, 'o'), kRtHandledRedraw);
  EXPECT_TRUE(subplot_is_scale_locked(&sp(0)));
  EXPECT_EQ(inst_key_shortcut(h(), 0, 'k'), kRtHandledRedraw);
  EXPECT_EQ(r->rows, 2);
  EXPECT_EQ(inst_key_shortcut(h(), 0, 'm'), kRtHandledRedraw);
  EXPECT_EQ(r->cols, 2);
  EXPECT_EQ(inst_key_shortcut(h(), 0, 'n'), kRtHandledRedraw);
  EXPECT_EQ(inst_key_shortcut(h(), 0, 'j'), kRtHandledRedraw);
  EXPECT_EQ(inst_key_shortcut(h(), 0, 'j'), kRtHandledRedraw);  // one row is the least
  EXPECT_EQ(r->rows, 1);
  EXPECT_EQ(r->cols, 1);
  EXPECT_EQ(inst_key_shortcut(h(), 0, '9'), kRtHandledRedraw);  // undo the last grid change
  EXPECT_EQ(r->rows, 2);
  EXPECT_EQ(inst_key_shortcut(h(), 0, '0'), kRtHandledRedraw);  // and redo it
  EXPECT_EQ(r->rows, 1);
  EXPECT_EQ(inst_key_shortcut(h(), 0, '4'), 0);
  EXPECT_EQ(interact_get_tool_mode(host.block), kToolDrag);
  EXPECT_EQ(inst_key_shortcut(h(), 0, '1'), 0);
  EXPECT_EQ(inst_key_shortcut(h(), 0, 200), kRtUndefElement);
  EXPECT_EQ(inst_key_shortcut(h(), 0, 7), kRtUndefElement);
}

TEST_F(Keys, FiguresCycleAndDeleteEmptiesTheCurrentSubplot) {
  open(app(""), kSource);
  ASSERT_EQ(inst_set_selection(host.block, 0, 1, false), 0);
  const int32_t a = record(kTagFigure, 0), b = record(kTagFigure, 1), c = record(kTagFigure, 2);
  EXPECT_EQ(sp(0).handlerWords[kSubplotFigureWord], a);
  EXPECT_EQ(inst_key_shortcut(h(), 0, '+'), kRtHandledRedraw);
  EXPECT_EQ(sp(0).handlerWords[kSubplotFigureWord], b);
  EXPECT_EQ(inst_key_shortcut(h(), 0, '-'), kRtHandledRedraw);
  EXPECT_EQ(inst_key_shortcut(h(), 0, '-'), kRtHandledRedraw);  // cycles to the last
  EXPECT_EQ(sp(0).handlerWords[kSubplotFigureWord], c);
  EXPECT_EQ(inst_key_shortcut(h(), 0, 127), kRtHandledRedraw);
  EXPECT_LT(sp(0).handlerWords[kSubplotFigureWord], 0);
  EXPECT_EQ(inst_key_shortcut(h(), 0, 8), kRtHandledRedraw);
}

// Cursor kinds and status texts over tool, Shift and subplot kind.
TEST_F(Keys, CursorKindsAndHoverTextsByToolShiftAndSubplot) {
  open(app("drag 1 p = moved(p, _x1)\n"), kSource, 1, 2);
  ASSERT_EQ(inst_subplot_assign(host.block, 0, 0, 1, record(kTagFigure, 2), true), 0);
  ASSERT_EQ(inst_refresh(h(), 0), 0);
  ASSERT_TRUE(sp(1).is3D);
  enum Kind { k2D, kOrtho, kPersp };
  struct Row {
    int32_t mode;
    uint8_t shift;
    Kind kind;
    int32_t cursor;
    const char* text;
  } rows[] = {
      {2, 0, k2D, kCursorZoomIn, "Zoom (hold down the Shift key to zoom out)"},
      {2, 1, k2D, kCursorZoomOut, "Zoom (hold down the Shift key to zoom out)"},
      {3, 0, k2D, kCursorZoomXIn, "Zoom along x axis (hold down the Shift key to zoom out)"},
      {3, 1, k2D, kCursorZoomXOut, "Zoom along x axis (hold down the Shift key to zoom out)"},
      {4, 0, k2D, kCursorDrag, "Drag (hold down the Shift key to drag along x axis)"},
      {4, 1, k2D, kCursorDragX, "Drag (hold down the Shift key to drag along x axis)"},
      {5, 0, k2D, kCursorSelect, "Select (hold down the Shift key for multiple selection)"},
      {5, 1, kOrtho, kCursorSelect, "Select (hold down the Shift key for multiple selection)"},
      {2, 0, kOrtho, kCursorZoomIn, "Zoom (hold down the Shift key to zoom out)"},
      {3, 0, kOrtho, kCursorZoomIn, "Zoom (hold down the Shift key to zoom out)"},
      {3, 0, kPersp, kCursorDollyForward, "Make camera dolly forward"},
      {3, 1, kPersp, kCursorDollyForward, "Make camera dolly forward (fixed target)"},
      {4, 0, kOrtho, kCursorOrbit, "Orbit around target"},
      {4, 1, kPersp, kCursorDollyLateral, "Make camera dolly laterally"},
      {6, 0, kOrtho, kCursorZoomIn, "Zoom (hold down the Shift key to zoom out)"},
      {7, 0, kOrtho, kCursorDollyForward, "Move closer (hold down the Shift key to move away)"},
      {8, 1, kOrtho, kCursorOrbitShift, "Orbit around target"},
      {9, 0, kPersp, kCursorPan, "Pan and tilt camera"},
      {10, 0, kPersp, kCursorRoll, "Roll camera around view axis"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.mode) + " shift " + std::to_string(row.shift) + " kind " +
                 std::to_string(int(row.kind)));
    subplot_set_orthographic(&sp(1), row.kind == kPersp ? 0 : 1);
    host.block->h.interaction_mode = row.mode;
    const int32_t k = row.kind == k2D ? 0 : 1;
    const double x = (sp(k).frameLeft + sp(k).frameRight) / 2, y = (sp(k).frameTop + sp(k).frameBottom) / 2;
    EXPECT_EQ(interact_cursor_kind(h(), 0, x, y, row.shift), row.cursor);
    char text[80];
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(interact_mouse_hover(h(), 0, x, y, row.shift, text, sizeof text, nullptr), 0);
    EXPECT_STREQ(text, row.text);
    int32_t length = -1;
    EXPECT_EQ(interact_mouse_hover(h(), 0, x, y, row.shift, text, sizeof text, &length), 0);
    EXPECT_EQ(length, int32_t(std::strlen(row.text)));
  }
  // A short buffer takes what fits and its terminator.
  host.block->h.interaction_mode = kToolDrag;
  char small[5] = {};
  EXPECT_EQ(interact_mouse_hover(h(), 0, px(0, 5), py(0, 5), 0, small, sizeof small, nullptr), 0);
  EXPECT_STREQ(small, "Drag");
  // Manipulate: the element with a drag handler, empty space, off the figure.
  host.block->h.interaction_mode = kToolManipulate;
  EXPECT_EQ(interact_cursor_kind(h(), 0, px(0, 2), py(0, 3), 0), kCursorManipulate);
  EXPECT_EQ(interact_cursor_kind(h(), 0, px(0, 8), py(0, 8), 0), kCursorNone);
  EXPECT_EQ(interact_cursor_kind(h(), 0, -5, -5, 0), kCursorNone);
  EXPECT_EQ(interact_cursor_kind(h(), 0, 5, 5, 9), kCursorNone);
  EXPECT_EQ(interact_cursor_kind(h(), 3, 5, 5, 0), kRtNonexistentInstance);
  // A zoom the references refuse shows neither cursor nor text.
  host.block->h.interaction_mode = kToolZoom;
  sp(0).xZoomRefSet = 1, sp(0).xZoomMax = 1e9, sp(0).xZoomMin = 1e6;
  EXPECT_EQ(interact_cursor_kind(h(), 0, px(0, 5), py(0, 5), 0), kCursorNone);
  char text[80] = "unchanged";
  EXPECT_EQ(interact_mouse_hover(h(), 0, px(0, 5), py(0, 5), 0, text, sizeof text, nullptr), 0);
  EXPECT_STREQ(text, "");
}

}  // namespace
