// The saved runtime image: its 68-byte header, the order of its sections and
// the loader that pulls them through the host's read callback into the
// block. Everything read is untrusted; a damaged image yields a status and
// leaves the block as initialisation made it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/runtime_block.h"

// Header fields: little-endian, at these byte offsets.
enum ImageHeaderOffset : uint32_t {
  kImgMainBytes = 0,       // A
  kImgInstanceCount = 4,   // N
  kImgRecordWords = 8,     // W
  kImgNameBytes = 12,      // T
  kImgReserved16 = 16,     // never read; the writer puts its table fingerprint here
  kImgValueHeadBytes = 20, // H
  kImgValueUnits = 24,     // U
  kImgReserved28 = 28,     // written 0, never read
  kImgCurrentFigure = 32,
  kImgNextInstanceId = 36,
  kImgDefaultDebug = 40,
  kImgInteractionMode = 44,
  kImgDefaultStyles = 48,  // chart bits, chart colour, frame bits, frame colour
  kImgFlagByte = 64,
  kImgBandDrawn = 65,
  kRuntimeImageHeaderBytes = 68,
};

// The valid values of every header field (engine/core/image_words.h); a
// header with a field out of range is refused (600) before anything is read.
struct ImageWordRange;
extern const ImageWordRange kRuntimeImageWords[];
extern const size_t kRuntimeImageWordRows;

// The reads of an image, one request each, in order: the header, the
// engine's header and six sections, then the block's sections.
enum ImageRequest : int {
  kReqHeader = 0,
  kReqEngineHeader = 1,
  kReqEngineFirst = 2,  // descriptors, data, heap, function table, code, symbols
  kReqMain = 8,
  kReqInstances = 9,
  kReqRecords = 10,
  kReqNames = 11,
  kReqValueHead = 12,
  kReqValues = 13,
  kImageRequests = 14,
};

// Delivers exactly `bytes` bytes into destination or answers false.
using RtReadFn = bool (*)(void* destination, uint32_t bytes, void* context);

// 0, or 305 (header not delivered), 600 (a later read failed or the image is
// damaged), 10002, 10001, 10006,
// 10009 (a section does not fit and the block could not grow), or an engine
// code.
int rt_load_image(RuntimeBlock** handle, RtReadFn read, void* context);

// CRC-32 over the registered built-in rows in search order: each row's name
// bytes, a zero byte, its four argument counts and its class word (4 bytes,
// little-endian). The image writer stores it in the reserved word at 16, a
// note of the tables the image was built against; no loader reads it (the
// code check keeps every built-in row an image names inside the tables).
uint32_t rt_table_fingerprint(EngineContext* ctx);

// Puts the block back as initialisation left it (engine emptied, tables and
// callbacks kept, one default instance, empty records, formatted stores).
void rt_reset_to_initial(RuntimeBlock* b);
