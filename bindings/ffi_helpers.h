// Native iteration helpers run by ffi_init: the class methods of Fn, Array and
// Enumerable that walk an Array and call a block per element without an
// enumerator, and the append logic (resolved?, add_dwim) of the framework's
// Kor::OutputsArray. ffi_init_outputs needs the framework loaded first.
#pragma once

#include <mruby.h>
#include <mruby/array.h>

void ffi_init_fn(mrb_state *mrb);
void ffi_init_array(mrb_state *mrb);
void ffi_init_enumerable(mrb_state *mrb);
void ffi_init_outputs(mrb_state *mrb);

// Between the helper files: visits index 0 .. count - 1 of an Array as long as it
// was when the walk began, reading each element afresh at its turn and stopping
// at the Array's current end when a visit shortened it. Objects a visit creates
// are released after it (keep what must survive in a reachable object).
template <typename Visit>
void ffi_walk_array(mrb_state *mrb, mrb_value array, Visit visit)
{
    mrb_int count = RARRAY_LEN(array);
    for (mrb_int i = 0; i < count && i < RARRAY_LEN(array); i++) {
        int arena = mrb_gc_arena_save(mrb);
        visit(RARRAY_PTR(array)[i], i);
        mrb_gc_arena_restore(mrb, arena);
    }
}
