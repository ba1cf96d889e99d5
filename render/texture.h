// Texture and cursor registries of the render context. Textures are kept by name:
// sprite files by path (loaded on first use, checkerboard fallback when they cannot
// be), render targets and pixel arrays by the game's name, with saved pixel copies
// that rebuild them after a lost render device. Cursors are made from image files
// or are system cursors. The draw iteration and primitive rendering call these.
//
// Threads: the render thread creates, loads and destroys textures. The simulation
// thread may create entries (lookup_texture_no_fallback) and read their sizes
// (texture_entry_query). Entries are never freed while the context lives; bucket
// links are published atomically and new entries are linked under the texture
// lock, and the render thread changes the fields texture_entry_query reads only
// while it holds that lock.
#pragma once

#include <SDL.h>
#include <cstdint>

struct render_context;

// The registry name hash: h = 5, then h = (h * 33) ^ byte, kept to 8 bits.
constexpr uint8_t registry_hash(const char *name)
{
    uint8_t h = 5;
    for (const char *p = name; *p; ++p) {
        h = (uint8_t)((uint8_t)(h * 33) ^ (uint8_t)*p);
    }
    return h;
}

struct texture_entry {
    char *name;
    SDL_Texture *texture;         // null when not loaded, unloaded or lost
    int is_render_target;
    int width, height;
    int stretch_warned;
    int nontransient_warned;
    int last_drawn_frame;
    int load_warned;              // the path and missing-file warnings were given
    uint8_t *pixels;              // saved ABGR8888 copy, or null
    uint32_t pixels_capacity;
    texture_entry *next;          // read with SDL_AtomicGetPtr
};

struct texture_registry {
    texture_entry *buckets[256];  // read with SDL_AtomicGetPtr
};

struct texture_lookup {
    int is_render_target;
    SDL_Texture *texture;
    texture_entry *entry;         // null for the fallback
    int width, height;
};

texture_entry *lookup_texture_no_fallback(render_context *ctx, const char *name);
// Like lookup_texture_no_fallback, but never creates an entry.
texture_entry *find_texture_entry(render_context *ctx, const char *name);
texture_lookup lookup_texture(render_context *ctx, const char *path);
void texture_map_delete(texture_registry *map);

// Render-thread writes of the fields the simulation thread reads.
void texture_entry_set(render_context *ctx, texture_entry *entry, SDL_Texture *texture,
                       int width, int height, int is_render_target);
void texture_entry_set_pixels(render_context *ctx, texture_entry *entry, uint8_t *pixels,
                              uint32_t capacity);

// Simulation-thread view of an entry (finds or creates it): 0 without an entry.
struct texture_entry_info {
    int width, height;
    int has_texture;       // a texture is loaded
    int has_pixels;        // a saved pixel copy exists
    int is_render_target;
};
int texture_entry_query(render_context *ctx, const char *name, texture_entry_info *out);

// Creates a static ABGR8888 texture with SDL_BLENDMODE_BLEND from w x h x 4 bytes;
// null on failure.
SDL_Texture *texture_from_pixels(SDL_Renderer *renderer, const uint8_t *pixels, int w, int h);

// Cursors.
struct cursor_entry {
    char *name;
    SDL_Cursor *cursor;
    cursor_entry *next;
};

struct cursor_registry {
    cursor_entry *buckets[16];
};

cursor_entry *lookup_cursor_no_fallback(render_context *ctx, const char *name);
SDL_Cursor *lookup_cursor(render_context *ctx, const char *path, int hot_x, int hot_y);
SDL_Cursor *lookup_system_cursor(render_context *ctx, int id);
void cursor_map_delete(cursor_registry *map);

// Writes an upload_pixel_array record into a frame stream from w x h x 4 bytes.
struct threadstream;
int texture_pack_pixel_array(threadstream *s, const char *name, int width, int height,
                             const void *pixels);

