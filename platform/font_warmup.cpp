// The worker loads fontconfig's configuration (its files and caches), then,
// once told the application stands, asks Qt's database for its families,
// which lists the fonts. It measures no font: engines are cached per thread,
// and each measured font kept the main thread waiting longer (about 1 ms)
// than loading it again there costs.
#include "platform/font_warmup.h"

#include <fontconfig/fontconfig.h>

#include <QFontDatabase>
#include <QStringList>

FontWarmup::FontWarmup() : worker_([this] { run(); }) {}

void FontWarmup::run() {
  FcInit();
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return ready_ || finished_; });
  if (!ready_) return;
  lock.unlock();
  (void)QFontDatabase::families();
}

void FontWarmup::application_ready() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!finished_) ready_ = true;
  changed_.notify_all();
}

void FontWarmup::finish() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
    changed_.notify_all();
  }
  if (worker_.joinable()) worker_.join();
}
