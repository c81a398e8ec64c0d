// The display-list hit test: which element of one subplot's section lies
// under the pointer, by a fixed priority, into the ManipState. Lists come
// from saved images, so every record is read through the bounded reader and
// a record whose counts do not fit its length is never hit.
#pragma once

#include <cstdint>

#include "graphics/interact/manip_state.h"
#include "graphics/render/graphics_driver.h"
#include "graphics/subplot/subplot.h"

constexpr double kHitTolerance = 20.0;  // pixels; every caller passes it

// Start of section n (n >= 0: the n-th opening record, records before the
// first opening record being section 0; n < 0: after the last opening
// record). False when the start is not inside the list.
bool plotlist_section_start(const double* list, int32_t length, int32_t n, int32_t* start);

// What a press on a control asks of the instance.
struct ControlPress {
  int32_t field_record = -1;  // a text field took the focus: its record's position
  bool popup = false;         // a pop-up menu opened
  bool hit = false;           // a control won the test
};

// Tests the section starting at `start` (its opening record, if any, is
// skipped) in one walk by priority, the controls (59-65) among the other
// elements. The section's controls are laid out first through the driver,
// on a press (start byte) or when one never was: the list is written. A winning control's press effects (tracked control, opened
// pop-up, focused field) happen only with the start byte and are reported
// in `press` (may be null). Always fills the state's reset fields; false
// when the section lies outside the list or a control still has no
// rectangle, true otherwise.
bool plotlist_hit_test_section(double* list, int32_t length, int32_t start, int32_t subplot_index, Subplot* s,
                               double px, double py, double tolerance, uint8_t modifier, uint8_t start_byte,
                               ManipState* st, const GraphicsDriver* d, GraphicsDriverContext* ctx,
                               ControlPress* press);

bool hit_point_in_box(double x, double y, double left, double right, double top, double bottom);
bool subplot_clamp_to_frame(const Subplot* s, double* x, double* y);
void subplot_scale_by_half_size(const Subplot* s, double* a, double* b);
