// libFuzzer target: arbitrary bytes as a file that a ZVR program reads with
// the engine's file functions through the file library's hooks: fgetl and
// fgets (with and without a maximum), fread with every precision and size
// form (one of them larger than the library's buffer, which the library
// reads straight into the caller's), fscanf and sscanf (formats from a table and raw), fseek, ftell and
// feof, text mode or binary, bytes taken as they are or as UTF-8. The steps
// run twice, once with system reads that deliver what is asked and once
// with reads cut short at sizes the input picks, so that buffer refills
// (and the carriage-return flag across them) fall anywhere: the two
// transcripts must be the same. Steps that open the file afresh also check
// what whole reads and a line loop give against a model of the file (text
// mode reads CR and CR LF as LF; a line read ends at CR or LF). Model steps
// hold what sscanf, fscanf and fread give (class, size, every value's bits,
// count and position) against the models of file_read_model.h, also after
// the bytes went out to a second file and came back.
// Input: byte 0 flags (bit 0 text mode, bit 1 UTF-8 text, bits 2-7 how the
// short reads are cut), bytes 1-2 the file's length (little-endian), the
// file, then three-byte steps {op, a, b} (op's low four bits; a model
// step's kind and variant in its high four); a raw format's bytes follow its
// step.
// With TN_FUZZ_SHOW set, the steps and the transcript go to stderr.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/calls.h"
#include "engine/core/frames.h"
#include "engine/core/status.h"
#include "engine/core/streams.h"
#include "engine/core/interp.h"
#include "engine/core/strings.h"
#include "engine/lib/stream_precision.h"
#include "fuzz/file_read_model.h"
#include "fuzz/fuzz_runtime_block.h"
#include "host/builtin_table_host.h"
#include "host/devices/file_library.h"
#include "runtime/runtime_block.h"

namespace {

using fuzzblock::require;

constexpr size_t kHead = 3;
constexpr size_t kStep = 3;
constexpr size_t kMostBytes = 8192;  // of the file
constexpr int kMostSteps = 48;
constexpr int kMostLines = 20000;  // a line loop's bound, past any file here
// A read this large goes past the library's buffer, straight to the caller's.
constexpr int kPastTheBuffer = 65536;
constexpr uint8_t kTextMode = 1;
constexpr uint8_t kUtf8 = 2;

enum Op : uint8_t {
  kOpFgetl = 0,
  kOpFgets = 1,
  kOpLineMax = 2,  // fgetl or fgets (b bit 0) with a maximum of a % 40
  kOpFread = 3,
  kOpFscanf = 4,
  kOpSscanf = 5,
  kOpFseek = 6,
  kOpFtell = 7,
  kOpFeof = 8,
  kOpReopen = 9,
  kOpWholeModel = 10,  // opened afresh, read whole, against the model
  kOpLinesModel = 11,  // opened afresh, read line by line, against the model
  kOpFscanfRaw = 12,   // a % 8 bytes after the step are the format
  kOpSscanfRaw = 13,
  // Checked against the models (bits 4-5 of the op byte pick the kind, bits
  // 6-7 its variant): a scan of text from the file, fscanf of a line of the
  // file or of text written to a second file first, fread of every precision
  // and size form after a skip, and values read, written to a second file
  // and read back with another precision.
  kOpModel = 14,
};
enum ModelKind : uint8_t { kModelSscanf = 0, kModelFscanf = 1, kModelFread = 2, kModelWriteRead = 3 };
constexpr uint8_t kRawFormat = 0x80;  // sscanf and fscanf: a % 12 format bytes follow the step
constexpr uint8_t kWriteFirst = 0x40;  // fscanf: from text written to the second file

const char* const kFormats[] = {
    "%d",    "%f",    "%s",    "%c",   "%x",     "%o",    "%i",     "%g %g",  "%d,%d", "%*d %s", "%3c",
    "%2d%s", "a%d",   "%%%d",  "%q",   " ",      "%5s",   "%e",     "%*s%d",  "%d%%",  "%1i",    "%*c%c",
    "%4f",   "%2x%o", "%d\t%d", "%s%c", "%*f",   "x",     "%",      "%*q%d",  "%c%c%c", "%10g",
};
constexpr int kFormatCount = int(sizeof kFormats / sizeof kFormats[0]);
// Formats for the scans held against the model: every conversion, widths
// that cut signs, exponents and prefixes, suppression, literals and passes.
const char* const kModelFormats[] = {
    "%f",  "%g",    "%e",     "%d",    "%i",  "%x",   "%o",    "%s",   "%c",     "%4f",  "%3e",   "%2g",
    "%5d", "%2i",   "%3x",    "%*f%f", "%d,", "%f;",  " %f",   "%s%d", "%c%f",   "%%%f", "%*s",   "%f%s",
    "e%f", "%1f%d", "%10g",   "%i%c",  "%q%f", "%*c", "%6i",   "%*d%x", "%o%s",  "%20f", "%f %d", "%3s%e",
};
constexpr int kModelFormatCount = int(sizeof kModelFormats / sizeof kModelFormats[0]);
const char* const kOrigins[] = {"'bof'", "'cof'", "'eof'", "'b'", "'end'", "'x'"};

// The file every run reads, in a folder of its own that goes at exit.
std::string g_folder;
void remove_folder() {
  ::unlink((g_folder + "/in").c_str());
  ::unlink((g_folder + "/out").c_str());
  ::rmdir(g_folder.c_str());
}
const std::string& file_path() {
  static const std::string path = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tn_file_read_XXXXXX";
    require(::mkdtemp(pattern.data()) != nullptr);
    g_folder = pattern;
    std::atexit(remove_folder);
    return pattern + "/in";
  }();
  return path;
}

