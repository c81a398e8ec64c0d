// Errors: the message table's shape and the messages other parts quote, the
// texts stored when raising by code (golden, byte for byte), identifiers,
// the report and its printing on fd 2, lasterr, lasterror and rethrow.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "engine/core/containers.h"
#include "engine/core/errors.h"
#include "engine/core/frames.h"
#include "engine/core/heap.h"
#include "engine/core/streams.h"
#include "engine/core/symbols.h"
#include "engine/core/value_stack.h"
#include "support/engine_block.h"
#include "support/heap_check.h"

namespace {

int capture_write(EngineContext*, int32_t fd, const char* bytes, int32_t n, uintptr_t user) {
  if (fd != kFdStderr) return kNotMyDescriptor;
  reinterpret_cast<std::string*>(user)->append(bytes, size_t(n));
  return kOk;
}

class Errors : public ::testing::Test {
 protected:
  void SetUp() override {
    rows_[0] = BuiltinEntry{};
    std::strcpy(rows_[0].name, kHookErrMsgTable);
    rows_[0].fn = errmsg_table_as_fn(kEngineErrorTable);
    rows_[1] = stream_hook_row(kHookWrite, capture_write, kNewlineLF, reinterpret_cast<uintptr_t>(&stderr_));
    ASSERT_EQ(engine_register_builtin_table(ctx, rows_, 1), kOk);
    // Local slot 1 of the base workspace is the variable x.
    std::memcpy(frame_var_name_entry(ctx, 1), "x", 2);
  }

  // A function "f" and a location in it.
  void locate_in_f(int32_t line) {
    int32_t sym = 0;
    ASSERT_EQ(symtab_intern(ctx, "f", 1, 32, &sym), kOk);
    uint32_t* e = fn_entry(ctx, 1);
    e[0] = uint32_t(sym);
    e[1] = e[2] = e[3] = 0;
    ctx->fn_count = 2;
    base()[kFwCurrentFunction] = 1;
    base()[kFwLine] = uint32_t(line);
  }
  uint32_t* base() { return frame_words(ctx, 0); }

  std::string block_text(int32_t index) {
    if (index < 1) return "<none>";
    return reinterpret_cast<const char*>(heap_words(ctx) + index + 1);
  }
  double block_code(int32_t index) { return tn::ld_f64(heap_words(ctx) + index); }
  std::string pending() { return block_text(ctx->err_pending_text); }
  std::string last() { return block_text(ctx->err_last_text); }

  std::string report(int32_t code, bool current, int32_t capacity = kReportBufferBytes) {
    std::vector<char> buf(size_t(capacity) + 1, '#');
    int32_t n = -1;
    err_format_report(ctx, code, current, buf.data(), capacity, &n);
    EXPECT_EQ(size_t(n), std::strlen(buf.data()));
    return std::string(buf.data(), size_t(n));
  }

  // What the interpreter does when a try block catches an error.
  void catch_error(int32_t code) {
    char buf[kReportBufferBytes];
    int32_t n = 0;
    err_format_report(ctx, code, true, buf, sizeof buf, &n);
    err_store(ctx, code, buf, n, false);
    err_clear_location(ctx);
  }

  std::string string_at(int depth) {
    char buf[512];
    int32_t n = 0;
    EXPECT_EQ(stk_get_string_buf(ctx, depth, buf, sizeof buf, &n), kOk);
    return std::string(buf, size_t(n));
  }
  std::string field(int depth, const char* name) {
    EXPECT_EQ(stk_struct_get_field(ctx, depth, name, int32_t(std::strlen(name))), kOk);
    std::string s = string_at(0);
    stk_drop(ctx);
    return s;
  }
  void push_text(const char* s) { ASSERT_EQ(stk_push_cstr(ctx, -1, s), kOk); }
  // A structure of char fields, in the order given.
  void push_struct(std::vector<std::pair<const char*, const char*>> fields) {
    stk_claim(ctx, kKindContainer, 0, kContStruct, 0);
    for (auto& [name, value] : fields) {
      push_text(value);
      ASSERT_EQ(stk_make_container(ctx, 1, 1, name, int32_t(std::strlen(name))), kOk);
    }
  }

