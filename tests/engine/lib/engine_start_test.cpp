// The engine's start-up as the program runs it: tables, error messages, the
// group flag, compiler settings and the operators the numerical library needs.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "engine/core/errors.h"
#include "engine/core/interp.h"
#include "engine/core/opcodes.h"
#include "engine/core/value_stack.h"
#include "engine/lib/builtin_tables.h"
#include "engine/lib/engine_start.h"
#include "engine/lib/matrix_ops.h"

namespace {

TEST(EngineStart, LeavesAReadyEngineAndCanRunTwice) {
  constexpr uint32_t kSize = 1 << 20;
  std::unique_ptr<uint64_t[]> block(new uint64_t[kSize / 8]());
  for (int round = 0; round < 2; ++round) {
    EngineContext* ctx = nullptr;
    ASSERT_EQ(engine_start(block.get(), kSize, &ctx), kOk);
    EXPECT_EQ(ctx->table_count, 1);
    EXPECT_EQ(lib_entry_by_index(ctx, 0), &g_builtin_table_engine[0]);
    EXPECT_EQ(table_refs(ctx)[0].group_flag, 1);  // the "!Tarnivel" groups
    EXPECT_EQ(ctx->emit_positions, 1);
    EXPECT_EQ(ctx->opt_level, 4);
    EXPECT_EQ(ctx->frame, 0);
    const ErrMsgEntry* row = errmsg_lookup(ctx, 29, false);
    ASSERT_NE(row, nullptr);
    EXPECT_STREQ(row->message, "Index out of range");

    // The matrix division reaches the engine's elementwise arithmetic.
    double *a, *b;
    ASSERT_EQ(stk_push_matrix(ctx, 1, 2, &a, nullptr), kOk);
    a[0] = 49;
    a[1] = 7;
    ASSERT_EQ(stk_push_matrix(ctx, 1, 1, &b, nullptr), kOk);
    b[0] = 49;
    ASSERT_EQ(bi_mrdivide(ctx), kOk);
    int32_t rows, cols;
    double *re, *im;
    ASSERT_EQ(stk_get_matrix(ctx, 0, &rows, &cols, &re, &im), kOk);
    EXPECT_EQ(re[0], 1.0);
    EXPECT_EQ(re[1], 7.0 / 49.0);
  }
}

}  // namespace

// Every intrinsic of the families the base library serves here has a handler
// once the engine has started, so compiled code never meets the default.
TEST(EngineStart, InstallsTheBaseLibraryIntrinsics) {
  constexpr uint32_t kSize = 1 << 20;
  std::unique_ptr<uint64_t[]> block(new uint64_t[kSize / 8]());
  EngineContext* ctx = nullptr;
  ASSERT_EQ(engine_start(block.get(), kSize, &ctx), kOk);
  for (const char* name : {"abs", "sin", "atan2", "sqrt", "realsqrt", "int8", "uint64", "double", "char", "cast",
                           "typecast", "ischar", "isvector", "size", "numel", "zeros", "magic", "sum", "cumsum",
                           "max", "find", "sort", "unique", "ismember", "horzcat", "reshape", "colon", "cross"}) {
    const IntrinsicEntry* e = intrinsic_find(name);
    ASSERT_NE(e, nullptr) << name;
    EXPECT_TRUE(interp_op_registered(e->opcode)) << name;
  }
}
