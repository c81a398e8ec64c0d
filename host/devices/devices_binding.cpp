// The rows of the host's table that the file, launchurl and serial libraries
// fill: each body is bound into the row that already holds its place, so
// the table's order (part of every saved application) never changes.
#include "engine/core/streams.h"
#include "engine/lib/builtin_tables.h"
#include "host/devices/file_library.h"
#include "host/devices/serial_library.h"

int host_devices_bind(BuiltinEntry* host_table) {
  const BuiltinBinding bindings[] = {
      {"@ZVR", "fopen", bi_fopen, 0},
      {"@ZVR", kHookRead, builtin_fn_from(static_cast<StreamReadHook>(file_read_hook)), 0},
      {"@ZVR", kHookWrite, builtin_fn_from(static_cast<StreamWriteHook>(file_write_hook)), 0},
      {"@ZVR", kHookClose, builtin_fn_from(static_cast<StreamCloseHook>(file_close_hook)), 0},
      {"@ZVR", kHookControl, builtin_fn_from(static_cast<StreamControlHook>(file_control_hook)), 0},
      {"@lnchurl", "launchurl", bi_launchurl, 0},
      {"@serial", "serialdevopen", bi_serialdevopen, 0},
      {"@serial", "serialdevset", bi_serialdevset, 0},
      {"@serial", "serialdevname", bi_serialdevname, 0},
      {"@serial", kHookRead, builtin_fn_from(static_cast<StreamReadHook>(serial_read_hook)), 0},
      {"@serial", kHookWrite, builtin_fn_from(static_cast<StreamWriteHook>(serial_write_hook)), 0},
      {"@serial", kHookClose, builtin_fn_from(static_cast<StreamCloseHook>(serial_close_hook)), 0},
      {"@serial", kHookControl, builtin_fn_from(static_cast<StreamControlHook>(serial_control_hook)), 0},
      {"@serial", "opendevice", bi_serialdevopen, 0},
      {"@serial", "flushdevice", bi_flushdevice, 0},
      {"@serial", "closedevice", bi_closedevice, 0},
      {"@serial", "devicename", bi_serialdevname, 0},
  };
  return builtin_table_bind(host_table, bindings, int(sizeof bindings / sizeof bindings[0]));
}
