// The log: entries are appended under one mutex by any thread and taken as a
// whole list once per tick; publication (file and stdout) happens on whichever
// thread calls log_publish, normally a janitor worker.
#include "log/log.h"

#include <SDL.h>
#include <physfs.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <string>

#include "config/cvar.h"
#include "config/metadata.h"
#include "engine/version.h"
#include "fs/clock.h"
#include "fs/strings.h"

namespace {

constexpr uint32_t log_limited_count = 30;

struct log_level_row {
    int32_t level;
    const char *word;
    const char *character;
    int colour;
};

constexpr log_level_row LOG_LEVELS[] = {
    {log_level_spam, "spam", ".", 90},
    {log_level_debug, "debug", "?", 92},
    {log_level_info, "info", "-", 97},
    {log_level_warn, "warn", "#", 93},
    {log_level_error, "error", "!", 91},
    {log_level_unfiltered, "unfiltered", "*", 96},
    {log_level_nothing, "nothing", "?", 0},
};

const log_level_row *log_find_level(int32_t level)
{
    for (const log_level_row &info : LOG_LEVELS) {
        if (info.level == level) {
            return &info;
        }
    }
    return nullptr;
}

struct {
    int initialised;
    int ready;
    int32_t threshold;  // written only by init, ready and quit; read without the lock
    SDL_mutex *mutex;   // the entry list
    log_entry *head;
    log_entry *tail;
    char **filtered;    // subsystem names, each once (case-insensitive)
    int filtered_count;
    // Output may run on several janitor workers at once; this keeps lines whole
    // and the file handle alive while one of them writes.
    SDL_mutex *output_mutex;
    PHYSFS_File *file;

    // Variables of the log.* cvars.
    char *filename;
    char *level_word;
    char *filter_subsystems;
    int32_t to_stdout;
    int32_t timing;
    int32_t level_char;
    int32_t subsystem;
    int32_t stdout_color;
} LOG = {.initialised = 0, .ready = 0, .threshold = log_level_debug, .mutex = nullptr, .head = nullptr,
         .tail = nullptr, .filtered = nullptr, .filtered_count = 0, .output_mutex = nullptr, .file = nullptr,
         .filename = nullptr, .level_word = nullptr, .filter_subsystems = nullptr, .to_stdout = 1, .timing = 1,
         .level_char = 1, .subsystem = 1, .stdout_color = 0};

bool log_subsystem_filtered(const char *subsystem)
{
    for (int i = 0; i < LOG.filtered_count; i++) {
        if (SDL_strcasecmp(LOG.filtered[i], subsystem) == 0) {
            return true;
        }
    }
    return false;
}

// Header and both texts in one allocation; the message part is left for the
// caller to fill (message_length bytes plus the terminator).
log_entry *log_entry_allocate(const char *subsystem, int32_t level, size_t message_length)
{
    const size_t subsystem_length = SDL_strlen(subsystem);
    char *block = static_cast<char *>(SDL_malloc(sizeof(log_entry) + subsystem_length + 1 + message_length + 1));
    if (!block) {
        return nullptr;
    }
    log_entry *entry = reinterpret_cast<log_entry *>(block);
    char *subsystem_copy = block + sizeof(log_entry);
    SDL_memcpy(subsystem_copy, subsystem, subsystem_length + 1);
    char *message = subsystem_copy + subsystem_length + 1;
    message[message_length] = '\0';
    entry->level = level;
    entry->ticks = 0;
    entry->subsystem = subsystem_copy;
    entry->message = message;
    entry->next = nullptr;
    return entry;
}

char *log_entry_message_buffer(log_entry *entry)
{
    return const_cast<char *>(entry->message);
}

void log_entry_append(log_entry *entry)
{
    SDL_LockMutex(LOG.mutex);
    entry->ticks = SDL_GetTicks();
    if (LOG.tail) {
        LOG.tail->next = entry;
    } else {
        LOG.head = entry;
    }
    LOG.tail = entry;
    SDL_UnlockMutex(LOG.mutex);
}

// The appending rule: nothing before init; everything before log_ready (it
// filters the list then); threshold and filters once ready.
bool log_append_drops(const char *subsystem, int32_t level)
{
    if (!LOG.initialised) {
        return true;
    }
    return LOG.ready && (level < LOG.threshold || log_subsystem_filtered(subsystem));
}

void log_append(const char *subsystem, int32_t level, const char *message, size_t length)
{
    if (!subsystem) {
        subsystem = "???";
    }
    if (!message) {
        message = "(null)";
        length = 6;
    }
    if (log_append_drops(subsystem, level)) {
        return;
    }
    log_entry *entry = log_entry_allocate(subsystem, level, length);
    if (!entry) {
        return;
    }
    SDL_memcpy(log_entry_message_buffer(entry), message, length);
    log_entry_append(entry);
}

// Formats straight into the entry's allocation: one measuring pass, one printing
// pass, one allocation. Callers have already checked the level.
void log_vwrite(const char *subsystem, int32_t level, const char *format, va_list arguments)
{
    if (!subsystem) {
        subsystem = "???";
    }
    if (!format) {
        log_append(subsystem, level, nullptr, 0);
        return;
    }
    if (log_append_drops(subsystem, level)) {
        return;
    }
    va_list measure;
    va_copy(measure, arguments);
    const int length = SDL_vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length < 0) {
        return;
    }
    log_entry *entry = log_entry_allocate(subsystem, level, static_cast<size_t>(length));
    if (!entry) {
        return;
    }
    va_list render;
    va_copy(render, arguments);
    const int written = SDL_vsnprintf(log_entry_message_buffer(entry), static_cast<size_t>(length) + 1, format, render);
    va_end(render);
    if (written != length) {
        SDL_free(entry);
        return;
    }
    log_entry_append(entry);
}

