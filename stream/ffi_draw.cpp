// FFI::Draw's methods: argument parsing with the interpreter's own checks, then one
// record through the packers. Primitives pass the alpha gate before anything is
// written; the records land where the sink says (stream/pack.h).
#include "stream/ffi_draw.h"

#include <SDL.h>
#include <mruby/array.h>
#include <mruby/string.h>

#include <climits>

#include "engine/game_context.h"
#include "render/render_context.h"
#include "stream/pack.h"
#include "stream/records.h"
#include "stream/threadstream.h"

int32_t ffi_draw_set_grid_global_tick = INT32_MIN;

namespace {

mrb_value nil()
{
    return mrb_nil_value();
}

// The stream a primitive goes to, or null when it writes nothing: no current
// stream, or an alpha the gate refuses (checked first, so a transparent primitive
// costs nothing).
threadstream *primitive_stream(mrb_value a)
{
    int32_t alpha = 0;
    return pack_alpha_passes(a, &alpha) ? pack_primitive_stream() : nullptr;
}

// --- Solids and borders ----------------------------------------------------

// x, y, w, h, r, g, b, a, then blendmode_enum and the two anchors when given.
mrb_value draw_rect(mrb_state *mrb, bool border, int count)
{
    mrb_value v[11] = {nil(), nil(), nil(), nil(), nil(), nil(), nil(), nil(), nil(), nil(), nil()};
    if (count == 8) {
        mrb_get_args(mrb, "oooooooo", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7]);
    } else if (count == 9) {
        mrb_get_args(mrb, "ooooooooo", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8]);
    } else {
        mrb_get_args(mrb, "ooooooooooo", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9],
                     &v[10]);
    }
    threadstream *s = primitive_stream(v[7]);
    auto pack = border ? threadstream_pack_border : threadstream_pack_solid;
    pack(s, mrb, v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10]);
    return nil();
}

mrb_value draw_solid(mrb_state *mrb, mrb_value) { return draw_rect(mrb, false, 8); }
mrb_value draw_solid_2(mrb_state *mrb, mrb_value) { return draw_rect(mrb, false, 9); }
mrb_value draw_solid_3(mrb_state *mrb, mrb_value) { return draw_rect(mrb, false, 11); }
mrb_value draw_border(mrb_state *mrb, mrb_value) { return draw_rect(mrb, true, 8); }
mrb_value draw_border_2(mrb_state *mrb, mrb_value) { return draw_rect(mrb, true, 9); }
mrb_value draw_border_3(mrb_state *mrb, mrb_value) { return draw_rect(mrb, true, 11); }

// --- Lines -----------------------------------------------------------------

mrb_value draw_line_common(mrb_state *mrb, bool with_blendmode)
{
    mrb_value x, y, x2, y2, r, g, b, a, blendmode = nil();
    if (with_blendmode) {
        mrb_get_args(mrb, "ooooooooo", &x, &y, &x2, &y2, &r, &g, &b, &a, &blendmode);
    } else {
        mrb_get_args(mrb, "oooooooo", &x, &y, &x2, &y2, &r, &g, &b, &a);
    }
    threadstream_pack_line(primitive_stream(a), mrb, x, y, nil(), nil(), x2, y2, r, g, b, a, blendmode);
    return nil();
}

mrb_value draw_line(mrb_state *mrb, mrb_value) { return draw_line_common(mrb, false); }
mrb_value draw_line_2(mrb_state *mrb, mrb_value) { return draw_line_common(mrb, true); }

// --- Sprites ---------------------------------------------------------------

// Attribute order of the draw_sprite methods after x, y, w, h and path.
enum SpriteArg {
    s_x, s_y, s_w, s_h, s_path, s_angle, s_a, s_r, s_g, s_b, s_tile_x, s_tile_y, s_tile_w, s_tile_h,
    s_angle_anchor_x, s_angle_anchor_y, s_source_x, s_source_y, s_source_w, s_source_h, s_blendmode,
    s_anchor_x, s_anchor_y, s_count
};

void pack_sprite_args(mrb_state *mrb, const mrb_value *v, bool flip_h, bool flip_v)
{
    threadstream *s = primitive_stream(v[s_a]);
    if (!s) {
        return;
    }
    texture_atlas_value atlas;
    get_texture_atlas_value(&atlas, v[s_path]);
    threadstream_pack_sprite(s, &atlas, pack_texture_scale_percent(), mrb, v[s_x], v[s_y], v[s_w], v[s_h],
                             v[s_path], v[s_angle], v[s_a], v[s_r], v[s_g], v[s_b], v[s_tile_x], v[s_tile_y],
                             v[s_tile_w], v[s_tile_h], flip_h, flip_v, v[s_angle_anchor_x], v[s_angle_anchor_y],
                             v[s_source_x], v[s_source_y], v[s_source_w], v[s_source_h], v[s_blendmode],
                             v[s_anchor_x], v[s_anchor_y]);
}

