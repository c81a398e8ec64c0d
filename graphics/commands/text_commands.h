// Bodies of text, settabs and legend, and the "Font" option template that
// fontset builds its structure from. Like the line commands they check the
// room for every record they write (and the opening record of an empty
// list) before writing anything, and remove their arguments on success.
#pragma once

#include <cstdint>

#include "engine/core/context.h"
#include "engine/core/options.h"
#include "graphics/commands/line_commands.h"

// Font, Size, Bold, Italic, Underline, Outline (hidden), Color; ended.
extern const OptionDesc kFontOptions[];

// Font flags of record 67.
enum : uint32_t {
  kFontFlagBold = 1,
  kFontFlagItalic = 2,
  kFontFlagUnderline = 4,
  kFontFlagOutline = 128,
};
// Justification flags of records 56 and 57.
enum : uint32_t {
  kJustifyLeft = 1,
  kJustifyRight = 2,
  kJustifyTop = 4,
  kJustifyBottom = 8,
};
constexpr uint32_t kLegendToolFlag = 0x20000;

int plot_cmd_text(EngineContext* ctx, int nargin, Subplot* s, CommandList list);
int plot_cmd_settabs(EngineContext* ctx, Subplot* s, CommandList list);
int plot_cmd_legend(EngineContext* ctx, int nargin, Subplot* s, CommandList list);
// The Color value on top of the stack as r, g, b; the value is popped
// whatever the outcome.
int plot_text_color_arg(EngineContext* ctx, uint8_t rgb[3]);
// fontset: the "Font" option structure (the row's data word is the
// template), each value given checked as text will read it.
int bi_fontset(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
