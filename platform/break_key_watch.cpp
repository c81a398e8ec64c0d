// The break key watched over an X connection of the watch's own, from its
// own thread: the input extension's raw key presses reach the root window
// whatever window has the focus and whether or not the main thread reads its
// events, as the key state the engine's poll stands for does. Only this
// thread ever uses the connection; a pipe wakes it to end.
#include "platform/break_key_watch.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <thread>

namespace {

struct Watch {
  Display* display = nullptr;
  int xi_opcode = 0;
  KeyCode keys[3] = {};  // Pause, Break and Cancel where the keymap has them
  int wake[2] = {-1, -1};
  std::atomic<uint8_t>* flag = nullptr;
  std::thread thread;
};

Watch* g_watch = nullptr;

bool is_break_key(const Watch& w, int keycode) {
  for (KeyCode k : w.keys)
    if (k != 0 && k == keycode) return true;
  return false;
}

void take_events(Watch* w) {
  while (XPending(w->display) > 0) {
    XEvent event;
    XNextEvent(w->display, &event);
    XGenericEventCookie* cookie = &event.xcookie;
    if (cookie->type != GenericEvent || cookie->extension != w->xi_opcode) continue;
    if (!XGetEventData(w->display, cookie)) continue;
    if (cookie->evtype == XI_RawKeyPress && is_break_key(*w, static_cast<XIRawEvent*>(cookie->data)->detail))
      w->flag->store(1);
    XFreeEventData(w->display, cookie);
  }
}

void run(Watch* w) {
  pollfd fds[2] = {{ConnectionNumber(w->display), POLLIN, 0}, {w->wake[0], POLLIN, 0}};
  for (;;) {
    take_events(w);
    if (poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents) return;
    // The server went away: nothing more to watch.
    if (fds[0].revents & (POLLERR | POLLHUP)) return;
  }
}

// Selects raw key presses of every keyboard on the root window; false when the
// server has no input extension of version 2.
bool select_raw_keys(Watch* w) {
  int event = 0, error = 0;
  if (!XQueryExtension(w->display, "XInputExtension", &w->xi_opcode, &event, &error)) return false;
  int major = 2, minor = 0;
  if (XIQueryVersion(w->display, &major, &minor) != Success || major < 2) return false;
  unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
  XISetMask(bits, XI_RawKeyPress);
  XIEventMask mask{XIAllMasterDevices, int(sizeof bits), bits};
  XISelectEvents(w->display, DefaultRootWindow(w->display), &mask, 1);
  XFlush(w->display);
  return true;
}

void close_watch(Watch* w) {
  if (w->display) XCloseDisplay(w->display);
  for (int fd : w->wake)
    if (fd >= 0) close(fd);
  delete w;
}

}  // namespace

bool break_key_watch_start(std::atomic<uint8_t>* flag) {
  if (g_watch) return true;
  if (!flag) return false;
  Watch* w = new Watch;
  w->flag = flag;
  w->display = XOpenDisplay(nullptr);
  if (!w->display || !select_raw_keys(w) || pipe2(w->wake, O_CLOEXEC) != 0) {
    close_watch(w);
    return false;
  }
  w->keys[0] = XKeysymToKeycode(w->display, XK_Pause);
  w->keys[1] = XKeysymToKeycode(w->display, XK_Break);
  w->keys[2] = XKeysymToKeycode(w->display, XK_Cancel);
  w->thread = std::thread(run, w);
  g_watch = w;
  return true;
}

void break_key_watch_stop() {
  Watch* w = g_watch;
  if (!w) return;
  g_watch = nullptr;
  const char byte = 0;
  if (write(w->wake[1], &byte, 1) < 0) {
    // The pipe cannot be full with one byte in it; should it fail, the thread
    // would wait for ever, so it is left to the process's end.
    w->thread.detach();
    return;
  }
  w->thread.join();
  close_watch(w);
}
