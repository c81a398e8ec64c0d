// Test readers of runtime images: one request per call in the loader's order
// (the engine asks nothing for an empty section of its own), with a request
// that can be made to fail, and a flat stream that can be cut short.
#pragma once

#include <cstring>
#include <vector>

#include "runtime/image_loader.h"
#include "support/image_builder.h"

namespace tnbuild {

// The requests a loader makes, in order.
inline Sections requests(const Sections& s) {
  Sections out;
  for (int k = 0; k < kImageRequests; ++k) {
    const bool engine_section = k >= kReqEngineFirst && k < kReqMain;
    if (engine_section && s[size_t(k)].empty()) continue;
    out.push_back(s[size_t(k)]);
  }
  return out;
}

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
