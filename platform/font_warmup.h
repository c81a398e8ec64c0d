// Font warm-up at start-up: the system's font configuration is read once per
// process, the first time any text is measured, and on a desktop that costs
// more than the rest of start-up together. A worker reads it while Qt starts,
// then fills Qt's font database while the main thread builds the window.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <QString>

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
  // A font the window will draw with (a family at a pixel size): measuring
  // it fills the database's shared fallback lists for that family.
  void measure_too(const QString& family, int pixels);
  // Joins the worker: before the first text, and always before the
  // application object goes away.
  void finish();

 private:
  struct Font {
    QString family;
    int pixels;
  };
  void run();

  std::mutex mutex_;
  std::condition_variable changed_;
  bool ready_ = false;     // the application object stands
  bool finished_ = false;  // no more fonts will come
  std::vector<Font> fonts_;
  std::thread worker_;
};