// The second file, which steps write and read back.
std::string out_path() {
  file_path();
  return g_folder + "/out";
}

void write_file(const uint8_t* bytes, size_t n) {
  const int fd = ::open(file_path().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  require(fd >= 0);
  for (size_t at = 0; at < n;) {
    const ssize_t k = ::write(fd, bytes + at, n - at);
    require(k > 0);
    at += size_t(k);
  }
  ::close(fd);
}

// The short reads: each system read delivers 1 to the cut's limit bytes,
// drawn from a small generator seeded per run.
uint32_t g_draw = 0;
int64_t g_limit = 0;

int64_t short_read(int fd, char* buffer, int64_t length) {
  g_draw = g_draw * 1103515245u + 12345u;
  const int64_t most = 1 + int64_t((g_draw >> 16) % uint32_t(g_limit));
  if (length > most) length = most;
  for (;;) {
    const ssize_t n = ::read(fd, buffer, size_t(length));
    if (n >= 0 || errno != EINTR) return n;
  }
}

// A text as a ZVR char row of its codes: no quoting to get wrong.
std::string chars(const uint8_t* bytes, size_t n) {
  std::string s = "char([";
  for (size_t k = 0; k < n; ++k) s += (k ? " " : "") + std::to_string(bytes[k]);
  return s + "])";
}
std::string chars(const char* text) { return chars(reinterpret_cast<const uint8_t*>(text), std::strlen(text)); }
std::string chars(const std::string& text) { return chars(reinterpret_cast<const uint8_t*>(text.data()), text.size()); }

std::string row(const std::vector<int>& values) {
  std::string s = "[";
  for (int v : values) s += (s.size() > 1 ? " " : "") + std::to_string(v);
  return s + "]";
}

// What the program prints of each output: class, size and every element,
// through a function defined once per run (compiling the steps is most of
// a run's time).
constexpr char kShowDefinition[] =
    "function show_(varargin)\n"
    " for k = 1:numel(varargin)\n"
    "  r = varargin{k}; fprintf('%s %d %d:', class(r), size(r, 1), size(r, 2)); fprintf('%.17g ', double(r));"
    " fprintf('\\n');\n"
    " end\n"
    "endfunction\n"
    "function mshow_(k, r, n, p)\n"
    " fprintf('<<%d %s %d %d %d %d:', k, class(r), size(r, 1), size(r, 2), n, p);"
    " fprintf('%d ', double(swrite(double(r(:)'), 'double'))); fprintf('>>\\n');\n"
    "endfunction\n";
std::string show(int outputs) {
  return outputs == 1 ? " show_(r);" : outputs == 2 ? " show_(r, n);" : " show_(r, n, p);";
}

std::string outputs(int n) { return n == 1 ? "r" : n == 2 ? "[r, n]" : "[r, n, p]"; }

// The file as the library delivers it from a fresh open: every byte, CR and
// CR LF read as LF in text mode; with `lines`, the line loop's reads (a
// line ends at CR or LF, which fgetl drops), each followed by the -1 the
// program appends.
std::vector<int> model(const std::string& file, bool text, bool lines) {
  std::vector<int> out;
  bool cr = false;
  size_t at = 0;
  auto next = [&](char* ch) {
    while (at < file.size()) {
      *ch = file[at++];
      if (!text) return true;
      if (*ch == '\n' && cr) {
        cr = false;
        continue;
      }
      cr = *ch == '\r';
      if (cr) *ch = '\n';
      return true;
    }
    return false;
  };
  char ch = 0;
  if (!lines) {
    while (next(&ch)) out.push_back(uint8_t(ch));
    return out;
  }
  // The loop reads while the end test says no: the position in the file's
  // bytes is short of its end.
  while (at < file.size()) {
    while (next(&ch) && ch != '\r' && ch != '\n') out.push_back(uint8_t(ch));
    out.push_back(-1);
  }
  return out;
}

struct Script {
  std::string file;
  bool text = false;
  bool utf8 = false;
  std::string lines[kMostSteps];
  int count = 0;
  // Steps whose status must be 0 (a model check with something to read).
  bool must_succeed[kMostSteps] = {};
  // Steps whose result the models give.
  bool modelled[kMostSteps] = {};
  filemodel::Result expected[kMostSteps];
};

std::string open_line(const Script& s) {
  return "f = fopen('" + file_path() + "', '" + (s.text ? "rt" : "r") + "');";
}

std::vector<int> codes(const std::string& text) {
  std::vector<int> out;
  for (const char ch : text) out.push_back(uint8_t(ch));
  return out;
}

// Line `k` as fgetl gives it from a fresh open (empty past the last).
std::string model_line(const Script& s, int k) {
  const std::vector<int> m = model(s.file, s.text, true);
  std::string line;
  for (const int ch : m) {
    if (ch >= 0) line += char(ch);
    else if (k-- == 0) return line;
    else line.clear();
  }
  return "";
}

bool ascii(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char ch) { return uint8_t(ch) < 0x80; });
}

