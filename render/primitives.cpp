#include "render/primitives.h"

#include <algorithm>
#include <cmath>

#include "fs/strings.h"
#include "log/log.h"
#include "render/fontatlas.h"
#include "render/render_context.h"
#include "render/sizing.h"
#include "render/texture.h"
#include "stream/records.h"
#include "stream/threadstream.h"

namespace {

// Coordinates beyond this many pixels are refused: SDL converts them to ints, and
// values from NaN, infinities or absurd sizes would overflow there.
constexpr float coordinate_limit = 16777216.0f;

bool sane(float v)
{
    return std::isfinite(v) && std::fabs(v) <= coordinate_limit;
}

template <typename... T>
bool all_sane(T... v)
{
    return (sane(v) && ...);
}

uint8_t clamp_colour(int32_t v)
{
    return (uint8_t)std::clamp(v, 0, 255);
}

// The pass's coordinate transform.
struct transform {
    float origin_x, flip_height, scale, ox, oy;

    explicit transform(const render_context *ctx)
    {
        const bool screen = ctx->current_target == nullptr;
        origin_x = (float)ctx->current_origin_x;
        flip_height = (float)ctx->flip_height;
        scale = ctx->texture_scale;
        ox = screen ? (float)ctx->letterbox_offset_x : 0.0f;
        oy = screen ? (float)ctx->letterbox_offset_y : 0.0f;
    }

    SDL_FPoint point(float x, float y) const
    {
        return {(x + origin_x) * scale + ox, (flip_height - y) * scale + oy};
    }

