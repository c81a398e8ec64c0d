// Appending to the pending-event queue from outside the interpreter. The
// queue holds at most 16 entries; a full queue refuses instead of dropping.
#include "engine/core/events.h"

namespace {

EngineContext* poster_context(const EventPoster* p) {
  if (!p) return nullptr;
  return p->resolver ? p->resolver(p->handle) : static_cast<EngineContext*>(p->handle);
}

bool append(const EventPoster* p, PendingEventFn fn, void* data) {
  EngineContext* ctx = poster_context(p);
  if (!ctx || ctx->event_count < 0 || ctx->event_count >= kMaxPendingEvents) return false;
  ctx->events[ctx->event_count++] = PendingEvent{fn, data};
  return true;
}

}  // namespace

bool event_post_call(const EventPoster* poster, PendingEventFn fn, void* data) {
  return append(poster, fn, data);
}

bool event_post_data(const EventPoster* poster, void* data) { return append(poster, nullptr, data); }

void engine_get_event_poster(EngineContext* ctx, EventPoster* out) {
  out->resolver = ctx->resolver_fn;
  out->post_call = &event_post_call;
  out->post_data = &event_post_data;
  out->handle = ctx->resolver_fn ? ctx->resolver_handle : static_cast<void*>(ctx);
}
