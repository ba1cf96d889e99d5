// Solid and border records: one layout of 12 fields, both behind the alpha gate.
// Solids come only from FFI::Draw (and the tick's letterbox); borders also from
// Hashes and plain objects.
#include "stream/pack.h"
#include "stream/pack_attrs.h"

#include "stream/records.h"
#include "stream/threadstream.h"

namespace {

int write_rect(threadstream *s, int32_t code, mrb_value x, mrb_value y, mrb_value w, mrb_value h, mrb_value r,
               mrb_value g, mrb_value b, mrb_value a, mrb_value blendmode, mrb_value anchor_x, mrb_value anchor_y)
{
    int32_t alpha = 0;
    if (!s || !pack_alpha_passes(a, &alpha)) {
        return 0;
    }
    threadstream_pack_int(s, code);
    threadstream_pack_ruby_float(s, x);
    threadstream_pack_ruby_float(s, y);
    threadstream_pack_float(s, 0.0f);
    threadstream_pack_ruby_float(s, w);
    threadstream_pack_ruby_float(s, h);
    threadstream_pack_ruby_int(s, r);
    threadstream_pack_ruby_int(s, g);
    threadstream_pack_ruby_int(s, b);
    threadstream_pack_int(s, alpha);
    threadstream_pack_ruby_int_or_default(s, blendmode, 1);
    threadstream_pack_ruby_float(s, anchor_x);
    threadstream_pack_ruby_float(s, anchor_y);
    return s->error ? 0 : 1;
}

int pack_values_as_border(mrb_state *mrb, const pack_values &values)
{
    int32_t alpha = 0;
    if (!pack_alpha_passes(values.v[attr_a], &alpha)) {
        return 0;
    }
    const mrb_value *v = values.v;
    return threadstream_pack_border(pack_primitive_stream(), mrb, v[attr_x], v[attr_y], v[attr_w], v[attr_h],
                                    v[attr_r], v[attr_g], v[attr_b], v[attr_a], v[attr_blendmode_enum]);
}

} // namespace

int threadstream_pack_solid(threadstream *s, mrb_state *, mrb_value x, mrb_value y, mrb_value w, mrb_value h,
                            mrb_value r, mrb_value g, mrb_value b, mrb_value a, mrb_value blendmode,
                            mrb_value anchor_x, mrb_value anchor_y)
{
    return write_rect(s, record_solid, x, y, w, h, r, g, b, a, blendmode, anchor_x, anchor_y);
}

int threadstream_pack_border(threadstream *s, mrb_state *, mrb_value x, mrb_value y, mrb_value w, mrb_value h,
                             mrb_value r, mrb_value g, mrb_value b, mrb_value a, mrb_value blendmode,
                             mrb_value anchor_x, mrb_value anchor_y)
{
    return write_rect(s, record_border, x, y, w, h, r, g, b, a, blendmode, anchor_x, anchor_y);
}

int threadstream_pack_border_hash(mrb_state *mrb, mrb_value hash)
{
    if (!mrb_hash_p(hash)) {
        return 0;
    }
    pack_values values;
    pack_fetch_hash(mrb, hash, {attr_x, attr_y, attr_w, attr_h, attr_r, attr_g, attr_b, attr_a, attr_blendmode_enum},
                    values);
    return pack_values_as_border(mrb, values);
}

int threadstream_pack_border_object(mrb_state *mrb, mrb_value obj)
{
    if (pack_drew_itself(mrb, obj)) {
        return 0;
    }
    pack_values values;
    if (!pack_call_attributes(mrb, obj,
                              {attr_x, attr_y, attr_w, attr_h, attr_r, attr_g, attr_b, attr_a, attr_blendmode_enum},
                              values)) {
        return 0;
    }
    return pack_values_as_border(mrb, values);
}
