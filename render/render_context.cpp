#include "render/render_context.h"

#include "config/cvar.h"
#include "config/metadata.h"
#include "log/log.h"
#include "render/fontatlas.h"
#include "render/image.h"
#include "render/renderer_cvars.h"
#include "render/sizing.h"
#include "render/texture.h"

namespace {

constexpr const char *fallback_font_path = "font.ttf";

constexpr const char *builtin_controller_mapping =
    "05000000ac05000001000000ff876d01,Pro Controller,platform:Mac OS X,a:b0,b:b1,x:b2,y:b3,"
    "leftx:a0,lefty:a1,leftstick:b6,rightx:a3,righty:a4,rightstick:b7,leftshoulder:b4,"
    "lefttrigger:+a2,rightshoulder:b5,righttrigger:+a5,dpup:h0.1,dpright:h0.2,dpdown:h0.4,"
    "dpleft:h0.8,back:b8,guide:b9,start:h0.6";

bool text_equals(const char *a, const char *b)
{
    return a && SDL_strcmp(a, b) == 0;
}

const char *yes_no(bool v)
{
    return v ? "yes" : "no";
}

void set_window_icon(SDL_Window *window)
{
    const char *icon = cvar_game_metadata_icon;
    if (!icon || !*icon) {
        return;
    }
    int w = 0, h = 0;
    uint8_t *pixels = load_image(icon, &w, &h);
    if (!pixels) {
        return;
    }
    SDL_Surface *surface = SDL_CreateRGBSurfaceWithFormatFrom(pixels, w, h, 32, w * 4, SDL_PIXELFORMAT_ABGR8888);
    if (surface) {
        SDL_SetWindowIcon(window, surface);
        SDL_FreeSurface(surface);
    }
    free_image(pixels);
}

// renderer.avoid_software_gl: on a machine whose only accelerated renderer is a
// GL driver rasterising on the CPU, SDL's own software renderer draws the same
// pixels about twice as fast.
int32_t cvar_renderer_avoid_software_gl = 1;

constexpr unsigned int gl_renderer_string = 0x1F01;  // GL_RENDERER

// The CPU rasterisers of the common GL implementation, as GL_RENDERER names them.
bool is_software_rasteriser(const char *gl_renderer)
{
    return SDL_strstr(gl_renderer, "llvmpipe") || SDL_strstr(gl_renderer, "softpipe") ||
           SDL_strstr(gl_renderer, "Software Rasterizer");
}

// The GL_RENDERER text behind a GL-based SDL renderer, or null for the others.
// SDL's GL renderers leave their context current on the creating thread.
const char *gl_renderer_name(SDL_Renderer *renderer)
{
    SDL_RendererInfo info{};
    if (SDL_GetRendererInfo(renderer, &info) != 0 || !info.name || SDL_strncmp(info.name, "opengl", 6) != 0 ||
        !SDL_GL_GetCurrentContext()) {
        return nullptr;
    }
    using gl_get_string = const unsigned char *(*)(unsigned int);
    auto get_string = reinterpret_cast<gl_get_string>(SDL_GL_GetProcAddress("glGetString"));
    return get_string ? reinterpret_cast<const char *>(get_string(gl_renderer_string)) : nullptr;
}

int render_driver_index(const char *name)
{
    const int count = SDL_GetNumRenderDrivers();
    for (int i = 0; i < count; ++i) {
        SDL_RendererInfo info{};
        if (SDL_GetRenderDriverInfo(i, &info) == 0 && info.name && SDL_strcmp(info.name, name) == 0) {
            return i;
        }
    }
    return -1;
}

// An accelerated renderer with vsync when wanted, then without, then any.
SDL_Renderer *create_renderer(SDL_Window *window)
{
    SDL_Renderer *renderer = nullptr;
    if (cvar_renderer_vsync) {
        renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC);
    }
    if (!renderer) {
        renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_ACCELERATED);
    }
    if (!renderer) {
        renderer = SDL_CreateRenderer(window, -1, 0);
    }
    return renderer;
}

