// Shared by the packer files: reading a primitive's attributes into one
// attribute-indexed set of values, from a Hash, by method calls or from instance
// variables. Not an interface for other modules.
#pragma once

#include <mruby.h>

#include <initializer_list>

#include "stream/pack.h"

struct pack_values {
    mrb_value v[attr_count];
    pack_values()
    {
        for (mrb_value &value : v) {
            value = mrb_nil_value();
        }
    }
};

// One walk over the keys; only Symbol keys naming an attribute count.
void pack_collect_hash(mrb_state *mrb, mrb_value hash, pack_values &values);
// Fetches the listed attributes by Symbol key, without the Hash's default.
void pack_fetch_hash(mrb_state *mrb, mrb_value hash, std::initializer_list<int> attrs, pack_values &values);
// Calls each attribute method the object answers (attributes it does not answer
// stay nil, so they take their defaults). False when a call raised; the exception
// is then in mrb->exc.
bool pack_call_attributes(mrb_state *mrb, mrb_value obj, std::initializer_list<int> attrs, pack_values &values);
// When the object answers draw_override, calls draw_override(ffi_draw) and
// returns true: the object draws itself and the packer writes nothing.
bool pack_drew_itself(mrb_state *mrb, mrb_value obj);
