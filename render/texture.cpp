#include "render/texture.h"

#include <cctype>

#include "log/log.h"
#include "render/image.h"
#include "render/render_context.h"
#include "stream/records.h"
#include "stream/threadstream.h"

namespace {

// RAII for the registry lock of one call.
struct lock_guard {
    SDL_mutex *m;
    explicit lock_guard(SDL_mutex *mutex) : m(mutex) { if (m) SDL_LockMutex(m); }
    ~lock_guard() { if (m) SDL_UnlockMutex(m); }
    lock_guard(const lock_guard &) = delete;
    lock_guard &operator=(const lock_guard &) = delete;
};

texture_entry *load_link(texture_entry *const *link)
{
    return (texture_entry *)SDL_AtomicGetPtr((void **)link);
}

texture_entry *find_in_bucket(texture_entry *const *head, const char *name)
{
    for (texture_entry *e = load_link(head); e; e = load_link(&e->next)) {
        if (SDL_strcmp(e->name, name) == 0) {
            return e;
        }
    }
    return nullptr;
}

texture_registry *registry_of(render_context *ctx)
{
    return (texture_registry *)SDL_AtomicGetPtr((void **)&ctx->texture_map);
}

}  // namespace

texture_entry *find_texture_entry(render_context *ctx, const char *name)
{
    if (!ctx || !name) {
        return nullptr;
    }
    texture_registry *map = registry_of(ctx);
    return map ? find_in_bucket(&map->buckets[registry_hash(name)], name) : nullptr;
}

texture_entry *lookup_texture_no_fallback(render_context *ctx, const char *name)
{
    if (!ctx || !name) {
        return nullptr;
    }
    // Lock-free walk first: a found entry is never freed, and links are only ever
    // prepended with an atomic publish.
    if (texture_entry *found = find_texture_entry(ctx, name)) {
        return found;
    }

    lock_guard lock(ctx->texture_lock);
    texture_registry *map = registry_of(ctx);
    if (!map) {
        map = (texture_registry *)SDL_calloc(1, sizeof(texture_registry));
        if (!map) {
            return nullptr;
        }
        SDL_AtomicSetPtr((void **)&ctx->texture_map, map);
    }
    texture_entry **head = &map->buckets[registry_hash(name)];
    if (texture_entry *found = find_in_bucket(head, name)) {
        return found;  // the other thread made it meanwhile
    }
    auto *entry = (texture_entry *)SDL_calloc(1, sizeof(texture_entry));
    if (!entry) {
        return nullptr;
    }
    entry->name = SDL_strdup(name);
    if (!entry->name) {
        SDL_free(entry);
        return nullptr;
    }
    // Never drawn as a target: no frame number can look like "the previous frame".
    entry->last_drawn_frame = INT32_MIN / 2;
    entry->next = load_link(head);
    SDL_AtomicSetPtr((void **)head, entry);
    return entry;
}

void texture_entry_set(render_context *ctx, texture_entry *entry, SDL_Texture *texture,
                       int width, int height, int is_render_target)
{
    lock_guard lock(ctx->texture_lock);
    entry->is_render_target = is_render_target;
    entry->texture = texture;
    entry->width = width;
    entry->height = height;
}

void texture_entry_set_pixels(render_context *ctx, texture_entry *entry, uint8_t *pixels,
                              uint32_t capacity)
{
    lock_guard lock(ctx->texture_lock);
    entry->pixels = pixels;
    entry->pixels_capacity = capacity;
}

int texture_entry_query(render_context *ctx, const char *name, texture_entry_info *out)
{
    texture_entry *entry = lookup_texture_no_fallback(ctx, name);
    if (!entry) {
        return 0;
    }
    lock_guard lock(ctx->texture_lock);
    if (out) {
        out->width = entry->width;
        out->height = entry->height;
        out->has_texture = entry->texture != nullptr;
        out->has_pixels = entry->pixels != nullptr;
        out->is_render_target = entry->is_render_target;
    }
    return 1;
}

