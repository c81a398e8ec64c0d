// efopen and the embedded-data stream hooks on builder images: text and
// base64 reads from ZVR code, seeks, tell and the end test, the codes of the
// edge cases, the slots' life across growth and another instance's
// deletion, two blocks in one process, a randomised run of the hooks
// against a model of the data they must deliver, and fclose('all') from a
// handler closing the streams of every library.
#include <gtest/gtest.h>

#include <pty.h>
#include <unistd.h>

#include <cstdlib>  // mkdtemp
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/core/calls.h"
#include "engine/core/frames.h"
#include "engine/core/interp.h"
#include "engine/core/streams.h"
#include "engine/core/value_stack.h"
#include "engine/lib/gray_base64.h"
#include "host/devices/file_library.h"
#include "host/devices/serial_device.h"
#include "runtime/embedded_streams.h"
#include "runtime/fake_host.h"
#include "runtime/handler_call.h"
#include "runtime/record_list.h"
#include "runtime/records.h"
#include "runtime/instances.h"
#include "support/failure_sweep.h"
#include "tools/imagetools/image_builder.h"

namespace {

// "hello" base64 with and without padding, with line ends inside.
const char kDescription[] =
    "instance demo\n"
    "embed \"plain\" \"a\\rb\\r\\nc\\nd\"\n"
    "embed \"lines\" \"one\\ntwo\\r\\nthree\"\n"
    "embed \"b64\" \"aGVs\\r\\nbG8=\"\n"
    "embed \"b64bare\" \"aGVsbG8gd29ybGQ\"\n"
    "embed \"empty\" \"\"\n"
    "embed \"caf\xC3\xA9\" \"x\"\n"
    "instance other\n"
    "embed \"plain\" \"from other\"\n";

struct Streams : ::testing::Test {
  FakeHost host;
  EngineContext* c = nullptr;
  void SetUp() override {
    ASSERT_EQ(host.start(4u << 20, 16u << 20), 0);
    ASSERT_EQ(rt_register_library(host.block, g_builtin_table_host), 0);
    tnbuild::Builder builder(host.block, {});
    ASSERT_TRUE(builder.build(kDescription)) << builder.error;
    c = rt_engine(host.block);
    enter(0);
  }
  void enter(int32_t id) { host.block->h.user = CallContext{host.block, id, 0, 0, 0}; }
  int run(const std::string& code) {
    const std::string line = code + "\n";
    int status = exec_command_line(c, line.data(), int32_t(line.size()), 0);
    if (status == kSliceEnded) status = interp_run(c, 0);
    if (status != kOk) frame_unwind(c, 0);
    return status;
  }
  std::string out(const std::string& code) {
    host.take_output();
    const int status = run(code);
    const std::string text = host.take_output();
    return status == kOk ? text : "error " + std::to_string(status);
  }
};

TEST_F(Streams, TextReadsTurnLineEndsIntoLineFeeds) {
  EXPECT_EQ(out("f = efopen('plain'); s = fread(f, 20, 'char')'; disp(double(s)); fclose(f);"),
            "    97    10    98    10    99    10   100\n");
  EXPECT_EQ(out("f = efopen('lines', 'text'); disp(fgetl(f)); disp(fgetl(f)); disp(fgetl(f)); disp(feof(f))"),
            "one\ntwo\nthree\ntrue\n");
  // After the end a read gives 305; a seek to 0 reads again; tell counts bytes.
  EXPECT_EQ(out("fseek(f, 0, 'bof'); disp(fgetl(f)); disp(ftell(f)); fseek(f, -5, 'eof'); disp(fgetl(f));"),
            "one\n     4\nthree\n");
  EXPECT_EQ(out("fseek(f, -2, 'cof'); disp(fgetl(f)); fseek(f, -99, 'cof'); disp(ftell(f)); fclose(f);"),
            "ee\n     0\n");
  EXPECT_EQ(out("f = efopen('empty'); disp(feof(f)); fclose(f);"), "true\n");
  // A name beyond ASCII is compared in UTF-8.
  EXPECT_EQ(out("f = efopen(['caf' char(233)]); disp(fgetl(f)); fclose(f);"), "x\n");
}

TEST_F(Streams, Base64WithAndWithoutPaddingAndLineEnds) {
  EXPECT_EQ(out("f = efopen('b64', 'base64'); disp(fgetl(f)); disp(feof(f)); disp(ftell(f)); fclose(f);"),
            "hello\ntrue\n     5\n");
  EXPECT_EQ(out("f = efopen('b64bare', 'base64'); disp(char(fread(f, 4, 'char')')); disp(ftell(f));"),
            "hell\n     4\n");
  EXPECT_EQ(out("fseek(f, 2, 'cof'); disp(fgetl(f)); fseek(f, 1, 'bof'); disp(char(fread(f, 3, 'char')'));"),
            "world\nell\n");
  EXPECT_EQ(out("fseek(f, -5, 'eof'); disp(fgetl(f)); fseek(f, -3, 'cof'); disp(ftell(f)); fclose(f);"),
            "world\n    11\n");
}

TEST_F(Streams, CodesOfTheEdgeCases) {
  EXPECT_EQ(run("efopen('nothing');"), kFileNotFound);
  EXPECT_EQ(run("efopen('plain', 'binary');"), kUnknownOption);
  EXPECT_EQ(run("efopen(5);"), kWrongArgType);
  // Another instance's record is not found from this one.
  enter(1);
  EXPECT_EQ(out("f = efopen('plain'); disp(fgetl(f)); fclose(f);"), "from other\n");
  EXPECT_EQ(run("efopen('lines');"), kFileNotFound);
  enter(0);
  // Writing answers 302; a read after the end 305; 33 streams 304.
  EXPECT_EQ(run("f = efopen('plain'); fwrite(f, 'x');"), kReadWriteError);
  EXPECT_EQ(run("fclose(f); f = efopen('empty'); fread(f, 1);"), kEndOfFile);
  EXPECT_EQ(out("for k = 1:31, g = efopen('plain'); end; disp(g - f)"), "    31\n");
  EXPECT_EQ(run("efopen('plain');"), 304);
  // Descriptor -1 closes every slot, and leaves -1 to the other stream classes.
  const uintptr_t cc = reinterpret_cast<uintptr_t>(&host.block->h.user);
  EXPECT_EQ(rt_embedded_close(c, -1, cc), kNotMyDescriptor);
  EXPECT_EQ(out("g = efopen('plain'); disp(g - f)"), "     0\n");
  EXPECT_EQ(run("fclose(g); fclose(g);"), kNotMyDescriptor);
  // The hooks answer 301 outside the block.
  uint32_t word = 0;
  int32_t count = 0;
  char buffer[4];
  EXPECT_EQ(rt_embedded_read(c, 7, buffer, 4, &count, cc), kNotMyDescriptor);
  EXPECT_EQ(rt_embedded_write(c, 7, buffer, 1, cc), kNotMyDescriptor);
  EXPECT_EQ(rt_embedded_control(c, 7, kIoReqTell, &word, cc), kNotMyDescriptor);
  EXPECT_EQ(rt_embedded_close(c, 7, cc), kNotMyDescriptor);
  EXPECT_EQ(rt_embedded_read(c, 7, buffer, 4, &count, 0), kNotMyDescriptor);
}

TEST_F(Streams, SlotsSurviveGrowthAndAnotherInstancesDeletion) {
  EXPECT_EQ(out("f = efopen('lines'); disp(fgetl(f))"), "one\n");
  // The block moves to a new address and grows; another instance closes.
  ASSERT_TRUE(rt_memory_expand(&host.block, kDataStackOverflow));
  ASSERT_GT(host.moves, 0);
  c = rt_engine(host.block);
  enter(1);
  ASSERT_EQ(inst_close(&host.block, 1), 0);
  enter(0);
  EXPECT_EQ(out("disp(fgetl(f))"), "two\n");
  // Its own instance closing closes it: 301 afterwards.
  const int32_t base = host.block->h.streams.base;
  ASSERT_GT(base, 0);
  rt_embedded_close_instance(host.block, 0);
  EXPECT_EQ(run("fgetl(f);"), kNotMyDescriptor);
}

TEST_F(Streams, TwoBlocksKeepTheirOwnSlots) {
  FakeHost second;
  ASSERT_EQ(second.start(4u << 20, 4u << 20), 0);
  ASSERT_EQ(rt_register_library(second.block, g_builtin_table_host), 0);
  tnbuild::Builder builder(second.block, {});
  ASSERT_TRUE(builder.build("instance two\nembed \"plain\" \"second block\"\n")) << builder.error;
  EXPECT_EQ(out("f = efopen('plain'); disp(f)"), "  1024\n");
  second.block->h.user = CallContext{second.block, 0, 0, 0, 0};
  EngineContext* c2 = rt_engine(second.block);
  const std::string line = "g = efopen('plain'); disp(fgetl(g))\n";
  second.take_output();
  int status = exec_command_line(c2, line.data(), int32_t(line.size()), 0);
  if (status == kSliceEnded) status = interp_run(c2, 0);
  EXPECT_EQ(status, kOk);
  EXPECT_EQ(second.take_output(), "second block\n");
  EXPECT_EQ(second.block->h.streams.slot_table[0].instance_id, 0);
  EXPECT_EQ(out("disp(fgetl(f))"), "a\n");
}

TEST_F(Streams, EfopenPassesTheFailureSweep) {
  const uintptr_t cc = reinterpret_cast<uintptr_t>(&host.block->h.user);
  struct Case {
    std::vector<const char*> inputs;
  } cases[] = {{{"plain"}}, {{"b64", "base64"}}, {{"plain", "binary"}}, {{"nothing"}}};
  for (const Case& k : cases) {
    const int nin = int(k.inputs.size());
    auto push = [&] {
      for (const char* text : k.inputs) TN_TRY(stk_push_cstr(c, int32_t(std::strlen(text)), text));
      return int(kOk);
    };
    // Each success takes a slot: the call gives them all back, so every run
    // of the sweep opens the same descriptor.
    auto call = [&] {
      const int status = bi_efopen(c, nin, 1, cc);
      rt_embedded_close(c, -1, cc);
      return status;
    };
    bool ok = false;
    EXPECT_TRUE(sweep_rooms(c, push, call, &ok)) << k.inputs[0];
  }
}

// The hooks over random text and base64 with random seeks, against a model:
// the bytes the data stands for, read and positioned by the same requests.
TEST_F(Streams, RandomReadsAndSeeksMatchAModel) {
  uint32_t seed = 777;
  auto next = [&] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
  for (int round = 0; round < 40; ++round) {
    std::string plain;
    const int n = int(next() % 200);
    for (int k = 0; k < n; ++k) plain += "ab\r\n\rxyz"[next() % 8];
    const bool base64 = round % 2 == 1;
    std::string stored = plain, model;
    if (base64) {
      std::vector<uint8_t> enc(plain.size() * 2 + 16);
      int64_t len = 0;
      ASSERT_EQ(base64_encode_block(reinterpret_cast<const uint8_t*>(plain.data()), int64_t(plain.size()), enc.data(),
                                    int64_t(enc.size()), &len), 0);
      stored.assign(enc.begin(), enc.begin() + len);
      if (round % 4 == 3) while (!stored.empty() && stored.back() == '=') stored.pop_back();
      model = plain;
    } else {
      for (size_t k = 0; k < plain.size(); ++k) {
        if (plain[k] == '\n' && k > 0 && plain[k - 1] == '\r') continue;
        model += plain[k] == '\r' ? '\n' : plain[k];
      }
    }
    FakeHost h;
    ASSERT_EQ(h.start(2u << 20, 2u << 20), 0);
    ASSERT_EQ(rt_register_library(h.block, g_builtin_table_host), 0);
    std::string escaped;
    for (unsigned char ch : stored) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02x", ch);
      escaped += hex;
    }
    tnbuild::Builder builder(h.block, {});
    ASSERT_TRUE(builder.build("instance r\nembed \"d\" \"" + escaped + "\"\n")) << builder.error;
    h.block->h.user = CallContext{h.block, 0, 0, 0, 0};
    EngineContext* e = rt_engine(h.block);
    const std::string open = std::string("f = efopen('d', '") + (base64 ? "base64" : "text") + "');\n";
    int status = exec_command_line(e, open.data(), int32_t(open.size()), 0);
    if (status == kSliceEnded) status = interp_run(e, 0);
    ASSERT_EQ(status, kOk);
    const int32_t fd = h.block->h.streams.base;
    const uintptr_t cc = reinterpret_cast<uintptr_t>(&h.block->h.user);
    // Text positions count stored bytes; the model maps them for text only
    // at the start and the end, so text rounds seek to those.
    int64_t at = 0;
    for (int step = 0; step < 30; ++step) {
      const uint32_t what = next() % 4;
      if (what == 0 && base64) {
        uint32_t word = next() % (model.size() + 3);
        ASSERT_EQ(rt_embedded_control(e, fd, kIoReqSeekSet, &word, cc), kOk);
        at = std::min<int64_t>(word, int64_t(model.size()));
      } else if (what == 1) {
        uint32_t word = 0;
        ASSERT_EQ(rt_embedded_control(e, fd, kIoReqSeekSet, &word, cc), kOk);
        at = 0;
      } else {
        char buffer[16];
        int32_t count = 0;
        const int32_t want = int32_t(1 + next() % 16);
        const int s = rt_embedded_read(e, fd, buffer, want, &count, cc);
        const int64_t left = int64_t(model.size()) - at;
        if (left <= 0) {
          EXPECT_EQ(s, kEndOfFile);
          continue;
        }
        ASSERT_EQ(s, kOk);
        ASSERT_EQ(count, std::min<int64_t>(want, left));
        EXPECT_EQ(std::string(buffer, size_t(count)), model.substr(size_t(at), size_t(count)));
        at += count;
      }
      uint32_t eof = 0;
      ASSERT_EQ(rt_embedded_control(e, fd, kIoReqEof, &eof, cc), kOk);
      EXPECT_EQ(eof != 0, at >= int64_t(model.size())) << round << " " << step;
      if (base64) {
        uint32_t tell = 0;
        ASSERT_EQ(rt_embedded_control(e, fd, kIoReqTell, &tell, cc), kOk);
        EXPECT_EQ(int64_t(tell), at);
      }
    }
  }
}

