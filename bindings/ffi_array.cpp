// Array.each, Array.map and Array.map!: class methods that take the Array as their
// first argument, so the framework's loops make no enumerator per call.
#include "bindings/ffi_helpers.h"

#include <mruby/error.h>
#include <mruby/string.h>

namespace {

struct ArraySymbols {
    mrb_sym call;
};
ArraySymbols array_sym;

// TypeError "<prefix><value.to_s>." ("nil" for nil). Raised last: nothing in this
// frame needs cleaning up.
void raise_not_an_array(mrb_state *mrb, const char *prefix, mrb_value value)
{
    mrb_value message = mrb_str_new_cstr(mrb, prefix);
    mrb_str_cat_str(mrb, message, mrb_nil_p(value) ? mrb_str_new_lit(mrb, "nil") : mrb_obj_as_string(mrb, value));
    mrb_str_cat_lit(mrb, message, ".");
    mrb_exc_raise(mrb, mrb_exc_new_str(mrb, E_TYPE_ERROR, message));
}

mrb_value array_checked(mrb_state *mrb, const char *prefix, mrb_value *block)
{
    mrb_value array;
    mrb_get_args(mrb, "o&!", &array, block);
    if (!mrb_array_p(array)) {
        raise_not_an_array(mrb, prefix, array);
    }
    return array;
}

constexpr const char *each_message = "~Array::each~ expects an array, but received ";
constexpr const char *map_message = "~Array::map~ expects an array, but received ";

mrb_value array_each(mrb_state *mrb, mrb_value)
{
    mrb_value block;
    mrb_value array = array_checked(mrb, each_message, &block);
    ffi_walk_array(mrb, array, [&](mrb_value e, mrb_int) { mrb_funcall_argv(mrb, block, array_sym.call, 1, &e); });
    return mrb_nil_value();
}

mrb_value array_map(mrb_state *mrb, mrb_value)
{
    mrb_value block;
    mrb_value array = array_checked(mrb, map_message, &block);
    mrb_value result = mrb_ary_new_capa(mrb, RARRAY_LEN(array));
    ffi_walk_array(mrb, array, [&](mrb_value e, mrb_int) {
        mrb_ary_push(mrb, result, mrb_funcall_argv(mrb, block, array_sym.call, 1, &e));
    });
    return result;
}

mrb_value array_map_bang(mrb_state *mrb, mrb_value)
{
    mrb_value block;
    mrb_value array = array_checked(mrb, map_message, &block);
    ffi_walk_array(mrb, array, [&](mrb_value e, mrb_int i) {
        mrb_value mapped = mrb_funcall_argv(mrb, block, array_sym.call, 1, &e);
        // A block that shortened the Array must not make it grow again.
        if (i < RARRAY_LEN(array)) {
            mrb_ary_set(mrb, array, i, mapped);
        }
    });
    return array;
}

struct ArrayMethod {
    const char *name;
    mrb_func_t function;
};

constexpr ArrayMethod array_methods[] = {
    {"map", array_map},
    {"map!", array_map_bang},
    {"each", array_each},
};

} // namespace

void ffi_init_array(mrb_state *mrb)
{
    array_sym.call = mrb_intern_lit(mrb, "call");
    for (const ArrayMethod &method : array_methods) {
        mrb_define_class_method(mrb, mrb->array_class, method.name, method.function,
                                MRB_ARGS_REQ(1) | MRB_ARGS_BLOCK());
    }
}
