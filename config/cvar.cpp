// The cvar registry: a list of registered records (newest first), a list of
// pending values for names nobody has registered yet, and one registration
// callback. The registry has no lock; see config/cvar.h for who calls it.
#include "config/cvar.h"

#include <SDL.h>

#include <climits>

#include "log/log.h"

namespace {

struct cvar_record {
    char *name;
    char *description;
    void *value;  // the owner's variable, or &slot
    int type;
    union {
        char *string;
        int32_t i;
        uint32_t u;
        float f;
        uint64_t raw;
    } slot;
    int locked;
    cvar_record *next;
};

struct cvar_pending {
    char *name;
    char *value;
    cvar_pending *prev;
    cvar_pending *next;
};

struct {
    cvar_record *registered;  // newest registration at the head
    cvar_pending *pending;    // newest entry at the head
    cvar_register_callback callback;
    void *callback_context;
} CVARS;

cvar_record *cvar_find(const char *name)
{
    if (!name) {
        return nullptr;
    }
    for (cvar_record *record = CVARS.registered; record; record = record->next) {
        if (SDL_strcmp(record->name, name) == 0) {
            return record;
        }
    }
    return nullptr;
}

cvar_pending *cvar_find_pending(const char *name)
{
    for (cvar_pending *pending = CVARS.pending; pending; pending = pending->next) {
        if (SDL_strcmp(pending->name, name) == 0) {
            return pending;
        }
    }
    return nullptr;
}

// The registry owns a string variable's current text once some record of type
// string points at that variable; before that it holds whatever the owner put
// there (usually null or a literal), which must not be freed.
bool cvar_owns_string(const void *value)
{
    for (cvar_record *record = CVARS.registered; record; record = record->next) {
        if (record->type == cvar_type_string && record->value == value) {
            return true;
        }
    }
    return false;
}

int32_t cvar_parse_int(const char *text)
{
    const long parsed = SDL_strtol(text, nullptr, 10);
    // Out-of-range text saturates instead of wrapping into a different number.
    if (parsed > INT32_MAX) {
        return INT32_MAX;
    }
    if (parsed < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(parsed);
}

uint32_t cvar_parse_uint(const char *text)
{
    const unsigned long parsed = SDL_strtoul(text, nullptr, 10);
    return parsed > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(parsed);
}

// Parses text into the variable by type. Only a string copy can fail; the old
// value stays in place then.
int cvar_parse(int type, void *value, const char *text, bool free_old)
{
    switch (type) {
    case cvar_type_string: {
        char *copy = SDL_strdup(text);
        if (!copy) {
            SDL_OutOfMemory();
            return 0;
        }
        char **variable = static_cast<char **>(value);
        if (free_old) {
            SDL_free(*variable);
        }
        *variable = copy;
        return 1;
    }
    case cvar_type_int:
        *static_cast<int32_t *>(value) = cvar_parse_int(text);
        return 1;
    case cvar_type_uint:
        *static_cast<uint32_t *>(value) = cvar_parse_uint(text);
        return 1;
    case cvar_type_float:
        *static_cast<float *>(value) = static_cast<float>(SDL_strtod(text, nullptr));
        return 1;
    case cvar_type_bool:
        *static_cast<int32_t *>(value) =
            (SDL_strtol(text, nullptr, 10) != 0 || SDL_strcasecmp(text, "true") == 0) ? 1 : 0;
        return 1;
    default:
        return 0;
    }
}

void cvar_free_pending(cvar_pending *pending)
{
    SDL_free(pending->name);
    SDL_free(pending->value);
    SDL_free(pending);
}

void cvar_unlink_pending(cvar_pending *pending)
{
    if (pending->prev) {
        pending->prev->next = pending->next;
    } else {
        CVARS.pending = pending->next;
    }
    if (pending->next) {
        pending->next->prev = pending->prev;
    }
}

void cvar_free_record(cvar_record *record)
{
    SDL_free(record->name);
    SDL_free(record->description);
    SDL_free(record);
}

template <typename T>
T *cvar_get_typed(const char *name, int type)
{
    cvar_record *record = cvar_find(name);
    return (record && record->type == type) ? static_cast<T *>(record->value) : nullptr;
}

}  // namespace

int cvar_init()
{
    return 1;
}

const char *cvar_type_name(int type)
{
    switch (type) {
    case cvar_type_string: return "string";
    case cvar_type_int: return "int";
    case cvar_type_uint: return "uint";
    case cvar_type_float: return "float";
    case cvar_type_bool: return "bool";
    default: return nullptr;
    }
}

int cvar_register(const char *name, int type, const char *description, void *variable, const char *default_text)
{
    if (!name || !default_text) {
        SDL_SetError("cvar name and default value are required");
        return 0;
    }
    if (!cvar_type_name(type)) {
        SDL_SetError("Invalid type %d for cvar '%s'", type, name);
        return 0;
    }

    cvar_record *record = static_cast<cvar_record *>(SDL_calloc(1, sizeof(cvar_record)));
    if (!record) {
        SDL_OutOfMemory();
        return 0;
    }
    record->name = SDL_strdup(name);
    record->description = SDL_strdup(description ? description : "");
    if (!record->name || !record->description) {
        cvar_free_record(record);
        SDL_OutOfMemory();
        return 0;
    }
    record->type = type;
    record->value = variable ? variable : &record->slot;

    cvar_pending *pending = cvar_find_pending(name);
    const char *text = pending ? pending->value : default_text;
    const bool free_old = variable && type == cvar_type_string && cvar_owns_string(variable);
    if (!cvar_parse(type, record->value, text, free_old)) {
        cvar_free_record(record);
        return 0;
    }

    record->next = CVARS.registered;
    CVARS.registered = record;
    log_spam("Engine", "Registered cvar \"%s\" (\"%s\") [%s value: \"%s\"]", record->name, record->description,
             pending ? "pending" : "default", text);
    if (CVARS.callback) {
        CVARS.callback(CVARS.callback_context, record->name, record->description, record->type);
    }
    if (pending) {
        cvar_unlink_pending(pending);
        cvar_free_pending(pending);
    }
    return 1;
}

int cvar_register_string(const char *name, const char *description, char **variable, const char *default_text)
{
    return cvar_register(name, cvar_type_string, description, variable, default_text);
}

int cvar_register_int(const char *name, const char *description, int32_t *variable, int32_t value)
{
    char text[32];
    SDL_snprintf(text, sizeof(text), "%d", static_cast<int>(value));
    return cvar_register(name, cvar_type_int, description, variable, text);
}

int cvar_register_uint(const char *name, const char *description, uint32_t *variable, uint32_t value)
{
    char text[32];
    SDL_snprintf(text, sizeof(text), "%u", static_cast<unsigned>(value));
    return cvar_register(name, cvar_type_uint, description, variable, text);
}

int cvar_register_float(const char *name, const char *description, float *variable, float value)
{
    // "%f" of a huge float is long; measure rather than guess.
    const int length = SDL_snprintf(nullptr, 0, "%f", static_cast<double>(value));
    if (length < 0) {
        return 0;
    }
    char *text = static_cast<char *>(SDL_malloc(static_cast<size_t>(length) + 1));
    if (!text) {
        SDL_OutOfMemory();
        return 0;
    }
    SDL_snprintf(text, static_cast<size_t>(length) + 1, "%f", static_cast<double>(value));
    const int result = cvar_register(name, cvar_type_float, description, variable, text);
    SDL_free(text);
    return result;
}

int cvar_register_bool(const char *name, const char *description, int32_t *variable, int flag)
{
    return cvar_register(name, cvar_type_bool, description, variable, flag ? "true" : "false");
}

void *cvar_get(const char *name, int *out_type, const char **out_description)
{
    cvar_record *record = cvar_find(name);
    if (out_type) {
        *out_type = record ? record->type : 0;
    }
    if (out_description) {
        *out_description = record ? record->description : nullptr;
    }
    return record ? record->value : nullptr;
}

char **cvar_get_string(const char *name)
{
    return cvar_get_typed<char *>(name, cvar_type_string);
}

int32_t *cvar_get_int(const char *name)
{
    return cvar_get_typed<int32_t>(name, cvar_type_int);
}

uint32_t *cvar_get_uint(const char *name)
{
    return cvar_get_typed<uint32_t>(name, cvar_type_uint);
}

float *cvar_get_float(const char *name)
{
    return cvar_get_typed<float>(name, cvar_type_float);
}

int32_t *cvar_get_bool(const char *name)
{
    return cvar_get_typed<int32_t>(name, cvar_type_bool);
}

int cvar_set(const char *name, const char *text)
{
    if (!name || !text) {
        return 0;
    }

    if (cvar_record *record = cvar_find(name)) {
        if (record->locked) {
            log_error("Engine", "Refusing to set locked cvar '%s' to '%s'", name, text);
            return 0;
        }
        log_spam("Engine", "Setting cvar '%s' to '%s'.", name, text);
        return cvar_parse(record->type, record->value, text, true);
    }

    if (cvar_pending *pending = cvar_find_pending(name)) {
        char *copy = SDL_strdup(text);
        if (!copy) {
            SDL_OutOfMemory();
            return 0;
        }
        SDL_free(pending->value);
        pending->value = copy;
    } else {
        pending = static_cast<cvar_pending *>(SDL_calloc(1, sizeof(cvar_pending)));
        if (!pending) {
            SDL_OutOfMemory();
            return 0;
        }
        pending->name = SDL_strdup(name);
        pending->value = SDL_strdup(text);
        if (!pending->name || !pending->value) {
            cvar_free_pending(pending);
            SDL_OutOfMemory();
            return 0;
        }
        pending->next = CVARS.pending;
        if (CVARS.pending) {
            CVARS.pending->prev = pending;
        }
        CVARS.pending = pending;
    }
    log_spam("Engine", "Marked unregistered cvar '%s' (value '%s') as pending.", name, text);
    return 1;
}

int cvar_lock(const char *name)
{
    cvar_record *record = cvar_find(name);
    if (!record) {
        return 0;
    }
    record->locked = 1;
    return 1;
}

int cvar_unlock(const char *name)
{
    cvar_record *record = cvar_find(name);
    if (!record) {
        return 0;
    }
    record->locked = 0;
    return 1;
}

int cvar_islocked(const char *name)
{
    cvar_record *record = cvar_find(name);
    return record ? record->locked : 0;
}

void cvar_set_register_callback(cvar_register_callback callback, void *context)
{
    CVARS.callback = callback;
    CVARS.callback_context = context;
    if (!callback) {
        return;
    }
    for (cvar_record *record = CVARS.registered; record; record = record->next) {
        callback(context, record->name, record->description, record->type);
    }
}

void cvar_quit()
{
    cvar_record *record = CVARS.registered;
    CVARS.registered = nullptr;
    while (record) {
        cvar_record *next = record->next;
        if (record->type == cvar_type_string) {
            // A shadowed record may share the variable; the first one frees and
            // clears it, the later ones then see null.
            char **variable = static_cast<char **>(record->value);
            SDL_free(*variable);
            *variable = nullptr;
        }
        cvar_free_record(record);
        record = next;
    }

    cvar_pending *pending = CVARS.pending;
    CVARS.pending = nullptr;
    while (pending) {
        cvar_pending *next = pending->next;
        cvar_free_pending(pending);
        pending = next;
    }

    CVARS.callback = nullptr;
    CVARS.callback_context = nullptr;
}
