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
