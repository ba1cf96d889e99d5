#include "render/draw.h"

#include <climits>
#include <initializer_list>
#include <cmath>

#include "config/metadata.h"
#include "engine/flags.h"
#include "engine/fps.h"
#include "engine/frame_timings.h"
#include "fs/filehelpers.h"
#include "log/log.h"
#include "render/image.h"
#include "render/primitives.h"
#include "render/renderer_cvars.h"
#include "render/sizing.h"
#include "render/texture.h"
#include "stream/records.h"

static_assert(sizeof(SDL_Event) == event_record_size, "event stream records are raw SDL_Events");

namespace {

// Indexes into ctx->log_counters for the rate-limited messages.
enum limited_log : int {
    limit_targets_reset,
    limit_device_reset,
    limit_mouse_grab,
    limit_target_oom,
    limit_target_read,
    limit_pixel_array_oom,
    limit_screenshot_path,
};

int float_to_int(float v)
{
    if (!std::isfinite(v)) {
        return 0;
    }
    if (v >= (float)INT_MAX) return INT_MAX;
    if (v <= (float)INT_MIN) return INT_MIN;
    return (int)v;
}

int centred_height(const render_context *ctx, int height)
{
    return ctx->grid_centred ? height / 2 : height;
}

void select_screen(render_context *ctx, int flip_height)
{
    SDL_SetRenderTarget(ctx->renderer, nullptr);
    ctx->current_target = nullptr;
    ctx->current_target_name = nullptr;
    ctx->current_origin_x = ctx->grid_origin_x;
    ctx->flip_height = flip_height;
}

// Reads the byte-string fields of a record; the caller checks s->error once.
const char *read_string(threadstream *s, uint32_t *len = nullptr)
{
    return threadstream_unpack_string(s, len);
}

// ---- Window and cursor records -------------------------------------------------

void apply_system_cursor(render_context *ctx, const char *name)
{
    int id;
    if (SDL_strcmp(name, "arrow") == 0) id = SDL_SYSTEM_CURSOR_ARROW;
    else if (SDL_strcmp(name, "ibeam") == 0) id = SDL_SYSTEM_CURSOR_IBEAM;
    else if (SDL_strcmp(name, "wait") == 0) id = SDL_SYSTEM_CURSOR_WAIT;
    else if (SDL_strcmp(name, "hand") == 0) id = SDL_SYSTEM_CURSOR_HAND;
    else return;
    SDL_SetCursor(lookup_system_cursor(ctx, id));
}

void apply_mouse_grab(render_context *ctx, int mode)
{
    if (mode == 2) {
        SDL_SetWindowGrab(ctx->window, SDL_FALSE);
        SDL_SetRelativeMouseMode(SDL_TRUE);
    } else if (mode == 0 || mode == 1) {
        SDL_SetRelativeMouseMode(SDL_FALSE);
        SDL_SetWindowGrab(ctx->window, mode == 1 ? SDL_TRUE : SDL_FALSE);
    } else {
        log_limited(&ctx->log_counters[limit_mouse_grab], "Engine", log_level_error,
                    "App tried to set an invalid mouse grab value of %d, ignoring", mode);
    }
}

void apply_window_scale(render_context *ctx, float scale)
{
    const float q = sizing_window_scale(scale);
    SDL_AtomicSet(&atomic_resize_occurred, 1);
    SDL_SetWindowSize(ctx->window, (int)((float)ctx->game_logical_width * q),
                      (int)((float)ctx->game_logical_height * q));
    render_context_update_sizes(ctx);
}

// ---- Pixel arrays --------------------------------------------------------------

void upload_pixel_array(render_context *ctx, const char *name, int width, int height, const uint8_t *pixels,
                        uint32_t length)
{
    if (!name || !*name || width <= 0 || height <= 0 || !pixels) {
        return;
    }
    const uint64_t bytes = (uint64_t)width * (uint64_t)height * 4;
    if (bytes != length) {
        return;
    }
    texture_entry *entry = lookup_texture_no_fallback(ctx, name);
    if (!entry) {
        return;
    }
    if (entry->texture && (entry->width != width || entry->height != height || entry->is_render_target)) {
        SDL_DestroyTexture(entry->texture);
        texture_entry_set(ctx, entry, nullptr, entry->width, entry->height, entry->is_render_target);
    }
    if (!entry->texture) {
        SDL_Texture *t = SDL_CreateTexture(ctx->renderer, SDL_PIXELFORMAT_ABGR8888, SDL_TEXTUREACCESS_STATIC,
                                           width, height);
        if (!t) {
            return;
        }
        SDL_SetTextureBlendMode(t, SDL_BLENDMODE_BLEND);
        texture_entry_set(ctx, entry, t, width, height, 0);
    }
    SDL_UpdateTexture(entry->texture, nullptr, pixels, width * 4);

    // The saved copy rebuilds the texture after a lost render device.
    if (!entry->pixels || entry->pixels_capacity < bytes) {
        auto *grown = (uint8_t *)SDL_realloc(entry->pixels, (size_t)bytes);
        if (!grown) {
            SDL_free(entry->pixels);
            texture_entry_set_pixels(ctx, entry, nullptr, 0);
            log_limited(&ctx->log_counters[limit_pixel_array_oom], "Render", log_level_error,
                        "Out of memory for pixel array '%s'! Can't save a managed copy!", name);
            return;
        }
        texture_entry_set_pixels(ctx, entry, grown, (uint32_t)bytes);
    }
    SDL_memcpy(entry->pixels, pixels, (size_t)bytes);
}

// ---- Screenshots ---------------------------------------------------------------

// The screenshot path below the game directory: leading slashes are dropped and a
// path with a ".." component is refused, so a game cannot write outside it.
bool screenshot_path_safe(const char *path)
{
    if (!path || !*path) {
        return false;
    }
    const char *p = path;
    while (*p) {
        const char *end = p;
        while (*end && *end != '/' && *end != '\\') ++end;
        if (end - p == 2 && p[0] == '.' && p[1] == '.') {
            return false;
        }
        p = *end ? end + 1 : end;
    }
    return true;
}

struct screenshot_record {
    const char *path;
    float x, y, w, h;
    int tolerance, r, g, b, a;
};

void take_screenshot(render_context *ctx, const screenshot_record &rec)
{
    if (!ctx->screenshot_canvas || !ctx->grid_set) {
        return;
    }
    if (!screenshot_path_safe(rec.path)) {
        log_limited(&ctx->log_counters[limit_screenshot_path], "Render", log_level_warn,
                    "Refusing to write a screenshot to '%s': the path must stay inside the game directory.",
                    rec.path ? rec.path : "(null)");
        return;
    }
    const float scale = ctx->texture_scale;
    const float fx = ((rec.x + (float)ctx->current_origin_x) + (rec.w < 0 ? rec.w : 0.0f)) * scale +
                     (float)ctx->letterbox_offset_x;
    const float fy = ((float)ctx->flip_height - rec.y - (rec.h > 0 ? rec.h : 0.0f)) * scale +
                     (float)ctx->letterbox_offset_y;
    const float fw = std::fabs(rec.w) * scale, fh = std::fabs(rec.h) * scale;
    if (!std::isfinite(fx) || !std::isfinite(fy) || !std::isfinite(fw) || !std::isfinite(fh)) {
        return;
    }
    // A region larger than the canvas holds nothing more; cap it before allocating.
    int canvas_w = 0, canvas_h = 0;
    SDL_QueryTexture(ctx->screenshot_canvas, nullptr, nullptr, &canvas_w, &canvas_h);
    const int w = (int)std::fmin(fw, (float)canvas_w), h = (int)std::fmin(fh, (float)canvas_h);
    if (w <= 0 || h <= 0) {
        return;
    }
    auto *pixels = (uint8_t *)SDL_calloc((size_t)w * (size_t)h, 4);
    if (!pixels) {
        return;
    }
    const SDL_Rect region{float_to_int(fx), float_to_int(fy), w, h};
    SDL_SetRenderTarget(ctx->renderer, ctx->screenshot_canvas);
    const int rc = SDL_RenderReadPixels(ctx->renderer, &region, SDL_PIXELFORMAT_ABGR8888, pixels, w * 4);
    SDL_SetRenderTarget(ctx->renderer, ctx->current_target);
    if (rc != 0) {
        SDL_free(pixels);
        return;
    }

    int a = rec.a > 255 ? 255 : rec.a;
    if (a < 1) a = 0;
    if (a != 255) {
        const int r = SDL_clamp(rec.r, 0, 255), g = SDL_clamp(rec.g, 0, 255), b = SDL_clamp(rec.b, 0, 255);
        const int tol = rec.tolerance;
        const size_t count = (size_t)w * (size_t)h;
        for (size_t i = 0; i < count; ++i) {
            uint8_t *p = pixels + i * 4;
            if (SDL_abs(p[0] - r) <= tol && SDL_abs(p[1] - g) <= tol && SDL_abs(p[2] - b) <= tol) {
                p[3] = (uint8_t)a;
            }
        }
    }

    size_t png_size = 0;
    uint8_t *png = encode_png(pixels, w, h, 0, 0, &png_size);
    SDL_free(pixels);
    if (!png) {
        return;
    }
    const char *name = rec.path;
    while (*name == '/' || *name == '\\') ++name;
    const char *directory = ctx->game_directory ? ctx->game_directory : ".";
    if (!storefile_write_override(directory, name, png, png_size)) {
        log_warn("Render", "Couldn't write screenshot '%s/%s'.", directory, name);
    }
    SDL_free(png);
}

// ---- Render passes -------------------------------------------------------------

struct pass_header {
    int r, g, b, a;
    const char *target;
    int render_width, render_height;
    int transient, clear_before_render;
};

// The texture of a named render target at its wanted size, (re)made as needed.
SDL_Texture *prepare_render_target(render_context *ctx, texture_entry *entry, int w, int h)
{
    if (entry->texture && entry->is_render_target && entry->width == w && entry->height == h) {
        return entry->texture;
    }
    // A target whose texture was lost keeps its copy to refill the new texture.
    const bool reupload = !entry->texture && entry->is_render_target && entry->pixels &&
                          entry->width == w && entry->height == h;
    if (entry->texture) {
        SDL_DestroyTexture(entry->texture);
        texture_entry_set(ctx, entry, nullptr, entry->width, entry->height, entry->is_render_target);
    }
    if (!reupload && entry->pixels) {
        SDL_free(entry->pixels);
        texture_entry_set_pixels(ctx, entry, nullptr, 0);
    }
    if (w <= 0 || h <= 0 || w > ctx->max_texture_width || h > ctx->max_texture_height) {
        return nullptr;
    }
    SDL_Texture *t = SDL_CreateTexture(ctx->renderer, SDL_PIXELFORMAT_ABGR8888, SDL_TEXTUREACCESS_TARGET, w, h);
    if (!t) {
        return nullptr;
    }
    SDL_SetTextureBlendMode(t, SDL_BLENDMODE_BLEND);
    texture_entry_set(ctx, entry, t, w, h, 1);
    if (reupload) {
        SDL_UpdateTexture(t, nullptr, entry->pixels, w * 4);
        log_spam("Render", "Reuploaded render target '%s' after device reset", entry->name);
    }
    return t;
}

void save_render_target(render_context *ctx, texture_entry *entry)
{
    const char *name = entry->name;
    if (SDL_strcmp(name, "pixel") != 0 && SDL_strcmp(name, "solid") != 0 && !entry->nontransient_warned &&
        entry->last_drawn_frame == ctx->frames_presented - 1) {
        log_warn("Render", "* WARNING: You are rendering to a non-transient render target multiple");
        log_warn("Render", "frames in a row. This is a performance hit. If you intend to draw to a");
        log_warn("Render", "render target that is only used later in the same frame, mark it as");
        log_warn("Render",
                 "transient ~outputs[:%s].transient! # sets render_target transient = true~ (so we know NOT to cache it).",
                 name);
        log_warn("Render", "If you have recently reset your game via $kor.reset, then ignore this warning.");
        log_warn("Render", "Render target's name: '%s'", name);
        entry->nontransient_warned = 1;
    }
    entry->last_drawn_frame = ctx->frames_presented;
    if (!entry->texture) {
        return;
    }
    const uint64_t bytes = (uint64_t)entry->width * (uint64_t)entry->height * 4;
    if (!entry->pixels || entry->pixels_capacity < bytes) {
        auto *grown = (uint8_t *)SDL_realloc(entry->pixels, (size_t)bytes);
        if (!grown) {
            SDL_free(entry->pixels);
            texture_entry_set_pixels(ctx, entry, nullptr, 0);
            log_limited(&ctx->log_counters[limit_target_oom], "Render", log_level_error,
                        "Out of memory for render target '%s'! Can't save a managed copy!", name);
            return;
        }
        texture_entry_set_pixels(ctx, entry, grown, (uint32_t)bytes);
    }
    SDL_SetRenderTarget(ctx->renderer, entry->texture);
    if (SDL_RenderReadPixels(ctx->renderer, nullptr, SDL_PIXELFORMAT_ABGR8888, entry->pixels, entry->width * 4) != 0) {
        log_limited(&ctx->log_counters[limit_target_read], "Render", log_level_error,
                    "Failed to read pixels for render target '%s'! Can't save a managed copy! (%s)", name,
                    SDL_GetError());
        SDL_free(entry->pixels);
        texture_entry_set_pixels(ctx, entry, nullptr, 0);
    }
    SDL_SetRenderTarget(ctx->renderer, nullptr);
}

enum class stream_status { go_on, stop, unknown_code };

// Reads the primitive records of one pass up to its end_pass.
bool draw_pass_records(render_context *ctx, threadstream *s, bool skipped)
{
    for (;;) {
        const int32_t code = threadstream_unpack_int(s);
        if (s->error) {
            return false;  // the stream ends inside the pass
        }
        if (code == record_end_pass) {
            return true;
        }
        if (!primitives_draw(ctx, s, code, skipped)) {
            return false;
        }
    }
}

stream_status render_passes(render_context *ctx, threadstream *s, bool catch_up)
{
    const int32_t pass_count = threadstream_unpack_int(s);
    int take_screenshot = threadstream_unpack_int(s);
    if (s->error) {
        return stream_status::stop;
    }
    // At most one saved target per pass; a pass needs at least 9 words, so the
    // stream's own length bounds the list whatever pass_count claims.
    const uint64_t remaining = s->size - s->read_pos;
    const uint64_t possible = remaining / 36 + 1;
    const int capacity = pass_count <= 0 ? 1 : (int)SDL_min((uint64_t)pass_count, possible);
    // A frame with a few passes keeps the list on the stack: no allocation per frame.
    texture_entry *few[16] = {};
    auto **saved = capacity <= 16 ? few : (texture_entry **)SDL_calloc((size_t)capacity, sizeof(texture_entry *));
    if (!saved) {
        log_error("Render", "Out of memory for render_targets_to_save in render_passes!");
        return stream_status::stop;
    }
    int saved_count = 0;
    stream_status status = stream_status::go_on;

    for (int i = 0; i < pass_count; ++i) {
        ctx->current_origin_x = ctx->grid_origin_x;
        ctx->flip_height = ctx->grid_origin_y;
        const uint64_t header_pos = s->read_pos;

        pass_header h{};
        h.r = threadstream_unpack_int(s);
        h.g = threadstream_unpack_int(s);
        h.b = threadstream_unpack_int(s);
        h.a = threadstream_unpack_int(s);
        h.target = threadstream_unpack_string(s, nullptr);
        h.render_width = threadstream_unpack_int(s);
        h.render_height = threadstream_unpack_int(s);
        h.transient = threadstream_unpack_int(s);
        h.clear_before_render = threadstream_unpack_int(s);
        if (s->error) {
            status = stream_status::stop;
            break;
        }

        SDL_Texture *target = nullptr;
        texture_entry *entry = nullptr;
        bool canvas = false;
        if (take_screenshot && i == pass_count - 1) {
            if (!ctx->screenshot_canvas) {
                ctx->screenshot_canvas = SDL_CreateTexture(ctx->renderer, SDL_PIXELFORMAT_ABGR8888,
                                                           SDL_TEXTUREACCESS_TARGET, ctx->native_render_width,
                                                           ctx->native_render_height);
            }
            if (!ctx->screenshot_canvas) {
                // No canvas: this pass runs again as an ordinary one.
                take_screenshot = 0;
                s->read_pos = header_pos;
                --i;
                continue;
            }
            target = ctx->screenshot_canvas;
            canvas = true;
        } else if (h.target) {
            entry = lookup_texture_no_fallback(ctx, h.target);
            const int w = float_to_int((float)h.render_width * ctx->texture_scale);
            const int hh = float_to_int((float)h.render_height * ctx->texture_scale);
            target = entry ? prepare_render_target(ctx, entry, w, hh) : nullptr;
        }
        const bool named = h.target && !canvas;
        const bool screen = !named && !canvas;
        // The canvas stands in for the screen in this frame.
        const bool screen_like = screen || canvas;

        bool skipped = named && !target;  // the render target could not be made
        if (catch_up && (screen_like || h.clear_before_render) &&
            (h.transient || (screen_like && !take_screenshot))) {
            skipped = true;
        }

        if (!named || target) {
            if (target != ctx->current_target || named) {
                SDL_SetRenderTarget(ctx->renderer, target);
                ctx->current_target = target;
                ctx->current_target_name = named ? entry->name : nullptr;
                ctx->current_origin_x = ctx->grid_origin_x;
                ctx->flip_height = centred_height(ctx, h.render_height);
            }
        }

        if (!skipped) {
            if (named && !h.transient) {
                bool listed = false;
                for (int k = 0; k < saved_count; ++k) listed = listed || saved[k] == entry;
                if (!listed && saved_count < capacity) saved[saved_count++] = entry;
            }
            if (screen) {
                ctx->screen_uncleared = 0;
                ctx->background_r = (uint8_t)SDL_clamp(h.r, 0, 255);
                ctx->background_g = (uint8_t)SDL_clamp(h.g, 0, 255);
                ctx->background_b = (uint8_t)SDL_clamp(h.b, 0, 255);
            }
            // The canvas is cleared like the screen: a screenshot must not show the
            // previous screenshot frame behind this one.
            if (screen_like || h.clear_before_render) {
                SDL_SetRenderDrawColor(ctx->renderer, (uint8_t)SDL_clamp(h.r, 0, 255), (uint8_t)SDL_clamp(h.g, 0, 255),
                                       (uint8_t)SDL_clamp(h.b, 0, 255), (uint8_t)SDL_clamp(h.a, 0, 255));
                SDL_RenderClear(ctx->renderer);
            }
        }

        if (!draw_pass_records(ctx, s, skipped)) {
            status = stream_status::stop;
            break;
        }
    }

    select_screen(ctx, centred_height(ctx, ctx->logical_height));
    if (status == stream_status::go_on) {
        for (int k = 0; k < saved_count; ++k) {
            save_render_target(ctx, saved[k]);
        }
    }
    if (saved != few) {
        SDL_free(saved);
    }
    return status;
}

// ---- Letterbox -----------------------------------------------------------------

void draw_letterbox(render_context *ctx)
{
    if (!cvar_game_metadata_hd_letterbox || cvar_game_metadata_allscreen == 1) {
        return;
    }
    const sizing_bars bars = sizing_letterbox_bars(ctx->native_render_width, ctx->native_render_height,
                                                   ctx->letterbox_offset_x, ctx->letterbox_offset_y,
                                                   ctx->texture_scale, ctx->game_logical_width,
                                                   ctx->game_logical_height);
    SDL_SetRenderDrawColor(ctx->renderer, 0, 0, 0, 255);
    SDL_SetRenderDrawBlendMode(ctx->renderer, SDL_BLENDMODE_NONE);
    for (const SDL_FRect &bar : {bars.left, bars.bottom, bars.right, bars.top}) {
        if (bar.w > 0.0f && bar.h > 0.0f) {
            SDL_RenderFillRectF(ctx->renderer, &bar);
        }
    }
}

}  // namespace

