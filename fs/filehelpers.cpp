// Whole-file helpers over PhysicsFS, the two writers that go straight to the
// operating system, the text splitters, and the image decoder's stream callbacks.
// Every helper reports failure by its return value only; callers decide whether
// a failure is worth a log line.
#include "fs/filehelpers.h"

#include "fs/strings.h"

#include <SDL.h>
#include <physfs.h>

#include <cerrno>
#include <sys/stat.h>
#include <sys/types.h>

namespace {

struct SdlFreeGuard {
    void *pointer;
    ~SdlFreeGuard() { SDL_free(pointer); }
};

// Stores the bytes through an already opened PhysicsFS handle and closes it.
int write_and_close(PHYSFS_File *file, const void *data, size_t length)
{
    bool complete = true;
    if (length != 0) {
        const PHYSFS_sint64 written = PHYSFS_writeBytes(file, data, length);
        complete = written >= 0 && static_cast<PHYSFS_uint64>(written) == length;
    }
    const int closed = PHYSFS_close(file);
    return (closed && complete) ? 1 : 0;
}

int store_or_append(const char *path, const void *data, size_t length, bool append)
{
    if (!path || (length != 0 && !data)) {
        return 0;
    }
    char *directory = SDL_strdup(path);
    if (!directory) {
        return 0;
    }
    SdlFreeGuard guard{directory};
    if (char *slash = SDL_strrchr(directory, '/')) {
        *slash = '\0';
        // PhysicsFS creates every missing level; an existing one is fine, and a
        // real problem shows up when the file is opened.
        if (directory[0] != '\0') {
            PHYSFS_mkdir(directory);
        }
    }
    PHYSFS_File *file = append ? PHYSFS_openAppend(path) : PHYSFS_openWrite(path);
    if (!file) {
        return 0;
    }
    return write_and_close(file, data, length);
}

PHYSFS_ErrorCode physfs_code_for_errno(int error)
{
    switch (error) {
    case 0: return PHYSFS_ERR_OK;
    case EEXIST: return PHYSFS_ERR_DUPLICATE;
    case ENOENT: return PHYSFS_ERR_NOT_FOUND;
    case EACCES:
    case EPERM: return PHYSFS_ERR_PERMISSION;
    case ENOSPC:
    case EDQUOT: return PHYSFS_ERR_NO_SPACE;
    case EROFS: return PHYSFS_ERR_READ_ONLY;
    case ENOMEM: return PHYSFS_ERR_OUT_OF_MEMORY;
    case ELOOP: return PHYSFS_ERR_SYMLINK_LOOP;
    case ENAMETOOLONG:
    case ENOTDIR: return PHYSFS_ERR_BAD_FILENAME;
    case EIO: return PHYSFS_ERR_IO;
    case EBUSY: return PHYSFS_ERR_BUSY;
    default: return PHYSFS_ERR_OS_ERROR;
    }
}

int write_override(const char *directory, const char *name, const void *data, size_t length,
                   const char *mode)
{
    if (!directory || !name || (length != 0 && !data)) {
        return 0;
    }
    char *path = sprintf_alloc("%s/%s", directory, name);
    if (!path) {
        return 0;
    }
    SdlFreeGuard guard{path};

    // Create each level from the left; an existing level fails with EEXIST,
    // which is expected and only recorded.
    for (char *slash = SDL_strchr(path, '/'); slash; slash = SDL_strchr(slash + 1, '/')) {
        *slash = '\0';
        // PhysicsFS keeps error codes in memory from its allocator, which
        // exists only while it is initialised.
        if (mkdir(path, 0700) != 0 && PHYSFS_isInit()) {
            PHYSFS_setErrorCode(physfs_code_for_errno(errno));
        }
        *slash = '/';
    }

    SDL_RWops *rw = SDL_RWFromFile(path, mode);
    if (!rw) {
        return 0;
    }
    bool complete = true;
    if (length != 0) {
        complete = SDL_RWwrite(rw, data, 1, length) == length;
    }
    const int closed = SDL_RWclose(rw);
    return (closed == 0 && complete) ? 1 : 0;
}

} // namespace

char *loadfile(const char *path, size_t *out_length)
{
    if (out_length) {
        *out_length = 0;
    }
    if (!path) {
        return nullptr;
    }
    PHYSFS_Stat stat;
    // A directory opens and reads as zero bytes on some platforms: only
    // regular files count.
    if (!PHYSFS_stat(path, &stat) || stat.filetype != PHYSFS_FILETYPE_REGULAR ||
        stat.filesize < 0 ||
        static_cast<PHYSFS_uint64>(stat.filesize) >= SIZE_MAX) {
        return nullptr;
    }
    const size_t size = static_cast<size_t>(stat.filesize);
    char *buffer = static_cast<char *>(SDL_malloc(size + 1));
    if (!buffer) {
        return nullptr;
    }
    PHYSFS_File *file = PHYSFS_openRead(path);
    if (!file) {
        SDL_free(buffer);
        return nullptr;
    }
    const PHYSFS_sint64 got = size ? PHYSFS_readBytes(file, buffer, size) : 0;
    PHYSFS_close(file);
    if (got < 0 || static_cast<size_t>(got) != size) {
        SDL_free(buffer);
        return nullptr;
    }
    buffer[size] = '\0';
    if (out_length) {
        *out_length = size;
    }
    return buffer;
}

