// The draw iteration's internals that tests and the benchmark reach: executing one
// frame stream against the renderer. draw_init and draw_iteration themselves are
// declared with the render context (render_context.h).
#pragma once

#include "render/render_context.h"

// Executes one frame stream. catch_up: an older frame that will not be presented
// (screen-only passes are skipped); redraw: the frame was executed before (one-shot
// records are skipped). Returns 0 when the stream stopped at an unknown top-level
// code (no letterbox bars), else 1.
int execute_frame_stream(render_context *ctx, threadstream *s, int catch_up, int redraw);

// Polls every pending window-system event into a fresh event stream, reacting to
// the few the renderer handles itself, and queues it (or releases it when empty).
void draw_poll_events(render_context *ctx);

// Accessibility hooks of the platform layer: this platform has no accessibility
// output, so they do nothing and report nothing.
extern "C" void draw_a11y_begin(void);
extern "C" void draw_a11y_queue(const char *id, const char *text, const char *trait,
                                const char *notification_target, float x, float y, float w, float h);
extern "C" void draw_a11y_end(void);
extern "C" int draw_a11y_get_activation(void);
extern "C" int draw_a11y_get_escape(void);
extern "C" int draw_a11y_get_magic_tap(void);
extern "C" int is_a11y_enabled(void);