    SDL_FRect rect(float x, float y, float w, float h) const
    {
        return {(x + origin_x + (w < 0 ? w : 0.0f)) * scale + ox,
                (flip_height - y - (h > 0 ? h : 0.0f)) * scale + oy,
                std::fabs(w) * scale, std::fabs(h) * scale};
    }
};

bool read_string(threadstream *s, const char **out)
{
    uint32_t len = 0;
    *out = threadstream_unpack_string(s, &len);
    return s->error == 0;
}

void draw_rect(render_context *ctx, const rect_record &f, bool border)
{
    const transform t(ctx);
    SDL_FRect r = t.rect(f.x, f.y, f.w, f.h);
    r.x -= f.anchor_x * r.w;
    r.y += f.anchor_y * r.h;
    // An empty rectangle draws nothing; SDL would widen it to a one-pixel line.
    if (!all_sane(r.x, r.y, r.w, r.h) || r.w == 0.0f || r.h == 0.0f) {
        return;
    }
    SDL_SetRenderDrawColor(ctx->renderer, clamp_colour(f.r), clamp_colour(f.g), clamp_colour(f.b), clamp_colour(f.a));
    SDL_BlendMode mode = primitives_blend_mode(f.blendmode);
    // An opaque fill blends to exactly its own colour: unblended it gives the same
    // pixels, and the CPU renderers fill instead of blending every pixel.
    if (!border && mode == SDL_BLENDMODE_BLEND && clamp_colour(f.a) == 255) {
        mode = SDL_BLENDMODE_NONE;
    }
    SDL_SetRenderDrawBlendMode(ctx->renderer, mode);
    if (border) {
        SDL_RenderDrawRectF(ctx->renderer, &r);
    } else {
        SDL_RenderFillRectF(ctx->renderer, &r);
    }
}

void draw_line(render_context *ctx, const line_record &f)
{
    const transform t(ctx);
    const SDL_FPoint a = t.point(f.x, f.y), b = t.point(f.x2, f.y2);
    if (!all_sane(a.x, a.y, b.x, b.y)) {
        return;
    }
    SDL_SetRenderDrawColor(ctx->renderer, clamp_colour(f.r), clamp_colour(f.g), clamp_colour(f.b), clamp_colour(f.a));
    SDL_SetRenderDrawBlendMode(ctx->renderer, primitives_blend_mode(f.blendmode));
    SDL_RenderDrawLine(ctx->renderer, (int)a.x, (int)a.y, (int)b.x, (int)b.y);
}

float texture_factor(const texture_lookup &tex, int32_t percent, float render_scale)
{
    return tex.is_render_target ? render_scale : sizing_texture_factor(percent, render_scale);
}

void draw_sprite(render_context *ctx, const char *path, const sprite_record &f)
{
    const transform t(ctx);
    const SDL_FRect r = t.rect(f.x, f.y, f.w, f.h);
    const texture_lookup tex = lookup_texture(ctx, path);
    if (!tex.texture || tex.width == 0 || tex.height == 0) {
        return;
    }
    const float tw = (float)tex.width, th = (float)tex.height;
    const float j = texture_factor(tex, f.texture_scale, ctx->texture_scale);

    float sx, sy, sw, sh;
    const bool tile = f.tile_x != 0.0f || f.tile_y != 0.0f || f.tile_w != -1.0f || f.tile_h != -1.0f;
    if (tile) {
        sx = f.tile_x * j;
        sy = f.tile_y * j;
        sw = f.tile_w == -1.0f ? f.tile_w : f.tile_w * j;
        sh = sw != -1.0f ? f.tile_h * j : f.tile_h;
    } else {
        sx = f.source_x * j;
        sw = f.source_w == -1.0f ? -1.0f : f.source_w * j;
        sh = sw != -1.0f ? f.source_h * j : f.source_h;
        const float source_y = f.source_y * j;
        if (source_y == 0.0f && sh == -1.0f) {
            sy = 0.0f;
        } else {
            // Source coordinates are bottom-up, like the screen's.
            sw = sw < 0 ? tw : sw;
            sh = sh < 0 ? th : sh;
            sy = th - source_y - sh;
        }
    }
    if (sw < 0) sw = tw;
    if (sh < 0) sh = th;

    if (sx >= tw || sy >= th || r.w == 0.0f || r.h == 0.0f || sw == 0.0f || sh == 0.0f) {
        return;
    }
    if (!all_sane(r.x, r.y, r.w, r.h, sx, sy, sw, sh, f.angle, f.angle_anchor_x, f.angle_anchor_y,
                  f.anchor_x, f.anchor_y)) {
        return;
    }
    if (tex.entry && !tex.entry->stretch_warned && (sy + sh > th || sx + sw > tw)) {
        log_warn("Render",
                 "* WARNING: You are rendering passed the boundaries of the =%s=.\n"
                 "This will cause stretching of the sprite.\n"
                 "=%s='s ~w~ and ~h~ are: ~w: %d, h: %d~.\n"
                 "The ~rect~ you requested was: ~x: %f, y: %f, w: %f, h: %f]~.",
                 path, path, tex.width, tex.height, (double)sx, (double)sy, (double)sw, (double)sh);
        tex.entry->stretch_warned = 1;
    }

    const SDL_FRect dst{r.x - f.anchor_x * r.w, r.y + f.anchor_y * r.h, r.w, r.h};
    const SDL_FPoint centre{f.angle_anchor_x * r.w, (1.0f - f.angle_anchor_y) * r.h};
    const SDL_Rect src{(int)sx, (int)sy, (int)sw, (int)sh};
    int flip = SDL_FLIP_NONE;
    if (f.flip_horizontally) flip |= SDL_FLIP_HORIZONTAL;
    if (f.flip_vertically) flip |= SDL_FLIP_VERTICAL;

    SDL_SetTextureColorMod(tex.texture, clamp_colour(f.r), clamp_colour(f.g), clamp_colour(f.b));
    SDL_SetTextureAlphaMod(tex.texture, clamp_colour(f.a));
    SDL_SetTextureBlendMode(tex.texture, primitives_blend_mode(f.blendmode));
    SDL_RenderCopyExF(ctx->renderer, tex.texture, &src, &dst, 360.0 - (double)f.angle, &centre,
                      (SDL_RendererFlip)flip);
}

void draw_label(render_context *ctx, float x, float y, const char *text, const char *font_name,
                const label_record &f)
{
    fontatlas *font = lookup_font(ctx, font_name);
    if (!font || !text || !*text) {
        return;
    }
    const transform t(ctx);
    const SDL_FPoint anchor = t.point(x, y);

    float hf = 0.0f;
    if (f.has_anchor_x) {
        hf = f.anchor_x;
    } else if (f.alignment_enum == 2) {
        hf = 1.0f;
    } else if (f.alignment_enum == 1) {
        hf = 0.5f;
    }
    float vf = 0.0f;
    if (f.has_anchor_y) {
        vf = 1.0f - f.anchor_y;
    } else if (f.vertical_alignment_enum == 0) {
        vf = 1.0f;
    } else if (f.vertical_alignment_enum == 1) {
        vf = 0.5f;
    }

    const float size = f.size_px > 0.0f ? f.size_px : 22.0f + (float)(int)(2.0f * f.size_enum);
    const float render_scale = ctx->texture_scale;
    if (!all_sane(anchor.x, anchor.y, size, hf, vf) || size <= 0.0f || size * render_scale > 4096.0f) {
        return;  // no font size beyond a few pages makes sense; NaN or negative draws nothing
    }
    const float fscale = fontatlas_get_scale(font, size);
    const bool kerning = fontatlas_has_kerning(font);

    // Width in game units, from the glyph advances at this size.
    float width = 0.0f;
    {
        const char *cursor = text;
        int32_t c = utf8codepoint(&cursor);
        while (c != 0) {
            int32_t n = utf8codepoint(&cursor);
            while (n == -1) n = utf8codepoint(&cursor);
            if (c > 0) {
                if (const fontatlas_glyph *g = fontatlas_getglyph(font, c, size)) {
                    width += g->advance;
                }
                if (n != 0 && kerning) {
                    width += fontatlas_get_kerningadvance(font, c, n, fscale);
                }
            }
            c = n;
        }
    }

    // Glyphs are drawn at the output resolution, not scaled up from logical pixels.
    SDL_Renderer *renderer = ctx->renderer;
    float rsx = 1.0f, rsy = 1.0f;
    SDL_RenderGetScale(renderer, &rsx, &rsy);
    SDL_Rect viewport{};
    SDL_RenderGetViewport(renderer, &viewport);
    const float physical = size * rsy * render_scale;
    const float phys_scale = fontatlas_get_scale(font, physical);
    const SDL_Rect clip{(int)((float)viewport.x * rsx), (int)((float)viewport.y * rsy),
                        (int)((float)viewport.w * rsx), (int)((float)viewport.h * rsy)};
    SDL_RenderSetLogicalSize(renderer, 0, 0);
    SDL_RenderSetClipRect(renderer, &clip);

    float line_height = 0.0f;
    fontatlas_calcstringrect(font, "W", nullptr, &line_height, physical);
    const int voffset = (int)(vf * (float)-(int)line_height);

    float pen = (float)viewport.x * rsx + rsx * (anchor.x - hf * width * render_scale);
    const float baseline = (float)viewport.y * rsy +
                           rsy * (anchor.y + (float)(int)(fontatlas_get_ascent(font, fscale)) * render_scale);
    const SDL_BlendMode blend = primitives_blend_mode(f.blendmode);

    const char *cursor = text;
    int32_t c = utf8codepoint(&cursor);
    while (c != 0) {
        int32_t n = utf8codepoint(&cursor);
        while (n == -1) n = utf8codepoint(&cursor);
        const fontatlas_glyph *g = c > 0 ? fontatlas_getglyph(font, c, physical) : nullptr;
        if (g) {
            if (g->page) {
                const SDL_FRect dst{pen + (float)g->x0, baseline + (float)g->y0 + (float)voffset,
                                    (float)g->rect.w, (float)g->rect.h};
                SDL_SetTextureColorMod(g->page, clamp_colour(f.r), clamp_colour(f.g), clamp_colour(f.b));
                SDL_SetTextureAlphaMod(g->page, clamp_colour(f.a));
                SDL_SetTextureBlendMode(g->page, blend);
                SDL_RenderCopyF(renderer, g->page, &g->rect, &dst);
            }
            pen += g->advance;
            if (n != 0 && kerning) {
                // The pen moves in output pixels, so the pair's kerning is taken at
                // the physical size.
                pen += fontatlas_get_kerningadvance(font, c, n, phys_scale);
            }
        }
        c = n;
    }

    if (ctx->current_target == nullptr) {
        SDL_RenderSetClipRect(renderer, nullptr);
        SDL_RenderSetLogicalSize(renderer, ctx->native_render_width, ctx->native_render_height);
    }
}

void draw_triangle(render_context *ctx, const triangle_record &f, const char *path,
                   const triangle_record_tail &tail)
{
    const transform t(ctx);
    const SDL_FPoint p[3] = {t.point(f.x, f.y), t.point(f.x2, f.y2), t.point(f.x3, f.y3)};
    const texture_lookup tex = lookup_texture(ctx, path);
    if (!tex.texture || tex.width == 0 || tex.height == 0) {
        return;
    }
    const float j = texture_factor(tex, tail.texture_scale, ctx->texture_scale);
    const float tw = (float)tex.width, th = (float)tex.height;
    const float su[3] = {tail.source_x, tail.source_x2, tail.source_x3};
    const float sv[3] = {tail.source_y, tail.source_y2, tail.source_y3};
    const SDL_Color colour{clamp_colour(f.r), clamp_colour(f.g), clamp_colour(f.b), clamp_colour(f.a)};
    SDL_Vertex v[3];
    for (int i = 0; i < 3; ++i) {
        if (!all_sane(p[i].x, p[i].y, su[i], sv[i])) {
            return;
        }
        v[i].position = p[i];
        v[i].color = colour;
        v[i].tex_coord = {su[i] * j / tw, 1.0f - sv[i] * j / th};
    }
    SDL_SetRenderDrawBlendMode(ctx->renderer, primitives_blend_mode(tail.blendmode));
    SDL_SetTextureBlendMode(tex.texture, primitives_blend_mode(tail.blendmode));
    SDL_RenderGeometry(ctx->renderer, tex.texture, v, 3, nullptr, 0);
}

}  // namespace

