// The sprite record: the core writer with atlas substitution, and its readers for
// Hashes (one walk over the keys), plain objects (method calls), strict entities
// (instance variables) and the three-dimensional variants.
#include "stream/pack.h"
#include "stream/pack_attrs.h"

#include <SDL.h>
#include <mruby/string.h>
#include <mruby/variable.h>

#include "stream/records.h"
#include "stream/threadstream.h"

namespace {

constexpr int sprite_default_texture_scale = 100;

struct SpritePath {
    const char *bytes;
    uint32_t length;
    int32_t texture_scale;
};

// The atlas variant for a texture scale percent: the listed scale itself, else the
// largest listed scale below it.
int variant_index(int percent)
{
    int index = 0;
    for (int i = 0; i < texture_atlas_variant_count; i++) {
        if (texture_atlas_scales[i] <= percent) {
            index = i;
        }
    }
    return index;
}

SpritePath sprite_path(mrb_state *mrb, mrb_value path, const texture_atlas_value *atlas, int percent)
{
    if (mrb_string_p(path)) {
        if (atlas && atlas->found) {
            const texture_atlas_variant &variant = atlas->variants[variant_index(percent)];
            if (variant.path) {
                return {variant.path, static_cast<uint32_t>(SDL_strlen(variant.path)), variant.scale_enum};
            }
        }
        return {RSTRING_PTR(path), static_cast<uint32_t>(RSTRING_LEN(path)), sprite_default_texture_scale};
    }
    if (mrb_symbol_p(path)) {
        mrb_int length = 0;
        const char *name = mrb_sym_name_len(mrb, mrb_symbol(path), &length);
        if (name) {
            return {name, static_cast<uint32_t>(length), sprite_default_texture_scale};
        }
    }
    return {"pixel", 5, sprite_default_texture_scale};
}

// Writes the 29 fields from attribute-indexed values. vr takes z and the two
// angle axes from the primitive and leaves the anchors at 0.
int write_sprite(threadstream *s, mrb_state *mrb, const mrb_value *v, bool flip_h, bool flip_v,
                 const texture_atlas_value *atlas, int percent, bool vr)
{
    int32_t alpha = 0;
    if (!s || !pack_alpha_passes(v[attr_a], &alpha)) {
        return 0;
    }
    SpritePath path = sprite_path(mrb, v[attr_path], vr ? nullptr : atlas, percent);
    mrb_value nil = mrb_nil_value();
    threadstream_pack_int(s, record_sprite);
    threadstream_pack_buffer(s, path.bytes, path.length);
    threadstream_pack_ruby_float(s, v[attr_x]);
    threadstream_pack_ruby_float(s, v[attr_y]);
    threadstream_pack_ruby_float(s, vr ? v[attr_z] : nil);
    threadstream_pack_ruby_float(s, v[attr_w]);
    threadstream_pack_ruby_float(s, v[attr_h]);
    threadstream_pack_ruby_float(s, vr ? v[attr_angle_x] : nil);
    threadstream_pack_ruby_float(s, vr ? v[attr_angle_y] : nil);
    threadstream_pack_ruby_float(s, v[attr_angle]);
    threadstream_pack_ruby_int_or_default(s, v[attr_r], 255);
    threadstream_pack_ruby_int_or_default(s, v[attr_g], 255);
    threadstream_pack_ruby_int_or_default(s, v[attr_b], 255);
    threadstream_pack_int(s, alpha);
    threadstream_pack_ruby_float(s, v[attr_tile_x]);
    threadstream_pack_ruby_float(s, v[attr_tile_y]);
    threadstream_pack_ruby_float_or_default(s, v[attr_tile_w], -1.0f);
    threadstream_pack_ruby_float_or_default(s, v[attr_tile_h], -1.0f);
    threadstream_pack_ruby_float(s, v[attr_source_x]);
    threadstream_pack_ruby_float(s, v[attr_source_y]);
    threadstream_pack_ruby_float_or_default(s, v[attr_source_w], -1.0f);
    threadstream_pack_ruby_float_or_default(s, v[attr_source_h], -1.0f);
    threadstream_pack_int(s, flip_h ? 1 : 0);
    threadstream_pack_int(s, flip_v ? 1 : 0);
    threadstream_pack_ruby_float_or_default(s, v[attr_angle_anchor_x], 0.5f);
    threadstream_pack_ruby_float_or_default(s, v[attr_angle_anchor_y], 0.5f);
    threadstream_pack_ruby_int_or_default(s, v[attr_blendmode_enum], 1);
    threadstream_pack_int(s, path.texture_scale);
    threadstream_pack_ruby_float(s, vr ? nil : v[attr_anchor_x]);
    threadstream_pack_ruby_float(s, vr ? nil : v[attr_anchor_y]);
    return s->error ? 0 : 1;
}

int pack_collected(mrb_state *mrb, const pack_values &values, bool vr)
{
    int32_t alpha = 0;
    if (!pack_alpha_passes(values.v[attr_a], &alpha)) {
        return 0;  // before any lookup: a transparent primitive costs nothing
    }
    texture_atlas_value atlas;
    atlas.found = 0;
    if (!vr) {
        get_texture_atlas_value(&atlas, values.v[attr_path]);
    }
    return write_sprite(pack_primitive_stream(), mrb, values.v, mrb_test(values.v[attr_flip_horizontally]),
                        mrb_test(values.v[attr_flip_vertically]), &atlas, pack_texture_scale_percent(), vr);
}

int pack_hash(mrb_state *mrb, mrb_value hash, bool vr)
{
    if (!mrb_hash_p(hash)) {
        return 0;
    }
    pack_values values;
    pack_collect_hash(mrb, hash, values);
    if (!mrb_nil_p(values.v[attr_source_x3])) {
        return 0;  // a triangle: not drawn by this system
    }
    return pack_collected(mrb, values, vr);
}

int pack_object(mrb_state *mrb, mrb_value obj, bool vr)
{
    if (pack_drew_itself(mrb, obj)) {
        return 0;
    }
    pack_values values;
    if (!pack_call_attributes(mrb, obj, {attr_w, attr_h, attr_path}, values)) {
        return 0;
    }
    if (mrb_nil_p(values.v[attr_w]) && mrb_nil_p(values.v[attr_h])) {
        return 0;  // a triangle
    }
    if (!pack_call_attributes(mrb, obj,
                              {attr_x, attr_y, attr_angle, attr_a, attr_r, attr_g, attr_b, attr_tile_x, attr_tile_y,
                               attr_tile_w, attr_tile_h, attr_flip_horizontally, attr_flip_vertically,
                               attr_angle_anchor_x, attr_angle_anchor_y, attr_source_x, attr_source_y,
                               attr_source_w, attr_source_h, attr_blendmode_enum, attr_anchor_x, attr_anchor_y},
                              values)) {
        return 0;
    }
    if (vr && !pack_call_attributes(mrb, obj, {attr_z, attr_angle_x, attr_angle_y}, values)) {
        return 0;
    }
    return pack_collected(mrb, values, vr);
}

} // namespace

