// The render thread's event poll: the text a dropped file or dropped text carries
// is freed exactly once, whether the events are shipped to the simulation thread,
// cannot be shipped, or are still queued when the context goes away.
#include "render/render_fixture.h"

#include "stream/sdl_alloc_failure.h"

#include <atomic>
#include <string>

using namespace render_test;

namespace {

// Drop texts whose frees are counted: SDL's allocator is wrapped for the lifetime
// of the object, and a freed text leaves the watch list (so a second free of the
// same address, once reused, is not mistaken for it).
class DropTextWatch {
public:
    DropTextWatch()
    {
        watched_count_ = 0;
        freed_ = 0;
        SDL_GetMemoryFunctions(&malloc_, &calloc_, &realloc_, &real_free_);
        SDL_SetMemoryFunctions(malloc_, calloc_, realloc_, watch_free);
    }
    ~DropTextWatch() { SDL_SetMemoryFunctions(malloc_, calloc_, realloc_, real_free_); }
    DropTextWatch(const DropTextWatch &) = delete;
    DropTextWatch &operator=(const DropTextWatch &) = delete;

    // Pushes a drop event whose text is watched.
    void push_drop(Uint32 type, const std::string &text)
    {
        ASSERT_LT(watched_count_, max_watched);
        char *copy = SDL_strdup(text.c_str());
        ASSERT_NE(copy, nullptr);
        watched_[watched_count_++].store(copy);
        SDL_Event ev{};
        ev.type = type;
        ev.drop.file = copy;
        ASSERT_EQ(SDL_PushEvent(&ev), 1) << SDL_GetError();
    }
    int pushed() const { return watched_count_; }
    int freed() const { return freed_.load(); }

private:
    static constexpr int max_watched = 64;
    static void SDLCALL watch_free(void *p)
    {
        for (int i = 0; p && i < watched_count_; i++) {
            void *expected = p;
            if (watched_[i].compare_exchange_strong(expected, nullptr)) {
                freed_++;
                break;
            }
        }
        real_free_(p);
    }
    SDL_malloc_func malloc_ = nullptr;
    SDL_calloc_func calloc_ = nullptr;
    SDL_realloc_func realloc_ = nullptr;
    static inline SDL_free_func real_free_ = nullptr;
    static inline std::atomic<void *> watched_[max_watched];
    static inline int watched_count_ = 0;
    static inline std::atomic<int> freed_{0};
};

class EventPollTest : public RenderTest {};

TEST_F(EventPollTest, DropTextsOfEventsThatCannotBeShippedAreFreed)
{
    // Enough events to outgrow a recycled stream's buffer, so the stream fails part
    // way through whether or not it was there to begin with.
    DropTextWatch watch;
    for (int i = 0; i < 40; i++) {
        watch.push_drop(i % 2 ? SDL_DROPTEXT : SDL_DROPFILE, "/tmp/dropped file " + std::to_string(i));
    }
    {
        SdlAllocFailure no_memory(0);
        draw_poll_events(ctx_);
    }
    EXPECT_EQ(threadstreamqueue_getcount(ctx_->event_queue), 0);
    EXPECT_EQ(watch.freed(), watch.pushed());
}

TEST_F(EventPollTest, ShippedDropTextsBelongToTheQueueUntilItIsReleased)
{
    DropTextWatch watch;
    watch.push_drop(SDL_DROPFILE, "/tmp/a.png");
    watch.push_drop(SDL_DROPTEXT, "some words");
    draw_poll_events(ctx_);
    ASSERT_EQ(threadstreamqueue_getcount(ctx_->event_queue), 1);
    EXPECT_EQ(watch.freed(), 0);  // the simulation thread owns them now

    // Nobody delivered them: the context frees them as it goes.
    render_context_delete(ctx_);
    ctx_ = nullptr;
    EXPECT_EQ(watch.freed(), watch.pushed());
}

} // namespace
