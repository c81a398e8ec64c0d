// The tagged record list: tag search bounded by the run, section gates and
// the selector, the section list, the "Settings" entry, deleting a run from
// the middle, and the handler-description offsets of the catalogue.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/instances.h"
#include "runtime/record_list.h"
#include "runtime/records.h"
#include "runtime/runtime_status.h"
#include "fake_host.h"

namespace {

struct ListBuilder {
  std::vector<int32_t> w;
  static void text(std::vector<int32_t>& d, const std::string& s) {
    const size_t at = d.size();
    d.resize(at + size_t(rec_text_words(int64_t(s.size()))), 0);
    d[at] = int32_t(s.size());
    std::memcpy(&d[at + 1], s.data(), s.size());
  }
  ListBuilder& rec(int32_t tag, std::vector<int32_t> data) {
    w.push_back(tag);
    w.push_back(int32_t(data.size()) + kRecordHeadWords);
    w.insert(w.end(), data.begin(), data.end());
    return *this;
  }
  ListBuilder& text_rec(int32_t tag, const std::string& s) {
    std::vector<int32_t> d;
    text(d, s);
    return rec(tag, d);
  }
  ListBuilder& header(int32_t id, int32_t slot) {
    std::vector<int32_t> d{id, slot};
    text(d, "app");
    return rec(kTagHeader, d);
  }
  ListBuilder& item(const std::string& label) {
    std::vector<int32_t> d{0, 0};
    text(d, label);
    d.insert(d.end(), {5, 0, 0});  // function 5, no inputs or outputs
    return rec(kTagItem, d);
  }
  void install(RuntimeBlock* b) {
    std::memcpy(rt_record_words(b), w.data(), w.size() * 4);
    b->h.record_words = int32_t(w.size());
  }
};

std::vector<std::string> walk(RuntimeBlock* b, int32_t id, char kind) {
  std::vector<std::string> out;
  int32_t pos = -1;
  const char* text = nullptr;
  int32_t n = 0;
  while (rec_nth_of_kind(b, id, kind, &pos, &text, &n, nullptr, nullptr) == 0) out.emplace_back(text, size_t(n));
  return out;
}

class RecordList : public ::testing::Test {
 protected:
  FakeHost h;
  void SetUp() override { ASSERT_EQ(h.start(1u << 20, 1u << 20), 0); }
};

}  // namespace

TEST_F(RecordList, SearchStopsAtTheNextHeader) {
  ListBuilder l;
  l.header(0, 3).rec(kTagFigureOnly, {0}).rec(kTagCapabilities, {9});
  l.header(1, 4).rec(kTagIdle, {7, 0, 0});
  l.install(h.block);
  int32_t pos = -1;
  EXPECT_EQ(rec_find_tag(h.block, 0, &pos, kTagIdle), kRtUndefElement);
  pos = -1;
  ASSERT_EQ(rec_find_tag(h.block, 1, &pos, kTagIdle), 0);
  EXPECT_EQ(pos, 6);  // the header: id, slot and a two-word name
  pos = -1;
  ASSERT_EQ(rec_find_tag(h.block, 0, &pos, kTagCapabilities), 0);
  EXPECT_EQ(pos, 9);
  EXPECT_EQ(rec_find_tag(h.block, 0, &pos, kTagCapabilities), kRtUndefElement);
  pos = -1;
  EXPECT_EQ(rec_find_tag(h.block, 9, &pos, kTagIdle), kRtNonexistentInstance);
  EXPECT_TRUE(rec_instance_has_more(h.block, 0));
  EXPECT_FALSE(rec_instance_has_more(h.block, 1));
  EXPECT_EQ(rec_instance_slot(h.block, 1), 4);
  EXPECT_EQ(rec_instance_slot(h.block, 7), 0);
  int32_t at = 0;
  ASSERT_EQ(rec_find_instance(h.block, 1, &at), 0);
  EXPECT_EQ(at, 12);
}

