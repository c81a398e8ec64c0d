// The opening record of a subplot's graphical object.
#include "graphics/plotlist/open_object.h"

bool plotlist_open_object(double* data, int32_t capacity, int32_t* used, int32_t s) {
  if (*used < 0 || int64_t(*used) + kOpenObjectDoubles > capacity) return false;
  const double record[kOpenObjectDoubles] = {kRecordOpenObject, -1, -1, 0, 0, 1, double(s)};
  for (int32_t k = 0; k < kOpenObjectDoubles; ++k) data[*used + k] = record[k];
  *used += kOpenObjectDoubles;
  return true;
}
