// Render benchmark: N moving 64 x 64 sprites from one texture, drawn once by the
// draw iteration from a hand-written frame stream and once by a plain loop of
// SDL_RenderCopyExF calls on the same renderer. Prints milliseconds per frame for
// both and their ratio (the stream decoding should cost next to nothing: target
// ratio at most 1.10). Runs headless by default (offscreen video driver); set
// SDL_VIDEODRIVER / SDL_RENDER_DRIVER to measure another back end (GL back ends are
// timed with a one-pixel read-back per frame, or their times mean nothing).
#include <SDL.h>
#include <physfs.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/flags.h"
#include "log/log.h"
#include "render/draw.h"
#include "render/image.h"
#include "render/render_context.h"
#include "render/renderer_cvars.h"
#include "render/texture.h"
#include "stream/records.h"
#include "stream/threadstream.h"

namespace {

constexpr const char *sprite_path = "sprites/bench.png";

struct sprite_pos {
    float x, y;
};

sprite_pos position(int i, int frame)
{
    return {(float)((i * 37 + frame * 3) % 1216), (float)((i * 91 + frame * 2) % 656)};
}

threadstream *write_frame(int n, int frame)
{
    threadstream *s = threadstream_allocate();
    threadstream_pack_int(s, 0);
    threadstream_pack_int(s, frame_header_marker);
    threadstream_pack_int(s, record_set_grid);
    threadstream_pack_float(s, 0);
    threadstream_pack_float(s, 720);
    threadstream_pack_int(s, 1);
    threadstream_pack_int(s, record_passes);
    threadstream_pack_int(s, 1);
    threadstream_pack_int(s, 0);
    for (int v : {0, 0, 0, 255}) threadstream_pack_int(s, v);
    threadstream_pack_string(s, nullptr);
    for (int v : {1280, 720, 0, 0}) threadstream_pack_int(s, v);
    for (int i = 0; i < n; ++i) {
        const sprite_pos p = position(i, frame);
        threadstream_pack_int(s, record_sprite);
        threadstream_pack_string(s, sprite_path);
        for (float v : {p.x, p.y, 0.0f, 64.0f, 64.0f, 0.0f, 0.0f, 0.0f}) threadstream_pack_float(s, v);
        for (int v : {255, 255, 255, 255}) threadstream_pack_int(s, v);
        for (float v : {0.0f, 0.0f, -1.0f, -1.0f, 0.0f, 0.0f, -1.0f, -1.0f}) threadstream_pack_float(s, v);
        threadstream_pack_int(s, 0);
        threadstream_pack_int(s, 0);
        threadstream_pack_float(s, 0.5f);
        threadstream_pack_float(s, 0.5f);
        threadstream_pack_int(s, 1);
        threadstream_pack_int(s, 100);
        threadstream_pack_float(s, 0);
        threadstream_pack_float(s, 0);
    }
    threadstream_pack_int(s, record_end_pass);
    return s;
}

double now_ms()
{
    return (double)SDL_GetPerformanceCounter() * 1000.0 / (double)SDL_GetPerformanceFrequency();
}

// The same sprites as the stream, straight through SDL.
void plain_frame(render_context *ctx, SDL_Texture *tex, int n, int frame)
{
    SDL_Renderer *r = ctx->renderer;
    SDL_SetRenderTarget(r, nullptr);
    SDL_SetRenderDrawColor(r, 0, 0, 0, 255);
    SDL_RenderClear(r);
    const SDL_Rect src{0, 0, 64, 64};
    const SDL_FPoint centre{32, 32};
    for (int i = 0; i < n; ++i) {
        const sprite_pos p = position(i, frame);
        const SDL_FRect dst{p.x, 720.0f - p.y - 64.0f, 64, 64};
        SDL_SetTextureColorMod(tex, 255, 255, 255);
        SDL_SetTextureAlphaMod(tex, 255);
        SDL_SetTextureBlendMode(tex, SDL_BLENDMODE_BLEND);
        SDL_RenderCopyExF(r, tex, &src, &dst, 360.0, &centre, SDL_FLIP_NONE);
    }
    SDL_RenderPresent(r);
}

// Waits for a GPU back end to finish the frame.
void sync(render_context *ctx, bool software)
{
    if (!software) {
        uint32_t pixel = 0;
        const SDL_Rect one{0, 0, 1, 1};
        SDL_RenderReadPixels(ctx->renderer, &one, SDL_PIXELFORMAT_ABGR8888, &pixel, 4);
    }
}

bool prepare_files(const std::string &dir)
{
    const std::string font_src = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    const std::string cmd = "mkdir -p '" + dir + "/sprites' && cp '" + font_src + "' '" + dir + "/font.ttf'";
    if (std::system(cmd.c_str()) != 0) {
        return false;
    }
    std::vector<uint8_t> px(64 * 64 * 4);
    for (size_t i = 0; i < px.size(); i += 4) {
        px[i] = (uint8_t)(i / 4 % 64 * 4);
        px[i + 1] = 128;
        px[i + 2] = (uint8_t)(i / 256 * 4);
        px[i + 3] = 200;  // partly transparent: every sprite blends
    }
    size_t size = 0;
    uint8_t *png = encode_png(px.data(), 64, 64, 0, 0, &size);
    if (!png) {
        return false;
    }
    FILE *f = std::fopen((dir + "/" + sprite_path).c_str(), "wb");
    const bool ok = f && std::fwrite(png, 1, size, f) == size;
    if (f) std::fclose(f);
    SDL_free(png);
    return ok;
}

}  // namespace

