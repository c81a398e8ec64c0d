// Test assembler and disassembler for engine code: text to code words and
// back, driven by the instruction tables. disassemble() output re-assembles
// to the same words, so tests can hand-write code and compare compiled code.
//
// Text format, one instruction per line:
//
//   ; comment (to the end of the line, also after an instruction)
//   loop:                     label: names the address of what follows
//     push_int16 -3           mnemonic, then operands separated by blanks
//     push_double 2.5         doubles: decimal, inf, -inf, nan, -nan, raw:0x<16 hex>
//     push_string8 "a\"b\n"   strings: \\ \" \n \r \t \xHH, and \uHHHH in 16-bit strings
//     index_read 2 0x3        counts decimal; colon masks printed in hex
//     size 1 2                intrinsic: its name, then nargin and/or nargout for
//                             each variable count word (fixed counts carry no operand)
//     jump_if_false done      jump operands: a label (the target) or a number
//                             (the raw offset word, e.g. an unpatched 0xFFFF)
//     lib 12 2 1              opcode 327 + 12 with nargin 2, nargout 1
//     .word 0x1234 7          raw words
//   done:
//
// Mnemonics are the opcodes' names (`nop`, `push_zero`, `load_local`, ...); an
// intrinsic opcode uses its first intrinsic name ("i", "inf", "nan"), its
// other names ("j", "Inf", "NaN") are accepted too. Typed literals carry their
// class: push_small_typed.int8 ... .uint64 (19-24, 27, 28), push_int32.int32 /
// .uint32 (25, 26), push_int64.int64 / .uint64 (29, 30). Opcode 313 is
// `position_wide`. 16-bit operands take -32768..65535. The assembler inserts
// `nop` words in front of push_double, push_imag_double, push_single and
// push_imag_single until their operand lies on an 8-byte boundary (counted
// from the start of the code plus base_words).
//
// The disassembler prints labels L1, L2, ... at every jump target that is an
// instruction start (or the end of the code), other offsets as numbers, and
// falls back to `.word` for anything that would not assemble back to the same
// words (a truncated instruction, a misaligned double, a nonzero pad byte).
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/core/opcodes.h"

