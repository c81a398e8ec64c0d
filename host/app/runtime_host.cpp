// Allocation, lay-out and growth of the runtime block, and the callbacks
// through which the runtime reaches the host. Sizes are computed in 64 bits,
// so a step from above 1.4 GB cannot wrap negative before it is clamped to
// MemMax.
#include "host/app/runtime_host.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/ui/input_dialog.h"
#include "platform/dialog_service.h"
#include "runtime/embedded_streams.h"
#include "runtime/file_dialogs.h"
#include "platform/status_panes.h"
#include "runtime/runtime_status.h"

namespace {

RuntimeHost* g_host = nullptr;
constexpr int64_t kGrowNumerator = 3, kGrowDenominator = 2;

}  // namespace

const HostAllocator kMallocAllocator = {std::malloc, std::realloc, std::free};

RuntimeHost* runtime_host() { return g_host; }
void runtime_host_set(RuntimeHost* host) { g_host = host; }

RuntimeHost::RuntimeHost(int32_t mem_min, int32_t mem_max, int32_t line_end_a, int32_t line_end_b,
                         const HostAllocator* allocator)
    : mem_max_(mem_max), line_end_a_(line_end_a), line_end_b_(line_end_b), allocator_(allocator) {
  // Halve until an allocation succeeds; below the least block nothing could
  // be laid out, so the loop stops there with no block.
  void* memory = nullptr;
  int32_t size = mem_min;
  while (size >= kLeastBlockBytes) {
    memory = allocator_->allocate(size_t(size));
    if (memory) break;
    size /= 2;
  }
  if (!memory) {
    creation_status_ = kRtNotEnoughMemForTN;
    return;
  }
  size_ = size;
  block_ = static_cast<RuntimeBlock*>(memory);
  creation_status_ = runtime_block_init(&block_, memory, uint32_t(size), line_end_a_, line_end_b_);
  if (creation_status_ != 0) {
    allocator_->release(memory);
    block_ = nullptr;
    size_ = 0;
    return;
  }
  rt_set_grow_callback(block_, host_grow_block, this);
  rt_set_dialog_callback(block_, host_dialog_thunk, this);
  rt_set_progress_callback(block_, host_status_thunk, this);
  rt_set_file_dialog_callback(host_file_dialog_thunk, nullptr);
}

RuntimeHost::~RuntimeHost() {
  if (block_) {
    rt_embedded_reset(block_);  // the stream slots are the process's
    allocator_->release(block_);
  }
  if (g_host == this) g_host = nullptr;
}

bool RuntimeHost::RunDialog(const DialogRequest&) { return false; }
void RuntimeHost::SetRunning(int32_t, double) {}

bool host_grow_block(RuntimeBlock** memory, uint32_t* size, void* context) {
  RuntimeHost* h = static_cast<RuntimeHost*>(context);
  // The size handed in is the block's real allocation size.
  const int64_t current = int64_t(*size);
  if (current >= h->mem_max_) return false;
  const int64_t next = std::min<int64_t>(h->mem_max_, current * kGrowNumerator / kGrowDenominator);
  if (next <= current) return false;
  void* fresh = h->allocator_->reallocate(*memory, size_t(next));
  if (!fresh) return false;
  *memory = static_cast<RuntimeBlock*>(fresh);
  *size = uint32_t(next);
  h->block_ = *memory;
  h->size_ = int32_t(next);
  return true;
}

int32_t host_dialog_thunk(const DialogRequest* request, void* host) {
  return static_cast<RuntimeHost*>(host)->RunDialog(*request) ? 1 : 0;
}

int32_t host_file_dialog_thunk(bool save, const char* title, int32_t title_length, const char* filter,
                               int32_t filter_length, const char* name, int32_t name_length, char* path,
                               int32_t capacity, void*) {
  const QString caption = QString::fromUtf8(title, title_length);
  const QString qt_filter = QString::fromStdString(rt_file_filter_qt(std::string(filter, size_t(filter_length))));
  DialogService* d = dialog_service();
  const QString chosen = save ? d->save_file(nullptr, caption, qt_filter, QString::fromUtf8(name, name_length))
                              : d->open_file(nullptr, caption, qt_filter);
  const QByteArray bytes = chosen.toUtf8();
  if (bytes.isEmpty() || bytes.size() > capacity) return 0;
  std::memcpy(path, bytes.constData(), size_t(bytes.size()));
  return int32_t(bytes.size());
}

int32_t host_status_thunk(int32_t running, double elapsed_seconds, void* host) {
  static_cast<RuntimeHost*>(host)->SetRunning(running, elapsed_seconds);
  return 0;
}

bool AppRuntimeHost::RunDialog(const DialogRequest& request) { return input_dialog_run(request); }

void AppRuntimeHost::SetRunning(int32_t running, double) {
  if (StatusPanes* bar = status_bar())
    bar->set_pane_text(kRunningPane, running ? QStringLiteral("Running") : QString());
}
