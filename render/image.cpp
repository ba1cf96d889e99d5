// Image files from the virtual file system to 8-bit RGBA pixels (stb_image over
// PhysicsFS handles), and RGBA pixels to PNG file images (lodepng).
#include "render/image.h"

#include "fs/filehelpers.h"

#include <SDL.h>
#include <lodepng.h>
#include <physfs.h>
#include <stb_image.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr stbi_io_callbacks vfs_callbacks = {vfs_image_read, vfs_image_skip, vfs_image_eof};

struct PhysfsFileCloser {
    PHYSFS_File *file;
    ~PhysfsFileCloser()
    {
        if (file) {
            PHYSFS_close(file);
        }
    }
};

struct SurfaceFreer {
    SDL_Surface *surface;
    ~SurfaceFreer() { SDL_FreeSurface(surface); }
};

// stb's allocator cannot be redirected, so its result is copied into SDL
// memory; 16-bit channels keep their high byte.
uint8_t *decode(PHYSFS_File *file, int *width, int *height)
{
    const bool sixteen = stbi_is_16_bit_from_callbacks(&vfs_callbacks, file) != 0;
    if (!PHYSFS_seek(file, 0)) {
        return nullptr;
    }
    int w = 0;
    int h = 0;
    int channels = 0;
    void *decoded = sixteen ? static_cast<void *>(stbi_load_16_from_callbacks(
                                  &vfs_callbacks, file, &w, &h, &channels, 4))
                            : static_cast<void *>(stbi_load_from_callbacks(
                                  &vfs_callbacks, file, &w, &h, &channels, 4));
    if (!decoded) {
        return nullptr;
    }
    const size_t count = static_cast<size_t>(w) * static_cast<size_t>(h) * 4;
    auto *pixels = static_cast<uint8_t *>(SDL_malloc(count ? count : 1));
    if (pixels) {
        if (sixteen) {
            const auto *wide = static_cast<const stbi_us *>(decoded);
            for (size_t i = 0; i < count; ++i) {
                pixels[i] = static_cast<uint8_t>(wide[i] >> 8);
            }
        } else {
            std::memcpy(pixels, decoded, count);
        }
        *width = w;
        *height = h;
    }
    stbi_image_free(decoded);
    return pixels;
}

} // namespace

uint8_t *load_image(const char *path, int *out_width, int *out_height)
{
    if (!path) {
        return nullptr;
    }
    PhysfsFileCloser handle{PHYSFS_openRead(path)};
    if (!handle.file) {
        return nullptr;
    }
    int w = 0;
    int h = 0;
    uint8_t *pixels = decode(handle.file, &w, &h);
    if (pixels) {
        if (out_width) {
            *out_width = w;
        }
        if (out_height) {
            *out_height = h;
        }
    }
    return pixels;
}

int load_image_only_dimensions(const char *path, int *out_width, int *out_height)
{
    if (!path) {
        return 0;
    }
    PhysfsFileCloser handle{PHYSFS_openRead(path)};
    if (!handle.file) {
        return 0;
    }
    int w = 0;
    int h = 0;
    int channels = 0;
    if (!stbi_info_from_callbacks(&vfs_callbacks, handle.file, &w, &h, &channels)) {
        return 0;
    }
    if (out_width) {
        *out_width = w;
    }
    if (out_height) {
        *out_height = h;
    }
    return 1;
}

uint8_t *encode_png(const uint8_t *pixels, int width, int height, int scaled_width,
                    int scaled_height, size_t *out_size)
{
    if (out_size) {
        *out_size = 0;
    }
    if (!pixels || width <= 0 || height <= 0 || scaled_width < 0 || scaled_height < 0) {
        return nullptr;
    }

    // SDL only reads through the surface; the cast serves its non-const API.
    SurfaceFreer source{SDL_CreateRGBSurfaceWithFormatFrom(
        const_cast<uint8_t *>(pixels), width, height, 32, width * 4, SDL_PIXELFORMAT_ABGR8888)};
    if (!source.surface) {
        return nullptr;
    }
    SurfaceFreer scaled{nullptr};
    SDL_Surface *image = source.surface;
    if (scaled_width != 0 && scaled_height != 0 && scaled_width != width &&
        scaled_height != height) {
        scaled.surface = SDL_CreateRGBSurfaceWithFormat(0, scaled_width, scaled_height, 32,
                                                        SDL_PIXELFORMAT_ABGR8888);
        if (!scaled.surface) {
            return nullptr;
        }
        // A plain copy: blending onto the empty target would darken every
        // translucent pixel.
        SDL_SetSurfaceBlendMode(source.surface, SDL_BLENDMODE_NONE);
        if (SDL_UpperBlitScaled(source.surface, nullptr, scaled.surface, nullptr) != 0) {
            return nullptr;
        }
        image = scaled.surface;
    }

    // The rows must be packed for the encoder; 32-bit surfaces always are.
    if (image->pitch != image->w * 4) {
        return nullptr;
    }

    LodePNGState state;
    lodepng_state_init(&state);
    state.info_raw.colortype = LCT_RGBA;
    state.info_raw.bitdepth = 8;
    state.info_png.color.colortype = LCT_RGBA;
    state.info_png.color.bitdepth = 8;
    // Keep RGBA output: automatic conversion would pick grey or palette types.
    state.encoder.auto_convert = 0;

    unsigned char *png = nullptr;
    size_t png_size = 0;
    const unsigned error =
        lodepng_encode(&png, &png_size, static_cast<const unsigned char *>(image->pixels),
                       static_cast<unsigned>(image->w), static_cast<unsigned>(image->h), &state);
    lodepng_state_cleanup(&state);
    if (error || !png) {
        free(png);
        return nullptr;
    }
    auto *result = static_cast<uint8_t *>(SDL_malloc(png_size));
    if (result) {
        std::memcpy(result, png, png_size);
        if (out_size) {
            *out_size = png_size;
        }
    }
    free(png);
    return result;
}

void free_image(uint8_t *pixels)
{
    SDL_free(pixels);
}
