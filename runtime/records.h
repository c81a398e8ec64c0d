// The record catalogue: the one description of the tagged record layouts
// that the runtime, the image builder and the tests share. A record is
// {tag, length in words counting these two, data}. A text is {u32 count,
// bytes, zero padding}, (count + 7) / 4 words; readers use the count, never
// a terminating zero. A handler description (HD) is {function code, nin,
// nout, nout output codes, nin input codes}.
#pragma once

#include <cstdint>

enum : int32_t {
  kTagHeader = 1,        // {id, library slot, Text name}
  kTagTitle = 2,         // {Text}
  kTagVersion = 3,       // {Text}
  kTagHelp = 5,          // {Text}
  kTagCapabilities = 6,  // {u32}
  kTagInit = 7,          // {HD}
  kTagTerminate = 8,     // {HD}
  kTagDeclared = 9,      // {HD}
  kTagSection = 11,      // {Text "title;name"}
  kTagGate = 12,         // {i32 selector value}
  kTagGateEnd = 13,      // {}
  kTagItem = 14,         // {link instance id, link id, Text, HD}
  kTagEntry = 15,        // {Text, HD}
  kTagDerived = 16,      // {HD}
  kTagCallEntry = 17,    // {Text name, HD}
  kTagMenusEnd = 18,     // {}
  // The 'm' walk answers tag-19 records as the application's menu items
  // (run by the menu execution when a handler follows the text) and tag-20
  // records as the titles of its menus, or of a submenu after a tag 22.
  kTagMenuTitle = 19,    // {Text, optional HD}
  kTagSubmenuTitle = 20, // {Text}
  kTagSubmenuBegin = 22, // {}
  kTagSubmenuEnd = 23,   // {}
  kTagFigure = 24,       // {Text}
  kTagSeparator = 25,    // {}
  kTagMousePress = 26,   // 26..35 mouse handlers {i32 element id, HD}
  kTagMouseDrag = 27,
  kTagMouseDrag2 = 28,
  kTagMouseRelease = 29,
  kTagMouseReserved = 30,
  kTagMouseOver = 31,
  kTagMouseLeave = 32,
  kTagMouseWheel = 33,
  kTagMouseDrop = 34,
  kTagMouseDragOut = 35,
  kTagPlot = 36,         // {HD}
  kTagResize = 37,       // {HD}
  kTagChange = 38,       // {count, codes, HD}
  kTagKey = 39,          // {Text, HD}
  kTagIdle = 40,         // {HD}
  kTagEmbedded = 42,     // {Text name, Text data}
  kTagLibrary = 43,      // {Text name, Text source}
  kTagDeclaration = 44,  // {Text}
  kTagFigureOnly = 45,   // {Text}
};

constexpr int32_t kRecordHeadWords = 2;  // tag, length
enum : int32_t { kHdFunction = 0, kHdInputs = 1, kHdOutputs = 2, kHdFixedWords = 3 };

// Words of a text of n bytes, count word included.
constexpr int64_t rec_text_words(int64_t n) { return (n + 7) / 4; }
// Words of a handler description with the given counts.
constexpr int64_t rec_hd_words(int64_t nin, int64_t nout) { return kHdFixedWords + nin + nout; }

// The word offset, from the record's first data word, of the handler
// description of a record with this tag, or -1 when the tag has none or the
// record is too short for it (data_words data words at data).
int32_t rec_hd_offset(int32_t tag, const int32_t* data, int32_t data_words);