  EngineBlock block = EngineBlock::make(1u << 18);
  EngineContext* ctx = block.ctx();
  BuiltinEntry rows_[3]{};
  std::string stderr_;
};

TEST(ErrorTable, PlainRowsAscendThenTemplatesRepeatEarlierCodes) {
  const ErrMsgEntry* t = kEngineErrorTable;
  std::set<uint32_t> plain;
  for (int i = 0; i < kEnginePlainRows; ++i) {
    if (i > 0) {
      EXPECT_LT(t[i - 1].code, t[i].code) << "row " << i;
    }
    EXPECT_GE(t[i].code, 1u);
    EXPECT_LT(t[i].code, uint32_t(kFirstRuntimeCode));
    EXPECT_EQ(std::strchr(t[i].message, '%'), nullptr) << t[i].code;
    plain.insert(t[i].code);
  }
  EXPECT_EQ(t[0].code, 1u);
  EXPECT_EQ(t[kEnginePlainRows - 1].code, 1000u);
  for (int i = kEnginePlainRows; i < kEngineErrorRows; ++i) {
    EXPECT_TRUE(plain.count(t[i].code)) << "template row " << i << " code " << t[i].code;
    EXPECT_NE(std::strchr(t[i].message, '%'), nullptr) << t[i].code;
  }
  EXPECT_EQ(kEnginePlainRows + kEngineTemplateRows, kEngineErrorRows);
  for (int i = 0; i < kEngineErrorRows; ++i) {
    ASSERT_NE(t[i].identifier, nullptr);
    ASSERT_NE(t[i].message, nullptr);
    const std::string id = t[i].identifier;
    EXPECT_FALSE(id.empty());
    for (char c : id) EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << id;
  }
  EXPECT_EQ(t[kEngineErrorRows].code, 0u);
  EXPECT_EQ(t[kEngineErrorRows].identifier, nullptr);
  EXPECT_EQ(t[kEngineErrorRows].message, nullptr);
}

// Messages and identifiers as the rest of the system quotes them.
TEST_F(Errors, LookupGivesTheMessagesOtherPartsQuote) {
  struct Row {
    int32_t code;
    const char* id;
    const char* message;
  };
  const Row rows[] = {
      {1, "stackOverflow", "Stack overflow"},
      {3, "dataOverflow", "Data stack overflow"},
      {9, "noConvergence", "Algorithm does not converge"},
      {28, "nonIntegerIndex", "Non-integer index"},
      {44, "wrongType", "Wrong type"},
      {103, "outOfRangeArg", "Argument out of range"},
      {122, "undefFunOrVar", "Undefined function or variable"},
      {155, "misplacedVarargout", "\"varargout\" not as the last output argument"},
      {209, "unexpectedEndFunction", "Unexpected \"endfunction\""},
      {404, "secViolationGlobal", "Security violation (global or persistent var)"},
      {505, "debugging", "Execution suspended for debugging"},
      {1000, "notSupported", "Not supported"},
  };
  for (const Row& r : rows) {
    const ErrMsgEntry* e = errmsg_lookup(ctx, r.code, false);
    ASSERT_NE(e, nullptr) << r.code;
    EXPECT_STREQ(e->message, r.message);
    EXPECT_STREQ(e->identifier, r.id);
    std::string zvr = std::string(kEngineIdPrefix) + r.id;
    // Identifiers shared by several codes map to the first of them.
    const int32_t back = err_code_from_identifier(ctx, zvr.c_str(), -1);
    ASSERT_GT(back, 0);
    EXPECT_LE(back, r.code);
    EXPECT_STREQ(errmsg_lookup(ctx, back, false)->identifier, r.id);
  }
  // A code's template row, or its plain row when it has none; the third row
  // of 120 is never chosen.
  EXPECT_STREQ(errmsg_lookup(ctx, 29, true)->message, "Index out of range (%i) for variable %v");
  EXPECT_STREQ(errmsg_lookup(ctx, 120, true)->message, "Undefined variable %v");
  EXPECT_STREQ(errmsg_lookup(ctx, 21, true)->message, "Bad size");
  EXPECT_EQ(errmsg_lookup(ctx, 13, true), nullptr);
}

TEST_F(Errors, LaterRegisteredTablesWinAndIdentifiersNeedTheWholeName) {
  static const ErrMsgEntry mine[] = {{29, "mine", "Mine"}, {10001, "plotOverflow", "No plot room"}, {}};
  BuiltinEntry rows[2]{};
  std::strcpy(rows[0].name, kHookErrMsgTable);
  rows[0].fn = errmsg_table_as_fn(mine);
  ASSERT_EQ(engine_register_builtin_table(ctx, rows, 1), kOk);
  EXPECT_STREQ(errmsg_lookup(ctx, 29, false)->message, "Mine");
  EXPECT_STREQ(errmsg_lookup(ctx, 29, true)->message, "Mine");  // that table has no template
  EXPECT_STREQ(errmsg_lookup(ctx, 28, false)->message, "Non-integer index");

  EXPECT_EQ(err_code_from_identifier(ctx, "ZVR:plotOverflow", -1), 10001);
  EXPECT_EQ(err_code_from_identifier(ctx, "ZVR:badArg", -1), 107);
  EXPECT_EQ(err_code_from_identifier(ctx, "ZVR:badArgs", -1), 0);
  EXPECT_EQ(err_code_from_identifier(ctx, "ZVR:badAr", -1), 0);
  EXPECT_EQ(err_code_from_identifier(ctx, "zvr:badArg", -1), 0);
  EXPECT_EQ(err_code_from_identifier(ctx, "ZVR:BADARG", -1), 0);
  EXPECT_EQ(err_code_from_identifier(ctx, "ZVR:", -1), 0);
  EXPECT_EQ(err_code_from_identifier(ctx, "ZVR:badArg and more", 10), 107);
}

// Texts stored by err_raise_code, byte for byte.
TEST_F(Errors, RaisedTextsAreExpandedExactly) {
  int32_t fld = 0;
  ASSERT_EQ(symtab_intern(ctx, "fld", 3, 32, &fld), kOk);
  struct Case {
    int32_t code, variable, function, integer;
    const char* text;
    const char* stored;
  };
  const Case cases[] = {
      {29, 1, 0, 7, nullptr, "Index out of range (7) for variable 'x'"},
      {29, 1, 0, -1, nullptr, "Index out of range for variable 'x'"},
      {174, -1, 0, 9, nullptr, "Unrecognized token 0x09"},
      {174, -1, 0, 65, nullptr, "Unrecognized token 'A'"},
      {174, -1, 0, 200, nullptr, "Unrecognized token 0xc8"},
      {174, -1, 0, 0x1234, nullptr, "Unrecognized token 0x1234"},
      {121, -1, 0, -1, "foo(3)", "Undefined function 'foo'"},
      {9999, -1, 0, -1, nullptr, "Error 9999"},
      {9999, 1, 0, 3, "x", "Error 9999"},
      {120, 1, 0, -1, nullptr, "Undefined variable 'x'"},
      {120, -1, 0, -1, nullptr, "Undefined variable"},
      {34, -1, 0, 3, nullptr, "Bad dimension (3)"},
      {37, 1, fld, -1, nullptr, "Attempt to access field 'fld' of non-struct variable 'x'"},
      {37, -1, fld, -1, nullptr, "Attempt to access field 'fld' of non-struct variable "},
      {37, 1, 0, -1, nullptr, "Attempt to access field of non-struct variable 'x'"},
      {186, -1, 0, 3, "myfun", "Wrong number of input arguments (3) for function 'myfun'"},
      {201, -1, 0, 3, "abcdef", "Unknown variable or function 'abc'"},
      {201, -1, 0, 0, "abcdef", "Unknown variable or function "},
      {190, -1, 0, -1, "if x", "Unbounded language construct 'if x'"},
      {199, -1, fld, -1, nullptr, "Attempt to redefine function 'fld'"},
      {21, 1, 0, 4, "t", "Bad size"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(err_raise_code(ctx, c.code, c.variable, c.function, c.integer, c.text), c.code);
    EXPECT_EQ(pending(), c.stored) << c.code;
    EXPECT_EQ(block_code(ctx->err_pending_text), double(c.code));
    EXPECT_EQ(ctx->status_word, c.code);
  }
  // Only the newest pending text holds a block.
  EXPECT_TRUE(check_heap_used(ctx, {{ctx->err_pending_text, 1}}));
}

TEST_F(Errors, PositionIsAppendedOnlyFromLineTwo) {
  locate_in_f(12);
  err_raise_code(ctx, 29, 1, 0, 7, nullptr);
  EXPECT_EQ(pending(), "Index out of range (7) for variable 'x' (f;12)");
  EXPECT_EQ(ctx->error_area.loc_function, 1);
  EXPECT_EQ(ctx->error_area.loc_line, 12);
  err_store(ctx, 10, "no position", -1, false);
  EXPECT_EQ(pending(), "no position");

  locate_in_f(1);
  err_raise_code(ctx, 29, 1, 0, 7, nullptr);
  EXPECT_EQ(pending(), "Index out of range (7) for variable 'x'");

  // Code entered from the host, outside any function: the line alone.
  base()[kFwCurrentFunction] = uint32_t(-1);
  base()[kFwCallerKind] = kAreaNone;
  base()[kFwLine] = 5;
  err_raise_id(ctx, nullptr, 0, "boom", -1);
  EXPECT_EQ(pending(), "boom (5)");
  EXPECT_EQ(ctx->error_area.loc_function, -1);
}

// A full data stack leaves no scratch room: the plain message is still stored.
TEST_F(Errors, NoScratchRoomStoresThePlainMessage) {
  ctx->data_top = int32_t(ctx->data_capacity);
  err_raise_code(ctx, 29, 1, 0, 7, nullptr);
  EXPECT_EQ(pending(), "Index out of range");
  ctx->data_top = 0;
}

// Text kept in the free data stack, where the scratch buffer goes, is read
// before the scratch buffer is written.
TEST_F(Errors, TextArgumentInTheScratchAreaSurvives) {
  const int64_t free_words = int64_t(ctx->data_capacity) - ctx->data_top;
  char* text = reinterpret_cast<char*>(data_words(ctx) + ctx->data_capacity - free_words / 2);
  std::strcpy(text, "foo(3)");
  err_raise_code(ctx, 121, -1, 0, -1, text);
  EXPECT_EQ(pending(), "Undefined function 'foo'");
  std::strcpy(text, "mylib");
  err_raise_code(ctx, 215, -1, 0, 5, text);
  EXPECT_EQ(pending(), "Library not found 'mylib'");
}

// A full heap leaves the text unstored, and nothing else goes wrong.
TEST_F(Errors, FullHeapLeavesTheTextUnstored) {
  int32_t big = 0;
  ASSERT_EQ(heap_alloc(ctx, ctx->heap_size - 1, &big), kOk);
  EXPECT_EQ(err_raise_code(ctx, 29, 1, 0, 7, nullptr), 29);
  EXPECT_EQ(ctx->err_pending_text, -1);
  EXPECT_EQ(ctx->status_word, 29);
  EXPECT_EQ(report(29, true), "Index out of range");
}

TEST_F(Errors, ReportFromTableAddsLocationAndOperation) {
  EXPECT_EQ(report(29, false), "Index out of range");
  locate_in_f(12);
  err_note_location(ctx, 29, 0);
  std::strcpy(ctx->failing_op, "+");
  EXPECT_EQ(report(29, false), "Index out of range (f;12) '+'");
  EXPECT_EQ(report(29, false, 20), "Index out of range");  // no room for the position
  err_note_location(ctx, 29, 1);
  EXPECT_EQ(report(29, false), "Index out of range (f;1) '+'");
  err_note_location(ctx, 29, 0);
  ctx->error_area.loc_line = 0;
  ctx->failing_op[0] = ' ';
  EXPECT_EQ(report(29, false), "Index out of range (f)");
  ctx->error_area.loc_function = -1;
  ctx->error_area.loc_line = 7;
  EXPECT_EQ(report(29, false), "Index out of range (7)");
  ctx->error_area.loc_line = 1;
  EXPECT_EQ(report(29, false), "Index out of range");
  EXPECT_EQ(report(0, false), "");
  EXPECT_EQ(report(9999, false), "");
  EXPECT_EQ(report(-40, true), "");
  err_state_clear(ctx);
  EXPECT_EQ(ctx->status_word, 0);
  EXPECT_EQ(ctx->error_area.loc_function, -1);
  EXPECT_EQ(ctx->failing_op[0], 0);
}

TEST_F(Errors, ReportChoosesBetweenPendingLastAndTable) {
  err_raise_code(ctx, 29, 1, 0, 7, nullptr);
  // Not current: the last text (none yet), so the table.
  EXPECT_EQ(report(29, false), "Index out of range");
  // Current: the pending text is committed and reported.
  EXPECT_EQ(report(29, true), "Index out of range (7) for variable 'x'");
  EXPECT_EQ(ctx->err_pending_text, -1);
  EXPECT_EQ(last(), "Index out of range (7) for variable 'x'");
  EXPECT_EQ(report(21, false), "Index out of range (7) for variable 'x'");
  // A current code other than 10 without pending text reads the table.
  EXPECT_EQ(report(21, true), "Bad size");
  EXPECT_EQ(report(10, true), "Index out of range (7) for variable 'x'");
  // An error raised by identifier keeps its own text.
  const int code = err_raise_id(ctx, "my:id", -1, "by id", -1);
  ASSERT_LT(code, 0);
  EXPECT_EQ(report(code, true), "by id");
  EXPECT_TRUE(check_heap_used(ctx, {{ctx->err_last_text, 1}}));
  // Cut at the buffer.
  EXPECT_EQ(report(code, false, 4), "by ");
}

TEST_F(Errors, PrintWritesTheReportAndALineEndOnFdTwo) {
  err_raise_code(ctx, 29, 1, 0, 7, nullptr);
  EXPECT_EQ(err_print(ctx, 29, true), kOk);
  EXPECT_EQ(stderr_, "Index out of range (7) for variable 'x'\n");
  EXPECT_EQ(last(), "Index out of range (7) for variable 'x'");
  EXPECT_EQ(ctx->err_pending_text, -1);

  stderr_.clear();
  locate_in_f(3);
  err_note_location(ctx, 43, 0);
  std::strcpy(ctx->failing_op, "plus");
  EXPECT_EQ(err_print(ctx, 43, false), kOk);
  EXPECT_EQ(stderr_, "Index out of range (7) for variable 'x'\n");  // the last text
  stderr_.clear();
  ASSERT_EQ(err_print(ctx, 43, true), kOk);
  EXPECT_EQ(stderr_, "Wrong type (f;3) 'plus'\n");
  EXPECT_EQ(last(), "Wrong type (f;3) 'plus'");

  stderr_.clear();
  EXPECT_EQ(err_print(ctx, 0, false), kOk);
  EXPECT_EQ(stderr_, "Wrong type (f;3) 'plus'\n");
  stderr_.clear();
  err_clear_location(ctx);  // nothing pending: the last text goes
  EXPECT_EQ(err_print(ctx, 0, false), kOk);
  EXPECT_EQ(stderr_, "");
  EXPECT_TRUE(check_heap_used(ctx, {}));
}

TEST_F(Errors, LasterrAndLasterrorAfterRaisingByCode) {
  err_raise_code(ctx, 29, 1, 0, 7, nullptr);
  catch_error(29);
  ASSERT_EQ(bi_lasterr_lasterror(ctx, 1, false), kOk);
  EXPECT_EQ(string_at(0), "Index out of range (7) for variable 'x'");
  stk_drop(ctx);
  ASSERT_EQ(bi_lasterr_lasterror(ctx, 2, false), kOk);
  EXPECT_EQ(string_at(0), "Index out of range (7) for variable 'x'");
  EXPECT_EQ(string_at(1), "ZVR:indexOutOfRange");
  stk_drop(ctx);
  stk_drop(ctx);

  ASSERT_EQ(bi_lasterr_lasterror(ctx, 1, true), kOk);
  ASSERT_TRUE(stk_is_struct(ctx, 0));
  EXPECT_EQ(field(0, "message"), "Index out of range (7) for variable 'x'");
  EXPECT_EQ(field(0, "identifier"), "ZVR:indexOutOfRange");
  const char* name = nullptr;
  int32_t n = 0;
  ASSERT_EQ(stk_container_field_at(ctx, 0, 1, &name, &n), kOk);
  EXPECT_EQ(std::string(name, size_t(n)), "message");
  stk_drop(ctx);

  // Code 28 reports the identifier of its first row.
  err_raise_code(ctx, 28, 1, 0, -1, nullptr);
  catch_error(28);
  ASSERT_EQ(bi_lasterr_lasterror(ctx, 1, true), kOk);
  EXPECT_EQ(field(0, "message"), "Non-integer index for variable 'x'");
  EXPECT_EQ(field(0, "identifier"), "ZVR:nonIntegerIndex");
  stk_drop(ctx);
}

TEST_F(Errors, LasterrorAfterRaisingByIdentifier) {
  EXPECT_EQ(err_raise_id(ctx, "ZVR:badArg", -1, "custom", -1), 107);
  catch_error(107);
  ASSERT_EQ(bi_lasterr_lasterror(ctx, 1, true), kOk);
  EXPECT_EQ(field(0, "message"), "custom");
  EXPECT_EQ(field(0, "identifier"), "ZVR:badArg");
  stk_drop(ctx);

  const int code = err_raise_id(ctx, "my:id", -1, "mine failed", -1);
  ASSERT_LT(code, 0);
  EXPECT_EQ(err_raise_id(ctx, "my:id", 5, nullptr, 0), code);  // the same symbol again
  catch_error(code);
  ASSERT_EQ(bi_lasterr_lasterror(ctx, 1, true), kOk);
  EXPECT_EQ(field(0, "message"), "mine failed");
  EXPECT_EQ(field(0, "identifier"), "my:id");
  stk_drop(ctx);

  EXPECT_EQ(err_raise_id(ctx, nullptr, 0, "plain", -1), kUserError);
  catch_error(kUserError);
  ASSERT_EQ(bi_lasterr_lasterror(ctx, 2, true), kOk);
  EXPECT_EQ(field(0, "identifier"), "ZVR:user");
  EXPECT_EQ(field(0, "message"), "plain");
  EXPECT_EQ(string_at(1), "ZVR:user");

  // An identifier longer than the symbol limit fails and raises nothing.
  EXPECT_EQ(err_raise_id(ctx, std::string(128, 'a').append(":b").c_str(), -1, "x", -1), kNameTooLong);
}

TEST_F(Errors, RethrowReproducesTheMessageExactly) {
  const int items = stk_item_count(ctx);
  push_struct({{"message", "50% done, 100%s left"}, {"identifier", "my:pct"}});
  const int code = bi_rethrow(ctx);
  ASSERT_LT(code, 0);
  EXPECT_EQ(stk_item_count(ctx), items);
  EXPECT_EQ(pending(), "50% done, 100%s left");
  catch_error(code);
  ASSERT_EQ(bi_lasterr_lasterror(ctx, 1, true), kOk);
  EXPECT_EQ(field(0, "message"), "50% done, 100%s left");
  EXPECT_EQ(field(0, "identifier"), "my:pct");
  // rethrow(lasterror) raises the same error again.
  EXPECT_EQ(bi_rethrow(ctx), code);
  EXPECT_EQ(pending(), "50% done, 100%s left");
  EXPECT_EQ(stk_item_count(ctx), items);
}

TEST_F(Errors, RethrowFieldCases) {
  const int items = stk_item_count(ctx);
  push_struct({{"other", "x"}});
  EXPECT_EQ(bi_rethrow(ctx), kUndefinedField);
  stk_drop(ctx);

  push_struct({{"identifier", "ZVR:badArg"}});
  EXPECT_EQ(bi_rethrow(ctx), kBadArgument);  // the message comes from the table
  EXPECT_EQ(stk_item_count(ctx), items);

  push_struct({{"message", "only text"}});
  EXPECT_EQ(bi_rethrow(ctx), kUserError);
  EXPECT_EQ(pending(), "only text");

  // No identifier text: the message is raised as a user error.
  push_struct({{"identifier", ""}, {"message", "kept"}});
  EXPECT_EQ(bi_rethrow(ctx), kUserError);
  EXPECT_EQ(pending(), "kept");

  // An empty message raises nothing, like error('').
  push_struct({{"identifier", "my:id"}, {"message", ""}});
  EXPECT_EQ(bi_rethrow(ctx), kOk);
  EXPECT_EQ(stk_item_count(ctx), items);

  ASSERT_EQ(stk_push_real(ctx, 1), kOk);
  EXPECT_EQ(bi_rethrow(ctx), kWrongType);
}

}  // namespace