// Replaces a GL renderer that rasterises on the CPU by SDL's software renderer,
// unless the cvar is off or SDL_RENDER_DRIVER names a driver. Returns the
// renderer to use (the original one when nothing changes or the switch fails).
SDL_Renderer *avoid_software_gl(SDL_Window *window, SDL_Renderer *renderer)
{
    if (!cvar_get_bool("renderer.avoid_software_gl")) {
        cvar_register_bool("renderer.avoid_software_gl",
                           "True if SDL's software renderer should replace a GL renderer that rasterises on the CPU",
                           &cvar_renderer_avoid_software_gl, 1);
    }
    const char *driver = SDL_GetHint(SDL_HINT_RENDER_DRIVER);
    if (!cvar_renderer_avoid_software_gl || (driver && *driver)) {
        return renderer;
    }
    const char *gl = gl_renderer_name(renderer);
    const int software = render_driver_index("software");
    if (!gl || !is_software_rasteriser(gl) || software < 0) {
        return renderer;
    }
    char *gl_name = SDL_strdup(gl);  // the text belongs to the context destroyed below
    SDL_DestroyRenderer(renderer);
    // Otherwise SDL brings the window surface to the screen through a texture of
    // that same CPU-rasterised GL, which costs more than the drawing itself.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    renderer = SDL_CreateRenderer(window, software,
                                  SDL_RENDERER_SOFTWARE | (cvar_renderer_vsync ? SDL_RENDERER_PRESENTVSYNC : 0));
    if (!renderer) {
        renderer = SDL_CreateRenderer(window, software, SDL_RENDERER_SOFTWARE);
    }
    if (renderer) {
        log_info("Render", "GL renderer '%s' rasterises on the CPU: using SDL's software renderer instead "
                           "(set renderer.avoid_software_gl to false to keep GL)",
                 gl_name ? gl_name : "?");
    } else {
        renderer = create_renderer(window);
    }
    SDL_free(gl_name);
    return renderer;
}

}  // namespace

SDL_Texture *create_checkerboard_texture(SDL_Renderer *renderer)
{
    constexpr int size = 256;
    constexpr uint32_t black = 0xFF000000u, white = 0xFFFFFFFFu, red = 0xFF0000FFu;
    SDL_Texture *t = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ABGR8888, SDL_TEXTUREACCESS_STATIC, size, size);
    if (!t) {
        return nullptr;
    }
    SDL_SetTextureBlendMode(t, SDL_BLENDMODE_BLEND);
    auto *pixels = (uint32_t *)SDL_malloc(size * size * 4);
    if (!pixels) {
        SDL_DestroyTexture(t);
        return nullptr;
    }
    for (int y = 0; y < size; ++y) {
        const uint32_t start = (y & 16) ? white : black;
        uint32_t *row = pixels + y * size;
        row[0] = start;
        // The colour flips after pixel 0, 16, 32, ...: columns 1-16 opposite,
        // 17-32 the starting colour, and so on.
        for (int x = 1; x < size; ++x) {
            const bool opposite = (((x - 1) / 16) & 1) == 0;
            row[x] = opposite ? (start == black ? white : black) : start;
        }
    }
    for (int i = 0; i < size; ++i) {
        pixels[i] = red;
        pixels[(size - 1) * size + i] = red;
        pixels[i * size] = red;
        pixels[i * size + size - 1] = red;
    }
    const int rc = SDL_UpdateTexture(t, nullptr, pixels, size * 4);
    SDL_free(pixels);
    if (rc != 0) {
        SDL_DestroyTexture(t);
        return nullptr;
    }
    return t;
}

