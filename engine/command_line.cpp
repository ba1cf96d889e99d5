#include "engine/command_line.h"

#include <SDL.h>

#include "config/cvar.h"

namespace {
constexpr size_t argument_text_limit = 253;
}

int startup_join_arguments(char *buffer, int argc, char **argv)
{
    SDL_memset(buffer, 0, startup_argument_buffer_size);
    size_t total = 0;
    int left_out = 0;
    for (int i = 0; i < argc; i++) {
        const char *argument = argv[i] ? argv[i] : "";
        total += SDL_strlen(argument) + 1;
        if (total > argument_text_limit) {
            SDL_Log("WARNING: ARGV is too long. The following argument will not be sent over: %s.", argument);
            left_out++;
            continue;
        }
        SDL_strlcat(buffer, argument, startup_argument_buffer_size);
        SDL_strlcat(buffer, " ", startup_argument_buffer_size);
    }
    return left_out;
}

int startup_scan_command_line(int argc, char **argv, startup_command_line *out)
{
    *out = {};
    for (int i = 1; i < argc; i++) {
        const char *argument = argv[i];
        if (!argument) {
            continue;
        }
        if (argument[0] != '-') {
            if (!out->game_dir) {
                out->game_dir = argument;
            }
            continue;
        }
        if (!out->game_dir) {
            out->switch_before_game = 1;
            return 0;
        }
        while (*argument == '-') {
            argument++;
        }
        if (SDL_strcmp(argument, "fullscreen") == 0) {
            cvar_set("renderer.fullscreen", "true");
        } else if (SDL_strcmp(argument, "windowed") == 0) {
            cvar_set("renderer.fullscreen", "false");
        } else if (SDL_strcmp(argument, "no-tick") == 0 || SDL_strcmp(argument, "test") == 0) {
            cvar_set("renderer.start_headless", "true");
        } else if (SDL_strcmp(argument, "production") == 0) {
            out->production = 1;
        } else if (SDL_strcmp(argument, "set") == 0) {
            if (i + 2 >= argc) {
                break;  // a --set without its name and value ends the scan
            }
            cvar_set(argv[i + 1], argv[i + 2]);
            i += 2;
        }
        // "eval" and unknown switches only reach the framework.
    }
    return 1;
}
