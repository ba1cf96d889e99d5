// FFI::Misc: text and sprite measurement for the framework, the clipboard, the
// log, cvars, locale and the platform queries that have fixed answers here.
#include "bindings/ffi.h"

#include <SDL.h>
#include <mruby/array.h>
#include <mruby/hash.h>
#include <mruby/string.h>

#include <cstdint>

#include "bindings/kvn.h"
#include "config/cvar.h"
#include "log/log.h"
#include "render/fontatlas.h"
#include "render/image.h"
#include "render/texture.h"

namespace {

constexpr float label_base_point_size = 22.0f;
constexpr float label_points_per_size_enum = 2.0f;
constexpr int unknown_sprite_size = 256;

struct cvar_type_entry {
    const char *name;
    int type;
};

constexpr cvar_type_entry cvar_type_names[] = {
    {"string", cvar_type_string}, {"int", cvar_type_int},   {"uint", cvar_type_uint},
    {"float", cvar_type_float},   {"bool", cvar_type_bool},
};

mrb_value pair(mrb_state *mrb, mrb_value a, mrb_value b)
{
    mrb_value values[2] = {a, b};
    return mrb_ary_new_from_values(mrb, 2, values);
}

mrb_value misc_get_thermal_state(mrb_state *mrb, mrb_value)
{
    const char *state = ffi_ios_get_thermal_state();
    return state ? mrb_str_new_cstr(mrb, state) : mrb_nil_value();
}

mrb_value misc_calcstringbox(mrb_state *mrb, mrb_value)
{
    const char *text = nullptr;
    mrb_float size_enum = 0;
    const char *font = nullptr;
    mrb_get_args(mrb, "zfz", &text, &size_enum, &font);
    const float size = label_base_point_size + label_points_per_size_enum * static_cast<float>(size_enum);
    float width = 0.0f;
    float height = 0.0f;
    if (!fontatlas_measure_uncached(ffi_context.render, font, text, size, &width, &height)) {
        width = 0.0f;
        height = 0.0f;
    }
    return pair(mrb, mrb_float_value(mrb, width), mrb_float_value(mrb, height));
}

mrb_value misc_calcspritebox(mrb_state *mrb, mrb_value)
{
    const char *path = nullptr;
    mrb_get_args(mrb, "z", &path);
    texture_entry_info info{};
    if (!ffi_context.render || !texture_entry_query(ffi_context.render, path, &info)) {
        return mrb_nil_value();
    }
    int width = info.width;
    int height = info.height;
    if (!info.has_texture && !info.has_pixels) {
        if (!load_image_only_dimensions(path, &width, &height)) {
            width = unknown_sprite_size;
            height = unknown_sprite_size;
        }
    } else if (width == -1) {
        return mrb_nil_value();
    }
    return pair(mrb, mrb_int_value(mrb, width), mrb_int_value(mrb, height));
}

struct text_view {
    const char *text;
};

mrb_value string_from_text(mrb_state *mrb, void *userdata)
{
    return mrb_str_new_cstr(mrb, static_cast<text_view *>(userdata)->text);
}

mrb_value misc_getclipboard(mrb_state *mrb, mrb_value)
{
    char *text = SDL_GetClipboardText();
    if (!text) {
        return mrb_str_new_lit(mrb, "");
    }
    text_view view{text};
    return ffi_protect_and_free(mrb, string_from_text, &view, text);
}

mrb_value misc_device_size(mrb_state *mrb, mrb_value)
{
    return mrb_ary_new(mrb);
}

mrb_value misc_log(mrb_state *mrb, mrb_value)
{
    const char *subsystem = nullptr;
    mrb_int level = 0;
    const char *message = nullptr;
    mrb_get_args(mrb, "z!iz!", &subsystem, &level, &message);
    if (level < INT32_MIN) {
        level = INT32_MIN;
    } else if (level > INT32_MAX) {
        level = INT32_MAX;
    }
    kvn_log_write(subsystem ? subsystem : "Game", static_cast<int32_t>(level), message);
    return mrb_nil_value();
}

mrb_value misc_cvar_register(mrb_state *mrb, mrb_value)
{
    const char *name = nullptr;
    const char *description = nullptr;
    const char *type_name = nullptr;
    const char *default_text = nullptr;
    mrb_get_args(mrb, "zzzz", &name, &description, &type_name, &default_text);
    for (const cvar_type_entry &entry : cvar_type_names) {
        if (SDL_strcmp(entry.name, type_name) == 0) {
            return mrb_bool_value(cvar_register(name, entry.type, description, nullptr, default_text) != 0);
        }
    }
    log_error("Engine", "Can't register cvar '%s' with unknown type '%s' (try 'string', 'int', 'uint', 'float', or 'bool').",
              name, type_name);
    return mrb_false_value();
}

mrb_value misc_cvar_get(mrb_state *mrb, mrb_value)
{
    const char *name = nullptr;
    mrb_get_args(mrb, "z", &name);
    int type = 0;
    void *value = cvar_get(name, &type, nullptr);
    if (!value) {
        return mrb_nil_value();
    }
    switch (type) {
    case cvar_type_string: {
        const char *text = *static_cast<char **>(value);
        return mrb_str_new_cstr(mrb, text ? text : "");
    }
    case cvar_type_int: return mrb_int_value(mrb, *static_cast<int32_t *>(value));
    case cvar_type_uint: return mrb_int_value(mrb, *static_cast<uint32_t *>(value));
    case cvar_type_float: return mrb_float_value(mrb, *static_cast<float *>(value));
    case cvar_type_bool: return mrb_bool_value(*static_cast<int32_t *>(value) != 0);
    default: return mrb_nil_value();
    }
}

mrb_value misc_cvar_set(mrb_state *mrb, mrb_value)
{
    const char *name = nullptr;
    const char *text = nullptr;
    mrb_get_args(mrb, "zz", &name, &text);
    return mrb_bool_value(cvar_set(name, text) != 0);
}

mrb_value misc_cvar_islocked(mrb_state *mrb, mrb_value)
{
    const char *name = nullptr;
    mrb_get_args(mrb, "z", &name);
    return mrb_bool_value(cvar_islocked(name) != 0);
}

mrb_value misc_touch_enabled(mrb_state *, mrb_value)
{
    return mrb_false_value();
}

mrb_value misc_get_locale(mrb_state *mrb, mrb_value)
{
    // Copied out before the list is freed, so nothing is owned when the string is made.
    char language[64] = "";
    if (SDL_Locale *locales = SDL_GetPreferredLocales()) {
        if (locales[0].language) {
            SDL_strlcpy(language, locales[0].language, sizeof language);
        }
        SDL_free(locales);
    }
    return language[0] ? mrb_str_new_cstr(mrb, language) : mrb_nil_value();
}

mrb_value misc_android_get_shared_preferences(mrb_state *mrb, mrb_value)
{
    mrb_value ignored;
    mrb_get_args(mrb, "o", &ignored);
    ffi_android_get_shared_preferences();
    return mrb_nil_value();
}

mrb_value misc_ios_get_standard_user_defaults(mrb_state *mrb, mrb_value)
{
    mrb_value ignored;
    mrb_get_args(mrb, "o", &ignored);
    ffi_ios_get_standard_user_defaults();
    return mrb_hash_new(mrb);
}

mrb_value misc_request_quit_fatal(mrb_state *mrb, mrb_value)
{
    mrb_value ignored;
    mrb_get_args(mrb, "o", &ignored);
    ffi_ios_request_quit_fatal(nullptr);
    return mrb_nil_value();
}

// Controllers, XML and JSON, HTTP, the development server and native extensions
// add their methods with their subsystems.
constexpr ffi_method misc_methods[] = {
    {"get_thermal_state", misc_get_thermal_state, MRB_ARGS_NONE()},
    {"calcstringbox", misc_calcstringbox, MRB_ARGS_REQ(3)},
    {"calcspritebox", misc_calcspritebox, MRB_ARGS_REQ(1)},
    {"getclipboard", misc_getclipboard, MRB_ARGS_NONE()},
    {"device_size", misc_device_size, MRB_ARGS_NONE()},
    {"log", misc_log, MRB_ARGS_REQ(3)},
    {"cvar_register", misc_cvar_register, MRB_ARGS_REQ(4)},
    {"cvar_get", misc_cvar_get, MRB_ARGS_REQ(1)},
    {"cvar_set", misc_cvar_set, MRB_ARGS_REQ(2)},
    {"cvar_islocked", misc_cvar_islocked, MRB_ARGS_REQ(1)},
    {"touch_enabled?", misc_touch_enabled, MRB_ARGS_NONE()},
    {"get_locale", misc_get_locale, MRB_ARGS_NONE()},
    {"android_get_sharedPreferences", misc_android_get_shared_preferences, MRB_ARGS_REQ(1)},
    {"ios_get_standardUserDefaults", misc_ios_get_standard_user_defaults, MRB_ARGS_REQ(1)},
    {"request_quit_fatal", misc_request_quit_fatal, MRB_ARGS_REQ(1)},
};

} // namespace

RClass *ffi_define_misc(mrb_state *mrb, RClass *ffi)
{
    RClass *misc = mrb_define_class_under(mrb, ffi, "Misc", mrb->object_class);
    ffi_define_methods(mrb, misc, misc_methods);
    return misc;
}