render_context *render_context_new(int development, int a11y_enabled)
{
    auto *ctx = (render_context *)SDL_calloc(1, sizeof(render_context));
    if (!ctx) {
        SDL_OutOfMemory();
        return nullptr;
    }
    ctx->tick_count = -1;
    ctx->global_tick_count = -1;
    ctx->last_drawn_global_tick = -1;
    ctx->frame_queue = threadstreamqueue_create();
    ctx->event_queue = threadstreamqueue_create();
    ctx->texture_lock = SDL_CreateMutex();
    ctx->font_lock = SDL_CreateMutex();
    if (!ctx->frame_queue || !ctx->event_queue || !ctx->texture_lock || !ctx->font_lock) {
        render_context_delete(ctx);
        return nullptr;
    }

    SDL_SetHint("SDL_ANDROID_TRAP_BACK_BUTTON", "1");
    SDL_SetHint("SDL_GAMECONTROLLER_USE_BUTTON_LABELS", "1");
    SDL_SetHint("SDL_IOS_HIDE_HOME_INDICATOR", "1");

    if (text_equals(cvar_game_metadata_orientation, "portrait")) {
        SDL_SetHint("SDL_IOS_ORIENTATIONS", "Portrait");
        ctx->landscape = 0;
        ctx->game_logical_width = 720;
        ctx->game_logical_height = 1280;
    } else {
        SDL_SetHint("SDL_IOS_ORIENTATIONS", "LandscapeRight");
        ctx->landscape = 1;
        ctx->game_logical_width = 1280;
        ctx->game_logical_height = 720;
    }
    ctx->logical_width = ctx->game_logical_width;
    ctx->logical_height = ctx->game_logical_height;
    ctx->texture_scale = 1.0f;
    ctx->texture_scale_enum = 100;
    ctx->sizes_changed = 0;

    const int quality = cvar_game_metadata_scale_quality;
    SDL_SetHint("SDL_RENDER_SCALE_QUALITY", quality == 1 ? "1" : quality == 2 ? "2" : "0");

    const bool highdpi = cvar_game_metadata_hd && cvar_game_metadata_highdpi;
    Uint32 flags = SDL_WINDOW_HIDDEN;
    if (highdpi) {
        flags |= SDL_WINDOW_ALLOW_HIGHDPI;
    }
    if (cvar_renderer_fullscreen && cvar_renderer_borderless) {
        flags |= SDL_WINDOW_FULLSCREEN_DESKTOP | SDL_WINDOW_BORDERLESS;
    } else if (cvar_renderer_fullscreen) {
        flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
    } else if (cvar_renderer_borderless) {
        flags |= SDL_WINDOW_BORDERLESS | SDL_WINDOW_RESIZABLE;
    } else {
        flags |= SDL_WINDOW_RESIZABLE;
    }

    int req_w = ctx->game_logical_width, req_h = ctx->game_logical_height;
    SDL_Rect bounds{};
    if (SDL_GetDisplayBounds(0, &bounds) == 0) {
        sizing_requested_window(req_w, req_h, bounds.w, bounds.h, &req_w, &req_h);
    }

    SDL_SetHint("SDL_RENDER_LINE_METHOD", "3");
    const char *title = cvar_game_metadata_gametitle ? cvar_game_metadata_gametitle : "";
    ctx->window = SDL_CreateWindow(title, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, req_w, req_h, flags);
    if (!ctx->window) {
        render_context_delete(ctx);
        return nullptr;
    }
    ctx->window_id = SDL_GetWindowID(ctx->window);
    SDL_GetWindowSize(ctx->window, &ctx->created_window_width, &ctx->created_window_height);

    set_window_icon(ctx->window);

    SDL_SetHint("SDL_RENDER_BATCHING", "1");
    ctx->renderer = create_renderer(ctx->window);
    if (ctx->renderer) {
        ctx->renderer = avoid_software_gl(ctx->window, ctx->renderer);
    }
    if (!ctx->renderer) {
        render_context_delete(ctx);
        return nullptr;
    }

    if (!cvar_renderer_start_headless) {
        SDL_ShowWindow(ctx->window);
    }
    SDL_SetRenderDrawColor(ctx->renderer, 0, 0, 0, 255);
    SDL_RenderClear(ctx->renderer);
    SDL_RenderPresent(ctx->renderer);

    SDL_RendererInfo info{};
    SDL_GetRendererInfo(ctx->renderer, &info);
    ctx->max_texture_width = info.max_texture_width ? info.max_texture_width : 2048;
    ctx->max_texture_height = info.max_texture_height ? info.max_texture_height : 2048;

    SDL_GetWindowSize(ctx->window, &ctx->logical_width, &ctx->logical_height);
    ctx->checkerboard = create_checkerboard_texture(ctx->renderer);
    if (!ctx->checkerboard) {
        render_context_delete(ctx);
        return nullptr;
    }
    ctx->font_map = font_map_allocate();
    if (!ctx->font_map) {
        SDL_OutOfMemory();
        render_context_delete(ctx);
        return nullptr;
    }
    ctx->fallback_font = fontatlas_new(ctx->renderer, fallback_font_path);
    if (!ctx->fallback_font) {
        render_context_delete(ctx);
        return nullptr;
    }
    SDL_RenderSetLogicalSize(ctx->renderer, ctx->logical_width, ctx->logical_height);
    SDL_SetRenderDrawBlendMode(ctx->renderer, SDL_BLENDMODE_BLEND);
    ctx->keyboard_focus = 1;
    ctx->mouse_focus = 1;
    render_context_update_sizes(ctx);

    SDL_GameControllerAddMapping(builtin_controller_mapping);

    ctx->development = development;
    ctx->a11y_enabled = a11y_enabled;
    for (uint32_t &type : ctx->user_event_types) {
        type = SDL_RegisterEvents(1);
    }

    const bool fullscreen_desktop = (flags & SDL_WINDOW_FULLSCREEN_DESKTOP) == SDL_WINDOW_FULLSCREEN_DESKTOP;
    log_info("Render", "SDL video backend: %s", SDL_GetCurrentVideoDriver());
    log_info("Render", "SDL renderer backend: %s", info.name ? info.name : "");
    log_info("Render", "Window size: %dx%d (requested %dx%d)", ctx->created_window_width,
             ctx->created_window_height, req_w, req_h);
    log_info("Render", "Fullscreen Desktop mode: %s", yes_no(fullscreen_desktop));
    log_info("Render", "HD: %s", yes_no(cvar_game_metadata_hd != 0));
    log_info("Render", "HighDPI: %s", yes_no(highdpi));
    log_info("Render", "Max texture size: %dx%d (system reported %dx%d)", ctx->max_texture_width,
             ctx->max_texture_height, info.max_texture_width, info.max_texture_height);
    log_info("Render", "Logical render size: %dx%d", ctx->logical_width, ctx->logical_height);
    log_info("Render", "Native render size: %dx%d", ctx->native_render_width, ctx->native_render_height);
    return ctx;
}

