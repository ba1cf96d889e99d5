// FFI::Draw as start-up defines it: every method present, drawing methods that
// take any arguments, and the two reset simulations that push one SDL event each.
#include <gtest/gtest.h>

#include <SDL.h>
#include <mruby.h>
#include <mruby/compile.h>
#include <mruby/string.h>

#include <string>

#include "stream/ffi_draw.h"

namespace {

class FfiDraw : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_EVENTS), 0) << SDL_GetError();
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
        mrb_ = mrb_open();
        ASSERT_NE(mrb_, nullptr);
        ffi_draw_define(mrb_);
    }
    void TearDown() override
    {
        mrb_close(mrb_);
        SDL_QuitSubSystem(SDL_INIT_EVENTS);
    }

    std::string eval(const std::string &code)
    {
        mrb_value value = mrb_load_string(mrb_, code.c_str());
        if (mrb_->exc) {
            mrb_value exception = mrb_obj_value(mrb_->exc);
            mrb_->exc = nullptr;
            mrb_value name = mrb_funcall(mrb_, mrb_obj_value(mrb_obj_class(mrb_, exception)), "to_s", 0);
            return "raised " + std::string(RSTRING_PTR(name), RSTRING_LEN(name));
        }
        mrb_value text = mrb_inspect(mrb_, value);
        return std::string(RSTRING_PTR(text), RSTRING_LEN(text));
    }

    mrb_state *mrb_ = nullptr;
};

TEST_F(FfiDraw, DefinesEveryMethodUnderTheFfiModule)
{
    EXPECT_EQ(eval("FFI::Draw.superclass"), "Object");
    EXPECT_EQ(eval(R"(
      %w[draw_triangle draw_solid draw_solid_2 draw_solid_3 draw_sprite draw_sprite_2 draw_sprite_3
         draw_sprite_4 draw_sprite_5 draw_sprite_hash draw_label draw_label_2 draw_label_3 draw_label_4
         draw_label_5 draw_line draw_line_2 draw_border draw_border_2 draw_border_3 draw_screenshot set_grid
         unload_sprite set_cursor set_system_cursor toggle_cursor set_mouse_grab toggle_fullscreen
         set_window_scale set_window_title upload_pixel_array openurl simulate_render_targets_reset
         simulate_render_device_reset draw_a11ys].reject { |m| FFI::Draw.method_defined?(m.to_sym) }
    )"),
              "[]");
    EXPECT_EQ(eval("FFI::Draw.new.draw_solid(1, 2, 3, 4, 255, 0, 0, 255)"), "nil");
    EXPECT_EQ(eval("FFI::Draw.new.draw_triangle(*Array.new(18, 0))"), "nil");
}

struct SimulateCase {
    const char *method;
    Uint32 type;
};

class FfiDrawSimulate : public FfiDraw, public testing::WithParamInterface<SimulateCase> {};

TEST_P(FfiDrawSimulate, PushesOneEventOfItsTypeAndTakesNoArguments)
{
    EXPECT_EQ(eval(std::string("FFI::Draw.new.") + GetParam().method), "nil");

    SDL_Event event;
    ASSERT_EQ(SDL_PeepEvents(&event, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT), 1);
    EXPECT_EQ(event.type, GetParam().type);
    SDL_Event nothing;
    EXPECT_EQ(SDL_PeepEvents(&nothing, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT), 0);

    EXPECT_EQ(eval(std::string("FFI::Draw.new.") + GetParam().method + "(1)"), "raised ArgumentError");
}

INSTANTIATE_TEST_SUITE_P(Resets, FfiDrawSimulate,
                         testing::Values(SimulateCase{"simulate_render_targets_reset", SDL_RENDER_TARGETS_RESET},
                                         SimulateCase{"simulate_render_device_reset", SDL_RENDER_DEVICE_RESET}),
                         [](const testing::TestParamInfo<SimulateCase> &info) {
                             return std::string(info.param.method);
                         });

} // namespace
