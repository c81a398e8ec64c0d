// Font warm-up at start-up: the system's font configuration is read once per
// process, the first time any text is measured, and on a desktop that costs
// more than the rest of start-up together. A worker reads it while Qt starts,
// then fills Qt's font database while the main thread builds the window.
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
  // Qt guards that database with one lock, so a main-thread text call that
  // comes first waits for the worker instead of reading everything twice.
  void application_ready();
  // Joins the worker: before the first text, and always before the
  // application object goes away.
  void finish();

 private:
  enum class Next { wait, fill, stop };
  void run();

  std::mutex mutex_;
  std::condition_variable changed_;
  Next next_ = Next::wait;
  std::thread worker_;
};
