#include "stream/ffi_draw.h"

#include <SDL.h>

#include <climits>

int32_t ffi_draw_set_grid_global_tick = INT32_MIN;

namespace {

// Drawing and window methods whose records come with the primitive packers; until
// then they accept their arguments and write nothing.
mrb_value draw_accept(mrb_state *, mrb_value)
{
    return mrb_nil_value();
}

void push_zeroed_event(Uint32 type)
{
    SDL_Event event;
    SDL_zero(event);
    event.type = type;
    SDL_PushEvent(&event);
}

mrb_value draw_simulate_render_targets_reset(mrb_state *, mrb_value)
{
    push_zeroed_event(SDL_RENDER_TARGETS_RESET);
    return mrb_nil_value();
}

mrb_value draw_simulate_render_device_reset(mrb_state *, mrb_value)
{
    push_zeroed_event(SDL_RENDER_DEVICE_RESET);
    return mrb_nil_value();
}

struct DrawMethod {
    const char *name;
    mrb_func_t function;
    mrb_aspec aspec;
};

constexpr DrawMethod draw_methods[] = {
    {"draw_triangle", draw_accept, MRB_ARGS_ANY()},
    {"draw_solid", draw_accept, MRB_ARGS_ANY()},
    {"draw_solid_2", draw_accept, MRB_ARGS_ANY()},
    {"draw_solid_3", draw_accept, MRB_ARGS_ANY()},
    {"draw_sprite", draw_accept, MRB_ARGS_ANY()},
    {"draw_sprite_2", draw_accept, MRB_ARGS_ANY()},
    {"draw_sprite_3", draw_accept, MRB_ARGS_ANY()},
    {"draw_sprite_4", draw_accept, MRB_ARGS_ANY()},
    {"draw_sprite_5", draw_accept, MRB_ARGS_ANY()},
    {"draw_sprite_hash", draw_accept, MRB_ARGS_ANY()},
    {"draw_label", draw_accept, MRB_ARGS_ANY()},
    {"draw_label_2", draw_accept, MRB_ARGS_ANY()},
    {"draw_label_3", draw_accept, MRB_ARGS_ANY()},
    {"draw_label_4", draw_accept, MRB_ARGS_ANY()},
    {"draw_label_5", draw_accept, MRB_ARGS_ANY()},
    {"draw_line", draw_accept, MRB_ARGS_ANY()},
    {"draw_line_2", draw_accept, MRB_ARGS_ANY()},
    {"draw_border", draw_accept, MRB_ARGS_ANY()},
    {"draw_border_2", draw_accept, MRB_ARGS_ANY()},
    {"draw_border_3", draw_accept, MRB_ARGS_ANY()},
    {"draw_screenshot", draw_accept, MRB_ARGS_ANY()},
    {"set_grid", draw_accept, MRB_ARGS_ANY()},
    {"unload_sprite", draw_accept, MRB_ARGS_ANY()},
    {"set_cursor", draw_accept, MRB_ARGS_ANY()},
    {"set_system_cursor", draw_accept, MRB_ARGS_ANY()},
    {"toggle_cursor", draw_accept, MRB_ARGS_ANY()},
    {"set_mouse_grab", draw_accept, MRB_ARGS_ANY()},
    {"toggle_fullscreen", draw_accept, MRB_ARGS_ANY()},
    {"set_window_scale", draw_accept, MRB_ARGS_ANY()},
    {"set_window_title", draw_accept, MRB_ARGS_ANY()},
    {"upload_pixel_array", draw_accept, MRB_ARGS_ANY()},
    {"openurl", draw_accept, MRB_ARGS_ANY()},
    {"simulate_render_targets_reset", draw_simulate_render_targets_reset, MRB_ARGS_NONE()},
    {"simulate_render_device_reset", draw_simulate_render_device_reset, MRB_ARGS_NONE()},
    {"draw_a11ys", draw_accept, MRB_ARGS_ANY()},
};

} // namespace

RClass *ffi_draw_define(mrb_state *mrb)
{
    RClass *ffi = mrb_define_module(mrb, "FFI");
    RClass *draw = mrb_define_class_under(mrb, ffi, "Draw", mrb->object_class);
    for (const DrawMethod &method : draw_methods) {
        mrb_define_method(mrb, draw, method.name, method.function, method.aspec);
    }
    return draw;
}