namespace tnasm {

// ---- Mnemonics ----------------------------------------------------------

inline const char* engine_op_name(uint32_t op) {
  switch (op) {
    case kOpNop: return "nop";
    case kOpPushZero: return "push_zero";
    case kOpPushOne: return "push_one";
    case kOpPushInt16: return "push_int16";
    case kOpPushImagInt16: return "push_imag_int16";
    case kOpPushDouble: return "push_double";
    case kOpPushImagDouble: return "push_imag_double";
    case kOpPushSingle: return "push_single";
    case kOpPushImagSingle: return "push_imag_single";
    case kOpPushSmallInt8: return "push_small_typed.int8";
    case kOpPushSmallInt16: return "push_small_typed.int16";
    case kOpPushSmallInt32: return "push_small_typed.int32";
    case kOpPushSmallUint8: return "push_small_typed.uint8";
    case kOpPushSmallUint16: return "push_small_typed.uint16";
    case kOpPushSmallUint32: return "push_small_typed.uint32";
    case kOpPushInt32: return "push_int32.int32";
    case kOpPushUint32: return "push_int32.uint32";
    case kOpPushSmallInt64: return "push_small_typed.int64";
    case kOpPushSmallUint64: return "push_small_typed.uint64";
    case kOpPushInt64: return "push_int64.int64";
    case kOpPushUint64: return "push_int64.uint64";
    case kOpPushRange16: return "push_range16";
    case kOpPushString8: return "push_string8";
    case kOpPushString16: return "push_string16";
    case kOpPushNoValue: return "push_no_value";
    case kOpWriteString8: return "write_string8";
    case kOpWriteString16: return "write_string16";
    case kOpPopItem: return "pop_item";
    case kOpDupItems: return "dup_items";
    case kOpMoveItem: return "move_item";
    case kOpPushEmpty: return "push_empty";
    case kOpMakeList: return "make_list";
    case kOpListAppend: return "list_append";
    case kOpListFlatten: return "list_flatten";
    case kOpDeclareGlobal: return "declare_global";
    case kOpLoadLocal: return "load_local";
    case kOpStoreLocal: return "store_local";
    case kOpDisplayLocal: return "display_local";
    case kOpStoreAnsDisplay: return "store_ans_display";
    case kOpDisplayNamed: return "display_named";
    case kOpIncLocal: return "inc_local";
    case kOpDecLocal: return "dec_local";
    case kOpClearLocal: return "clear_local";
    case kOpRefField: return "ref_field";
    case kOpRefDynfield: return "ref_dynfield";
    case kOpIndexRead: return "index_read";
    case kOpRefElement: return "ref_element";
    case kOpIndexBeginning: return "index_beginning";
    case kOpIndexEnd: return "index_end";
    case kOpIndexMatrixrow: return "index_matrixrow";
    case kOpIndexMatrixcol: return "index_matrixcol";
    case kOpPushRef: return "push_ref";
    case kOpPushRefTarget: return "push_ref_target";
    case kOpDeref: return "deref";
    case kOpIndexRefRead: return "index_ref_read";
    case kOpRefAssign: return "ref_assign";
    case kOpIndexAssign: return "index_assign";
    case kOpJump: return "jump";
    case kOpJumpIfTrue: return "jump_if_true";
    case kOpJumpIfFalse: return "jump_if_false";
    case kOpSkip: return "skip";
    case kOpCaseTest: return "case_test";
    case kOpForNext: return "for_next";
    case kOpForRangeNext: return "for_range_next";
    case kOpRangePack: return "range_pack";
    case kOpRangeFinal: return "range_final";
    case kOpOrElse: return "or_else";
    case kOpAndThen: return "and_then";
    case kOpCallUser: return "call_user";
    case kOpPositionWide: return "position_wide";
    case kOpCallNamed: return "call_named";
    case kOpRetFunction: return "ret_function";
    case kOpHalt: return "halt";
    case kOpTryHandler: return "try_handler";
    case kOpPosition: return "position";
    case kOpTaskEnd: return "task_end";
    default: return nullptr;
  }
}

// The mnemonic of an engine opcode (0..326); null for library opcodes.
inline const char* mnemonic(uint32_t op) {
  if (op >= uint32_t(kEngineOpcodeCount)) return nullptr;
  if (const IntrinsicEntry* e = intrinsic_by_opcode(op)) return e->name;
  return engine_op_name(op);
}

constexpr char kLibMnemonic[] = "lib";
constexpr int kDoubleAlignWords = 4;

inline bool needs_alignment(uint32_t op) {
  return op >= kOpPushDouble && op <= kOpPushImagSingle;
}

// Opcode for a mnemonic or alias, -1 when unknown ("lib" is not an opcode).
inline int opcode_for(std::string_view name) {
  static const std::map<std::string, int, std::less<>> table = [] {
    std::map<std::string, int, std::less<>> m;
    for (uint32_t op = 0; op < uint32_t(kEngineOpcodeCount); ++op)
      if (const char* n = engine_op_name(op)) m.emplace(n, int(op));
    for (const IntrinsicEntry* e = kIntrinsicTable; e->opcode != kIntrinsicEndOpcode; ++e)
      m.emplace(e->name, int(e->opcode));
    return m;
  }();
  auto it = table.find(name);
  return it == table.end() ? -1 : it->second;
}

// Operand display: which 16-bit operands are colon masks (printed in hex).
inline bool operand_is_mask(uint32_t op, int index) {
  return index == 1 && (op == kOpIndexRead || op == kOpIndexRefRead || op == kOpIndexAssign);
}

// ---- Assembler ------------------------------------------------------------

struct AsmOptions {
  int base_words = 0;          // word address of the code's first word, mod 4
  bool align_doubles = true;   // insert nop padding before 8-byte literals
};

namespace detail {

struct Token {
  std::string text;
  bool quoted = false;
};

struct Line {
  int number = 0;
  std::vector<std::string> labels;
  std::vector<Token> tokens;  // mnemonic first
};

inline bool ident_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '.';
}

inline bool is_label_name(std::string_view s) {
  if (s.empty() || !((s[0] >= 'a' && s[0] <= 'z') || (s[0] >= 'A' && s[0] <= 'Z') || s[0] == '_'))
    return false;
  for (char c : s)
    if (!ident_char(c)) return false;
  return true;
}

// Splits one line into labels and tokens; strings keep their escapes for
// parse_string. Returns an error text or "".
inline std::string split_line(std::string_view src, Line* line) {
  size_t i = 0;
  while (i < src.size()) {
    char c = src[i];
    if (c == ' ' || c == '\t' || c == ',' || c == '\r') { ++i; continue; }
    if (c == ';') break;
    Token t;
    if (c == '"') {
      size_t j = i + 1;
      while (j < src.size() && src[j] != '"') j += (src[j] == '\\') ? 2 : 1;
      if (j >= src.size()) return "string without closing quote";
      t.text = std::string(src.substr(i + 1, j - i - 1));
      t.quoted = true;
      i = j + 1;
    } else {
      size_t j = i;
      while (j < src.size() && src[j] != ' ' && src[j] != '\t' && src[j] != ',' && src[j] != ';' &&
             src[j] != '\r')
        ++j;
      t.text = std::string(src.substr(i, j - i));
      i = j;
    }
    if (!t.quoted && line->tokens.empty() && t.text.size() > 1 && t.text.back() == ':') {
      std::string name = t.text.substr(0, t.text.size() - 1);
      if (!is_label_name(name)) return "bad label '" + name + "'";
      line->labels.push_back(name);
      continue;
    }
    line->tokens.push_back(std::move(t));
  }
  return "";
}

// Integer literal: optional sign, decimal or 0x hex; false when malformed.
inline bool parse_int(const std::string& s, __int128* out) {
  if (s.empty()) return false;
  size_t i = 0;
  bool neg = false;
  if (s[0] == '-' || s[0] == '+') { neg = s[0] == '-'; i = 1; }
  int base = 10;
  if (s.size() > i + 2 && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) { base = 16; i += 2; }
  if (i >= s.size()) return false;
  unsigned __int128 v = 0;
  for (; i < s.size(); ++i) {
    char c = s[i];
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    v = v * base + d;
    if (v > (unsigned __int128)1 << 80) return false;
  }
  *out = neg ? -(__int128)v : (__int128)v;
  return true;
}

inline bool parse_ranged(const std::string& s, __int128 lo, __int128 hi, __int128* out) {
  return parse_int(s, out) && *out >= lo && *out <= hi;
}

inline bool parse_double_bits(const std::string& s, uint64_t* bits) {
  if (s == "nan") { *bits = 0x7FF8000000000000ull; return true; }
  if (s == "-nan") { *bits = 0xFFF8000000000000ull; return true; }
  if (s.rfind("raw:", 0) == 0) {
    __int128 v;
    if (!parse_ranged(s.substr(4), 0, (__int128)UINT64_MAX, &v)) return false;
    *bits = uint64_t(v);
    return true;
  }
  if (s.empty()) return false;
  char* end = nullptr;
  double d = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size() || std::isnan(d)) return false;
  std::memcpy(bits, &d, sizeof d);
  return true;
}

