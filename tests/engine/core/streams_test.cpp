// The stream layer against recording fake hook tables: the walk order and its
// stop rule, redirection with and without copy, line-mode reads and control
// requests.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <list>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/core/context.h"
#include "engine/core/service_table.h"
#include "engine/core/streams.h"

namespace {

struct Call {
  std::string op;  // "write", "read", "close", "ctl", "buf"
  int id;          // which fake answered
  int fd;
  std::string bytes;
  bool accepted;
};

// A stream library in miniature: accepts the fds listed (all when empty),
// answers `answer` to them and records every call it receives.
struct Fake {
  std::vector<Call>* log = nullptr;
  int id = 0;
  std::set<int> fds;
  int answer = kOk;
  std::string input;
  size_t pos = 0;
  size_t stall_at = std::string::npos;  // deliver no byte from here on
  uint32_t word_out = 0;
  uint32_t word_in = 0;

  bool take(const char* op, int fd, std::string bytes = {}) {
    const bool ok = fds.empty() || fds.count(fd);
    log->push_back({op, id, fd, std::move(bytes), ok});
    return ok;
  }
};

Fake* F(uintptr_t user) { return reinterpret_cast<Fake*>(user); }

int fake_write(EngineContext*, int32_t fd, const char* b, int32_t n, uintptr_t u) {
  return F(u)->take("write", fd, std::string(b, size_t(n))) ? F(u)->answer : kNotMyDescriptor;
}
int fake_read(EngineContext*, int32_t fd, char* buf, int32_t cap, int32_t* count, uintptr_t u) {
  Fake* f = F(u);
  if (!f->take("read", fd, std::to_string(cap))) return kNotMyDescriptor;
  if (f->answer != kOk) return f->answer;
  if (f->pos >= f->stall_at) return kOk;  // count stays 0
  if (f->pos >= f->input.size()) return kEndOfFile;
  const size_t n = std::min(size_t(cap), f->input.size() - f->pos);
  std::memcpy(buf, f->input.data() + f->pos, n);
  f->pos += n;
  *count = int32_t(n);
  return kOk;
}
int fake_close(EngineContext*, int32_t fd, uintptr_t u) {
  return F(u)->take("close", fd) ? F(u)->answer : kNotMyDescriptor;
}
int fake_control(EngineContext*, int32_t fd, uint32_t req, uint32_t* word, uintptr_t u) {
  Fake* f = F(u);
  if (!f->take("ctl", fd, std::to_string(req))) return kNotMyDescriptor;
  f->word_in = *word;
  *word = f->word_out;
  return f->answer;
}
int fake_buffering(EngineContext*, int32_t fd, int32_t on, uintptr_t u) {
  return F(u)->take("buf", fd, std::to_string(on)) ? F(u)->answer : kNotMyDescriptor;
}

int plain_builtin(EngineContext*, int, int, uintptr_t) { return kOk; }

class Streams : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(engine_init(mem_.get(), kSize, &ctx), kOk);
    engine_reset(ctx);
  }

  Fake* fake(std::set<int> fds = {}, int answer = kOk) {
    Fake& f = fakes_.emplace_back();
    f.log = &log;
    f.id = int(fakes_.size()) - 1;
    f.fds = std::move(fds);
    f.answer = answer;
    return &f;
  }
  static uintptr_t W(Fake* f) { return reinterpret_cast<uintptr_t>(f); }

  // All five hooks of one fake, in the usual order of a library section.
  static std::vector<BuiltinEntry> rows_of(Fake* f, uint8_t write_mode = kNewlineLF,
                                           uint8_t read_mode = kReadBuffered) {
    return {stream_hook_row(kHookWrite, fake_write, write_mode, W(f)),
            stream_hook_row(kHookRead, fake_read, read_mode, W(f)),
            stream_hook_row(kHookClose, fake_close, 0, W(f)),
            stream_hook_row(kHookControl, fake_control, 0, W(f)),
            stream_hook_row(kHookBuffering, fake_buffering, 0, W(f))};
  }

  void add(std::vector<BuiltinEntry> rows, int prepend = 1) {
    rows.push_back(BuiltinEntry{});
    tables_.push_back(std::move(rows));
    ASSERT_EQ(engine_register_builtin_table(ctx, tables_.back().data(), prepend), kOk);
  }

  std::string trace(const char* op, bool accepted_only = true) const {
    std::string s;
    for (const Call& c : log)
      if (c.op == op && (c.accepted || !accepted_only))
        s += (s.empty() ? "" : " ") + std::to_string(c.id) + ":" + std::to_string(c.fd);
    return s;
  }

  static constexpr uint32_t kSize = 1u << 16;
  std::unique_ptr<uint64_t[]> mem_{new uint64_t[kSize / 8]()};
  EngineContext* ctx = nullptr;
  std::vector<Call> log;
  std::list<Fake> fakes_;
  std::list<std::vector<BuiltinEntry>> tables_;
};

