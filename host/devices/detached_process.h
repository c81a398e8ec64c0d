// Programs the host starts and never waits for (the URL opener, the
// desktop's database updates): each runs in a session of its own with one
// argument, passed as it is, never through a shell.
#pragma once

#include <string>

// False when the program could not be started. Children that have ended
// since the last start are reaped first, so none stays a zombie.
bool spawn_detached(const char* program, const std::string& argument);