inline int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes a quoted string's escapes into characters; wide allows \u.
inline std::string parse_string(const std::string& s, bool wide, std::vector<uint16_t>* out) {
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c != '\\') {
      if (c < 0x20 || c > 0x7E) return "unescaped character outside printable ASCII";
      out->push_back(c);
      continue;
    }
    if (++i >= s.size()) return "dangling backslash";
    char e = s[i];
    switch (e) {
      case '\\': out->push_back('\\'); break;
      case '"': out->push_back('"'); break;
      case 'n': out->push_back('\n'); break;
      case 'r': out->push_back('\r'); break;
      case 't': out->push_back('\t'); break;
      case 'x':
      case 'u': {
        size_t digits = e == 'x' ? 2 : 4;
        if (e == 'u' && !wide) return "\\u in a byte string";
        uint32_t v = 0;
        for (size_t k = 1; k <= digits; ++k) {
          int h = (i + k < s.size()) ? hex_value(s[i + k]) : -1;
          if (h < 0) return std::string("bad \\") + e + " escape";
          v = v * 16 + uint32_t(h);
        }
        out->push_back(uint16_t(v));
        i += digits;
        break;
      }
      default:
        return std::string("unknown escape \\") + e;
    }
  }
  return "";
}

struct Item {
  int line = 0;
  bool words = false;  // .word directive
  uint32_t opcode = 0;
  std::vector<Token> operands;
  int address = 0;  // of the opcode (after padding)
  int length = 0;
  std::vector<uint16_t> chars;  // decoded string operand
};

}  // namespace detail