// A handler reads its instance's data with the file built-ins: lines, seeks
// from either end and a counted read, the stream closed at its end.
TEST(StreamsFromAHandler, ReadLinesSeekAndRead) {
  FakeHost host;
  ASSERT_EQ(host.start(4u << 20, 16u << 20), 0);
  ASSERT_EQ(rt_register_library(host.block, g_builtin_table_host), 0);
  const char source[] =
      "function s = start()\n  s = 0;\nendfunction\n"
      "function s = readit(s)\n"
      "  f = efopen('lines');\n"
      "  a = fgetl(f);\n"
      "  fseek(f, -5, 'eof');\n"
      "  b = fgetl(f);\n"
      "  fseek(f, 4, 'bof');\n"
      "  n = fread(f, 3, 'char')';\n"
      "  fclose(f);\n"
      "  s = strcmp(a, 'one') + 2 * strcmp(b, 'three') + 4 * strcmp(char(n), 'two') + 8 * (s == 0);\n"
      "endfunction\n";
  tnbuild::Builder builder(host.block, {{"demo", source}});
  ASSERT_TRUE(builder.build("instance demo\nvar s\ninit s = start()\nentry \"read\" s = readit(s)\n"
                            "embed \"lines\" \"one\\ntwo\\r\\nthree\"\n"))
      << builder.error;
  int32_t pos = 0;
  ASSERT_EQ(rec_find_tag(host.block, 0, &pos, kTagEntry), 0);
  RuntimeBlock* h = host.block;
  ASSERT_EQ(handler_call_plain(&h, 0, pos, -1, false), 0) << host.take_output();
  ASSERT_EQ(handler_push_input(host.block, 0, false, tnbuild::kFirstVariableCode), 0);
  double got = 0;
  ASSERT_EQ(stk_pop_real_scalar(rt_engine(host.block), &got), 0);
  EXPECT_EQ(got, 15.0);
}