SDL_Texture *texture_from_pixels(SDL_Renderer *renderer, const uint8_t *pixels, int w, int h)
{
    if (!renderer || !pixels || w <= 0 || h <= 0) {
        return nullptr;
    }
    SDL_Texture *t = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ABGR8888, SDL_TEXTUREACCESS_STATIC, w, h);
    if (!t) {
        return nullptr;
    }
    SDL_SetTextureBlendMode(t, SDL_BLENDMODE_BLEND);
    if (SDL_UpdateTexture(t, nullptr, pixels, w * 4) != 0) {
        SDL_DestroyTexture(t);
        return nullptr;
    }
    return t;
}

// Development-mode advice for paths that break on case-sensitive or
// space-hostile platforms.
static void warn_problematic_path(const char *path)
{
    bool problematic = false;
    for (const char *p = path; *p; ++p) {
        const unsigned char c = (unsigned char)*p;
        if ((c >= 'A' && c <= 'Z') || std::isspace(c)) {
            problematic = true;
            break;
        }
    }
    if (!problematic) {
        return;
    }
    char *suggestion = SDL_strdup(path);
    if (!suggestion) {
        return;
    }
    for (char *p = suggestion; *p; ++p) {
        const unsigned char c = (unsigned char)*p;
        if (std::isspace(c)) {
            *p = '-';
        } else if (c >= 'A' && c <= 'Z') {
            *p = (char)(c - 'A' + 'a');
        }
    }
    log_warn("Engine",
             "* WARNING: File path contains problematic characters.\n"
             "  To ensure cross-platform support, it is STRONGLY recommended\n"
             "  that file names be all lowercase with no spaces.\n\n"
             "  Consider renaming:\n    =%s=\n  to\n    =%s=",
             path, suggestion);
    SDL_free(suggestion);
}

texture_lookup lookup_texture(render_context *ctx, const char *path)
{
    texture_lookup out{};
    texture_entry *entry = lookup_texture_no_fallback(ctx, path);
    if (entry) {
        if (entry->texture) {
            out.is_render_target = entry->is_render_target;
            out.texture = entry->texture;
            out.entry = entry;
            out.width = entry->width;
            out.height = entry->height;
            return out;
        }
        if (entry->pixels) {
            // A pixel array, or a render target whose texture was lost.
            SDL_Texture *t = texture_from_pixels(ctx->renderer, entry->pixels, entry->width, entry->height);
            if (t) {
                texture_entry_set(ctx, entry, t, entry->width, entry->height, entry->is_render_target);
                log_spam("Render", "Reuploaded managed pixels for '%s' after device reset", path);
            }
        } else {
            // Both warnings come once per path: a missing file is retried on every
            // draw, and a line per frame would drown the log.
            if (ctx->development && !entry->load_warned) {
                warn_problematic_path(path);
            }
            int w = 0, h = 0;
            SDL_Texture *t = nullptr;
            uint8_t *pixels = load_image(path, &w, &h);
            if (pixels) {
                if (ctx->development && (w > 4000 || h > 4000)) {
                    log_warn("Engine",
                             "* WARNING: Texture size exceeds what Android can handle.\n"
                             "  The texture with path =%s= has dimensions that are larger than "
                             "1600x1600  and WILL NOT render on Android devices in HD Mode.",
                             path);
                }
                t = texture_from_pixels(ctx->renderer, pixels, w, h);
                free_image(pixels);
            }
            if (!t) {
                w = h = 0;
                if (!entry->load_warned) {
                    log_warn("Render", "Couldn't load image '%s', drawing the fallback checkerboard instead.", path);
                }
            }
            entry->load_warned = 1;
            texture_entry_set(ctx, entry, t, w, h, 0);
            entry->stretch_warned = 0;
            entry->nontransient_warned = 0;
        }
        if (entry->texture) {
            out.is_render_target = entry->is_render_target;
            out.texture = entry->texture;
            out.entry = entry;
            out.width = entry->width;
            out.height = entry->height;
            return out;
        }
    }
    out.texture = ctx ? ctx->checkerboard : nullptr;
    if (out.texture) {
        out.width = 256;
        out.height = 256;
    }
    return out;
}

