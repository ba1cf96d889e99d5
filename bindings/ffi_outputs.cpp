// Kor::OutputsArray#resolved? and #add_dwim: what a push into an args.outputs
// collection appends. Finished primitives go in as they are, Arrays of them are
// concatenated, an Array that is itself one primitive is marked by the framework
// and appended whole, other Arrays are taken apart, values are ignored.
#include "bindings/ffi_helpers.h"

#include <mruby/array.h>
#include <mruby/class.h>
#include <mruby/proc.h>
#include <mruby/variable.h>

namespace {

// Deep enough for any real nesting; an Array that contains itself stops here.
constexpr int add_dwim_depth_limit = 100;

struct OutputsState {
    RClass *outputs_array;
    RClass *open_entity;
    RClass *value_type;
    RClass *struct_class;
    RClass *enumerable;
    mrb_sym resolved_p, primitive_marker, draw_override, pending, array_primitive_p, mark_and_id_bang, to_a;
};
OutputsState outputs;

RClass *find_class(mrb_state *mrb, RClass *outer, const char *name)
{
    mrb_value scope = mrb_obj_value(outer ? outer : mrb->object_class);
    mrb_sym sym = mrb_intern_cstr(mrb, name);
    if (!mrb_const_defined(mrb, scope, sym)) {
        return nullptr;
    }
    mrb_value value = mrb_const_get(mrb, scope, sym);
    enum mrb_vtype type = mrb_type(value);
    return type == MRB_TT_CLASS || type == MRB_TT_MODULE ? mrb_class_ptr(value) : nullptr;
}

bool kind_of(mrb_state *mrb, mrb_value obj, RClass *klass)
{
    return klass && mrb_obj_is_kind_of(mrb, obj, klass);
}

bool value_type_p(mrb_state *mrb, mrb_value obj)
{
    switch (mrb_type(obj)) {
    case MRB_TT_INTEGER:
    case MRB_TT_FLOAT:
    case MRB_TT_STRING:
    case MRB_TT_SYMBOL:
    case MRB_TT_TRUE:
        return true;
    case MRB_TT_FALSE:
        return !mrb_nil_p(obj);
    default:
        return kind_of(mrb, obj, outputs.value_type);
    }
}

bool resolved(mrb_state *mrb, mrb_value obj)
{
    if (mrb_hash_p(obj) || kind_of(mrb, obj, outputs.open_entity) || kind_of(mrb, obj, outputs.struct_class) ||
        mrb_respond_to(mrb, obj, outputs.draw_override)) {
        return true;
    }
    // An object without a marker is not a finished primitive.
    if (!mrb_respond_to(mrb, obj, outputs.primitive_marker)) {
        return false;
    }
    mrb_value marker = mrb_funcall_argv(mrb, obj, outputs.primitive_marker, 0, nullptr);
    return !mrb_nil_p(marker) && !(mrb_symbol_p(marker) && mrb_symbol(marker) == outputs.pending);
}

mrb_value outputs_resolved_p(mrb_state *mrb, mrb_value)
{
    mrb_value obj;
    mrb_get_args(mrb, "o", &obj);
    return mrb_bool_value(resolved(mrb, obj));
}

// A collection class may refine resolved? (the mixed collections raise for
// unmarked elements): ask through the method unless it is this native one.
bool native_resolved(mrb_state *mrb, mrb_value self)
{
    RClass *klass = mrb_class(mrb, self);
    mrb_method_t method = mrb_method_search_vm(mrb, &klass, outputs.resolved_p);
    return !MRB_METHOD_UNDEF_P(method) && MRB_METHOD_CFUNC_P(method) && MRB_METHOD_CFUNC(method) == outputs_resolved_p;
}

bool resolved_for(mrb_state *mrb, mrb_value self, bool native, mrb_value obj)
{
    if (native) {
        return resolved(mrb, obj);
    }
    return mrb_test(mrb_funcall_argv(mrb, self, outputs.resolved_p, 1, &obj));
}

void add_dwim(mrb_state *mrb, mrb_value self, bool native, mrb_value obj, int depth)
{
    if (mrb_nil_p(obj)) {
        return;
    }
    if (depth > add_dwim_depth_limit) {
        mrb_raise(mrb, E_ARGUMENT_ERROR,
                  "* ERROR: An Array pushed into outputs is nested more than 100 levels deep.\n"
                  "Does it contain itself?");
    }
    if (!mrb_hash_p(obj) && !kind_of(mrb, obj, outputs.struct_class) && !kind_of(mrb, obj, outputs.open_entity)) {
        if (value_type_p(mrb, obj)) {
            return;
        }
        if (mrb_array_p(obj)) {
            if (RARRAY_LEN(obj) == 0) {
                return;
            }
        } else if (kind_of(mrb, obj, outputs.enumerable)) {
            obj = mrb_funcall_argv(mrb, obj, outputs.to_a, 0, nullptr);
            if (!mrb_array_p(obj) || RARRAY_LEN(obj) == 0) {
                return;
            }
        }
    }
    if (!mrb_array_p(obj) || resolved_for(mrb, self, native, obj)) {
        mrb_ary_push(mrb, self, obj);
        return;
    }
    bool all_resolved = true;
    ffi_walk_array(mrb, obj, [&](mrb_value e, mrb_int) {
        all_resolved = all_resolved && resolved_for(mrb, self, native, e);
    });
    if (all_resolved) {
        // Pushing into self may be pushing into obj itself: the walk's count holds.
        ffi_walk_array(mrb, obj, [&](mrb_value e, mrb_int) { mrb_ary_push(mrb, self, e); });
        return;
    }
    if (mrb_test(mrb_funcall_argv(mrb, self, outputs.array_primitive_p, 1, &obj))) {
        mrb_funcall_argv(mrb, self, outputs.mark_and_id_bang, 1, &obj);
        mrb_ary_push(mrb, self, obj);
        return;
    }
    ffi_walk_array(mrb, obj, [&](mrb_value e, mrb_int) { add_dwim(mrb, self, native, e, depth + 1); });
}

mrb_value outputs_add_dwim(mrb_state *mrb, mrb_value self)
{
    mrb_value obj;
    mrb_get_args(mrb, "o", &obj);
    add_dwim(mrb, self, native_resolved(mrb, self), obj, 0);
    return self;
}

} // namespace

