// Controls drawn by the display-list interpreter through the Qt driver, by
// pixel probes: the bevel greys of a push button (250, 220, 127; pressed
// 127, 200, 250), a text field's white face and its yellow selection.
#include <string>
#include <vector>

#include "graphics/render/plot_render.h"
#include "support/plot_list_builder.h"
#include "tests/platform/qt_driver_fixture.h"

namespace {

using namespace qt_probe;

std::vector<double> label_data(std::vector<double> head, const std::string& t) {
  head.push_back(double(t.size()));
  std::vector<double> b((t.size() + 7) / 8, 0.0);
  std::memcpy(b.data(), t.data(), t.size());
  head.insert(head.end(), b.begin(), b.end());
  return head;
}

TEST(QtControls, BevelGreysWhiteFieldAndYellowSelection) {
  plotlists::ListBuilder b;
  b.open(0);
  b.recv(61, 0, 0, label_data({0, 0, 0, 0}, "p\tGo"));
  b.recv(61, 0, 0, label_data({1, 0, 0, 0}, "q\tGo"));
  const int32_t field_at = int32_t(b.d.size());
  std::vector<double> field{0, 0, 0, 0, -1, 0, 0};
  std::string t = std::string("f") + '\0' + "12.5";
  t.resize(1 + 1 + 16, '\0');
  std::vector<double> bytes((t.size() + 7) / 8, 0.0);
  std::memcpy(bytes.data(), t.data(), t.size());
  field.insert(field.end(), bytes.begin(), bytes.end());
  b.recv(65, 0, 0, field);
  Subplot s{};
  plotlists::flat_subplot(&s, 0, 200, 0, 120, 0, 1, 0, 1);
  s.hasContent = 0;
  s.yMode = kAxisUnscaled;
  Canvas c(200, 120);
  int32_t start = 0;
  RenderRequest q{b.d.data(), int32_t(b.d.size()), nullptr, &s, &start, nullptr,
                  nullptr, nullptr, nullptr, nullptr, 0, field_at, 0, 32000, false, c.drv, &c.ctx, 0, 0, 0, 0};
  plotlist_render(&q);
  c.finish();
  const double* up = b.d.data() + 7 + 6;                  // the first button's data
  const double* down = up + 4 + 1 + 1 + 6;               // the second's
  const double* f = b.d.data() + field_at + 6;           // the field's rectangle
  const int x = 101;                                      // the boxes start at the second of two 100-pixel segments
  const int top = int(up[2]), bottom = int(up[3]) + 1;    // not pressed: one row more
  EXPECT_EQ(c.at(x + 2, top), qRgb(250, 250, 250));
  EXPECT_EQ(c.at(x + 1, top + 2), qRgb(220, 220, 220));
  EXPECT_EQ(c.at(x + 2, bottom), qRgb(127, 127, 127));
  const int ptop = int(down[2]), pbottom = int(down[3]);
  EXPECT_EQ(c.at(x + 2, ptop), qRgb(127, 127, 127));
  EXPECT_EQ(c.at(x + 1, ptop + 2), qRgb(200, 200, 200));
  EXPECT_EQ(c.at(x + 2, pbottom), qRgb(250, 250, 250));
  const double mid = (f[2] + f[3]) / 2;
  EXPECT_EQ(c.at(int(f[0]) + 3, int(mid)), kWhite);
  int yellow = 0;
  for (int px = int(f[1]) - 30; px < int(f[1]) - 3; ++px)
    for (int py = int(f[2]) + 2; py < int(f[3]) - 1; ++py) yellow += c.at(px, py) == qRgb(255, 255, 0);
  EXPECT_GT(yellow, 20);
}

}  // namespace
