// The runtime host: the one object that owns the runtime memory block for the
// whole run. It allocates the block (halving the size until an allocation
// succeeds), has the runtime lay it out, grows it when an area overflows,
// answers the "dialog" built-in and shows "Running" while the engine works.
// When no block stands every caller skips the runtime and takes
// creation_status() as its result.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/runtime_block.h"

class StatusPanes;

// Where the block's memory comes from (tests inject failures).
struct HostAllocator {
  void* (*allocate)(size_t bytes);
  void* (*reallocate)(void* memory, size_t bytes);
  void (*release)(void* memory);
};
extern const HostAllocator kMallocAllocator;

// No block is laid out below this size; the allocation loop stops there.
constexpr int32_t kLeastBlockBytes = 8192;
constexpr int kRunningPane = 1;

class RuntimeHost {
 public:
  // runtime_host_ctor: MemMin, MemMax and the two line-end modes.
  RuntimeHost(int32_t mem_min, int32_t mem_max, int32_t line_end_a, int32_t line_end_b,
              const HostAllocator* allocator = &kMallocAllocator);
  virtual ~RuntimeHost();
  RuntimeHost(const RuntimeHost&) = delete;
  RuntimeHost& operator=(const RuntimeHost&) = delete;

  virtual bool RunDialog(const DialogRequest& request);
  virtual void SetRunning(int32_t running, double elapsed_seconds);

  bool has_block() const { return block_ != nullptr; }
  RuntimeBlock* block() const { return block_; }
  RuntimeBlock** block_handle() { return &block_; }  // the runtime keeps this address
  int32_t creation_status() const { return creation_status_; }
  int32_t size() const { return size_; }
  int32_t mem_max() const { return mem_max_; }
  void set_status_bar(StatusPanes* bar) { status_bar_ = bar; }
  StatusPanes* status_bar() const { return status_bar_; }

 private:
  friend bool host_grow_block(RuntimeBlock** memory, uint32_t* size, void* host);
  int32_t size_ = 0;
  RuntimeBlock* block_ = nullptr;  // the memory and the block handle: one address
  int32_t mem_max_;
  int32_t line_end_a_, line_end_b_;
  int32_t creation_status_ = 0;
  StatusPanes* status_bar_ = nullptr;
  const HostAllocator* allocator_;
};

// The program's host: the value dialog of the host and the status bar.
class AppRuntimeHost : public RuntimeHost {
 public:
  using RuntimeHost::RuntimeHost;
  bool RunDialog(const DialogRequest& request) override;
  void SetRunning(int32_t running, double elapsed_seconds) override;
};

// The callbacks stored in the block; the host is their context.
bool host_grow_block(RuntimeBlock** memory, uint32_t* size, void* host);
int32_t host_dialog_thunk(const DialogRequest* request, void* host);
int32_t host_file_dialog_thunk(bool save, const char* title, int32_t title_length, const char* filter,
                               int32_t filter_length, const char* name, int32_t name_length, char* path,
                               int32_t capacity, void* host);
int32_t host_status_thunk(int32_t running, double elapsed_seconds, void* host);

// The host-wide host, set by start-up; null before.
RuntimeHost* runtime_host();
void runtime_host_set(RuntimeHost* host);
