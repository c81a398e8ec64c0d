// getfile and putfile from ZVR code over a fake file-dialog callback: the
// filters byte for byte (and in Qt's form), the proposed name, a non-ASCII
// path, cancel and no callback; and both under the failure sweep.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/core/calls.h"
#include "engine/core/frames.h"
#include "engine/core/interp.h"
#include "engine/core/value_stack.h"
#include "runtime/fake_host.h"
#include "runtime/file_dialogs.h"
#include "support/failure_sweep.h"
#include "tools/imagetools/image_builder.h"

namespace {

struct FakeFiles {
  std::string answer;  // "" cancels
  std::vector<std::string> asked;  // "open|title|filter|name"
  static int32_t run(bool save, const char* title, int32_t tn, const char* filter, int32_t fn, const char* name,
                     int32_t nn, char* path, int32_t capacity, void* context) {
    auto* f = static_cast<FakeFiles*>(context);
    f->asked.push_back(std::string(save ? "save" : "open") + "|" + std::string(title, size_t(tn)) + "|" +
                       std::string(filter, size_t(fn)) + "|" + std::string(name, size_t(nn)));
    if (f->answer.size() > size_t(capacity)) return 0;
    std::memcpy(path, f->answer.data(), f->answer.size());
    return int32_t(f->answer.size());
  }
};

struct FileDialogs : ::testing::Test {
  FakeHost host;
  EngineContext* c = nullptr;
  FakeFiles files;
  void SetUp() override {
    ASSERT_EQ(host.start(4u << 20, 4u << 20), 0);
    ASSERT_EQ(rt_register_library(host.block, g_builtin_table_host), 0);
    tnbuild::Builder builder(host.block, {});
    ASSERT_TRUE(builder.build("instance demo\n")) << builder.error;
    c = rt_engine(host.block);
    host.block->h.user = CallContext{host.block, 0, 0, 0, 0};
    rt_set_file_dialog_callback(FakeFiles::run, &files);
  }
  // The dialogs are the process's: no later test meets this fixture's.
  void TearDown() override { rt_set_file_dialog_callback(nullptr, nullptr); }
  std::string out(const std::string& code) {
    host.take_output();
    const std::string line = code + "\n";
    int status = exec_command_line(c, line.data(), int32_t(line.size()), 0);
    if (status == kSliceEnded) status = interp_run(c, 0);
    if (status != kOk) frame_unwind(c, 0);
    const std::string text = host.take_output();
    return status == kOk ? text : "error " + std::to_string(status);
  }
};

TEST(FileFilter, BuiltFromMimeTypes) {
  struct Case {
    const char* types;
    const char* filter;
    const char* qt;
  };
  const Case cases[] = {
      {"text/plain\ntext/html", "txt/html|*.txt;*.html|All files|*.*||", "txt/html (*.txt *.html);;All files (*)"},
      {"text/plain", "txt|*.txt|All files|*.*||", "txt (*.txt);;All files (*)"},
      {"text/html", "html|*.html|All files|*.*||", "html (*.html);;All files (*)"},
      {"image/png", "|All files|*.*||", "All files (*)"},
      {"", "|All files|*.*||", "All files (*)"},
      {"image/png\r\ntext/html\r\n", "html|*.html|All files|*.*||", "html (*.html);;All files (*)"},
  };
  for (const Case& k : cases) {
    const std::string f = rt_file_filter(k.types, int32_t(std::strlen(k.types)));
    EXPECT_EQ(f, k.filter) << k.types;
    EXPECT_EQ(rt_file_filter_qt(f), k.qt) << k.types;
  }
  // The list stops before it would pass 100 characters.
  std::string many;
  for (int k = 0; k < 40; ++k) many += "text/html\n";
  const std::string f = rt_file_filter(many.data(), int32_t(many.size()));
  const std::string list = f.substr(0, f.find('|'));
  EXPECT_LE(list.size(), 100u);
  EXPECT_GT(list.size(), 95u);
  EXPECT_EQ(list.substr(0, 10), "html/html/");
}

TEST_F(FileDialogs, GetAndPutAskTheHost) {
  files.answer = "/tmp/a.txt";
  EXPECT_EQ(out("disp(getfile('Open', sprintf('text/plain\\ntext/html')))"), "/tmp/a.txt\n");
  EXPECT_EQ(out("f = putfile('Save as', 'b.txt'); disp(f)"), "/tmp/a.txt\n");
  EXPECT_EQ(out("getfile;"), "");
  EXPECT_EQ(files.asked, (std::vector<std::string>{"open|Open|txt/html|*.txt;*.html|All files|*.*|||",
                                                   "save|Save as||All files|*.*|||b.txt",
                                                   "open|||All files|*.*|||"}));
  // A path with a 2-byte, a 3-byte and a 4-byte character.
  files.answer = "/tmp/\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  EXPECT_EQ(out("p = double(getfile('T')); fprintf('%d ', p(6:end))"), "233 8364 55357 56832 ");
  // Non-ASCII titles go to the host as UTF-8.
  files.asked.clear();
  EXPECT_EQ(out("getfile(char([84 233]));"), "");
  EXPECT_EQ(files.asked, std::vector<std::string>{"open|T\xC3\xA9||All files|*.*|||"});
  files.answer.clear();
  EXPECT_EQ(out("f = putfile('S', 'x'); fprintf('%d', isempty(f))"), "1");
  rt_set_file_dialog_callback(nullptr, nullptr);
  EXPECT_EQ(out("f = getfile('S'); g = putfile; fprintf('%d%d', isempty(f), isempty(g))"), "11");
  EXPECT_EQ(out("getfile(3)"), "error " + std::to_string(kWrongArgType));
}

TEST_F(FileDialogs, PassTheFailureSweep) {
  files.answer = "/home/user/data.txt";
  auto text = [&](const char* s) { return [=, this] { return stk_push_cstr(c, int32_t(std::strlen(s)), s); }; };
  auto two = [this] {
    TN_TRY(stk_push_cstr(c, 1, "T"));
    return stk_push_cstr(c, 10, "text/plain");
  };
  auto none = [] { return int(kOk); };
  struct Case {
    BuiltinFn fn;
    std::function<int()> push;
    int nin;
  };
  const Case cases[] = {{bi_getfile, none, 0}, {bi_getfile, text("T"), 1}, {bi_getfile, two, 2},
                        {bi_putfile, none, 0}, {bi_putfile, two, 2}};
  for (const Case& k : cases)
    for (int nout : {-1, 1}) {
      bool ok = false;
      EXPECT_TRUE(sweep_rooms(c, k.push, [&] { return lib_call_builtin(c, k.fn, k.nin, nout); }, &ok)) << k.nin;
      EXPECT_TRUE(ok);
    }
}

}  // namespace
