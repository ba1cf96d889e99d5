#include "render/fontatlas.h"

#include <physfs.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "fs/filehelpers.h"
#include "fs/strings.h"
#include "render/render_context.h"
#include "render/texture.h"

namespace {

constexpr int page_cap = 1024;

struct lock_guard {
    SDL_mutex *m;
    explicit lock_guard(SDL_mutex *mutex) : m(mutex) { if (m) SDL_LockMutex(m); }
    ~lock_guard() { if (m) SDL_UnlockMutex(m); }
    lock_guard(const lock_guard &) = delete;
    lock_guard &operator=(const lock_guard &) = delete;
};

uint32_t be32(const uint8_t *p) { return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | p[3]; }
uint16_t be16(const uint8_t *p) { return (uint16_t)((p[0] << 8) | p[1]); }

// stb_truetype trusts the file's table directory. Refuse files whose tables point
// outside the data, or that lack the tables the measuring code reads.
bool font_tables_sane(const uint8_t *data, size_t length)
{
    if (length < 12) {
        return false;
    }
    const unsigned tables = be16(data + 4);
    if (tables == 0 || 12 + (size_t)tables * 16 > length) {
        return false;
    }
    bool hhea = false, hmtx = false, head = false;
    for (unsigned i = 0; i < tables; ++i) {
        const uint8_t *rec = data + 12 + (size_t)i * 16;
        const uint64_t offset = be32(rec + 8), size = be32(rec + 12);
        if (offset + size > length) {
            return false;
        }
        if (SDL_memcmp(rec, "hhea", 4) == 0) hhea = size >= 36;
        if (SDL_memcmp(rec, "hmtx", 4) == 0) hmtx = true;
        if (SDL_memcmp(rec, "head", 4) == 0) head = size >= 54;
    }
    return hhea && hmtx && head;
}

uint64_t size_key(float size)
{
    return (uint64_t)(size * 10000.0f);
}

uint64_t glyph_key(int32_t codepoint, float size)
{
    return ((uint64_t)(uint32_t)codepoint << 32) | (size_key(size) & 0xFFFFFFFFu);
}

// Sizes that can become a glyph key and a bitmap: positive, finite, and below the
// point where (size * 10000) no longer fits the key's 32 bits.
bool size_usable(float size)
{
    return std::isfinite(size) && size > 0.0f && size < 400000.0f;
}

const fontatlas_glyph *find_glyph(const fontatlas *f, uint64_t key)
{
    for (const fontatlas_glyph *g = f->atlas->buckets[fontatlas_bucket(key)]; g; g = g->next) {
        if (g->key == key) {
            return g;
        }
    }
    return nullptr;
}

int32_t next_codepoint(const char **cursor)
{
    // Invalid sequences are skipped: utf8codepoint always advances past them.
    for (;;) {
        int32_t c = utf8codepoint(cursor);
        if (c != -1) {
            return c;
        }
    }
}

fontatlas_page *new_page(fontatlas_atlas *atlas)
{
    if (atlas->page_width == 0) {
        SDL_RendererInfo info{};
        int w = 2048, h = 2048;
        if (atlas->renderer && SDL_GetRendererInfo(atlas->renderer, &info) == 0) {
            w = info.max_texture_width ? info.max_texture_width : 2048;
            h = info.max_texture_height ? info.max_texture_height : 2048;
        }
        atlas->page_width = std::min(w, page_cap);
        atlas->page_height = std::min(h, page_cap);
    }
    auto *page = (fontatlas_page *)SDL_calloc(1, sizeof(fontatlas_page));
    if (!page) {
        return nullptr;
    }
    page->skyline = (fontatlas_segment *)SDL_malloc(sizeof(fontatlas_segment) * 16);
    page->texture = SDL_CreateTexture(atlas->renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STATIC,
                                      atlas->page_width, atlas->page_height);
    if (!page->skyline || !page->texture) {
        if (page->texture) SDL_DestroyTexture(page->texture);
        SDL_free(page->skyline);
        SDL_free(page);
        return nullptr;
    }
    SDL_SetTextureBlendMode(page->texture, SDL_BLENDMODE_BLEND);
    // Start transparent: the packer leaves borders between glyphs unwritten.
    std::vector<uint32_t> clear((size_t)atlas->page_width * 64, 0);
    for (int y = 0; y < atlas->page_height; y += 64) {
        SDL_Rect r{0, y, atlas->page_width, std::min(64, atlas->page_height - y)};
        SDL_UpdateTexture(page->texture, &r, clear.data(), atlas->page_width * 4);
    }
    page->segment_capacity = 16;
    page->segment_count = 1;
    page->skyline[0] = {0, 0, atlas->page_width};
    page->next = atlas->pages;
    atlas->pages = page;
    return page;
}

// Finds the best place on a page for a (w + 2) x (h + 2) box: the lowest top, then
// the narrower start segment. Returns the start segment index or -1.
int skyline_find(const fontatlas_page *page, int page_w, int page_h, int bw, int bh, int *out_x,
                 int *out_y)
{
    int best = -1, best_top = 0, best_width = 0;
    for (int i = 0; i < page->segment_count; ++i) {
        const int x = page->skyline[i].x;
        if (x + bw > page_w) {
            continue;
        }
        int y = 0;
        for (int j = i; j < page->segment_count && page->skyline[j].x < x + bw; ++j) {
            y = std::max(y, page->skyline[j].y);
        }
        const int top = y + bh;
        if (top > page_h) {
            continue;
        }
        if (best < 0 || top < best_top || (top == best_top && page->skyline[i].width < best_width)) {
            best = i;
            best_top = top;
            best_width = page->skyline[i].width;
            *out_x = x;
            *out_y = y;
        }
    }
    return best;
}

bool skyline_insert(fontatlas_page *page, int index, int x, int top, int bw)
{
    if (page->segment_count + 1 > page->segment_capacity) {
        const int cap = page->segment_capacity * 2;
        auto *grown = (fontatlas_segment *)SDL_realloc(page->skyline, sizeof(fontatlas_segment) * cap);
        if (!grown) {
            return false;
        }
        page->skyline = grown;
        page->segment_capacity = cap;
    }
    fontatlas_segment *s = page->skyline;
    SDL_memmove(&s[index + 1], &s[index], sizeof(fontatlas_segment) * (page->segment_count - index));
    s[index] = {x, top, bw};
    ++page->segment_count;
    // Trim or remove the segments the new one covers.
    const int end = x + bw;
    int i = index + 1;
    while (i < page->segment_count && s[i].x < end) {
        const int seg_end = s[i].x + s[i].width;
        if (seg_end <= end) {
            SDL_memmove(&s[i], &s[i + 1], sizeof(fontatlas_segment) * (page->segment_count - i - 1));
            --page->segment_count;
        } else {
            s[i].width = seg_end - end;
            s[i].x = end;
            break;
        }
    }
    // Merge neighbours of equal height.
    for (int j = 0; j + 1 < page->segment_count;) {
        if (s[j].y == s[j + 1].y) {
            s[j].width += s[j + 1].width;
            SDL_memmove(&s[j + 1], &s[j + 2], sizeof(fontatlas_segment) * (page->segment_count - j - 2));
            --page->segment_count;
        } else {
            ++j;
        }
    }
    return true;
}

struct rendered_glyph {
    fontatlas_glyph *glyph;
    uint32_t *pixels;  // w x h, null for empty glyphs
    int w, h;
};

void pack_glyph(fontatlas_atlas *atlas, rendered_glyph &r)
{
    const int bw = r.w + 2, bh = r.h + 2;
    if (r.w == 0 || r.h == 0 || !r.pixels) {
        return;  // nothing to draw: metrics only
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        for (fontatlas_page *page = atlas->pages; page; page = page->next) {
            int x = 0, y = 0;
            const int index = skyline_find(page, atlas->page_width, atlas->page_height, bw, bh, &x, &y);
            if (index < 0) {
                continue;
            }
            if (!skyline_insert(page, index, x, y + bh, bw)) {
                return;
            }
            SDL_Rect rect{x + 1, y + 1, r.w, r.h};
            SDL_UpdateTexture(page->texture, &rect, r.pixels, r.w * 4);
            r.glyph->page = page->texture;
            r.glyph->rect = rect;
            return;
        }
        if (!new_page(atlas)) {
            return;
        }
    }
}

}  // namespace

