// FFI::Compiler: the interpreter's bytecode listing of a piece of code, for
// developers looking at what the compiler makes of their Ruby.
#include "bindings/ffi.h"

#include <mruby/compile.h>

#include <cstdio>

namespace {

mrb_value compiler_dump_codegen(mrb_state *mrb, mrb_value)
{
    const char *code = nullptr;
    mrb_get_args(mrb, "z", &code);
    mrbc_context *context = mrbc_context_new(mrb);
    context->dump_result = TRUE;
    context->no_exec = TRUE;
    context->capture_errors = TRUE;
    mrb_load_string_cxt(mrb, code, context);
    mrbc_context_free(mrb, context);
    fflush(stdout);
    // Code that does not parse has no listing; its syntax error goes to the caller.
    if (mrb->exc) {
        mrb_value exception = mrb_obj_value(mrb->exc);
        mrb->exc = nullptr;
        mrb_exc_raise(mrb, exception);
    }
    return mrb_nil_value();
}

constexpr ffi_method compiler_methods[] = {
    {"dump_codegen", compiler_dump_codegen, MRB_ARGS_REQ(1)},
};

} // namespace

RClass *ffi_define_compiler(mrb_state *mrb, RClass *ffi)
{
    RClass *compiler = mrb_define_class_under(mrb, ffi, "Compiler", mrb->object_class);
    ffi_define_methods(mrb, compiler, compiler_methods);
    return compiler;
}
