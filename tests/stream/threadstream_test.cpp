// Threadstream pool, value layouts, growth, the error flag and reads past the end.
#include "stream/threadstream.h"
#include "stream/sdl_alloc_failure.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

class ThreadstreamTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { // SDL's own lazy set-up, before counting
        SDL_GetTicks();
        SDL_ClearError();
    }
    void SetUp() override {
        baseline_ = SDL_GetNumAllocations();
        ASSERT_EQ(threadstream_init(), 1);
    }
    void TearDown() override {
        for (threadstream *s : owned_) {
            threadstream_free(s);
        }
        threadstream_quit();
        EXPECT_EQ(SDL_GetNumAllocations(), baseline_) << "leaked SDL allocations";
    }
    threadstream *fresh() {
        threadstream *s = threadstream_allocate();
        EXPECT_NE(s, nullptr);
        owned_.push_back(s);
        return s;
    }
    static uint32_t word_at(const threadstream *s, uint64_t offset) {
        uint32_t w;
        std::memcpy(&w, s->data + offset, 4);
        return w;
    }

    std::vector<threadstream *> owned_;
    int baseline_ = 0;
};

TEST_F(ThreadstreamTest, MixedValuesReadBackInOrder) {
    threadstream *s = fresh();
    const char binary[] = {'a', 0, 'b', '\xff', 'c'};
    ASSERT_EQ(threadstream_pack_int(s, -7), 1);
    ASSERT_EQ(threadstream_pack_float(s, 2.5f), 1);
    ASSERT_EQ(threadstream_pack_size_t(s, 0x123456789abcdefULL), 1);
    ASSERT_EQ(threadstream_pack_string(s, "hello"), 1);
    ASSERT_EQ(threadstream_pack_buffer(s, binary, sizeof binary), 1);
    ASSERT_EQ(threadstream_pack_int(s, INT32_MIN), 1);
    EXPECT_EQ(s->size, 4u + 4 + 8 + 12 + 12 + 4);

    EXPECT_EQ(threadstream_unpack_int(s), -7);
    EXPECT_EQ(threadstream_unpack_float(s), 2.5f);
    EXPECT_EQ(threadstream_unpack_size_t(s), 0x123456789abcdefULL);
    uint32_t len = 0;
    EXPECT_STREQ(threadstream_unpack_string(s, &len), "hello");
    EXPECT_EQ(len, 5u);
    const char *bytes = threadstream_unpack_buffer(s, &len);
    ASSERT_EQ(len, sizeof binary);
    EXPECT_EQ(std::memcmp(bytes, binary, sizeof binary), 0);
    EXPECT_EQ(bytes[len], 0) << "a buffer is followed by a 0 byte";
    EXPECT_EQ(threadstream_eos(s), 0);
    EXPECT_EQ(threadstream_unpack_int(s), INT32_MIN);
    EXPECT_EQ(threadstream_eos(s), 1);
    EXPECT_EQ(s->error, 0);

    // Reading does not consume: rewinding replays the stream.
    s->read_pos = 0;
    EXPECT_EQ(threadstream_unpack_int(s), -7);
}

TEST_F(ThreadstreamTest, StringsArePaddedToWholeWords) {
    struct Case {
        const char *text;
        uint64_t bytes;
    };
    const Case cases[] = {{"", 8}, {"abc", 8}, {"abcd", 12}, {"abcdefg", 12}, {"abcdefgh", 16}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("text \"") + c.text + "\"");
        threadstream *s = fresh();
        ASSERT_EQ(threadstream_pack_string(s, c.text), 1);
        const uint32_t n = static_cast<uint32_t>(std::strlen(c.text));
        EXPECT_EQ(s->size, c.bytes);
        EXPECT_EQ(word_at(s, 0), n);
        EXPECT_EQ(s->data[4 + n], 0);
        ASSERT_EQ(threadstream_pack_int(s, 42), 1);

        uint32_t len = 99;
        EXPECT_STREQ(threadstream_unpack_string(s, &len), c.text);
        EXPECT_EQ(len, n);
        EXPECT_EQ(s->read_pos, c.bytes);
        EXPECT_EQ(threadstream_unpack_int(s), 42);
        EXPECT_EQ(s->error, 0);
    }
}