// Assembles text into code words. On failure returns false and sets error to
// "line N: message"; code then holds a partial result.
inline bool assemble(std::string_view text, std::vector<uint16_t>* code, std::string* error,
                     const AsmOptions& opt = {}) {
  using namespace detail;
  code->clear();
  auto fail = [&](int line, const std::string& msg) {
    if (error) *error = "line " + std::to_string(line) + ": " + msg;
    return false;
  };
  std::vector<Item> items;
  std::map<std::string, int> labels;
  std::vector<std::pair<std::string, int>> pending_labels;  // name, line
  int address = 0;
  int number = 0;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) nl = text.size();
    ++number;
    Line line;
    line.number = number;
    std::string err = split_line(text.substr(pos, nl - pos), &line);
    pos = nl + 1;
    if (!err.empty()) return fail(number, err);
    for (auto& l : line.labels) pending_labels.emplace_back(l, number);
    if (line.tokens.empty()) continue;
    Item it;
    it.line = number;
    const Token& m = line.tokens[0];
    if (m.quoted) return fail(number, "expected a mnemonic");
    it.operands.assign(line.tokens.begin() + 1, line.tokens.end());
    if (m.text == ".word") {
      it.words = true;
      it.length = int(it.operands.size());
    } else if (m.text == kLibMnemonic) {
      __int128 k;
      if (it.operands.size() != 3) return fail(number, "lib takes a row, nargin and nargout");
      if (!parse_ranged(it.operands[0].text, 0, 0xFFFF - kFirstLibraryOpcode, &k))
        return fail(number, "bad library row '" + it.operands[0].text + "'");
      it.opcode = uint32_t(kFirstLibraryOpcode + k);
      it.operands.erase(it.operands.begin());
      it.length = kLibraryCallWords;
    } else {
      int op = opcode_for(m.text);
      if (op < 0) return fail(number, "unknown mnemonic '" + m.text + "'");
      it.opcode = uint32_t(op);
      const OpcodeInfo* info = opcode_info(it.opcode);
      size_t want = 0;
      switch (info->kind) {
        case kOperandNone: want = 0; break;
        case kOperandWords: want = size_t(info->count); break;
        default: want = 1; break;
      }
      if (it.operands.size() != want)
        return fail(number, m.text + " takes " + std::to_string(want) + " operand(s)");
      if (info->kind == kOperandString8 || info->kind == kOperandString16) {
        if (!it.operands[0].quoted) return fail(number, "expected a quoted string");
        err = parse_string(it.operands[0].text, info->kind == kOperandString16, &it.chars);
        if (!err.empty()) return fail(number, err);
        if (it.chars.size() > 0xFFFF) return fail(number, "string too long");
        it.length = info->kind == kOperandString8 ? int((it.chars.size() + 1) / 2) + 2
                                                  : int(it.chars.size()) + 2;
      } else {
        uint16_t probe[1] = {uint16_t(it.opcode)};
        it.length = insn_length(probe);
      }
      if (opt.align_doubles && needs_alignment(it.opcode)) {
        while ((opt.base_words + address + 1) % kDoubleAlignWords != 0) {
          Item pad;
          pad.line = number;
          pad.opcode = kOpNop;
          pad.address = address;
          pad.length = 1;
          items.push_back(pad);
          ++address;
        }
      }
    }
    for (auto& [name, ln] : pending_labels) {
      if (!labels.emplace(name, address).second) return fail(ln, "label '" + name + "' defined twice");
    }
    pending_labels.clear();
    it.address = address;
    address += it.length;
    items.push_back(std::move(it));
  }
  for (auto& [name, ln] : pending_labels)
    if (!labels.emplace(name, address).second) return fail(ln, "label '" + name + "' defined twice");

  code->reserve(size_t(address));
  for (const Item& it : items) {
    auto word = [&](const Token& t, __int128 lo, __int128 hi, uint16_t* w) {
      __int128 v;
      if (t.quoted || !parse_ranged(t.text, lo, hi, &v)) return false;
      *w = uint16_t(v);
      return true;
    };
    if (it.words) {
      for (const Token& t : it.operands) {
        uint16_t w;
        if (!word(t, -32768, 65535, &w)) return fail(it.line, "bad word '" + t.text + "'");
        code->push_back(w);
      }
      continue;
    }
    code->push_back(uint16_t(it.opcode));
    const OpcodeInfo* info = opcode_info(it.opcode);
    int kind = info ? info->kind : kOperandWords;
    switch (kind) {
      case kOperandNone:
        break;
      case kOperandWords:
        for (size_t k = 0; k < it.operands.size(); ++k) {
          const Token& t = it.operands[k];
          uint16_t w;
          int origin = k == 0 ? jump_origin_words(it.opcode) : 0;
          if (origin != 0 && !t.quoted && is_label_name(t.text)) {
            auto found = labels.find(t.text);
            if (found == labels.end()) return fail(it.line, "unknown label '" + t.text + "'");
            int offset = found->second - (it.address + origin);
            if (offset < -32768 || offset > 32767) return fail(it.line, "jump out of range");
            w = uint16_t(offset);
          } else if (!word(t, -32768, 65535, &w)) {
            return fail(it.line, "bad operand '" + t.text + "'");
          }
          code->push_back(w);
        }
        break;
      case kOperandInt32: {
        __int128 v;
        if (it.operands[0].quoted || !parse_ranged(it.operands[0].text, INT32_MIN, UINT32_MAX, &v))
          return fail(it.line, "bad 32-bit value '" + it.operands[0].text + "'");
        uint32_t u = uint32_t(v);
        code->push_back(uint16_t(u));
        code->push_back(uint16_t(u >> 16));
        break;
      }
      case kOperandInt64: {
        __int128 v;
        if (it.operands[0].quoted || !parse_ranged(it.operands[0].text, INT64_MIN, UINT64_MAX, &v))
          return fail(it.line, "bad 64-bit value '" + it.operands[0].text + "'");
        uint64_t u = uint64_t(v);
        for (int k = 0; k < 4; ++k) code->push_back(uint16_t(u >> (16 * k)));
        break;
      }
      case kOperandDouble: {
        uint64_t bits;
        if (it.operands[0].quoted || !parse_double_bits(it.operands[0].text, &bits))
          return fail(it.line, "bad double '" + it.operands[0].text + "'");
        for (int k = 0; k < 4; ++k) code->push_back(uint16_t(bits >> (16 * k)));
        break;
      }
      case kOperandString8:
        code->push_back(uint16_t(it.chars.size()));
        for (size_t k = 0; k < it.chars.size(); k += 2) {
          uint16_t lo = it.chars[k];
          uint16_t hi = k + 1 < it.chars.size() ? it.chars[k + 1] : 0;
          code->push_back(uint16_t(lo | hi << 8));
        }
        break;
      case kOperandString16:
        code->push_back(uint16_t(it.chars.size()));
        code->insert(code->end(), it.chars.begin(), it.chars.end());
        break;
    }
  }
  return true;
}

