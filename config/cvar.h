// Console variables: named, typed engine settings whose values live in their
// owners' variables. The registry parses text into them, refuses locked ones and
// keeps values set before registration as pending. Start-up, the cvars files, the
// metadata loader and the script bindings set them.
#pragma once

#include <cstdint>

enum cvar_type : int {
    cvar_type_string = 1,  // char *, owned by the registry
    cvar_type_int = 2,     // int32_t
    cvar_type_uint = 3,    // uint32_t
    cvar_type_float = 4,   // float
    cvar_type_bool = 5,    // int32_t, 0 or 1
};

typedef void (*cvar_register_callback)(void *context, const char *name, const char *description, int type);

int cvar_init();
int cvar_register(const char *name, int type, const char *description, void *variable, const char *default_text);
int cvar_register_string(const char *name, const char *description, char **variable, const char *default_text);
int cvar_register_int(const char *name, const char *description, int32_t *variable, int32_t value);
int cvar_register_uint(const char *name, const char *description, uint32_t *variable, uint32_t value);
int cvar_register_float(const char *name, const char *description, float *variable, float value);
int cvar_register_bool(const char *name, const char *description, int32_t *variable, int flag);

void *cvar_get(const char *name, int *out_type, const char **out_description);
char **cvar_get_string(const char *name);
int32_t *cvar_get_int(const char *name);
uint32_t *cvar_get_uint(const char *name);
float *cvar_get_float(const char *name);
int32_t *cvar_get_bool(const char *name);

int cvar_set(const char *name, const char *text);
int cvar_lock(const char *name);
int cvar_unlock(const char *name);
int cvar_islocked(const char *name);
void cvar_set_register_callback(cvar_register_callback callback, void *context);
void cvar_quit();

// "string", "int", "uint", "float", "bool" for 1..5; null otherwise.
const char *cvar_type_name(int type);

// Reads a cvars file (key = value lines) through the virtual file system.
int load_cvars_from_file(const char *path);