// A step held against the models; returns where the next step starts.
size_t model_step(Script& s, uint8_t op, uint8_t a, uint8_t b, const uint8_t* data, size_t size, size_t at) {
  const int k = s.count;
  std::string& line = s.lines[k];
  filemodel::Result& want = s.expected[k];
  const std::string show = " mshow_(" + std::to_string(k) + ", r, n, p);";
  const std::string reopen = "fclose(f); " + open_line(s);
  const std::string out = "'" + out_path() + "'";
  s.modelled[k] = true;
  switch ((op >> 4) & 3) {
    case kModelSscanf:
    case kModelFscanf: {
      const bool scanf = ((op >> 4) & 3) == kModelSscanf;
      std::string format = kModelFormats[(a ^ (b >> 3)) % kModelFormatCount];
      if (op & kRawFormat) {
        const size_t n = std::min<size_t>(a % 12, size - at);
        format.assign(reinterpret_cast<const char*>(data + at), n);
        at += n;
      }
      // A stretch of the file, up to a few hundred characters: long digit runs fit.
      const size_t from = s.file.empty() ? 0 : (size_t(a) * 61 + size_t(b) * 7) % s.file.size();
      const std::string text = s.file.substr(from, std::min<size_t>(s.file.size() - from, 1 + size_t(b % 64) * 12));
      if (scanf) {
        line = "[r, n, p] = sscanf(" + chars(text) + ", " + chars(format) + ");" + show;
        want = filemodel::scan(codes(text), format);
        break;
      }
      std::string scanned;
      if (op & kWriteFirst) {
        // The bytes go out as they are and come back in binary mode: the
        // line is the stretch up to its first CR or LF.
        line = "g = fopen(" + out + ", 'w'); fwrite(g, double(" + chars(text) + ")); fclose(g); g = fopen(" + out +
               ", 'r'); p = -1; [r, n] = fscanf(g, " + chars(format) + "); fclose(g);" + show;
        scanned = text.substr(0, std::min(text.find('\r'), text.find('\n')));
      } else {
        const int skip = b % 6;
        line = reopen;
        for (int j = 0; j < skip; ++j) line += " fgetl(f);";
        line += " p = -1; [r, n] = fscanf(f, " + chars(format) + ");" + show;
        scanned = model_line(s, skip);
        // UTF-8 text is decoded on reading: the model takes bytes as characters.
        s.modelled[k] = !s.utf8 || ascii(s.file);
      }
      want = filemodel::scan(codes(scanned), format);
      want.pos = -1;
      break;
    }
    case kModelFread: {
      const std::vector<int> stream = model(s.file, s.text, false);
      const size_t skip = std::min<size_t>(size_t(op >> 6) * 5, stream.size());
      const int precision = (a & 0x7F) % filemodel::kPrecisions;
      const bool star = (a & 0x80) != 0;
      filemodel::Size shape;
      const int m = ((b >> 2) & 15) % 9, n = (b >> 6) & 3;
      std::string size_arg;
      switch (b % 4) {
        case 0: size_arg = (b & 0x20) ? "[]" : "Inf"; break;
        case 1:
          shape.all = false;
          shape.rows = m == 8 ? kPastTheBuffer : m;
          size_arg = std::to_string(shape.rows);
          break;
        case 2:
          shape = {false, true, m, n};
          size_arg = "[" + std::to_string(m) + " " + std::to_string(n) + "]";
          break;
        default:
          shape = {true, true, 0, n};
          size_arg = "[Inf " + std::to_string(n) + "]";
          break;
      }
      line = reopen + (skip ? " fread(f, " + std::to_string(skip) + ", 'uint8');" : "") + " p = -1; [r, n] = fread(f, " +
             size_arg + ", '" + (star ? "*" : "") + filemodel::precision_name(precision) + "');" + show;
      std::vector<uint8_t> left(stream.begin() + long(skip), stream.end());
      want = filemodel::fread(left, shape, precision, star);
      break;
    }
    default: {
      // Elements read from the file, written with the same precision and
      // read back whole with another: the bytes written are the elements'
      // own, and the second read takes them as its precision says.
      if (s.file.empty()) {
        line = reopen;
        s.modelled[k] = false;
        break;
      }
      const int written = a % filemodel::kPrecisions, back = (b & 0x3F) % filemodel::kPrecisions;
      const filemodel::Type& t = filemodel::type_of(written);
      // Integers keep their class (a star), char and float rows come as doubles.
      const bool star = !t.is_char && !t.is_float;
      const int count = (b >> 6) * 3;
      const std::string name = filemodel::precision_name(written);
      line = "fclose(f); f = fopen('" + file_path() + "', 'r'); x = fread(f, " + (count ? std::to_string(count) : "Inf") +
             ", '" + (star ? "*" : "") + name + "'); g = fopen(" + out + ", 'w'); p = fwrite(g, x, '" + name +
             "'); fclose(g); g = fopen(" + out + ", 'r'); [r, n] = fread(g, Inf, '" + filemodel::precision_name(back) +
             "'); fclose(g);" + show;
      const size_t elements = std::min<size_t>(count ? size_t(count) : SIZE_MAX, s.file.size() / size_t(t.size));
      std::vector<uint8_t> bytes(elements * size_t(t.size));
      const auto* file = reinterpret_cast<const uint8_t*>(s.file.data());
      if (!t.is_float && !bytes.empty()) std::memcpy(bytes.data(), file, bytes.size());  // integers come back as they were
      for (size_t i = 0; t.is_float && i < elements; ++i)
        filemodel::encode(filemodel::decode(file + i * size_t(t.size), written), written,
                          bytes.data() + i * size_t(t.size));
      want = filemodel::fread(bytes, filemodel::Size{}, back, false);
      want.pos = int64_t(elements);
      break;
    }
  }
  return at;
}

