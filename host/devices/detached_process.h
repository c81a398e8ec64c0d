// Programs the host starts and never waits for (the URL opener, the
// desktop's database updates): each runs in a session of its own with one
// argument, passed as it is, never through a shell.
#pragma once

#include <string>
#include <vector>

struct SpawnStep {
  const char* program;
  std::string argument;
};

// Starts the first step now and each later one only once the one before has
// ended, so that no two of them ever run at once (two database updates of
// one directory race for its files). A thread of their own waits for every
// child and reaps it as it ends, so none stays a zombie. False when the
// first could not be started; a later one that cannot start ends the chain.
bool spawn_in_turn(std::vector<SpawnStep> steps);

// One step.
bool spawn_detached(const char* program, const std::string& argument);
