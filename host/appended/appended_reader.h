// Reading the application appended to the program file: the 4-byte trailer
// that locates the block, the description text, and the chunk reader that
// the saved-image loader pulls every request through (one zlib stream per
// request). No GUI here; the document's start-up step sits on top of it.
// Every size read from the file is bounded by the bytes left before the
// trailer before anything is allocated.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Why appended_open refused a file. The format has no mark of its own, so
// "nothing appended" is told by the program's own format: a program file
// that ends where its image ends (by its ELF headers) carries nothing.
// Every other refusal is damage, and standard error names it.
enum AppendedFault : int32_t {
  kAppendedSound = 0,
  kAppendedNothing = 1,             // nothing follows the program image
  kAppendedUnreadable = 2,          // the file cannot be opened, sought or read
  kAppendedTrailerCut = 3,          // fewer than the trailer's 4 bytes follow the program image
  kAppendedOffsetPastEnd = 4,       // the trailer's block offset lies past the trailer
  kAppendedOffsetInImage = 5,       // it lies inside the program image: the trailer is lost
  kAppendedDescriptionPastEnd = 6,  // the description runs past the trailer
  kAppendedNoMemory = 7,            // no buffer for the description
};

struct AppendedStream {
  std::FILE* file;
  int64_t end;  // first byte of the trailer; nothing at or past it is read
  int64_t at;   // next byte to read
  // What appended_open found: why it refused, and the figures a message names.
  AppendedFault fault;
  int64_t file_size;
  int64_t image_end;   // where the program image ends, -1 when its format is not known
  int64_t offset;      // the trailer's block offset
  int64_t description_length;
};

// The description: D bytes of UTF-8 and a zero byte, in a buffer of its own
// (length 0 and a null text when none was read).
struct AppendedDescription {
  char* text;
  uint32_t length;
};

// Opens the file, reads the trailer and the description; the stream is then
// at the first chunk. False on any failure (nothing is left open, the
// description is empty and stream->fault says why). The description's
// previous buffer is freed.
bool appended_open(const char* path, AppendedStream* stream, AppendedDescription* description);
// The same over a file opened for binary reading, which the stream then owns
// (closed on failure too).
bool appended_open_file(std::FILE* file, AppendedStream* stream, AppendedDescription* description);
void appended_close(AppendedStream* stream);
// Whether a description is a whole build description, as packers once
// stored it: its first line that is neither blank nor a '#' comment is an
// `instance NAME` line. The About box then shows what the description now
// holds (the title, version and help texts), taken from the loaded image.
bool appended_is_build_description(const char* text, uint32_t length);
// A refusal in words, with its figures ("the trailer's block offset ...");
// empty for kAppendedSound and kAppendedNothing, which are no damage.
std::string appended_fault_text(const AppendedStream& stream);
void appended_description_free(AppendedDescription* description);

// The loader's read callback: the next chunk inflated into exactly `bytes`
// bytes at destination. False for a short file, a length beyond the
// trailer, a zero length, a damaged stream or any other inflated size.
bool appended_chunk_read(void* destination, uint32_t bytes, void* stream);