void render_context_update_sizes(render_context *ctx)
{
    if (!ctx || !ctx->renderer) {
        return;
    }
    sizing_input in{};
    in.hd = cvar_game_metadata_hd;
    in.allscreen = cvar_game_metadata_allscreen;
    in.hd_letterbox = cvar_game_metadata_hd_letterbox;
    in.hd_max_scale = cvar_game_metadata_hd_max_scale;
    in.allscreen_max_scale = cvar_game_metadata_allscreen_max_scale;
    in.logical_w = ctx->game_logical_width;
    in.logical_h = ctx->game_logical_height;
    if (in.hd) {
        SDL_GetWindowSize(ctx->window, &in.window_w, &in.window_h);
        SDL_GetRendererOutputSize(ctx->renderer, &in.output_w, &in.output_h);
    } else {
        in.window_w = in.output_w = in.logical_w;
        in.window_h = in.output_h = in.logical_h;
    }
    const sizing_result out = sizing_compute(in);
    if (out.allscreen_warning) {
        log_info("Engine",
                 "* WARNING: The All Screen Mode metadata property names you are using are deprecated.\n"
                 "In =game_metadata.txt= change\n\n#+begin_src\n  hd=true\n  allscreen=true\n"
                 "  allscreen_max_scale=%d\n#+end_src\n\nto\n\n#+begin_src\n  hd=true\n"
                 "  hd_letterbox=false\n  hd_max_scale=%d\n#+end_src\n\n",
                 in.allscreen_max_scale, in.allscreen_max_scale);
    }
    ctx->logical_width = in.logical_w;
    ctx->logical_height = in.logical_h;
    ctx->allscreen_width_px = in.output_w;
    ctx->allscreen_height_px = in.output_h;
    ctx->window_width = in.window_w;
    ctx->window_height = in.window_h;
    ctx->texture_scale = out.scale;
    ctx->texture_scale_enum = out.percent;
    ctx->allscreen_offset_x_px = out.centring_x;
    ctx->allscreen_offset_y_px = out.centring_y;
    ctx->letterbox_offset_x = out.letterbox_x;
    ctx->letterbox_offset_y = out.letterbox_y;
    ctx->native_render_width = out.native_w;
    ctx->native_render_height = out.native_h;
    __atomic_store_n(&ctx->sizes_changed, 1, __ATOMIC_RELEASE);  // the simulation takes it
    SDL_RenderSetLogicalSize(ctx->renderer, out.native_w, out.native_h);
}

