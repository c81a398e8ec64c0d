// libFuzzer target: arbitrary bytes as the source text of an application's
// library, as the runtime serves it from the image's library record, and as
// a help file on the library path. A built application's library record is
// given the text; every function of the library is then compiled again from
// it (the engine reads it back through the runtime's "+readlib" hook), and
// help, lookfor and which run over it and over the help file. The help-text
// scanners also walk both texts directly, held to their contracts: every
// position they give lies inside the text and moves forward; and every entry
// lookfor lists must come from one of the two texts.
// Every step must give a status and leave the stacks and frames as they
// were. Input: byte 0 picks the lookfor word, bytes 1-2 the length of the
// source (little-endian), the source, then the help file. With
// TN_FUZZ_SHOW set, what each step prints goes to stderr.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "engine/core/calls.h"
#include "engine/core/context.h"
#include "engine/core/fntable.h"
#include "engine/core/frames.h"
#include "engine/core/heap.h"
#include "engine/core/interp.h"
#include "engine/core/newline.h"
#include "engine/core/status.h"
#include "engine/core/streams.h"
#include "engine/core/symbols.h"
#include "engine/lib/builtin_tables.h"
#include "engine/lib/help_scan.h"
#include "fuzz/fuzz_runtime_block.h"
#include "fuzz/help_model.h"
#include "runtime/record_list.h"
#include "runtime/records.h"
#include "tools/imagetools/image_builder.h"

namespace {

using fuzzblock::require;

constexpr size_t kHead = 3;
constexpr int32_t kMostLines = 1 << 16;  // a scanner's steps over one text, past any text here
constexpr char kLibraryName[] = "_TN_lib";

// The application whose library record takes the text: one instance whose
// init calls into its library, which has help comments of each kind.
const char kDescription[] = "instance lib\nvar x\ninit x = lib_f(x)\n";
const char kSource[] =
    "function y = lib_f(x)\n% lib_f(x)\n% Doubles x.\n y = lib_g(x) * 2;\nendfunction\n"
    "function y = lib_g(x)\n// lib_g(x)\n// Its input.\n y = x;\nendfunction\n"
    "function lib_h()\n/* lib_h\n   Nothing. */\nendfunction\n";

const char* const kWords[] = {"", "lib", "x", "the", "doubles", "zz", "h", "::"};

const bool g_show = std::getenv("TN_FUZZ_SHOW") != nullptr;
char g_out[1 << 16];
uint32_t g_out_len = 0;
void* g_built = nullptr;  // the block with the application built, kept to copy back

// Marked-up help and lookfor's records (fd 4) go where the other output goes.
int help_stream_write(EngineContext*, int32_t fd, const char* bytes, int32_t length, uintptr_t) {
  if (fd != kFdLookfor) return kNotMyDescriptor;
  if (length > 0 && g_out_len + uint32_t(length) <= sizeof g_out) {
    std::memcpy(g_out + g_out_len, bytes, size_t(length));
    g_out_len += uint32_t(length);
  }
  return kOk;
}
BuiltinEntry g_help_rows[2];

// The library path's one folder, holding the help files; it goes at exit.
const std::string& help_folder();
void remove_folder() {
  for (const char* name : {"/ZVR.hlp", "/other.hlp"}) ::unlink((help_folder() + name).c_str());
  ::rmdir(help_folder().c_str());
}
const std::string& help_folder() {
  static const std::string folder = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tn_library_text_XXXXXX";
    require(::mkdtemp(pattern.data()) != nullptr);
    return pattern;
  }();
  static const bool removed_at_exit = std::atexit(remove_folder) == 0;
  (void)removed_at_exit;
  return folder;
}

void write_help_file(const std::string& name, const char* bytes, size_t n) {
  std::FILE* f = std::fopen((help_folder() + "/" + name).c_str(), "wb");
  require(f != nullptr);
  require(n == 0 || std::fwrite(bytes, 1, n, f) == n);
  std::fclose(f);
}

// The block word's block as the build left it, at the home buffer.
RuntimeBlock* built_block() {
  if (!g_built) {
    RuntimeBlock** handle = fuzzblock::fresh_block(fuzzblock::kStartBytes);
    {
      tnbuild::Builder builder(*handle, {{"lib", kSource}});
      if (!builder.build(kDescription)) {
        std::fprintf(stderr, "library_text_fuzz: the application does not build: %s\n", builder.error.c_str());
        std::abort();
      }
    }
    require(*handle == fuzzblock::g_home);
    g_help_rows[0] = stream_hook_row(kHookWrite, static_cast<StreamWriteHook>(help_stream_write), kNewlineLF);
    g_help_rows[1] = builtin_end_row();
    require(engine_register_builtin_table(rt_engine(*handle), g_help_rows, 0) == kOk);
    g_built = std::malloc(fuzzblock::kStartBytes);
    std::memcpy(g_built, fuzzblock::g_home, fuzzblock::kStartBytes);
  }
  std::memcpy(fuzzblock::g_home, g_built, fuzzblock::kStartBytes);
  fuzzblock::g_block = static_cast<RuntimeBlock*>(fuzzblock::g_home);
  return fuzzblock::g_block;
}

