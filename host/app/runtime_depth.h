// The host's count of calls into the runtime that are under way. Modal
// dialogs, message boxes and pop-up menus run nested event loops in which
// timers fire; the engine tick, the idle check and the view's idle timer skip
// the runtime while the count is above zero. Painting stays allowed.
#pragma once

int host_runtime_depth();
inline bool host_runtime_busy() { return host_runtime_depth() > 0; }

// Held around every call into the runtime.
class RuntimeCallScope {
 public:
  RuntimeCallScope();
  ~RuntimeCallScope();
  RuntimeCallScope(const RuntimeCallScope&) = delete;
  RuntimeCallScope& operator=(const RuntimeCallScope&) = delete;
};