TEST_F(Streams, WalkVisitsRowsInSearchOrderAndGoesOnOnlyAfterNotMine) {
  Fake* c = fake();           // id 0: takes everything
  Fake* d = fake();           // id 1: never reached
  Fake* a = fake({10});       // id 2
  Fake* b = fake({11}, kBadContext);  // id 3
  add({stream_hook_row(kHookWrite, fake_write, 1, 0), stream_hook_row(kHookWrite, fake_write, 1, W(d))});
  BuiltinEntry plain = stream_hook_row("plain", plain_builtin, 1);
  BuiltinEntry empty_hook = stream_hook_row(kHookWrite, fake_write, 1);
  empty_hook.fn = nullptr;
  add({stream_hook_row(kHookWrite, fake_write, 1, W(a)), plain, empty_hook,
       stream_hook_row(kHookWrite, fake_write, 1, W(b))});  // prepended: searched first
  engine_set_user_data(ctx, W(c));  // the row with data word 0 gets this

  EXPECT_EQ(io_write(ctx, 10, "x", 1), kOk);
  EXPECT_EQ(trace("write", false), "2:10");
  log.clear();
  EXPECT_EQ(io_write(ctx, 11, "x", 1), kBadContext);  // an error ends the search
  EXPECT_EQ(trace("write", false), "2:11 3:11");
  log.clear();
  EXPECT_EQ(io_write(ctx, 12, "xyz", -1), kOk);
  EXPECT_EQ(trace("write", false), "2:12 3:12 0:12");
  EXPECT_EQ(log.back().bytes, "xyz");
}

TEST_F(Streams, UnclaimedWritesFailExceptConsoleWithoutAnyWriteRow) {
  for (int fd : {1, 2, 3}) EXPECT_EQ(io_write(ctx, fd, "x", 1), kOk) << fd;
  EXPECT_EQ(io_newline(ctx, 3), kOk);
  EXPECT_EQ(io_set_buffering(ctx, 2, 1), kOk);
  EXPECT_EQ(io_write(ctx, 4, "x", 1), kNotMyDescriptor);
  EXPECT_EQ(io_write(ctx, 1024, "x", 1), kNotMyDescriptor);
  add(rows_of(fake({1024})));
  EXPECT_EQ(io_write(ctx, 3, "x", 1), kNotMyDescriptor);
  EXPECT_EQ(io_write(ctx, 1, "x", -2), kBadArgument);
  EXPECT_EQ(io_fclose(ctx, 3), kNotMyDescriptor);
}

struct RedirectCase {
  int t1, c1, t2, c2;
  int fd;
  const char* reaches;  // trace of the writes, in order
};

TEST_F(Streams, RedirectionIsAppliedOnceForEveryOutputOperation) {
  // The one fake takes every fd, so each trace entry reads "0:<fd>".
  const RedirectCase cases[] = {
      {1, 0, 2, 0, 1, "0:1"},        {2, 0, 2, 0, 1, "0:2"},     {2, 1, 2, 0, 1, "0:1 0:2"},
      {2, 1, 1, 1, 1, "0:1"},        {2, 1, 1, 1, 2, "0:2"},     {2, 0, 1, 0, 1, "0:2"},
      {2, 0, 1, 0, 2, "0:1"},        {2, 1, 3, 0, 1, "0:1 0:2"}, {2, 0, 3, 0, 1, "0:2"},
      {2, 1, 2, 1, 1, "0:1 0:2"},    {1, 0, 7, 1, 2, "0:2 0:7"}, {2, 0, 1, 0, 3, "0:3"},
      {1024, 0, 2, 0, 1, "0:1024"},  {1, 1, 2, 0, 1, "0:1"},
  };
  add(rows_of(fake()));
  for (const RedirectCase& k : cases) {
    ASSERT_EQ(io_set_redirect(ctx, 1, k.t1, uint8_t(k.c1)), kOk);
    ASSERT_EQ(io_set_redirect(ctx, 2, k.t2, uint8_t(k.c2)), kOk);
    const std::string want = k.reaches;
    const std::string what = std::to_string(k.t1) + "," + std::to_string(k.c1) + " " +
                             std::to_string(k.t2) + "," + std::to_string(k.c2) + " fd " + std::to_string(k.fd);
    log.clear();
    EXPECT_EQ(io_write(ctx, k.fd, "x", 1), kOk) << what;
    EXPECT_EQ(trace("write"), want) << what;
    log.clear();
    EXPECT_EQ(io_newline(ctx, k.fd), kOk) << what;
    EXPECT_EQ(trace("write"), want) << what;
    log.clear();
    EXPECT_EQ(io_set_buffering(ctx, k.fd, 1), kOk) << what;
    EXPECT_EQ(trace("buf"), want) << what;
  }
  EXPECT_EQ(io_set_redirect(ctx, 3, 1, 0), kNotMyDescriptor);
  EXPECT_EQ(io_set_redirect(ctx, 0, 1, 0), kNotMyDescriptor);
}

