// The failure sweep of the quaternion rows, the digests and the geometry: each call runs
// with room for k data words, k = 0, 1, 2, ... until it succeeds, and every
// failure must leave the stacks exactly as they were before the call.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/core/calls.h"
#include "engine/core/libraries.h"
#include "numlib/misc/digest.h"
#include "numlib/misc/geometry.h"
#include "numlib/quaternion/quaternion.h"
#include "support/zvr_session.h"

namespace {

struct SweepCase {
  const char* label;
  BuiltinFn fn;
  uintptr_t data;
  std::vector<const char*> inputs;  // variables, first input first
  int nargout;
};

class FailureSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(z.run("a = quaternion([1 2 3], [4 5 6], [7 8 9], [1 1 1]);\n"
                    "b = quaternion(2, 1, 0, 0);\n"
                    "r = [1 2 3]; h = 1.5; t = 0.5; one = 1;\n"
                    "txt = 'abc'; ints = int32([1 -2 3]); ang = [0.1 0.2 0.3]; z0 = 0;\n"
                    "pts = [0 0; 1 0; 1 1; 0 1; 0.5 0.5]; gx = pts(:, 1)'; gy = pts(:, 2)';\n"
                    "tri = delaunayn(pts); qp = [0.5 0.25; 2 2]; vals = [0; 1; 2; 3; 4];\n"
                    "qx = [0.5 2]; qy = [0.25 2]; meth = 'nearest';\n"),
              kOk);
    // Rows run with the class id of their section, as the engine calls them.
    int32_t index = 0;
    const BuiltinEntry* row = lib_find_builtin(z.c, "q2mat", nullptr, 0, &index);
    ASSERT_NE(row, nullptr);
    for (int32_t t = 0; t < z.c->table_count; ++t) {
      const LibraryTableRef& ref = table_refs(z.c)[t];
      if (row >= ref.table && row < ref.table + ref.rows) z.c->class_id = builtin_class_id(t, row->class_word);
    }
  }
  void TearDown() override { EXPECT_TRUE(z.clean()); }

  std::vector<uint32_t> desc_words_now() const {
    return std::vector<uint32_t>(desc_words(z.c), desc_words(z.c) + z.c->desc_top);
  }
  std::vector<uint64_t> data_words_now() const {
    return std::vector<uint64_t>(data_words(z.c), data_words(z.c) + z.c->data_top);
  }

  void sweep(const SweepCase& k) {
    const int nargin = int(k.inputs.size());
    for (int64_t room = 0;; ++room) {
      ASSERT_LT(room, 5000) << k.label << ": never succeeds";
      for (const char* name : k.inputs) ASSERT_EQ(z.push_variable(name), kOk) << name;
      const auto desc = desc_words_now();
      const auto data = data_words_now();
      const uint32_t capacity = z.c->data_capacity;
      z.c->data_capacity = uint32_t(z.c->data_top + room);
      const int status = k.fn(z.c, nargin, k.nargout, k.data);
      z.c->data_capacity = capacity;
      if (status == kOk) {
        EXPECT_EQ(z.c->desc_top, int32_t(desc.size()) - 3 * nargin + 3 * std::max(k.nargout, 1))
            << k.label;
        while (z.c->desc_top > int32_t(desc.size()) - 3 * nargin) stk_drop(z.c);
        return;
      }
      ASSERT_TRUE(status == kDataStackOverflow || status == kStackOverflow) << k.label << " " << status;
      EXPECT_EQ(desc_words_now(), desc) << k.label << " room " << room;
      EXPECT_EQ(data_words_now(), data) << k.label << " room " << room;
      for (int i = 0; i < nargin; ++i) stk_drop(z.c);
    }
  }

  ZvrSession z;
};

TEST_F(FailureSweep, QuaternionRowsAndDigests) {
  const SweepCase cases[] = {
      {"quaternion(r)", bi_quaternion, 0, {"r"}, 1},
      {"quaternion(r, r, r, r)", bi_quaternion, 0, {"r", "r", "r", "r"}, 1},
      {"plus(r, b)", bi_quaternion_plus, 0, {"r", "b"}, 1},
      {"minus(a, one)", bi_quaternion_minus, 0, {"a", "one"}, 1},
      {"times(h, a)", bi_quaternion_product, 't', {"h", "a"}, 1},
      {"rdivide(a, r)", bi_quaternion_product, 'r', {"a", "r"}, 1},
      {"power(a, h)", bi_quaternion_power, 'p', {"a", "h"}, 1},
      {"eq(a, b)", bi_quaternion_compare, 'e', {"a", "b"}, 1},
      {"double(a)", bi_quaternion_double, 0, {"a"}, 1},
      {"q2str(b)", bi_q2str, 0, {"b"}, 1},
      {"size(a)", bi_quaternion_size, 0, {"a"}, 2},
      {"abs(a)", bi_quaternion_norm, 'a', {"a"}, 1},
      {"rpy2q(ang, z0, z0)", bi_rpy2q, 0, {"ang", "z0", "z0"}, 1},
      {"q2rpy(a)", bi_q2rpy, 0, {"a"}, 3},
      {"q2mat(b)", bi_q2mat, 0, {"b"}, 1},
      {"qslerp(a, b, t)", bi_qslerp, 0, {"a", "b", "t"}, 1},
      {"sum(a)", bi_quaternion_arrayop, 'u', {"a"}, 1},
      {"ctranspose(a)", bi_quaternion_arrayop, 'T', {"a"}, 1},
      {"repmat(a, 2)", bi_quaternion_arrayop, 'R', {"a", "one"}, 1},
      {"cat(1, a, a)", bi_quaternion_cat, 'c', {"one", "a", "a"}, 1},
      {"horzcat(a, h)", bi_quaternion_cat, 'h', {"a", "h"}, 1},
      {"delaunayn(pts)", bi_delaunayn, 0, {"pts"}, 2},
      {"delaunay(gx, gy)", bi_delaunay, 0, {"gx", "gy"}, 1},
      {"tsearchn(pts, tri, qp)", bi_tsearchn, 0, {"pts", "tri", "qp"}, 1},
      {"griddatan(pts, vals, qp)", bi_griddatan, 0, {"pts", "vals", "qp"}, 1},
      {"tsearch(gx, gy, tri, qx, qy)", bi_tsearch_griddata, kGeomTsearch, {"gx", "gy", "tri", "qx", "qy"}, 1},
      {"griddata(gx, gy, gx, qx, qy, meth)", bi_tsearch_griddata, kGeomGriddata,
       {"gx", "gy", "gx", "qx", "qy", "meth"}, 1},
      {"voronoin(pts)", bi_voronoin, 0, {"pts"}, 2},
      {"voronoi(gx, gy)", bi_voronoi, 0, {"gx", "gy"}, 2},
      {"md5(txt)", bi_md5, 0, {"txt"}, 1},
      {"sha1(ints)", bi_sha1, 0, {"ints"}, 1},
  };
  for (const SweepCase& k : cases) sweep(k);
}

}  // namespace
