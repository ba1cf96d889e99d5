// Threadstream queues: FIFO order, counts, the final unref, and streams crossing
// between real threads.
#include "stream/threadstream.h"
#include "stream/sdl_alloc_failure.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

class QueueTest : public ::testing::Test {
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
        threadstream_quit();
        EXPECT_EQ(SDL_GetNumAllocations(), baseline_) << "leaked SDL allocations";
    }
    int baseline_ = 0;
};

TEST_F(QueueTest, FifoOrderAndCount) {
    threadstreamqueue *q = threadstreamqueue_create();
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(threadstreamqueue_getitem(q), nullptr);
    EXPECT_EQ(threadstreamqueue_getcount(q), 0);

    threadstream *s[5];
    for (threadstream *&x : s) {
        x = threadstream_allocate();
    }
    threadstreamqueue_putitem(q, s[0]);
    threadstreamqueue_putitem(q, s[1]);
    threadstreamqueue_putitem(q, s[2]);
    EXPECT_EQ(threadstreamqueue_getcount(q), 3);
    EXPECT_EQ(threadstreamqueue_getitem(q), s[0]);
    EXPECT_EQ(s[0]->next, nullptr);
    threadstreamqueue_putitem(q, s[3]);
    EXPECT_EQ(threadstreamqueue_getitem(q), s[1]);
    EXPECT_EQ(threadstreamqueue_getitem(q), s[2]);
    EXPECT_EQ(threadstreamqueue_getitem(q), s[3]);
    EXPECT_EQ(threadstreamqueue_getcount(q), 0);
    EXPECT_EQ(threadstreamqueue_getitem(q), nullptr);
    EXPECT_EQ(threadstreamqueue_getcount(q), 0);

    // A drained queue takes items again (its tail was cleared).
    threadstreamqueue_putitem(q, s[4]);
    EXPECT_EQ(threadstreamqueue_getcount(q), 1);
    EXPECT_EQ(threadstreamqueue_getitem(q), s[4]);
    EXPECT_EQ(threadstreamqueue_getitem(q), nullptr);

    threadstreamqueue_putitem(q, nullptr);
    EXPECT_EQ(threadstreamqueue_getcount(q), 0);
    for (threadstream *x : s) {
        threadstream_free(x);
    }
    threadstreamqueue_unref(q);
}

TEST_F(QueueTest, LastUnrefReleasesHeldStreams) {
    threadstreamqueue *q = threadstreamqueue_create();
    ASSERT_NE(q, nullptr);
    threadstreamqueue_ref(q);
    threadstream *a = threadstream_allocate();
    threadstream *b = threadstream_allocate();
    threadstream_pack_string(b, "left over");
    threadstreamqueue_putitem(q, a);
    threadstreamqueue_putitem(q, b);

    threadstreamqueue_unref(q); // 2 -> 1: still alive
    EXPECT_EQ(threadstreamqueue_getcount(q), 2);
    const uint64_t count = threadstream_allocation_count();
    threadstreamqueue_unref(q); // 1 -> 0: streams go back to the pool

    threadstream *first = threadstream_allocate();
    threadstream *second = threadstream_allocate();
    EXPECT_EQ(first, b) << "the most recently released stream comes back first";
    EXPECT_EQ(second, a);
    EXPECT_EQ(first->size, 0u);
    EXPECT_EQ(first->next, nullptr);
    EXPECT_EQ(threadstream_allocation_count(), count);
    threadstream_free(first);
    threadstream_free(second);
}

TEST_F(QueueTest, CreateFailsWithoutLeaking) {
    const int before = SDL_GetNumAllocations();
    for (long allowed : {0L, 1L}) { // record fails; mutex fails after the record
        SCOPED_TRACE(allowed);
        SdlAllocFailure fail(allowed);
        EXPECT_EQ(threadstreamqueue_create(), nullptr);
    }
    EXPECT_EQ(SDL_GetNumAllocations(), before);
}

TEST_F(QueueTest, NullQueueIsTolerated) {
    threadstream *s = threadstream_allocate();
    threadstreamqueue_putitem(nullptr, s);
    EXPECT_EQ(threadstreamqueue_getitem(nullptr), nullptr);
    EXPECT_EQ(threadstreamqueue_getcount(nullptr), 0);
    threadstreamqueue_ref(nullptr);
    threadstreamqueue_unref(nullptr);
    EXPECT_EQ(s->next, nullptr);
    threadstream_free(s);
}

// Two producers fill streams and queue them while the consumer reads and releases
// them, so the free list is popped and pushed from different threads at once.
TEST_F(QueueTest, ProducersAndConsumerOnRealThreads) {
    constexpr int producers = 2;
    constexpr int per_producer = 2000;
    threadstreamqueue *q = threadstreamqueue_create();
    ASSERT_NE(q, nullptr);

    std::vector<std::thread> threads;
    for (int p = 0; p < producers; p++) {
        threads.emplace_back([q, p] {
            for (int i = 0; i < per_producer; i++) {
                threadstream *s = threadstream_allocate();
                if (!s) {
                    return;
                }
                threadstream_pack_int(s, p);
                threadstream_pack_int(s, i);
                threadstream_pack_string(s, std::to_string(i * 7).c_str());
                threadstream_pack_size_t(s, uint64_t{1} << (i % 64));
                threadstreamqueue_putitem(q, s);
            }
        });
    }

    int next[producers] = {};
    int received = 0;
    bool in_order = true;
    const Uint64 deadline = SDL_GetTicks64() + 20000;
    while (received < producers * per_producer && SDL_GetTicks64() < deadline) {
        threadstream *s = threadstreamqueue_getitem(q);
        if (!s) {
            std::this_thread::yield();
            continue;
        }
        const int p = threadstream_unpack_int(s);
        const int i = threadstream_unpack_int(s);
        const char *text = threadstream_unpack_string(s, nullptr);
        const uint64_t bit = threadstream_unpack_size_t(s);
        const bool ok = p >= 0 && p < producers && i == next[p] && text == std::to_string(i * 7) &&
                        bit == (uint64_t{1} << (i % 64)) && s->error == 0 && threadstream_eos(s);
        if (!ok) {
            in_order = false;
        } else {
            next[p]++;
        }
        received++;
        threadstream_free(s);
    }
    for (std::thread &t : threads) {
        t.join();
    }
    EXPECT_EQ(received, producers * per_producer);
    EXPECT_TRUE(in_order) << "each producer's streams arrive intact and in order";
    EXPECT_EQ(threadstreamqueue_getcount(q), 0);
    threadstreamqueue_unref(q);
}

} // namespace
