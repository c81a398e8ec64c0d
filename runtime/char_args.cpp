// Each 16-bit unit becomes its UTF-8 sequence, as the engine's strings do.
#include "runtime/char_args.h"

#include <cstdint>
#include <cstring>

#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/strings.h"
#include "engine/core/value_stack.h"

int char_arg_utf8(EngineContext* ctx, int depth, std::string* out) {
  if (!stk_is_char(ctx, depth)) return kWrongArgType;
  int ndims = 0, elem_size = 0, unsigned_flag = 0;
  const uint32_t* dims = nullptr;
  int64_t count = 0;
  void* data = nullptr;
  TN_TRY(stk_get_typed_array(ctx, depth, &ndims, &dims, &count, &elem_size, &unsigned_flag, &data));
  const auto* units = static_cast<const uint8_t*>(data);
  out->clear();
  for (int64_t k = 0; k < count; ++k) {
    uint16_t ch = 0;
    std::memcpy(&ch, units + 2 * k, 2);
    uint8_t bytes[3];
    out->append(reinterpret_cast<const char*>(bytes), size_t(utf8_put(bytes, ch)));
  }
  return kOk;
}
