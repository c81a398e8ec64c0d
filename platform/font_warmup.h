// Font warm-up at start-up: the system's font configuration is read once per
// process, the first time any text is measured, and on a desktop that costs
// more than the rest of start-up together. A worker reads it while Qt starts,
// then fills Qt's font database while the main thread sets the runtime up.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

class FontWarmup {
 public:
  // Starts reading the font configuration; no Qt object is needed yet.
  FontWarmup();
  FontWarmup(const FontWarmup&) = delete;
  FontWarmup& operator=(const FontWarmup&) = delete;
  ~FontWarmup() { finish(); }

  // The application object stands: the worker may fill Qt's font database.
  void application_ready();
  // Joins the worker: before the first text (a main-thread text call during
  // the configuration read would read it a second time beside the worker),
  // and always before the application object goes away.
  void finish();

 private:
  void run();

  std::mutex mutex_;
  std::condition_variable changed_;
  bool ready_ = false;     // the application object stands
  bool finished_ = false;  // finish() was called
  std::thread worker_;
};
