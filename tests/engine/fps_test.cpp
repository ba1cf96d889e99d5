// The frames-per-second window: eight completed 125 ms slots plus the running one.
#include <gtest/gtest.h>

#include <cstdint>

#include "engine/fps.h"

namespace {

// Counts frames at rate_hz from start_ms for duration_ms (times truncated to whole
// milliseconds as SDL_GetTicks gives them); returns the last rate.
uint32_t run_frames(sim_fps_window &window, uint32_t start_ms, double rate_hz, uint32_t duration_ms)
{
    uint32_t rate = 0;
    for (int frame = 0;; frame++) {
        double offset = frame * 1000.0 / rate_hz;
        if (offset > duration_ms) {
            break;
        }
        rate = fps_iteration_at(&window, start_ms + static_cast<uint32_t>(offset));
    }
    return rate;
}

struct SteadyCase {
    const char *name;
    uint32_t start_ms;  // the window's first slot starts at 0
    double rate_hz;
    uint32_t expected;
};

class FpsSteady : public testing::TestWithParam<SteadyCase> {};

TEST_P(FpsSteady, SettlesOnTheFrameRateWithinTwoSeconds)
{
    const SteadyCase &c = GetParam();
    sim_fps_window window{};
    EXPECT_EQ(run_frames(window, c.start_ms, c.rate_hz, 2000), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rates, FpsSteady,
    testing::Values(SteadyCase{"SixtyFromZero", 0, 60.0, 60}, SteadyCase{"SixtyAfterLateStart", 3000, 60.0, 60},
                    SteadyCase{"Thirty", 500, 30.0, 30}, SteadyCase{"OneTwenty", 0, 120.0, 120},
                    // Unsigned arithmetic carries the window across the 49-day wrap.
                    SteadyCase{"AcrossTickWrap", UINT32_MAX - 700, 60.0, 60}),
    [](const testing::TestParamInfo<SteadyCase> &info) { return std::string(info.param.name); });

TEST(Fps, FirstReadingsAreLowBecauseTheFirstSlotStartsAtZero)
{
    sim_fps_window window{};
    EXPECT_EQ(fps_iteration_at(&window, 0), 0u) << "no time has passed";
    // One frame 2 s after SDL started: a single 2000 ms slot holding two frames.
    EXPECT_EQ(fps_iteration_at(&window, 2000), 1u);
    EXPECT_LT(run_frames(window, 2017, 60.0, 500), 30u);
    // About a second of ticking later the start-up slot has been dropped.
    EXPECT_EQ(run_frames(window, 2600, 60.0, 1100), 60u);
}

TEST(Fps, OldSlotsLeaveTheWindowAfterEightSlots)
{
    sim_fps_window window{};
    // A burst: 600 frames within one slot.
    for (uint32_t i = 0; i < 600; i++) {
        fps_iteration_at(&window, i / 5);
    }
    EXPECT_GT(fps_iteration_at(&window, 125), 1000u);
    EXPECT_EQ(run_frames(window, 130, 60.0, 1500), 60u);
    EXPECT_GE(window.next_slot, 0);
    EXPECT_LT(window.next_slot, 8);
}

} // namespace