Script parse(const uint8_t* data, size_t size) {
  Script s;
  s.text = (data[0] & kTextMode) != 0;
  s.utf8 = (data[0] & kUtf8) != 0;
  const size_t length = std::min<size_t>({size - kHead, size_t(data[1]) | size_t(data[2]) << 8, kMostBytes});
  s.file.assign(reinterpret_cast<const char*>(data + kHead), length);
  for (size_t at = kHead + length; at + kStep <= size && s.count < kMostSteps;) {
    const uint8_t op = data[at] & 0x0F, a = data[at + 1], b = data[at + 2];
    at += kStep;
    const int nargout = 1 + b % 3;
    std::string& line = s.lines[s.count];
    switch (op) {
      case kOpFgetl:
      case kOpFgets: line = std::string("r = ") + (op == kOpFgetl ? "fgetl" : "fgets") + "(f);" + show(1); break;
      case kOpLineMax:
        line = std::string("r = ") + ((b & 1) ? "fgets" : "fgetl") + "(f, " + std::to_string(a % 40) + ");" + show(1);
        break;
      case kOpFread: {
        const PrecisionRow& p = kPrecisionTable[(a & 0x7F) % kPrecisionRows];
        const std::string precision = std::string("'") + ((a & 0x80) ? "*" : "") + p.name + "'";
        const int m = (b >> 2) % 9, n = (b >> 4) % 4;
        std::string size_arg;
        switch (b % 4) {
          case 0: size_arg = (b & 0x40) ? "[]" : "Inf"; break;
          case 1: size_arg = m == 8 ? std::to_string(kPastTheBuffer) : std::to_string(m); break;
          case 2: size_arg = "[" + std::to_string(m % 4) + " " + std::to_string(n) + "]"; break;
          default: size_arg = "[" + std::to_string(m % 4) + " Inf]"; break;
        }
        const bool two = (b & 0x80) != 0;
        const std::string args = (a == 0xFF && b == 0xFF) ? "f" : "f, " + size_arg + ", " + precision;
        line = std::string(two ? "[r, n]" : "r") + " = fread(" + args + ");" + show(two ? 2 : 1);
        break;
      }
      case kOpFscanf:
        line = outputs(1 + b % 2) + " = fscanf(f, " + chars(kFormats[a % kFormatCount]) + ");" + show(1 + b % 2);
        break;
      case kOpSscanf: {
        const size_t from = s.file.empty() ? 0 : (size_t(a) * 61) % s.file.size();
        const size_t n = std::min<size_t>(s.file.size() - from, size_t(b >> 2) * 2);
        line = outputs(nargout) + " = sscanf(" + chars(reinterpret_cast<const uint8_t*>(s.file.data()) + from, n) +
               ", " + chars(kFormats[(a ^ b) % kFormatCount]) + ");" + show(nargout);
        break;
      }
      case kOpFseek: {
        const int offset = int(int8_t(b)) * ((a & 0x40) ? 64 : 1);
        line = "r = fseek(f, " + std::to_string(offset) + ((a & 0x80) ? "" : std::string(", ") + kOrigins[a % 6]) + ");" + show(1);
        break;
      }
      case kOpFtell: line = "r = ftell(f);" + show(1); break;
      case kOpFeof: line = "r = feof(f);" + show(1); break;
      case kOpReopen: line = "fclose(f); " + open_line(s); break;
      case kOpWholeModel:
      case kOpLinesModel: {
        const bool lines = op == kOpLinesModel;
        const std::vector<int> m = model(s.file, s.text, lines);
        line = "fclose(f); " + open_line(s);
        if (lines) {
          line += " t = []; k = 0; while ~feof(f) && k < " + std::to_string(kMostLines) +
                  ", l = fgetl(f); t = [t, double(l), -1]; k = k + 1; end;";
        } else {
          line += " t = double(fread(f, Inf, 'uchar')); t = t(:)';";
        }
        // With UTF-8 text a line's bytes are decoded: only the loop is run.
        if (!(lines && s.utf8)) {
          line += " m = " + row(m) + "; if numel(t) == numel(m) && all(t == m), fprintf('same\\n');" +
                  " else fprintf('BAD\\n'); end";
          s.must_succeed[s.count] = !m.empty() || lines;
        }
        break;
      }
      case kOpFscanfRaw:
      case kOpSscanfRaw: {
        const size_t n = std::min<size_t>(a % 8, size - at);
        const std::string format = chars(data + at, n);
        at += n;
        const std::string text = chars(reinterpret_cast<const uint8_t*>(s.file.data()), std::min<size_t>(s.file.size(), size_t(b)));
        const int results = op == kOpFscanfRaw ? 1 + b % 2 : nargout;  // fscanf gives at most two
        line = outputs(results) + " = " + (op == kOpFscanfRaw ? "fscanf(f, " : "sscanf(" + text + ", ") + format + ");" +
               show(results);
        break;
      }
      case kOpModel: at = model_step(s, data[at - kStep], a, b, data, size, at); break;
      default: line = "r = fgetl(f);" + show(1); break;
    }
    ++s.count;
  }
  return s;
}

