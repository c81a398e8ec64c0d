// What the user and the application change of a subplot's view: zoom and
// drag of 2-D limits within the zoom references, the 3-D camera moves, and
// the bodies of the camera commands. Every camera move ends with the view
// computation, so the view matrix always matches the camera.
#pragma once

#include <cstdint>

#include "engine/core/context.h"
#include "graphics/subplot/subplot.h"

// Zooming stops at these fractions of the range seen by the first zoom.
constexpr double kZoomInLimit = 0.05;
constexpr double kZoomOutLimit = 20.0;

// Zoom permission; the first call on an axis takes its references.
bool subplot_zoom_allowed(Subplot* s, uint8_t zoom_in);
bool subplot_zoom_x_allowed(Subplot* s, uint8_t zoom_in);
// Zoom to a dragged rectangle or span (pixels); a tiny one halves the range
// about its centre. Zoom out by 2 about a point. The zoomed limits are locked.
void subplot_zoom_rect(Subplot* s, double px1, double px2, double py1, double py2);
void subplot_zoom_x_span(Subplot* s, double px1, double px2);
void subplot_zoom_out_at(Subplot* s, double px, double py);
void subplot_zoom_x_out_at(Subplot* s, double px);
// Shift the view by a pixel displacement (log axes by ratio).
void subplot_drag_by(Subplot* s, double dpx, double dpy);
void subplot_drag_x_by(Subplot* s, double dpx);

// Camera moves; angles in radians, v in camera (aspect-scaled) space.
void subplot_camdolly(Subplot* s, const double* v, uint8_t keep_target);
void subplot_camera_move(Subplot* s, double right, double up, double forward, uint8_t keep_target);
void subplot_campan(Subplot* s, double theta, double phi);
void subplot_camorbit(Subplot* s, double theta, double phi);
void subplot_camroll(Subplot* s, double angle);
void subplot_set_orthographic(Subplot* s, uint8_t on);
double subplot_camera_distance(const Subplot* s);
double subplot_view_angle(const Subplot* s);  // degrees
void subplot_camzoom(Subplot* s, double factor);
void subplot_set_view_angle(Subplot* s, double degrees);

// The camera commands' bodies: arguments on the engine stack (first
// deepest), removed; the result pushed when one is asked for, or when a
// statement without arguments may display it.
enum class CameraCommand { kPos, kTarget, kUp, kDolly, kPan, kOrbit, kRoll, kZoom, kViewAngle, kProjection };
int camera_command_body(EngineContext* ctx, int nargin, int nargout, Subplot* s, CameraCommand which);
