// The kvn_ support functions native extensions link against, and the platform
// hooks of other systems. FFI::Misc calls the hooks, which also keeps this object
// in the executable so that every function here is exported.
#include "bindings/kvn.h"

#include <mruby/class.h>

#include <cstdlib>
#include <cstring>

#include "render/texture.h"
#include "stream/pack.h"

const char *kvn_value_description(mrb_state *mrb, mrb_value value)
{
    if (mrb_nil_p(value)) {
        return "nil";
    }
    if (mrb_integer_p(value)) {
        return "Fixnum";
    }
    if (mrb_symbol_p(value)) {
        return "Symbol";
    }
    if (mrb_true_p(value)) {
        return "true";
    }
    if (mrb_false_p(value)) {
        return "false";
    }
    return mrb_obj_classname(mrb, value);
}

extern "C" {

void kvn_upload_pixel_array(const char *name, int width, int height, const void *pixels)
{
    texture_pack_pixel_array(pack_toplevel_stream(), name, width, height, pixels);
}

void *kvn_load_image(void)
{
    return nullptr;
}

void kvn_free_image(void *)
{
}


void kvn_typecheck_float(mrb_state *mrb, mrb_value value)
{
    mrb_check_type(mrb, value, MRB_TT_FLOAT);
}

void kvn_typecheck_int(mrb_state *mrb, mrb_value value)
{
    mrb_check_type(mrb, value, MRB_TT_INTEGER);
}

void kvn_typecheck_bool(mrb_state *mrb, mrb_value value)
{
    if (mrb_nil_p(value) || mrb_true_p(value) || mrb_false_p(value)) {
        return;
    }
    mrb_raisef(mrb, E_TYPE_ERROR, "wrong argument type %s (expected true or false)",
               kvn_value_description(mrb, value));
}

void kvn_typecheck_aggregate(mrb_state *mrb, mrb_value value, RClass *klass, const mrb_data_type *type)
{
    // Type names, not addresses: an extension may carry its own copy of a type.
    if (mrb_data_p(value) && type && type->struct_name) {
        const mrb_data_type *actual = DATA_TYPE(value);
        if (actual && actual->struct_name && std::strcmp(actual->struct_name, type->struct_name) == 0) {
            return;
        }
    }
    mrb_raisef(mrb, E_TYPE_ERROR, "wrong argument type %s (expected %s)", kvn_value_description(mrb, value),
               klass ? mrb_class_name(mrb, klass) : "(unknown)");
}

mrb_value kvn_float_value(mrb_state *mrb, double value)
{
    return mrb_float_value(mrb, static_cast<mrb_float>(value));
}

RClass *kvn_getruntime_error(mrb_state *mrb)
{
    return mrb_exc_get(mrb, "RuntimeError");
}

RClass *kvn_getargument_error(mrb_state *mrb)
{
    return mrb_exc_get(mrb, "ArgumentError");
}

void kvn_free_foreign_object(mrb_state *mrb, kvn_foreign_object *object)
{
    (void)mrb;
    if (!object) {
        return;
    }
    if (object->kind == 1 && object->owns_data) {
        std::free(object->data);
    }
    std::free(object);
}

const char *ffi_ios_get_thermal_state(void)
{
    return nullptr;
}

void *ffi_ios_get_standard_user_defaults(void)
{
    return nullptr;
}

void ffi_ios_request_quit_fatal(const char *message)
{
    (void)message;
}

void *ffi_android_get_shared_preferences(void)
{
    return nullptr;
}

} // extern "C"
