// Fixture of the packer and FFI::Draw tests: a real interpreter with the packers'
// names interned, a current frame stream to write into, Ruby source evaluated in
// the interpreter, and readers that take the records back apart field by field
// with the threadstream unpack functions.
#pragma once

#include <gtest/gtest.h>

#include <mruby.h>
#include <mruby/compile.h>
#include <mruby/string.h>

#include <cmath>
#include <string>

#include "engine/game_context.h"
#include "log/log.h"
#include "render/render_context.h"
#include "stream/pack.h"
#include "stream/records.h"
#include "stream/threadstream.h"

namespace pack_test {

// A string field: null strings read back as absent.
struct Text {
    bool present = false;
    std::string bytes;
    bool operator==(const Text &o) const { return present == o.present && bytes == o.bytes; }
};
inline Text text(const char *s) { return {true, s}; }
inline const Text null_text{};
inline std::ostream &operator<<(std::ostream &os, const Text &t)
{
    return t.present ? os << '"' << t.bytes << '"' : os << "(null)";
}

struct SpriteRecord {
    Text path;
    float x, y, z, w, h, angle_x, angle_y, angle;
    int r, g, b, a;
    float tile_x, tile_y, tile_w, tile_h, source_x, source_y, source_w, source_h;
    int flip_h, flip_v;
    float angle_anchor_x, angle_anchor_y;
    int blendmode, texture_scale;
    float anchor_x, anchor_y;
};

struct LabelRecord {
    float x, y, z;
    Text text, font;
    float size_enum;
    int alignment, r, g, b, a, vertical_alignment, blendmode;
    float size_px;
    int has_anchor_x;
    float anchor_x;
    int has_anchor_y;
    float anchor_y;
};

struct LineRecord {
    float x, y, z, x2, y2;
    int r, g, b, a, blendmode;
};

// Solids and borders.
struct RectRecord {
    float x, y, z, w, h;
    int r, g, b, a, blendmode;
    float anchor_x, anchor_y;
};

class PackFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(threadstream_init(), 1);
        mrb = mrb_open();
        ASSERT_NE(mrb, nullptr);
        game.mrb = mrb;
        game.ffi_draw = mrb_nil_value();
        ASSERT_EQ(threadstream_ruby_init(&game), 1);
        stream = threadstream_allocate();
        ASSERT_NE(stream, nullptr);
        current_threadstream = stream;
        // Unit tests write primitives straight into the stream, as the walk does.
        pack_pass_begin();
    }

    void TearDown() override
    {
        pack_sink_reset();
        current_threadstream = nullptr;
        if (stream) {
            threadstream_free(stream);
        }
        the_render_context = nullptr;
        texture_atlas_table_clear();
        game.mrb = nullptr;
        game.ffi_draw = mrb_nil_value();
        mrb_close(mrb);
        threadstream_quit();
    }

    // Runs Ruby source at top level; a raised exception fails the test.
    mrb_value eval(const std::string &source)
    {
        mrb_value v = mrb_load_string(mrb, source.c_str());
        if (mrb->exc) {
            ADD_FAILURE() << "raised: " << error_text() << "\nin: " << source;
            mrb->exc = nullptr;
            return mrb_nil_value();
        }
        return v;
    }

    // "Class: message" of the pending exception (cleared), or "" when none.
    std::string error_text()
    {
        if (!mrb->exc) {
            return "";
        }
        mrb_value exc = mrb_obj_value(mrb->exc);
        mrb->exc = nullptr;
        mrb_value message = mrb_funcall(mrb, exc, "message", 0);
        std::string out = mrb_obj_classname(mrb, exc);
        out += ": ";
        if (mrb_string_p(message)) {
            out.append(RSTRING_PTR(message), RSTRING_LEN(message));
        }
        mrb->exc = nullptr;
        return out;
    }

    // Source run for its exception: "Class: message", "" when it did not raise.
    std::string raised(const std::string &source)
    {
        mrb_load_string(mrb, source.c_str());
        return error_text();
    }

    std::string inspect(mrb_value v)
    {
        mrb_value s = mrb_inspect(mrb, v);
        return std::string(RSTRING_PTR(s), RSTRING_LEN(s));
    }

    // Bytes written since the stream was allocated.
    uint64_t written() const { return stream->size; }

    Text read_text()
    {
        uint32_t len = 0;
        const char *p = threadstream_unpack_string(stream, &len);
        if (!p) {
            return null_text;
        }
        return {true, std::string(p, len)};
    }
    int code() { return threadstream_unpack_int(stream); }
    float f() { return threadstream_unpack_float(stream); }
    int i() { return threadstream_unpack_int(stream); }

    SpriteRecord read_sprite()
    {
        EXPECT_EQ(code(), record_sprite);
        SpriteRecord r{};
        r.path = read_text();
        r.x = f(), r.y = f(), r.z = f(), r.w = f(), r.h = f(), r.angle_x = f(), r.angle_y = f(), r.angle = f();
        r.r = i(), r.g = i(), r.b = i(), r.a = i();
        r.tile_x = f(), r.tile_y = f(), r.tile_w = f(), r.tile_h = f();
        r.source_x = f(), r.source_y = f(), r.source_w = f(), r.source_h = f();
        r.flip_h = i(), r.flip_v = i();
        r.angle_anchor_x = f(), r.angle_anchor_y = f();
        r.blendmode = i(), r.texture_scale = i();
        r.anchor_x = f(), r.anchor_y = f();
        EXPECT_EQ(stream->error, 0);
        return r;
    }

    LabelRecord read_label()
    {
        EXPECT_EQ(code(), record_label);
        LabelRecord r{};
        r.x = f(), r.y = f(), r.z = f();
        r.text = read_text();
        r.font = read_text();
        r.size_enum = f();
        r.alignment = i(), r.r = i(), r.g = i(), r.b = i(), r.a = i(), r.vertical_alignment = i(), r.blendmode = i();
        r.size_px = f();
        r.has_anchor_x = i(), r.anchor_x = f(), r.has_anchor_y = i(), r.anchor_y = f();
        EXPECT_EQ(stream->error, 0);
        return r;
    }

    LineRecord read_line()
    {
        EXPECT_EQ(code(), record_line);
        LineRecord r{};
        r.x = f(), r.y = f(), r.z = f(), r.x2 = f(), r.y2 = f();
        r.r = i(), r.g = i(), r.b = i(), r.a = i(), r.blendmode = i();
        EXPECT_EQ(stream->error, 0);
        return r;
    }

    RectRecord read_rect(int32_t expected_code)
    {
        EXPECT_EQ(code(), expected_code);
        RectRecord r{};
        r.x = f(), r.y = f(), r.z = f(), r.w = f(), r.h = f();
        r.r = i(), r.g = i(), r.b = i(), r.a = i(), r.blendmode = i();
        r.anchor_x = f(), r.anchor_y = f();
        EXPECT_EQ(stream->error, 0);
        return r;
    }

    bool at_end() const { return stream->read_pos == stream->size; }

    mrb_state *mrb = nullptr;
    threadstream *stream = nullptr;
};

} // namespace pack_test