TEST_F(ThreadstreamTest, NullStringIsOneWord) {
    threadstream *s = fresh();
    ASSERT_EQ(threadstream_pack_string(s, nullptr), 1);
    ASSERT_EQ(threadstream_pack_buffer(s, nullptr, 7), 1); // n ignored without bytes
    ASSERT_EQ(threadstream_pack_int(s, 5), 1);
    ASSERT_EQ(s->size, 12u);
    EXPECT_EQ(word_at(s, 0), 0xFFFFFFFFu);
    EXPECT_EQ(word_at(s, 4), 0xFFFFFFFFu);

    for (int i = 0; i < 2; i++) {
        uint32_t len = 99;
        EXPECT_EQ(threadstream_unpack_string(s, &len), nullptr);
        EXPECT_EQ(len, 0u);
    }
    EXPECT_EQ(threadstream_unpack_int(s), 5);
    EXPECT_EQ(s->error, 0);
}

TEST_F(ThreadstreamTest, BufferOfNullMarkerLengthIsRefused) {
    // A real buffer whose length reads as the null marker would desynchronise the
    // reader; the write fails like an allocation failure.
    threadstream *s = fresh();
    const char byte = 'x';
    EXPECT_EQ(threadstream_pack_buffer(s, &byte, 0xFFFFFFFFu), 0);
    EXPECT_EQ(s->error, 1);
    EXPECT_EQ(s->size, 0u);
}

TEST_F(ThreadstreamTest, GrowsByDoublingOnlyWhenFull) {
    threadstream *s = fresh();
    const uint64_t before = threadstream_allocation_count();
    for (int i = 0; i < 256; i++) {
        ASSERT_EQ(threadstream_pack_int(s, i), 1);
    }
    EXPECT_EQ(s->size, 1024u);
    EXPECT_EQ(s->capacity, 1024u);
    EXPECT_EQ(threadstream_allocation_count(), before);

    ASSERT_EQ(threadstream_pack_int(s, 256), 1);
    EXPECT_EQ(s->capacity, 2048u);
    EXPECT_EQ(threadstream_allocation_count(), before + 1);
    for (int i = 0; i <= 256; i++) {
        ASSERT_EQ(threadstream_unpack_int(s), i);
    }

    // One reallocation straight to the first power-of-two multiple that fits.
    std::vector<char> big(5000, 'z');
    threadstream *t = fresh();
    const uint64_t before_big = threadstream_allocation_count();
    ASSERT_EQ(threadstream_pack_buffer(t, big.data(), big.size()), 1);
    EXPECT_EQ(t->capacity, 8192u);
    EXPECT_EQ(t->size, 5008u);
    EXPECT_EQ(threadstream_allocation_count(), before_big + 1);

    // claim_space reserves without writing.
    ASSERT_EQ(threadstream_claim_space(t, 10000), 1);
    EXPECT_EQ(t->capacity, 16384u);
    EXPECT_EQ(t->size, 5008u);
}

TEST_F(ThreadstreamTest, ErrorFlagMakesEveryWriteANoOp) {
    const char bytes[] = "abc";
    const std::vector<std::pair<const char *, std::function<int(threadstream *)>>> writers = {
        {"int", [](threadstream *s) { return threadstream_pack_int(s, 1); }},
        {"float", [](threadstream *s) { return threadstream_pack_float(s, 1.0f); }},
        {"size", [](threadstream *s) { return threadstream_pack_size_t(s, 1); }},
        {"string", [](threadstream *s) { return threadstream_pack_string(s, "x"); }},
        {"null string", [](threadstream *s) { return threadstream_pack_string(s, nullptr); }},
        {"buffer", [&](threadstream *s) { return threadstream_pack_buffer(s, bytes, 3); }},
        {"claim", [](threadstream *s) { return threadstream_claim_space(s, 1 << 20); }},
    };
    threadstream *s = fresh();
    ASSERT_EQ(threadstream_pack_int(s, 9), 1);
    s->error = 1;
    for (const auto &[name, write] : writers) {
        SCOPED_TRACE(name);
        EXPECT_EQ(write(s), 0);
        EXPECT_EQ(s->size, 4u);
        EXPECT_EQ(s->capacity, 1024u);
        EXPECT_EQ(write(nullptr), 0);
    }
}