int threadstream_pack_sprite(threadstream *s, const texture_atlas_value *atlas_entry, int texture_scale_percent,
                             mrb_state *mrb, mrb_value x, mrb_value y, mrb_value w, mrb_value h, mrb_value path,
                             mrb_value angle, mrb_value a, mrb_value r, mrb_value g, mrb_value b, mrb_value tile_x,
                             mrb_value tile_y, mrb_value tile_w, mrb_value tile_h, bool flip_horizontally,
                             bool flip_vertically, mrb_value angle_anchor_x, mrb_value angle_anchor_y,
                             mrb_value source_x, mrb_value source_y, mrb_value source_w, mrb_value source_h,
                             mrb_value blendmode_enum, mrb_value anchor_x, mrb_value anchor_y)
{
    pack_values values;
    mrb_value *v = values.v;
    v[attr_x] = x, v[attr_y] = y, v[attr_w] = w, v[attr_h] = h, v[attr_path] = path, v[attr_angle] = angle;
    v[attr_a] = a, v[attr_r] = r, v[attr_g] = g, v[attr_b] = b;
    v[attr_tile_x] = tile_x, v[attr_tile_y] = tile_y, v[attr_tile_w] = tile_w, v[attr_tile_h] = tile_h;
    v[attr_angle_anchor_x] = angle_anchor_x, v[attr_angle_anchor_y] = angle_anchor_y;
    v[attr_source_x] = source_x, v[attr_source_y] = source_y, v[attr_source_w] = source_w;
    v[attr_source_h] = source_h, v[attr_blendmode_enum] = blendmode_enum;
    v[attr_anchor_x] = anchor_x, v[attr_anchor_y] = anchor_y;
    return write_sprite(s, mrb, v, flip_horizontally, flip_vertically, atlas_entry, texture_scale_percent, false);
}

