// Formatting into exact-size SDL allocations and UTF-8 decoding.
#include "fs/strings.h"

#include <SDL.h>

char *vsprintf_alloc(const char *format, va_list arguments)
{
    if (!format) {
        return nullptr;
    }
    va_list measure;
    va_copy(measure, arguments);
    const int length = SDL_vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length < 0) {
        return nullptr;
    }
    char *text = static_cast<char *>(SDL_malloc(static_cast<size_t>(length) + 1));
    if (!text) {
        return nullptr;
    }
    va_list render;
    va_copy(render, arguments);
    const int written = SDL_vsnprintf(text, static_cast<size_t>(length) + 1, format, render);
    va_end(render);
    // A %s argument changed by another thread between the passes would give a
    // different length: refuse rather than hand out a cut text.
    if (written != length) {
        SDL_free(text);
        return nullptr;
    }
    return text;
}

char *sprintf_alloc(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    char *text = vsprintf_alloc(format, arguments);
    va_end(arguments);
    return text;
}

namespace {

constexpr bool is_continuation(unsigned char byte)
{
    return byte >= 0x80 && byte <= 0xBF;
}

// True when the `count` bytes after the lead byte are all continuation bytes.
// The terminating zero is not a continuation byte, so this never reads past it.
bool has_continuations(const unsigned char *lead, int count)
{
    for (int i = 1; i <= count; ++i) {
        if (!is_continuation(lead[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

int32_t utf8codepoint(const char **cursor)
{
    const auto *s = reinterpret_cast<const unsigned char *>(*cursor);
    const unsigned char lead = s[0];

    if (lead == 0) {
        return 0;
    }
    if (lead < 0x80) {
        *cursor += 1;
        return lead;
    }
    if (lead <= 0xBF) { // a stray continuation byte
        *cursor += 1;
        return -1;
    }
    if (lead <= 0xDF) {
        if (!has_continuations(s, 1)) {
            *cursor += 1;
            return -1;
        }
        *cursor += 2;
        const int32_t value = ((lead & 0x1F) << 6) | (s[1] & 0x3F);
        return (value >= 0x80 && value <= 0x7FF) ? value : -1;
    }
    if (lead <= 0xEF) {
        if (!has_continuations(s, 2)) {
            *cursor += 1;
            return -1;
        }
        *cursor += 3;
        const int32_t value = ((lead & 0x0F) << 12) | ((s[1] & 0x3F) << 6) | (s[2] & 0x3F);
        if (value < 0x800 || value > 0xFFFD || (value >= 0xD800 && value <= 0xDFFF)) {
            return -1;
        }
        return value;
    }
    if (lead <= 0xF7) {
        if (!has_continuations(s, 3)) {
            *cursor += 1;
            return -1;
        }
        *cursor += 4;
        const int32_t value = ((lead & 0x07) << 18) | ((s[1] & 0x3F) << 12) |
                              ((s[2] & 0x3F) << 6) | (s[3] & 0x3F);
        return (value >= 0x10000 && value <= 0x10FFFF) ? value : -1;
    }

    // Five- and six-byte forms are never valid: skip the lead byte and the
    // continuation bytes its form would carry, stopping at anything else.
    const int form_continuations = lead <= 0xFB ? 4 : 5;
    int skipped = 1;
    while (skipped <= form_continuations && is_continuation(s[skipped])) {
        ++skipped;
    }
    *cursor += skipped;
    return -1;
}

char *generate_unique_emscripten_folder_name(const char *a, const char *b)
{
    return sprintf_alloc("%s-%s", a ? a : "", b ? b : "");
}
