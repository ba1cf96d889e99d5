#include "render/image.h"

#include "support/fs_fixture.h"

#include <SDL.h>
#include <gtest/gtest.h>
#include <lodepng.h>
#include <physfs.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using kvn_test::PhysfsSession;
using kvn_test::TempDir;

namespace {

using Bytes = std::vector<uint8_t>;

struct Rgba {
    uint8_t r, g, b, a;
};

Bytes flatten(const std::vector<Rgba> &pixels)
{
    Bytes bytes;
    for (const Rgba &p : pixels) {
        bytes.insert(bytes.end(), {p.r, p.g, p.b, p.a});
    }
    return bytes;
}

// PNG fixtures in exactly the colour type and depth asked for (lodepng would
// otherwise pick the smallest type on its own).
std::string encode_fixture(const Bytes &raw, unsigned w, unsigned h, LodePNGColorType type,
                           unsigned depth, const std::vector<Rgba> &palette = {})
{
    LodePNGState state;
    lodepng_state_init(&state);
    state.encoder.auto_convert = 0;
    state.info_raw.colortype = type;
    state.info_raw.bitdepth = depth;
    state.info_png.color.colortype = type;
    state.info_png.color.bitdepth = depth;
    for (const Rgba &p : palette) {
        lodepng_palette_add(&state.info_raw, p.r, p.g, p.b, p.a);
        lodepng_palette_add(&state.info_png.color, p.r, p.g, p.b, p.a);
    }
    unsigned char *png = nullptr;
    size_t size = 0;
    const unsigned error = lodepng_encode(&png, &size, raw.data(), w, h, &state);
    lodepng_state_cleanup(&state);
    EXPECT_EQ(error, 0u) << lodepng_error_text(error);
    std::string bytes(reinterpret_cast<const char *>(png), size);
    free(png);
    return bytes;
}

struct ImageDeleter {
    void operator()(uint8_t *pixels) const { free_image(pixels); }
};
using Image = std::unique_ptr<uint8_t, ImageDeleter>;

class Images : public ::testing::Test {
protected:
    void SetUp() override
    {
        session = std::make_unique<PhysfsSession>(std::vector<std::string>{dir.path()});
        ASSERT_TRUE(session->ok()) << session->error();
    }

