// The label record and its readers for Hashes and plain objects.
#include "stream/pack.h"
#include "stream/pack_attrs.h"

#include <mruby/string.h>

#include "stream/records.h"
#include "stream/threadstream.h"

namespace {

struct LabelText {
    const char *bytes;  // null: the null string
    uint32_t length;
};

LabelText symbol_text(mrb_state *mrb, mrb_value v)
{
    mrb_int length = 0;
    const char *name = mrb_sym_name_len(mrb, mrb_symbol(v), &length);
    return {name, static_cast<uint32_t>(length)};
}

// A String as its bytes, nil as "", anything else through its to_s (a result that
// is not a String writes the null string). False when to_s raised.
bool label_text(mrb_state *mrb, mrb_value text, LabelText *out)
{
    if (mrb_nil_p(text)) {
        *out = {"", 0};
        return true;
    }
    if (mrb_symbol_p(text)) {
        *out = symbol_text(mrb, text);
        return true;
    }
    if (!mrb_string_p(text)) {
        text = mrb_funcall_argv(mrb, text, pack_sym.to_s, 0, nullptr);
        if (mrb->exc) {
            return false;
        }
    }
    if (mrb_string_p(text)) {
        *out = {RSTRING_PTR(text), static_cast<uint32_t>(RSTRING_LEN(text))};
    } else {
        *out = {nullptr, 0};
    }
    return true;
}

// A String names a font, a Symbol its name; nil and anything else the default font.
LabelText label_font(mrb_state *mrb, mrb_value font)
{
    if (mrb_string_p(font)) {
        return {RSTRING_PTR(font), static_cast<uint32_t>(RSTRING_LEN(font))};
    }
    if (mrb_symbol_p(font)) {
        return symbol_text(mrb, font);
    }
    return {nullptr, 0};
}

int pack_values_as_label(mrb_state *mrb, const pack_values &values)
{
    int32_t alpha = 0;
    if (!pack_alpha_passes(values.v[attr_a], &alpha)) {
        return 0;
    }
    const mrb_value *v = values.v;
    return thread_stream_pack_label(pack_primitive_stream(), mrb, v[attr_x], v[attr_y], v[attr_z], v[attr_text],
                                    v[attr_font], v[attr_size_enum], v[attr_alignment_enum], v[attr_r], v[attr_g],
                                    v[attr_b], v[attr_a], v[attr_vertical_alignment_enum], v[attr_blendmode_enum],
                                    v[attr_size_px], v[attr_anchor_x], v[attr_anchor_y]);
}

} // namespace

int thread_stream_pack_label(threadstream *s, mrb_state *mrb, mrb_value x, mrb_value y, mrb_value z, mrb_value text,
                             mrb_value font, mrb_value size_enum, mrb_value alignment_enum, mrb_value r, mrb_value g,
                             mrb_value b, mrb_value a, mrb_value vertical_alignment_enum, mrb_value blendmode_enum,
                             mrb_value size_px, mrb_value anchor_x, mrb_value anchor_y)
{
    int32_t alpha = 0;
    if (!s || !pack_alpha_passes(a, &alpha)) {
        return 0;
    }
    LabelText words;
    if (!label_text(mrb, text, &words)) {
        return 0;
    }
    LabelText face = label_font(mrb, font);
    threadstream_pack_int(s, record_label);
    threadstream_pack_ruby_float(s, x);
    threadstream_pack_ruby_float(s, y);
    threadstream_pack_ruby_float(s, z);
    threadstream_pack_buffer(s, words.bytes, words.length);
    threadstream_pack_buffer(s, face.bytes, face.length);
    threadstream_pack_ruby_float(s, size_enum);
    threadstream_pack_ruby_int(s, alignment_enum);
    threadstream_pack_ruby_int(s, r);
    threadstream_pack_ruby_int(s, g);
    threadstream_pack_ruby_int(s, b);
    threadstream_pack_int(s, alpha);
    threadstream_pack_ruby_int_or_default(s, vertical_alignment_enum, 2);
    threadstream_pack_ruby_int_or_default(s, blendmode_enum, 1);
    threadstream_pack_ruby_float_or_default(s, size_px, -1.0f);
    threadstream_pack_int(s, pack_to_flag(anchor_x));
    threadstream_pack_ruby_float(s, anchor_x);
    threadstream_pack_int(s, pack_to_flag(anchor_y));
    threadstream_pack_ruby_float(s, anchor_y);
    return s->error ? 0 : 1;
}

int threadstream_pack_label_hash(mrb_state *mrb, mrb_value hash)
{
    if (!mrb_hash_p(hash)) {
        return 0;
    }
    pack_values values;
    pack_fetch_hash(mrb, hash,
                    {attr_x, attr_y, attr_z, attr_text, attr_font, attr_size_enum, attr_alignment_enum, attr_r,
                     attr_g, attr_b, attr_a, attr_vertical_alignment_enum, attr_blendmode_enum, attr_size_px,
                     attr_anchor_x, attr_anchor_y},
                    values);
    return pack_values_as_label(mrb, values);
}

int threadstream_pack_label_object(mrb_state *mrb, mrb_value obj)
{
    if (pack_drew_itself(mrb, obj)) {
        return 0;
    }
    pack_values values;
    if (!pack_call_attributes(mrb, obj,
                              {attr_x, attr_y, attr_z, attr_text, attr_font, attr_size_enum, attr_alignment_enum,
                               attr_r, attr_g, attr_b, attr_a, attr_vertical_alignment_enum, attr_blendmode_enum,
                               attr_size_px, attr_anchor_x, attr_anchor_y},
                              values)) {
        return 0;
    }
    return pack_values_as_label(mrb, values);
}
