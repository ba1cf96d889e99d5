#include "stream/pack_attrs.h"

#include <mruby/hash.h>

namespace {

int collect_symbol_key(mrb_state *, mrb_value key, mrb_value value, void *data)
{
    if (mrb_symbol_p(key)) {
        int attr = pack_attr_of(mrb_symbol(key));
        if (attr >= 0) {
            static_cast<pack_values *>(data)->v[attr] = value;
        }
    }
    return 0;
}

} // namespace

void pack_collect_hash(mrb_state *mrb, mrb_value hash, pack_values &values)
{
    mrb_hash_foreach(mrb, mrb_hash_ptr(hash), collect_symbol_key, &values);
}

void pack_fetch_hash(mrb_state *mrb, mrb_value hash, std::initializer_list<int> attrs, pack_values &values)
{
    // fetch, not get: a Hash.new(0) default must not turn a missing alpha into 0.
    for (int attr : attrs) {
        values.v[attr] = mrb_hash_fetch(mrb, hash, mrb_symbol_value(pack_sym.attr[attr]), mrb_nil_value());
    }
}

bool pack_call_attributes(mrb_state *mrb, mrb_value obj, std::initializer_list<int> attrs, pack_values &values)
{
    for (int attr : attrs) {
        values.v[attr] = mrb_nil_value();
        if (!mrb_respond_to(mrb, obj, pack_sym.attr[attr])) {
            continue;
        }
        mrb_value result = mrb_funcall_argv(mrb, obj, pack_sym.attr[attr], 0, nullptr);
        if (mrb->exc) {
            return false;
        }
        values.v[attr] = result;
    }
    return true;
}

bool pack_drew_itself(mrb_state *mrb, mrb_value obj)
{
    if (!mrb_respond_to(mrb, obj, pack_sym.attr[attr_draw_override])) {
        return false;
    }
    mrb_value ffi_draw = game.ffi_draw;
    mrb_funcall_argv(mrb, obj, pack_sym.attr[attr_draw_override], 1, &ffi_draw);
    return true;
}
