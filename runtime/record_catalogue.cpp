// Where each record kind keeps its handler description; checked against the
// record's length so that a damaged record never leads a reader past it.
#include "runtime/records.h"

namespace {

// Words of the text at data[at], or -1 when it does not fit.
int64_t text_at(const int32_t* data, int32_t data_words, int64_t at) {
  if (at >= data_words) return -1;
  const int64_t n = int64_t(uint32_t(data[at]));
  const int64_t w = rec_text_words(n);
  return at + w <= data_words ? w : -1;
}

}  // namespace

int32_t rec_hd_offset(int32_t tag, const int32_t* data, int32_t data_words) {
  int64_t at = -1;
  switch (tag) {
    case kTagInit: case kTagTerminate: case kTagDeclared: case kTagDerived:
    case kTagPlot: case kTagResize: case kTagIdle:
      at = 0;
      break;
    case kTagItem: {
      const int64_t w = text_at(data, data_words, 2);
      at = w < 0 ? -1 : 2 + w;
      break;
    }
    case kTagEntry: case kTagCallEntry: case kTagKey: case kTagMenuTitle: {
      const int64_t w = text_at(data, data_words, 0);
      at = w;
      break;
    }
    case kTagChange:
      if (data_words > 0 && data[0] >= 0) at = 1 + int64_t(data[0]);
      break;
    default:
      if (tag >= kTagMousePress && tag <= kTagMouseDragOut) at = 1;
      break;
  }
  if (at < 0 || at + kHdFixedWords > data_words) return -1;
  const int64_t nin = data[at + kHdInputs], nout = data[at + kHdOutputs];
  if (nin < 0 || nout < 0 || at + rec_hd_words(nin, nout) > data_words) return -1;
  return int32_t(at);
}