TEST_F(RecordList, GatedStretchesFollowTheSelector) {
  ListBuilder l;
  l.header(0, 0).text_rec(kTagMenuTitle, "File").text_rec(kTagSection, "Views;v");
  const int32_t section_pos = 6 + 4;  // header 6 words, title 4 words
  l.text_rec(kTagMenuTitle, "Hidden").rec(kTagGateEnd, {}).rec(kTagGate, {5}).text_rec(kTagMenuTitle, "Five");
  l.rec(kTagGateEnd, {}).text_rec(kTagMenuTitle, "Edit").rec(kTagMenusEnd, {}).text_rec(kTagMenuTitle, "After");
  l.install(h.block);
  EXPECT_EQ(walk(h.block, 0, 'm'), (std::vector<std::string>{"File", "Edit"}));
  inst_at(h.block, 0)->section_selector = section_pos;
  EXPECT_EQ(walk(h.block, 0, 'm'), (std::vector<std::string>{"File", "Hidden", "Edit"}));
  inst_at(h.block, 0)->section_selector = 5;
  EXPECT_EQ(walk(h.block, 0, 'm'), (std::vector<std::string>{"File", "Five", "Edit"}));
  // With the submenu flags the settings menu comes first.
  int32_t pos = -1;
  const char* text = nullptr;
  int32_t n = 0;
  uint8_t end = 9, sub = 9;
  ASSERT_EQ(rec_nth_of_kind(h.block, 0, 'm', &pos, &text, &n, &end, &sub), 0);
  EXPECT_EQ(std::string(text, size_t(n)), "Settings");
  EXPECT_EQ(sub, 1);
  EXPECT_EQ(pos, 0);
  ASSERT_EQ(rec_nth_of_kind(h.block, 0, 'm', &pos, &text, &n, &end, &sub), 0);
  EXPECT_EQ(std::string(text, size_t(n)), "File");
}

// The menus' walk with both flags as the host reads it: "T" a title, ">N" a
// submenu start, "<" its end, "-" a separator, else an item.
std::vector<std::string> menu_walk(RuntimeBlock* b, char kind) {
  std::vector<std::string> out;
  int32_t pos = -1;
  const char* text = nullptr;
  int32_t n = 0;
  uint8_t nesting = 0, title = 0;
  while (rec_nth_of_kind(b, 0, kind, &pos, &text, &n, &nesting, &title) == 0) {
    const std::string name = text ? std::string(text, size_t(n)) : std::string();
    out.push_back(title ? "T" + name : nesting ? (name.empty() ? "<" : ">" + name) : name.empty() ? "-" : name);
  }
  return out;
}

TEST_F(RecordList, MenusWalkGivesTitlesSubmenusAndSeparators) {
  ListBuilder l;
  l.header(0, 0).text_rec(kTagMenuTitle, "Early").text_rec(kTagSubmenuTitle, "File");
  l.text_rec(kTagMenuTitle, "Open").rec(kTagSeparator, {}).rec(kTagSubmenuBegin, {});
  l.text_rec(kTagSubmenuTitle, "Recent").text_rec(kTagMenuTitle, "One").rec(kTagSubmenuEnd, {});
  l.text_rec(kTagFigure, "Plot").text_rec(kTagSubmenuTitle, "View").text_rec(kTagMenuTitle, "Zoom");
  l.rec(kTagSeparator, {}).text_rec(kTagFigure, "Other");
  l.install(h.block);
  EXPECT_EQ(menu_walk(h.block, 'm'), (std::vector<std::string>{"TSettings", "Early", "TFile", "Open", "-", ">Recent",
                                                                "One", "<", "TView", "Zoom", "-"}));
  // The plots' walk passes over the menus' titles, nesting and separators.
  EXPECT_EQ(menu_walk(h.block, 'f'), (std::vector<std::string>{"Plot", "Other"}));
  // Without the flags a separator still ends a flat walk.
  EXPECT_EQ(walk(h.block, 0, 'm'), (std::vector<std::string>{"Early", "Open"}));
}

