// Loader for cvars files (metadata/cvars.txt, user_cvars.txt): one "key = value"
// per line, "#" or ";" comments, every pair handed to cvar_set.
#include <SDL.h>

#include "config/cvar.h"
#include "fs/filehelpers.h"
#include "log/log.h"

int load_cvars_from_file(const char *path)
{
    unsigned count = 0;
    char **lines = split_textfile_into_lines(path, &count);
    if (!lines) {
        return 0;  // the file is optional: no message
    }

    log_debug("Engine", "Loading cvars from file '%s' ...", path);
    for (unsigned i = 0; i < count; i++) {
        const unsigned line_number = i + 1;
        char *key = nullptr;
        char *value = nullptr;
        if (!split_key_value_string(lines[i], &key, &value)) {
            log_warn("Engine", "%s: invalid data on line %u, ignored", path, line_number);
            continue;
        }
        if (!key) {
            continue;  // blank or comment
        }
        log_debug("Engine", "File '%s' line %d setting cvar '%s' to '%s'", path, static_cast<int>(line_number), key,
                  value);
        cvar_set(key, value);
    }
    log_debug("Engine", "File '%s' complete", path);

    free_split_textfile(lines);
    return 1;
}
