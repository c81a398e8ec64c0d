// Reading the application appended to the program file: the 4-byte trailer
// that locates the block, the description text, and the chunk reader that
// the saved-image loader pulls every request through (one zlib stream per
// request). No GUI here; the document's start-up step sits on top of it.
// Every size read from the file is bounded by the bytes left before the
// trailer before anything is allocated.
#pragma once

#include <cstdint>
#include <cstdio>

struct AppendedStream {
  std::FILE* file;
  int64_t end;  // first byte of the trailer; nothing at or past it is read
  int64_t at;   // next byte to read
};

// The description: D bytes of UTF-8 and a zero byte, in a buffer of its own
// (length 0 and a null text when none was read).
struct AppendedDescription {
  char* text;
  uint32_t length;
};

// Opens the file, reads the trailer and the description; the stream is then
// at the first chunk. False on any failure (nothing is left open and the
// description is empty). The description's previous buffer is freed.
bool appended_open(const char* path, AppendedStream* stream, AppendedDescription* description);
// The same over a file opened for binary reading, which the stream then owns
// (closed on failure too).
bool appended_open_file(std::FILE* file, AppendedStream* stream, AppendedDescription* description);
void appended_close(AppendedStream* stream);
void appended_description_free(AppendedDescription* description);

// The loader's read callback: the next chunk inflated into exactly `bytes`
// bytes at destination. False for a short file, a length beyond the
// trailer, a zero length, a damaged stream or any other inflated size.
bool appended_chunk_read(void* destination, uint32_t bytes, void* stream);
