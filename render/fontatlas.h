// Font atlas: one parsed TrueType font with a cache of rasterised glyphs keyed by
// code point and pixel size, packed into page textures; the font registry of the
// render context; text measurement. Labels (primitives.cpp) draw through it.
//
// Threads: glyph caching and drawing run on the render thread. The simulation
// thread measures text through fontatlas_measure_uncached only, which holds the
// context's font lock around the lookup and the measurement; the render thread
// holds the same lock whenever it changes the registry or deletes fonts. The
// measurement reads only the font's immutable tables, never the glyph cache.
#pragma once

#include <SDL.h>
#include <cstdint>
#include <stb_truetype.h>

struct render_context;

struct fontatlas_glyph {
    uint64_t key;              // (code point << 32) | (size * 10000)
    SDL_Texture *page;         // null when the glyph did not fit a page
    SDL_Rect rect;             // on the page
    float advance;             // pixels
    float left_side_bearing;   // pixels
    int x0, y0, x1, y1;        // glyph box relative to pen and baseline
    fontatlas_glyph *next;
};

struct fontatlas_segment {
    int x, y, width;
};

struct fontatlas_page {
    SDL_Texture *texture;
    fontatlas_segment *skyline;
    int segment_count, segment_capacity;
    fontatlas_page *next;      // older page
};

struct fontatlas_atlas {
    SDL_Renderer *renderer;
    int page_width, page_height;   // 0 until the first page is made
    fontatlas_page *pages;         // newest first
    fontatlas_glyph *buckets[32];
};

struct fontatlas {
    stbtt_fontinfo info;
    uint8_t *data;                 // the whole font file
    int ascender, descender, line_gap;
    fontatlas_atlas *atlas;
};

fontatlas *fontatlas_new(SDL_Renderer *renderer, const char *path);
void fontatlas_delete(fontatlas *f);

float fontatlas_get_scale(const fontatlas *f, float size);
float fontatlas_get_ascent(const fontatlas *f, float scale);
int fontatlas_has_kerning(const fontatlas *f);
float fontatlas_get_kerningadvance(const fontatlas *f, int32_t c1, int32_t c2, float scale);

const fontatlas_glyph *fontatlas_getglyph(fontatlas *f, int32_t codepoint, float size);
void fontatlas_cacheglyphs(fontatlas *f, const int32_t *codepoints, int count, float size);

void fontatlas_calcstringrect(const fontatlas *f, const char *text, float *out_width,
                              float *out_height, float size);
void fontatlas_calcstringrect_uncached(const fontatlas *f, const char *text, float *out_width,
                                       float *out_height, float size);

// Glyph bucket index of a glyph key (0..31).
uint32_t fontatlas_bucket(uint64_t key);

// Registry.
struct font_entry {
    char *path;
    fontatlas *font;               // null when the file failed to load
    font_entry *next;
};

struct font_registry {
    font_entry *buckets[256];
};

font_registry *font_map_allocate();
void font_map_delete(font_registry *map);
// Render thread: the font for a path (null gives the fallback font).
fontatlas *lookup_font(render_context *ctx, const char *path);
// Any thread: measures text in the named font (null: the fallback) without
// touching the glyph cache; 0 when no font at all is available.
int fontatlas_measure_uncached(render_context *ctx, const char *path, const char *text, float size,
                               float *out_width, float *out_height);
