// The figure appearance the host owns: background colour, thick lines, the
// figure font and the screen driver's device values. The driver reads them
// through the drawing context a view hands to the runtime; every paint
// installs the screen table anew, so a copy or print that used another table
// never leaves the runtime drawing through it.
#pragma once

#include <cstdint>

#include <QFont>

class SettingsStore;

struct GraphicsDriverContext;
class RuntimeHost;

void set_background_color(uint32_t colour);  // 0x00BBGGRR
uint32_t get_background_color();
// The colour dialog on the current colour; true (and the colour stored) when
// the user confirms. The caller writes "BkColor" and redraws.
bool choose_background_color();
void set_app_option(int32_t thick_lines);
int32_t get_app_option();
void gdi_set_figure_font(const QFont& font);
const QFont& gdi_figure_font();

// The figure font from its stored face and height (negative: character
// height in pixels; any 32-bit value, its size cut to 2048 pixels); a face
// that resolves to nothing gives 9-point "Arial".
QFont figure_font_from_settings(const QString& face, int32_t height);
// The figure font the settings hold (FigFontName, FigFontSize).
QFont figure_font_saved(SettingsStore* settings);

// Writes the screen values 5, 0.5, 2, 2, 1, 1, 8, 8 into the screen table and,
// when a block stands, installs that table in it.
void gdi_screen_driver_install(RuntimeHost* host);
// The appearance as a driver context's fields (its device is left alone).
void appearance_fill_context(GraphicsDriverContext* ctx);
// The context's figure font: face (cut between characters) and pixel height.
void appearance_set_font(GraphicsDriverContext* ctx, const QFont& font);
