// The command line: the scan of argv for the game directory and the switches,
// and the argument string that carries every argument to the script framework.
// Start-up calls both before anything else reads the arguments.
#pragma once

#include <cstddef>

// What the command line asked for. The switches that set cvars have done so when
// this returns.
struct startup_command_line {
    const char *game_dir;   // first argument without a leading "-", or null
    int production;         // --production
    int switch_before_game; // a switch came before any game directory (fatal)
};
// Scans argv from the second argument on; 0 when a switch came before the game
// directory (the scan stops there).
int startup_scan_command_line(int argc, char **argv, startup_command_line *out);

// The argument string handed to the framework: argv[0] on, each followed by a
// space, at most 253 bytes of text. Arguments that do not fit are left out with a
// warning, and so is everything after them.
constexpr size_t startup_argument_buffer_size = 255;
// Fills buffer (startup_argument_buffer_size bytes); returns how many arguments
// were left out.
int startup_join_arguments(char *buffer, int argc, char **argv);
