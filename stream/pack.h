// Primitive packing: turns one script primitive (a Hash, an object answering the
// attribute names, a Kor::StrictEntity) into one frame-stream record, converting
// every attribute and filling in the default of each one left out. Called by the
// tick's walk over the render passes and by FFI::Draw; simulation thread only.
#pragma once

#include <mruby.h>

#include <cstdint>

#include "engine/game_context.h"

struct threadstream;

// Attribute names the packers, FFI::Draw and the tick share. attr_names gives the
// script name of each; the order is the order of the name table.
enum pack_attr : int {
    attr_x, attr_y, attr_z, attr_z2, attr_z3, attr_w, attr_h, attr_angle_x, attr_angle_y, attr_angle,
    attr_r, attr_g, attr_b, attr_a, attr_tile_x, attr_tile_y, attr_tile_w, attr_tile_h,
    attr_source_x, attr_source_y, attr_source_w, attr_source_h, attr_flip_horizontally,
    attr_flip_vertically, attr_angle_anchor_x, attr_angle_anchor_y, attr_blendmode_enum,
    attr_draw_override, attr_x2, attr_y2, attr_x3, attr_y3, attr_source_x2, attr_source_y2,
    attr_source_x3, attr_source_y3, attr_anchor_x, attr_anchor_y, attr_font, attr_text, attr_size_enum,
    attr_alignment_enum, attr_vertical_alignment_enum, attr_size_px, attr_path, attr_primitive_marker,
    attr_count
};

// Symbols interned once by threadstream_ruby_init.
struct pack_symbols {
    mrb_sym attr[attr_count];   // :x, :y, ...
    mrb_sym ivar[attr_count];   // :@x, :@y, ... (read from strict entities)
    mrb_sym ivar_hash;          // :@hash, the Hash a Kor::OpenEntity wraps
    mrb_sym as_hash, to_s, call, to_enum, to_a, respond_to;
    mrb_sym marker_sprite, marker_label, marker_line, marker_pending;
    mrb_sym a11y_id, a11y_text, a11y_trait, a11y_notification_target;
};
extern pack_symbols pack_sym;
extern const char *const attr_names[attr_count];

// Interns every name the packers and the tick use into game->mrb. Runs once at
// start-up after the framework is loaded. 1 on success.
int threadstream_ruby_init(game_context *g);
// The same for an interpreter alone (FFI::Draw and the tick call it when start-up
// has not).
int pack_intern_symbols(mrb_state *mrb);
// Whether the names were interned for this interpreter.
int threadstream_ruby_ready(mrb_state *mrb);

// The attribute a Symbol names, or -1 (a fixed-size table filled at init).
int pack_attr_of(mrb_sym sym);

// --- Where records go -------------------------------------------------------
// Records belong in two places: primitives inside a pass of the passes record,
// everything else at the top level. Script code runs both inside the tick's walk
// (draw_override, the runtime's draw_* fallbacks) and outside it (the game's
// tick), so each kind has a side buffer for the place it cannot go right now:
// primitives drawn outside a pass are kept and written at the start of the screen
// pass; top-level records made inside a pass are kept and written after the
// passes record. Both null when there is no current stream.
threadstream *pack_primitive_stream();
threadstream *pack_toplevel_stream();
// The walk: a pass header was written / the pass's end_pass is next.
void pack_pass_begin();
void pack_pass_end();
int pack_in_pass();
// Writes the primitives kept from outside a pass into s (the screen pass, right
// after its header). 1 when there were any.
int pack_flush_stray_primitives(threadstream *s);
// After the passes record: writes the deferred top-level records into s and drops
// primitives that found no screen pass (logged once).
void pack_frame_end(threadstream *s);
// Gives both side buffers back to the pool, leaves the pass and forgets which
// explanations were logged (tests, shutdown).
void pack_sink_reset();

// --- Value conversion -------------------------------------------------------
// Integer: its value (int conversion keeps the low 32 bits); Float: truncated
// toward zero, clamped to the int range, single precision for floats; NaN and
// every non-number: the default.
int32_t pack_to_int(mrb_value v, int32_t fallback);
float pack_to_float(mrb_value v, float fallback);
// Truthiness: 1 unless nil or false.
int32_t pack_to_flag(mrb_value v);
// The alpha gate: nil passes (alpha 255), a number passes when its int conversion
// is not 0, anything else does not. *alpha receives the alpha to write.
bool pack_alpha_passes(mrb_value a, int32_t *alpha);

int threadstream_pack_ruby_int(threadstream *s, mrb_value v);
int threadstream_pack_ruby_float(threadstream *s, mrb_value v);
int threadstream_pack_ruby_int_or_default(threadstream *s, mrb_value v, int32_t fallback);
int threadstream_pack_ruby_float_or_default(threadstream *s, mrb_value v, float fallback);
// A String's bytes; anything else (a missing String) the null string.
int threadstream_pack_ruby_string(threadstream *s, mrb_value str);
int threadstream_pack_ruby_string_or_default(threadstream *s, mrb_value str, const char *text);
int threadstream_pack_c_string(threadstream *s, const char *text);

