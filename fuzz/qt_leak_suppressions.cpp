// Linked into the fuzz targets that start Qt: Qt and fontconfig keep caches
// for the life of the process, which the leak check at exit would report as
// a finding. The stacks are unwound slowly so that they reach the libraries
// (fontconfig is built without frame pointers).
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\nleak:libQt6\nleak:libfreetype\nleak:libglib\nleak:libdbus\nleak:libxcb\nleak:libX11\n";
}
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
