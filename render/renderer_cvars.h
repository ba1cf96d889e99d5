// The renderer.* cvars: window and presentation settings read by the render context
// and the draw iteration. Registered by start-up before the command line is read.
#pragma once

#include <cstdint>

extern int32_t cvar_renderer_fullscreen;
extern int32_t cvar_renderer_borderless;
extern int32_t cvar_renderer_start_headless;
extern int32_t cvar_renderer_vsync;
extern uint32_t cvar_renderer_background_sleep;

// Registers the five cvars in order; 0 at the first failure.
int register_renderer_cvars();
