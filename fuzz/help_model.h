// A model of the comment rules that help and lookfor follow, written from the
// rules rather than from the engine's scanners: where an entry's help comment
// starts, the lines it holds with their markers removed, the summary line, and
// so what help prints and what lookfor lists for the entries of a help file.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace helpmodel {

inline bool blank(char ch) { return ch == ' ' || ch == '\t'; }
inline bool eol(char ch) { return ch == '\r' || ch == '\n'; }

// The comment at or after `from`: the first '%', "//" or "/*"; npos when none.
inline size_t comment_after(const std::string& t, size_t from) {
  for (size_t p = from; p < t.size(); ++p)
    if (t[p] == '%' || (t[p] == '/' && p + 1 < t.size() && (t[p + 1] == '/' || t[p + 1] == '*'))) return p;
  return std::string::npos;
}

// The comment's lines without their markers. A '%' or "//" comment takes
// every next line that begins, after blanks, with either marker; a block
// runs to its "*/" (or the end), its first line left out when it holds only
// blanks and goes on, its last when it holds only blanks before the mark.
inline std::vector<std::string> comment_lines(const std::string& t, size_t start) {
  std::vector<std::string> lines;
  const size_t n = t.size();
  auto line_end_length = [&](size_t e) { return e + 1 < n && t[e] == '\r' && t[e + 1] == '\n' ? 2 : 1; };
  if (t.compare(start, 2, "/*") == 0) {
    for (size_t p = start + 2, first = 1;; first = 0) {
      size_t e = p;
      while (e < n && !eol(t[e]) && t.compare(e, 2, "*/") != 0) ++e;
      bool only_blanks = true;
      for (size_t k = p; k < e; ++k) only_blanks = only_blanks && blank(t[k]);
      const bool closed = e >= n || t.compare(e, 2, "*/") == 0;
      if (!only_blanks || (!closed && !first)) lines.push_back(t.substr(p, e - p));
      if (closed) return lines;
      p = e + size_t(line_end_length(e));
    }
  }
  for (size_t p = start; p < n;) {
    if (p != start)
      while (p < n && blank(t[p])) ++p;
    size_t marker = 0;
    if (p < n && t[p] == '%') marker = 1;
    else if (t.compare(p, 2, "//") == 0) marker = 2;
    if (!marker) break;
    size_t e = p + marker;
    while (e < n && !eol(t[e])) ++e;
    lines.push_back(t.substr(p + marker, e - p - marker));
    if (e >= n) break;
    p = e + size_t(line_end_length(e));
  }
  return lines;
}

inline bool is_markup(const std::vector<std::string>& lines) { return !lines.empty() && !lines[0].empty() && lines[0][0] == '='; }

// What help prints of a comment read from a text of `length` bytes: plain
// lines each with a line end, or marked-up text in one piece, its lines
// joined by line feeds while the text's own length allows.
inline std::string printed(const std::vector<std::string>& lines, size_t length) {
  std::string out;
  const bool markup = is_markup(lines);
  for (const std::string& line : lines) {
    out += line;
    if (!markup || out.size() < length) out += '\n';
  }
  return out;
}

inline std::string summary(const std::vector<std::string>& lines) { return lines.size() >= 2 ? lines[1] : ""; }

inline bool contains_folded(const std::string& in, const std::string& word) {
  auto fold = [](std::string s) {
    for (char& ch : s)
      if (ch >= 'A' && ch <= 'Z') ch = char(ch - 'A' + 'a');
    return s;
  };
  return fold(in).find(fold(word)) != std::string::npos;
}

}  // namespace helpmodel