int main(int argc, char **argv)
{
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    setenv("SDL_FRAMEBUFFER_ACCELERATION", "0", 0);
    // The software renderer is the fast one on a machine without a GPU.
    setenv("SDL_RENDER_DRIVER", "software", 0);
    if (SDL_Init(SDL_INIT_VIDEO) != 0 || !threadstream_init()) {
        std::fprintf(stderr, "SDL: %s\n", SDL_GetError());
        return 1;
    }
    char tmpl[] = "/tmp/korvane-render-bench-XXXXXX";
    const char *dir = mkdtemp(tmpl);
    if (!dir || !prepare_files(dir) || !PHYSFS_init(argc > 0 ? argv[0] : nullptr) || !PHYSFS_mount(dir, nullptr, 1)) {
        std::fprintf(stderr, "could not set up the benchmark files\n");
        return 1;
    }
    cvar_renderer_vsync = 0;
    cvar_renderer_start_headless = 1;
    cvar_renderer_background_sleep = 0;
    render_context *ctx = render_context_new(0, 0);
    if (!ctx) {
        std::fprintf(stderr, "render context: %s\n", SDL_GetError());
        return 1;
    }
    SDL_SetWindowSize(ctx->window, 1280, 720);
    render_context_update_sizes(ctx);
    draw_init(ctx, dir);

    SDL_RendererInfo info{};
    SDL_GetRendererInfo(ctx->renderer, &info);
    std::printf("SDL video driver: %s, renderer: %s\n", SDL_GetCurrentVideoDriver(), info.name);
    std::printf("%8s %14s %14s %8s\n", "sprites", "stream ms/f", "plain ms/f", "ratio");

    const bool software = SDL_strcmp(info.name, "software") == 0;
    const texture_lookup tex = lookup_texture(ctx, sprite_path);
    int tick = 0;
    for (int n : {1000, 5000, 10000, 20000, 50000}) {
        const int frames = n >= 20000 ? 6 : 20;
        std::vector<double> stream_ms, plain_ms;
        // Warm both paths, then alternate so drift hits both equally.
        for (int frame = -2; frame < frames; ++frame) {
            threadstream *s = write_frame(n, frame);
            threadstreamqueue_putitem(ctx->frame_queue, s);
            SDL_AtomicSet(&atomic_last_completed_global_tick_count, ++tick);
            double t0 = now_ms();
            draw_iteration(ctx);
            sync(ctx, software);
            double t1 = now_ms();
            plain_frame(ctx, tex.texture, n, frame);
            sync(ctx, software);
            double t2 = now_ms();
            if (frame >= 0) {
                stream_ms.push_back(t1 - t0);
                plain_ms.push_back(t2 - t1);
            }
            // Keep the log from growing without a consumer.
            log_free_entries(log_get_entries());
        }
        std::sort(stream_ms.begin(), stream_ms.end());
        std::sort(plain_ms.begin(), plain_ms.end());
        const double a = stream_ms[stream_ms.size() / 2], b = plain_ms[plain_ms.size() / 2];
        std::printf("%8d %14.3f %14.3f %8.3f\n", n, a, b, a / b);
    }

    render_context_delete(ctx);
    PHYSFS_deinit();
    threadstream_quit();
    const std::string cleanup = std::string("rm -rf '") + dir + "'";
    if (std::system(cleanup.c_str()) != 0) {
        std::fprintf(stderr, "could not remove %s\n", dir);
    }
    SDL_Quit();
    return 0;
}