// ---- Frame streams -------------------------------------------------------------

int execute_frame_stream(render_context *ctx, threadstream *s, int catch_up, int redraw)
{
    threadstream_unpack_int(s);  // time stamp
    threadstream_unpack_int(s);  // marker
    stream_status status = stream_status::go_on;

    while (status == stream_status::go_on && !s->error && s->read_pos < s->size) {
        const int32_t code = threadstream_unpack_int(s);
        if (s->error) {
            break;
        }
        switch (code) {
        case record_nop:
            break;
        case record_screenshot: {
            screenshot_record rec{};
            rec.path = read_string(s);
            rec.x = threadstream_unpack_float(s);
            rec.y = threadstream_unpack_float(s);
            rec.w = threadstream_unpack_float(s);
            rec.h = threadstream_unpack_float(s);
            rec.tolerance = threadstream_unpack_int(s);
            rec.r = threadstream_unpack_int(s);
            rec.g = threadstream_unpack_int(s);
            rec.b = threadstream_unpack_int(s);
            rec.a = threadstream_unpack_int(s);
            if (!s->error && !redraw) take_screenshot(ctx, rec);
            break;
        }
        case record_set_grid: {
            const float ox = threadstream_unpack_float(s);
            const float oy = threadstream_unpack_float(s);
            threadstream_unpack_int(s);  // y direction: always up
            if (s->error) break;
            ctx->grid_origin_x = float_to_int(ox);
            ctx->grid_origin_y = float_to_int(oy);
            ctx->grid_centred = ctx->grid_origin_y == (ctx->landscape ? 360 : 640);
            ctx->grid_set = 1;
            __atomic_store_n(&ctx->sizes_changed, 1, __ATOMIC_RELEASE);
            break;
        }
        case record_passes:
            status = render_passes(ctx, s, catch_up != 0);
            break;
        case record_unload_sprite: {
            uint32_t len = 0;
            const char *path = read_string(s, &len);
            if (s->error || redraw || !path || len == 0) break;
            if (texture_entry *e = find_texture_entry(ctx, path)) {
                if (e->texture) {
                    SDL_DestroyTexture(e->texture);
                    texture_entry_set(ctx, e, nullptr, e->width, e->height, e->is_render_target);
                }
            }
            break;
        }
        case record_toggle_cursor: {
            const int show = threadstream_unpack_int(s);
            if (!s->error && !redraw) SDL_ShowCursor(show != 0 ? SDL_ENABLE : SDL_DISABLE);
            break;
        }
        case record_toggle_fullscreen: {
            const int fullscreen = threadstream_unpack_int(s);
            if (!s->error && !redraw) {
                SDL_SetWindowFullscreen(ctx->window, fullscreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
            }
            break;
        }
        case record_set_window_scale: {
            const float scale = threadstream_unpack_float(s);
            if (!s->error && !redraw) apply_window_scale(ctx, scale);
            break;
        }
        case record_upload_pixel_array: {
            const char *name = read_string(s);
            const int width = threadstream_unpack_int(s);
            const int height = threadstream_unpack_int(s);
            uint32_t len = 0;
            const char *pixels = threadstream_unpack_buffer(s, &len);
            if (!s->error && !redraw) upload_pixel_array(ctx, name, width, height, (const uint8_t *)pixels, len);
            break;
        }
        case record_openurl: {
            const char *url = read_string(s);
            if (!s->error && !redraw && url) SDL_OpenURL(url);
            break;
        }
        case record_set_cursor: {
            const char *path = read_string(s);
            const int hot_x = threadstream_unpack_int(s);
            const int hot_y = threadstream_unpack_int(s);
            if (!s->error && !redraw) {
                SDL_SetCursor(path ? lookup_cursor(ctx, path, hot_x, hot_y) : SDL_GetDefaultCursor());
            }
            break;
        }
        case record_set_system_cursor: {
            const char *name = read_string(s);
            if (!s->error && !redraw && name) apply_system_cursor(ctx, name);
            break;
        }
        case record_set_mouse_grab: {
            const int mode = threadstream_unpack_int(s);
            if (!s->error && !redraw) apply_mouse_grab(ctx, mode);
            break;
        }
        case record_set_window_title: {
            const char *title = read_string(s);
            if (!s->error) SDL_SetWindowTitle(ctx->window, title ? title : "");
            break;
        }
        case record_a11ys: {
            // No accessibility output on this platform: read and drop the entries.
            const int32_t count = threadstream_unpack_int(s);
            for (int32_t i = 0; i < count && !s->error; ++i) {
                for (int k = 0; k < 4; ++k) read_string(s);
                for (int k = 0; k < 4; ++k) threadstream_unpack_float(s);
            }
            break;
        }
        default:
            status = stream_status::unknown_code;
            break;
        }
    }

    if (ctx->current_target) {
        select_screen(ctx, centred_height(ctx, ctx->logical_height));
    }
    if (status == stream_status::unknown_code) {
        return 0;
    }
    draw_letterbox(ctx);
    return 1;
}

void draw_poll_events(render_context *ctx)
{
    // A drop's or an edit's text belongs to whoever takes the event from SDL: the
    // simulation thread once the event is shipped, this thread otherwise.
    const auto free_text = [](SDL_Event &e) {
        if (e.type == SDL_DROPFILE || e.type == SDL_DROPTEXT) {
            SDL_free(e.drop.file);
        } else if (e.type == SDL_TEXTEDITING_EXT) {
            SDL_free(e.editExt.text);
        }
    };
    threadstream *events = threadstream_allocate();
    threadstream_pack_size_t(events, 0);
    uint64_t count = 0;
    SDL_Event ev;
    while (SDL_PollEvent(&ev)) {
        switch (ev.type) {
        case SDL_APP_WILLENTERBACKGROUND:
            SDL_AtomicSet(&sleep_occurred_flag, 1);
            SDL_AtomicSet(&wake_occurred_flag, 0);
            break;
        case SDL_APP_DIDENTERFOREGROUND:
            SDL_AtomicSet(&sleep_occurred_flag, 0);
            SDL_AtomicSet(&wake_occurred_flag, 1);
            break;
        case SDL_WINDOWEVENT:
            if (ev.window.windowID == ctx->window_id && ev.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
                SDL_AtomicSet(&atomic_resize_occurred, 1);
                render_context_update_sizes(ctx);
            }
            break;
        case SDL_RENDER_TARGETS_RESET:
            log_limited(&ctx->log_counters[limit_targets_reset], "Render", log_level_warn,
                        "The system has reset all of our render targets! :(   Recovering...");
            render_context_recover_render_targets(ctx);
            break;
        case SDL_RENDER_DEVICE_RESET:
            log_limited(&ctx->log_counters[limit_device_reset], "Render", log_level_warn,
                        "The system has reset the render device! All textures and render targets need to be "
                        "rebuilt! :( :( :(  Recovering...");
            render_context_recover_textures(ctx);
            render_context_recover_render_targets(ctx);
            break;
        default:
            break;
        }
        if (events && threadstream_claim_space(events, sizeof(SDL_Event))) {
            SDL_memcpy(events->data + events->size, &ev, sizeof(SDL_Event));
            events->size += sizeof(SDL_Event);
            ++count;
        } else {
            free_text(ev);
        }
    }
    if (!events) {
        return;
    }
    if (events->error || count == 0) {
        // Not shipped after all: the events stored so far give their texts back.
        for (uint64_t i = 0; i < count; ++i) {
            SDL_memcpy(&ev, events->data + sizeof(count) + i * sizeof(SDL_Event), sizeof(SDL_Event));
            free_text(ev);
        }
        threadstream_free(events);
        return;
    }
    SDL_memcpy(events->data, &count, sizeof(count));
    threadstreamqueue_putitem(ctx->event_queue, events);
}

void draw_init(render_context *ctx, const char *game_directory)
{
    if (!ctx) {
        return;
    }
    SDL_free(ctx->game_directory);
    ctx->game_directory = game_directory ? SDL_strdup(game_directory) : nullptr;
    ctx->grid_set = 0;
}

int draw_iteration(render_context *ctx)
{
    const int tick = SDL_AtomicGet(&atomic_last_completed_global_tick_count);
    if (!SDL_AtomicGet(&sleep_occurred_flag) && tick >= 0 && tick == ctx->last_drawn_global_tick) {
        SDL_Delay(1);
        return 0;
    }

    const bool timed = frame_timings_active();
    frame_timing timing;
    if (timed) {
        frame_timings_frame_begin(&timing);
    }

    draw_poll_events(ctx);

    const int queued = threadstreamqueue_getcount(ctx->frame_queue);
    SDL_AtomicSet(&atomic_draw_occurred, 1);
    select_screen(ctx, centred_height(ctx, ctx->logical_height));

    int catch_up = 0;
    threadstream *frame = nullptr;
    int redraw = 0;
    if (queued > 0) {
        if (ctx->last_drawn_stream) {
            threadstream_free(ctx->last_drawn_stream);
            ctx->last_drawn_stream = nullptr;
        }
        frame = threadstreamqueue_getitem(ctx->frame_queue);
        for (int i = 1; i < queued && frame; ++i) {
            execute_frame_stream(ctx, frame, 1, 0);
            threadstream_free(frame);
            ++catch_up;
            frame = threadstreamqueue_getitem(ctx->frame_queue);
        }
    } else {
        frame = ctx->last_drawn_stream;
        redraw = 1;
    }

    if (frame) {
        ctx->screen_uncleared = 1;
        execute_frame_stream(ctx, frame, 0, redraw);
        if (ctx->screen_uncleared) {
            SDL_SetRenderDrawColor(ctx->renderer, ctx->background_r, ctx->background_g, ctx->background_b, 255);
            SDL_RenderClear(ctx->renderer);
        }
        // Rewound for the next redraw; a stream cut short stops at the same place again.
        frame->read_pos = 0;
        frame->error = 0;
        ctx->last_drawn_stream = frame;
    } else {
        SDL_SetRenderDrawColor(ctx->renderer, 0, 0, 0, 255);
        SDL_RenderClear(ctx->renderer);
    }

    if (timed) {
        timing.executed = frame_timings_clock();
    }
    SDL_RenderPresent(ctx->renderer);
    if (timed) {
        frame_timings_frame_end(&timing, tick, redraw);
    }
    if (!__atomic_load_n(&ctx->keyboard_focus, __ATOMIC_RELAXED) && cvar_renderer_background_sleep) {
        SDL_Delay(cvar_renderer_background_sleep);
    }

    ++ctx->frames_presented;
    SDL_AtomicSet(&ctx->render_fps, (int)fps_iteration(&ctx->render_fps_window));
    ctx->last_drawn_global_tick = tick;
    return catch_up;
}

extern "C" void draw_a11y_begin(void) {}
extern "C" void draw_a11y_queue(const char *, const char *, const char *, const char *, float, float, float, float) {}
extern "C" void draw_a11y_end(void) {}
extern "C" int draw_a11y_get_activation(void) { return 0; }
extern "C" int draw_a11y_get_escape(void) { return 0; }
extern "C" int draw_a11y_get_magic_tap(void) { return 0; }
extern "C" int is_a11y_enabled(void) { return 0; }