TEST_F(ThreadstreamTest, FailedGrowthSetsErrorAndKeepsTheData) {
    threadstream *s = fresh();
    for (int i = 0; i < 256; i++) {
        ASSERT_EQ(threadstream_pack_int(s, i), 1);
    }
    uint8_t *old_data = s->data;
    {
        SdlAllocFailure fail(0);
        EXPECT_EQ(threadstream_pack_int(s, 256), 0);
    }
    EXPECT_EQ(s->error, 1);
    EXPECT_EQ(s->size, 1024u);
    EXPECT_EQ(s->capacity, 1024u);
    EXPECT_EQ(s->data, old_data);
    // Allocation works again, but the stream stays failed until it is released.
    EXPECT_EQ(threadstream_pack_int(s, 256), 0);
    EXPECT_EQ(s->size, 1024u);
    EXPECT_EQ(threadstream_eos(s), 1);
    s->error = 0;
    for (int i = 0; i < 256; i++) {
        ASSERT_EQ(threadstream_unpack_int(s), i);
    }

    // Released, the same stream comes back clean and writable.
    owned_.clear();
    threadstream_free(s);
    s = fresh();
    EXPECT_EQ(s->error, 0);
    EXPECT_EQ(threadstream_pack_int(s, 1), 1);
}

TEST_F(ThreadstreamTest, AllocateFailsWithoutLeaking) {
    const int before = SDL_GetNumAllocations();
    for (long allowed : {0L, 1L}) { // record fails; buffer fails after the record
        SCOPED_TRACE(allowed);
        SdlAllocFailure fail(allowed);
        EXPECT_EQ(threadstream_allocate(), nullptr);
    }
    EXPECT_EQ(SDL_GetNumAllocations(), before);

    // Reuse from the free list needs no allocation at all.
    threadstream_free(threadstream_allocate());
    SdlAllocFailure fail(0);
    threadstream *s = threadstream_allocate();
    ASSERT_NE(s, nullptr);
    owned_.push_back(s);
}

TEST_F(ThreadstreamTest, ReadsPastTheEndSetErrorWithoutAdvancing) {
    struct Case {
        const char *what;
        uint64_t bytes_left;
        std::function<bool(threadstream *)> read_is_zero;
    };
    const Case cases[] = {
        {"int", 2, [](threadstream *s) { return threadstream_unpack_int(s) == 0; }},
        {"int", 0, [](threadstream *s) { return threadstream_unpack_int(s) == 0; }},
        {"float", 3, [](threadstream *s) { return threadstream_unpack_float(s) == 0.0f; }},
        {"size", 4, [](threadstream *s) { return threadstream_unpack_size_t(s) == 0; }},
        {"size", 7, [](threadstream *s) { return threadstream_unpack_size_t(s) == 0; }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.what) + " with " + std::to_string(c.bytes_left) + " bytes left");
        threadstream *s = fresh();
        for (int i = 1; i <= 4; i++) {
            threadstream_pack_int(s, -1);
        }
        s->size = 4 + c.bytes_left;
        ASSERT_EQ(threadstream_unpack_int(s), -1);
        EXPECT_TRUE(c.read_is_zero(s));
        EXPECT_EQ(s->error, 1);
        EXPECT_EQ(s->read_pos, 4u);
        EXPECT_EQ(threadstream_eos(s), 1);
    }
}