uint32_t fontatlas_bucket(uint64_t key)
{
    const uint32_t codepoint = (uint32_t)(key >> 32);
    uint32_t x = ((codepoint & 0xFFFFu) << 16) | (uint32_t)(key & 0xFFFFu);
    x = (x ^ 61u ^ (x >> 16)) * 9u;
    x ^= x >> 4;
    x *= 0x27d4eb2du;
    x ^= x >> 15;
    return x & 31u;
}

static fontatlas *fontatlas_build(SDL_Renderer *renderer, uint8_t *data, size_t length, const char *path)
{
    if (!font_tables_sane(data, length)) {
        SDL_free(data);
        SDL_SetError("Font '%s' is bogus or corrupt", path);
        return nullptr;
    }
    auto *f = (fontatlas *)SDL_calloc(1, sizeof(fontatlas));
    auto *atlas = (fontatlas_atlas *)SDL_calloc(1, sizeof(fontatlas_atlas));
    if (!f || !atlas) {
        SDL_free(f);
        SDL_free(atlas);
        SDL_free(data);
        SDL_OutOfMemory();
        return nullptr;
    }
    if (!stbtt_InitFont(&f->info, data, 0) || !f->info.hhea || !f->info.hmtx) {
        SDL_free(atlas);
        SDL_free(f);
        SDL_free(data);
        SDL_SetError("Font '%s' is bogus or corrupt", path);
        return nullptr;
    }
    f->data = data;
    const uint8_t *hhea = data + f->info.hhea;
    f->ascender = (int16_t)be16(hhea + 4);
    f->descender = (int16_t)be16(hhea + 6);
    f->line_gap = (int16_t)be16(hhea + 8);
    if (f->ascender - f->descender == 0) {
        SDL_free(atlas);
        SDL_free(f);
        SDL_free(data);
        SDL_SetError("Font '%s' is bogus or corrupt", path);
        return nullptr;
    }
    atlas->renderer = renderer;
    f->atlas = atlas;
    return f;
}