// Assembles or throws std::runtime_error with the message: for tests, where
// the text is part of the test and an error is a test bug.
inline std::vector<uint16_t> asm_code(std::string_view text, const AsmOptions& opt = {}) {
  std::vector<uint16_t> code;
  std::string error;
  if (!assemble(text, &code, &error, opt)) throw std::runtime_error(error);
  return code;
}

// ---- Disassembler ---------------------------------------------------------

struct DisasmOptions {
  int base_words = 0;       // as for the assembler
  bool addresses = false;   // prefix lines with word addresses (a listing, not assembler input)
  // Name of library row k, appended as a comment when set and non-empty.
  std::function<std::string(int k)> lib_name;
};

namespace detail {

inline std::string format_double(uint64_t bits) {
  double d;
  std::memcpy(&d, &bits, sizeof d);
  if (bits == 0x7FF8000000000000ull) return "nan";
  if (bits == 0xFFF8000000000000ull) return "-nan";
  char buf[64];
  if (!std::isnan(d)) {
    if (std::isinf(d)) return d > 0 ? "inf" : "-inf";
    for (int prec = 15; prec <= 17; ++prec) {
      std::snprintf(buf, sizeof buf, "%.*g", prec, d);
      uint64_t back;
      if (parse_double_bits(buf, &back) && back == bits) return buf;
    }
  }
  std::snprintf(buf, sizeof buf, "raw:0x%016llx", static_cast<unsigned long long>(bits));
  return buf;
}

inline std::string quote(const uint16_t* chars, size_t n) {
  std::string s = "\"";
  char buf[8];
  for (size_t i = 0; i < n; ++i) {
    uint16_t c = chars[i];
    switch (c) {
      case '\\': s += "\\\\"; break;
      case '"': s += "\\\""; break;
      case '\n': s += "\\n"; break;
      case '\r': s += "\\r"; break;
      case '\t': s += "\\t"; break;
      default:
        if (c >= 0x20 && c <= 0x7E) {
          s += char(c);
        } else {
          std::snprintf(buf, sizeof buf, c <= 0xFF ? "\\x%02x" : "\\u%04x", unsigned(c));
          s += buf;
        }
    }
  }
  return s + "\"";
}

// Decoded instruction: its words and whether it stands as written.
struct Decoded {
  int address;
  int length;
  bool raw;  // print as .word
};

}  // namespace detail

