#include "fs/clock.h"

#include "support/fs_fixture.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <unistd.h>

namespace {

// TZ=UTC while it lives; the old zone comes back with the ScopedEnv.
struct UtcZone {
    kvn_test::ScopedEnv tz{"TZ", "UTC"};
    UtcZone() { tzset(); }
};

void expect_datetime_matches_utc()
{
    int year = -1, month = -1, day = -1, hour = -1, minute = -1, second = -1;
    // The clock may tick between the calls: retry until both stamps agree.
    time_t before = 0;
    time_t after = 1;
    for (int attempt = 0; attempt < 5 && before != after; ++attempt) {
        before = static_cast<time_t>(current_timestamp());
        current_datetime(&year, &month, &day, &hour, &minute, &second);
        after = static_cast<time_t>(current_timestamp());
    }
    ASSERT_EQ(before, after);
    struct tm utc = {};
    gmtime_r(&before, &utc);
    EXPECT_EQ(year, utc.tm_year + 1900);
    EXPECT_EQ(month, utc.tm_mon + 1);
    EXPECT_EQ(day, utc.tm_mday);
    EXPECT_EQ(hour, utc.tm_hour);
    EXPECT_EQ(minute, utc.tm_min);
    EXPECT_EQ(second, utc.tm_sec > 59 ? 59 : utc.tm_sec);

    int only_month = 0;
    current_datetime(nullptr, &only_month, nullptr, nullptr, nullptr, nullptr);
    EXPECT_GE(only_month, 1);
    EXPECT_LE(only_month, 12);
    current_datetime(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

TEST(Clock, DatetimeFillsOnlyTheGivenFieldsInLocalTime)
{
    {
        UtcZone utc_zone;
        expect_datetime_matches_utc();
    }
    tzset();
}

TEST(Clock, IgnoreSigpipeTurnsABrokenPipeIntoEpipe)
{
    ignore_sigpipe();
    ignore_sigpipe();

    struct sigaction current = {};
    ASSERT_EQ(sigaction(SIGPIPE, nullptr, &current), 0);
    EXPECT_EQ(current.sa_handler, SIG_IGN);

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    errno = 0;
    EXPECT_EQ(write(fds[1], "x", 1), -1);
    EXPECT_EQ(errno, EPIPE);
    close(fds[1]);
}

} // namespace