fontatlas *fontatlas_new(SDL_Renderer *renderer, const char *path)
{
    if (!path) {
        SDL_SetError("Couldn't load '(null)': no path");
        return nullptr;
    }
    size_t length = 0;
    char *data = loadfile(path, &length);
    if (!data) {
        SDL_SetError("Couldn't load '%s': %s", path, PHYSFS_getErrorByCode(PHYSFS_getLastErrorCode()));
        return nullptr;
    }
    return fontatlas_build(renderer, (uint8_t *)data, length, path);
}

void fontatlas_delete(fontatlas *f)
{
    if (!f) {
        return;
    }
    if (fontatlas_atlas *atlas = f->atlas) {
        for (fontatlas_page *p = atlas->pages; p;) {
            fontatlas_page *next = p->next;
            if (p->texture) SDL_DestroyTexture(p->texture);
            SDL_free(p->skyline);
            SDL_free(p);
            p = next;
        }
        for (fontatlas_glyph *&head : atlas->buckets) {
            for (fontatlas_glyph *g = head; g;) {
                fontatlas_glyph *next = g->next;
                SDL_free(g);
                g = next;
            }
        }
        SDL_free(atlas);
    }
    SDL_free(f->data);
    SDL_free(f);
}

float fontatlas_get_scale(const fontatlas *f, float size)
{
    return size / (float)(f->ascender - f->descender);
}

float fontatlas_get_ascent(const fontatlas *f, float scale)
{
    return scale * (float)f->ascender;
}

int fontatlas_has_kerning(const fontatlas *f)
{
    return f && (f->info.kern || f->info.gpos);
}

float fontatlas_get_kerningadvance(const fontatlas *f, int32_t c1, int32_t c2, float scale)
{
    if (c1 == 0 || c2 == 0 || !fontatlas_has_kerning(f)) {
        return 0.0f;
    }
    return (float)stbtt_GetCodepointKernAdvance(&f->info, c1, c2) * scale;
}