inline std::string disassemble(const uint16_t* code, size_t n, const DisasmOptions& opt = {}) {
  using namespace detail;
  std::vector<Decoded> insns;
  for (size_t a = 0; a < n;) {
    uint32_t op = code[a];
    const OpcodeInfo* info = opcode_info(op);
    bool raw = false;
    int len;
    if (info && (info->kind == kOperandString8 || info->kind == kOperandString16) && a + 1 >= n) {
      len = int(n - a);
      raw = true;
    } else {
      len = insn_length(code + a);
    }
    if (a + size_t(len) > n) {
      len = int(n - a);
      raw = true;
    }
    if (!raw && needs_alignment(op) && (opt.base_words + int(a) + 1) % kDoubleAlignWords != 0) raw = true;
    if (!raw && info && info->kind == kOperandString8 && (code[a + 1] & 1) &&
        (code[a + size_t(len) - 1] >> 8) != 0)
      raw = true;
    insns.push_back({int(a), len, raw});
    a += size_t(len);
  }
  // Jump targets that fall on an instruction start (or the end) get labels.
  std::map<int, bool> starts;
  for (const Decoded& d : insns) starts[d.address] = true;
  starts[int(n)] = true;
  auto jump_target = [&](const Decoded& d, int* target) {
    if (d.raw) return false;
    uint32_t op = code[d.address];
    int origin = jump_origin_words(op);
    if (origin == 0) return false;
    int16_t off = int16_t(code[d.address + 1]);
    if (op == kOpTryHandler && off == 0) return false;  // 0 restores the enclosing handler
    *target = d.address + origin + off;
    return starts.count(*target) != 0;
  };
  std::map<int, std::string> labels;
  for (const Decoded& d : insns) {
    int t;
    if (jump_target(d, &t)) labels[t];
  }
  int next_label = 1;
  for (auto& [addr, name] : labels) name = "L" + std::to_string(next_label++);

  std::string out;
  char buf[64];
  auto emit_label = [&](int addr) {
    auto it = labels.find(addr);
    if (it != labels.end()) out += it->second + ":\n";
  };
  for (const Decoded& d : insns) {
    emit_label(d.address);
    if (opt.addresses) {
      std::snprintf(buf, sizeof buf, "%5d", d.address);
      out += buf;
    }
    out += "  ";
    const uint16_t* p = code + d.address;
    uint32_t op = p[0];
    if (d.raw) {
      out += ".word";
      for (int k = 0; k < d.length; ++k) {
        std::snprintf(buf, sizeof buf, " 0x%04x", unsigned(p[k]));
        out += buf;
      }
      out += "\n";
      continue;
    }
    const OpcodeInfo* info = opcode_info(op);
    if (info == nullptr) {
      std::snprintf(buf, sizeof buf, "%s %u %d %d", kLibMnemonic, op - kFirstLibraryOpcode, int16_t(p[1]),
                    int16_t(p[2]));
      out += buf;
      if (opt.lib_name) {
        std::string name = opt.lib_name(int(op - kFirstLibraryOpcode));
        if (!name.empty()) out += "  ; " + name;
      }
      out += "\n";
      continue;
    }
    out += mnemonic(op);
    switch (info->kind) {
      case kOperandWords:
        for (int k = 0; k < info->count; ++k) {
          int t;
          if (k == 0 && jump_target(d, &t)) {
            out += " " + labels[t];
          } else if (operand_is_mask(op, k)) {
            std::snprintf(buf, sizeof buf, " 0x%x", unsigned(p[1 + k]));
            out += buf;
          } else {
            out += " " + std::to_string(int16_t(p[1 + k]));
          }
        }
        break;
      case kOperandInt32: {
        uint32_t u = uint32_t(p[1]) | uint32_t(p[2]) << 16;
        out += " " + (op == kOpPushInt32 ? std::to_string(int32_t(u)) : std::to_string(u));
        break;
      }
      case kOperandInt64:
      case kOperandDouble: {
        uint64_t u = 0;
        for (int k = 0; k < 4; ++k) u |= uint64_t(p[1 + k]) << (16 * k);
        if (info->kind == kOperandDouble) out += " " + format_double(u);
        else out += " " + (op == kOpPushInt64 ? std::to_string(int64_t(u)) : std::to_string(u));
        break;
      }
      case kOperandString8: {
        std::vector<uint16_t> chars;
        for (int k = 0; k < p[1]; ++k) chars.push_back(uint16_t((p[2 + k / 2] >> (8 * (k & 1))) & 0xFF));
        out += " " + quote(chars.data(), chars.size());
        break;
      }
      case kOperandString16:
        out += " " + quote(p + 2, p[1]);
        break;
      default:
        break;
    }
    out += "\n";
  }
  emit_label(int(n));
  return out;
}

inline std::string disassemble(const std::vector<uint16_t>& code, const DisasmOptions& opt = {}) {
  return disassemble(code.data(), code.size(), opt);
}

}  // namespace tnasm