// "%s (%s)" of the formatted message and an error text.
void log_vwrite_with_error(const char *subsystem, int32_t level, const char *error, const char *format,
                           va_list arguments)
{
    char *message = vsprintf_alloc(format ? format : "(null)", arguments);
    if (!message) {
        return;
    }
    const char *subsystem_text = subsystem ? subsystem : "???";
    char *line = sprintf_alloc("%s (%s)", message, (error && *error) ? error : "no error");
    SDL_free(message);
    if (line) {
        log_append(subsystem_text, level, line, SDL_strlen(line));
        SDL_free(line);
    }
}

void log_free_filters()
{
    for (int i = 0; i < LOG.filtered_count; i++) {
        SDL_free(LOG.filtered[i]);
    }
    SDL_free(LOG.filtered);
    LOG.filtered = nullptr;
    LOG.filtered_count = 0;
}

int log_add_filter(const char *name, size_t length)
{
    char *copy = static_cast<char *>(SDL_malloc(length + 1));
    if (!copy) {
        return 0;
    }
    SDL_memcpy(copy, name, length);
    copy[length] = '\0';
    if (log_subsystem_filtered(copy)) {
        SDL_free(copy);
        return 1;
    }
    char **grown = static_cast<char **>(SDL_realloc(LOG.filtered, sizeof(char *) * (LOG.filtered_count + 1)));
    if (!grown) {
        SDL_free(copy);
        return 0;
    }
    LOG.filtered = grown;
    LOG.filtered[LOG.filtered_count++] = copy;
    return 1;
}

// Comma-separated names; spaces around each name are cut, empty pieces ignored.
int log_apply_filters(const char *list)
{
    log_free_filters();
    if (!list) {
        return 1;
    }
    const char *piece = list;
    while (true) {
        const char *end = SDL_strchr(piece, ',');
        if (!end) {
            end = piece + SDL_strlen(piece);
        }
        const char *start = piece;
        while (start < end && *start == ' ') {
            start++;
        }
        const char *stop = end;
        while (stop > start && stop[-1] == ' ') {
            stop--;
        }
        if (stop > start && !log_add_filter(start, static_cast<size_t>(stop - start))) {
            return 0;
        }
        if (!*end) {
            return 1;
        }
        piece = end + 1;
    }
}

