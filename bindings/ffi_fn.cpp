// Fn: class methods that walk an Array and send each element to a receiver's
// method or to a block.
#include "bindings/ffi_helpers.h"

#include <mruby/array.h>
#include <mruby/class.h>
#include <mruby/variable.h>

namespace {

struct FnSymbols {
    mrb_sym call;
};
FnSymbols fn_sym;

mrb_value fn_each_send(mrb_state *mrb, mrb_value)
{
    mrb_value array, receiver;
    mrb_sym method;
    mrb_get_args(mrb, "A!on", &array, &receiver, &method);
    if (mrb_nil_p(array)) {
        return mrb_nil_value();
    }
    ffi_walk_array(mrb, array, [&](mrb_value e, mrb_int) { mrb_funcall_argv(mrb, receiver, method, 1, &e); });
    return mrb_nil_value();
}

mrb_value fn_each_with_index_send(mrb_state *mrb, mrb_value)
{
    mrb_value array, receiver;
    mrb_sym method;
    mrb_get_args(mrb, "A!on", &array, &receiver, &method);
    if (mrb_nil_p(array)) {
        return mrb_nil_value();
    }
    ffi_walk_array(mrb, array, [&](mrb_value e, mrb_int i) {
        mrb_value args[2] = {e, mrb_fixnum_value(i)};
        mrb_funcall_argv(mrb, receiver, method, 2, args);
    });
    return mrb_nil_value();
}

mrb_value fn_each(mrb_state *mrb, mrb_value)
{
    mrb_value array, block;
    mrb_get_args(mrb, "A&!", &array, &block);
    ffi_walk_array(mrb, array, [&](mrb_value e, mrb_int) { mrb_funcall_argv(mrb, block, fn_sym.call, 1, &e); });
    return mrb_nil_value();
}

mrb_value fn_each_with_index(mrb_state *mrb, mrb_value)
{
    mrb_value array, block;
    mrb_get_args(mrb, "A&!", &array, &block);
    ffi_walk_array(mrb, array, [&](mrb_value e, mrb_int i) {
        mrb_value args[2] = {e, mrb_fixnum_value(i)};
        mrb_funcall_argv(mrb, block, fn_sym.call, 2, args);
    });
    return mrb_nil_value();
}

mrb_value fn_map(mrb_state *mrb, mrb_value)
{
    mrb_value array, block;
    mrb_get_args(mrb, "A&!", &array, &block);
    mrb_value result = mrb_ary_new_capa(mrb, RARRAY_LEN(array));
    ffi_walk_array(mrb, array, [&](mrb_value e, mrb_int) {
        mrb_ary_push(mrb, result, mrb_funcall_argv(mrb, block, fn_sym.call, 1, &e));
    });
    return result;
}

struct FnMethod {
    const char *name;
    mrb_func_t function;
    mrb_aspec aspec;
};

constexpr FnMethod fn_methods[] = {
    {"each_send", fn_each_send, MRB_ARGS_REQ(3)},
    {"each_with_index_send", fn_each_with_index_send, MRB_ARGS_REQ(3)},
    {"each", fn_each, MRB_ARGS_REQ(1) | MRB_ARGS_BLOCK()},
    {"each_with_index", fn_each_with_index, MRB_ARGS_REQ(1) | MRB_ARGS_BLOCK()},
    {"map", fn_map, MRB_ARGS_REQ(1) | MRB_ARGS_BLOCK()},
};

} // namespace

void ffi_init_fn(mrb_state *mrb)
{
    fn_sym.call = mrb_intern_lit(mrb, "call");
    // The framework may have opened Fn already (as a class or a module): extend it.
    mrb_sym name = mrb_intern_lit(mrb, "Fn");
    mrb_value object = mrb_obj_value(mrb->object_class);
    RClass *fn = nullptr;
    if (mrb_const_defined(mrb, object, name)) {
        mrb_value existing = mrb_const_get(mrb, object, name);
        if (mrb_type(existing) == MRB_TT_CLASS || mrb_type(existing) == MRB_TT_MODULE) {
            fn = mrb_class_ptr(existing);
        }
    }
    if (!fn) {
        fn = mrb_define_class(mrb, "Fn", mrb->object_class);
    }
    for (const FnMethod &method : fn_methods) {
        mrb_define_class_method(mrb, fn, method.name, method.function, method.aspec);
    }
}
