#include "render/sizing.h"

#include <algorithm>
#include <cmath>

void sizing_requested_window(int logical_w, int logical_h, int display_w, int display_h,
                             int *out_w, int *out_h)
{
    int w = logical_w, h = logical_h;
    if (display_w > 0 && display_h > 0 && w > 0 && h > 0) {
        if (display_w <= w) {
            h = (int)((float)display_w / ((float)w / (float)h));
            w = display_w;
        }
        if (display_h <= h) {
            w = (int)((float)display_h / ((float)h / (float)w));
            h = display_h;
        }
    }
    *out_w = w;
    *out_h = h;
}

float sizing_ladder(float s, int *out_percent)
{
    struct step { float from, scale; int percent; };
    static constexpr step ladder[] = {
        {4.0f, 4.0f, 400}, {3.0f, 3.0f, 300}, {2.5f, 2.5f, 250}, {2.0f, 2.0f, 200},
        {1.75f, 1.75f, 175}, {1.5f, 1.5f, 150}, {1.25f, 1.25f, 125}, {1.0f, 1.0f, 100},
        {0.75f, 0.75f, 100}, {0.5f, 0.5f, 100}, {0.25f, 0.25f, 100}, {0.1f, 0.1f, 100},
    };
    for (const step &st : ladder) {
        if (s >= st.from) {
            *out_percent = st.percent;
            return st.scale;
        }
    }
    *out_percent = 100;
    return s;  // below 0.1 (and NaN) stays as it is
}

int sizing_percent_floor(int percent)
{
    static constexpr int steps[] = {400, 300, 250, 200, 175, 150, 125};
    for (int st : steps) {
        if (percent >= st) {
            return st;
        }
    }
    return 100;
}

float sizing_window_scale(float scale)
{
    static constexpr float bounds[][2] = {
        {0.25f, 0.1f}, {0.5f, 0.25f}, {0.75f, 0.5f}, {1.0f, 0.75f}, {1.25f, 1.0f}, {1.5f, 1.25f},
        {1.75f, 1.5f}, {2.0f, 1.75f}, {2.5f, 2.0f}, {3.0f, 2.5f}, {4.0f, 3.0f},
    };
    if (std::isnan(scale)) {
        return 0.1f;
    }
    for (const auto &b : bounds) {
        if (scale < b[0]) {
            return b[1];
        }
    }
    return 4.0f;
}

float sizing_texture_factor(int percent, float render_scale)
{
    switch (percent) {
    case 100: return 1.0f;
    case 125: return 1.25f;
    case 150: return 1.5f;
    case 200: return 2.0f;
    case 250: return 2.5f;
    case 300: return 3.0f;
    case 400: return 4.0f;
    default: return render_scale;
    }
}

// The scale that goes with a ladder percent, for the hd_max_scale cap.
static bool percent_scale(int percent, float *out_scale)
{
    switch (percent) {
    case 100: *out_scale = 1.0f; return true;
    case 125: *out_scale = 1.25f; return true;
    case 150: *out_scale = 1.5f; return true;
    case 175: *out_scale = 1.75f; return true;
    case 200: *out_scale = 2.0f; return true;
    case 250: *out_scale = 2.5f; return true;
    case 300: *out_scale = 3.0f; return true;
    case 400: *out_scale = 4.0f; return true;
    default: return false;
    }
}

sizing_result sizing_compute(const sizing_input &in)
{
    sizing_result out{};
    if (!in.hd) {
        out.scale = 1.0f;
        out.percent = 100;
        out.native_w = in.logical_w;
        out.native_h = in.logical_h;
        return out;
    }

    // A window or logical size of 0 (minimised, or a bogus query) would divide by
    // zero: treat it as a 1:1 ratio and a fit of 1.
    const bool fixed_ratio = (in.output_w == 1080 && in.output_h == 2338) ||
                             (in.output_w == 2338 && in.output_h == 1080);
    float r = 1.0f;
    if (fixed_ratio) {
        r = 3.0f;
    } else if (in.window_w > 0 && in.output_w > 0) {
        r = (float)in.output_w / (float)in.window_w;
    }
    float fit = 1.0f;
    if (in.logical_w > 0 && in.logical_h > 0 && in.output_w > 0 && in.output_h > 0) {
        fit = std::min((float)in.output_w / (float)in.logical_w,
                       (float)in.output_h / (float)in.logical_h);
    }

    int percent = 100;
    float quantised = sizing_ladder(fit / r, &percent);

    int max = in.hd_max_scale;
    if (in.allscreen) {
        max = in.allscreen_max_scale;
        out.allscreen_warning = 1;
    }
    float capped;
    if (percent > in.hd_max_scale && percent_scale(in.hd_max_scale, &capped)) {
        quantised = sizing_ladder(capped, &percent);
    }

    out.percent = sizing_percent_floor((int)((float)percent * r));
    out.scale = (max != 0 || fixed_ratio) ? r * quantised : fit;

    out.centring_x = (int)(((float)in.output_w - (float)in.logical_w * out.scale) * 0.5f);
    out.centring_y = (int)(((float)in.output_h - (float)in.logical_h * out.scale) * 0.5f);

    out.native_w = in.output_w;
    out.native_h = in.output_h;
    out.letterbox_x = out.centring_x;
    out.letterbox_y = out.centring_y;
    if (max == 0 && in.hd_letterbox) {
        out.native_w = in.output_w - 2 * out.centring_x;
        out.native_h = in.output_h - 2 * out.centring_y;
        out.letterbox_x = 0;
        out.letterbox_y = 0;
    }
    return out;
}

sizing_bars sizing_letterbox_bars(int native_w, int native_h, int offset_x, int offset_y,
                                  float scale, int logical_w, int logical_h)
{
    sizing_bars bars{};
    const int gw = (int)((float)logical_w * scale + (float)offset_x + (float)offset_x);
    float left_w = (float)offset_x;
    float right_x = (float)(native_w - offset_x);
    if (native_w != gw) {
        left_w = (float)std::abs(native_w - gw) * 0.5f + (float)offset_x;
        right_x = (float)native_w - left_w;
    }
    const int gh = (int)((float)logical_h * scale + (float)offset_y + (float)offset_y);
    float top_h = (float)offset_y;
    float bottom_y = (float)(native_h - offset_y);
    if (native_h != gh) {
        top_h = (float)std::abs(native_h - gh) * 0.5f + (float)offset_y;
        bottom_y = (float)native_h - top_h;
    }
    bars.left = {0.0f, 0.0f, left_w, (float)native_h};
    bars.bottom = {0.0f, bottom_y, (float)native_w, top_h};
    bars.right = {right_x, 0.0f, left_w, (float)native_h};
    bars.top = {0.0f, 0.0f, (float)native_w, top_h};
    return bars;
}
