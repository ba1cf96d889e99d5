#include "bindings/ffi.h"

#include <SDL.h>
#include <mruby/array.h>
#include <mruby/class.h>
#include <mruby/data.h>

#include "bindings/ffi_helpers.h"
#include "bindings/kvn.h"
#include "engine/game_context.h"

ffi_binding_context ffi_context;
ffi_symbols ffi_sym;

extern "C" const mrb_data_type ffi_cptr_type = {"CPtr", nullptr};

namespace {

void intern_symbols(mrb_state *mrb)
{
    ffi_sym.strip_bang = mrb_intern_lit(mrb, "strip!");
    ffi_sym.empty_p = mrb_intern_lit(mrb, "empty?");
    ffi_sym.http_response_header = mrb_intern_lit(mrb, "http_response_header");
    ffi_sym.http_response_data = mrb_intern_lit(mrb, "http_response_data");
    ffi_sym.http_done = mrb_intern_lit(mrb, "http_done");
    ffi_sym.path = mrb_intern_lit(mrb, "path");
    ffi_sym.file_size = mrb_intern_lit(mrb, "file_size");
    ffi_sym.mod_time = mrb_intern_lit(mrb, "mod_time");
    ffi_sym.create_time = mrb_intern_lit(mrb, "create_time");
    ffi_sym.access_time = mrb_intern_lit(mrb, "access_time");
    ffi_sym.readonly = mrb_intern_lit(mrb, "readonly");
    ffi_sym.file_type = mrb_intern_lit(mrb, "file_type");
    ffi_sym.regular = mrb_intern_lit(mrb, "regular");
    ffi_sym.directory = mrb_intern_lit(mrb, "directory");
    ffi_sym.symlink = mrb_intern_lit(mrb, "symlink");
    ffi_sym.other = mrb_intern_lit(mrb, "other");
}

// FFI::CPtr#initialize: a CPtr made by a script points at nothing.
mrb_value cptr_initialize(mrb_state *mrb, mrb_value self)
{
    (void)mrb;
    DATA_TYPE(self) = &ffi_cptr_type;
    DATA_PTR(self) = nullptr;
    return self;
}

// Array#value(index): like [] for one Integer, without the Range and length forms.
mrb_value array_value(mrb_state *mrb, mrb_value self)
{
    mrb_int index = 0;
    mrb_get_args(mrb, "i", &index);
    return mrb_ary_entry(self, index);
}

} // namespace

void ffi_define_methods(mrb_state *mrb, RClass *klass, std::span<const ffi_method> methods)
{
    for (const ffi_method &method : methods) {
        mrb_define_method(mrb, klass, method.name, method.function, method.aspec);
    }
}

mrb_value ffi_protect_and_free(mrb_state *mrb, mrb_protect_error_func *body, void *userdata, void *owned)
{
    mrb_bool failed = FALSE;
    mrb_value result = mrb_protect_error(mrb, body, userdata, &failed);
    SDL_free(owned);
    if (failed) {
        mrb_exc_raise(mrb, result);
    }
    return result;
}

extern "C" mrb_value ffi_cptr_new(mrb_state *mrb, void *pointer)
{
    if (!ffi_context.cptr_class) {
        return mrb_nil_value();
    }
    RData *data = mrb_data_object_alloc(mrb, ffi_context.cptr_class, pointer, &ffi_cptr_type);
    return mrb_obj_value(data);
}

extern "C" void ffi_cptr_set(mrb_value cptr, void *pointer)
{
    // Only a CPtr (or an untyped data object) may be re-pointed: another data
    // object would lose its free function and meet a foreign type.
    if (!mrb_data_p(cptr) || (DATA_TYPE(cptr) && DATA_TYPE(cptr) != &ffi_cptr_type)) {
        return;
    }
    DATA_TYPE(cptr) = &ffi_cptr_type;
    DATA_PTR(cptr) = pointer;
}

void ffi_init(game_context *game, render_context *render)
{
    mrb_state *mrb = game->mrb;
    intern_symbols(mrb);

    RClass *ffi = mrb_define_module(mrb, "FFI");
    ffi_context.game = game;
    ffi_context.render = render;
    SDL_free(ffi_context.base_directory);
    ffi_context.base_directory = SDL_GetBasePath();
    game->ffi_module = mrb_obj_value(ffi);

    RClass *file = ffi_define_file(mrb, ffi);
    game->file_class = mrb_obj_value(file);
    ffi_define_misc(mrb, ffi);
    ffi_define_mrb(mrb, ffi);

    RClass *cptr = mrb_define_class_under(mrb, ffi, "CPtr", mrb->object_class);
    MRB_SET_INSTANCE_TT(cptr, MRB_TT_DATA);
    mrb_define_method(mrb, cptr, "initialize", cptr_initialize, MRB_ARGS_NONE());
    ffi_context.cptr_class = cptr;

    ffi_define_compiler(mrb, ffi);

    // Geometry, matrices and the Hash accessors join this sequence, in their
    // places between these, when they exist.
    ffi_init_fn(mrb);
    ffi_init_outputs(mrb);
    ffi_init_array(mrb);
    ffi_init_enumerable(mrb);

    mrb_define_method(mrb, mrb->array_class, "value", array_value, MRB_ARGS_REQ(1));
}

void ffi_quit()
{
    SDL_free(ffi_context.base_directory);
    ffi_context = {};
}
