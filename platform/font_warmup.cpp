// The worker loads fontconfig's configuration (its files and caches), then,
// once told the application stands, asks Qt's database for its families,
// which lists the fonts, and measures the application font, which fills the
// database's shared fallback lists. The font engines it loads are cached per
// thread and stay with the worker.
#include "platform/font_warmup.h"

#include <fontconfig/fontconfig.h>

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QStringList>

FontWarmup::FontWarmup() : worker_([this] { run(); }) {}

void FontWarmup::run() {
  FcInit();
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return next_ != Next::wait; });
  if (next_ != Next::fill) return;
  lock.unlock();
  (void)QFontDatabase::families();
  (void)QFontMetrics(QGuiApplication::font()).height();
}

void FontWarmup::application_ready() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (next_ == Next::wait) next_ = Next::fill;
  changed_.notify_all();
}

void FontWarmup::finish() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (next_ == Next::wait) next_ = Next::stop;
    changed_.notify_all();
  }
  if (worker_.joinable()) worker_.join();
}
