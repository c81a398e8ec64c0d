// The camera commands' rows of the engine's table, bound to wrappers that
// hand the current subplot of the current instance to their bodies.
#pragma once

int rt_camera_builtins_bind();
