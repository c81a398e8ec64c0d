// Values on the stack written as short texts for comparisons, and a deep
// check of containers: every element well formed, sizes adding up, cell size
// vectors canonical. Texts: 3, [1 2;3 4], zeros(1,0), 'ab', ['ab';'cd'],
// int8([1 2]), logical([1 0]), single(2x1x2: ...), {1, 'a'}, cell(2x2: ...),
// struct(a=1, b='x'), <kind k>.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/core/containers.h"
#include "engine/core/symbols.h"
#include "engine/core/value_stack.h"

namespace vt {

inline std::string num(double x) {
  char b[40];
  std::snprintf(b, sizeof b, "%.15g", x);
  return b;
}

inline uint32_t u32(const uint8_t* p) { return tn::ld_u32(p); }

std::string text_of(EngineContext* c, uint32_t kind, uint32_t a, uint32_t b, const uint64_t* p);

inline std::string dims_text(const uint32_t* dims, uint32_t n) {
  std::string s;
  for (uint32_t i = 0; i < n; ++i) s += (i ? "x" : "") + std::to_string(tn::ld_u32(dims + i));
  return s;
}

inline std::string typed_text(uint32_t subtype, const uint64_t* p, uint32_t words) {
  const auto* b = reinterpret_cast<const uint8_t*>(p);
  const uint32_t type = u32(b), nd = u32(b + 4);
  if (nd < 2 || typed_header_bytes(nd) > words * 8) return "<bad header>";
  const auto* dims = reinterpret_cast<const uint32_t*>(b + 8);
  int64_t count = 1;
  for (uint32_t i = 0; i < nd; ++i) count *= tn::ld_u32(dims + i);
  const uint8_t* e = b + typed_header_bytes(nd);
  const uint32_t size = elem_size(type);
  const bool cplx = type == kElemDoubleComplex || type == kElemSingleComplex;
  if (size == 0 || typed_header_bytes(nd) + count * size * (cplx ? 2 : 1) > words * 8) return "<bad size>";
  const uint32_t rows = tn::ld_u32(dims), cols = tn::ld_u32(dims + 1);
  if (subtype == kPayChar && nd == 2) {
    if (count == 0) return "''";
    std::string s = rows > 1 ? "[" : "";
    for (uint32_t r = 0; r < rows; ++r) {
      s += r ? ";'" : "'";
      for (uint32_t j = 0; j < cols; ++j) {
        const uint16_t ch = tn::load<uint16_t>(e + 2 * (r * cols + j));
        s += ch >= 32 && ch < 127 ? std::string(1, char(ch)) : "\\" + std::to_string(ch);
      }
      s += "'";
    }
    return rows > 1 ? s + "]" : s;
  }
  std::string cls = subtype == kPayChar      ? "char"
                    : subtype == kPayLogical ? "logical"
                    : type == kElemDouble || type == kElemDoubleComplex ? "double"
                    : type == kElemSingle || type == kElemSingleComplex ? "single"
                    : std::string((type & kElemUnsigned) ? "uint" : "int") + std::to_string(8 * (type & 127));
  auto elem = [&](int64_t i, int part) -> std::string {
    const uint8_t* q = e + (part * count + i) * size;
    if (type == kElemDouble || type == kElemDoubleComplex) return num(tn::load<double>(q));
    if (type == kElemSingle || type == kElemSingleComplex) return num(tn::load<float>(q));
    return std::to_string(static_cast<int64_t>(load_int_element(e, part * count + i, type)));
  };
  std::string s = cls + "(";
  if (nd > 2) s += dims_text(dims, nd) + ":";
  s += nd > 2 || count != 1 ? "[" : "";
  for (int64_t i = 0; i < count; ++i) {
    if (i) s += nd == 2 && cols && i % cols == 0 ? ";" : " ";
    s += elem(i, 0);
    if (cplx) s += "+" + elem(i, 1) + "i";
  }
  s += nd > 2 || count != 1 ? "]" : "";
  return s + ")";
}

inline std::string elements_text(EngineContext* c, const uint64_t* p, uint32_t words, bool names,
                                 const uint64_t** first_after = nullptr) {
  std::string s;
  int64_t left = words;
  bool any = false;
  while (left >= kElemHeaderWords && elem_total_words(p) <= left) {
    if (any) s += ", ";
    any = true;
    if (names) {
      int32_t len = 0;
      const char* nm = elem_name(p) ? symtab_name(c, elem_name(p), &len) : nullptr;
      s += (nm ? std::string(nm, size_t(len)) : "?") + "=";
    }
    s += text_of(c, elem_word(p, 0), elem_word(p, 1), elem_word(p, 2), p + kElemHeaderWords);
    left -= elem_total_words(p);
    p += elem_total_words(p);
  }
  if (left != 0) s += "<" + std::to_string(left) + " stray words>";
  if (first_after) *first_after = p;
  return s;
}

inline std::string text_of(EngineContext* c, uint32_t kind, uint32_t a, uint32_t b, const uint64_t* p) {
  if (kind == kKindReal || kind == kKindComplex) {
    if (a == 0 && b == 0) return "[]";
    if (a * b == 0) return "zeros(" + std::to_string(a) + "," + std::to_string(b) + ")";
    std::string s = a * b == 1 ? "" : "[";
    for (uint32_t i = 0; i < a * b; ++i) {
      if (i) s += i % b == 0 ? ";" : " ";
      s += num(tn::ld_f64(p + i));
      if (kind == kKindComplex) s += "+" + num(tn::ld_f64(p + a * b + i)) + "i";
    }
    return a * b == 1 ? s : s + "]";
  }
  if (kind == kKindPayload && b >= kPayNumeric && b <= kPayLogical) return typed_text(b, p, a);
  if (kind == kKindContainer) {
    if (b == kContList) return "{" + elements_text(c, p, a, false) + "}";
    if (b == kContStruct) return "struct(" + elements_text(c, p, a, true) + ")";
    if (b == kContCell) {
      if (a < kElemHeaderWords) return "<bad cell>";
      const std::string dims = text_of(c, elem_word(p, 0), elem_word(p, 1), elem_word(p, 2), p + 2);
      return "cell(" + dims + ": " +
             elements_text(c, p + elem_total_words(p), a - elem_total_words(p), false) + ")";
    }
    int32_t len = 0;
    const char* nm = symtab_name(c, int32_t(b), &len);
    return "obj<" + (nm ? std::string(nm, size_t(len)) : "?") + ">(" + elements_text(c, p, a, true) + ")";
  }
  return "<kind " + std::to_string(kind) + ">";
}

inline std::string show(EngineContext* c, int depth = 0) {
  const uint32_t* d = desc_at(c, depth);
  return text_of(c, d[0], d[1], d[2], item_data(c, depth));
}

// Deep check of an item: typed arrays canonical with zero padding, element
// sizes adding up to each container's, cell size vectors canonical and
// matching their cell counts.
inline ::testing::AssertionResult check_value(EngineContext* c, uint32_t kind, uint32_t a, uint32_t b,
                                              const uint64_t* p) {
  auto fail = [](const std::string& why) { return ::testing::AssertionFailure() << why; };
  if (kind == kKindComplex && uint64_t(a) * b == 0) return fail("complex without elements");
  if (kind == kKindPayload && b >= kPayNumeric && b <= kPayLogical) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(p);
    if (a < 2) return fail("typed array too short");
    const uint32_t type = u32(bytes), nd = u32(bytes + 4);
    if (nd < 2 || typed_header_bytes(nd) > a * 8) return fail("bad typed header");
    int64_t count = 1;
    for (uint32_t i = 0; i < nd; ++i) count *= u32(bytes + 8 + 4 * i);
    if (nd > 2 && u32(bytes + 8 + 4 * (nd - 1)) == 1) return fail("trailing dimension 1");
    // Empty arrays are 0 x 0, except the 1 x 0 char row that trimming
    // blanks away leaves.
    const bool empty_row = b == kPayChar && nd == 2 && u32(bytes + 8) == 1 && u32(bytes + 12) == 0;
    if (count == 0 && !empty_row && (nd != 2 || u32(bytes + 8) || u32(bytes + 12)))
      return fail("empty not 0 x 0");
    const bool cplx = type == kElemDoubleComplex || type == kElemSingleComplex;
    const int64_t used = typed_header_bytes(nd) + count * elem_size(type) * (cplx ? 2 : 1);
    if (elem_size(type) == 0 || (used + 7) / 8 != a) return fail("typed words do not match");
    if (b == kPayChar && type != kElemU16) return fail("char not 16-bit");
    if (b == kPayLogical && type != kElemU8) return fail("logical not 8-bit");
    for (uint32_t i = 8 + 4 * nd; i < typed_header_bytes(nd); ++i)
      if (bytes[i]) return fail("nonzero header padding");
    for (int64_t i = used; i < int64_t(a) * 8; ++i)
      if (bytes[i]) return fail("nonzero padding");
    return ::testing::AssertionSuccess();
  }
  if (kind != kKindContainer) return ::testing::AssertionSuccess();
  int64_t left = a, cells = 0;
  const uint64_t* e = p;
  bool first = true;
  int64_t want_cells = -1;
  while (left >= kElemHeaderWords && elem_total_words(e) <= left) {
    auto r = check_value(c, elem_word(e, 0), elem_word(e, 1), elem_word(e, 2), e + kElemHeaderWords);
    if (!r) return r;
    if (b == kContStruct && elem_name(e) == 0) return fail("unnamed field");
    if (b == kContCell && first) {
      const auto* v = reinterpret_cast<const uint8_t*>(e + kElemHeaderWords);
      if (elem_kind(e) != kKindPayload || u32(v) != kElemI32 || u32(v + 8) != 1) return fail("bad size vector");
      const uint32_t k = u32(v + 12);
      if (k < 2 || k > kMaxDims) return fail("bad size vector length");
      want_cells = 1;
      for (uint32_t i = 0; i < k; ++i) want_cells *= tn::ld_i32(v + 16 + 4 * i);
      if (k > 2 && tn::ld_i32(v + 16 + 4 * (k - 1)) == 1) return fail("size vector ends in 1");
    } else {
      ++cells;
    }
    first = false;
    left -= elem_total_words(e);
    e += elem_total_words(e);
  }
  if (left != 0) return fail("elements do not fill the container");
  if (b == kContCell && want_cells != cells) return fail("cell count does not match its sizes");
  return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult check_item(EngineContext* c, int depth = 0) {
  const uint32_t* d = desc_at(c, depth);
  return check_value(c, d[0], d[1], d[2], item_data(c, depth));
}

}  // namespace vt
