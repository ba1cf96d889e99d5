// FFI::File: whole-file reads through the virtual file system, writes to the host
// file system under the game or base directory, listing, stat, delete, mount and
// image loading.
#include "bindings/ffi.h"

#include <SDL.h>
#include <mruby/array.h>
#include <mruby/hash.h>
#include <mruby/string.h>
#include <physfs.h>

#include "engine/game_context.h"
#include "fs/filehelpers.h"
#include "log/log.h"
#include "render/image.h"

namespace {

// PhysicsFS error enumerators by code, 1 .. 29.
constexpr const char *physfs_error_names[] = {
    "PHYSFS_ERR_OK",
    "PHYSFS_ERR_OTHER_ERROR",
    "PHYSFS_ERR_OUT_OF_MEMORY",
    "PHYSFS_ERR_NOT_INITIALIZED",
    "PHYSFS_ERR_IS_INITIALIZED",
    "PHYSFS_ERR_ARGV0_IS_NULL",
    "PHYSFS_ERR_UNSUPPORTED",
    "PHYSFS_ERR_PAST_EOF",
    "PHYSFS_ERR_FILES_STILL_OPEN",
    "PHYSFS_ERR_INVALID_ARGUMENT",
    "PHYSFS_ERR_NOT_MOUNTED",
    "PHYSFS_ERR_NOT_FOUND",
    "PHYSFS_ERR_SYMLINK_FORBIDDEN",
    "PHYSFS_ERR_NO_WRITE_DIR",
    "PHYSFS_ERR_OPEN_FOR_READING",
    "PHYSFS_ERR_OPEN_FOR_WRITING",
    "PHYSFS_ERR_NOT_A_FILE",
    "PHYSFS_ERR_READ_ONLY",
    "PHYSFS_ERR_CORRUPT",
    "PHYSFS_ERR_SYMLINK_LOOP",
    "PHYSFS_ERR_IO",
    "PHYSFS_ERR_PERMISSION",
    "PHYSFS_ERR_NO_SPACE",
    "PHYSFS_ERR_BAD_FILENAME",
    "PHYSFS_ERR_BUSY",
    "PHYSFS_ERR_DIR_NOT_EMPTY",
    "PHYSFS_ERR_OS_ERROR",
    "PHYSFS_ERR_DUPLICATE",
    "PHYSFS_ERR_BAD_PASSWORD",
    "PHYSFS_ERR_APP_CALLBACK",
};
constexpr int physfs_error_name_count = sizeof physfs_error_names / sizeof physfs_error_names[0];

mrb_value string_or_empty(mrb_state *mrb, const char *text)
{
    return mrb_str_new_cstr(mrb, text ? text : "");
}

struct buffer_view {
    const char *bytes;
    size_t length;
};

mrb_value string_from_buffer(mrb_state *mrb, void *userdata)
{
    const buffer_view *view = static_cast<const buffer_view *>(userdata);
    return mrb_str_new(mrb, view->bytes, static_cast<mrb_int>(view->length));
}

// A relative path without ".." parts: the writers must not leave their directory.
bool path_stays_inside(const char *path)
{
    if (path[0] == '/') {
        return false;
    }
    for (const char *part = path; *part;) {
        const char *end = SDL_strchr(part, '/');
        size_t length = end ? static_cast<size_t>(end - part) : SDL_strlen(part);
        if (length == 2 && part[0] == '.' && part[1] == '.') {
            return false;
        }
        part += length + (end ? 1 : 0);
    }
    return true;
}

// Writes through one of the host-file writers under a directory; false without one
// or for a path that would leave it.
mrb_value write_under(mrb_state *mrb, const char *directory, bool append)
{
    const char *path = nullptr;
    const char *data = nullptr;
    mrb_int length = 0;
    mrb_get_args(mrb, "zs", &path, &data, &length);
    if (!directory || !path_stays_inside(path)) {
        return mrb_false_value();
    }
    const size_t size = static_cast<size_t>(length);
    const int ok = append ? appendfile_write_override(directory, path, data, size)
                          : storefile_write_override(directory, path, data, size);
    return mrb_bool_value(ok != 0);
}

mrb_value file_mtime(mrb_state *mrb, mrb_value)
{
    const char *path = nullptr;
    mrb_get_args(mrb, "z", &path);
    return mrb_int_value(mrb, static_cast<mrb_int>(lastmodtime(path)));
}

mrb_value file_path_exists(mrb_state *mrb, mrb_value)
{
    const char *path = nullptr;
    mrb_get_args(mrb, "z", &path);
    return mrb_bool_value(path_exists(path) != 0);
}

mrb_value file_read(mrb_state *mrb, mrb_value)
{
    const char *path = nullptr;
    mrb_get_args(mrb, "z", &path);
    size_t length = 0;
    char *text = loadfile(path, &length);
    if (!text) {
        return mrb_nil_value();
    }
    buffer_view view{text, length};
    return ffi_protect_and_free(mrb, string_from_buffer, &view, text);
}

mrb_value file_write(mrb_state *mrb, mrb_value)
{
    return write_under(mrb, game_directory, false);
}

mrb_value file_append(mrb_state *mrb, mrb_value)
{
    return write_under(mrb, game_directory, true);
}

mrb_value file_write_root(mrb_state *mrb, mrb_value)
{
    return write_under(mrb, ffi_context.base_directory, false);
}

mrb_value file_append_root(mrb_state *mrb, mrb_value)
{
    return write_under(mrb, ffi_context.base_directory, true);
}

mrb_value file_get_base_dir(mrb_state *mrb, mrb_value)
{
    return string_or_empty(mrb, ffi_context.base_directory);
}

mrb_value file_get_game_dir(mrb_state *mrb, mrb_value)
{
    return string_or_empty(mrb, game_directory);
}

struct image_pixels {
    const uint8_t *bytes;
    int width, height;
};

mrb_value image_to_array(mrb_state *mrb, void *userdata)
{
    const image_pixels *image = static_cast<const image_pixels *>(userdata);
    const mrb_int count = static_cast<mrb_int>(image->width) * image->height;
    mrb_value pixels = mrb_ary_new_capa(mrb, count);
    for (mrb_int i = 0; i < count; i++) {
        // The RGBA bytes of one pixel read as one 32-bit value, as the decoder
        // stores them.
        uint32_t pixel;
        SDL_memcpy(&pixel, image->bytes + i * 4, sizeof pixel);
        mrb_ary_push(mrb, pixels, mrb_int_value(mrb, pixel));
    }
    mrb_value result[3] = {pixels, mrb_int_value(mrb, image->width), mrb_int_value(mrb, image->height)};
    return mrb_ary_new_from_values(mrb, 3, result);
}

mrb_value file_load_image(mrb_state *mrb, mrb_value)
{
    const char *path = nullptr;
    mrb_get_args(mrb, "z", &path);
    int width = 0;
    int height = 0;
    uint8_t *bytes = load_image(path, &width, &height);
    if (!bytes) {
        return mrb_nil_value();
    }
    image_pixels image{bytes, width, height};
    return ffi_protect_and_free(mrb, image_to_array, &image, bytes);
}

struct name_list {
    char **names;
};

mrb_value names_to_array(mrb_state *mrb, void *userdata)
{
    char **names = static_cast<name_list *>(userdata)->names;
    mrb_value entries = mrb_ary_new(mrb);
    for (char **name = names; *name; name++) {
        const int arena = mrb_gc_arena_save(mrb);
        mrb_ary_push(mrb, entries, mrb_str_new_cstr(mrb, *name));
        mrb_gc_arena_restore(mrb, arena);
    }
    return entries;
}

mrb_value free_names_to_array(mrb_state *mrb, name_list *list)
{
    mrb_bool failed = FALSE;
    mrb_value result = mrb_protect_error(mrb, names_to_array, list, &failed);
    PHYSFS_freeList(list->names);
    if (failed) {
        mrb_exc_raise(mrb, result);
    }
    return result;
}

mrb_value file_list(mrb_state *mrb, mrb_value)
{
    const char *directory = nullptr;
    mrb_get_args(mrb, "z", &directory);
    char **names = PHYSFS_enumerateFiles(directory);
    if (!names) {
        return mrb_ary_new(mrb);
    }
    name_list list{names};
    return free_names_to_array(mrb, &list);
}

mrb_value file_delete(mrb_state *mrb, mrb_value)
{
    const char *path = nullptr;
    mrb_get_args(mrb, "z", &path);
    if (PHYSFS_delete(path)) {
        return mrb_nil_value();
    }
    const int code = static_cast<int>(PHYSFS_getLastErrorCode());
    if (code >= 1 && code < physfs_error_name_count) {
        mrb_raisef(mrb, E_RUNTIME_ERROR, "Error occurred in delete_file: %s", physfs_error_names[code]);
    }
    mrb_raisef(mrb, E_RUNTIME_ERROR, "Unknown error occurred in delete_file. (error code %d)", code);
    return mrb_nil_value();  // not reached
}

mrb_sym file_type_symbol(PHYSFS_FileType type)
{
    switch (type) {
    case PHYSFS_FILETYPE_REGULAR: return ffi_sym.regular;
    case PHYSFS_FILETYPE_DIRECTORY: return ffi_sym.directory;
    case PHYSFS_FILETYPE_SYMLINK: return ffi_sym.symlink;
    default: return ffi_sym.other;
    }
}

mrb_value file_stat(mrb_state *mrb, mrb_value)
{
    mrb_value path;
    mrb_get_args(mrb, "S", &path);
    PHYSFS_Stat stat;
    if (!PHYSFS_stat(mrb_string_value_cstr(mrb, &path), &stat)) {
        return mrb_nil_value();
    }
    mrb_value hash = mrb_hash_new_capa(mrb, 7);
    mrb_hash_set(mrb, hash, mrb_symbol_value(ffi_sym.path), path);
    mrb_hash_set(mrb, hash, mrb_symbol_value(ffi_sym.file_size), mrb_int_value(mrb, stat.filesize));
    mrb_hash_set(mrb, hash, mrb_symbol_value(ffi_sym.mod_time), mrb_int_value(mrb, stat.modtime));
    mrb_hash_set(mrb, hash, mrb_symbol_value(ffi_sym.create_time), mrb_int_value(mrb, stat.createtime));
    mrb_hash_set(mrb, hash, mrb_symbol_value(ffi_sym.access_time), mrb_int_value(mrb, stat.accesstime));
    mrb_hash_set(mrb, hash, mrb_symbol_value(ffi_sym.readonly), mrb_bool_value(stat.readonly != 0));
    mrb_hash_set(mrb, hash, mrb_symbol_value(ffi_sym.file_type), mrb_symbol_value(file_type_symbol(stat.filetype)));
    return hash;
}

mrb_value file_mount(mrb_state *mrb, mrb_value)
{
    mrb_value path;
    mrb_get_args(mrb, "S", &path);
    const char *directory = mrb_string_value_cstr(mrb, &path);
    if (directory[0] == '\0') {
        PHYSFS_setErrorCode(PHYSFS_ERR_INVALID_ARGUMENT);
        return mrb_nil_value();
    }
    if (!PHYSFS_mount(directory, directory, 0)) {
        log_physfs_error("Engine", log_level_warn, "Couldn't mount '%s'", directory);
    }
    return mrb_nil_value();
}

constexpr ffi_method file_methods[] = {
    {"mtime", file_mtime, MRB_ARGS_REQ(1)},
    {"path_exists", file_path_exists, MRB_ARGS_REQ(1)},
    {"read", file_read, MRB_ARGS_REQ(1)},
    {"write", file_write, MRB_ARGS_REQ(2)},
    {"append", file_append, MRB_ARGS_REQ(2)},
    {"write_root", file_write_root, MRB_ARGS_REQ(2)},
    {"append_root", file_append_root, MRB_ARGS_REQ(2)},
    {"get_base_dir", file_get_base_dir, MRB_ARGS_NONE()},
    {"get_game_dir", file_get_game_dir, MRB_ARGS_NONE()},
    {"load_image", file_load_image, MRB_ARGS_REQ(1)},
    {"list", file_list, MRB_ARGS_REQ(1)},
    {"delete", file_delete, MRB_ARGS_REQ(1)},
    {"stat", file_stat, MRB_ARGS_REQ(1)},
    {"mount", file_mount, MRB_ARGS_REQ(1)},
};

} // namespace

RClass *ffi_define_file(mrb_state *mrb, RClass *ffi)
{
    RClass *file = mrb_define_class_under(mrb, ffi, "File", mrb->object_class);
    ffi_define_methods(mrb, file, file_methods);
    return file;
}
