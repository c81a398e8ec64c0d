// The appended-application reader: a packed application behind a copy of an
// executable that still runs, loaded through the chunk reader; every damage
// of the trailer, description and chunks answered with false, never with a
// large allocation or a read past the block, and the trailer's and the
// description's damage by its reason.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "host/appended/appended_reader.h"
#include "host/appended/program_image.h"
#include "runtime/fake_host.h"
#include "support/image_feed.h"
#include "tools/imagetools/image_packer.h"

namespace {

using namespace tnbuild;

constexpr uint32_t kBlockBytes = 4u << 20;
constexpr char kProgram[] = "/bin/true";

std::string temp_path(const char* name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir ? dir : "/tmp") + "/tn_appended_" + std::to_string(getpid()) + "_" + name;
}

// A file holding exactly these bytes; the path is removed at the end.
struct TempFile {
  std::string path;
  TempFile(const char* name, const std::vector<uint8_t>& bytes) : path(temp_path(name)) {
    EXPECT_TRUE(write_file(path, bytes));
  }
  ~TempFile() { std::remove(path.c_str()); }
};

// Opens the file and reads `count` requests of the given sizes.
bool read_all(const std::vector<uint8_t>& file, const std::vector<uint32_t>& sizes, std::string* description = nullptr) {
  TempFile f("read", file);
  AppendedStream s{};
  AppendedDescription d{};
  if (!appended_open(f.path.c_str(), &s, &d)) return false;
  if (description) *description = std::string(d.text, d.length);
  bool ok = true;
  for (uint32_t n : sizes) {
    std::vector<uint8_t> to(n + 1);
    ok = ok && appended_chunk_read(to.data(), n, &s);
  }
  appended_close(&s);
  appended_description_free(&d);
  return ok;
}

std::vector<uint8_t> program() { return read_file(kProgram); }

std::vector<uint8_t> one_chunk(const std::vector<uint8_t>& packed, const std::string& description = "d") {
  std::vector<uint8_t> block;
  put_u32(block, uint32_t(description.size()));
  block.insert(block.end(), description.begin(), description.end());
  block.push_back(0);
  put_u32(block, uint32_t(packed.size()));
  block.insert(block.end(), packed.begin(), packed.end());
  return with_trailer(program(), block);
}

TEST(AppendedReader, PackedApplicationRunsAndLoads) {
  FakeHost built;
  ASSERT_EQ(built.start(kBlockBytes, kBlockBytes), 0);
  ASSERT_EQ(rt_register_library(built.block, g_builtin_table_host), 0);
  Builder builder(built.block, {{"demo", "function x = demo_init()\n x = 3;\nendfunction\n"}});
  ASSERT_TRUE(builder.build("instance demo\ntitle \"Demo\"\nvar x\ninit x = demo_init()\nfigure \"Main\"\n"))
      << builder.error;
  const Sections parts = requests(builder.sections());
  const std::vector<uint8_t> file = with_trailer(program(), appended_block(parts, "Démo app"));
  TempFile exe("exe", file);
  ASSERT_EQ(chmod(exe.path.c_str(), 0700), 0);
  EXPECT_EQ(std::system(exe.path.c_str()), 0);  // the program still runs

  AppendedStream s{};
  AppendedDescription d{};
  ASSERT_TRUE(appended_open(exe.path.c_str(), &s, &d));
  EXPECT_EQ(std::string(d.text, d.length), "Démo app");
  EXPECT_EQ(d.text[d.length], 0);
  FakeHost target;
  ASSERT_EQ(target.start(kBlockBytes, kBlockBytes), 0);
  ASSERT_EQ(rt_register_library(target.block, g_builtin_table_host), 0);
  EXPECT_EQ(rt_load_image(&target.block, &appended_chunk_read, &s), 0);
  EXPECT_EQ(target.block->h.record_words, built.block->h.record_words);
  appended_close(&s);
  appended_description_free(&d);
}

// A program whose zero-byte request is answered by a chunk of one byte does
// not load; with the empty stream in its place it does.
TEST(AppendedReader, AZeroByteRequestTakesOnlyAnEmptyStream) {
  FakeHost built;
  ASSERT_EQ(built.start(kBlockBytes, kBlockBytes), 0);
  ASSERT_EQ(rt_register_library(built.block, g_builtin_table_host), 0);
  Builder builder(built.block, {});
  ASSERT_TRUE(builder.build("instance demo\ntitle \"Demo\"\n")) << builder.error;
  Sections parts = requests(builder.sections());
  size_t empty = 0;
  while (empty < parts.size() && !parts[empty].empty()) ++empty;
  ASSERT_LT(empty, parts.size());
  for (const bool one_byte : {false, true}) {
    SCOPED_TRACE(one_byte ? "one byte" : "empty stream");
    std::vector<uint8_t> block = appended_block({}, "d");
    for (size_t k = 0; k < parts.size(); ++k) {
      const std::vector<uint8_t> chunk = deflate_chunk(k == empty && one_byte ? std::vector<uint8_t>{'x'} : parts[k]);
      put_u32(block, uint32_t(chunk.size()));
      block.insert(block.end(), chunk.begin(), chunk.end());
    }
    TempFile exe("zero", with_trailer(program(), block));
    AppendedStream s{};
    AppendedDescription d{};
    ASSERT_TRUE(appended_open(exe.path.c_str(), &s, &d));
    FakeHost target;
    ASSERT_EQ(target.start(kBlockBytes, kBlockBytes), 0);
    ASSERT_EQ(rt_register_library(target.block, g_builtin_table_host), 0);
    const int status = rt_load_image(&target.block, &appended_chunk_read, &s);
    EXPECT_EQ(status != 0, one_byte) << status;
    appended_close(&s);
    appended_description_free(&d);
  }
}

