// The message texts of runtime statuses, looked up in the runtime's error
// table by linear search; the table ends with a row without a message.
#include "host/app/error_text.h"

#include "engine/core/context.h"
#include "engine/core/errors.h"
#include "runtime/error_tables.h"

namespace {

constexpr int32_t kStatusInitialization = 600;
constexpr int32_t kEngineReportBytes = 253;  // 252 bytes and the terminator

const char* runtime_message(int32_t status) {
  for (const ErrMsgEntry* e = kRuntimeErrorTable; e->message; ++e)
    if (int32_t(e->code) == status) return e->message;
  return nullptr;
}

}  // namespace

std::string error_text_for_display(EngineContext* engine, int32_t status) {
  if (status == kStatusInitialization) return "Initialization error";
  std::string text;
  if (status < kFirstRuntimeCode) {
    if (!engine) return "ZVR error " + std::to_string(status);
    char report[kEngineReportBytes] = {};
    int32_t length = 0;
    // An error that ended a run left its report, as standard error showed
    // it; formatted again now it would name the engine's present position
    // (the built-in the run stopped in), not what failed.
    const bool reported = err_last_code(engine) == status;
    err_format_report(engine, status, !reported, report, kEngineReportBytes, &length);
    return std::string(report, size_t(length > 0 ? length : 0));
  }
  const char* message = runtime_message(status);
  text = message ? message : "Error " + std::to_string(status);
  if (engine && engine->error_area.loc_line > 0)
    text += " (line " + std::to_string(engine->error_area.loc_line) + ")";
  if (text.size() >= size_t(kErrorTextBytes)) text.resize(kErrorTextBytes - 1);
  return text;
}

std::string status_message(EngineContext* engine, int32_t status) {
  if (status == kStatusInitialization) return "Initialization error";
  if (engine)
    if (const ErrMsgEntry* e = errmsg_lookup(engine, status, false); e && e->message) return e->message;
  const char* message = runtime_message(status);
  return message ? message : "Error " + std::to_string(status);
}