    TempDir dir;
    std::unique_ptr<PhysfsSession> session;
};

TEST_F(Images, DecodesEveryPngColourTypeToEightBitRgba)
{
    const struct {
        const char *name;
        LodePNGColorType type;
        unsigned depth;
        Bytes raw; // 3 × 2 pixels
        std::vector<Rgba> palette;
        std::vector<Rgba> expected;
    } cases[] = {
        {"rgba8", LCT_RGBA, 8,
         flatten({{255, 0, 0, 255}, {0, 255, 0, 128}, {0, 0, 255, 0},
                  {1, 2, 3, 4}, {250, 251, 252, 253}, {9, 99, 199, 255}}),
         {},
         {{255, 0, 0, 255}, {0, 255, 0, 128}, {0, 0, 255, 0},
          {1, 2, 3, 4}, {250, 251, 252, 253}, {9, 99, 199, 255}}},
        // Big-endian 16-bit samples: the high byte survives, with no rounding
        // (0x12FF stays 0x12, 0xFF00 stays 0xFF).
        {"rgba16", LCT_RGBA, 16,
         {0x12, 0xFF, 0xFF, 0x00, 0x01, 0x00, 0xFF, 0xFF,   0x00, 0xFF, 0x80, 0x80, 0x7F, 0xFF, 0xAB, 0xCD,
          0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01, 0x80, 0x00,   0x11, 0x11, 0x22, 0x22, 0x33, 0x33, 0x44, 0x44,
          0xFE, 0xFF, 0x01, 0xFF, 0x02, 0x80, 0x03, 0x7F,   0xC0, 0xDE, 0xBE, 0xEF, 0x00, 0x00, 0xFF, 0x01},
         {},
         {{0x12, 0xFF, 0x01, 0xFF}, {0x00, 0x80, 0x7F, 0xAB}, {0xFF, 0x00, 0x00, 0x80},
          {0x11, 0x22, 0x33, 0x44}, {0xFE, 0x01, 0x02, 0x03}, {0xC0, 0xBE, 0x00, 0xFF}}},
        {"grey8", LCT_GREY, 8, {0, 1, 127, 128, 254, 255}, {},
         {{0, 0, 0, 255}, {1, 1, 1, 255}, {127, 127, 127, 255},
          {128, 128, 128, 255}, {254, 254, 254, 255}, {255, 255, 255, 255}}},
        {"grey16", LCT_GREY, 16, {0x12, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0x80, 0x01, 0x01, 0x00, 0xFF, 0xFF},
         {},
         {{0x12, 0x12, 0x12, 255}, {0xFF, 0xFF, 0xFF, 255}, {0x00, 0x00, 0x00, 255},
          {0x80, 0x80, 0x80, 255}, {0x01, 0x01, 0x01, 255}, {0xFF, 0xFF, 0xFF, 255}}},
        {"grey-alpha8", LCT_GREY_ALPHA, 8, {10, 0, 20, 64, 30, 128, 40, 192, 50, 255, 60, 1}, {},
         {{10, 10, 10, 0}, {20, 20, 20, 64}, {30, 30, 30, 128},
          {40, 40, 40, 192}, {50, 50, 50, 255}, {60, 60, 60, 1}}},
        {"palette8 with transparency", LCT_PALETTE, 8, {0, 1, 2, 2, 1, 0},
         {{255, 0, 0, 255}, {0, 200, 100, 50}, {7, 8, 9, 0}},
         {{255, 0, 0, 255}, {0, 200, 100, 50}, {7, 8, 9, 0},
          {7, 8, 9, 0}, {0, 200, 100, 50}, {255, 0, 0, 255}}},
        // Two bits per index, four to a byte; the encoder's raw rows are not
        // padded, so the second row starts inside the first byte.
        {"palette2", LCT_PALETTE, 2, {0b00011011, 0b10010000},
         {{1, 1, 1, 255}, {2, 2, 2, 255}, {3, 3, 3, 255}, {4, 4, 4, 255}},
         {{1, 1, 1, 255}, {2, 2, 2, 255}, {3, 3, 3, 255},
          {4, 4, 4, 255}, {3, 3, 3, 255}, {2, 2, 2, 255}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = std::string(c.name) + ".png";
        dir.write(file, encode_fixture(c.raw, 3, 2, c.type, c.depth, c.palette));

        int w = -1;
        int h = -1;
        Image pixels{load_image(file.c_str(), &w, &h)};
        ASSERT_NE(pixels, nullptr);
        EXPECT_EQ(w, 3);
        EXPECT_EQ(h, 2);
        EXPECT_EQ(Bytes(pixels.get(), pixels.get() + 3 * 2 * 4), flatten(c.expected));

        w = h = -1;
        EXPECT_EQ(load_image_only_dimensions(file.c_str(), &w, &h), 1);
        EXPECT_EQ(w, 3);
        EXPECT_EQ(h, 2);
    }
}

TEST_F(Images, DecodesFromAZipArchiveAndOtherFormats)
{
    TempDir content;
    const Bytes raw = flatten({{1, 2, 3, 255}, {4, 5, 6, 7}});
    content.write("sprites/in_zip.png", encode_fixture(raw, 1, 2, LCT_RGBA, 8));
    const std::string zip = dir.file("archive.zip");
    ASSERT_TRUE(kvn_test::make_zip(content.path(), zip));
    ASSERT_TRUE(PHYSFS_mount(zip.c_str(), nullptr, 1));

    int w = 0;
    int h = 0;
    Image from_zip{load_image("sprites/in_zip.png", &w, &h)};
    ASSERT_NE(from_zip, nullptr);
    EXPECT_EQ(w, 1);
    EXPECT_EQ(h, 2);
    EXPECT_EQ(Bytes(from_zip.get(), from_zip.get() + raw.size()), raw);
    EXPECT_EQ(load_image_only_dimensions("sprites/in_zip.png", &w, &h), 1);

    // A BMP written by SDL: not only PNG is accepted.
    SDL_Surface *surface = SDL_CreateRGBSurfaceWithFormat(0, 5, 3, 32, SDL_PIXELFORMAT_ABGR8888);
    ASSERT_NE(surface, nullptr);
    SDL_FillRect(surface, nullptr, SDL_MapRGBA(surface->format, 10, 20, 30, 255));
    const std::string bmp = dir.file("cursor.bmp");
    ASSERT_EQ(SDL_SaveBMP(surface, bmp.c_str()), 0);
    SDL_FreeSurface(surface);
    Image from_bmp{load_image("cursor.bmp", &w, &h)};
    ASSERT_NE(from_bmp, nullptr);
    EXPECT_EQ(w, 5);
    EXPECT_EQ(h, 3);
    EXPECT_EQ(from_bmp.get()[0], 10);
    EXPECT_EQ(from_bmp.get()[1], 20);
    EXPECT_EQ(from_bmp.get()[2], 30);

    // Both size outputs are optional.
    Image no_outputs{load_image("cursor.bmp", nullptr, nullptr)};
    EXPECT_NE(no_outputs, nullptr);
    EXPECT_EQ(load_image_only_dimensions("cursor.bmp", nullptr, nullptr), 1);
}

TEST_F(Images, UnreadableFilesFail)
{
    const std::string good = encode_fixture(flatten(std::vector<Rgba>(64 * 64, {1, 2, 3, 4})),
                                            64, 64, LCT_RGBA, 8);
    dir.write("empty.png", "");
    dir.write("garbage.png", "this is not an image at all, just some text");
    // The header survives, the pixel data is cut off.
    dir.write("truncated.png", good.substr(0, 40));
    dir.mkdir("folder.png");

    const struct {
        const char *path;
        int header_ok;
    } cases[] = {
        {"missing.png", 0}, {"empty.png", 0}, {"garbage.png", 0}, {"folder.png", 0},
        {"truncated.png", 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        int w = -7;
        int h = -7;
        EXPECT_EQ(load_image(c.path, &w, &h), nullptr);
        EXPECT_EQ(w, -7); // untouched on failure
        EXPECT_EQ(load_image_only_dimensions(c.path, &w, &h), c.header_ok);
        if (c.header_ok) {
            EXPECT_EQ(w, 64);
            EXPECT_EQ(h, 64);
        }
    }
    EXPECT_EQ(load_image(nullptr, nullptr, nullptr), nullptr);
}

struct DecodedPng {
    unsigned width = 0;
    unsigned height = 0;
    Bytes pixels;
    unsigned colour_type = 99;
    unsigned depth = 0;
};

DecodedPng decode_png(const uint8_t *png, size_t size)
{
    DecodedPng result;
    unsigned char *pixels = nullptr;
    const unsigned error = lodepng_decode32(&pixels, &result.width, &result.height, png, size);
    EXPECT_EQ(error, 0u) << lodepng_error_text(error);
    if (pixels) {
        result.pixels.assign(pixels, pixels + result.width * result.height * 4);
        free(pixels);
    }
    // IHDR: bit depth and colour type follow the two 4-byte sizes.
    if (size > 25) {
        result.depth = png[24];
        result.colour_type = png[25];
    }
    return result;
}

struct PngDeleter {
    void operator()(uint8_t *bytes) const { SDL_free(bytes); }
};
using Png = std::unique_ptr<uint8_t, PngDeleter>;

// 2 × 2 with translucent pixels and a fully grey image would both tempt an
// encoder into another colour type.
const Bytes square = flatten({{200, 100, 50, 128}, {0, 0, 0, 0}, {10, 10, 10, 255}, {255, 255, 255, 1}});

TEST(EncodePng, UnscaledRoundTripKeepsRgbaEightBit)
{
    const struct {
        const char *name;
        int scaled_width;
        int scaled_height;
    } cases[] = {
        {"no scale", 0, 0},
        {"only height given", 0, 4},
        {"same width", 2, 6},
        {"same height", 5, 2},
        {"same size", 2, 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        size_t size = 0;
        Png png{encode_png(square.data(), 2, 2, c.scaled_width, c.scaled_height, &size)};
        ASSERT_NE(png, nullptr);
        const DecodedPng decoded = decode_png(png.get(), size);
        EXPECT_EQ(decoded.width, 2u);
        EXPECT_EQ(decoded.height, 2u);
        EXPECT_EQ(decoded.colour_type, 6u); // RGBA
        EXPECT_EQ(decoded.depth, 8u);
        EXPECT_EQ(decoded.pixels, square);
    }

    // A grey, opaque image still comes out as RGBA.
    const Bytes grey = flatten({{7, 7, 7, 255}});
    size_t size = 0;
    Png png{encode_png(grey.data(), 1, 1, 0, 0, &size)};
    ASSERT_NE(png, nullptr);
    EXPECT_EQ(decode_png(png.get(), size).colour_type, 6u);
}

TEST(EncodePng, ScaledCopiesPixelsWithoutBlending)
{
    size_t size = 0;
    Png png{encode_png(square.data(), 2, 2, 4, 6, &size)};
    ASSERT_NE(png, nullptr);
    const DecodedPng decoded = decode_png(png.get(), size);
    ASSERT_EQ(decoded.width, 4u);
    ASSERT_EQ(decoded.height, 6u);
    // Each source pixel becomes a 2 × 3 block, translucent ones unchanged.
    for (unsigned y = 0; y < 6; ++y) {
        for (unsigned x = 0; x < 4; ++x) {
            const size_t source = ((y / 3) * 2 + x / 2) * 4;
            const size_t target = (y * 4 + x) * 4;
            SCOPED_TRACE(testing::Message() << "x " << x << " y " << y);
            EXPECT_EQ(Bytes(decoded.pixels.begin() + target, decoded.pixels.begin() + target + 4),
                      Bytes(square.begin() + source, square.begin() + source + 4));
        }
    }

    // Shrinking works too.
    const Bytes big(8 * 8 * 4, 0x5A);
    Png small{encode_png(big.data(), 8, 8, 3, 2, &size)};
    ASSERT_NE(small, nullptr);
    const DecodedPng shrunk = decode_png(small.get(), size);
    EXPECT_EQ(shrunk.width, 3u);
    EXPECT_EQ(shrunk.height, 2u);
    EXPECT_EQ(shrunk.pixels, Bytes(3 * 2 * 4, 0x5A));
}

TEST(EncodePng, RejectsInvalidInput)
{
    size_t size = 77;
    EXPECT_EQ(encode_png(nullptr, 2, 2, 0, 0, &size), nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(encode_png(square.data(), 0, 2, 0, 0, &size), nullptr);
    EXPECT_EQ(encode_png(square.data(), 2, -1, 0, 0, &size), nullptr);
    EXPECT_EQ(encode_png(square.data(), 2, 2, -4, -4, &size), nullptr);
}

// Screenshot path end to end: encode, store, decode through the file system.
TEST_F(Images, EncodedPngLoadsBackThroughTheFileSystem)
{
    size_t size = 0;
    Png png{encode_png(square.data(), 2, 2, 0, 0, &size)};
    ASSERT_NE(png, nullptr);
    dir.write("shot.png", std::string(reinterpret_cast<const char *>(png.get()), size));
    int w = 0;
    int h = 0;
    Image pixels{load_image("shot.png", &w, &h)};
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(w, 2);
    EXPECT_EQ(h, 2);
    EXPECT_EQ(Bytes(pixels.get(), pixels.get() + square.size()), square);
}

} // namespace
