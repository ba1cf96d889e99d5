// Whole-file helpers over the virtual file system (reads through the search path,
// writes into the write directory), the two writers that bypass it, the text-file
// splitter shared by the cvars and metadata loaders, and the image decoder's
// stream callbacks. Memory comes from SDL's allocator; the caller frees results.
#pragma once

#include <cstddef>
#include <cstdint>

// The whole file plus a terminating zero byte that is not counted.
char *loadfile(const char *path, size_t *out_length);
int storefile(const char *path, const void *data, size_t length);
int appendfile(const char *path, const void *data, size_t length);
int storefile_write_override(const char *directory, const char *name, const void *data, size_t length);
int appendfile_write_override(const char *directory, const char *name, const void *data, size_t length);

// Modification time in seconds, or -1 when the path does not exist.
int64_t lastmodtime(const char *path);
int path_exists(const char *path);

// Array of line pointers ending with null; element 0 owns the text buffer.
char **split_textfile_into_lines(const char *path, unsigned *out_count);
void free_split_textfile(char **lines);
// key = value splitter of the cvars format; modifies line in place. 0 for an
// invalid line; 1 otherwise, with key and value null for blank and comment lines.
int split_key_value_string(char *line, char **out_key, char **out_value);

// Image decoder callbacks; user is an open PHYSFS_File.
int vfs_image_read(void *user, char *data, int size);
void vfs_image_skip(void *user, int n);
int vfs_image_eof(void *user);
