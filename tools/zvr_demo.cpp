// A short demonstration of the engine as it stands: a block is laid out, the
// built-in tables registered and the engine reset, values of several kinds
// pushed on the value stack and shown from it with the engine's formatters.
#include <cstdio>
#include <memory>
#include <string>

#include "engine/core/containers.h"
#include "engine/core/context.h"
#include "engine/core/numfmt.h"
#include "engine/core/value_stack.h"
#include "engine/lib/engine_start.h"

namespace {

std::string number(double re, const double* im) {
  char buf[64];
  int32_t pos = 0;
  if (im)
    fmt_complex(buf, &pos, re, *im, 4, 'g', 0, true, false, 'i', false, false, false, sizeof buf);
  else
    fmt_double(buf, &pos, re, 4, 'g', 0, true, false, false, false, false, false, sizeof buf);
  return std::string(buf, size_t(pos));
}

void show_top(EngineContext* ctx) {
  const uint32_t* d = desc_at(ctx, 0);
  if (stk_is_char(ctx, 0)) {
    char text[128];
    int32_t len = 0;
    stk_get_string_buf(ctx, 0, text, sizeof text, &len);
    std::printf("  char row   '%.*s'\n", int(len), text);
  } else if (d[0] == kKindReal || d[0] == kKindComplex) {
    int32_t rows, cols;
    double *re, *im;
    stk_get_matrix(ctx, 0, &rows, &cols, &re, &im);
    std::printf("  %s %dx%d:", im ? "complex" : "real   ", rows, cols);
    for (int i = 0; i < rows * cols; ++i)
      std::printf(" %s", number(re[i], im ? im + i : nullptr).c_str());
    std::printf("\n");
  } else if (d[0] == kKindContainer) {
    int32_t count = 0;
    uint64_t* first = nullptr;
    stk_get_container(ctx, 0, &count, &first);
    std::printf("  container with %d elements\n", count);
  }
}

}  // namespace

int main() {
  const uint32_t size = 1u << 20;
  std::unique_ptr<uint64_t[]> block(new uint64_t[size / 8]());
  EngineContext* ctx = nullptr;
  const int status = engine_start(block.get(), size, &ctx);
  if (status != kOk) {
    std::fprintf(stderr, "zvr_demo: engine start-up failed with status %d\n", status);
    return 1;
  }
  std::printf("%s engine in a block of %u bytes\n", engine_version_string(), size);
  std::printf("  data stack %u words, heap %d words, descriptors %u words, code %u words\n",
              ctx->data_capacity, ctx->heap_size, ctx->desc_capacity, ctx->code_size);
  std::printf("  %d built-in table(s), first row \"%s\"\n", ctx->table_count,
              lib_entry_by_index(ctx, 0)->name);

  std::printf("values pushed and shown from the top:\n");
  double* re;
  stk_push_real(ctx, 3.14159265358979);
  show_top(ctx);
  stk_push_complex(ctx, 1.5, -2);
  show_top(ctx);
  stk_push_matrix(ctx, 2, 3, &re, nullptr);
  for (int i = 0; i < 6; ++i) re[i] = (i + 1) * 0.5;
  show_top(ctx);
  stk_push_cstr(ctx, -1, "hello, block");
  show_top(ctx);
  stk_make_container(ctx, 4, 0, nullptr, 0);
  show_top(ctx);
  return 0;
}
