// Primitive rendering: the records inside a render pass (solid, sprite, label, line,
// border, triangle) read from the frame stream and turned into SDL renderer calls
// on the pass's current target. The draw iteration calls primitives_draw for each
// record of a pass; the coordinate transform uses the context's current origin,
// flip height, scale and letterbox offsets.
#pragma once

#include <SDL.h>
#include <cstdint>

struct render_context;
struct threadstream;

// Fixed parts of the records, field for field as the stream holds them (every
// field is 4 bytes, so the structs have no padding).
struct rect_record {        // solid and border
    float x, y, z, w, h;
    int32_t r, g, b, a, blendmode;
    float anchor_x, anchor_y;
};

struct sprite_record {      // after the path
    float x, y, z, w, h, angle_x, angle_y, angle;
    int32_t r, g, b, a;
    float tile_x, tile_y, tile_w, tile_h;
    float source_x, source_y, source_w, source_h;
    int32_t flip_horizontally, flip_vertically;
    float angle_anchor_x, angle_anchor_y;
    int32_t blendmode, texture_scale;
    float anchor_x, anchor_y;
};

struct label_record {       // after x, y, z, text and font
    float size_enum;
    int32_t alignment_enum, r, g, b, a, vertical_alignment_enum, blendmode;
    float size_px;
    int32_t has_anchor_x;
    float anchor_x;
    int32_t has_anchor_y;
    float anchor_y;
};

struct line_record {
    float x, y, z, x2, y2;
    int32_t r, g, b, a, blendmode;
};

struct triangle_record {    // before the path
    float x, y, z, x2, y2, z2, x3, y3, z3;
    int32_t r, g, b, a;
};

struct triangle_record_tail {      // after the path
    float source_x, source_y, source_x2, source_y2, source_x3, source_y3;
    int32_t blendmode, texture_scale;
};

static_assert(sizeof(rect_record) == 12 * 4);
static_assert(sizeof(sprite_record) == 28 * 4);
static_assert(sizeof(label_record) == 13 * 4);
static_assert(sizeof(line_record) == 10 * 4);
static_assert(sizeof(triangle_record) == 13 * 4);
static_assert(sizeof(triangle_record_tail) == 8 * 4);

// Reads n bytes of fixed fields; a record cut short sets the stream's error.
bool primitives_read(threadstream *s, void *out, uint64_t bytes);

// Reads one primitive record whose code was just read and draws it unless skip is
// set. Returns 0 when the record was cut short (the stream's error is then set).
int primitives_draw(render_context *ctx, threadstream *s, int32_t code, bool skip);

// The SDL blend mode of a record's blendmode value.
SDL_BlendMode primitives_blend_mode(int32_t blendmode);
