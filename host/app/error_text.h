// Runtime statuses worded for the user's message box.
#pragma once

#include <cstdint>
#include <string>

struct EngineContext;

constexpr int kErrorTextBytes = 256;

// 600: "Initialization error". Engine codes (below 10000): the engine's
// report of its current error, or "ZVR error N" without an engine. Runtime
// codes: the runtime table's message or "Error N", then " (line L)" when the
// engine's last error position has a line. At most 255 bytes.
std::string error_text_for_display(EngineContext* engine, int32_t status);

// The message of a status as the error tables give it, with no position:
// the engine's tables (the runtime's among them when registered), then the
// runtime's own table; "Error N" for a code no table has.
std::string status_message(EngineContext* engine, int32_t status);