struct SpriteArgs {
    mrb_value v[s_count];
    mrb_bool flip_h = FALSE, flip_v = FALSE;
    SpriteArgs()
    {
        for (mrb_value &value : v) {
            value = mrb_nil_value();
        }
    }
};

mrb_value draw_sprite(mrb_state *mrb, mrb_value)
{
    SpriteArgs a;
    mrb_get_args(mrb, "ooooS", &a.v[s_x], &a.v[s_y], &a.v[s_w], &a.v[s_h], &a.v[s_path]);
    pack_sprite_args(mrb, a.v, false, false);
    return nil();
}

mrb_value draw_sprite_2(mrb_state *mrb, mrb_value)
{
    SpriteArgs a;
    mrb_get_args(mrb, "ooooSoo", &a.v[s_x], &a.v[s_y], &a.v[s_w], &a.v[s_h], &a.v[s_path], &a.v[s_angle],
                 &a.v[s_a]);
    pack_sprite_args(mrb, a.v, false, false);
    return nil();
}

// The 22 arguments of draw_sprite_3, then blendmode_enum (23) and the anchors (25).
mrb_value draw_sprite_n(mrb_state *mrb, int count)
{
    SpriteArgs a;
    mrb_value *v = a.v;
    if (count == 22) {
        mrb_get_args(mrb, "ooooSooooooooobboooooo", &v[s_x], &v[s_y], &v[s_w], &v[s_h], &v[s_path], &v[s_angle],
                     &v[s_a], &v[s_r], &v[s_g], &v[s_b], &v[s_tile_x], &v[s_tile_y], &v[s_tile_w], &v[s_tile_h],
                     &a.flip_h, &a.flip_v, &v[s_angle_anchor_x], &v[s_angle_anchor_y], &v[s_source_x],
                     &v[s_source_y], &v[s_source_w], &v[s_source_h]);
    } else if (count == 23) {
        mrb_get_args(mrb, "ooooSooooooooobbooooooo", &v[s_x], &v[s_y], &v[s_w], &v[s_h], &v[s_path], &v[s_angle],
                     &v[s_a], &v[s_r], &v[s_g], &v[s_b], &v[s_tile_x], &v[s_tile_y], &v[s_tile_w], &v[s_tile_h],
                     &a.flip_h, &a.flip_v, &v[s_angle_anchor_x], &v[s_angle_anchor_y], &v[s_source_x],
                     &v[s_source_y], &v[s_source_w], &v[s_source_h], &v[s_blendmode]);
    } else {
        mrb_get_args(mrb, "ooooSooooooooobbooooooooo", &v[s_x], &v[s_y], &v[s_w], &v[s_h], &v[s_path],
                     &v[s_angle], &v[s_a], &v[s_r], &v[s_g], &v[s_b], &v[s_tile_x], &v[s_tile_y], &v[s_tile_w],
                     &v[s_tile_h], &a.flip_h, &a.flip_v, &v[s_angle_anchor_x], &v[s_angle_anchor_y],
                     &v[s_source_x], &v[s_source_y], &v[s_source_w], &v[s_source_h], &v[s_blendmode],
                     &v[s_anchor_x], &v[s_anchor_y]);
    }
    pack_sprite_args(mrb, v, a.flip_h, a.flip_v);
    return nil();
}

mrb_value draw_sprite_3(mrb_state *mrb, mrb_value) { return draw_sprite_n(mrb, 22); }
mrb_value draw_sprite_4(mrb_state *mrb, mrb_value) { return draw_sprite_n(mrb, 23); }
mrb_value draw_sprite_5(mrb_state *mrb, mrb_value) { return draw_sprite_n(mrb, 25); }

mrb_value draw_sprite_hash(mrb_state *mrb, mrb_value)
{
    mrb_value hash;
    mrb_get_args(mrb, "H", &hash);
    threadstream_pack_sprite_hash(mrb, hash);
    return nil();
}

// --- Labels ----------------------------------------------------------------

