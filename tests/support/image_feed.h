// Test readers of runtime images: one request per call in the loader's order
// (every section is one, empty ones too), with a request
// that can be made to fail, and a flat stream that can be cut short.
#pragma once

#include <cstring>
#include <vector>

#include "runtime/image_loader.h"
#include "tools/imagetools/image_builder.h"

namespace tnbuild {

// The requests a loader makes, in order: all fourteen, an empty engine
// section included (a zero-byte request is a request too).
inline Sections requests(const Sections& s) { return s; }

struct RequestFeed {
  const Sections* parts;
  size_t next = 0;
  size_t fail_at = SIZE_MAX;
  static bool read(void* to, uint32_t bytes, void* arg) {
    auto* f = static_cast<RequestFeed*>(arg);
    if (f->next >= f->parts->size() || f->next == f->fail_at) return false;
    const auto& part = (*f->parts)[f->next++];
    if (part.size() != bytes) return false;
    if (bytes) std::memcpy(to, part.data(), bytes);
    return true;
  }
};

struct FlatFeed {
  const std::vector<uint8_t>* bytes;
  size_t end;
  size_t at = 0;
  static bool read(void* to, uint32_t n, void* arg) {
    auto* f = static_cast<FlatFeed*>(arg);
    if (f->at + n > f->end) return false;
    if (n) std::memcpy(to, f->bytes->data() + f->at, n);
    f->at += n;
    return true;
  }
};

}  // namespace tnbuild