// The settings menu leads the menus whenever an active menu entry (tag 19)
// exists, wherever it stands among the titles; a gated-off one does not
// count.
TEST_F(RecordList, SettingsComeFirstWhenAnActiveMenuEntryExists) {
  struct Case {
    const char* what;
    bool gated;  // the entry behind a gate for selector 5
    int32_t selector;
    std::vector<std::string> walk;
  } cases[] = {
      {"an entry after the first title", false, -2, {"TSettings", "TFile", "Open", "TView"}},
      {"its gate closed", true, -2, {"TFile", "TView"}},
      {"its gate open", true, 5, {"TSettings", "TFile", "Open", "TView"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    ListBuilder l;
    l.header(0, 0).text_rec(kTagSubmenuTitle, "File");
    if (k.gated) l.rec(kTagGate, {5});
    l.text_rec(kTagMenuTitle, "Open");
    if (k.gated) l.rec(kTagGateEnd, {});
    l.text_rec(kTagSubmenuTitle, "View").rec(kTagMenusEnd, {}).text_rec(kTagMenuTitle, "After");
    l.install(h.block);
    inst_at(h.block, 0)->section_selector = k.selector;
    EXPECT_EQ(menu_walk(h.block, 'm'), k.walk);
  }
}

TEST_F(RecordList, SectionsAndItems) {
  ListBuilder l;
  l.header(0, 0).item("Open").item("").item("Close").text_rec(kTagSection, "Views;v");
  l.text_rec(kTagSection, "Plain").text_rec(kTagSection, "Again;v").item("Gated");
  l.install(h.block);
  std::vector<std::string> got;
  int32_t pos = -1;
  const char *title = nullptr, *name = nullptr;
  int32_t tl = 0, nl = 0;
  while (rec_iter_menu_a(h.block, 0, &pos, &title, &tl, &name, &nl) == 0)
    got.push_back(std::string(title, size_t(tl)) + "|" + std::string(name, size_t(nl)));
  EXPECT_EQ(got, (std::vector<std::string>{"Views|v", "Plain|Plain"}));
  // Items: an empty label after the first answer is an alternative, skipped.
  EXPECT_EQ(walk(h.block, 0, 'i'), (std::vector<std::string>{"Open", "Close"}));
}

TEST_F(RecordList, DeletingAMiddleRun) {
  ListBuilder l;
  l.header(0, 0).rec(kTagInit, {1, 0, 0}).header(1, 0).rec(kTagInit, {2, 0, 0}).header(2, 0);
  l.rec(kTagInit, {3, 0, 0});
  l.install(h.block);
  const int32_t before = h.block->h.record_words;
  rec_delete_instance(h.block, 1);
  EXPECT_EQ(h.block->h.record_words, before - 11);
  int32_t pos = 0;
  EXPECT_EQ(rec_find_instance(h.block, 1, &pos), kRtNonexistentInstance);
  pos = -1;
  ASSERT_EQ(rec_find_tag(h.block, 2, &pos, kTagInit), 0);
  RecordView r;
  int32_t at = 0;
  ASSERT_EQ(rec_find_instance(h.block, 2, &at), 0);
  ASSERT_TRUE(rec_at(h.block, at + pos, &r));
  EXPECT_EQ(r.data[0], 3);
}

TEST(RecordCatalogue, HandlerDescriptionOffsets) {
  std::vector<int32_t> item{4, 5};
  ListBuilder::text(item, "Label");  // 3 words
  item.insert(item.end(), {9, 1, 1, 100, 101});
  EXPECT_EQ(rec_hd_offset(kTagItem, item.data(), int32_t(item.size())), 5);
  EXPECT_EQ(rec_hd_offset(kTagItem, item.data(), int32_t(item.size()) - 1), -1);  // cut short
  const std::vector<int32_t> change{2, 40, 41, 9, 0, 0};
  EXPECT_EQ(rec_hd_offset(kTagChange, change.data(), 6), 3);
  const std::vector<int32_t> mouse{-1, 9, 0, 0};
  EXPECT_EQ(rec_hd_offset(kTagMouseWheel, mouse.data(), 4), 1);
  EXPECT_EQ(rec_hd_offset(kTagSeparator, mouse.data(), 4), -1);
  const std::vector<int32_t> bad{-5, 9, 0, 0};
  EXPECT_EQ(rec_hd_offset(kTagKey, bad.data(), 4), -1);
}
