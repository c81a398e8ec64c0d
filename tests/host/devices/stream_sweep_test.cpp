// The stream built-ins and the host's device rows under the failure sweep:
// with each room cut to k words, a failing call leaves the stacks and the
// variables as they were, and the call that succeeds gives what it gives with
// room. Every run starts from the beginning of the file it reads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/core/lib_calls.h"
#include "engine/core/opcodes.h"
#include "engine/core/streams.h"
#include "host/devices/device_session.h"
#include "host/devices/file_library.h"
#include "host/devices/serial_device.h"
#include "host/devices/serial_library.h"
#include "support/failure_sweep.h"

namespace {

struct SweepCall {
  const char* name;
  int32_t opcode;  // an engine opcode, or 0 for the row function below
  BuiltinFn fn;
  std::vector<std::string> inputs;  // ZVR expressions
  int nargout;
};

bool launched(void*, const char*) { return true; }

TEST(StreamSweep, EveryStreamBuiltinLeavesItsCallerAsItWasWhenItFails) {
  DeviceSession s;
  EngineContext* c = s.c;
  s.write_file("in", "line one\nline two\n\x01\x02\x03\x04");
  const std::vector<std::string> ports = {"/dev/tn-no-such-port0", "/dev/tn-no-such-port1"};
  serial_set_port_list(&ports);
  launchurl_set_launcher(launched, nullptr);
  ASSERT_EQ(s.run("rf = fopen(" + s.path("in") + "); wf = fopen(" + s.path("out") + ", 'w');\n"), kOk);
  const std::string name = s.path("in");
  const std::vector<SweepCall> calls = {
      {"fread", kOpFread, nullptr, {"rf"}, 1},
      {"fread", kOpFread, nullptr, {"rf", "5"}, 2},
      {"fread", kOpFread, nullptr, {"rf", "[2 3]", "'int16;b'"}, 1},
      {"fread", kOpFread, nullptr, {"rf", "[]", "'*char'"}, 2},
      {"fread", kOpFread, nullptr, {"rf", "Inf", "'*uint32'"}, 1},
      {"sread", kOpSread, nullptr, {"'abcdef'", "[2 3]", "'uint8'"}, 2},
      {"sread", kOpSread, nullptr, {"uint8([1 2 3 4])", "[]", "'*single'"}, 1},
      {"fwrite", kOpFwrite, nullptr, {"wf", "[1 2 3]"}, 1},
      {"fwrite", kOpFwrite, nullptr, {"wf", "[1.5 2]", "'double;b'"}, 1},
      {"swrite", kOpSwrite, nullptr, {"int16([1 -2])", "'int16;b'"}, 1},
      {"bwrite", kOpBwrite, nullptr, {"'ab'"}, 1},
      {"fgetl", kOpFgetl, nullptr, {"rf"}, 1},
      {"fgets", kOpFgets, nullptr, {"rf", "4"}, 1},
      {"feof", kOpFeof, nullptr, {"rf"}, 1},
      {"ftell", kOpFtell, nullptr, {"rf"}, 1},
      {"fseek", kOpFseek, nullptr, {"rf", "-2", "'e'"}, 1},
      {"fseek", kOpFseek, nullptr, {"rf", "3"}, -1},
      {"redirect", kOpRedirect, nullptr, {}, 1},
      {"redirect", kOpRedirect, nullptr, {"1"}, 1},
      {"redirect", kOpRedirect, nullptr, {"2", "5"}, -1},
      {"fopen", 0, bi_fopen, {name, "'r'"}, 1},
      {"fopen", 0, bi_fopen, {s.path("missing")}, 1},
      {"launchurl", 0, bi_launchurl, {"'http://example.org'"}, 1},
      {"launchurl", 0, bi_launchurl, {"'x'"}, -1},
      {"serialdevset", 0, bi_serialdevset, {}, 1},
      {"serialdevset", 0, bi_serialdevset, {"'BPS'", "9600", "'TextMode'", "true"}, 1},
      {"serialdevname", 0, bi_serialdevname, {}, 1},
      {"serialdevname", 0, bi_serialdevname, {"2"}, 1},
      {"serialdevname", 0, bi_serialdevname, {"7"}, 1},
  };
  int32_t rf = 0;
  {
    ASSERT_EQ(s.push_variable("rf"), kOk);
    double v = 0;
    ASSERT_EQ(stk_pop_real_scalar(c, &v), kOk);
    rf = int32_t(v);
  }
  for (const SweepCall& call : calls) {
    SCOPED_TRACE(std::string(call.name) + " with " + std::to_string(call.inputs.size()) + " inputs, nargout " +
                 std::to_string(call.nargout));
    for (size_t i = 0; i < call.inputs.size(); ++i)
      ASSERT_EQ(s.run("in" + std::to_string(i) + "_ = " + call.inputs[i] + ";\n"), kOk) << call.inputs[i];
    const int nargin = int(call.inputs.size());
    auto push = [&] {
      // Each run starts alike: the read file at its beginning, and the files
      // an earlier run of fopen opened closed again (rf and wf stay).
      for (int32_t fd = rf + 2; fd < rf + kFileSlots; ++fd) (void)io_fclose(c, fd);
      TN_TRY(io_control(c, rf, kIoReqSeekSet, 0, nullptr, nullptr));
      for (int i = 0; i < nargin; ++i) TN_TRY(s.push_variable(("in" + std::to_string(i) + "_").c_str()));
      return int(kOk);
    };
    auto run = [&] {
      return call.opcode ? lib_call_opcode(c, call.opcode, nargin, call.nargout)
                         : call.fn(c, nargin, call.nargout, 0);
    };
    bool swept = false;
    EXPECT_TRUE(sweep_rooms(c, push, run, &swept));
    EXPECT_TRUE(swept) << "the call fails even with room";
    s.e.clear();
  }
  ASSERT_EQ(s.run("fclose('all'); redirect(2, 5);\n"), kOk);
  launchurl_set_launcher(nullptr, nullptr);
  serial_set_port_list(nullptr);
  s.take_output();
}

}  // namespace
