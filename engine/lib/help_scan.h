// Scanners of help text shared by help and lookfor: logical lines of source,
// the entries of a help file, and the comment that holds an entry's help.
// They read 8-bit text by position and never write it; every position they
// return lies in [0, length].
#pragma once

#include <cstdint>

// The position after the logical line that starts at text[0] (continuation
// lines, whose code ends in "...", included) and after its line end; quotes
// and comments are read as the compiler reads them.
int32_t src_skip_logical_line(const char* text, int32_t length);

// The next entry of a help file from *pos: a word (letters, digits, '_'),
// optionally after a qualifier and "::", or an operator token (+ - * / \ ^ .
// ' = ~ < > & | :). Blanks, line ends, '%' and "//" line comments and "/*"
// blocks before it are skipped, and so are other characters up to the end
// of their line. False at the end of the text; *pos is then length, else
// just past the entry.
bool help_file_next_word(const char* text, int32_t length, int32_t* pos, const char** word,
                         int32_t* word_length, const char** qualifier, int32_t* qualifier_length);

// The number of characters before the first '%', "//" or "/*" (the whole
// length when there is none); 0 for a text shorter than 2.
int32_t src_code_length_before_comment(const char* text, int32_t length);

// A help comment: its marker ('%', '/' for "//", '*' for "/*") and where it
// starts (at the marker) in the text it was found in.
struct HelpComment {
  char marker = 0;
  int32_t start = 0;
};

// The comment that starts at the first '%', "//" or "/*" at or after from;
// false when there is none.
bool help_comment_after(const char* text, int32_t length, int32_t from, HelpComment* out);

// The comment that opens the line at `from` (after blanks and tabs), as
// after a function's header; false when that line holds no comment first.
bool help_comment_at_line(const char* text, int32_t length, int32_t from, HelpComment* out);

// One line of a help comment, its marker removed: text[start, start + n),
// then the line end (eol characters, 0 at the text's end).
struct HelpLine {
  int32_t start = 0;
  int32_t n = 0;
  int32_t eol = 0;
};

// Walks the lines of a comment: a "%" or "//" comment goes on while lines
// begin (after blanks) with either marker; a "/*" block up to its "*/"
// (a first or last line of nothing but blanks beside the marks left out).
class HelpLines {
 public:
  HelpLines(const char* text, int32_t length, const HelpComment& c);
  bool next(HelpLine* line);

 private:
  bool next_block_line(HelpLine* line);
  const char* t_;
  int32_t n_;
  char marker_;
  int32_t pos_;
  bool first_ = true;
  bool done_ = false;
};

// The summary of a comment: its second line (empty when it has one line).
HelpLine help_summary_line(const char* text, int32_t length, const HelpComment& c);

// Marked-up help: the first line begins with '=' right after the marker.
bool help_is_markup(const char* text, int32_t length, const HelpComment& c);