void render_context_recover_render_targets(render_context *ctx)
{
    if (!ctx) {
        return;
    }
    if (ctx->screenshot_canvas) {
        SDL_DestroyTexture(ctx->screenshot_canvas);
        ctx->screenshot_canvas = nullptr;
    }
    texture_registry *map = ctx->texture_map;
    if (!map) {
        return;
    }
    for (texture_entry *e : map->buckets) {
        for (; e; e = e->next) {
            if (e->is_render_target && e->texture) {
                SDL_DestroyTexture(e->texture);
                texture_entry_set(ctx, e, nullptr, e->width, e->height, e->is_render_target);
            }
        }
    }
}

void render_context_recover_textures(render_context *ctx)
{
    if (!ctx) {
        return;
    }
    if (ctx->checkerboard) {
        SDL_DestroyTexture(ctx->checkerboard);
        ctx->checkerboard = create_checkerboard_texture(ctx->renderer);
        if (!ctx->checkerboard) {
            log_error("Render", "Failed to recreate the checkerboard fallback texture!");
        }
    }
    // The font lock keeps the simulation thread's measuring off the fonts while
    // they are replaced.
    SDL_LockMutex(ctx->font_lock);
    if (ctx->fallback_font) {
        fontatlas *fresh = fontatlas_new(ctx->renderer, fallback_font_path);
        if (fresh) {
            fontatlas_delete(ctx->fallback_font);
            ctx->fallback_font = fresh;
        } else {
            log_error("Render", "Failed to recreate the fallback font!");
        }
    }
    if (ctx->font_map) {
        font_map_delete(ctx->font_map);
        ctx->font_map = font_map_allocate();
        if (!ctx->font_map) {
            log_error("Render", "Failed to recreate the font cache!");
        }
    }
    SDL_UnlockMutex(ctx->font_lock);

    texture_registry *map = ctx->texture_map;
    if (map) {
        for (texture_entry *e : map->buckets) {
            for (; e; e = e->next) {
                if (!e->is_render_target && e->texture) {
                    SDL_DestroyTexture(e->texture);
                    texture_entry_set(ctx, e, nullptr, e->width, e->height, e->is_render_target);
                }
            }
        }
    }
}

// Event streams nobody delivered: their drop and edit texts were handed over with
// the events and are freed here, once.
static void free_queued_event_texts(threadstreamqueue *queue)
{
    if (!queue) {
        return;
    }
    while (threadstream *s = threadstreamqueue_getitem(queue)) {
        // A count word, then raw events.
        for (uint64_t pos = sizeof(uint64_t); pos <= s->size && s->size - pos >= sizeof(SDL_Event);
             pos += sizeof(SDL_Event)) {
            SDL_Event ev;
            SDL_memcpy(&ev, s->data + pos, sizeof(SDL_Event));
            if (ev.type == SDL_DROPFILE || ev.type == SDL_DROPTEXT) {
                SDL_free(ev.drop.file);
            } else if (ev.type == SDL_TEXTEDITING_EXT) {
                SDL_free(ev.editExt.text);
            }
        }
        threadstream_free(s);
    }
}

void render_context_delete(render_context *ctx)
{
    if (!ctx) {
        return;
    }
    font_map_delete(ctx->font_map);
    texture_map_delete(ctx->texture_map);
    cursor_map_delete(ctx->cursor_map);
    fontatlas_delete(ctx->fallback_font);
    if (ctx->checkerboard) SDL_DestroyTexture(ctx->checkerboard);
    if (ctx->screenshot_canvas) SDL_DestroyTexture(ctx->screenshot_canvas);
    if (ctx->renderer) SDL_DestroyRenderer(ctx->renderer);
    if (ctx->window) SDL_DestroyWindow(ctx->window);
    if (ctx->last_drawn_stream) threadstream_free(ctx->last_drawn_stream);
    threadstreamqueue_unref(ctx->frame_queue);
    free_queued_event_texts(ctx->event_queue);
    threadstreamqueue_unref(ctx->event_queue);
    if (ctx->texture_lock) SDL_DestroyMutex(ctx->texture_lock);
    if (ctx->font_lock) SDL_DestroyMutex(ctx->font_lock);
    SDL_free(ctx->game_directory);
    SDL_free(ctx);
}
