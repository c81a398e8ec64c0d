# Sourced by the benchmarks that run zvr beside another interpreter: the
# reference installed where the machine lacks it, and the zvr to time (ZVR
# when given, a build of an earlier commit say, else the normal build's).

# need_command COMMAND PACKAGE: installs PACKAGE unless COMMAND runs.
need_command() {
  command -v "$1" >/dev/null && return
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get install -y --no-install-recommends "$2" >/dev/null 2>&1 ||
    { $sudo apt-get update >/dev/null && $sudo apt-get install -y --no-install-recommends "$2" >/dev/null; }
}

# Sets ZVR to the binary to time, building the normal tree's when none is given.
find_zvr() {
  if [ -z "${ZVR:-}" ]; then
    [ -f build/build.ninja ] || cmake -S . -B build -G Ninja >/dev/null
    cmake --build build --target zvr >/dev/null
    ZVR=$PWD/build/bin/zvr
  fi
}
