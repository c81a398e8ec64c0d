// The display's text writer: chunks appended to a scratch buffer that is
// written out to the fd whenever the next chunk might not fit, and line ends
// sent through the stream layer. The abort request is polled after every
// write, so a long display can be stopped between chunks.
#pragma once

#include <cstdint>

#include "engine/lib/display.h"

// Room kept for one chunk: the longest number field (a complex pair in fixed
// notation with the most digits the display allows) with slack.
constexpr int32_t kDisplayChunkRoom = 256;
constexpr int32_t kDisplayMaxDigits = 40;
// The free data stack serves as the scratch buffer when it is at least this
// large; otherwise a buffer of this size on the C stack does.
constexpr int32_t kDisplayMinScratch = 2 * kDisplayChunkRoom;

// Starts text for fd in the scratch area (or in fallback, of
// kDisplayMinScratch bytes, when the data stack has less room than that).
DisplayText display_text_begin(EngineContext* ctx, int32_t fd, char* fallback);

// Writes the pending bytes; kAborted when the host asks to stop afterwards.
int display_flush(DisplayText& out);
// Makes room for a chunk of n bytes (n at most kDisplayChunkRoom).
int display_room(DisplayText& out, int32_t n);
// Pending bytes and a line end.
int display_newline(DisplayText& out);
// Appends text of any length (length -1: zero-terminated), writing out as it goes.
int display_put(DisplayText& out, const char* text, int32_t length = -1);
int display_put_char(DisplayText& out, char c);
// One 16-bit character: through the charset encoder when one is set and the
// character is from 128 up, else its low byte.
int display_put_wchar(DisplayText& out, uint16_t ch);

// The digit count clamped to what the writer makes room for.
int32_t display_digits(const DisplayOptions& o);
// The style the number formatter gets for a format letter (bank is fixed).
char display_style(char letter);
