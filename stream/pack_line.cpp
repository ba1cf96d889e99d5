// The line record and its readers for Hashes and plain objects.
#include "stream/pack.h"
#include "stream/pack_attrs.h"

#include "stream/records.h"
#include "stream/threadstream.h"

namespace {

int pack_values_as_line(mrb_state *mrb, const pack_values &values)
{
    const mrb_value *v = values.v;
    return threadstream_pack_line(pack_primitive_stream(), mrb, v[attr_x], v[attr_y], v[attr_w], v[attr_h],
                                  v[attr_x2], v[attr_y2], v[attr_r], v[attr_g], v[attr_b], v[attr_a],
                                  v[attr_blendmode_enum]);
}

} // namespace

int threadstream_pack_line(threadstream *s, mrb_state *, mrb_value x, mrb_value y, mrb_value w, mrb_value h,
                           mrb_value x2, mrb_value y2, mrb_value r, mrb_value g, mrb_value b, mrb_value a,
                           mrb_value blendmode)
{
    if (!s) {
        return 0;
    }
    float start_x = pack_to_float(x, 0.0f);
    float start_y = pack_to_float(y, 0.0f);
    float end_x, end_y;
    if (mrb_nil_p(y2)) {
        // Computed natively: no script objects for the end point.
        end_x = start_x + pack_to_float(w, 0.0f);
        end_y = start_y + pack_to_float(h, 0.0f);
    } else {
        end_x = pack_to_float(x2, 0.0f);
        end_y = pack_to_float(y2, 0.0f);
    }
    threadstream_pack_int(s, record_line);
    threadstream_pack_float(s, start_x);
    threadstream_pack_float(s, start_y);
    threadstream_pack_float(s, 0.0f);
    threadstream_pack_float(s, end_x);
    threadstream_pack_float(s, end_y);
    threadstream_pack_ruby_int(s, r);
    threadstream_pack_ruby_int(s, g);
    threadstream_pack_ruby_int(s, b);
    threadstream_pack_ruby_int_or_default(s, a, 255);
    threadstream_pack_ruby_int_or_default(s, blendmode, 1);
    return s->error ? 0 : 1;
}

int threadstream_pack_line_hash(mrb_state *mrb, mrb_value hash)
{
    if (!mrb_hash_p(hash)) {
        return 0;
    }
    pack_values values;
    pack_fetch_hash(mrb, hash,
                    {attr_x, attr_y, attr_w, attr_h, attr_x2, attr_y2, attr_r, attr_g, attr_b, attr_a,
                     attr_blendmode_enum},
                    values);
    return pack_values_as_line(mrb, values);
}

int threadstream_pack_line_object(mrb_state *mrb, mrb_value obj)
{
    if (pack_drew_itself(mrb, obj)) {
        return 0;
    }
    pack_values values;
    if (!pack_call_attributes(mrb, obj,
                              {attr_x, attr_y, attr_w, attr_h, attr_x2, attr_y2, attr_r, attr_g, attr_b, attr_a,
                               attr_blendmode_enum},
                              values)) {
        return 0;
    }
    return pack_values_as_line(mrb, values);
}
