// Wall-clock helpers and the process-wide SIGPIPE setting.
#include "fs/clock.h"

#include <csignal>
#include <ctime>

int64_t current_timestamp()
{
    return static_cast<int64_t>(time(nullptr));
}

void current_datetime(int *year, int *month, int *day, int *hour, int *minute, int *second)
{
    const time_t now = time(nullptr);
    struct tm local = {};
    // localtime_r: the janitor and the simulation thread both ask for the time.
    if (!localtime_r(&now, &local)) {
        return;
    }
    if (year) {
        *year = local.tm_year + 1900;
    }
    if (month) {
        *month = local.tm_mon + 1;
    }
    if (day) {
        *day = local.tm_mday;
    }
    if (hour) {
        *hour = local.tm_hour;
    }
    if (minute) {
        *minute = local.tm_min;
    }
    if (second) {
        *second = local.tm_sec > 59 ? 59 : local.tm_sec;
    }
}

void ignore_sigpipe()
{
    // A peer closing a socket must give EPIPE, not kill the process.
    static bool ignored = false;
    if (!ignored) {
        signal(SIGPIPE, SIG_IGN);
        ignored = true;
    }
}
