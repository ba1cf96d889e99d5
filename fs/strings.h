// Small string helpers every subsystem uses: formatting into an exact-size
// allocation and UTF-8 decoding.
#pragma once

#include <cstdarg>
#include <cstdint>

char *sprintf_alloc(const char *format, ...) __attribute__((format(printf, 1, 2)));
char *vsprintf_alloc(const char *format, va_list arguments);
// Next code point of a zero-terminated UTF-8 text, advancing *cursor; 0 at the
// end (cursor left), -1 for an invalid sequence.
int32_t utf8codepoint(const char **cursor);
char *generate_unique_emscripten_folder_name(const char *a, const char *b);