TEST(AppendedReader, ChunkSizesMustMatchExactly) {
  const std::vector<uint8_t> data(100, 7);
  const auto file = one_chunk(deflate_chunk(data));
  EXPECT_TRUE(read_all(file, {100}));
  EXPECT_FALSE(read_all(file, {99}));   // inflates to more than asked
  EXPECT_FALSE(read_all(file, {101}));  // inflates to fewer
  EXPECT_TRUE(read_all(one_chunk(deflate_chunk({})), {0}));
  EXPECT_FALSE(read_all(one_chunk(deflate_chunk({})), {1}));
  EXPECT_FALSE(read_all(one_chunk(deflate_chunk(data)), {0}));
  // Only an empty stream answers a zero-byte request: one or two bytes do not.
  EXPECT_FALSE(read_all(one_chunk(deflate_chunk({'x'})), {0}));
  EXPECT_FALSE(read_all(one_chunk(deflate_chunk({'x', 'y'})), {0}));
  EXPECT_FALSE(read_all(one_chunk({}), {0}));  // L = 0
}

TEST(AppendedReader, CorruptStreamsFail) {
  const std::vector<uint8_t> data(64, 3);
  std::vector<uint8_t> packed = deflate_chunk(data);
  for (size_t k = 0; k < packed.size(); ++k) {
    std::vector<uint8_t> bad = packed;
    bad[k] ^= 0x41;
    EXPECT_FALSE(read_all(one_chunk(bad), {64})) << k;
  }
}

TEST(AppendedReader, EmptyDescriptionKeepsItsZeroByte) {
  std::string text = "x";
  EXPECT_TRUE(read_all(one_chunk(deflate_chunk({1, 2}), ""), {2}, &text));
  EXPECT_EQ(text, "");
}

TEST(AppendedReader, EveryTruncationFails) {
  const auto file = one_chunk(deflate_chunk(std::vector<uint8_t>(50, 9)), "about");
  const size_t base = program().size();
  for (size_t cut = base; cut < file.size() - 4; ++cut) {
    std::vector<uint8_t> shorter(file.begin(), file.begin() + std::ptrdiff_t(cut));
    put_u32(shorter, uint32_t(base));  // a trailer still points at the block
    EXPECT_FALSE(read_all(shorter, {50})) << cut;
  }
  EXPECT_FALSE(read_all({1, 2, 3}, {}));
}

// What appended_open made of a file: its fault and the text a message names.
struct Opened {
  AppendedFault fault;
  std::string text;
};

Opened open_only(const std::vector<uint8_t>& file) {
  TempFile f("open", file);
  AppendedStream s{};
  AppendedDescription d{};
  const bool ok = appended_open(f.path.c_str(), &s, &d);
  EXPECT_EQ(ok, s.fault == kAppendedSound);
  Opened out{s.fault, appended_fault_text(s)};
  appended_close(&s);
  appended_description_free(&d);
  return out;
}

