// The break key as the user presses it while a handler runs: the main thread
// then processes no window events, so the key is watched from a thread of
// its own over a connection of its own to the X server, which reports every
// press of the keyboard whoever has the focus.
#pragma once

#include <atomic>
#include <cstdint>

// Starts watching: each press of Pause (Break with Ctrl) stores 1 in *flag,
// which the engine's break poll reads and clears. False, with nothing
// started, when there is no X display or it lacks the input extension (the
// view's key event and SIGINT still set the flag). Starting again while a
// watch runs changes nothing and answers true.
bool break_key_watch_start(std::atomic<uint8_t>* flag);
// Ends the watch and its thread; nothing when none runs.
void break_key_watch_stop();
