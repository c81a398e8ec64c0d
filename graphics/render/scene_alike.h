// Primitives drawn alike, and the pass that frees them from the ordering.
// Under the caller's rule two points, or two segments, with equal first and
// second words are drawn the same way (one kind of driver call, one style),
// so their order changes no pixel. Internal to the scene.
#pragma once

#include <cstdint>

#include "graphics/render/scene.h"

inline bool scene_has_look(const ScenePrim& p) {
  return (p.kind == kScenePrimPoint || p.kind == kScenePrimSegment) && p.w[1] != kSceneAlikeWithNone;
}

inline bool scene_alike(const ScenePrim& p, const ScenePrim& q) {
  return p.kind == q.kind && scene_has_look(p) && p.w[0] == q.w[0] && p.w[1] == q.w[1];
}

// Fills the draw order with all primitives: first, in increasing index, those
// that go through the ordering; then, from the order's end toward its
// middle, the free ones in increasing index: points and segments whose box,
// widened by what a marker or a thick line reaches beyond it, meets no box
// of a primitive unlike them, so that their order against every other
// primitive changes no pixel. Returns the count of the first
// part. Works in the aux words; the test is by screen cells, so it may keep
// a free primitive in the ordering, never the other way round.
int32_t scene_free_alike(Scene* s);
