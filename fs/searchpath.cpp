// Building the PhysicsFS search path and choosing the write directory.
#include "fs/searchpath.h"

#include <SDL.h>
#include <physfs.h>

#include <climits>
#include <cstdlib>
#include <unistd.h>

namespace {

// PhysicsFS passes 64-bit sizes; SDL's allocator takes size_t.
void *physfs_sdl_malloc(PHYSFS_uint64 size)
{
    return size > SIZE_MAX ? nullptr : SDL_malloc(static_cast<size_t>(size));
}

void *physfs_sdl_realloc(void *pointer, PHYSFS_uint64 size)
{
    return size > SIZE_MAX ? nullptr : SDL_realloc(pointer, static_cast<size_t>(size));
}

void physfs_sdl_free(void *pointer)
{
    SDL_free(pointer);
}

constexpr PHYSFS_Allocator sdl_allocator = {
    nullptr, nullptr, physfs_sdl_malloc, physfs_sdl_realloc, physfs_sdl_free,
};

// PhysicsFS keeps error codes in memory from its allocator, which exists only
// while it is initialised.
void set_physfs_error(PHYSFS_ErrorCode code)
{
    if (PHYSFS_isInit()) {
        PHYSFS_setErrorCode(code);
    }
}

struct SearchPathState {
    char executable[PATH_MAX];
};
SearchPathState searchpath;

} // namespace

int searchpath_set_allocator()
{
    return PHYSFS_setAllocator(&sdl_allocator) ? 1 : 0;
}

int searchpath_init(const char *argv0)
{
    return PHYSFS_init(argv0) ? 1 : 0;
}

const char *searchpath_executable_path(const char *argv0)
{
    // argv[0] is whatever the launcher chose: a bare name found through PATH,
    // a relative path from another directory, or a different name entirely.
    // The kernel's link always names the running file.
    if (realpath("/proc/self/exe", searchpath.executable)) {
        return searchpath.executable;
    }
    // Resolving fails when the file was replaced while running; the link
    // itself still opens the original.
    if (SDL_strlcpy(searchpath.executable, "/proc/self/exe", sizeof searchpath.executable) &&
        access("/proc/self/exe", R_OK) == 0) {
        return searchpath.executable;
    }
    if (argv0 && argv0[0] != '\0') {
        SDL_strlcpy(searchpath.executable, argv0, sizeof searchpath.executable);
        return searchpath.executable;
    }
    return nullptr;
}

int searchpath_mount_executable(const char *argv0)
{
    const char *path = searchpath_executable_path(argv0);
    if (!path) {
        return 0;
    }
    return PHYSFS_mount(path, nullptr, 0) ? 1 : 0;
}

int searchpath_mount(const char *directory)
{
    if (!directory) {
        return 0;
    }
    return PHYSFS_mount(directory, nullptr, 0) ? 1 : 0;
}

int searchpath_set_write_dir(int production, const char *devtitle, const char *gametitle,
                             const char *base, int *out_stage, char **out_dir)
{
    if (out_stage) {
        *out_stage = 0;
    }
    if (out_dir) {
        *out_dir = nullptr;
    }

    const char *dir = base;
    if (production) {
        dir = PHYSFS_getPrefDir(devtitle ? devtitle : "", gametitle ? gametitle : "");
        if (!dir) {
            if (out_stage) {
                *out_stage = 2;
            }
            return 0;
        }
    }
    if (!dir) {
        set_physfs_error(PHYSFS_ERR_INVALID_ARGUMENT);
        if (out_stage) {
            *out_stage = 1;
        }
        return 0;
    }
    // PhysicsFS's preference-directory text is only valid until its next call.
    char *copy = SDL_strdup(dir);
    if (!copy) {
        set_physfs_error(PHYSFS_ERR_OUT_OF_MEMORY);
        if (out_stage) {
            *out_stage = 1;
        }
        return 0;
    }
    if (out_dir) {
        *out_dir = copy;
    }

    int ok = 1;
    if (!PHYSFS_setWriteDir(copy)) {
        ok = 0;
        if (out_stage) {
            *out_stage = 1;
        }
    } else if (dir != base && !(base && SDL_strcmp(copy, base) == 0)) {
        // The base directory is already on the search path; anything else goes
        // first so that player files shadow the game's.
        if (!PHYSFS_mount(copy, nullptr, 0)) {
            ok = 0;
            if (out_stage) {
                *out_stage = 2;
            }
        }
    }
    if (!out_dir) {
        SDL_free(copy);
    }
    return ok;
}