// x, y, text, size_enum, alignment_enum, r, g, b, a, font, then
// vertical_alignment_enum (11), blendmode_enum (12), size_px (13), anchors (15).
mrb_value draw_label_n(mrb_state *mrb, int count)
{
    mrb_value x, y, text, size_enum, alignment, r, g, b, a, font;
    mrb_value valign = nil(), blendmode = nil(), size_px = nil(), anchor_x = nil(), anchor_y = nil();
    switch (count) {
    case 10:
        mrb_get_args(mrb, "ooSooooooo", &x, &y, &text, &size_enum, &alignment, &r, &g, &b, &a, &font);
        break;
    case 11:
        mrb_get_args(mrb, "ooSoooooooo", &x, &y, &text, &size_enum, &alignment, &r, &g, &b, &a, &font, &valign);
        break;
    case 12:
        mrb_get_args(mrb, "ooSooooooooo", &x, &y, &text, &size_enum, &alignment, &r, &g, &b, &a, &font, &valign,
                     &blendmode);
        break;
    case 13:
        mrb_get_args(mrb, "ooSoooooooooo", &x, &y, &text, &size_enum, &alignment, &r, &g, &b, &a, &font, &valign,
                     &blendmode, &size_px);
        break;
    default:
        mrb_get_args(mrb, "ooSoooooooooooo", &x, &y, &text, &size_enum, &alignment, &r, &g, &b, &a, &font,
                     &valign, &blendmode, &size_px, &anchor_x, &anchor_y);
        break;
    }
    thread_stream_pack_label(primitive_stream(a), mrb, x, y, nil(), text, font, size_enum, alignment, r, g, b, a,
                             valign, blendmode, size_px, anchor_x, anchor_y);
    return nil();
}

mrb_value draw_label(mrb_state *mrb, mrb_value) { return draw_label_n(mrb, 10); }
mrb_value draw_label_2(mrb_state *mrb, mrb_value) { return draw_label_n(mrb, 11); }
mrb_value draw_label_3(mrb_state *mrb, mrb_value) { return draw_label_n(mrb, 12); }
mrb_value draw_label_4(mrb_state *mrb, mrb_value) { return draw_label_n(mrb, 13); }
mrb_value draw_label_5(mrb_state *mrb, mrb_value) { return draw_label_n(mrb, 15); }

// --- Triangles, screenshots, accessibility ---------------------------------

mrb_value draw_triangle(mrb_state *, mrb_value)
{
    return nil();  // triangles are not drawn by this system
}

mrb_value draw_screenshot(mrb_state *mrb, mrb_value)
{
    mrb_value path, x, y, w, h, tolerance, a, r, g, b;
    const mrb_value *ignored;
    mrb_int ignored_count;
    mrb_get_args(mrb, "Sooooooooo*", &path, &x, &y, &w, &h, &tolerance, &a, &r, &g, &b, &ignored, &ignored_count);
    threadstream *s = pack_toplevel_stream();
    threadstream_pack_int(s, record_screenshot);
    threadstream_pack_ruby_string(s, path);
    threadstream_pack_ruby_float(s, x);
    threadstream_pack_ruby_float(s, y);
    threadstream_pack_ruby_float(s, w);
    threadstream_pack_ruby_float(s, h);
    threadstream_pack_ruby_int(s, tolerance);
    threadstream_pack_ruby_int(s, r);
    threadstream_pack_ruby_int(s, g);
    threadstream_pack_ruby_int(s, b);
    threadstream_pack_ruby_int_or_default(s, a, 255);  // 255: no colour is keyed out
    return nil();
}

mrb_value draw_a11ys(mrb_state *mrb, mrb_value)
{
    mrb_value entries;
    mrb_get_args(mrb, "A", &entries);
    threadstream_pack_a11ys(pack_toplevel_stream(), mrb, entries);
    return nil();
}

// --- Window, cursor and resources ------------------------------------------

int32_t int32_of(mrb_int v)
{
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
}

mrb_value set_grid(mrb_state *mrb, mrb_value)
{
    mrb_float origin_x, origin_y;
    mrb_int y_direction;
    mrb_get_args(mrb, "ffi", &origin_x, &origin_y, &y_direction);
    threadstream *s = pack_toplevel_stream();
    if (!s) {
        return nil();  // no record, so the grid does not change this tick
    }
    if (the_render_context) {
        ffi_draw_set_grid_global_tick = the_render_context->global_tick_count;
    }
    threadstream_pack_int(s, record_set_grid);
    threadstream_pack_ruby_float(s, mrb_float_value(mrb, origin_x));
    threadstream_pack_ruby_float(s, mrb_float_value(mrb, origin_y));
    threadstream_pack_int(s, int32_of(y_direction));
    return nil();
}

