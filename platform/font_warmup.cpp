// The worker loads fontconfig's configuration (its files and caches), then,
// once told the application stands, asks Qt's database for its families,
// which lists the fonts. It measures no font: engines are cached per thread,
// and each measured font kept the main thread waiting longer (about 1 ms)
// than loading it again there costs.
#include "platform/font_warmup.h"

#include <pthread.h>
#include <sched.h>

#include <fontconfig/fontconfig.h>

#include <QFontDatabase>
#include <QStringList>

FontWarmup::FontWarmup() {
  worker_ = std::thread([this] { run(); });
  // Started on the creating thread's processor, the worker would wait there
  // for a scheduler tick before an idle processor takes it (over a
  // millisecond where processors sleep between ticks); kept off it, it is
  // placed on an idle one at once.
  cpu_set_t allowed;
  const int here = sched_getcpu();
  if (here >= 0 && sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 1 &&
      CPU_ISSET(here, &allowed)) {
    CPU_CLR(here, &allowed);
    pthread_setaffinity_np(worker_.native_handle(), sizeof allowed, &allowed);
  }
}

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
