#include "render/renderer_cvars.h"

#include "config/cvar.h"

int32_t cvar_renderer_fullscreen = 0;
int32_t cvar_renderer_borderless = 0;
int32_t cvar_renderer_start_headless = 0;
int32_t cvar_renderer_vsync = 1;
uint32_t cvar_renderer_background_sleep = 50;

int register_renderer_cvars()
{
    return cvar_register_bool("renderer.fullscreen", "True if we should use the whole display",
                              &cvar_renderer_fullscreen, 0) &&
           cvar_register_bool("renderer.borderless", "True if non-fullscreen windows should be borderless",
                              &cvar_renderer_borderless, 0) &&
           cvar_register_bool("renderer.start_headless", "True if we shouldn't show a window at startup",
                              &cvar_renderer_start_headless, 0) &&
           cvar_register_bool("renderer.vsync", "True if we should sync-to-vblank when presenting",
                              &cvar_renderer_vsync, 1) &&
           cvar_register_uint("renderer.background_sleep",
                              "Milliseconds to sleep per frame when in the background (zero to disable)",
                              &cvar_renderer_background_sleep, 50);
}
