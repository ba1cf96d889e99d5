#include "fs/strings.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdarg>
#include <string>
#include <vector>

namespace {

struct SdlText {
    char *text;
    ~SdlText() { SDL_free(text); }
};

char *format_through_va_list(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    char *text = vsprintf_alloc(format, arguments);
    va_end(arguments);
    return text;
}

TEST(SprintfAlloc, FormatsIntoAnExactSizeAllocation)
{
    SdlText empty{sprintf_alloc("%s", "")};
    ASSERT_NE(empty.text, nullptr);
    EXPECT_STREQ(empty.text, "");

    SdlText mixed{sprintf_alloc("%s/%s:%d %.2f %u%%", "dir", "name", -42, 1.5, 7u)};
    EXPECT_STREQ(mixed.text, "dir/name:-42 1.50 7%");

    // Far longer than any fixed buffer a formatter might use.
    const std::string long_text(20000, 'q');
    SdlText long_result{sprintf_alloc("<%s>", long_text.c_str())};
    ASSERT_NE(long_result.text, nullptr);
    EXPECT_EQ(std::string(long_result.text), "<" + long_text + ">");

    // The va_list form can be used after its caller's own va_start.
    SdlText via_list{format_through_va_list("%d-%s", 5, "x")};
    EXPECT_STREQ(via_list.text, "5-x");
}

TEST(Utf8Codepoint, DecodesTable)
{
    const struct {
        const char *name;
        std::string bytes;
        int32_t value;
        int advance;
    } cases[] = {
        {"end of text", "", 0, 0},
        {"ascii", "A", 'A', 1},
        {"two-byte", "\xC3\xA9", 0xE9, 2},
        {"two-byte maximum", "\xDF\xBF", 0x7FF, 2},
        {"overlong zero", "\xC0\x80", -1, 2},
        {"overlong ascii", "\xC1\xBF", -1, 2},
        {"euro sign", "\xE2\x82\xAC", 0x20AC, 3},
        {"three-byte overlong", "\xE0\x9F\xBF", -1, 3},
        {"surrogate first", "\xED\xA0\x80", -1, 3},
        {"surrogate last", "\xED\xBF\xBF", -1, 3},
        {"last accepted BMP", "\xEF\xBF\xBD", 0xFFFD, 3},
        {"non-character FFFE", "\xEF\xBF\xBE", -1, 3},
        {"four-byte", "\xF0\x9F\x98\x80", 0x1F600, 4},
        {"four-byte maximum", "\xF4\x8F\xBF\xBF", 0x10FFFF, 4},
        {"above Unicode", "\xF4\x90\x80\x80", -1, 4},
        {"four-byte overlong", "\xF0\x8F\xBF\xBF", -1, 4},
        {"stray continuation", "\x80", -1, 1},
        {"stray continuation BF", "\xBF" "A", -1, 1},
        {"two-byte truncated", "\xC3", -1, 1},
        {"two-byte then ascii", "\xC3" "A", -1, 1},
        {"three-byte truncated", "\xE2\x82", -1, 1},
        {"four-byte truncated", "\xF0\x9F\x98", -1, 1},
        {"four-byte broken", "\xF0\x9F" "A" "\x80", -1, 1},
        {"five-byte form", "\xF8\x88\x80\x80\x80" "A", -1, 5},
        {"six-byte form", "\xFC\x84\x80\x80\x80\x80" "A", -1, 6},
        {"five-byte truncated", "\xF8\x88" "A", -1, 2},
        {"lone FF", "\xFF", -1, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const char *cursor = c.bytes.c_str();
        EXPECT_EQ(utf8codepoint(&cursor), c.value);
        EXPECT_EQ(cursor - c.bytes.c_str(), c.advance);
    }
}

TEST(Utf8Codepoint, WalksAMixedTextToItsEnd)
{
    const char *text = "a\xC3\xA9\xE2\x82\xAC\x80\xF0\x9F\x98\x80z";
    const std::vector<int32_t> expected = {'a', 0xE9, 0x20AC, -1, 0x1F600, 'z'};
    std::vector<int32_t> got;
    const char *cursor = text;
    for (int guard = 0; guard < 20; ++guard) {
        const int32_t value = utf8codepoint(&cursor);
        if (value == 0) {
            break;
        }
        got.push_back(value);
    }
    EXPECT_EQ(got, expected);
    EXPECT_EQ(*cursor, '\0');
    // At the end the cursor stays put.
    EXPECT_EQ(utf8codepoint(&cursor), 0);
    EXPECT_EQ(*cursor, '\0');
}

TEST(UniqueFolderName, JoinsWithADash)
{
    SdlText name{generate_unique_emscripten_folder_name("dev", "game")};
    EXPECT_STREQ(name.text, "dev-game");
}

} // namespace
