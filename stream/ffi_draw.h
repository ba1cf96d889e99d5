// FFI::Draw: the script class through which scripts write records into the current
// frame stream. Start-up defines it under the FFI module; the runtime keeps one
// instance as ffi_draw. Runs on the thread that owns the interpreter.
#pragma once

#include <mruby.h>

#include <cstdint>

// The render context's global tick count when set_grid was last called; the tick
// compares it to tell whether the grid changed during the tick. INT32_MIN: never.
extern int32_t ffi_draw_set_grid_global_tick;

// Defines module FFI (when missing) and class FFI::Draw with its methods in
// interface order; returns the class. Primitives go where pack_primitive_stream
// says, every other record where pack_toplevel_stream says (stream/pack.h).
RClass *ffi_draw_define(mrb_state *mrb);