int threadstream_pack_sprite_hash(mrb_state *mrb, mrb_value hash)
{
    return pack_hash(mrb, hash, false);
}

int threadstream_pack_sprite_object(mrb_state *mrb, mrb_value obj)
{
    return pack_object(mrb, obj, false);
}

int threadstream_pack_sprite_strict_entity(mrb_state *mrb, mrb_value entity)
{
    if (!mrb_nil_p(mrb_iv_get(mrb, entity, pack_sym.ivar[attr_source_x3]))) {
        return 0;  // a triangle
    }
    pack_values values;
    for (int attr : {attr_path, attr_x, attr_y, attr_w, attr_h, attr_angle, attr_a, attr_r, attr_g, attr_b,
                     attr_tile_x, attr_tile_y, attr_tile_w, attr_tile_h, attr_flip_horizontally,
                     attr_flip_vertically, attr_angle_anchor_x, attr_angle_anchor_y, attr_source_x, attr_source_y,
                     attr_source_w, attr_source_h, attr_blendmode_enum, attr_anchor_x, attr_anchor_y}) {
        values.v[attr] = mrb_iv_get(mrb, entity, pack_sym.ivar[attr]);
    }
    return pack_collected(mrb, values, false);
}

int threadstream_pack_sprite_vr(threadstream *s, mrb_state *mrb, mrb_value x, mrb_value y, mrb_value z, mrb_value w,
                                mrb_value h, mrb_value path, mrb_value angle_x, mrb_value angle_y, mrb_value angle,
                                mrb_value a, mrb_value r, mrb_value g, mrb_value b, mrb_value tile_x,
                                mrb_value tile_y, mrb_value tile_w, mrb_value tile_h, bool flip_horizontally,
                                bool flip_vertically, mrb_value angle_anchor_x, mrb_value angle_anchor_y,
                                mrb_value source_x, mrb_value source_y, mrb_value source_w, mrb_value source_h,
                                mrb_value blendmode_enum)
{
    pack_values values;
    mrb_value *v = values.v;
    v[attr_x] = x, v[attr_y] = y, v[attr_z] = z, v[attr_w] = w, v[attr_h] = h, v[attr_path] = path;
    v[attr_angle_x] = angle_x, v[attr_angle_y] = angle_y, v[attr_angle] = angle;
    v[attr_a] = a, v[attr_r] = r, v[attr_g] = g, v[attr_b] = b;
    v[attr_tile_x] = tile_x, v[attr_tile_y] = tile_y, v[attr_tile_w] = tile_w, v[attr_tile_h] = tile_h;
    v[attr_angle_anchor_x] = angle_anchor_x, v[attr_angle_anchor_y] = angle_anchor_y;
    v[attr_source_x] = source_x, v[attr_source_y] = source_y, v[attr_source_w] = source_w;
    v[attr_source_h] = source_h, v[attr_blendmode_enum] = blendmode_enum;
    return write_sprite(s, mrb, v, flip_horizontally, flip_vertically, nullptr, 100, true);
}

int threadstream_pack_sprite_hash_vr(mrb_state *mrb, mrb_value hash)
{
    return pack_hash(mrb, hash, true);
}

int threadstream_pack_sprite_object_vr(mrb_state *mrb, mrb_value obj)
{
    return pack_object(mrb, obj, true);
}

int threadstream_pack_triangle(threadstream *, mrb_state *)
{
    return 0;
}

int threadstream_pack_triangle_vr(threadstream *, mrb_state *)
{
    return 0;
}