SDL_BlendMode primitives_blend_mode(int32_t blendmode)
{
    switch (blendmode) {
    case 0: return SDL_BLENDMODE_NONE;
    case 2: return SDL_BLENDMODE_ADD;
    case 3: return SDL_BLENDMODE_MOD;
    case 4: return SDL_BLENDMODE_MUL;
    default: return SDL_BLENDMODE_BLEND;
    }
}

bool primitives_read(threadstream *s, void *out, uint64_t bytes)
{
    if (s->error || s->read_pos > s->size || s->size - s->read_pos < bytes) {
        s->error = 1;
        return false;
    }
    SDL_memcpy(out, s->data + s->read_pos, bytes);
    s->read_pos += bytes;
    return true;
}

int primitives_draw(render_context *ctx, threadstream *s, int32_t code, bool skip)
{
    // Nothing is visible before the first set_grid record: the transform maps
    // every coordinate and size to 0.
    const bool draw = !skip && ctx->grid_set;
    switch (code) {
    case record_solid:
    case record_border: {
        rect_record f;
        if (!primitives_read(s, &f, sizeof(f))) return 0;
        if (draw) draw_rect(ctx, f, code == record_border);
        return 1;
    }
    case record_sprite: {
        const char *path = nullptr;
        sprite_record f;
        if (!read_string(s, &path) || !primitives_read(s, &f, sizeof(f))) return 0;
        if (draw) draw_sprite(ctx, path, f);
        return 1;
    }
    case record_label: {
        float xyz[3];
        const char *text = nullptr, *font = nullptr;
        label_record f;
        if (!primitives_read(s, xyz, sizeof(xyz)) || !read_string(s, &text) || !read_string(s, &font) ||
            !primitives_read(s, &f, sizeof(f))) {
            return 0;
        }
        if (draw) draw_label(ctx, xyz[0], xyz[1], text, font, f);
        return 1;
    }
    case record_line: {
        line_record f;
        if (!primitives_read(s, &f, sizeof(f))) return 0;
        if (draw) draw_line(ctx, f);
        return 1;
    }
    case record_triangle: {
        triangle_record f;
        const char *path = nullptr;
        triangle_record_tail tail;
        if (!primitives_read(s, &f, sizeof(f)) || !read_string(s, &path) || !primitives_read(s, &tail, sizeof(tail))) {
            return 0;
        }
        if (draw) draw_triangle(ctx, f, path, tail);
        return 1;
    }
    default:
        return 1;  // unknown codes inside a pass are a single word
    }
}