// Every refusal of the trailer and the description names its reason and
// its figures, without a large allocation; only a program with nothing
// behind its image (the plain runtime) is refused without a word.
TEST(AppendedReader, EveryRefusalSaysWhy) {
  const std::vector<uint8_t> prog = program();
  const auto packed = one_chunk(deflate_chunk(std::vector<uint8_t>(50, 9)), "about");
  auto trailer = [&](uint32_t offset) {
    std::vector<uint8_t> f = prog;
    f.insert(f.end(), {0, 0, 0, 0, 0});
    put_u32(f, offset);
    return f;
  };
  std::vector<uint8_t> huge = prog;  // D far beyond the file
  put_u32(huge, 0xFFFFFFF0u);
  put_u32(huge, uint32_t(prog.size()));
  // The trailer's 4 bytes gone: the end of the last chunk reads as an
  // offset, here one inside the program.
  std::vector<uint8_t> lost(packed.begin(), packed.end() - 4);
  for (int k = 0; k < 4; ++k) lost[lost.size() - 4 + size_t(k)] = uint8_t(100 >> (8 * k));
  std::vector<uint8_t> short_tail = prog;
  short_tail.insert(short_tail.end(), {1, 2, 3});
  struct Row {
    const char* name;
    std::vector<uint8_t> file;
    AppendedFault fault;
    std::string says;  // a part of the text; empty: no text at all
  } rows[] = {
      {"plain program", prog, kAppendedNothing, ""},
      {"packed", packed, kAppendedSound, ""},
      {"three bytes behind the program", short_tail, kAppendedTrailerCut,
       "the trailer is cut short: 3 bytes follow the program image"},
      {"three bytes of an unknown format", {1, 2, 3}, kAppendedTrailerCut, "cut short: 3 bytes"},
      {"offset past the end", trailer(uint32_t(prog.size() + 100)), kAppendedOffsetPastEnd,
       "the trailer's block offset " + std::to_string(prog.size() + 100) + " lies past the end of the file (" +
           std::to_string(prog.size() + 9) + " bytes)"},
      {"lost trailer", lost, kAppendedOffsetInImage,
       "the trailer is lost: the last 4 bytes give a block offset of 100, inside the program image, which ends "
       "at " + std::to_string(prog.size())},
      {"huge description", huge, kAppendedDescriptionPastEnd,
       "the description length 4294967280 runs past the end of the file"},
      {"no room for the description length", trailer(uint32_t(prog.size() + 3)), kAppendedDescriptionPastEnd,
       "the block at offset " + std::to_string(prog.size() + 3) + " ends before its description length"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const Opened o = open_only(r.file);
    EXPECT_EQ(o.fault, r.fault);
    if (r.says.empty()) EXPECT_EQ(o.text, "");
    else EXPECT_NE(o.text.find(r.says), std::string::npos) << o.text;
  }
  // The chunk reader refuses a chunk length beyond the file as before.
  std::vector<uint8_t> block;
  put_u32(block, 0);
  block.push_back(0);
  put_u32(block, 0xFFFFFFF0u);  // L far beyond the file
  EXPECT_FALSE(read_all(with_trailer(prog, block), {4}));
  // A plain executable: its last four bytes are no block offset.
  EXPECT_FALSE(read_all(prog, {68}));
}

// The program image's end from its ELF headers: the whole of a plain
// program, nothing from a cut one or another format, and never more than
// the file whatever header byte is damaged.
TEST(AppendedReader, ProgramImageEnd) {
  const std::vector<uint8_t> prog = program();
  auto end_of = [](const std::vector<uint8_t>& bytes) {
    TempFile f("image", bytes);
    std::FILE* file = std::fopen(f.path.c_str(), "rb");
    const int64_t end = program_image_end(file, int64_t(bytes.size()));
    std::fclose(file);
    return end;
  };
  EXPECT_EQ(end_of(prog), int64_t(prog.size()));
  std::vector<uint8_t> longer = prog;
  longer.insert(longer.end(), 100, 7);
  EXPECT_EQ(end_of(longer), int64_t(prog.size()));
  for (size_t cut : {prog.size() - 1, prog.size() / 2, size_t(64), size_t(15), size_t(0)})
    EXPECT_EQ(end_of(std::vector<uint8_t>(prog.begin(), prog.begin() + std::ptrdiff_t(cut))), -1) << cut;
  EXPECT_EQ(end_of({'#', '!', '/', 'b', 'i', 'n', '/', 's', 'h', '\n', 0, 0, 0, 0, 0, 0, 0}), -1);
  for (size_t k = 0; k < 64; ++k)
    for (uint8_t flip : {uint8_t(0x01), uint8_t(0x80), uint8_t(0xFF)}) {
      std::vector<uint8_t> damaged = prog;
      damaged[k] ^= flip;
      const int64_t end = end_of(damaged);
      EXPECT_TRUE(end == -1 || (end >= 0 && end <= int64_t(prog.size()))) << k << " " << end;
    }
}

// Descriptions stored by older packers (whole build descriptions) are told
// from what the packer stores now (the texts the About box shows).
TEST(AppendedReader, OlderDescriptionsAreToldApart) {
  struct Row {
    const char* text;
    bool build;
  } rows[] = {
      {"instance demo\ntitle \"Demo\"\n", true},
      {"# The demo\n\n  \t\r\n  instance demo\r\nvar x\n", true},
      {"instance\tdemo", true},
      {"Tarnivel Demo\nDrag the red point: the curve follows it.", false},
      {"Instance Viewer\ninstance demo\n", false},
      {"instance", false},
      {"instance \r\n", false},
      {"instances of a kind", false},
      {"", false},
  };
  for (const Row& r : rows)
    EXPECT_EQ(appended_is_build_description(r.text, uint32_t(std::strlen(r.text))), r.build) << r.text;
  EXPECT_FALSE(appended_is_build_description(nullptr, 0));
}

}  // namespace
