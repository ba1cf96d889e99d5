// The log: levelled, subsystem-tagged entries appended cheaply from any thread and
// published in batches (once per tick, through a janitor job) to the log file and
// stdout. Configured by the log.* cvars registered in log_ready.
#pragma once

#include <cstdint>

enum log_level : int32_t {
    log_level_spam = 0,
    log_level_debug = 1,
    log_level_info = 2,
    log_level_warn = 3,
    log_level_error = 4,
    log_level_unfiltered = 0x7FFFFFFE,
    log_level_nothing = 0x7FFFFFFF,
};

struct log_entry {
    int32_t level;
    uint32_t ticks;          // SDL_GetTicks() when appended
    const char *subsystem;   // points into the same allocation
    const char *message;     // points into the same allocation
    log_entry *next;
};

extern "C" void kvn_log_write(const char *subsystem, int32_t level, const char *message);

#define KVN_LOG_FORMAT(n) __attribute__((format(printf, n, n + 1)))
void log_spam(const char *subsystem, const char *format, ...) KVN_LOG_FORMAT(2);
void log_debug(const char *subsystem, const char *format, ...) KVN_LOG_FORMAT(2);
void log_info(const char *subsystem, const char *format, ...) KVN_LOG_FORMAT(2);
void log_warn(const char *subsystem, const char *format, ...) KVN_LOG_FORMAT(2);
void log_error(const char *subsystem, const char *format, ...) KVN_LOG_FORMAT(2);
void log_unfiltered(const char *subsystem, const char *format, ...) KVN_LOG_FORMAT(2);
void log_sdl_error(const char *subsystem, int32_t level, const char *format, ...) KVN_LOG_FORMAT(3);
void log_physfs_error(const char *subsystem, int32_t level, const char *format, ...) KVN_LOG_FORMAT(3);
void log_limited(uint32_t *counter, const char *subsystem, int32_t level, const char *format, ...) KVN_LOG_FORMAT(4);
void log_multiline(const char *subsystem, int32_t level, const char *text);
int log_should_be_filtered(const char *subsystem, int32_t level);

int log_init();
int log_ready();
log_entry *log_get_entries();
void log_publish(const log_entry *entries);
void log_free_entries(log_entry *entries);
void log_quit();
void log_emergency_quit();

// The published form of one entry (level char, time, subsystem, message) as the
// current log.* cvars shape it; SDL-allocated.
char *log_format_line(const log_entry *entry);
// Level character for a level ("?" for unknown values).
const char *log_level_char(int32_t level);