// A record of one text field.
mrb_value text_record(mrb_state *mrb, int32_t code)
{
    const char *text;
    mrb_get_args(mrb, "z", &text);
    threadstream *s = pack_toplevel_stream();
    threadstream_pack_int(s, code);
    threadstream_pack_string(s, text);
    return nil();
}

mrb_value unload_sprite(mrb_state *mrb, mrb_value) { return text_record(mrb, record_unload_sprite); }
mrb_value set_system_cursor(mrb_state *mrb, mrb_value) { return text_record(mrb, record_set_system_cursor); }
mrb_value set_window_title(mrb_state *mrb, mrb_value) { return text_record(mrb, record_set_window_title); }
mrb_value openurl(mrb_state *mrb, mrb_value) { return text_record(mrb, record_openurl); }

mrb_value set_cursor(mrb_state *mrb, mrb_value)
{
    const char *path;
    mrb_int hot_x, hot_y;
    mrb_get_args(mrb, "z!ii", &path, &hot_x, &hot_y);
    threadstream *s = pack_toplevel_stream();
    threadstream_pack_int(s, record_set_cursor);
    threadstream_pack_string(s, path);  // null: the null string
    threadstream_pack_int(s, int32_of(hot_x));
    threadstream_pack_int(s, int32_of(hot_y));
    return nil();
}

// A record of one 0/1 field from the truthiness of the argument.
mrb_value flag_record(mrb_state *mrb, int32_t code)
{
    mrb_bool flag;
    mrb_get_args(mrb, "b", &flag);
    threadstream *s = pack_toplevel_stream();
    threadstream_pack_int(s, code);
    threadstream_pack_int(s, flag ? 1 : 0);
    return nil();
}

mrb_value toggle_cursor(mrb_state *mrb, mrb_value) { return flag_record(mrb, record_toggle_cursor); }
mrb_value toggle_fullscreen(mrb_state *mrb, mrb_value) { return flag_record(mrb, record_toggle_fullscreen); }

mrb_value set_mouse_grab(mrb_state *mrb, mrb_value)
{
    mrb_int mode;
    mrb_get_args(mrb, "i", &mode);
    threadstream *s = pack_toplevel_stream();
    threadstream_pack_int(s, record_set_mouse_grab);
    threadstream_pack_int(s, int32_of(mode));
    return nil();
}

mrb_value set_window_scale(mrb_state *mrb, mrb_value)
{
    mrb_value scale;
    mrb_get_args(mrb, "o", &scale);
    threadstream *s = pack_toplevel_stream();
    threadstream_pack_int(s, record_set_window_scale);
    threadstream_pack_ruby_float_or_default(s, scale, 1.0f);
    return nil();
}

// Pixels are written straight into the stream: an int per pixel after the length
// word is the buffer layout itself, and the one int 0 after them is the buffer's
// terminating byte with its padding (the length is a multiple of 4).
mrb_value upload_pixel_array(mrb_state *mrb, mrb_value)
{
    const char *name;
    mrb_int width, height;
    mrb_value pixels;
    mrb_get_args(mrb, "ziiA", &name, &width, &height, &pixels);
    // The buffer length is 32 bits: at most this many pixels.
    constexpr mrb_int max_pixels = (UINT32_MAX - 8) / 4;
    if (width <= 0 || height <= 0 || width > max_pixels / height) {
        mrb_raisef(mrb, E_ARGUMENT_ERROR, "upload_pixel_array: %i x %i is not a size a pixel array can have.",
                   width, height);
    }
    const mrb_int count = width * height;
    if (RARRAY_LEN(pixels) < count) {
        mrb_raisef(mrb, E_ARGUMENT_ERROR,
                   "upload_pixel_array: the pixel array holds %i pixels, but %i x %i needs %i.",
                   RARRAY_LEN(pixels), width, height, count);
    }
    threadstream *s = pack_toplevel_stream();
    // Code, name (at most its length plus 8), width, height, length word, pixels, end.
    const uint64_t record_bytes = 4 + (SDL_strlen(name) + 8) + 8 + 4 + static_cast<uint64_t>(count) * 4 + 4;
    if (!s || !threadstream_claim_space(s, record_bytes)) {
        return nil();
    }
    threadstream_pack_int(s, record_upload_pixel_array);
    threadstream_pack_string(s, name);
    threadstream_pack_int(s, static_cast<int32_t>(width));
    threadstream_pack_int(s, static_cast<int32_t>(height));
    threadstream_pack_int(s, static_cast<int32_t>(static_cast<uint32_t>(count * 4)));
    const mrb_value *elements = RARRAY_PTR(pixels);
    for (mrb_int i = 0; i < count; i++) {
        // Integers keep their low 32 bits (0xAABBGGRR); nil and anything else is 0.
        threadstream_pack_int(s, pack_to_int(elements[i], 0));
    }
    threadstream_pack_int(s, 0);
    return nil();
}

