// A model of tick label text, exact and free of binary floating point: a
// label is read as a decimal (digits and a power of ten), its compact form
// is written from those digits (fixed from 0.1 up to 2e9, "d.ddde-N"
// elsewhere, no trailing zeros, zero as "0"), and the labels of one axis are
// checked to be whole multiples of one step of 1, 2 or 5 times a power of
// ten. Checks return a message, empty when the labels hold.
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tickmodel {

// sign × digits × 10^exp; digits has no leading or trailing zeros ("" is 0).
struct Decimal {
  bool negative = false;
  std::string digits;
  int32_t exp = 0;
};

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// "-?D+(.D+)?(e-?D+)?", read exactly; false for anything else.
inline bool parse(const std::string& t, Decimal* out) {
  Decimal d;
  size_t i = 0;
  if (i < t.size() && t[i] == '-') d.negative = true, ++i;
  std::string all;
  int32_t fraction = 0;
  const size_t int_start = i;
  while (i < t.size() && is_digit(t[i])) all += t[i++];
  if (i == int_start) return false;
  if (i < t.size() && t[i] == '.') {
    ++i;
    const size_t f0 = i;
    while (i < t.size() && is_digit(t[i])) all += t[i++], ++fraction;
    if (i == f0) return false;
  }
  int32_t e = 0;
  if (i < t.size() && t[i] == 'e') {
    ++i;
    bool neg = false;
    if (i < t.size() && t[i] == '-') neg = true, ++i;
    const size_t e0 = i;
    while (i < t.size() && is_digit(t[i]) && e < 100000) e = 10 * e + (t[i++] - '0');
    if (i == e0) return false;
    if (neg) e = -e;
  }
  if (i != t.size()) return false;
  size_t lead = 0;
  while (lead < all.size() && all[lead] == '0') ++lead;
  all.erase(0, lead);
  d.exp = e - fraction;
  while (!all.empty() && all.back() == '0') all.pop_back(), ++d.exp;
  d.digits = all;
  if (all.empty()) d.exp = 0;
  *out = d;
  return true;
}

// The compact general form of an exact decimal.
inline std::string compact(const Decimal& d) {
  if (d.digits.empty()) return "0";
  const int32_t n = int32_t(d.digits.size());
  const int32_t lead = n - 1 + d.exp;  // the value lies in [10^lead, 10^(lead + 1))
  const bool fixed = lead >= -1 && (lead < 9 || (lead == 9 && d.digits[0] == '1'));
  std::string s = d.negative ? "-" : "";
  if (!fixed) {
    s += d.digits[0];
    if (n > 1) s += "." + d.digits.substr(1);
    return s + "e" + std::to_string(lead);
  }
  if (lead < 0) return s + "0." + std::string(size_t(-lead - 1), '0') + d.digits;
  if (d.exp >= 0) return s + d.digits + std::string(size_t(d.exp), '0');
  return s + d.digits.substr(0, size_t(lead + 1)) + "." + d.digits.substr(size_t(lead + 1));
}

// The decimal as a whole number of units of 10^unit_exp (unit_exp at most
// its exponent); false when it does not fit.
inline bool scaled(const Decimal& d, int32_t unit_exp, __int128* out) {
  if (d.digits.empty()) return *out = 0, true;
  const int32_t shift = d.exp - unit_exp;
  if (shift < 0 || int32_t(d.digits.size()) + shift > 36) return false;
  __int128 v = 0;
  for (char c : d.digits) v = 10 * v + (c - '0');
  for (int32_t k = 0; k < shift; ++k) v *= 10;
  *out = d.negative ? -v : v;
  return true;
}

// The exponent form of an exact decimal, "d.ddde-N" (a log label too wide
// for the margin in its compact form takes it).
inline std::string exponent(const Decimal& d) {
  if (d.digits.empty()) return "0";
  const int32_t lead = int32_t(d.digits.size()) - 1 + d.exp;
  std::string s = d.negative ? "-" : "";
  s += d.digits[0];
  if (d.digits.size() > 1) s += "." + d.digits.substr(1);
  return s + "e" + std::to_string(lead);
}

// The decimal of v × 10^exp, v whole.
inline Decimal from_scaled(__int128 v, int32_t exp) {
  Decimal d;
  if (v == 0) return d;
  d.negative = v < 0;
  if (v < 0) v = -v;
  while (v % 10 == 0) v /= 10, ++exp;
  while (v > 0) d.digits.insert(d.digits.begin(), char('0' + int(v % 10))), v /= 10;
  d.exp = exp;
  return d;
}

// The note over the labels of a y axis that do not fit the margin as they
// are: "×1e-3 +987654.32", "×1e6", "-123456.8". A value is its label times
// 10^power plus the offset.
struct Note {
  int32_t power = 0;
  Decimal offset;
};

inline bool parse_note(const std::string& t, Note* out) {
  Note n;
  size_t i = 0;
  bool any = false;
  const std::string times = "\xC3\x97";
  if (t.compare(0, times.size() + 2, times + "1e") == 0) {
    i = times.size() + 2;
    const bool neg = i < t.size() && t[i] == '-';
    if (neg) ++i;
    const size_t e0 = i;
    while (i < t.size() && is_digit(t[i]) && n.power < 100000) n.power = 10 * n.power + (t[i++] - '0');
    if (i == e0 || (i < t.size() && t[i] != ' ')) return false;
    if (neg) n.power = -n.power;
    if (n.power == 0) return false;
    any = true;
    if (i < t.size()) ++i;
  }
  if (i < t.size()) {
    std::string rest = t.substr(i);
    if (rest[0] == '+') rest.erase(0, 1);
    else if (rest[0] != '-') return false;
    if (!parse(rest, &n.offset) || n.offset.digits.empty() || compact(n.offset) != rest) return false;
    any = true;
  }
  if (!any) return false;
  *out = n;
  return true;
}

// label × 10^power + offset, exactly; false past 36 digits.
inline bool apply_note(const Decimal& label, const Note& note, Decimal* out) {
  Decimal l = label;
  if (!l.digits.empty()) l.exp += note.power;
  if (note.offset.digits.empty() || l.digits.empty()) {
    *out = l.digits.empty() ? note.offset : l;
    return true;
  }
  const int32_t unit = std::min(l.exp, note.offset.exp);
  __int128 a = 0, b = 0;
  if (!scaled(l, unit, &a) || !scaled(note.offset, unit, &b)) return false;
  *out = from_scaled(a + b, unit);
  return true;
}

// Each label is its own compact form: no "1e-1", "-0", trailing zeros.
inline std::string check_compact(const std::vector<std::string>& labels, std::vector<Decimal>* values) {
  values->clear();
  for (const std::string& t : labels) {
    Decimal d;
    if (!parse(t, &d)) return "label \"" + t + "\" is no plain number";
    if (compact(d) != t) return "label \"" + t + "\" is not in its compact form \"" + compact(d) + "\"";
    values->push_back(d);
  }
  return "";
}

// The labels of a linear axis, in drawing order: compact, increasing by one
// step of 1, 2 or 5 times a power of ten, each a whole multiple of it. *step
// gets the step's text when there are two labels or more.
inline std::string check_linear(const std::vector<std::string>& labels, std::string* step = nullptr) {
  std::vector<Decimal> v;
  std::string why = check_compact(labels, &v);
  if (!why.empty() || v.size() < 2) return why;
  int32_t unit = INT32_MAX;
  for (const Decimal& d : v)
    if (!d.digits.empty()) unit = std::min(unit, d.exp);
  std::vector<__int128> n(v.size());
  for (size_t i = 0; i < v.size(); ++i)
    if (!scaled(v[i], unit, &n[i])) return "labels too far apart in scale to be one axis: \"" + labels[i] + "\"";
  const __int128 s = n[1] - n[0];
  if (s <= 0) return "labels do not increase: \"" + labels[0] + "\", \"" + labels[1] + "\"";
  for (size_t i = 1; i < v.size(); ++i)
    if (n[i] - n[i - 1] != s)
      return "uneven step between \"" + labels[i - 1] + "\" and \"" + labels[i] + "\" (first \"" + labels[0] +
             "\", \"" + labels[1] + "\")";
  __int128 m = s;
  int32_t e = unit;
  while (m % 10 == 0) m /= 10, ++e;
  if (m != 1 && m != 2 && m != 5)
    return "step " + std::to_string(int64_t(m)) + "e" + std::to_string(e) + " is not 1, 2 or 5 times a power of ten";
  for (size_t i = 0; i < v.size(); ++i)
    if (n[i] % s != 0) return "label \"" + labels[i] + "\" is no multiple of the step";
  if (step) {
    Decimal d;
    d.digits = std::to_string(int64_t(m));
    d.exp = e;
    *step = compact(d);
  }
  return "";
}

// A drawn text from a recording driver log.
struct Text {
  double x = 0, y = 0;
  uint32_t align = 0;
  std::string text;
};

inline std::vector<Text> texts(const std::string& log) {
  std::vector<Text> out;
  size_t p = 0;
  while (p < log.size()) {
    const size_t end = log.find('\n', p);
    const std::string line = log.substr(p, end == std::string::npos ? std::string::npos : end - p);
    p = end == std::string::npos ? log.size() : end + 1;
    if (line.rfind("text ", 0) != 0) continue;
    Text t;
    unsigned a = 0;
    int used = 0;
    if (std::sscanf(line.c_str(), "text %lf %lf align=%u colour=%*s %n", &t.x, &t.y, &a, &used) < 3 || used <= 0)
      continue;
    const std::string rest = line.substr(size_t(used));
    if (rest.size() < 2 || rest.front() != '"' || rest.back() != '"') continue;
    t.align = a;
    t.text = rest.substr(1, rest.size() - 2);
    out.push_back(t);
  }
  return out;
}

inline std::vector<std::string> with_align(const std::vector<Text>& t, uint32_t align) {
  std::vector<std::string> out;
  for (const Text& x : t)
    if (x.align == align) out.push_back(x.text);
  return out;
}

// The cell a label takes: its characters' count times the width of "0"
// across, one line up and down, placed by the driver's align bits (1 x is
// the left end, 2 the right end, 4 the top lies below y, 8 the bottom above
// y; centred where neither bit of a pair is set).
struct Cell {
  double left, right, top, bottom;
};
inline Cell cell_of(const Text& t, double char_width, double line_height) {
  const double w = double(t.text.size()) * char_width, h = line_height;
  Cell c;
  c.left = t.align & 1 ? t.x : t.align & 2 ? t.x - w : t.x - w / 2;
  c.top = t.align & 4 ? t.y : t.align & 8 ? t.y - h : t.y - h / 2;
  c.right = c.left + w, c.bottom = c.top + h;
  return c;
}

// Neighbouring labels (in the order drawn) neither overlap nor touch: at
// least one pixel between them across, or no shared row up and down.
inline std::string check_apart(const std::vector<Text>& labels, double char_width, double line_height) {
  for (size_t i = 1; i < labels.size(); ++i) {
    const Cell a = cell_of(labels[i - 1], char_width, line_height), b = cell_of(labels[i], char_width, line_height);
    const bool across = b.left >= a.right + 1 || a.left >= b.right + 1;
    const bool upright = b.top >= a.bottom || a.top >= b.bottom;
    if (!across && !upright) return "labels \"" + labels[i - 1].text + "\" and \"" + labels[i].text + "\" touch";
  }
  return "";
}

// The labels of a log axis: each its compact form, or, where that would
// take more than `room_chars` characters, its exponent form.
inline std::string check_log_labels(const std::vector<std::string>& labels, size_t room_chars,
                                    std::vector<Decimal>* values) {
  values->clear();
  for (const std::string& t : labels) {
    Decimal d;
    if (!parse(t, &d)) return "label \"" + t + "\" is no plain number";
    const std::string c = compact(d);
    if (t != c && !(t == exponent(d) && c.size() > room_chars))
      return "label \"" + t + "\" is neither its compact form \"" + c + "\" nor, that being too wide, its exponent form";
    values->push_back(d);
  }
  return "";
}

// The values the y labels (align 2) stand for, in their compact form, read
// through the note (a text of align 1 that reads as one) when there is one;
// each label must itself be a compact number. *has_note tells whether a
// note was found.
inline std::string y_values(const std::vector<Text>& t, std::vector<std::string>* values, bool* has_note = nullptr) {
  Note note;
  bool found = false;
  for (const Text& x : t)
    if (x.align == 1 && parse_note(x.text, &note)) found = true;
  if (has_note) *has_note = found;
  values->clear();
  for (const Text& x : t) {
    if (x.align != 2) continue;
    Decimal d, v;
    if (!parse(x.text, &d)) return "label \"" + x.text + "\" is no plain number";
    if (compact(d) != x.text) return "label \"" + x.text + "\" is not in its compact form \"" + compact(d) + "\"";
    if (!found) v = d;
    else if (!apply_note(d, note, &v)) return "label \"" + x.text + "\" is too long for its note";
    values->push_back(compact(v));
  }
  return "";
}

// The y labels (align 2) lie right of `left`, measured as `char_width` per
// character: none is cut by the subplot's edge.
inline std::string check_in_margin(const std::vector<Text>& t, double left, double char_width, double line_height) {
  for (const Text& x : t)
    if (x.align == 2 && cell_of(x, char_width, line_height).left < left)
      return "label \"" + x.text + "\" runs past the subplot's edge";
  return "";
}

// The note, where there is one, touches no y label.
inline std::string check_note_apart(const std::vector<Text>& t, double char_width, double line_height) {
  Note note;
  for (const Text& n : t) {
    if (n.align != 1 || !parse_note(n.text, &note)) continue;
    for (const Text& l : t)
      if (l.align == 2 && !check_apart({l, n}, char_width, line_height).empty())
        return "the note \"" + n.text + "\" touches the label \"" + l.text + "\"";
  }
  return "";
}

inline std::vector<Text> texts_with_align(const std::vector<Text>& t, uint32_t align) {
  std::vector<Text> out;
  for (const Text& x : t)
    if (x.align == align) out.push_back(x);
  return out;
}

}  // namespace tickmodel
