// Image files to pixels and pixels to PNG: decoding through the virtual file system
// for textures, cursors and the icon, header-only size queries, and PNG encoding
// for screenshots. Pixels are 8-bit RGBA rows top to bottom without padding.
#pragma once

#include <cstddef>
#include <cstdint>

uint8_t *load_image(const char *path, int *out_width, int *out_height);
int load_image_only_dimensions(const char *path, int *out_width, int *out_height);
uint8_t *encode_png(const uint8_t *pixels, int width, int height, int scaled_width,
                    int scaled_height, size_t *out_size);
void free_image(uint8_t *pixels);
