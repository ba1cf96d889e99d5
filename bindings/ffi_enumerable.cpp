// Enumerable.find_all and Enumerable.select: module methods (not the instance
// methods of the same names) that filter an Array through a block.
#include "bindings/ffi_helpers.h"

#include <initializer_list>

namespace {

struct EnumerableSymbols {
    mrb_sym call, to_enum;
};
EnumerableSymbols enumerable_sym;

mrb_value enumerable_find_all(mrb_state *mrb, mrb_value)
{
    mrb_value array, block;
    mrb_get_args(mrb, "A&", &array, &block);
    if (mrb_nil_p(block)) {
        return mrb_funcall_argv(mrb, array, enumerable_sym.to_enum, 0, nullptr);
    }
    mrb_value result = mrb_ary_new(mrb);
    ffi_walk_array(mrb, array, [&](mrb_value e, mrb_int) {
        if (mrb_test(mrb_funcall_argv(mrb, block, enumerable_sym.call, 1, &e))) {
            mrb_ary_push(mrb, result, e);
        }
    });
    return result;
}

} // namespace

void ffi_init_enumerable(mrb_state *mrb)
{
    enumerable_sym.call = mrb_intern_lit(mrb, "call");
    enumerable_sym.to_enum = mrb_intern_lit(mrb, "to_enum");
    RClass *enumerable = mrb_module_get(mrb, "Enumerable");
    for (const char *name : {"find_all", "select"}) {
        mrb_define_class_method(mrb, enumerable, name, enumerable_find_all, MRB_ARGS_REQ(1) | MRB_ARGS_BLOCK());
    }
}
