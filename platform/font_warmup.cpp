// The worker loads fontconfig's configuration (its files and caches), then,
// once told the application stands, asks Qt's database for its families,
// which lists the fonts, and measures the application font and the fonts it
// is handed, which fills the database's shared fallback lists. The font
// engines it loads are cached per thread and stay with the worker.
#include "platform/font_warmup.h"

#include <fontconfig/fontconfig.h>

#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QStringList>

FontWarmup::FontWarmup() : worker_([this] { run(); }) {}

void FontWarmup::run() {
  FcInit();
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return ready_ || finished_; });
  if (!ready_) return;
  lock.unlock();
  (void)QFontDatabase::families();
  (void)QFontMetrics(QGuiApplication::font()).height();
  lock.lock();
  for (;;) {
    changed_.wait(lock, [this] { return finished_ || !fonts_.empty(); });
    if (fonts_.empty()) return;
    Font f = std::move(fonts_.back());
    fonts_.pop_back();
    lock.unlock();
    QFont font(f.family);
    font.setPixelSize(f.pixels);
    (void)QFontMetrics(font).height();
    lock.lock();
  }
}

void FontWarmup::application_ready() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!finished_) ready_ = true;
  changed_.notify_all();
}

void FontWarmup::measure_too(const QString& family, int pixels) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!ready_ || finished_ || pixels <= 0) return;
  fonts_.push_back(Font{family, pixels});
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