TEST_F(ThreadstreamTest, BufferRunningPastSizeYieldsEmptyString) {
    struct Case {
        const char *what;
        uint64_t size;        // stream cut to this many bytes
        uint32_t length_word; // 0 keeps the real one
        bool ok;
        uint64_t read_pos_after;
    };
    // "ab" is 4 + 2 + 1 bytes before padding.
    const Case cases[] = {
        {"whole string", 8, 0, true, 8},
        {"padding cut off", 7, 0, true, 8},
        {"terminator cut off", 6, 0, false, 4},
        {"length word cut", 3, 0, false, 0},
        {"huge length", 8, 0x7FFFFFFF, false, 4},
        {"largest non-null length", 8, 0xFFFFFFFE, false, 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        threadstream *s = fresh();
        ASSERT_EQ(threadstream_pack_string(s, "ab"), 1);
        if (c.length_word) {
            std::memcpy(s->data, &c.length_word, 4);
        }
        s->size = c.size;
        uint32_t len = 99;
        const char *text = threadstream_unpack_buffer(s, &len);
        ASSERT_NE(text, nullptr);
        if (c.ok) {
            EXPECT_STREQ(text, "ab");
            EXPECT_EQ(len, 2u);
            EXPECT_EQ(s->error, 0);
        } else {
            EXPECT_STREQ(text, "");
            EXPECT_EQ(len, 0u);
            EXPECT_EQ(s->error, 1);
        }
        EXPECT_EQ(s->read_pos, c.read_pos_after);
        EXPECT_EQ(threadstream_eos(s), 1);
    }
}

TEST_F(ThreadstreamTest, NullStreamIsTolerated) {
    uint32_t len = 99;
    EXPECT_EQ(threadstream_eos(nullptr), 1);
    EXPECT_EQ(threadstream_unpack_int(nullptr), 0);
    EXPECT_EQ(threadstream_unpack_float(nullptr), 0.0f);
    EXPECT_EQ(threadstream_unpack_size_t(nullptr), 0u);
    EXPECT_STREQ(threadstream_unpack_string(nullptr, &len), "");
    EXPECT_EQ(len, 0u);
    EXPECT_STREQ(threadstream_unpack_buffer(nullptr, nullptr), "");
    threadstream_free(nullptr);
    EXPECT_EQ(renderstream_queue_scene(nullptr), 1);
}

TEST_F(ThreadstreamTest, FreeListIsLifoAndKeepsCapacity) {
    threadstream *a = threadstream_allocate();
    threadstream *b = threadstream_allocate();
    threadstream *c = threadstream_allocate();
    ASSERT_TRUE(a && b && c);
    std::vector<char> big(3000, 'q');
    threadstream_pack_buffer(b, big.data(), big.size());
    threadstream_unpack_int(b);
    b->error = 1;
    ASSERT_EQ(b->capacity, 4096u);

    threadstream_free(a);
    threadstream_free(b);
    renderstream_queue_scene(c); // the render loop's hand-back is an ordinary release
    const uint64_t count = threadstream_allocation_count();
    threadstream *got[3];
    for (threadstream *&g : got) {
        g = threadstream_allocate();
        owned_.push_back(g);
    }
    EXPECT_EQ(got[0], c);
    EXPECT_EQ(got[1], b);
    EXPECT_EQ(got[2], a);
    EXPECT_EQ(threadstream_allocation_count(), count);
    EXPECT_EQ(b->capacity, 4096u);
    EXPECT_EQ(b->size, 0u);
    EXPECT_EQ(b->read_pos, 0u);
    EXPECT_EQ(b->error, 0);
    for (threadstream *g : got) {
        EXPECT_EQ(g->next, nullptr);
    }
}

TEST_F(ThreadstreamTest, SteadyStateAllocatesNothing) {
    auto frame = [](int n) {
        threadstream *s = threadstream_allocate();
        threadstream_pack_int(s, 0);
        threadstream_pack_int(s, 1);
        for (int i = 0; i < n; i++) {
            threadstream_pack_string(s, "sprites/player.png");
            threadstream_pack_float(s, static_cast<float>(i));
        }
        threadstream_free(s);
    };
    frame(500); // warm-up grows the one recycled stream
    const uint64_t count = threadstream_allocation_count();
    for (int f = 0; f < 100; f++) {
        frame(500 - f);
    }
    EXPECT_EQ(threadstream_allocation_count(), count);
}

TEST_F(ThreadstreamTest, TickOffsetIsFixedOnFirstCall) {
    const uint32_t first = renderstream_tick_offset();
    SDL_Delay(2);
    EXPECT_EQ(renderstream_tick_offset(), first);
    EXPECT_LE(first, SDL_GetTicks());
    EXPECT_EQ(renderstream_init(), 1);
    renderstream_quit();
}

} // namespace
