#include "engine/frame_timings.h"

#include <SDL.h>
#include <mruby.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "config/cvar.h"
#include "log/log.h"

int32_t cvar_engine_timings = 0;
int32_t cvar_engine_unpaced = 0;
uint32_t cvar_engine_timings_warmup = 120;

namespace {

// Enough for about 18 minutes at 60 Hz; later ticks and frames are not recorded.
constexpr uint32_t sample_capacity = 1u << 16;

struct tick_sample {
    int32_t global_tick;
    float script_ms, walk_ms, busy_ms;
    uint32_t native_allocations, script_allocations;
};

struct frame_sample {
    int32_t tick;
    int32_t redraw;
    float draw_ms, present_ms, busy_ms;
    float interval_ms;  // since the previous drawn frame was presented; -1 for the first
    uint32_t native_allocations;
};

struct Timings {
    std::atomic<bool> active{false};
    double ms_per_count = 0.0;
    tick_sample *ticks = nullptr;    // simulation thread only
    uint32_t tick_count = 0;
    frame_sample *frames = nullptr;  // written by the render thread, read at the report
    std::atomic<uint32_t> frame_count{0};
    uint64_t last_present = 0;       // render thread only
    SDL_malloc_func sdl_malloc = nullptr;
    SDL_calloc_func sdl_calloc = nullptr;
    SDL_realloc_func sdl_realloc = nullptr;
    SDL_free_func sdl_free = nullptr;
    mrb_allocf script_allocf = nullptr;
};
Timings timings;

// Allocation calls made by the current thread, through SDL's allocator (the
// engine's own memory, PhysicsFS included) and through the interpreter's.
thread_local uint64_t native_allocations = 0;
thread_local uint64_t script_allocations = 0;

void *counting_malloc(size_t size)
{
    ++native_allocations;
    return timings.sdl_malloc(size);
}

void *counting_calloc(size_t count, size_t size)
{
    ++native_allocations;
    return timings.sdl_calloc(count, size);
}

void *counting_realloc(void *pointer, size_t size)
{
    ++native_allocations;
    return timings.sdl_realloc(pointer, size);
}

void counting_free(void *pointer)
{
    timings.sdl_free(pointer);
}

void *counting_allocf(mrb_state *mrb, void *pointer, size_t size, void *ud)
{
    if (size > 0) {
        ++script_allocations;
    }
    return timings.script_allocf(mrb, pointer, size, ud);
}

float ms_between(uint64_t from, uint64_t to)
{
    return to > from ? static_cast<float>(static_cast<double>(to - from) * timings.ms_per_count) : 0.0f;
}

template <typename Sample, typename Field>
double median_of(const std::vector<const Sample *> &samples, Field field)
{
    if (samples.empty()) {
        return 0.0;
    }
    std::vector<double> values;
    values.reserve(samples.size());
    for (const Sample *sample : samples) {
        values.push_back(static_cast<double>(field(*sample)));
    }
    std::nth_element(values.begin(), values.begin() + static_cast<long>(values.size() / 2), values.end());
    return values[values.size() / 2];
}

} // namespace

void frame_timings_start(mrb_state *mrb)
{
    // Registered here rather than at start-up: values given with --set or in a
    // cvars file wait as pending values until this point.
    if (!cvar_get_bool("engine.timings")) {
        cvar_register_bool("engine.timings", "True if the engine should time every tick and frame and log the figures",
                           &cvar_engine_timings, 0);
        cvar_register_bool("engine.unpaced",
                           "True if a tick should start as soon as the render thread took the last frame (benchmarks)",
                           &cvar_engine_unpaced, 0);
        cvar_register_uint("engine.timings_warmup", "Ticks left out of the timing figures at the start",
                           &cvar_engine_timings_warmup, 120);
    }
    if (!cvar_engine_timings || timings.active.load()) {
        return;
    }
    timings.ticks = static_cast<tick_sample *>(SDL_calloc(sample_capacity, sizeof(tick_sample)));
    timings.frames = static_cast<frame_sample *>(SDL_calloc(sample_capacity, sizeof(frame_sample)));
    if (!timings.ticks || !timings.frames) {
        SDL_free(timings.ticks);
        SDL_free(timings.frames);
        timings.ticks = nullptr;
        timings.frames = nullptr;
        log_error("Engine", "Out of memory for the timing samples; timings stay off");
        return;
    }
    timings.ms_per_count = 1000.0 / static_cast<double>(SDL_GetPerformanceFrequency());

    // Counting wrappers around the allocators already in use: memory allocated
    // before this point is freed by the same functions underneath.
    SDL_GetMemoryFunctions(&timings.sdl_malloc, &timings.sdl_calloc, &timings.sdl_realloc, &timings.sdl_free);
    SDL_SetMemoryFunctions(counting_malloc, counting_calloc, counting_realloc, counting_free);
    if (mrb) {
        timings.script_allocf = mrb->allocf;
        mrb->allocf = counting_allocf;
    }
    log_info("Engine", "Timings on (%u warm-up ticks)%s", cvar_engine_timings_warmup,
             cvar_engine_unpaced ? ", ticks unpaced" : "");
    timings.active.store(true, std::memory_order_release);
}

bool frame_timings_active()
{
    return timings.active.load(std::memory_order_relaxed);
}

bool frame_timings_unpaced()
{
    return cvar_engine_unpaced != 0;
}

uint64_t frame_timings_clock()
{
    return SDL_GetPerformanceCounter();
}

