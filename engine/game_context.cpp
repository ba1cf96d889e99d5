#include "engine/game_context.h"

#include <SDL.h>

#include <string>
#include <unordered_map>

game_context game;
threadstream *current_threadstream = nullptr;
render_context *the_render_context = nullptr;
char *game_directory = nullptr;

namespace {

// The variant paths are SDL allocations so the entries stay plain records that
// the packers can read without knowing the table's container.
struct AtlasState {
    std::unordered_map<std::string, texture_atlas_entry> entries;
};
AtlasState atlas;

void free_entry(texture_atlas_entry &entry)
{
    for (auto &variant : entry.variants) {
        SDL_free(variant.path);
        variant.path = nullptr;
    }
}

} // namespace

int texture_atlas_table_put(const char *sprite_path, const texture_atlas_variant variants[texture_atlas_variant_count])
{
    if (!sprite_path || !variants) {
        return 0;
    }
    texture_atlas_entry entry{};
    for (int i = 0; i < texture_atlas_variant_count; i++) {
        entry.variants[i].scale_enum = variants[i].scale_enum;
        if (variants[i].path) {
            entry.variants[i].path = SDL_strdup(variants[i].path);
            if (!entry.variants[i].path) {
                free_entry(entry);
                return 0;
            }
        }
    }
    auto [it, inserted] = atlas.entries.try_emplace(sprite_path, entry);
    if (!inserted) {
        free_entry(it->second);
        it->second = entry;
    }
    return 1;
}

const texture_atlas_entry *texture_atlas_table_get(const char *sprite_path)
{
    if (!sprite_path) {
        return nullptr;
    }
    auto it = atlas.entries.find(sprite_path);
    return it == atlas.entries.end() ? nullptr : &it->second;
}

int texture_atlas_table_count()
{
    return static_cast<int>(atlas.entries.size());
}

void texture_atlas_table_clear()
{
    for (auto &[path, entry] : atlas.entries) {
        free_entry(entry);
    }
    atlas.entries.clear();
}
