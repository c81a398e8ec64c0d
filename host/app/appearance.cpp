// Figure appearance: program-wide values the drivers read through each
// paint's context, the colour dialog, and the screen table's install.
#include "host/app/appearance.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include <QColorDialog>
#include <QFontInfo>

#include "graphics/render/graphics_driver.h"
#include "host/app/runtime_host.h"
#include "platform/qt_driver.h"
#include "platform/settings_store.h"
#include "runtime/runtime_block.h"

namespace {

uint32_t g_background = kDefaultBackgroundColour;
int32_t g_thick_lines = kDefaultThickLines;
QFont g_figure_font;
bool g_font_set = false;
constexpr int kFallbackPoints = 9;
constexpr int64_t kMaxFontPixels = 2048;  // as the drivers cut font heights
constexpr char kFallbackFace[] = "Arial";

QColor colour_from_ref(uint32_t c) { return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); }
uint32_t ref_from_colour(const QColor& c) {
  return uint32_t(c.red()) | uint32_t(c.green()) << 8 | uint32_t(c.blue()) << 16;
}

}  // namespace

void set_background_color(uint32_t colour) { g_background = colour & 0xFFFFFF; }
uint32_t get_background_color() { return g_background; }

bool choose_background_color() {
  const QColor chosen = QColorDialog::getColor(colour_from_ref(g_background), nullptr, QString());
  if (!chosen.isValid()) return false;
  g_background = ref_from_colour(chosen);
  return true;
}

void set_app_option(int32_t thick_lines) { g_thick_lines = thick_lines; }
int32_t get_app_option() { return g_thick_lines; }

void gdi_set_figure_font(const QFont& font) {
  g_figure_font = font;
  g_font_set = true;
}

const QFont& gdi_figure_font() {
  if (!g_font_set) gdi_set_figure_font(figure_font_from_settings(QString::fromLatin1(kDefaultFigureFontFace), -11));
  return g_figure_font;
}

QFont figure_font_from_settings(const QString& face, int32_t height) {
  QFont f(face.left(32));
  // Any stored 32-bit value: its size (of -2147483648 too) in 64 bits, cut
  // to the largest the drivers draw.
  const int64_t pixels = std::min<int64_t>(height < 0 ? -int64_t(height) : int64_t(height), kMaxFontPixels);
  if (pixels > 0) f.setPixelSize(int(pixels));
  if (face.trimmed().isEmpty() || height == 0) {
    QFont fallback(QString::fromLatin1(kFallbackFace));
    fallback.setPointSize(kFallbackPoints);
    return fallback;
  }
  return f;
}

QFont figure_font_saved(SettingsStore* settings) {
  return figure_font_from_settings(settings->read_string(QStringLiteral("FigFontName"), QStringLiteral("Arial")),
                                   settings->read_int(QStringLiteral("FigFontSize"), -11));
}

void gdi_screen_driver_install(RuntimeHost* host) {
  g_qt_screen_driver.values = kScreenPaintValues;
  if (host && host->has_block()) rt_set_graphics_driver(host->block(), &g_qt_screen_driver);
}

void appearance_set_font(GraphicsDriverContext* ctx, const QFont& f) {
  const QByteArray face = f.family().toUtf8();
  std::memset(ctx->figure_font_face, 0, sizeof ctx->figure_font_face);
  // Cut between characters, leaving room for the terminator.
  int32_t n = int32_t(std::min<qsizetype>(face.size(), qsizetype(sizeof ctx->figure_font_face - 1)));
  while (n > 0 && n < face.size() && (uint8_t(face[n]) & 0xC0) == 0x80) --n;
  std::memcpy(ctx->figure_font_face, face.constData(), size_t(n));
  ctx->figure_font_size = f.pixelSize() > 0 ? f.pixelSize() : QFontInfo(f).pixelSize();
}

void appearance_fill_context(GraphicsDriverContext* ctx) {
  ctx->background_colour = g_background;
  ctx->thick_lines = g_thick_lines;
  appearance_set_font(ctx, gdi_figure_font());
  ctx->text_colour[0] = ctx->text_colour[1] = ctx->text_colour[2] = 0;
  ctx->text_colour_set = 0;
}
