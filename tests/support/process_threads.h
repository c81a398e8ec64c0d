// The threads of this process as the kernel lists them: tests that start
// or stop threads wait on it, since a thread told to end is still listed
// until it has.
#pragma once

#include <dirent.h>

// -1 when the list cannot be read.
inline int process_thread_count() {
  DIR* tasks = opendir("/proc/self/task");
  if (!tasks) return -1;
  int n = 0;
  while (const dirent* e = readdir(tasks))
    if (e->d_name[0] != '.') ++n;
  closedir(tasks);
  return n;
}