TEST_F(Streams, CopyStopsAtAnErrorAndTakesTheLastStatus) {
  Fake* console = fake({1}, kBadContext);
  Fake* other = fake({2});
  add(rows_of(console));
  add(rows_of(other));
  ASSERT_EQ(io_set_redirect(ctx, 1, 2, 1), kOk);
  EXPECT_EQ(io_write(ctx, 1, "x", 1), kBadContext);
  EXPECT_EQ(trace("write"), "0:1");
  // Nobody owns 2's target 9: the copy's 301 is the result.
  console->answer = kOk;
  ASSERT_EQ(io_set_redirect(ctx, 2, 9, 1), kOk);
  log.clear();
  EXPECT_EQ(io_write(ctx, 2, "x", 1), kNotMyDescriptor);
  EXPECT_EQ(trace("write"), "1:2");
  // Nobody owns 1, its copy target succeeds.
  ASSERT_EQ(io_set_redirect(ctx, 2, 2, 0), kOk);
  console->fds = {42};
  EXPECT_EQ(io_write(ctx, 1, "x", 1), kOk);
}

TEST_F(Streams, LineModeReadsOneLinePerCallFromAByteStream) {
  Fake* con = fake({0});
  con->input = "abc\rdef";
  Fake* later = fake();
  add(rows_of(later));
  add(rows_of(con, kNewlineCRLF, kReadBytePerCall));
  char buf[16];
  int32_t n = -1;
  EXPECT_EQ(io_read(ctx, 0, buf, 16, 1, &n), kOk);
  EXPECT_EQ(std::string(buf, size_t(n)), "abc\n");
  EXPECT_EQ(trace("read"), "0:0 0:0 0:0 0:0");
  EXPECT_EQ(log.back().bytes, "1");  // one byte per call
  EXPECT_EQ(io_read(ctx, 0, buf, 16, 1, &n), kOk);  // end of input ends the line
  EXPECT_EQ(std::string(buf, size_t(n)), "def");
  EXPECT_EQ(io_read(ctx, 0, buf, 16, 1, &n), kEndOfFile);
  EXPECT_EQ(n, 0);

  // A full buffer is returned whole; the next row never sees the read.
  con->input = "xyz\nrest";
  con->pos = 0;
  log.clear();
  EXPECT_EQ(io_read(ctx, 0, buf, 2, 1, &n), kOk);
  EXPECT_EQ(std::string(buf, size_t(n)), "xy");
  EXPECT_EQ(io_read(ctx, 0, buf, 16, 1, &n), kOk);
  EXPECT_EQ(std::string(buf, size_t(n)), "z\n");
  EXPECT_EQ(trace("read"), "0:0 0:0 0:0 0:0");

  // Without line mode the same hook fills the buffer in one call, CR kept.
  con->input = "a\rb";
  con->pos = 0;
  log.clear();
  EXPECT_EQ(io_read(ctx, 0, buf, 16, 0, &n), kOk);
  EXPECT_EQ(std::string(buf, size_t(n)), "a\rb");
  EXPECT_EQ(trace("read"), "0:0");

  // No byte yet: 502 with what was read so far, for the caller to resume.
  con->input = "pq\n";
  con->pos = 0;
  con->stall_at = 2;
  EXPECT_EQ(io_read(ctx, 0, buf, 16, 1, &n), kWaitRetry);
  EXPECT_EQ(std::string(buf, size_t(n)), "pq");
  con->stall_at = std::string::npos;
  EXPECT_EQ(io_read(ctx, 0, buf + n, 16 - n, 1, &n), kOk);
  EXPECT_EQ(std::string(buf, 3), "pq\n");

  // An error ends the read; a zero capacity passes the row over.
  con->answer = kBadContext;
  EXPECT_EQ(io_read(ctx, 0, buf, 16, 1, &n), kBadContext);
  log.clear();
  later->input = "L";
  EXPECT_EQ(io_read(ctx, 0, buf, 0, 1, &n), kOk);
  EXPECT_EQ(trace("read"), "1:0");
}