// The block the runs use: larger than the other targets' start, so that a
// read of more than the library's buffer fits the data stack. It is laid out
// once and copied back for every run, at the same place; its block word is
// this file's own (the block keeps the word's address).
constexpr uint32_t kBlockBytes = 4u << 20;
RuntimeBlock* g_block_word = nullptr;
void* g_home = nullptr;
void* g_initial = nullptr;

RuntimeBlock* fresh_block() {
  if (!g_home) {
    g_home = std::calloc(1, kBlockBytes);
    require(g_home && runtime_block_init(&g_block_word, g_home, kBlockBytes, 0, 2) == 0);
    require(rt_register_library(g_block_word, g_builtin_table_host) == 0);
    g_initial = std::malloc(kBlockBytes);
    std::memcpy(g_initial, g_home, kBlockBytes);
  }
  std::memcpy(g_home, g_initial, kBlockBytes);
  g_block_word = static_cast<RuntimeBlock*>(g_home);
  return g_block_word;
}

char g_out[1 << 18];
uint32_t g_out_len = 0;

// One run of the script in a fresh block: the transcript of every step's
// output and status.
std::string run(const Script& s, int64_t limit, uint32_t seed, std::vector<std::string>* outputs = nullptr,
                std::vector<int>* statuses = nullptr) {
  fileio_table_init();
  g_limit = limit;
  g_draw = seed;
  fileio_set_platform_read(limit > 0 ? short_read : nullptr);
  EngineContext* c = rt_engine(fresh_block());
  g_out_len = 0;
  c->capture = CaptureBuffer{g_out, sizeof g_out, &g_out_len};
  io_set_redirect(c, kFdStdout, kFdCapture, 0);
  io_set_redirect(c, kFdStderr, kFdCapture, 0);
  if (s.utf8) engine_set_charset(c, 'u');
  std::string transcript;
  auto step = [&](const std::string& line) {
    int status = exec_command_line(c, line.data(), int32_t(line.size()), 0);
    if (status == kSliceEnded) status = interp_run(c, 0);
    if (status != kOk) frame_unwind(c, 0);
    transcript.append(g_out, g_out_len);
    transcript += "#" + std::to_string(status) + "\n";
    if (outputs) outputs->emplace_back(g_out, g_out_len);
    if (statuses) statuses->push_back(status);
    g_out_len = 0;
    return status;
  };
  require(step(kShowDefinition) == kOk);
  require(step(open_line(s)) == kOk);
  for (int k = 0; k < s.count; ++k) {
    const int status = step(s.lines[k]);
    if (s.must_succeed[k] && status != kOk) {
      std::fprintf(stderr, "step %d failed (%d): %s\n%s", k, status, s.lines[k].c_str(), transcript.c_str());
      std::abort();
    }
  }
  fileio_close_all();
  fileio_set_platform_read(nullptr);
  return transcript;
}

