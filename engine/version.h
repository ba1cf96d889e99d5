// Build values of this engine: version, build identifier, build date and time.
// Printed by the log banner and handed to the framework.
#pragma once

extern const char *const korvane_version;
extern const char *const korvane_build_id;
extern const char *const korvane_build_date;
extern const char *const korvane_build_time;
