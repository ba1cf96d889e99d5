// The packers' name table: every attribute Symbol and its "@" twin, interned once,
// and a small open-addressed map from Symbol to attribute for the key walk of the
// sprite-hash packer.
#include "stream/pack.h"

#include <SDL.h>

pack_symbols pack_sym;

const char *const attr_names[attr_count] = {
    "x", "y", "z", "z2", "z3", "w", "h", "angle_x", "angle_y", "angle",
    "r", "g", "b", "a", "tile_x", "tile_y", "tile_w", "tile_h",
    "source_x", "source_y", "source_w", "source_h", "flip_horizontally",
    "flip_vertically", "angle_anchor_x", "angle_anchor_y", "blendmode_enum",
    "draw_override", "x2", "y2", "x3", "y3", "source_x2", "source_y2",
    "source_x3", "source_y3", "anchor_x", "anchor_y", "font", "text", "size_enum",
    "alignment_enum", "vertical_alignment_enum", "size_px", "path", "primitive_marker",
};

namespace {

// 256 slots for 46 names: probes stay short. A slot holds attribute + 1 (0 = empty).
constexpr int attr_map_size = 256;

struct PackSymbolState {
    mrb_state *mrb;  // the interpreter the table was built for
    mrb_sym map_keys[attr_map_size];
    int map_values[attr_map_size];
};
PackSymbolState names;

uint32_t slot_of(mrb_sym sym)
{
    return (static_cast<uint32_t>(sym) * 2654435761u) >> 24;  // top 8 bits of a multiplicative hash
}

void map_put(mrb_sym sym, int attr)
{
    uint32_t slot = slot_of(sym);
    while (names.map_values[slot] != 0) {
        slot = (slot + 1) % attr_map_size;
    }
    names.map_keys[slot] = sym;
    names.map_values[slot] = attr + 1;
}

} // namespace

int pack_attr_of(mrb_sym sym)
{
    uint32_t slot = slot_of(sym);
    while (names.map_values[slot] != 0) {
        if (names.map_keys[slot] == sym) {
            return names.map_values[slot] - 1;
        }
        slot = (slot + 1) % attr_map_size;
    }
    return -1;
}

int threadstream_ruby_init(game_context *g)
{
    return g ? pack_intern_symbols(g->mrb) : 0;
}

int pack_intern_symbols(mrb_state *mrb)
{
    if (!mrb) {
        return 0;
    }
    // Always interned afresh: a new interpreter may sit at the address of an old one.
    SDL_zero(names);
    for (int i = 0; i < attr_count; i++) {
        char ivar[48];
        SDL_snprintf(ivar, sizeof ivar, "@%s", attr_names[i]);
        pack_sym.attr[i] = mrb_intern_cstr(mrb, attr_names[i]);
        pack_sym.ivar[i] = mrb_intern_cstr(mrb, ivar);
        map_put(pack_sym.attr[i], i);
    }
    pack_sym.ivar_hash = mrb_intern_lit(mrb, "@hash");
    pack_sym.as_hash = mrb_intern_lit(mrb, "as_hash");
    pack_sym.to_s = mrb_intern_lit(mrb, "to_s");
    pack_sym.call = mrb_intern_lit(mrb, "call");
    pack_sym.to_enum = mrb_intern_lit(mrb, "to_enum");
    pack_sym.to_a = mrb_intern_lit(mrb, "to_a");
    pack_sym.respond_to = mrb_intern_lit(mrb, "respond_to?");
    pack_sym.marker_sprite = mrb_intern_lit(mrb, "sprite");
    pack_sym.marker_label = mrb_intern_lit(mrb, "label");
    pack_sym.marker_line = mrb_intern_lit(mrb, "line");
    pack_sym.marker_pending = mrb_intern_lit(mrb, "pending");
    pack_sym.a11y_id = mrb_intern_lit(mrb, "a11y_id");
    pack_sym.a11y_text = mrb_intern_lit(mrb, "a11y_text");
    pack_sym.a11y_trait = mrb_intern_lit(mrb, "a11y_trait");
    pack_sym.a11y_notification_target = mrb_intern_lit(mrb, "a11y_notification_target");
    names.mrb = mrb;
    return 1;
}

int threadstream_ruby_ready(mrb_state *mrb)
{
    return mrb && names.mrb == mrb ? 1 : 0;
}
