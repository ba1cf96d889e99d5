// Support functions the executable exports for native extensions (type checks,
// values, error classes, foreign-object wrappers, FFI::CPtr), and the platform
// hooks other systems provide; on this platform the hooks do nothing. Extensions
// call these by name after the engine has loaded them.
#pragma once

#include <mruby.h>
#include <mruby/data.h>

extern "C" {

// The data type of every FFI::CPtr: named "CPtr", its free function does nothing
// (the pointer belongs to whoever handed it out).
extern const mrb_data_type ffi_cptr_type;

// A native value an extension wraps for scripts. kind 1 means data is a block from
// the C library's malloc, freed with the wrapper when owns_data is set.
struct kvn_foreign_object {
    int kind;
    void *data;
    int owns_data;
};

// Raise the interpreter's type errors; return normally when the value passes.
void kvn_typecheck_float(mrb_state *mrb, mrb_value value);
void kvn_typecheck_int(mrb_state *mrb, mrb_value value);
// nil, false and true pass; anything else raises TypeError
// "wrong argument type <value> (expected true or false)".
void kvn_typecheck_bool(mrb_state *mrb, mrb_value value);
// A native data object whose data type has the same struct name as type passes;
// anything else raises TypeError "wrong argument type <value> (expected <class>)".
void kvn_typecheck_aggregate(mrb_state *mrb, mrb_value value, RClass *klass, const mrb_data_type *type);

mrb_value kvn_float_value(mrb_state *mrb, double value);
RClass *kvn_getruntime_error(mrb_state *mrb);
RClass *kvn_getargument_error(mrb_state *mrb);
// Frees a wrapper the extension allocated with malloc (null allowed).
void kvn_free_foreign_object(mrb_state *mrb, kvn_foreign_object *object);

// A new FFI::CPtr holding pointer; nil before ffi_init has defined the class.
mrb_value ffi_cptr_new(mrb_state *mrb, void *pointer);
// Points an existing CPtr (any native data object) at pointer; other values are
// left alone.
void ffi_cptr_set(mrb_value cptr, void *pointer);

// An upload_pixel_array record (w x h x 4 bytes) into the simulation's frame
// stream, at the top level even when called while a pass is being written;
// nothing outside a tick.
void kvn_upload_pixel_array(const char *name, int width, int height, const void *pixels);
// Placeholders of the extension interface: no image, nothing to free.
void *kvn_load_image(void);
void kvn_free_image(void *pixels);

// Platform hooks: empty results here.
const char *ffi_ios_get_thermal_state(void);
void *ffi_ios_get_standard_user_defaults(void);
void ffi_ios_request_quit_fatal(const char *message);
void *ffi_android_get_shared_preferences(void);

}

// The text the two fixed type errors use for a rejected value: "nil", "Fixnum"
// for any Integer, "Symbol", "true", "false", else the class name.
const char *kvn_value_description(mrb_state *mrb, mrb_value value);