void texture_map_delete(texture_registry *map)
{
    if (!map) {
        return;
    }
    for (texture_entry *&head : map->buckets) {
        texture_entry *e = head;
        while (e) {
            texture_entry *next = e->next;
            if (e->texture) {
                SDL_DestroyTexture(e->texture);
            }
            SDL_free(e->pixels);
            SDL_free(e->name);
            SDL_free(e);
            e = next;
        }
        head = nullptr;
    }
    SDL_free(map);
}

// Cursors: render thread only.

cursor_entry *lookup_cursor_no_fallback(render_context *ctx, const char *name)
{
    if (!ctx || !name) {
        return nullptr;
    }
    if (!ctx->cursor_map) {
        ctx->cursor_map = (cursor_registry *)SDL_calloc(1, sizeof(cursor_registry));
        if (!ctx->cursor_map) {
            return nullptr;
        }
    }
    cursor_entry **head = &ctx->cursor_map->buckets[registry_hash(name) & 15];
    for (cursor_entry *e = *head; e; e = e->next) {
        if (SDL_strcmp(e->name, name) == 0) {
            return e;
        }
    }
    auto *entry = (cursor_entry *)SDL_calloc(1, sizeof(cursor_entry));
    if (!entry) {
        return nullptr;
    }
    entry->name = SDL_strdup(name);
    if (!entry->name) {
        SDL_free(entry);
        return nullptr;
    }
    entry->next = *head;
    *head = entry;
    return entry;
}

SDL_Cursor *lookup_cursor(render_context *ctx, const char *path, int hot_x, int hot_y)
{
    cursor_entry *entry = lookup_cursor_no_fallback(ctx, path);
    if (!entry) {
        return SDL_GetDefaultCursor();
    }
    if (!entry->cursor) {
        int w = 0, h = 0;
        uint8_t *pixels = load_image(path, &w, &h);
        if (pixels) {
            SDL_Surface *surface = SDL_CreateRGBSurfaceWithFormatFrom(pixels, w, h, 32, w * 4,
                                                                      SDL_PIXELFORMAT_ABGR8888);
            if (surface) {
                entry->cursor = SDL_CreateColorCursor(surface, hot_x, hot_y);
                SDL_FreeSurface(surface);
            }
            free_image(pixels);
        }
    }
    return entry->cursor ? entry->cursor : SDL_GetDefaultCursor();
}

SDL_Cursor *lookup_system_cursor(render_context *ctx, int id)
{
    char key[32];
    SDL_snprintf(key, sizeof(key), "$KORVN$%d", id);
    cursor_entry *entry = lookup_cursor_no_fallback(ctx, key);
    if (!entry) {
        return SDL_GetDefaultCursor();
    }
    if (!entry->cursor) {
        entry->cursor = SDL_CreateSystemCursor((SDL_SystemCursor)id);
    }
    return entry->cursor ? entry->cursor : SDL_GetDefaultCursor();
}

void cursor_map_delete(cursor_registry *map)
{
    if (!map) {
        return;
    }
    for (cursor_entry *&head : map->buckets) {
        cursor_entry *e = head;
        while (e) {
            cursor_entry *next = e->next;
            if (e->cursor) {
                SDL_FreeCursor(e->cursor);
            }
            SDL_free(e->name);
            SDL_free(e);
            e = next;
        }
        head = nullptr;
    }
    SDL_free(map);
}

int texture_pack_pixel_array(threadstream *s, const char *name, int width, int height,
                             const void *pixels)
{
    if (!s) {
        return 0;
    }
    const uint64_t bytes = (uint64_t)(width > 0 ? width : 0) * (uint64_t)(height > 0 ? height : 0) * 4;
    if (bytes > 0xFFFFFFF0u) {
        return 0;
    }
    threadstream_pack_int(s, record_upload_pixel_array);
    threadstream_pack_string(s, name);
    threadstream_pack_int(s, width);
    threadstream_pack_int(s, height);
    threadstream_pack_buffer(s, pixels, (uint32_t)bytes);
    return s->error == 0;
}

