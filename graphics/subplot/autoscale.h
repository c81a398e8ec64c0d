// Auto-scaling and limits of a subplot's axes: restarting the automatic
// axes (and a plot handler's run), widening them to data (non-finite values
// never reach the limits), fixed and locked limits, and the body of the
// `scale` built-in.
#pragma once

#include <cstdint>

#include "engine/core/context.h"
#include "graphics/subplot/subplot.h"

constexpr double kAutoscaleMargin = 0.04;
constexpr int32_t kAxisMark = 64;  // marks all three modes at once

void subplot_begin_autoscale(Subplot* s);

// One plot handler's run on a subplot. Every run starts as a 2-D plot: the
// commands it draws decide again whether the subplot is 3-D or polar, while
// the camera stays where the user put it. Locks of a 3-D box are held aside
// for the run and given back when it draws 3-D again; a run that draws 2-D
// scales its axes as a fresh subplot would.
struct SubplotPlotRun {
  uint8_t was3d;
  uint8_t held[3];
  double lo[3], hi[3];
};
void subplot_reset_for_plotting(Subplot* s, SubplotPlotRun* run);
void subplot_finish_plotting(Subplot* s, const SubplotPlotRun* run);
// x, y, z may each be null; n points.
void subplot_autoscale_to_data(Subplot* s, const double* x, const double* y, const double* z, int32_t n);
void subplot_set_auto_limits(Subplot* s, double xmin, double xmax, double ymin, double ymax, double zmin,
                             double zmax);
void subplot_set_fixed_limits(Subplot* s, double xmin, double xmax, double ymin, double ymax);
void subplot_set_fixed_limits3(Subplot* s, double xmin, double xmax, double ymin, double ymax, double zmin,
                               double zmax);
void subplot_lock_scale(Subplot* s);
void subplot_unlock_scale(Subplot* s);
bool subplot_is_scale_locked(const Subplot* s);
bool subplot_is_x_locked(const Subplot* s);
void subplot_mark_axes(Subplot* s, uint8_t on);

// The `scale` built-in's body: arguments on the engine stack (first
// deepest), results pushed with the first result on top. list/capacity/used
// are the list under construction; an object is opened in an empty one.
int scale_body(EngineContext* ctx, int nargin, int nargout, Subplot* s, double* list, int32_t capacity,
               int32_t* used);