void log_open_file()
{
    if (!LOG.filename || !*LOG.filename || !PHYSFS_isInit()) {
        return;
    }
    char *path = SDL_strchr(LOG.filename, '/') ? SDL_strdup(LOG.filename) : sprintf_alloc("logs/%s", LOG.filename);
    if (!path) {
        return;
    }
    PHYSFS_File *file = PHYSFS_openWrite(path);
    SDL_free(path);
    if (!file) {
        log_physfs_error("Engine", log_level_error, "Failed to open logfile '%s'", LOG.filename);
        log_error("Engine", "Continuing on without log file, hoping this log info is going elsewhere, too.");
        return;
    }
    SDL_LockMutex(LOG.output_mutex);
    if (LOG.file) {
        PHYSFS_close(LOG.file);
    }
    LOG.file = file;
    SDL_UnlockMutex(LOG.output_mutex);
}

void log_banner()
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    current_datetime(&year, &month, &day, &hour, &minute, &second);
    log_unfiltered("Engine", "Log started at %d/%d/%d %d:%d:%d", year, month, day, hour, minute, second);
    log_unfiltered("Engine", "Korvane Runtime");
    log_unfiltered("Engine", "  Version: %s", korvane_version);
    log_unfiltered("Engine", "  GIT Hash: %s", korvane_build_id);
    log_unfiltered("Engine", "  Build Date: %s %s", korvane_build_date, korvane_build_time);
    log_unfiltered("Engine", "Platform: %s", SDL_GetPlatform());
    log_unfiltered("Engine", "%s", "");
}

// Writes one formatted line to the file and stdout; called with the output lock.
void log_output_line(int32_t level, const char *line)
{
    if (LOG.file) {
        const PHYSFS_uint64 length = SDL_strlen(line);
        if (PHYSFS_writeBytes(LOG.file, line, length) != static_cast<PHYSFS_sint64>(length) ||
            PHYSFS_writeBytes(LOG.file, "\n", 1) != 1) {
            PHYSFS_close(LOG.file);
            LOG.file = nullptr;
            log_physfs_error("Engine", log_level_error,
                             "Failed to write log file! Giving up on further logging to this file.");
        }
    }
    if (LOG.to_stdout) {
        const log_level_row *info = log_find_level(level);
        if (LOG.stdout_color && info && info->colour) {
            std::printf("\33[%dm%s\33[m\n", info->colour, line);
        } else {
            std::puts(line);
        }
        std::fflush(stdout);
    }
}

}  // namespace

extern "C" void kvn_log_write(const char *subsystem, int32_t level, const char *message)
{
    log_append(subsystem, level, message, message ? SDL_strlen(message) : 0);
}

int log_should_be_filtered(const char *subsystem, int32_t level)
{
    if (!LOG.initialised || level < LOG.threshold) {
        return 1;
    }
    return (LOG.ready && log_subsystem_filtered(subsystem ? subsystem : "???")) ? 1 : 0;
}

#define KVN_LOG_AT_LEVEL(function, level_value)                      \
    void function(const char *subsystem, const char *format, ...)    \
    {                                                                \
        if (log_should_be_filtered(subsystem, level_value)) {        \
            return;                                                  \
        }                                                            \
        va_list arguments;                                           \
        va_start(arguments, format);                                 \
        log_vwrite(subsystem, level_value, format, arguments);       \
        va_end(arguments);                                           \
    }

KVN_LOG_AT_LEVEL(log_spam, log_level_spam)
KVN_LOG_AT_LEVEL(log_debug, log_level_debug)
KVN_LOG_AT_LEVEL(log_info, log_level_info)
KVN_LOG_AT_LEVEL(log_warn, log_level_warn)
KVN_LOG_AT_LEVEL(log_error, log_level_error)
KVN_LOG_AT_LEVEL(log_unfiltered, log_level_unfiltered)
#undef KVN_LOG_AT_LEVEL

void log_sdl_error(const char *subsystem, int32_t level, const char *format, ...)
{
    if (log_should_be_filtered(subsystem, level)) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    log_vwrite_with_error(subsystem, level, SDL_GetError(), format, arguments);
    va_end(arguments);
}

void log_physfs_error(const char *subsystem, int32_t level, const char *format, ...)
{
    // Read the code even when the line is dropped: it must not linger for a later caller.
    const char *error = PHYSFS_getErrorByCode(PHYSFS_getLastErrorCode());
    if (log_should_be_filtered(subsystem, level)) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    log_vwrite_with_error(subsystem, level, error, format, arguments);
    va_end(arguments);
}