void frame_timings_tick_begin(tick_timing *t)
{
    t->start = SDL_GetPerformanceCounter();
    t->script_start = t->script_end = t->walk_start = t->walk_end = t->start;
    t->native_allocations = native_allocations;
    t->script_allocations = script_allocations;
}

void frame_timings_tick_end(tick_timing *t, int32_t global_tick)
{
    const uint64_t end = SDL_GetPerformanceCounter();
    if (timings.tick_count >= sample_capacity) {
        return;
    }
    tick_sample &sample = timings.ticks[timings.tick_count++];
    sample.global_tick = global_tick;
    sample.script_ms = ms_between(t->script_start, t->script_end);
    sample.walk_ms = ms_between(t->walk_start, t->walk_end);
    sample.busy_ms = ms_between(t->start, end);
    sample.native_allocations = static_cast<uint32_t>(native_allocations - t->native_allocations);
    sample.script_allocations = static_cast<uint32_t>(script_allocations - t->script_allocations);
}

void frame_timings_frame_begin(frame_timing *f)
{
    f->start = SDL_GetPerformanceCounter();
    f->executed = f->start;
    f->native_allocations = native_allocations;
}

void frame_timings_frame_end(frame_timing *f, int32_t tick, int redraw)
{
    if (!timings.active.load(std::memory_order_acquire)) {
        return;  // timings came on while this frame was drawn
    }
    const uint64_t end = SDL_GetPerformanceCounter();
    const uint32_t index = timings.frame_count.load(std::memory_order_relaxed);
    if (index < sample_capacity) {
        frame_sample &sample = timings.frames[index];
        sample.tick = tick;
        sample.redraw = redraw;
        sample.draw_ms = ms_between(f->start, f->executed);
        sample.present_ms = ms_between(f->executed, end);
        sample.busy_ms = ms_between(f->start, end);
        sample.interval_ms = timings.last_present ? ms_between(timings.last_present, end) : -1.0f;
        sample.native_allocations = static_cast<uint32_t>(native_allocations - f->native_allocations);
        timings.frame_count.store(index + 1, std::memory_order_release);
    }
    timings.last_present = end;
}

void frame_timings_report()
{
    if (!frame_timings_active()) {
        return;
    }
    // The steady state: after the warm-up, without the last tick (the one that
    // asked to quit) and the frame that showed it.
    const int32_t warmup = static_cast<int32_t>(cvar_engine_timings_warmup);
    int32_t last_tick = timings.tick_count ? timings.ticks[timings.tick_count - 1].global_tick : -1;
    std::vector<const tick_sample *> ticks;
    for (uint32_t i = 0; i < timings.tick_count; i++) {
        const tick_sample &sample = timings.ticks[i];
        if (sample.global_tick >= warmup && sample.global_tick < last_tick) {
            ticks.push_back(&sample);
        }
    }
    std::vector<const frame_sample *> frames;
    const uint32_t frame_count = timings.frame_count.load(std::memory_order_acquire);
    for (uint32_t i = 0; i < frame_count; i++) {
        const frame_sample &sample = timings.frames[i];
        if (!sample.redraw && sample.interval_ms >= 0.0f && sample.tick >= warmup && sample.tick < last_tick) {
            frames.push_back(&sample);
        }
    }

    uint64_t tick_native = 0, tick_script = 0, frame_native = 0;
    uint32_t allocating_ticks = 0, allocating_frames = 0;
    for (const tick_sample *sample : ticks) {
        tick_native += sample->native_allocations;
        tick_script += sample->script_allocations;
        allocating_ticks += sample->native_allocations + sample->script_allocations > 0 ? 1 : 0;
    }
    for (const frame_sample *sample : frames) {
        frame_native += sample->native_allocations;
        allocating_frames += sample->native_allocations > 0 ? 1 : 0;
    }
    const double tick_n = ticks.empty() ? 1.0 : static_cast<double>(ticks.size());
    const double frame_n = frames.empty() ? 1.0 : static_cast<double>(frames.size());
    const double frame_ms = median_of(frames, [](const frame_sample &s) { return s.interval_ms; });

    log_info("Engine",
             "Timings: ticks=%u frames=%u warmup=%d unpaced=%d script_ms=%.3f walk_ms=%.3f sim_busy_ms=%.3f "
             "draw_ms=%.3f present_ms=%.3f render_busy_ms=%.3f frame_ms=%.3f fps=%.1f "
             "sim_allocs_per_tick=%.3f script_allocs_per_tick=%.3f render_allocs_per_frame=%.3f "
             "allocating_ticks=%u allocating_frames=%u",
             static_cast<unsigned>(ticks.size()), static_cast<unsigned>(frames.size()), warmup, cvar_engine_unpaced,
             median_of(ticks, [](const tick_sample &s) { return s.script_ms; }),
             median_of(ticks, [](const tick_sample &s) { return s.walk_ms; }),
             median_of(ticks, [](const tick_sample &s) { return s.busy_ms; }),
             median_of(frames, [](const frame_sample &s) { return s.draw_ms; }),
             median_of(frames, [](const frame_sample &s) { return s.present_ms; }),
             median_of(frames, [](const frame_sample &s) { return s.busy_ms; }), frame_ms,
             frame_ms > 0.0 ? 1000.0 / frame_ms : 0.0, static_cast<double>(tick_native) / tick_n,
             static_cast<double>(tick_script) / tick_n, static_cast<double>(frame_native) / frame_n,
             allocating_ticks, allocating_frames);
}
