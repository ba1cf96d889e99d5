// The controller methods of FFI::Misc (close_raw_joystick, add_controller_config,
// convert_rawjoystick_to_controller). events_init defines them; ffi_init may too.
#pragma once

#include <mruby.h>

// Defines the methods, creating FFI and FFI::Misc when they do not exist yet.
void ffi_init_controllers(mrb_state *mrb);
