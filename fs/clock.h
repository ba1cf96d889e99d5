// Wall-clock helpers and process-wide signal set-up.
#pragma once

#include <cstdint>

int64_t current_timestamp();
// Local date and time into whichever pointers are not null (month 1..12; a leap
// second is reported as 59).
void current_datetime(int *year, int *month, int *day, int *hour, int *minute, int *second);
void ignore_sigpipe();
