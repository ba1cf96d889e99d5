// Start-up: turns the bare process into a running engine on the main thread (SDL,
// log, cvars, command line, janitor, file system, metadata, interpreter, framework,
// render context, runtime object, first frame) before the render loop starts.
// Every failure on the way ends in fatal_startup_error. main calls engine_startup.
#pragma once

#include <cstdint>

#include "engine/command_line.h"

struct game_context;

extern int32_t cvar_controller_config_ui;

void engine_startup(int argc, char **argv);
void game_pre_init(game_context *game, int argc, char **argv);
void game_init(game_context *game, int argc, char **argv, int logical_width, int logical_height, int landscape,
               int a11y_enabled);

// Writes "Startup failure!" and the message to stderr, shows it in a message box
// when someone can see one, and exits with status 1.
[[noreturn]] void fatal_startup_error(const char *format, ...) __attribute__((format(printf, 1, 2)));
void crash_signal_handler(int signal);

// Whether a fatal start-up error may show a message box: not when nobody can
// answer it (see startup.cpp).
int startup_dialogs_allowed();