void fontatlas_cacheglyphs(fontatlas *f, const int32_t *codepoints, int count, float size)
{
    if (!f || !codepoints || count <= 0 || !size_usable(size)) {
        return;
    }
    fontatlas_atlas *atlas = f->atlas;
    const float s = fontatlas_get_scale(f, size);
    if (atlas->page_width == 0) {
        // Learn the page size now: glyphs that cannot fit are never rasterised.
        fontatlas_page *first = new_page(atlas);
        (void)first;
    }
    const int limit_w = (atlas->page_width ? atlas->page_width : page_cap) - 2;
    const int limit_h = (atlas->page_height ? atlas->page_height : page_cap) - 2;

    std::vector<rendered_glyph> rendered;
    for (int i = 0; i < count; ++i) {
        const int32_t cp = codepoints[i];
        if (cp <= 0) {
            continue;
        }
        const uint64_t key = glyph_key(cp, size);
        if (find_glyph(f, key)) {
            continue;
        }
        bool pending = false;
        for (const rendered_glyph &r : rendered) {
            pending = pending || r.glyph->key == key;
        }
        if (pending) {
            continue;
        }
        const int index = stbtt_FindGlyphIndex(&f->info, cp);
        if (index == 0) {
            continue;
        }
        int advance = 0, lsb = 0;
        stbtt_GetGlyphHMetrics(&f->info, index, &advance, &lsb);
        int gx0 = 0, gy0 = 0, gx1 = 0, gy1 = 0;
        auto *glyph = (fontatlas_glyph *)SDL_calloc(1, sizeof(fontatlas_glyph));
        if (!glyph) {
            continue;
        }
        glyph->key = key;
        glyph->advance = (float)advance * s;
        glyph->left_side_bearing = (float)lsb * s;
        if (stbtt_GetGlyphBox(&f->info, index, &gx0, &gy0, &gx1, &gy1)) {
            glyph->x0 = (int)std::floor((float)gx0 * s);
            glyph->y0 = (int)std::floor((float)-gy1 * s);
            glyph->x1 = (int)std::ceil((float)gx1 * s);
            glyph->y1 = (int)std::ceil((float)-gy0 * s);
        }
        rendered_glyph r{glyph, nullptr, glyph->x1 - glyph->x0, glyph->y1 - glyph->y0};
        if (r.w < 0 || r.h < 0) {
            r.w = r.h = 0;
        }
        // Too big for a page: cached with its metrics only, never rasterised.
        if (r.w > 0 && r.h > 0 && r.w <= limit_w && r.h <= limit_h) {
            std::vector<uint8_t> coverage((size_t)r.w * (size_t)r.h);
            stbtt_MakeGlyphBitmapSubpixel(&f->info, coverage.data(), r.w, r.h, r.w, s, s, 0.0f, 0.0f, index);
            r.pixels = (uint32_t *)SDL_malloc(coverage.size() * 4);
            if (!r.pixels) {
                SDL_free(glyph);
                continue;  // tried again on the next use
            }
            for (size_t p = 0; p < coverage.size(); ++p) {
                r.pixels[p] = ((uint32_t)coverage[p] << 24) | 0xFFFFFFu;
            }
        }
        rendered.push_back(r);
    }
    if (rendered.size() > 1) {
        std::stable_sort(rendered.begin(), rendered.end(), [](const rendered_glyph &a, const rendered_glyph &b) {
            return a.h != b.h ? a.h > b.h : a.w > b.w;
        });
    }
    for (rendered_glyph &r : rendered) {
        pack_glyph(atlas, r);
        SDL_free(r.pixels);
        const uint32_t bucket = fontatlas_bucket(r.glyph->key);
        r.glyph->next = atlas->buckets[bucket];
        atlas->buckets[bucket] = r.glyph;
    }
}

const fontatlas_glyph *fontatlas_getglyph(fontatlas *f, int32_t codepoint, float size)
{
    if (!f || codepoint <= 0 || !size_usable(size)) {
        return nullptr;
    }
    const uint64_t key = glyph_key(codepoint, size);
    if (const fontatlas_glyph *g = find_glyph(f, key)) {
        return g;
    }
    fontatlas_cacheglyphs(f, &codepoint, 1, size);
    return find_glyph(f, key);
}

void fontatlas_calcstringrect(const fontatlas *f, const char *text, float *out_width, float *out_height,
                              float size)
{
    if (out_width) *out_width = 0.0f;
    if (out_height) *out_height = 0.0f;
    if (!f) {
        return;
    }
    const float s = fontatlas_get_scale(f, size);
    if (out_height) {
        *out_height = (float)(f->ascender - f->descender + f->line_gap) * s;
    }
    if (!out_width || !text) {
        return;
    }
    const bool kerning = fontatlas_has_kerning(f);
    const bool keyed = size_usable(size);
    float width = 0.0f;
    const char *cursor = text;
    int32_t c = next_codepoint(&cursor);
    while (c != 0) {
        const int32_t n = next_codepoint(&cursor);
        const fontatlas_glyph *g = keyed ? find_glyph(f, glyph_key(c, size)) : nullptr;
        if (g) {
            width += (float)(int)g->advance;
        } else {
            const int index = stbtt_FindGlyphIndex(&f->info, c);
            if (index != 0) {
                int advance = 0, lsb = 0;
                stbtt_GetGlyphHMetrics(&f->info, index, &advance, &lsb);
                width += (float)(int)((float)advance * s);
            }
        }
        if (n != 0 && kerning) {
            width += fontatlas_get_kerningadvance(f, c, n, s);
        }
        c = n;
    }
    *out_width = width;
}

