// Conversion of script values into record fields, the alpha gate, string fields
// and the texture atlas lookup shared by every packer.
#include "stream/pack.h"

#include <SDL.h>
#include <mruby/string.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>

#include "render/render_context.h"
#include "stream/threadstream.h"

int32_t pack_to_int(mrb_value v, int32_t fallback)
{
    if (mrb_integer_p(v)) {
        // Low 32 bits, as the record field holds them (pixels such as 0xFF0000FF).
        return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(mrb_integer(v))));
    }
    if (mrb_float_p(v)) {
        double d = mrb_float(v);
        if (std::isnan(d)) {
            return fallback;
        }
        if (d >= 2147483647.0) {
            return INT32_MAX;
        }
        if (d <= -2147483648.0) {
            return INT32_MIN;
        }
        return static_cast<int32_t>(d);
    }
    return fallback;
}

float pack_to_float(mrb_value v, float fallback)
{
    if (mrb_integer_p(v)) {
        return static_cast<float>(mrb_integer(v));
    }
    if (mrb_float_p(v)) {
        double d = mrb_float(v);
        if (std::isnan(d)) {
            return fallback;
        }
        // Out-of-range values would be undefined as floats: clamp them.
        if (d > FLT_MAX) {
            return FLT_MAX;
        }
        if (d < -FLT_MAX) {
            return -FLT_MAX;
        }
        return static_cast<float>(d);
    }
    return fallback;
}

int32_t pack_to_flag(mrb_value v)
{
    return mrb_test(v) ? 1 : 0;
}

bool pack_alpha_passes(mrb_value a, int32_t *alpha)
{
    if (mrb_nil_p(a)) {
        *alpha = 255;
        return true;
    }
    if (mrb_integer_p(a) || (mrb_float_p(a) && !std::isnan(mrb_float(a)))) {
        *alpha = pack_to_int(a, 0);
        return *alpha != 0;
    }
    return false;
}

int threadstream_pack_ruby_int(threadstream *s, mrb_value v)
{
    return threadstream_pack_int(s, pack_to_int(v, 0));
}

int threadstream_pack_ruby_float(threadstream *s, mrb_value v)
{
    return threadstream_pack_float(s, pack_to_float(v, 0.0f));
}

int threadstream_pack_ruby_int_or_default(threadstream *s, mrb_value v, int32_t fallback)
{
    return threadstream_pack_int(s, pack_to_int(v, fallback));
}

int threadstream_pack_ruby_float_or_default(threadstream *s, mrb_value v, float fallback)
{
    return threadstream_pack_float(s, pack_to_float(v, fallback));
}

int threadstream_pack_ruby_string(threadstream *s, mrb_value str)
{
    if (!mrb_string_p(str)) {
        return threadstream_pack_buffer(s, nullptr, 0);
    }
    return threadstream_pack_buffer(s, RSTRING_PTR(str), static_cast<uint32_t>(RSTRING_LEN(str)));
}

int threadstream_pack_ruby_string_or_default(threadstream *s, mrb_value str, const char *text)
{
    if (!mrb_string_p(str)) {
        return threadstream_pack_string(s, text);
    }
    return threadstream_pack_ruby_string(s, str);
}

int threadstream_pack_c_string(threadstream *s, const char *text)
{
    return threadstream_pack_string(s, text);
}

void get_texture_atlas_value(texture_atlas_value *out, mrb_value path_value)
{
    out->found = 0;
    if (!mrb_string_p(path_value) || texture_atlas_table_count() == 0) {
        return;
    }
    // Interpreter strings that share another string's bytes are not terminated at
    // their own length: look up a terminated copy. Longer paths are never atlas keys.
    char key[1024];
    mrb_int length = RSTRING_LEN(path_value);
    if (length >= static_cast<mrb_int>(sizeof key)) {
        return;
    }
    std::memcpy(key, RSTRING_PTR(path_value), static_cast<size_t>(length));
    key[length] = '\0';
    const texture_atlas_entry *entry = texture_atlas_table_get(key);
    if (!entry) {
        return;
    }
    out->found = 1;
    for (int i = 0; i < texture_atlas_variant_count; i++) {
        out->variants[i] = entry->variants[i];
    }
}

int pack_texture_scale_percent()
{
    render_context *ctx = the_render_context;
    return ctx && ctx->texture_scale_enum > 0 ? ctx->texture_scale_enum : 100;
}
