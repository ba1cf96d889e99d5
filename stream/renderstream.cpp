// Render-stream helpers: the base time that frame time stamps are measured from,
// and the hand-back of the render thread's last drawn stream at shutdown.
#include "stream/threadstream.h"

#include <atomic>

namespace {

// Bit 32 marks the base as fixed, so a base of 0 ms (SDL_GetTicks right at start)
// is still fixed once.
constexpr uint64_t base_fixed = uint64_t{1} << 32;
std::atomic<uint64_t> base_time{0};

} // namespace

uint32_t renderstream_tick_offset() {
    uint64_t current = base_time.load(std::memory_order_acquire);
    if (!(current & base_fixed)) {
        const uint64_t fixed = base_fixed | SDL_GetTicks();
        // Whoever stores first wins; a loser gets the winner's value in `current`.
        if (base_time.compare_exchange_strong(current, fixed, std::memory_order_acq_rel)) {
            current = fixed;
        }
    }
    return static_cast<uint32_t>(current);
}

int renderstream_init() { return 1; }

void renderstream_quit() {}

int renderstream_queue_scene(threadstream *s) {
    threadstream_free(s);
    return 1;
}