void log_limited(uint32_t *counter, const char *subsystem, int32_t level, const char *format, ...)
{
    if (!counter || !LOG.initialised) {
        return;
    }
    // Held across the last message and the note so they stay adjacent; SDL
    // mutexes are recursive, so the writes below may take it again.
    SDL_LockMutex(LOG.mutex);
    if (*counter < log_limited_count) {
        const uint32_t count = ++*counter;
        if (!log_should_be_filtered(subsystem, level)) {
            va_list arguments;
            va_start(arguments, format);
            log_vwrite(subsystem, level, format, arguments);
            va_end(arguments);
            if (count == log_limited_count) {
                const char note[] = "(Too many logs entries like this, not logging it again.)";
                log_append(subsystem, level, note, sizeof(note) - 1);
            }
        }
    }
    SDL_UnlockMutex(LOG.mutex);
}

void log_multiline(const char *subsystem, int32_t level, const char *text)
{
    if (!text || log_should_be_filtered(subsystem, level)) {
        return;
    }
    const char *line = text;
    while (true) {
        const char *end = SDL_strchr(line, '\n');
        if (!end) {
            // The piece after the last newline counts unless it is empty; an
            // empty text still gives its one empty line.
            if (*line || line == text) {
                log_append(subsystem, level, line, SDL_strlen(line));
            }
            return;
        }
        log_append(subsystem, level, line, static_cast<size_t>(end - line));
        line = end + 1;
    }
}

int log_init()
{
    if (LOG.initialised) {
        return 1;
    }
    LOG.mutex = SDL_CreateMutex();
    LOG.output_mutex = LOG.mutex ? SDL_CreateMutex() : nullptr;
    if (!LOG.mutex || !LOG.output_mutex) {
        if (LOG.mutex) {
            SDL_DestroyMutex(LOG.mutex);
            LOG.mutex = nullptr;
        }
        return 0;
    }
    LOG.threshold = log_level_debug;
    LOG.ready = 0;
    LOG.to_stdout = 1;
    LOG.timing = 1;
    LOG.level_char = 1;
    LOG.subsystem = 1;
    LOG.stdout_color = 0;
    LOG.initialised = 1;
    log_banner();
    return 1;
}

int log_ready()
{
    if (!LOG.initialised) {
        SDL_SetError("Logging is not initialized");
        return 0;
    }
    const bool production = cvar_game_metadata_deployment != 0;
    const char *const default_level = production ? "info" : "debug";
    char *default_filename =
        cvar_game_metadata_gameid ? sprintf_alloc("%s.log", cvar_game_metadata_gameid) : SDL_strdup("");
    if (!default_filename) {
        SDL_OutOfMemory();
        return 0;
    }
    const bool registered =
        cvar_register_string("log.filename", "filename to write log data to", &LOG.filename, default_filename) &&
        cvar_lock("log.filename") &&
        cvar_register_string("log.level",
                             "One of [spam, debug, info, warn, error, unfiltered, nothing]. Filter out everything "
                             "less than.",
                             &LOG.level_word, default_level) &&
        cvar_lock("log.level") &&
        cvar_register_string("log.filter_subsystems", "Comma-separated list of subsystems to ignore logging for",
                             &LOG.filter_subsystems, "") &&
        cvar_lock("log.filter_subsystems") &&
        cvar_register_bool("log.stdout", "True if we should write logs to stdout", &LOG.to_stdout, !production) &&
        cvar_register_bool("log.timing", "True if we should include the timing in the log output", &LOG.timing, 1) &&
        cvar_register_bool("log.level_char", "True if we should include the logging level character in the log output",
                           &LOG.level_char, 1) &&
        cvar_register_bool("log.subsystem", "True if we should include the subsystem name in the log output",
                           &LOG.subsystem, 1) &&
        cvar_register_bool("log.stdout_color", "True if we should colorize logs sent to stdout", &LOG.stdout_color,
                           isatty(1) ? 1 : 0);
    SDL_free(default_filename);
    if (!registered) {
        return 0;
    }

    int32_t threshold = production ? log_level_info : log_level_debug;
    bool known = false;
    for (const log_level_row &info : LOG_LEVELS) {
        if (LOG.level_word && SDL_strcasecmp(LOG.level_word, info.word) == 0) {
            threshold = info.level;
            known = true;
            break;
        }
    }
    if (!known) {
        log_error("Engine", "Cvar log.level value '%s' is unknown. Defaulting to '%s'.",
                  LOG.level_word ? LOG.level_word : "", default_level);
    }
    LOG.threshold = threshold;

    if (!log_apply_filters(LOG.filter_subsystems)) {
        SDL_OutOfMemory();
        return 0;
    }

    log_open_file();

    SDL_LockMutex(LOG.mutex);
    LOG.ready = 1;
    log_entry *kept_head = nullptr;
    log_entry *kept_tail = nullptr;
    for (log_entry *entry = LOG.head; entry;) {
        log_entry *next = entry->next;
        if (entry->level < LOG.threshold || log_subsystem_filtered(entry->subsystem)) {
            SDL_free(entry);
        } else {
            entry->next = nullptr;
            if (kept_tail) {
                kept_tail->next = entry;
            } else {
                kept_head = entry;
            }
            kept_tail = entry;
        }
        entry = next;
    }
    LOG.head = kept_head;
    LOG.tail = kept_tail;
    SDL_UnlockMutex(LOG.mutex);
    return 1;
}

