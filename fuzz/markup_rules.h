// What the readers of two output formats require beyond balance, as checks
// that name the first fault ("" when there is none): shared by the markup
// fuzz target and the readers' tests. RTF: a HYPERLINK field's quoted
// argument, read as the field reads it, ends only at its closing quote.
// HTML: no '<' inside a tag, so none inside an attribute's value.
#pragma once

#include <string>

namespace markup_rules {

inline std::string rtf_field_fault(const std::string& rtf) {
  static const std::string open = "{\\field{\\*\\fldinst{HYPERLINK \"";
  static const std::string close = "\"}}{\\fldrslt ";
  for (size_t k = rtf.find(open); k != std::string::npos; k = rtf.find(open, k + 1)) {
    size_t j = k + open.size();
    bool escaped = false;  // the field's own backslash came before
    for (;;) {
      if (j >= rtf.size()) return "field at " + std::to_string(k) + " never ends";
      char c = rtf[j];
      if (c == '\n' || c == '\r') {  // RTF ignores its line ends
        ++j;
        continue;
      }
      if (c == '{' || c == '}') return "group in the field argument at " + std::to_string(j);
      if (c == '\\') {
        const char next = j + 1 < rtf.size() ? rtf[j + 1] : 0;
        if (next == '\\' || next == '{' || next == '}') {
          c = next;
          j += 2;
        } else if (next == 'u') {  // \uN? is one character, no field meaning
          j += 2;
          while (j < rtf.size() && (rtf[j] == '-' || (rtf[j] >= '0' && rtf[j] <= '9'))) ++j;
          if (j < rtf.size() && rtf[j] == '?') ++j;
          escaped = false;
          continue;
        } else {
          return "control word in the field argument at " + std::to_string(j);
        }
      } else {
        ++j;
      }
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        if (rtf.compare(j - 1, close.size(), close) != 0)
          return "quote ends the field argument at " + std::to_string(j - 1);
        break;
      }
    }
  }
  return "";
}

inline std::string html_attribute_fault(const std::string& html) {
  for (size_t k = html.find('<'); k != std::string::npos; k = html.find('<', k + 1)) {
    if (html.compare(k, 4, "<!--") == 0) {
      k = html.find("-->", k);
      if (k == std::string::npos) return "comment never ends";
      continue;
    }
    bool quoted = false;
    size_t j = k + 1;
    for (; j < html.size(); ++j) {
      if (html[j] == '"') quoted = !quoted;
      else if (html[j] == '<') return "'<' inside the tag at " + std::to_string(k);
      else if (html[j] == '>' && !quoted) break;
    }
    if (j == html.size()) return "tag at " + std::to_string(k) + " never ends";
    k = j;
  }
  return "";
}

}  // namespace markup_rules
