// The search path of the virtual file system: the executable itself (an appended
// ZIP archive), the base directory, the game directory and, in production builds,
// the per-user write directory. Start-up calls these in mount order; each mount goes
// in front, so the last one is searched first. Failures return 0 and leave the
// PhysicsFS error for the caller's fatal message.
#pragma once

// Give PhysicsFS SDL's allocator (before PHYSFS_init), then PHYSFS_init.
int searchpath_set_allocator();
int searchpath_init(const char *argv0);
// The running executable as an archive; a bare argv[0] (found through PATH), or
// one that names some other file, still mounts the running file. Failure is
// normal: a plain executable has no archive.
int searchpath_mount_executable(const char *argv0);
// A directory or archive in front of the search path.
int searchpath_mount(const char *directory);
// The file name of the running executable: /proc/self/exe resolved, else
// "/proc/self/exe" itself, else argv0 when /proc is unavailable. The text lives
// in module storage until the next call.
const char *searchpath_executable_path(const char *argv0);
// Write directory: the preference directory (devtitle, gametitle) in production,
// else base. Mounted in front unless it is the base directory (same pointer or
// same text). Returns 0 on failure and sets *out_stage to 1 (set write dir) or
// 2 (no preference directory, or the mount failed) for the caller's message.
// *out_dir (either out pointer may be null) receives a copy of the chosen
// directory from SDL_malloc, also on a failed mount; null when there is none.
// The caller frees it with SDL_free.
int searchpath_set_write_dir(int production, const char *devtitle, const char *gametitle,
                             const char *base, int *out_stage, char **out_dir);