log_entry *log_get_entries()
{
    if (!LOG.initialised) {
        return nullptr;
    }
    SDL_LockMutex(LOG.mutex);
    log_entry *entries = LOG.head;
    LOG.head = nullptr;
    LOG.tail = nullptr;
    SDL_UnlockMutex(LOG.mutex);
    return entries;
}

const char *log_level_char(int32_t level)
{
    const log_level_row *info = log_find_level(level);
    return info ? info->character : "?";
}

char *log_format_line(const log_entry *entry)
{
    if (!entry) {
        return nullptr;
    }
    std::string line;
    if (LOG.level_char) {
        line += log_level_char(entry->level);
        line += ' ';
    }
    if (LOG.timing) {
        char seconds[16];
        SDL_snprintf(seconds, sizeof(seconds), "%.6u ", static_cast<unsigned>(entry->ticks / 1000));
        line += seconds;
    }
    if (LOG.subsystem) {
        line += '[';
        line += entry->subsystem ? entry->subsystem : "???";
        line += "] ";
    }
    line += entry->message ? entry->message : "(null)";

    char *result = static_cast<char *>(SDL_malloc(line.size() + 1));
    if (result) {
        SDL_memcpy(result, line.c_str(), line.size() + 1);
    }
    return result;
}

void log_publish(const log_entry *entries)
{
    if (!entries) {
        return;
    }
    SDL_LockMutex(LOG.output_mutex);
    for (const log_entry *entry = entries; entry; entry = entry->next) {
        char *line = log_format_line(entry);
        if (line) {
            log_output_line(entry->level, line);
            SDL_free(line);
        }
    }
    SDL_UnlockMutex(LOG.output_mutex);
}

void log_free_entries(log_entry *entries)
{
    while (entries) {
        log_entry *next = entries->next;
        SDL_free(entries);
        entries = next;
    }
}

void log_quit()
{
    if (!LOG.initialised) {
        return;
    }
    log_unfiltered("Engine", "Logging shutting down");
    log_entry *entries = log_get_entries();
    log_publish(entries);
    log_free_entries(entries);

    SDL_LockMutex(LOG.output_mutex);
    if (LOG.file) {
        PHYSFS_close(LOG.file);
        LOG.file = nullptr;
    }
    SDL_UnlockMutex(LOG.output_mutex);

    LOG.initialised = 0;
    LOG.ready = 0;
    // Entries a late writer slipped in between the last take and here.
    SDL_LockMutex(LOG.mutex);
    log_free_entries(LOG.head);
    LOG.head = nullptr;
    LOG.tail = nullptr;
    SDL_UnlockMutex(LOG.mutex);
    SDL_DestroyMutex(LOG.output_mutex);
    SDL_DestroyMutex(LOG.mutex);
    LOG.output_mutex = nullptr;
    LOG.mutex = nullptr;
    log_free_filters();
    LOG.threshold = log_level_debug;
}

void log_emergency_quit()
{
    if (LOG.initialised && !LOG.ready) {
        log_ready();
    }
    log_quit();
}