void ffi_init_outputs(mrb_state *mrb)
{
    OutputsState &o = outputs;
    o.resolved_p = mrb_intern_lit(mrb, "resolved?");
    o.primitive_marker = mrb_intern_lit(mrb, "primitive_marker");
    o.draw_override = mrb_intern_lit(mrb, "draw_override");
    o.pending = mrb_intern_lit(mrb, "pending");
    o.array_primitive_p = mrb_intern_lit(mrb, "array_primitive?");
    o.mark_and_id_bang = mrb_intern_lit(mrb, "mark_and_id!");
    o.to_a = mrb_intern_lit(mrb, "to_a");

    RClass *kor = find_class(mrb, nullptr, "Kor");
    o.outputs_array = kor ? find_class(mrb, kor, "OutputsArray") : nullptr;
    o.open_entity = kor ? find_class(mrb, kor, "OpenEntity") : nullptr;
    o.value_type = find_class(mrb, nullptr, "ValueType");
    o.struct_class = find_class(mrb, nullptr, "Struct");
    o.enumerable = find_class(mrb, nullptr, "Enumerable");
    if (!o.outputs_array || o.outputs_array->tt != MRB_TT_CLASS) {
        return;  // a framework without outputs collections
    }
    mrb_define_method(mrb, o.outputs_array, "resolved?", outputs_resolved_p, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, o.outputs_array, "add_dwim", outputs_add_dwim, MRB_ARGS_REQ(1));
}