void push_zeroed_event(Uint32 type)
{
    SDL_Event event;
    SDL_zero(event);
    event.type = type;
    SDL_PushEvent(&event);
}

mrb_value simulate_render_targets_reset(mrb_state *, mrb_value)
{
    push_zeroed_event(SDL_RENDER_TARGETS_RESET);
    return nil();
}

mrb_value simulate_render_device_reset(mrb_state *, mrb_value)
{
    push_zeroed_event(SDL_RENDER_DEVICE_RESET);
    return nil();
}

struct DrawMethod {
    const char *name;
    mrb_func_t function;
    mrb_aspec aspec;
};

constexpr DrawMethod draw_methods[] = {
    {"draw_triangle", draw_triangle, MRB_ARGS_ANY()},
    {"draw_solid", draw_solid, MRB_ARGS_REQ(8)},
    {"draw_solid_2", draw_solid_2, MRB_ARGS_REQ(9)},
    {"draw_solid_3", draw_solid_3, MRB_ARGS_REQ(11)},
    {"draw_sprite", draw_sprite, MRB_ARGS_REQ(5)},
    {"draw_sprite_2", draw_sprite_2, MRB_ARGS_REQ(7)},
    {"draw_sprite_3", draw_sprite_3, MRB_ARGS_REQ(22)},
    {"draw_sprite_4", draw_sprite_4, MRB_ARGS_REQ(23)},
    {"draw_sprite_5", draw_sprite_5, MRB_ARGS_REQ(25)},
    {"draw_sprite_hash", draw_sprite_hash, MRB_ARGS_REQ(1)},
    {"draw_label", draw_label, MRB_ARGS_REQ(10)},
    {"draw_label_2", draw_label_2, MRB_ARGS_REQ(11)},
    {"draw_label_3", draw_label_3, MRB_ARGS_REQ(12)},
    {"draw_label_4", draw_label_4, MRB_ARGS_REQ(13)},
    {"draw_label_5", draw_label_5, MRB_ARGS_REQ(15)},
    {"draw_line", draw_line, MRB_ARGS_REQ(8)},
    {"draw_line_2", draw_line_2, MRB_ARGS_REQ(9)},
    {"draw_border", draw_border, MRB_ARGS_REQ(8)},
    {"draw_border_2", draw_border_2, MRB_ARGS_REQ(9)},
    {"draw_border_3", draw_border_3, MRB_ARGS_REQ(11)},
    {"draw_screenshot", draw_screenshot, MRB_ARGS_REQ(10) | MRB_ARGS_REST()},
    {"set_grid", set_grid, MRB_ARGS_REQ(3)},
    {"unload_sprite", unload_sprite, MRB_ARGS_REQ(1)},
    {"set_cursor", set_cursor, MRB_ARGS_REQ(3)},
    {"set_system_cursor", set_system_cursor, MRB_ARGS_REQ(1)},
    {"toggle_cursor", toggle_cursor, MRB_ARGS_REQ(1)},
    {"set_mouse_grab", set_mouse_grab, MRB_ARGS_REQ(1)},
    {"toggle_fullscreen", toggle_fullscreen, MRB_ARGS_REQ(1)},
    {"set_window_scale", set_window_scale, MRB_ARGS_REQ(1)},
    {"set_window_title", set_window_title, MRB_ARGS_REQ(1)},
    {"upload_pixel_array", upload_pixel_array, MRB_ARGS_REQ(4)},
    {"openurl", openurl, MRB_ARGS_REQ(1)},
    {"simulate_render_targets_reset", simulate_render_targets_reset, MRB_ARGS_NONE()},
    {"simulate_render_device_reset", simulate_render_device_reset, MRB_ARGS_NONE()},
    {"draw_a11ys", draw_a11ys, MRB_ARGS_REQ(1)},
};

} // namespace

RClass *ffi_draw_define(mrb_state *mrb)
{
    // The methods share the packers' names; intern them unless start-up already has.
    if (!threadstream_ruby_ready(mrb)) {
        pack_intern_symbols(mrb);
    }
    RClass *ffi = mrb_define_module(mrb, "FFI");
    RClass *draw = mrb_define_class_under(mrb, ffi, "Draw", mrb->object_class);
    for (const DrawMethod &method : draw_methods) {
        mrb_define_method(mrb, draw, method.name, method.function, method.aspec);
    }
    return draw;
}