// --- Texture atlas ----------------------------------------------------------
struct texture_atlas_value {
    int found;
    texture_atlas_variant variants[texture_atlas_variant_count];
};
// out->found = 1 and the eight variants when path_value is a String the atlas
// table holds; Symbols, nil and other values are not looked up.
void get_texture_atlas_value(texture_atlas_value *out, mrb_value path_value);
// The render context's texture scale percent (100 without a render context).
int pack_texture_scale_percent();

// --- Packers ----------------------------------------------------------------
// Each appends one record or nothing and returns 1 when it wrote one. A packer that
// reads attributes through method calls stops at the first exception: nothing is
// written and the exception stays in mrb->exc for the caller to report (outside a
// script frame) or propagates (inside one).

int threadstream_pack_sprite(threadstream *s, const texture_atlas_value *atlas_entry, int texture_scale_percent,
                             mrb_state *mrb, mrb_value x, mrb_value y, mrb_value w, mrb_value h, mrb_value path,
                             mrb_value angle, mrb_value a, mrb_value r, mrb_value g, mrb_value b, mrb_value tile_x,
                             mrb_value tile_y, mrb_value tile_w, mrb_value tile_h, bool flip_horizontally,
                             bool flip_vertically, mrb_value angle_anchor_x, mrb_value angle_anchor_y,
                             mrb_value source_x, mrb_value source_y, mrb_value source_w, mrb_value source_h,
                             mrb_value blendmode_enum, mrb_value anchor_x, mrb_value anchor_y);
int threadstream_pack_sprite_hash(mrb_state *mrb, mrb_value hash);
int threadstream_pack_sprite_object(mrb_state *mrb, mrb_value obj);
int threadstream_pack_sprite_strict_entity(mrb_state *mrb, mrb_value entity);

// Three-dimensional variants: z, angle_x and angle_y from the primitive, no atlas
// substitution (texture scale 100), anchors 0.0.
int threadstream_pack_sprite_vr(threadstream *s, mrb_state *mrb, mrb_value x, mrb_value y, mrb_value z, mrb_value w,
                                mrb_value h, mrb_value path, mrb_value angle_x, mrb_value angle_y, mrb_value angle,
                                mrb_value a, mrb_value r, mrb_value g, mrb_value b, mrb_value tile_x,
                                mrb_value tile_y, mrb_value tile_w, mrb_value tile_h, bool flip_horizontally,
                                bool flip_vertically, mrb_value angle_anchor_x, mrb_value angle_anchor_y,
                                mrb_value source_x, mrb_value source_y, mrb_value source_w, mrb_value source_h,
                                mrb_value blendmode_enum);
int threadstream_pack_sprite_hash_vr(mrb_state *mrb, mrb_value hash);
int threadstream_pack_sprite_object_vr(mrb_state *mrb, mrb_value obj);

// Triangles are not drawn by this system: these accept their input and write nothing.
int threadstream_pack_triangle(threadstream *s, mrb_state *mrb);
int threadstream_pack_triangle_vr(threadstream *s, mrb_state *mrb);

int thread_stream_pack_label(threadstream *s, mrb_state *mrb, mrb_value x, mrb_value y, mrb_value z, mrb_value text,
                             mrb_value font, mrb_value size_enum, mrb_value alignment_enum, mrb_value r, mrb_value g,
                             mrb_value b, mrb_value a, mrb_value vertical_alignment_enum, mrb_value blendmode_enum,
                             mrb_value size_px, mrb_value anchor_x, mrb_value anchor_y);
int threadstream_pack_label_hash(mrb_state *mrb, mrb_value hash);
int threadstream_pack_label_object(mrb_state *mrb, mrb_value obj);

// No alpha gate (FFI::Draw applies one of its own). Without y2 the end point is
// (x + w, y + h).
int threadstream_pack_line(threadstream *s, mrb_state *mrb, mrb_value x, mrb_value y, mrb_value w, mrb_value h,
                           mrb_value x2, mrb_value y2, mrb_value r, mrb_value g, mrb_value b, mrb_value a,
                           mrb_value blendmode);
int threadstream_pack_line_hash(mrb_state *mrb, mrb_value hash);
int threadstream_pack_line_object(mrb_state *mrb, mrb_value obj);

// Solids and borders share one layout; both apply the alpha gate.
int threadstream_pack_solid(threadstream *s, mrb_state *mrb, mrb_value x, mrb_value y, mrb_value w, mrb_value h,
                            mrb_value r, mrb_value g, mrb_value b, mrb_value a, mrb_value blendmode,
                            mrb_value anchor_x, mrb_value anchor_y);
int threadstream_pack_border(threadstream *s, mrb_state *mrb, mrb_value x, mrb_value y, mrb_value w, mrb_value h,
                             mrb_value r, mrb_value g, mrb_value b, mrb_value a, mrb_value blendmode,
                             mrb_value anchor_x = mrb_nil_value(), mrb_value anchor_y = mrb_nil_value());
int threadstream_pack_border_hash(mrb_state *mrb, mrb_value hash);
int threadstream_pack_border_object(mrb_state *mrb, mrb_value obj);

// The a11ys record from an Array of Hashes; elements that are not Hashes are left out.
int threadstream_pack_a11ys(threadstream *s, mrb_state *mrb, mrb_value entries);