// Gives the library record (the last of the list) the text; false when the
// record area has no room for it.
bool set_library_text(RuntimeBlock* b, const char* text, int32_t n) {
  RecordView r;
  int64_t last = -1;
  for (int64_t w = 0; rec_at(b, w, &r); w += r.length) last = w;
  require(last >= 0 && rec_at(b, last, &r) && r.tag == kTagLibrary);
  std::vector<int32_t> words = {kTagLibrary, 0};
  auto text_words = [&](const char* s, int32_t length) {
    words.push_back(length);
    std::vector<int32_t> packed(size_t(rec_text_words(length) - 1), 0);
    if (length > 0) std::memcpy(packed.data(), s, size_t(length));
    words.insert(words.end(), packed.begin(), packed.end());
  };
  text_words(kLibraryName, int32_t(sizeof kLibraryName - 1));
  text_words(text, n);
  words[1] = int32_t(words.size());
  if ((last + int64_t(words.size())) * 4 > b->h.area_size[kAreaRecords]) return false;
  std::memcpy(rt_record_words(b) + last, words.data(), words.size() * 4);
  b->h.record_words = int32_t(last + int64_t(words.size()));
  return true;
}

// A broken contract names itself, with the text, before the abort.
#define TN_FUZZ_CHECK(ok) \
  ((ok) ? void(0) : (std::fprintf(stderr, "library_text_fuzz: %s fails on %d bytes\n", #ok, int(n)), std::abort()))

// The help scanners over one text: positions inside it, always advancing.
void scan(const char* t, int32_t n) {
  const int32_t code = src_code_length_before_comment(t, n);
  TN_FUZZ_CHECK(code >= 0 && code <= n && (n >= 2 || code == 0));
  for (int32_t p = 0; p < code; ++p) TN_FUZZ_CHECK(t[p] != '%' && !(p + 1 < n && t[p] == '/' && (t[p + 1] == '/' || t[p + 1] == '*')));
  int steps = 0;
  for (int32_t p = 0; p < n && steps < kMostLines; ++steps) {
    const int32_t step = src_skip_logical_line(t + p, n - p);
    TN_FUZZ_CHECK(step > 0 && step <= n - p);
    HelpComment c;
    if (help_comment_at_line(t, n, p, &c)) TN_FUZZ_CHECK(c.start >= p && c.start < n);
    p += step;
  }
  TN_FUZZ_CHECK(steps < kMostLines);
  int32_t pos = 0, last = -1;
  const char* word = nullptr;
  const char* qualifier = nullptr;
  int32_t word_length = 0, qualifier_length = 0;
  for (steps = 0; help_file_next_word(t, n, &pos, &word, &word_length, &qualifier, &qualifier_length); ++steps) {
    TN_FUZZ_CHECK(steps < kMostLines && pos > last && pos <= n);
    TN_FUZZ_CHECK(word >= t && word_length > 0 && word + word_length <= t + pos);
    TN_FUZZ_CHECK(qualifier_length == 0 || (qualifier >= t && qualifier + qualifier_length <= word));
    last = pos;
    HelpComment c;
    if (!help_comment_after(t, n, pos, &c)) continue;
    TN_FUZZ_CHECK(c.start >= pos && c.start < n && (c.marker == '%' || c.marker == '/' || c.marker == '*'));
    HelpLines lines(t, n, c);
    HelpLine line;
    int32_t after = c.start;
    int count = 0;
    for (; lines.next(&line) && count < kMostLines; ++count) {
      TN_FUZZ_CHECK(line.n >= 0 && line.start >= after && line.start + line.n + line.eol <= n);
      after = line.start + line.n;
    }
    TN_FUZZ_CHECK(count < kMostLines);
    const HelpLine summary = help_summary_line(t, n, c);
    TN_FUZZ_CHECK(summary.n == 0 || (summary.n > 0 && summary.start > c.start && summary.start + summary.n <= n));
    (void)help_is_markup(t, n, c);
  }
  TN_FUZZ_CHECK(pos == n);
}

constexpr char kRecordOpen[] = "##[[help:";
constexpr char kRecordClose[] = "]]## ";
constexpr size_t kRecordWindow = 24;
constexpr size_t kRecordBytes = 1024;  // a longer record is not written

// The record headers lookfor may write for the entries of a help file:
// "name|name", "q::name|q::name", "oror|||" for "||".
// Calls visit(name, header, pos) for each entry of a help file, pos just
// past its word.
template <typename Visit>
void each_help_entry(const char* t, int32_t n, Visit visit) {
  int32_t pos = 0;
  const char* word = nullptr;
  const char* qualifier = nullptr;
  int32_t word_length = 0, qualifier_length = 0;
  while (help_file_next_word(t, n, &pos, &word, &word_length, &qualifier, &qualifier_length)) {
    const std::string q = qualifier_length > 0 ? std::string(qualifier, size_t(qualifier_length)) + "::" : "";
    const std::string name(word, size_t(word_length));
    visit(name, q + (name == "||" ? "oror" : name) + "|" + q + name, pos);
  }
}

std::set<std::string> help_file_headers(const char* t, int32_t n) {
  std::set<std::string> out;
  each_help_entry(t, n, [&](const std::string&, const std::string& header, int32_t) { out.insert(header); });
  return out;
}

// What help prints for a name whose help the help file holds: the comment
// after the first entry of that word that has one, or the apology.
std::string model_help(const std::string& t, const std::string& name) {
  std::string out;
  bool found = false;
  each_help_entry(t.data(), int32_t(t.size()), [&](const std::string& word, const std::string&, int32_t pos) {
    if (found || word != name) return;
    const size_t start = helpmodel::comment_after(t, size_t(pos));
    if (start == std::string::npos) return;
    found = true;
    out = helpmodel::printed(helpmodel::comment_lines(t, start), t.size());
  });
  return found ? out : "Sorry, no help about " + name + "\n";
}

// The records lookfor writes for the entries of a help file that have a
// comment, each header once: those whose name or summary holds the word.
std::string model_lookfor(const std::string& t, const std::string& key) {
  std::string out;
  std::set<std::string> headers;
  each_help_entry(t.data(), int32_t(t.size()), [&](const std::string& name, const std::string& header, int32_t pos) {
    const size_t start = helpmodel::comment_after(t, size_t(pos));
    if (start == std::string::npos) return;
    const std::string summary = helpmodel::summary(helpmodel::comment_lines(t, start));
    if (!helpmodel::contains_folded(name, key) && !helpmodel::contains_folded(summary, key)) return;
    const std::string record = kRecordOpen + header + kRecordClose + summary;
    if (record.size() > kRecordBytes || !headers.insert(header).second) return;
    out += record;
  });
  return out;
}

// Text the model reads as the engine does: printable ASCII and line ends.
bool plain_text(const std::string& t) {
  for (const char ch : t)
    if (!(ch == '\t' || ch == '\n' || ch == '\r' || (ch >= ' ' && ch <= '~'))) return false;
  return true;
}

void model_fails(const char* what, const std::string& want, const std::string& got) {
  std::fprintf(stderr, "library_text_fuzz: %s gives\n[%s]\nnot what the comment rules say:\n[%s]\n", what, got.c_str(),
               want.c_str());
  std::abort();
}

struct Heights {
  int32_t frame, desc_top, data_top;
  bool operator==(const Heights& o) const {
    return frame == o.frame && desc_top == o.desc_top && data_top == o.data_top;
  }
};
Heights heights(EngineContext* c) { return {c->frame, c->desc_top, c->data_top}; }

bool chain_whole(EngineContext* c) {
  return heap_walk(heap_words(c), c->heap_size, [](int64_t, int64_t, uint64_t) {});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHead) return 0;
  const size_t source_length = std::min<size_t>(size - kHead, size_t(data[1]) | size_t(data[2]) << 8);
  const char* source = reinterpret_cast<const char*>(data + kHead);
  const char* help = source + source_length;
  const size_t help_length = size - kHead - source_length;
  scan(source, int32_t(source_length));
  scan(help, int32_t(help_length));
  write_help_file("ZVR.hlp", help, help_length);
  write_help_file("other.hlp", help, help_length);

  RuntimeBlock* b = built_block();
  if (!set_library_text(b, source, int32_t(source_length))) return 0;
  EngineContext* c = rt_engine(b);
  g_out_len = 0;
  c->capture = CaptureBuffer{g_out, sizeof g_out, &g_out_len};
  io_set_redirect(c, kFdStdout, kFdCapture, 0);
  io_set_redirect(c, kFdStderr, kFdCapture, 0);
  std::string printed;
  auto run = [&](const std::string& line) {
    int status = exec_command_line(c, line.data(), int32_t(line.size()), 0);
    if (status == kSliceEnded) status = interp_run(c, 0);
    if (status != kOk) frame_unwind(c, 0);
    if (g_show) std::fprintf(stderr, "%s\n%.*s#%d\n", line.c_str(), int(g_out_len), g_out, status);
    printed.assign(g_out, g_out_len);
    g_out_len = 0;
    return status;
  };
  // The variables the steps assign exist first: a new name would widen the
  // workspace's frame.
  require(run("h = 0; w = 0; path('" + help_folder() + "');") == kOk);
  // The command line sees the library's functions, so that help finds them.
  run("use " + std::string(kLibraryName));
  const Heights before = heights(c);
  auto step = [&](const std::string& line) {
    run(line);
    require(heights(c) == before && chain_whole(c));
  };

  // Every function of the library, compiled again from the text: the engine
  // finds each definition in the source the runtime hands it.
  const int32_t library = lib_index_by_symbol(c, symtab_find(c, kLibraryName, int32_t(sizeof kLibraryName - 1)));
  require(library > 0);
  for (int32_t id = 1; id < c->fn_count; ++id) {
    if (!ent_is_function(c, id) || ent_library(c, id) != library) continue;
    require(fn_code_remove(c, id) == kOk);
    const int status = fn_compile_on_demand(c, id, nullptr, 0, 0, 0);
    if (g_show) std::fprintf(stderr, "compile %d: %d\n", id, status);
    require(heights(c) == before && chain_whole(c));
    require(status != kOk || ent(c, id, kEntCode) > 0);
  }
  const std::string word = kWords[data[0] % (sizeof kWords / sizeof kWords[0])];
  // The help file's own entries are held against the model of the comment
  // rules, when its text is plain and no library function takes the name.
  const std::string help_text(help, help_length);
  const bool modelled = plain_text(help_text) && help_text.find(kLibraryName) == std::string::npos;
  for (const char* line : {"help lib_f", "help lib_g", "help('lib_h')", "h = help('lib_f');", "help sin",
                           "help('+')", "help zz_nothing", "w = which('lib_f');"}) {
    step(line);
    const std::string name = line == std::string("help sin") ? "sin" : line == std::string("help('+')") ? "+" : "";
    // A library function named sin would be the one helped. Whether the
    // library compiles changes nothing: it is searched for a user function
    // of the name only, so a library that does not compile leaves the help
    // of built-ins and operators to the help files.
    const bool no_user_sin = std::string(source, source_length).find(name) == std::string::npos;
    if (modelled && !name.empty() && (name != "sin" || no_user_sin)) {
      const std::string want = model_help(help_text, name);
      if (printed != want) model_fails(line, want, printed);
    }
  }
  step("lookfor('" + word + "');");
  // The library's records come first, then the help file's (read again as
  // "other", where every header is already listed).
  if (modelled && printed.size() + kRecordBytes < sizeof g_out) {
    const std::string want = model_lookfor(help_text, word);
    const std::string ours = std::string(kRecordOpen) + kLibraryName + "::";
    const size_t cut = printed.size() >= want.size() ? printed.size() - want.size() : 0;
    if (printed.size() < want.size() || printed.compare(cut, want.size(), want) != 0 ||
        (cut > 0 && printed.compare(0, ours.size(), ours) != 0))
      model_fails("lookfor", want, printed);
  }
  // Each record names an entry of the library's source (qualified by the
  // library) or of the help file; nothing else is read as help. A record's
  // opening may also stand in a summary line, copied from a text: there the
  // bytes up to the next opening (at most a record's worth) are the text's
  // own. Bytes outside printable ASCII may have been converted on reading,
  // so such a stretch proves nothing either way.
  const std::set<std::string> entries = help_file_headers(help, int32_t(help_length));
  const std::string texts[] = {std::string(source, source_length), std::string(help, help_length)};
  const std::string qualified = std::string(kRecordOpen) + kLibraryName + "::";
  for (size_t at = printed.find(kRecordOpen); at != std::string::npos;) {
    const size_t next = printed.find(kRecordOpen, at + 1);
    const size_t from = at + sizeof kRecordOpen - 1, to = printed.find(kRecordClose, from);
    const bool entry = printed.compare(at, qualified.size(), qualified) == 0 ||
                       (to != std::string::npos && entries.count(printed.substr(from, to - from)) > 0);
    const std::string stretch = printed.substr(at, std::min<size_t>(next, at + kRecordWindow) - at);
    bool copied = false, plain = true;
    for (const char ch : stretch) plain = plain && ch >= ' ' && ch <= '~';
    for (const std::string& t : texts) copied = copied || t.find(stretch) != std::string::npos;
    if (!entry && plain && !copied) {
      std::fprintf(stderr, "library_text_fuzz: lookfor lists '%s', an entry of no text it was given\n%s\n",
                   stretch.c_str(), printed.c_str());
      std::abort();
    }
    at = next;
  }
  fuzzblock::release_block();
  return 0;
}
