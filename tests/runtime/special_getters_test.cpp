// The special variables' getter, table-driven over the validity bits: each
// row gives the bits set and the value (or empty) a code must give; and the
// parameter list read and written through `_param` with absent, shorter and
// longer lists.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/core/value_stack.h"
#include "runtime/fake_host.h"
#include "runtime/layout.h"
#include "runtime/special_vars.h"
#include "runtime/undo_store.h"

namespace {

struct Got {
  bool empty = false;
  bool logical = false;
  std::vector<double> re, im;
};

Got pop(EngineContext* c) {
  Got g;
  g.logical = stk_is_logical(c, 0);
  if (g.logical) {
    uint8_t v = 0;
    stk_pop_bool(c, &v);
    g.re = {double(v)};
    return g;
  }
  int32_t r = 0, n = 0;
  double *re = nullptr, *im = nullptr;
  EXPECT_EQ(stk_get_matrix(c, 0, &r, &n, &re, &im), 0);
  g.empty = r * n == 0;
  g.re.assign(re, re + r * n);
  if (im) g.im.assign(im, im + r * n);
  stk_drop(c);
  return g;
}

TEST(SpecialGetters, ValuesByValidityBits) {
  FakeHost host;
  ASSERT_EQ(host.start(1u << 20, 1u << 20), 0);
  RuntimeBlock* b = host.block;
  ManipState& m = b->h.manip;
  m.x = 3, m.y = 4, m.x0 = 1, m.y0 = 2, m.z0 = 5, m.x1 = 6, m.y1 = 8, m.z1 = 9;
  m.dx = 0.5, m.dy = -0.5, m.q1 = 7, m.q2 = 11, m.id = 12, m.nb = 13, m.ix = 14;
  const uint32_t all = 0x7FFF;
  struct Row {
    int32_t code;
    uint32_t bits;
    std::vector<double> re, im;  // empty re: an empty matrix
  };
  const Row rows[] = {
      {2, kManipX | kManipY, {3}, {4}},     {2, kManipX, {}, {}},
      {2, kManipX | kManipY, {3}, {4}},     {3, kManipX0 | kManipY0, {1}, {2}},
      {4, kManipX1 | kManipY1, {6}, {8}},   {5, kManipX, {3}, {}},
      {6, kManipX0, {1}, {}},               {7, 0, {}, {}},
      {8, kManipY, {4}, {}},                {10, kManipY1, {8}, {}},
      {11, kManipX | kManipY, {std::atan2(4.0, 3.0)}, {}},
      {14, kManipX | kManipY, {5}, {}},     {16, kManipX1 | kManipY1, {10}, {}},
      {17, kManipX0, {1}, {}},              {17, kManipX0 | kManipY0, {1, 2}, {}},
      {17, kManipX0 | kManipY0 | kManipZ0, {1, 2, 5}, {}},
      {17, kManipY0 | kManipZ0, {}, {}},    {18, all, {6, 8, 9}, {}},
      {19, kManipX | kManipX1, {2}, {}},    {20, kManipY | kManipY1, {2}, {}},
      {21, kManipDelta, {0.5}, {}},         {21, all, {0.5}, {}},
      {21, kManipX | kManipX1, {3}, {}},    {22, kManipY | kManipY1, {4}, {}},
      {22, kManipY, {}, {}},                {23, kManipQ1, {7}, {}},
      {23, kManipQ1 | kManipQ2, {7, 11}, {}}, {23, kManipQ2, {}, {}},
      {25, kManipId, {12}, {}},             {26, kManipNb, {13}, {}},
      {27, kManipIx, {14}, {}},             {27, all & ~kManipIx, {}, {}},
      {29, all, {}, {}},                    {1, all, {}, {}},
      {40, all, {}, {}},
  };
  for (const Row& r : rows) {
    m.valid = r.bits;
    ASSERT_EQ(handler_push_special_var(b, 0, r.code, false), 0) << r.code;
    const Got g = pop(rt_engine(b));
    EXPECT_EQ(g.re, r.re) << "code " << r.code << " bits " << r.bits;
    EXPECT_EQ(g.im, r.im) << "code " << r.code << " bits " << r.bits;
  }
  // With y = 0, _z is the real scalar x.
  m.valid = kManipX | kManipY;
  m.y = 0;
  ASSERT_EQ(handler_push_special_var(b, 0, 2, false), 0);
  const Got z = pop(rt_engine(b));
  EXPECT_EQ(z.re, std::vector<double>{3});
  EXPECT_TRUE(z.im.empty());
  // _m is a logical scalar, false when its bit is clear.
  for (uint32_t bits : {0u, uint32_t(kManipFlag)}) {
    m.valid = bits;
    ASSERT_EQ(handler_push_special_var(b, 0, 24, false), 0);
    const Got g = pop(rt_engine(b));
    EXPECT_TRUE(g.logical);
    EXPECT_EQ(g.re, std::vector<double>{bits ? 1.0 : 0.0});
  }
}

TEST(SpecialGetters, ParamReadsAndWritesTheListOfTheHandlerSubplot) {
  FakeHost host;
  ASSERT_EQ(host.start(1u << 20, 1u << 20), 0);
  RuntimeBlock* b = host.block;
  EngineContext* c = rt_engine(b);
  ASSERT_EQ(inst_create(b, nullptr), 0);  // instance 0 with its value set
  ASSERT_EQ(undo_store_clear_record(rt_value_store(b), 0), 0);
  const int32_t before = c->desc_top;
  auto read = [&](int32_t subplot) {
    b->h.manip.handler_subplot = subplot;
    EXPECT_EQ(handler_push_special_var(b, 0, 28, false), 0);
    return pop(c);
  };
  EXPECT_TRUE(read(2).empty);  // absent list
  ASSERT_EQ(stk_push_real(c, 7), 0);
  ASSERT_EQ(inst_store_set_value(b, 0, 2), 0);  // absent: two empties, then 7
  EXPECT_TRUE(read(0).empty);
  EXPECT_EQ(read(2).re, std::vector<double>{7});
  EXPECT_TRUE(read(5).empty);  // beyond a shorter list
  ASSERT_EQ(stk_push_real(c, 9), 0);
  ASSERT_EQ(inst_store_set_value(b, 0, 4), 0);  // longer: padded
  EXPECT_EQ(read(2).re, std::vector<double>{7});
  EXPECT_EQ(read(4).re, std::vector<double>{9});
  ASSERT_EQ(stk_push_real(c, 1), 0);
  ASSERT_EQ(inst_store_set_value(b, 0, 0), 0);  // replaced inside the list
  EXPECT_EQ(read(0).re, std::vector<double>{1});
  EXPECT_EQ(read(4).re, std::vector<double>{9});
  EXPECT_TRUE(read(-1).empty);
  ASSERT_EQ(stk_push_real(c, 5), 0);
  EXPECT_EQ(inst_store_set_value(b, 0, -1), 0);  // dropped
  EXPECT_EQ(c->desc_top, before);
}

}  // namespace
