// The sprite benchmark scene drawn by a plain SDL loop: N moving 32x32 sprites from
// one PNG, one SDL_RenderCopyExF per sprite, on the renderer the engine would pick
// (1280x720 window, vsync off, batching on, the same texture format and scale
// quality). It is the limit of the engine's render thread: no script, no stream,
// no per-sprite state changes. Prints the renderer it got and the median frame time.
//
//   bench_bunnymark_sdl --png bench/bunnymark/sprites/bunny.png --bunnies 5000 [--frames 300] [--warmup 60]
#include <SDL.h>
#include <stb_image.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int screen_w = 1280;
constexpr int screen_h = 720;
constexpr float sprite_size = 32.0f;

// The motion model shared with the Ruby and Lua versions, in the engine's
// coordinates (origin bottom left, y up); drawing flips y.
constexpr float gravity = 0.5f;
constexpr float max_x = screen_w - sprite_size;
constexpr float max_y = screen_h - sprite_size;

struct Bunny {
    float x, y, vx, vy;
};

Bunny make_bunny(int i)
{
    return {static_cast<float>((i * 37) % static_cast<int>(max_x)), static_cast<float>((i * 91) % static_cast<int>(max_y)),
            static_cast<float>((i * 13) % 11 - 5) * 0.5f + 0.25f, static_cast<float>((i * 7) % 9) - 2.0f};
}

void move_bunny(Bunny &b, int tick)
{
    b.x += b.vx;
    b.y += b.vy;
    b.vy -= gravity;
    if (b.x > max_x) {
        b.vx = -b.vx;
        b.x = max_x;
    } else if (b.x < 0.0f) {
        b.vx = -b.vx;
        b.x = 0.0f;
    }
    if (b.y < 0.0f) {
        // A little variety in the bounce so the sprites spread over the screen.
        b.vy = -b.vy * 0.85f + static_cast<float>(tick % 7);
        b.y = 0.0f;
    } else if (b.y > max_y) {
        b.vy = 0.0f;
        b.y = max_y;
    }
}

struct Options {
    const char *png = nullptr;
    int bunnies = 1000;
    int frames = 300;
    int warmup = 60;
};

bool parse(int argc, char **argv, Options &out)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--png") == 0) {
            out.png = argv[i + 1];
        } else if (std::strcmp(argv[i], "--bunnies") == 0) {
            out.bunnies = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--frames") == 0) {
            out.frames = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--warmup") == 0) {
            out.warmup = std::atoi(argv[i + 1]);
        } else {
            return false;
        }
    }
    return out.png && out.bunnies >= 0 && out.frames > 0 && out.warmup >= 0;
}

SDL_Texture *load_texture(SDL_Renderer *renderer, const char *path)
{
    int w = 0, h = 0, channels = 0;
    unsigned char *pixels = stbi_load(path, &w, &h, &channels, 4);
    if (!pixels) {
        return nullptr;
    }
    // The engine's texture format: RGBA bytes in memory.
    SDL_Texture *texture = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ABGR8888, SDL_TEXTUREACCESS_STATIC, w, h);
    if (texture) {
        SDL_SetTextureBlendMode(texture, SDL_BLENDMODE_BLEND);
        SDL_UpdateTexture(texture, nullptr, pixels, w * 4);
    }
    stbi_image_free(pixels);
    return texture;
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!parse(argc, argv, options)) {
        fprintf(stderr, "usage: %s --png FILE --bunnies N [--frames F] [--warmup W]\n", argv[0]);
        return 2;
    }
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        fprintf(stderr, "SDL_Init: %s\n", SDL_GetError());
        return 1;
    }
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "0");
    SDL_SetHint(SDL_HINT_RENDER_BATCHING, "1");
    SDL_Window *window = SDL_CreateWindow("bunnymark (SDL)", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, screen_w,
                                          screen_h, 0);
    if (!window) {
        fprintf(stderr, "SDL_CreateWindow: %s\n", SDL_GetError());
        return 1;
    }
    SDL_Renderer *renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_ACCELERATED);
    if (!renderer) {
        renderer = SDL_CreateRenderer(window, -1, 0);
    }
    if (!renderer) {
        fprintf(stderr, "SDL_CreateRenderer: %s\n", SDL_GetError());
        return 1;
    }
    SDL_RenderSetLogicalSize(renderer, screen_w, screen_h);
    SDL_SetRenderDrawBlendMode(renderer, SDL_BLENDMODE_BLEND);
    SDL_RendererInfo info{};
    SDL_GetRendererInfo(renderer, &info);
    printf("RENDERER %s\n", info.name ? info.name : "?");
    fflush(stdout);

    SDL_Texture *texture = load_texture(renderer, options.png);
    if (!texture) {
        fprintf(stderr, "cannot load %s\n", options.png);
        return 1;
    }

    std::vector<Bunny> bunnies;
    bunnies.reserve(static_cast<size_t>(options.bunnies));
    for (int i = 0; i < options.bunnies; i++) {
        bunnies.push_back(make_bunny(i));
    }

    const double ms_per_count = 1000.0 / static_cast<double>(SDL_GetPerformanceFrequency());
    std::vector<double> frame_ms;
    frame_ms.reserve(static_cast<size_t>(options.frames));
    const SDL_Rect source{0, 0, 32, 32};
    uint64_t last_present = SDL_GetPerformanceCounter();
    for (int frame = 0; frame < options.warmup + options.frames; frame++) {
        SDL_Event event;
        while (SDL_PollEvent(&event)) {
            if (event.type == SDL_QUIT) {
                frame = options.warmup + options.frames;
            }
        }
        for (Bunny &b : bunnies) {
            move_bunny(b, frame);
        }
        SDL_SetRenderDrawColor(renderer, 230, 230, 230, 255);
        SDL_RenderClear(renderer);
        for (const Bunny &b : bunnies) {
            const SDL_FRect target{b.x, max_y - b.y, sprite_size, sprite_size};
            SDL_RenderCopyExF(renderer, texture, &source, &target, 0.0, nullptr, SDL_FLIP_NONE);
        }
        SDL_RenderPresent(renderer);
        const uint64_t now = SDL_GetPerformanceCounter();
        if (frame >= options.warmup) {
            frame_ms.push_back(static_cast<double>(now - last_present) * ms_per_count);
        }
        last_present = now;
    }

    if (!frame_ms.empty()) {
        std::vector<double> sorted = frame_ms;
        std::sort(sorted.begin(), sorted.end());
        printf("RESULT frames=%zu median_ms=%.3f p90_ms=%.3f\n", sorted.size(), sorted[sorted.size() / 2],
               sorted[sorted.size() * 9 / 10]);
    }
    SDL_DestroyTexture(texture);
    SDL_DestroyRenderer(renderer);
    SDL_DestroyWindow(window);
    SDL_Quit();
    return 0;
}
