// The posting side of the pending-event queue: the EventPoster record that
// code outside the interpreter uses to ask the engine for a call at the next
// instruction boundary. Posting only appends; the interpreter drains the queue.
#pragma once

#include "engine/core/context.h"

struct EventPoster;
using EventPostCallFn = bool (*)(const EventPoster* poster, PendingEventFn fn, void* data);
using EventPostDataFn = bool (*)(const EventPoster* poster, void* data);

struct EventPoster {
  ContextResolverFn resolver;  // null: handle is the context itself
  EventPostCallFn post_call;
  EventPostDataFn post_data;
  void* handle;
};

// Both return false when the queue already holds its 16 entries.
bool event_post_call(const EventPoster* poster, PendingEventFn fn, void* data);
// data: an exported call buffer (stk_export_items: a u32 argument count,
// four unused bytes, then the function item and the arguments in flat form).
bool event_post_data(const EventPoster* poster, void* data);
void engine_get_event_poster(EngineContext* ctx, EventPoster* out);
