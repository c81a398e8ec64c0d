// A saved runtime image as the image targets judge a load by: the fourteen
// requests cut from a flat image by its own two headers (the sizes the
// format gives, read here rather than by the loader), and what a loaded
// block must hold of them. Written back by the image tools' writer, a loaded
// image gives its requests again byte for byte, except the four fields a
// load settles in every instance (state, idle mode, next due time and idle
// base), which hold what settling gives: idle processing on exactly when
// the instance's run has an idle record, the others cleared. Loaded again,
// what the writer gave comes back unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/core/checked.h"
#include "engine/core/snapshot.h"
#include "fuzz/engine_image_model.h"
#include "runtime/image_loader.h"
#include "runtime/instances.h"
#include "runtime/name_table.h"
#include "runtime/records.h"
#include "runtime/undo_store.h"
#include "tools/imagetools/image_builder.h"

namespace imagemodel {

using tnbuild::Sections;

constexpr int32_t kIdleProcessingOn = 2;  // an instance's state with idle processing on

// The requests of a flat image; false when its bytes run out before the
// sizes its headers give (bytes after the last request are never read).
inline bool split(const uint8_t* data, size_t size, Sections* out) {
  out->assign(kImageRequests, {});
  size_t at = 0;
  auto take = [&](int k, uint64_t n) {
    if (n > size - at) return false;
    (*out)[size_t(k)].assign(data + at, data + at + n);
    at += size_t(n);
    return true;
  };
  if (!take(kReqHeader, kRuntimeImageHeaderBytes) || !take(kReqEngineHeader, kImageHeaderBytes)) return false;
  auto engine = [&](uint32_t field) { return uint64_t(tn::get_le32((*out)[kReqEngineHeader].data() + field)); };
  const uint64_t engine_bytes[6] = {engine(kImgDescTop) * 4,  engine(kImgDataTop) * 8,  engine(kImgHeapWords) * 8,
                                    engine(kImgFnCount) * 16, engine(kImgCodeWords) * 2, engine(kImgSymbolBytes)};
  for (int k = 0; k < 6; ++k)
    if (!take(kReqEngineFirst + k, engine_bytes[k])) return false;
  auto word = [&](uint32_t field) { return uint64_t(tn::get_le32((*out)[kReqHeader].data() + field)); };
  return take(kReqMain, word(kImgMainBytes)) && take(kReqInstances, word(kImgInstanceCount) * kInstanceBytes) &&
         take(kReqRecords, word(kImgRecordWords) * 4) && take(kReqNames, word(kImgNameBytes)) &&
         take(kReqValueHead, word(kImgValueHeadBytes)) && take(kReqValues, word(kImgValueUnits) * 8);
}

// Whether the run of instance `id` in the saved record words has an idle
// record: runs open with a header record {id, ...} and last to the next.
inline bool has_idle_record(const std::vector<uint8_t>& records, int32_t id) {
  const size_t words = records.size() / 4;
  bool in_run = false;
  for (size_t w = 0; w + 2 <= words;) {
    const int32_t tag = int32_t(tn::get_le32(records.data() + 4 * w));
    const int32_t length = int32_t(tn::get_le32(records.data() + 4 * w + 4));
    if (length < 2) return false;
    if (tag == kTagHeader) in_run = w + 3 <= words && int32_t(tn::get_le32(records.data() + 4 * w + 8)) == id;
    else if (tag == kTagIdle && in_run) return true;
    w += size_t(length);
  }
  return false;
}

// The settled fields of the instance at `at` in an instance section, put
// as settling leaves them.
inline void settle(std::vector<uint8_t>& instances, size_t at, const std::vector<uint8_t>& records) {
  uint8_t* rec = instances.data() + at;
  int32_t id = 0;
  std::memcpy(&id, rec + offsetof(InstanceRec, id), 4);
  const int32_t state = has_idle_record(records, id) ? kIdleProcessingOn : 0, mode = 0;
  const double never = -1.0;
  std::memcpy(rec + offsetof(InstanceRec, state), &state, 4);
  std::memcpy(rec + offsetof(InstanceRec, idle_mode), &mode, 4);
  std::memcpy(rec + offsetof(InstanceRec, next_due), &never, 8);
  std::memcpy(rec + offsetof(InstanceRec, idle_base), &never, 8);
}

// The blocks in use of a main area's plot store, in order, each with its
// length: what a load keeps when it fits the store to the block (growing it
// by a free block at its end, or compacting it).
inline std::vector<uint8_t> used_blocks(const std::vector<uint8_t>& main) {
  std::vector<uint8_t> out;
  if (main.size() < 8) return out;
  int32_t n = 0;
  std::memcpy(&n, main.data(), 4);
  const int64_t doubles = int64_t(main.size() - 8) / 8;
  const int64_t end = n < doubles ? n : doubles;
  for (int64_t i = 0; i < end;) {
    double v = 0;
    std::memcpy(&v, main.data() + 8 + 8 * i, 8);
    const double m = v < 0 ? -v : v;
    if (!(m >= 1.0 && m <= double(end - i)) || m != double(int64_t(m))) break;
    if (v > 0) out.insert(out.end(), main.data() + 8 + 8 * i, main.data() + 8 + 8 * (i + int64_t(m)));
    i += int64_t(m);
  }
  return out;
}

// What a saved value store holds, whatever block it was laid out for: its
// maximum rows and record count, the words of its records, and each block
// in use of its value area (index from the area's start, reference count,
// length, units). Free blocks and the unused record room are not content.
inline std::vector<int32_t> store_content(const Sections& image) {
  const std::vector<uint8_t>& head = image[kReqValueHead];
  const std::vector<uint8_t>& values = image[kReqValues];
  std::vector<int32_t> out;
  auto word = [](const std::vector<uint8_t>& bytes, size_t w) {
    int32_t v = 0;
    if (4 * w + 4 <= bytes.size()) std::memcpy(&v, bytes.data() + 4 * w, 4);
    return v;
  };
  const int32_t records = word(head, kUsRecordCount);
  out.push_back(word(head, kUsMaxRows));
  out.push_back(records);
  size_t at = kUsHeaderWords;
  for (int32_t k = 0; k < records && 4 * at < head.size(); ++k) {
    const int32_t size = word(head, at + kRecSize);
    if (size < kRecHeadWords) break;
    for (size_t w = at; w < at + size_t(size); ++w) out.push_back(word(head, w));
    at += size_t(size);
  }
  const size_t units = values.size() / kUndoUnitBytes;
  for (size_t i = 0; i < units;) {
    const int32_t refs = word(values, 2 * i), length = word(values, 2 * i + 1);
    if (length < 0 || i + 1 + size_t(length) > units) break;
    if (refs > 0) {
      out.insert(out.end(), {int32_t(i), refs, length});
      for (size_t w = 2 * (i + 1); w < 2 * (i + 1 + size_t(length)); ++w) out.push_back(word(values, w));
    }
    i += 1 + size_t(length);
  }
  return out;
}

// What the writer must give for a loaded image: its requests, settled; the
// plot store as the block fits it (its size is the block's), when it holds
// the image's blocks in use; in the reserved word at 16, which the loader
// never reads, the block's table fingerprint, which the writer puts there.
inline Sections expected(const Sections& image, const Sections& got, uint32_t fingerprint) {
  Sections want = image;
  if (want[kReqHeader].size() == kRuntimeImageHeaderBytes)
    tn::put_le32(want[kReqHeader].data() + kImgReserved16, fingerprint);
  std::vector<uint8_t>& instances = want[kReqInstances];
  for (size_t at = 0; at + kInstanceBytes <= instances.size(); at += kInstanceBytes)
    settle(instances, at, want[kReqRecords]);
  auto take_word = [&](uint32_t field) { std::memcpy(want[kReqHeader].data() + field, got[kReqHeader].data() + field, 4); };
  if (used_blocks(image[kReqMain]) == used_blocks(got[kReqMain])) {
    want[kReqMain] = got[kReqMain];
    take_word(kImgMainBytes);
  }
  // Bytes the header's fields leave unread, which the writer writes 0: the
  // reserved word at 28, the rest of the debug byte's word, each style's
  // fourth colour byte, the two bytes after the flag bytes. The two flags
  // load as set (1) for any byte but 0.
  uint8_t* h = want[kReqHeader].data();
  std::memset(h + kImgReserved28, 0, 4);
  std::memset(h + kImgDefaultDebug + 1, 0, 3);
  h[kImgDefaultStyles + 7] = h[kImgDefaultStyles + 15] = 0;
  h[kImgBandDrawn + 1] = h[kImgBandDrawn + 2] = 0;
  h[kImgDefaultDebug] = h[kImgDefaultDebug] != 0 ? 1 : 0;
  h[kImgBandDrawn] = h[kImgBandDrawn] != 0 ? 1 : 0;
  // The name table's capacity is the block's; its entries are the image's
  // first `count`.
  std::vector<uint8_t>& names = want[kReqNames];
  if (names.size() >= kNameTableHeadBytes && got[kReqNames].size() >= 4) {
    int32_t count = 0;
    std::memcpy(&count, names.data() + 4, 4);
    std::memcpy(names.data(), got[kReqNames].data(), 4);
    if (count >= 0 && uint64_t(name_table_bytes(count)) <= names.size()) names.resize(size_t(name_table_bytes(count)));
    take_word(kImgNameBytes);
  }
  // The value store is laid out for the block: its saved sizes are the
  // block's, and the reload below holds it.
  take_word(kImgValueHeadBytes);
  take_word(kImgValueUnits);
  if (image[kReqEngineHeader].size() == kImageHeaderBytes && got[kReqEngineHeader].size() == kImageHeaderBytes) {
    want[kReqEngineHeader] = engineimage::header_as_loaded(image[kReqEngineHeader].data(), got[kReqEngineHeader].data());
    // The heap is written to its last block in use; loaded tasks' records in
    // it describe this block (the engine's own target holds both).
    const int heap = kReqEngineFirst + 2;
    if (tn::get_le32(image[kReqEngineHeader].data() + kImgTaskFirst) != 0) want[heap] = got[heap];
    if (want[heap].size() > got[heap].size()) want[heap].resize(got[heap].size());
  }
  want[kReqValueHead] = got[kReqValueHead];
  want[kReqValues] = got[kReqValues];
  return want;
}

inline Sections written(RuntimeBlock* b) { return tnbuild::Builder(b, {}).sections(); }

// The first request in which two images differ, or -1.
inline int first_difference(const Sections& a, const Sections& b) {
  for (int k = 0; k < kImageRequests; ++k)
    if (a[size_t(k)] != b[size_t(k)]) return k;
  return -1;
}

// Reports the first differing byte of request k before the abort.
[[noreturn]] inline void differs(const char* what, int k, const Sections& want, const Sections& got) {
  const auto& w = want[size_t(k)];
  const auto& g = got[size_t(k)];
  size_t at = 0;
  while (at < w.size() && at < g.size() && w[at] == g[at]) ++at;
  std::fprintf(stderr, "%s: request %d differs at byte %zu (%zu bytes wanted, %zu written)\n", what, k, at, w.size(),
               g.size());
  const size_t from = at & ~size_t(7);
  std::fprintf(stderr, "wanted:");
  for (size_t i = from; i < from + 16 && i < w.size(); ++i) std::fprintf(stderr, " %02x", w[i]);
  std::fprintf(stderr, "\nwritten:");
  for (size_t i = from; i < from + 16 && i < g.size(); ++i) std::fprintf(stderr, " %02x", g[i]);
  std::fprintf(stderr, "\n");
  std::abort();
}

}  // namespace imagemodel