void fontatlas_calcstringrect_uncached(const fontatlas *f, const char *text, float *out_width,
                                       float *out_height, float size)
{
    if (out_width) *out_width = 0.0f;
    if (out_height) *out_height = 0.0f;
    if (!f) {
        return;
    }
    const float s = fontatlas_get_scale(f, size);
    if (out_height) {
        *out_height = (float)(f->ascender - f->descender + f->line_gap) * s * 100.0f / 100.0f;
    }
    if (!out_width || !text) {
        return;
    }
    const bool kerning = fontatlas_has_kerning(f);
    float total = 0.0f;
    const char *cursor = text;
    int32_t c = next_codepoint(&cursor);
    while (c != 0) {
        const int32_t n = next_codepoint(&cursor);
        const int index = stbtt_FindGlyphIndex(&f->info, c);
        if (index != 0) {
            int advance = 0, lsb = 0;
            stbtt_GetGlyphHMetrics(&f->info, index, &advance, &lsb);
            total += (float)(int)(s * 100.0f * (float)advance);
        }
        if (n != 0 && kerning) {
            total += s * 100.0f * (float)stbtt_GetCodepointKernAdvance(&f->info, c, n);
        }
        c = n;
    }
    *out_width = total / 100.0f;
}

// Registry.

font_registry *font_map_allocate()
{
    return (font_registry *)SDL_calloc(1, sizeof(font_registry));
}

void font_map_delete(font_registry *map)
{
    if (!map) {
        return;
    }
    for (font_entry *&head : map->buckets) {
        for (font_entry *e = head; e;) {
            font_entry *next = e->next;
            fontatlas_delete(e->font);
            SDL_free(e->path);
            SDL_free(e);
            e = next;
        }
        head = nullptr;
    }
    SDL_free(map);
}

static font_entry *find_font_entry(font_registry *map, const char *path)
{
    for (font_entry *e = map->buckets[registry_hash(path)]; e; e = e->next) {
        if (SDL_strcmp(e->path, path) == 0) {
            return e;
        }
    }
    return nullptr;
}

// Caller holds the font lock. On a miss the lock is released while the file loads
// and parses, so the render thread's labels do not wait for another thread's load.
static fontatlas *lookup_font_locked(render_context *ctx, const char *path)
{
    if (!path || !ctx->font_map) {
        return ctx->fallback_font;
    }
    if (const font_entry *e = find_font_entry(ctx->font_map, path)) {
        return e->font ? e->font : ctx->fallback_font;
    }
    if (ctx->font_lock) SDL_UnlockMutex(ctx->font_lock);
    // A failed load keeps a null font: the file is not tried again.
    fontatlas *font = fontatlas_new(ctx->renderer, path);
    if (ctx->font_lock) SDL_LockMutex(ctx->font_lock);

    // Meanwhile another thread may have loaded the same file, or a reset may have
    // replaced the whole cache: the entry found now wins.
    font_registry *map = ctx->font_map;
    if (!map) {
        fontatlas_delete(font);
        return ctx->fallback_font;
    }
    if (const font_entry *e = find_font_entry(map, path)) {
        fontatlas_delete(font);
        return e->font ? e->font : ctx->fallback_font;
    }
    auto *entry = (font_entry *)SDL_calloc(1, sizeof(font_entry));
    char *key = entry ? SDL_strdup(path) : nullptr;
    if (!key) {
        SDL_free(entry);
        fontatlas_delete(font);
        return ctx->fallback_font;
    }
    font_entry **head = &map->buckets[registry_hash(path)];
    entry->path = key;
    entry->font = font;
    entry->next = *head;
    *head = entry;
    return font ? font : ctx->fallback_font;
}

fontatlas *lookup_font(render_context *ctx, const char *path)
{
    if (!ctx) {
        return nullptr;
    }
    lock_guard lock(ctx->font_lock);
    return lookup_font_locked(ctx, path);
}

int fontatlas_measure_uncached(render_context *ctx, const char *path, const char *text, float size,
                               float *out_width, float *out_height)
{
    if (out_width) *out_width = 0.0f;
    if (out_height) *out_height = 0.0f;
    if (!ctx) {
        return 0;
    }
    lock_guard lock(ctx->font_lock);
    const fontatlas *f = lookup_font_locked(ctx, path);
    if (!f) {
        return 0;
    }
    fontatlas_calcstringrect_uncached(f, text, out_width, out_height, size);
    return 1;
}
