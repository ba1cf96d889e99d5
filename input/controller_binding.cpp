// The controller methods of FFI::Misc: closing raw joysticks, adding a mapping the
// configuration screen built, and turning a raw joystick into a controller.
#include <SDL.h>
#include <mruby.h>

#include <cstdint>

#include "bindings/ffi.h"
#include "input/controller_binding.h"
#include "engine/game_context.h"
#include "input/controllers.h"

namespace {

SDL_JoystickID joystick_id(mrb_int value)
{
    // Out-of-range ids name no joystick; -1 never does.
    return value < INT32_MIN || value > INT32_MAX ? -1 : static_cast<SDL_JoystickID>(value);
}

mrb_value misc_close_raw_joystick(mrb_state *mrb, mrb_value)
{
    mrb_int jid = 0;
    mrb_get_args(mrb, "i", &jid);
    controllers_close_raw_joystick(joystick_id(jid));
    return mrb_nil_value();
}

mrb_value misc_add_controller_config(mrb_state *mrb, mrb_value)
{
    const char *mapping = nullptr;
    mrb_get_args(mrb, "z", &mapping);
    char *base = ffi_context.base_directory ? nullptr : SDL_GetBasePath();
    controllers_add_user_mapping(mapping, ffi_context.base_directory ? ffi_context.base_directory : base);
    SDL_free(base);
    return mrb_nil_value();
}

mrb_value misc_convert_rawjoystick_to_controller(mrb_state *mrb, mrb_value)
{
    mrb_int jid = 0;
    mrb_get_args(mrb, "i", &jid);
    controllers_convert_raw_to_controller(&game, joystick_id(jid));
    return mrb_nil_value();
}

struct Method {
    const char *name;
    mrb_func_t function;
    mrb_aspec aspec;
};

constexpr Method misc_methods[] = {
    {"close_raw_joystick", misc_close_raw_joystick, MRB_ARGS_REQ(1)},
    {"add_controller_config", misc_add_controller_config, MRB_ARGS_REQ(1)},
    {"convert_rawjoystick_to_controller", misc_convert_rawjoystick_to_controller, MRB_ARGS_REQ(1)},
};

} // namespace

void ffi_init_controllers(mrb_state *mrb)
{
    RClass *ffi = mrb_define_module(mrb, "FFI");
    RClass *misc = mrb_define_class_under(mrb, ffi, "Misc", mrb->object_class);
    for (const Method &method : misc_methods) {
        mrb_define_method(mrb, misc, method.name, method.function, method.aspec);
    }
}
