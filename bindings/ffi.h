// The FFI module: the native classes through which the script framework reaches
// files, images, text and sprite measurement, the clipboard, cvars, the log and
// the interpreter itself (FFI::File, FFI::Misc, FFI::MRB, FFI::CPtr,
// FFI::Compiler), plus Array#value. Start-up calls ffi_init once, right after the
// framework image has run; every method runs on the simulation thread.
#pragma once

#include <mruby.h>
#include <mruby/error.h>

#include <span>

struct game_context;
struct render_context;

// What the native methods need besides their arguments.
struct ffi_binding_context {
    game_context *game;
    render_context *render;   // may be null: measurement then answers empty sizes
    char *base_directory;     // SDL_GetBasePath() copy, owned; write_root goes here
    RClass *cptr_class;
};

extern ffi_binding_context ffi_context;

// Symbols the bindings use, interned by ffi_init for the current interpreter.
struct ffi_symbols {
    mrb_sym strip_bang, empty_p;
    mrb_sym http_response_header, http_response_data, http_done;
    // FFI::File#stat keys and file types.
    mrb_sym path, file_size, mod_time, create_time, access_time, readonly, file_type;
    mrb_sym regular, directory, symlink, other;
};

extern ffi_symbols ffi_sym;

// Defines the module and its classes, runs the helper initialisers and defines
// Array#value. Records the module and FFI::File in the game record. May be called
// again for a new interpreter (tests do); the previous base directory copy is
// released then.
void ffi_init(game_context *game, render_context *render);
// Releases the binding context's own allocations.
void ffi_quit();

// Between the binding files.

struct ffi_method {
    const char *name;
    mrb_func_t function;
    mrb_aspec aspec;
};

// Registers a table of instance methods on a class, in table order.
void ffi_define_methods(mrb_state *mrb, RClass *klass, std::span<const ffi_method> methods);

RClass *ffi_define_file(mrb_state *mrb, RClass *ffi);
RClass *ffi_define_misc(mrb_state *mrb, RClass *ffi);
RClass *ffi_define_mrb(mrb_state *mrb, RClass *ffi);
RClass *ffi_define_compiler(mrb_state *mrb, RClass *ffi);

// Runs body(mrb, userdata) under the interpreter's protection, then frees owned
// with SDL_free, then re-raises whatever body raised. Native buffers handed to a
// conversion that may raise (a failed allocation) go through here, so a raise
// never leaks them.
mrb_value ffi_protect_and_free(mrb_state *mrb, mrb_protect_error_func *body, void *userdata, void *owned);
