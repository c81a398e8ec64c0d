// efopen and the embedded-data stream hooks on builder images: text and
// base64 reads from ZVR code, seeks (text ones past the end), tell and the
// end test, base64 data ending at its first short group, the codes of the
// edge cases and those past the seeks, the slots' life across growth and
// another instance's deletion, two blocks in one process, randomised runs of
// the hooks and of the file built-ins at each output count against a model
// of what the streams deliver, and fclose('all') from a handler closing the
// streams of every library.
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
#include "fuzz/embedded_stream_model.h"
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
    "embed \"b64more\" \"QQ==QUJD\"\n"
    "instance other\n"
    "embed \"plain\" \"from other\"\n";

// The console ends fprintf's lines with CR LF; the tests compare LF alone.
std::string lf_lines(std::string text) {
  for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
  return text;
}

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
  const int32_t base = host.block->h.stream_base;
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
  // The slots are the process's: the second block's stream took the next
  // one, and neither block reaches the other's through its descriptors.
  const int32_t g = second.block->h.stream_base + 1;
  ASSERT_NE(rt_embedded_slot(second.block, g), nullptr);
  EXPECT_EQ(rt_embedded_slot(second.block, g)->instance_id, 0);
  EXPECT_EQ(rt_embedded_slot(second.block, second.block->h.stream_base), nullptr);
  EXPECT_EQ(rt_embedded_slot(host.block, host.block->h.stream_base + 1), nullptr);
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

// A text position is a data byte and may stand anywhere from 0 on: past the
// end the stream is at its end (reads answer 305) until a seek comes back.
// Only a position the slot cannot hold is a failed seek, the old one kept.
TEST_F(Streams, TextSeeksStandPastTheEnd) {
  const char* const at = "fprintf('%d %d\\n', ftell(f), feof(f))";
  const struct {
    std::string code, expected;
  } steps[] = {
      {"f = efopen('lines'); fseek(f, 100, 'bof'); " + std::string(at), "100 1\n"},
      {"fread(f, 1);", "error 305"},
      {"fseek(f, 5, 'eof'); " + std::string(at), "19 1\n"},
      {"fseek(f, -3, 'cof'); " + std::string(at), "16 1\n"},
      {"fseek(f, -4, 'cof'); " + std::string(at) + "; disp(fgetl(f))", "12 0\nee\n"},
      {"fseek(f, -99, 'cof'); " + std::string(at), "0 0\n"},
      {"fseek(f, 50, 'cof'); fseek(f, -99, 'eof'); " + std::string(at), "0 0\n"},
      {"r = fseek(f, 2^27 - 1, 'bof'); fprintf('%d ', r); " + std::string(at), "0 134217727 1\n"},
      {"r = fseek(f, 1, 'cof'); fprintf('%d ', r); " + std::string(at), "-1 134217727 1\n"},
      {"r = fseek(f, 2^27, 'bof'); fprintf('%d ', r); " + std::string(at), "-1 134217727 1\n"},
      {"r = fseek(f, 2^27 - 15, 'eof'); fprintf('%d ', r); " + std::string(at), "0 134217727 1\n"},
      {"fseek(f, 3, 'bof'); r = fseek(f, 2^27 - 14, 'eof'); fprintf('%d ', r); " + std::string(at), "-1 3 0\n"},
      {"fseek(f, 0, 'bof'); disp(fgetl(f)); fclose(f);", "one\n"},
  };
  for (const auto& step : steps) EXPECT_EQ(lf_lines(out(step.code)), step.expected) << step.code;
}

// A group that decodes to fewer than three bytes ends the data: what follows
// it in the record is never delivered, nor counted by a seek from the end.
TEST_F(Streams, Base64EndsAtTheFirstShortGroup) {
  const char* const at = "fprintf('%d %d\\n', ftell(f), feof(f))";
  const struct {
    std::string code, expected;
  } steps[] = {
      {"f = efopen('b64more', 'base64'); " + std::string(at), "0 0\n"},
      {"x = fread(f, 10, 'char'); fprintf('%d ', x); " + std::string(at), "65 1 1\n"},
      {"fread(f, 1);", "error 305"},
      {"fseek(f, 0, 'eof'); " + std::string(at), "1 1\n"},
      {"fseek(f, 9, 'bof'); " + std::string(at), "1 1\n"},
      {"fseek(f, -1, 'eof'); " + std::string(at), "0 0\n"},
      {"disp(fgetl(f)); disp(fgetl(f)); " + std::string(at) + "; fclose(f);", "A\n ''\n1 1\n"},
  };
  for (const auto& step : steps) EXPECT_EQ(lf_lines(out(step.code)), step.expected) << step.code;
}