// A step's printed result against the model's, which a difference aborts.
void check_model(const Script& s, int k, const std::string& printed, int status) {
  const filemodel::Result& want = s.expected[k];
  auto fail = [&](const char* what) {
    std::fprintf(stderr, "file_read_fuzz: step %d gives %s, not what the model says\n%s\n#%d\n%s\n", k, what,
                 s.lines[k].c_str(), status, printed.c_str());
    std::fprintf(stderr, "model: #%d %s %lld %lld %lld %lld:", want.status, want.cls.c_str(), (long long)want.rows,
                 (long long)want.cols, (long long)want.count, (long long)want.pos);
    for (const double v : want.values) std::fprintf(stderr, " %.17g", v);
    std::fprintf(stderr, "\n");
    std::abort();
  };
  if (want.room_may_fail && status == kDataStackOverflow) return;
  if (status != want.status) fail("another status");
  if (status != kOk) return;
  const std::string open = "<<" + std::to_string(k) + " ";
  const size_t from = printed.rfind(open), to = printed.find(">>", from);
  if (from == std::string::npos || to == std::string::npos) fail("no result");
  char cls[32] = {};
  long long rows = 0, cols = 0, count = 0, pos = 0;
  int used = 0;
  const std::string body = printed.substr(from + open.size(), to - from - open.size());
  if (std::sscanf(body.c_str(), "%31s %lld %lld %lld %lld:%n", cls, &rows, &cols, &count, &pos, &used) != 5 || used == 0)
    fail("a result it cannot read");
  if (want.cls != cls || want.rows != rows || want.cols != cols) fail("another class or size");
  if (want.count != count || want.pos != pos) fail("another count or position");
  std::vector<uint8_t> bytes;
  for (const char* p = body.c_str() + used; *p;) {
    char* end = nullptr;
    const long v = std::strtol(p, &end, 10);
    if (end == p) break;
    bytes.push_back(uint8_t(v));
    p = end;
  }
  if (bytes.size() != want.values.size() * 8) fail("another number of values");
  for (size_t i = 0; i < want.values.size(); ++i) {
    double got = 0;
    std::memcpy(&got, bytes.data() + 8 * i, 8);
    if (!filemodel::same_value(got, want.values[i], want.loose[i])) fail("another value");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHead) return 0;
  const Script s = parse(data, size);
  write_file(reinterpret_cast<const uint8_t*>(s.file.data()), s.file.size());
  static const int64_t kCuts[] = {1, 2, 3, 5, 8, 64, 4097, 70000};
  std::vector<std::string> outputs;
  std::vector<int> statuses;
  const std::string whole = run(s, 0, 0, &outputs, &statuses);
  // The first two steps define the helpers and open the file.
  for (int k = 0; k < s.count; ++k)
    if (s.modelled[k]) check_model(s, k, outputs[size_t(k) + 2], statuses[size_t(k) + 2]);
  const std::string cut = run(s, kCuts[(data[0] >> 2) % 8], uint32_t(data[0] >> 5) + 1);
  if (std::getenv("TN_FUZZ_SHOW")) {
    for (int k = 0; k < s.count; ++k) std::fprintf(stderr, "%s\n", s.lines[k].c_str());  // what the steps are, to read a finding
    std::fprintf(stderr, "%s", whole.c_str());
  }
  if (whole != cut || whole.find("BAD") != std::string::npos) {
    std::fprintf(stderr, "--- whole reads\n%s--- short reads\n%s", whole.c_str(), cut.c_str());
    std::abort();
  }
  return 0;
}
