// The event-capable integration that ode45 and ode23 hand a call to when
// its options set Events or EventTime.
#pragma once

#include "engine/core/context.h"

// Replaces the built-in's call by a frame of the event-capable solver, with
// the tableau's nine values in front of the nargin inputs on top of the
// stack; the frame leaves the nargout results of the call. On an error the
// inputs stay as they were.
int ode_events_start(EngineContext* ctx, int nargin, int nargout, const double* tableau);
