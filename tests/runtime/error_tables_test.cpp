// Raising the runtime's codes reports the exact identifier and message; the
// plot table's 10001 is found before the runtime table's.
#include <gtest/gtest.h>

#include <string>

#include "engine/core/errors.h"
#include "runtime/error_tables.h"
#include "runtime/runtime_status.h"
#include "fake_host.h"

TEST(RuntimeErrors, RaisedCodesGiveTheirIdentifierAndMessage) {
  FakeHost h;
  ASSERT_EQ(h.start(1u << 20, 1u << 20), 0);
  EngineContext* c = rt_engine(h.block);
  struct Case {
    int code;
    const char* id;
    const char* message;
  } cases[] = {{kRtPlotOverflow, "ZVR:plotOverflow", "Not enough memory for plot"},
               {kRtTooSmallUndoBuf, "ZVR:tooSmallUndoBuf", "Too small Undo buffer"},
               {kRtCannotRedo, "ZVR:cannotRedo", "Cannot redo"},
               {10050, "ZVR:missingEndmenu", "Missing \"endmenu\""}};
  for (const Case& k : cases) {
    EXPECT_EQ(err_raise_code(c, k.code, -1, 0, -1, nullptr), k.code);
    char report[kReportBufferBytes] = {};
    int32_t n = 0;
    err_format_report(c, k.code, true, report, sizeof report, &n);
    EXPECT_NE(std::string(report, size_t(n)).find(k.message), std::string::npos) << report;
    EXPECT_EQ(err_code_from_identifier(c, k.id, -1), k.code);
  }
  EXPECT_EQ(errmsg_lookup(c, 10058, false), nullptr);
  EXPECT_STREQ(errmsg_lookup(c, kRtExhausted, false)->message, "Exhausted resources");
}

TEST(RuntimeErrors, TableHoldsEveryCodeOnce) {
  int seen[kRuntimeErrorRows] = {};
  for (int i = 0; i < kRuntimeErrorRows; ++i) {
    const int code = int(kRuntimeErrorTable[i].code);
    ASSERT_GE(code, kRtExhausted);
    ASSERT_LE(code, kRtLastTableCode);
    EXPECT_EQ(++seen[code - kRtExhausted], 1) << code;
  }
  EXPECT_EQ(kRuntimeErrorTable[kRuntimeErrorRows].code, 0u);
  EXPECT_EQ(kRuntimeErrorTable[7].code, 10005u);  // after 10006 and 10007
}
