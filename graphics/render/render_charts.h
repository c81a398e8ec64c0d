// The control-design charts behind response plots: z-plane and s-plane grids
// of constant damping and natural frequency, the Nyquist plane's closed-loop
// magnitude and phase circles, the Nichols plane's magnitude curves. Points
// come from pure generators (tested on their own); the renderers convert
// them with the subplot's map and draw through the driver. A value that is
// not finite draws nothing.
#pragma once

#include <cstdint>

#include "graphics/plotlist/style_spec.h"
#include "graphics/render/graphics_driver.h"
#include "graphics/subplot/subplot.h"

constexpr int32_t kChartCurvePoints = 16;
// The longest damping spiral: it turns by 0.05 rad a step and ends past pi.
constexpr int32_t kChartSpiralMax = 70;

// Constant natural frequency w in the z-plane: 16 points of the upper half.
void chart_zgrid_wn_points(double w, double* x, double* y);
// Constant damping z (0 <= z <= 1) in the z-plane: the upper half of the
// spiral from (1, 0) to the real axis; the point count (0 outside [0, 1]).
int32_t chart_zgrid_zeta_points(double z, double* x, double* y);
// The circle spacing of the s-plane grid: pi times the power of ten that
// first reaches r (0 when r is not a positive finite number).
double chart_sgrid_spacing(double r);
// The Nichols curve of closed-loop magnitude m with the visible top yt:
// 16 points (phase, gain); 0 when m is 1 and yt < 0.5, or m is not finite.
int32_t chart_ngrid_mcurve_points(double m, double yt, double* phase, double* gain);
// The periods k0 .. k1 of the Nichols curves over the visible x range; false
// when the range is not finite or empty.
bool chart_ngrid_periods(double xlo, double xhi, int32_t* k0, int32_t* k1);

void render_unit_circle(const Subplot* s, const StyleSpec* style, const GraphicsDriver* d,
                        GraphicsDriverContext* ctx);
void render_zgrid_wn(const Subplot* s, double w, const StyleSpec* style, const GraphicsDriver* d,
                     GraphicsDriverContext* ctx);
void render_zgrid_zeta(const Subplot* s, double z, const StyleSpec* style, const GraphicsDriver* d,
                       GraphicsDriverContext* ctx);
void render_zgrid(const Subplot* s, int32_t nz, int32_t nw, bool with_lines, const StyleSpec* style,
                  const GraphicsDriver* d, GraphicsDriverContext* ctx);
void render_sgrid_circle(const Subplot* s, double r, const StyleSpec* style, const GraphicsDriver* d,
                         GraphicsDriverContext* ctx);
void render_sgrid_ray(const Subplot* s, double z, const StyleSpec* style, const GraphicsDriver* d,
                      GraphicsDriverContext* ctx);
void render_sgrid(const Subplot* s, int32_t nz, int32_t nw, bool with_lines, const StyleSpec* style,
                  const GraphicsDriver* d, GraphicsDriverContext* ctx);
void render_hgrid(const Subplot* s, bool with_lines, const StyleSpec* style, const GraphicsDriver* d,
                  GraphicsDriverContext* ctx);
void render_ngrid_mcurve(const Subplot* s, double m, const StyleSpec* style, const GraphicsDriver* d,
                         GraphicsDriverContext* ctx);
void render_ngrid(const Subplot* s, bool with_lines, const StyleSpec* style, const GraphicsDriver* d,
                  GraphicsDriverContext* ctx);
