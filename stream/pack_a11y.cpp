// The accessibility record: one entry per Hash of an Array.
#include "stream/pack.h"

#include <mruby/array.h>
#include <mruby/hash.h>
#include <mruby/string.h>

#include "stream/records.h"
#include "stream/threadstream.h"

namespace {

// A String as its bytes, a Symbol as its name; nil, a missing key and any other
// value write the null string.
void pack_entry_text(threadstream *s, mrb_state *mrb, mrb_value entry, mrb_sym key)
{
    mrb_value value = mrb_hash_fetch(mrb, entry, mrb_symbol_value(key), mrb_nil_value());
    if (mrb_symbol_p(value)) {
        mrb_int length = 0;
        const char *name = mrb_sym_name_len(mrb, mrb_symbol(value), &length);
        threadstream_pack_buffer(s, name, static_cast<uint32_t>(length));
    } else {
        threadstream_pack_ruby_string(s, value);
    }
}

void pack_entry_float(threadstream *s, mrb_state *mrb, mrb_value entry, int attr)
{
    threadstream_pack_ruby_float(s, mrb_hash_fetch(mrb, entry, mrb_symbol_value(pack_sym.attr[attr]), mrb_nil_value()));
}

} // namespace

int threadstream_pack_a11ys(threadstream *s, mrb_state *mrb, mrb_value entries)
{
    if (!s || !mrb_array_p(entries)) {
        return 0;
    }
    mrb_int length = RARRAY_LEN(entries);
    int32_t count = 0;
    for (mrb_int i = 0; i < length; i++) {
        count += mrb_hash_p(RARRAY_PTR(entries)[i]) ? 1 : 0;
    }
    threadstream_pack_int(s, record_a11ys);
    threadstream_pack_int(s, count);
    // Reading Hashes runs no script code, so the Array cannot change meanwhile.
    for (mrb_int i = 0; i < length; i++) {
        mrb_value entry = RARRAY_PTR(entries)[i];
        if (!mrb_hash_p(entry)) {
            continue;
        }
        pack_entry_text(s, mrb, entry, pack_sym.a11y_id);
        pack_entry_text(s, mrb, entry, pack_sym.a11y_text);
        pack_entry_text(s, mrb, entry, pack_sym.a11y_trait);
        pack_entry_text(s, mrb, entry, pack_sym.a11y_notification_target);
        pack_entry_float(s, mrb, entry, attr_x);
        pack_entry_float(s, mrb, entry, attr_y);
        pack_entry_float(s, mrb, entry, attr_w);
        pack_entry_float(s, mrb, entry, attr_h);
    }
    return s->error ? 0 : 1;
}