TEST_F(Streams, ReadWithoutAnOwnerIsEndOfFileOnStdinAndBadFdElsewhere) {
  char buf[4];
  int32_t n = -1;
  EXPECT_EQ(io_read(ctx, 0, buf, 4, 1, &n), kEndOfFile);
  EXPECT_EQ(io_read(ctx, 9, buf, 4, 0, &n), kNotMyDescriptor);
  EXPECT_EQ(n, 0);
  Fake* mine = fake({1024});
  mine->input = "data";
  Fake* first = fake({2000});
  add(rows_of(mine));
  add(rows_of(first, kNewlineLF, kReadBytePerCall));
  EXPECT_EQ(io_read(ctx, 0, buf, 4, 1, &n), kEndOfFile);
  EXPECT_EQ(io_read(ctx, 9, buf, 4, 1, &n), kNotMyDescriptor);
  EXPECT_EQ(io_read(ctx, 1024, buf, 4, 1, nullptr), kOk);  // buffered row: one call
  EXPECT_EQ(std::string(buf, 4), "data");
}

TEST_F(Streams, ControlAndCloseGoToTheNamedStreamOnly) {
  Fake* con = fake({1, 2});
  con->word_out = 1;
  Fake* file = fake({1024});
  file->word_out = 77;
  add(rows_of(file));
  add(rows_of(con));
  ASSERT_EQ(io_set_redirect(ctx, 1, 1024, 0), kOk);  // not applied to control
  uint32_t word = 0;
  uint8_t flag = 0;
  EXPECT_EQ(io_control(ctx, 1, kIoReqEof, 5, &word, &flag), kOk);
  EXPECT_EQ(con->word_in, 5u);
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(word, 0u);  // only ftell's request sets the word
  EXPECT_EQ(io_control(ctx, 1024, kIoReqTell, 0, &word, &flag), kOk);
  EXPECT_EQ(word, 77u);
  file->word_out = 0;
  EXPECT_EQ(io_control(ctx, 1024, kIoReqEof, 0, nullptr, &flag), kOk);
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(io_control(ctx, 1024, kIoReqFlush, 0, nullptr, nullptr), kOk);
  word = 9;
  EXPECT_EQ(io_control(ctx, 3, kIoReqTell, 0, &word, nullptr), kNotMyDescriptor);
  EXPECT_EQ(word, 9u);
  EXPECT_EQ(trace("ctl"), "0:1 1:1024 1:1024 1:1024");

  EXPECT_EQ(io_fclose(ctx, 1024), kOk);
  EXPECT_EQ(io_fclose(ctx, -1), kOk);  // offered to both; neither failed
  file->fds.clear();
  log.clear();
  EXPECT_EQ(io_fclose(ctx, -1), kOk);
  EXPECT_EQ(trace("close", false), "0:-1 1:-1");
}

// Descriptor -1 closes every library's streams: every row is asked, also
// after one that took it, and the status is the first failure. Any other
// descriptor stops at the first row that takes it.
TEST_F(Streams, CloseAllGoesToEveryRow) {
  EXPECT_EQ(io_fclose(ctx, -1), kNotMyDescriptor);  // no row at all
  Fake* takes_all = fake();
  Fake* owns_seven = fake({7});
  Fake* fails = fake({}, kReadWriteError);
  Fake* fails_too = fake({}, kEndOfFile);
  Fake* last = fake();
  for (Fake* f : {last, fails_too, fails, owns_seven, takes_all}) add(rows_of(f));  // each in front
  EXPECT_EQ(io_fclose(ctx, -1), kReadWriteError);
  EXPECT_EQ(trace("close", false), "0:-1 1:-1 2:-1 3:-1 4:-1");
  log.clear();
  fails->answer = fails_too->answer = kOk;
  EXPECT_EQ(io_fclose(ctx, -1), kOk);
  EXPECT_EQ(trace("close"), "0:-1 2:-1 3:-1 4:-1");
  log.clear();
  EXPECT_EQ(io_fclose(ctx, 7), kOk);
  EXPECT_EQ(trace("close", false), "0:7");
}

}  // namespace