int storefile(const char *path, const void *data, size_t length)
{
    return store_or_append(path, data, length, false);
}

int appendfile(const char *path, const void *data, size_t length)
{
    return store_or_append(path, data, length, true);
}

int storefile_write_override(const char *directory, const char *name, const void *data,
                             size_t length)
{
    return write_override(directory, name, data, length, "wb");
}

int appendfile_write_override(const char *directory, const char *name, const void *data,
                              size_t length)
{
    return write_override(directory, name, data, length, "ab");
}

int64_t lastmodtime(const char *path)
{
    PHYSFS_Stat stat;
    if (!path || !PHYSFS_stat(path, &stat)) {
        return -1;
    }
    return stat.modtime;
}

int path_exists(const char *path)
{
    return (path && PHYSFS_exists(path)) ? 1 : 0;
}

char **split_textfile_into_lines(const char *path, unsigned *out_count)
{
    if (out_count) {
        *out_count = 0;
    }
    char *text = loadfile(path, nullptr);
    if (!text) {
        return nullptr;
    }

    unsigned count = 0;
    unsigned capacity = 16;
    char **lines = static_cast<char **>(SDL_malloc(capacity * sizeof(char *)));
    if (!lines) {
        SDL_free(text);
        return nullptr;
    }

    char *line = text;
    char *p = text;
    for (;;) {
        const bool at_end = *p == '\0';
        if (!at_end && *p != '\n' && *p != '\r') {
            ++p;
            continue;
        }
        // One slot for this line and one for the terminating null.
        if (count + 2 > capacity) {
            capacity *= 2;
            auto *grown = static_cast<char **>(SDL_realloc(lines, capacity * sizeof(char *)));
            if (!grown) {
                SDL_free(lines);
                SDL_free(text);
                return nullptr;
            }
            lines = grown;
        }
        lines[count++] = line;
        if (at_end) {
            break;
        }
        if (p[0] == '\r' && p[1] == '\n') {
            *p++ = '\0';
        }
        *p++ = '\0';
        line = p;
    }
    lines[count] = nullptr;
    if (out_count) {
        *out_count = count;
    }
    return lines;
}

void free_split_textfile(char **lines)
{
    if (!lines) {
        return;
    }
    SDL_free(lines[0]);
    SDL_free(lines);
}

int split_key_value_string(char *line, char **out_key, char **out_value)
{
    char *key = nullptr;
    char *value = nullptr;
    int valid = 1;

    char *p = line;
    if (p) {
        while (*p && SDL_isspace(static_cast<unsigned char>(*p))) {
            ++p;
        }
    }
    if (p && *p != '\0' && *p != '#' && *p != ';') {
        char *equals = SDL_strchr(p, '=');
        if (!equals || equals == p) {
            valid = 0;
        } else {
            *equals = '\0';
            char *end = equals;
            while (end > p && SDL_isspace(static_cast<unsigned char>(end[-1]))) {
                *--end = '\0';
            }
            key = p;

            char *v = equals + 1;
            while (*v && SDL_isspace(static_cast<unsigned char>(*v))) {
                ++v;
            }
            end = v + SDL_strlen(v);
            while (end > v && SDL_isspace(static_cast<unsigned char>(end[-1]))) {
                *--end = '\0';
            }
            value = v;
        }
    }
    if (out_key) {
        *out_key = key;
    }
    if (out_value) {
        *out_value = value;
    }
    return valid;
}

int vfs_image_read(void *user, char *data, int size)
{
    if (size <= 0) {
        return 0;
    }
    const PHYSFS_sint64 got = PHYSFS_readBytes(static_cast<PHYSFS_File *>(user), data,
                                               static_cast<PHYSFS_uint64>(size));
    return got < 0 ? 0 : static_cast<int>(got);
}

void vfs_image_skip(void *user, int n)
{
    auto *file = static_cast<PHYSFS_File *>(user);
    const PHYSFS_sint64 position = PHYSFS_tell(file);
    if (position < 0) {
        return;
    }
    PHYSFS_sint64 target = position + n;
    if (target < 0) {
        target = 0;
    }
    // Archives refuse a seek past the end; landing on the end gives the
    // decoder the end-of-file it expects instead of a stuck position.
    const PHYSFS_sint64 length = PHYSFS_fileLength(file);
    if (length >= 0 && target > length) {
        target = length;
    }
    PHYSFS_seek(file, static_cast<PHYSFS_uint64>(target));
}

int vfs_image_eof(void *user)
{
    return PHYSFS_eof(static_cast<PHYSFS_File *>(user)) ? 1 : 0;
}