// fclose('all') and fclose(-1) from a handler, as an application calls them:
// with every embedded stream slot taken, a file and a serial port (over a
// pseudo-terminal) open, each library closes all of its own streams, not
// only the first library that takes the descriptor -1. The handler's result
// is a bit for each thing that must hold.
TEST(StreamsFromAHandler, CloseAllClosesTheStreamsOfEveryLibrary) {
  // Whatever fails, the process's file and port tables are left empty.
  struct Devices {
    int master = -1;
    std::vector<std::string> ports;
    std::string dir;
    ~Devices() {
      fileio_close_all();
      serial_set_port_list(nullptr);
      if (master >= 0) ::close(master);
      std::error_code ec;
      if (!dir.empty()) std::filesystem::remove_all(dir, ec);
    }
  } devices;
  int slave = -1;
  char port[256] = {};
  ASSERT_EQ(openpty(&devices.master, &slave, port, nullptr, nullptr), 0);
  ::close(slave);  // the library opens the slave by its path
  devices.ports = {port};
  serial_set_port_list(&devices.ports);
  char dir_pattern[] = "/tmp/tn_closeall_XXXXXX";
  ASSERT_NE(::mkdtemp(dir_pattern), nullptr);
  devices.dir = dir_pattern;
  const std::string file = devices.dir + "/out.txt";
  fileio_table_init();

  FakeHost host;
  ASSERT_EQ(host.start(4u << 20, 16u << 20), 0);
  ASSERT_EQ(rt_register_library(host.block, g_builtin_table_host), 0);
  const std::string source =
      "function c = closed(fd)\n"
      "  c = 0;\n"
      "  try\n    feof(fd);\n  catch\n    c = strcmp(getfield(lasterror(), 'identifier'), 'ZVR:badFileID');\n  end\n"
      "endfunction\n"
      "function s = closeall(how)\n"
      "  f = zeros(1, 32);\n"
      "  for k = 1:32\n    f(k) = efopen('plain');\n  end\n"
      "  full = 0;\n"
      "  try\n    efopen('plain');\n  catch\n    full = 1;\n  end\n"
      "  g = fopen('" + file + "', 'w');\n"
      "  p = serialdevopen('" + port + "');\n"
      "  if how\n    fclose(-1);\n  else\n    fclose('all');\n  end\n"
      "  try\n    h = efopen('plain');\n  catch\n    h = -1;\n  end\n"
      "  s = full + 2 * (h == f(1)) + 4 * closed(g) + 8 * closed(p) + 16 * closed(f(32));\n"
      "  s = s + 32 * (g > 0) + 64 * (p > 0);\n"
      "  fclose(h);\n"
      "endfunction\n"
      "function s = bytext(s)\n  s = closeall(0);\nendfunction\n"
      "function s = bynumber(s)\n  s = closeall(1);\nendfunction\n";
  tnbuild::Builder builder(host.block, {{"demo", source}});
  ASSERT_TRUE(builder.build("instance demo\nvar s\nentry \"all\" s = bytext(s)\nentry \"minus\" s = bynumber(s)\n"
                            "embed \"plain\" \"abc\"\n"))
      << builder.error;
  int32_t pos = 0;
  for (const char* how : {"fclose('all')", "fclose(-1)"}) {
    ASSERT_EQ(rec_find_tag(host.block, 0, &pos, kTagEntry), 0) << how;
    RuntimeBlock* h = host.block;
    ASSERT_EQ(handler_call_plain(&h, 0, pos, -1, false), 0) << how << host.take_output();
    ASSERT_EQ(handler_push_input(host.block, 0, false, tnbuild::kFirstVariableCode), 0);
    double got = 0;
    ASSERT_EQ(stk_pop_real_scalar(rt_engine(host.block), &got), 0);
    EXPECT_EQ(got, 127.0) << how;
  }
}

}  // namespace