// Requests past the seeks: text streams answer 0 and change nothing, base64
// streams answer 0 to a flush and 12 to the rest; a read with no room
// delivers nothing, so it answers 305.
TEST_F(Streams, OtherControlCodesAndReadsWithoutRoom) {
  EXPECT_EQ(lf_lines(out("f = efopen('lines'); g = efopen('b64', 'base64'); fread(f, 2); fread(g, 2); fflush(f); fflush(g); "
                "clc(f); fprintf('%d %d\\n', ftell(f), ftell(g))")),
            "2 2\n");
  EXPECT_EQ(run("clc(g);"), kIllegalError);
  const uintptr_t cc = reinterpret_cast<uintptr_t>(&host.block->h.user);
  const int32_t f = host.block->h.stream_base, g = f + 1;
  for (const uint32_t code : {5u, 6u, 7u, 8u, 100u, 0x80000000u, 0xFFFFFFFFu}) {
    uint32_t word = 1234;
    EXPECT_EQ(rt_embedded_control(c, f, code, &word, cc), kOk) << code;
    EXPECT_EQ(word, 1234u) << code;
    word = 1234;
    EXPECT_EQ(rt_embedded_control(c, g, code, &word, cc), code == kIoReqFlush ? kOk : kIllegalError) << code;
  }
  char buffer[4];
  for (const char* seek : {"fseek(f, 0, 'bof'); fseek(g, 0, 'bof');", "fseek(f, 0, 'eof'); fseek(g, 0, 'eof');"}) {
    ASSERT_EQ(run(seek), kOk);
    for (const int32_t fd : {f, g}) {
      int32_t count = -1;
      EXPECT_EQ(rt_embedded_read(c, fd, buffer, 0, &count, cc), kEndOfFile) << seek << fd;
      EXPECT_EQ(count, 0);
    }
  }
  EXPECT_EQ(lf_lines(out("fseek(f, 0, 'bof'); fseek(g, 0, 'bof'); fprintf('%d %d %s\\n', ftell(f), ftell(g), fgetl(g))")),
            "0 0 hello\n");
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
    const int32_t fd = h.block->h.stream_base;
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

// fread, fgetl, fseek, ftell and feof from ZVR code at each output count,
// on three streams open at once over two records (text, base64, and the
// base64 record read as text), with closes and reopens, against the model;
// each command's printed output is compared whole.
TEST(StreamsFromCode, RandomSeeksAndReadsMatchAModelAtEveryOutputCount) {
  uint32_t seed = 4242;
  auto next = [&] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
  auto pick = [&](uint32_t n) { return next() % n; };
  for (int round = 0; round < 24; ++round) {
    std::string text, plain;
    for (int k = int(pick(60)); k > 0; --k) text += "ab\r\n\rxyz"[pick(8)];
    for (int k = int(pick(45)); k > 0; --k) plain += "pq\r\nrs"[pick(6)];
    std::vector<uint8_t> enc(plain.size() * 2 + 16);
    int64_t len = 0;
    ASSERT_EQ(base64_encode_block(reinterpret_cast<const uint8_t*>(plain.data()), int64_t(plain.size()), enc.data(),
                                  int64_t(enc.size()), &len), 0);
    std::string coded(enc.begin(), enc.begin() + len);
    // Unpadded, or with more after a short group that must never be read.
    if (round % 3 == 1) while (!coded.empty() && coded.back() == '=') coded.pop_back();
    if (round % 3 == 2 && plain.size() % 3 != 0) coded += "QUJD\r\n";
    auto escape = [](const std::string& raw) {
      std::string e;
      for (unsigned char ch : raw) {
        char hex[5];
        std::snprintf(hex, sizeof hex, "\\x%02x", ch);
        e += hex;
      }
      return e;
    };
    FakeHost host;
    ASSERT_EQ(host.start(2u << 20, 8u << 20), 0);
    ASSERT_EQ(rt_register_library(host.block, g_builtin_table_host), 0);
    tnbuild::Builder builder(host.block, {});
    // A later record of the same name and another instance's are never read.
    ASSERT_TRUE(builder.build("instance r\nembed \"d\" \"" + escape(text) + "\"\nembed \"e\" \"" + escape(coded) +
                              "\"\nembed \"d\" \"zz\"\ninstance s\nembed \"d\" \"other\"\n"))
        << builder.error;
    host.block->h.user = CallContext{host.block, 0, 0, 0, 0};
    EngineContext* c = rt_engine(host.block);
    auto run = [&](const std::string& code) {
      host.take_output();
      const std::string line = code + "\n";
      int status = exec_command_line(c, line.data(), int32_t(line.size()), 0);
      if (status == kSliceEnded) status = interp_run(c, 0);
      if (status != kOk) frame_unwind(c, 0);
      const std::string printed = host.take_output();
      return status == kOk ? lf_lines(printed) : "error " + std::to_string(status);
    };
    const char* const names[] = {"f", "g", "h"};
    const char* const opens[] = {"efopen('d')", "efopen('e', 'base64')", "efopen('e', 'text')"};
    // The base64 stream's model holds what was encoded, not a decoding.
    EmbeddedStreamModel models[] = {{text, false, 0}, {plain, true, 0}, {coded, false, 0}};
    for (int k = 0; k < 3; ++k) ASSERT_EQ(run(std::string(names[k]) + " = " + opens[k] + ";"), "");
    for (int step = 0; step < 60; ++step) {
      const int k = int(pick(3));
      EmbeddedStreamModel& m = models[k];
      const std::string s = names[k];
      std::string code, expected;
      auto number = [](int64_t v) { return std::to_string(v) + "\n"; };
      switch (pick(12)) {
        case 0: case 1: case 2: {  // fseek with no output, one output
          const char origin = "bce"[pick(3)];
          int64_t v = int64_t(pick(uint32_t(m.end() + 40))) - (origin == 'b' ? 3 : int64_t(m.end()) + 10);
          if (pick(8) == 0) v = int64_t(kEmbeddedMaxBytes) - m.end() + int64_t(pick(5)) - 2;
          const std::string call = "fseek(" + s + ", " + std::to_string(v) + ", '" + origin + "of')";
          // fseek refuses a negative position from the beginning itself.
          const uint32_t request = origin == 'b' ? kIoReqSeekSet : origin == 'c' ? kIoReqSeekCur : kIoReqSeekEnd;
          const bool ok = !(origin == 'b' && v < 0) && m.seek(request, v);
          if (pick(2)) {
            code = call + ";";
          } else {
            code = "r = " + call + "; fprintf('%d\\n', r)";
            expected = ok ? "0\n" : "-1\n";
          }
          break;
        }
        case 3: {  // ftell, feof at one output and as a statement
          const bool tell = pick(2);
          const std::string call = std::string(tell ? "ftell(" : "feof(") + s + ")";
          code = pick(2) ? "fprintf('%d\\n', " + call + ")" : call + "; fprintf('%d\\n', ans)";
          expected = number(tell ? m.at : m.at_end());
          break;
        }
        case 4: case 5: case 6: case 7: {  // fread at one and two outputs and as a statement
          const int n = 1 + int(pick(12));
          std::string got;
          for (int b; int(got.size()) < n && (b = m.next()) >= 0;) got += char(b);
          std::string values;
          for (unsigned char ch : got) values += std::to_string(int(ch)) + ",";
          const std::string call = "fread(" + s + ", " + std::to_string(n) + ", 'char')";
          switch (pick(3)) {
            case 0: code = "x = " + call + "; fprintf('%d,', x); fprintf('\\n')"; expected = values + "\n"; break;
            case 1:
              code = "[x, n] = " + call + "; fprintf('%d,', x); fprintf('%d\\n', n)";
              expected = values + std::to_string(got.size()) + "\n";
              break;
            default: code = call + "; fprintf('%d,', ans); fprintf('\\n')"; expected = values + "\n";
          }
          if (got.empty()) expected = "error 305";
          break;
        }
        case 8: case 9: case 10: {  // fgetl, with and without a limit, at one output and as a statement
          const int limit = pick(3) == 0 ? 1 + int(pick(4)) : 1 << 20;
          std::string line;
          for (int b; int(line.size()) < limit && (b = m.next()) >= 0;) {
            line += char(b == '\r' ? '\n' : b);
            if (b == '\r' || b == '\n') break;
          }
          if (!line.empty() && line.back() == '\n') line.pop_back();
          const std::string call =
              "fgetl(" + s + (limit < (1 << 20) ? ", " + std::to_string(limit) : std::string()) + ")";
          code = pick(2) ? "l = " + call + "; fprintf('[%s]\\n', l)" : call + "; fprintf('[%s]\\n', ans)";
          expected = "[" + line + "]\n";
          break;
        }
        default: {  // close and open again, at one output and as a statement
          code = pick(2) ? "fclose(" + s + "); " + s + " = " + opens[k] + ";"
                         : "fclose(" + s + "); " + opens[k] + "; " + s + " = ans;";
          m.at = 0;
        }
      }
      ASSERT_EQ(run(code), expected) << "round " << round << " step " << step << ": " << code;
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
