#include "engine/startup.h"

#include <SDL.h>
#include <execinfo.h>
#include <mruby.h>
#include <mruby/array.h>
#include <mruby/hash.h>
#include <mruby/irep.h>
#include <mruby/string.h>
#include <physfs.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "bindings/ffi.h"
#include "config/cvar.h"
#include "config/metadata.h"
#include "engine/flags.h"
#include "engine/game_context.h"
#include "engine/script.h"
#include "engine/version.h"
#include "fs/filehelpers.h"
#include "fs/searchpath.h"
#include "fs/strings.h"
#include "input/events.h"
#include "input/controllers.h"
#include "log/log.h"
#include "net/janitor.h"
#include "render/render_context.h"
#include "render/renderer_cvars.h"
#include "stream/ffi_draw.h"
#include "stream/pack.h"
#include "stream/records.h"
#include "stream/threadstream.h"

extern "C" const uint8_t main_ruby[];

int32_t cvar_controller_config_ui = 0;

namespace {

constexpr size_t fatal_message_size = 256;
constexpr const char *fatal_title = "Startup failure!";

const char *physfs_error_text()
{
    const char *text = PHYSFS_getErrorByCode(PHYSFS_getLastErrorCode());
    return text ? text : "no error";
}

bool marker_present(const char *path)
{
    return lastmodtime(path) > 0;
}

bool env_flag_set(const char *name)
{
    const char *value = SDL_getenv(name);
    return value && value[0] != '\0' && SDL_strcmp(value, "0") != 0;
}

// Every step's own message goes to stderr and, when allowed, a message box.
void mount_or_die(const char *directory)
{
    if (!searchpath_mount(directory)) {
        fatal_startup_error("Couldn't mount '%s' directory: %s", directory, physfs_error_text());
    }
}

// "<base>mygame" without doubling the separator SDL_GetBasePath ends with.
char *join_base(const char *base, const char *name)
{
    size_t length = SDL_strlen(base);
    bool has_slash = length > 0 && base[length - 1] == '/';
    return sprintf_alloc(has_slash ? "%s%s" : "%s/%s", base, name);
}

void fill_texture_atlas_table(mrb_state *mrb)
{
    int arena = mrb_gc_arena_save(mrb);
    mrb_value atlas = mrb_hash_new(mrb);
    if (cvar_game_metadata_hd && mrb_respond_to(mrb, game.runtime, script_sym.get_texture_atlas)) {
        const char *directory = cvar_game_metadata_sprites_directory ? cvar_game_metadata_sprites_directory : "";
        atlas = script_runtime_call(script_sym.get_texture_atlas, {mrb_str_new_cstr(mrb, directory)});
    }
    mrb_value pairs = script_call(mrb, atlas, script_sym.to_a);
    if (mrb_array_p(pairs)) {
        for (mrb_int i = 0; i < RARRAY_LEN(pairs); i++) {
            mrb_value pair = mrb_ary_ref(mrb, pairs, i);
            if (!mrb_array_p(pair) || RARRAY_LEN(pair) < 2) {
                continue;
            }
            mrb_value sprite = mrb_ary_ref(mrb, pair, 0);
            mrb_value variants_hash = mrb_ary_ref(mrb, pair, 1);
            if (!mrb_string_p(sprite) || !mrb_hash_p(variants_hash)) {
                continue;
            }
            texture_atlas_variant variants[texture_atlas_variant_count] = {};
            for (int v = 0; v < texture_atlas_variant_count; v++) {
                mrb_value path = mrb_hash_get(mrb, variants_hash, mrb_symbol_value(script_sym.texture[v]));
                mrb_value scale = mrb_hash_get(mrb, variants_hash, mrb_symbol_value(script_sym.texture_scale_enum[v]));
                variants[v].path = mrb_string_p(path) ? mrb_str_to_cstr(mrb, path) : nullptr;
                variants[v].scale_enum = mrb_integer_p(scale) ? static_cast<int32_t>(mrb_integer(scale)) : 0;
            }
            // A shared or sliced interpreter string has no terminator of its own.
            texture_atlas_table_put(mrb_str_to_cstr(mrb, sprite), variants);
        }
    }
    mrb_gc_arena_restore(mrb, arena);
}

// Defines Kor_VERSION (the image is compiled without build values) and runs the
// embedded framework image; 0 when it raised (logged).
int load_framework(mrb_state *mrb)
{
    mrb_define_const(mrb, mrb->object_class, "Kor_VERSION", mrb_str_new_cstr(mrb, korvane_version));
    mrb_load_irep(mrb, main_ruby);
    return script_report_pending_exception(mrb, "the framework image") ? 0 : 1;
}

} // namespace

int startup_dialogs_allowed()
{
    // A message box blocks until someone clicks it. An unattended run (tests, CI,
    // a server) must still end with the stderr text and status 1, so the box is
    // skipped when KORVANE_NO_DIALOGS is set, when the window was to stay hidden,
    // when the video driver draws nowhere, and when there is no display at all.
    if (env_flag_set("KORVANE_NO_DIALOGS") || cvar_renderer_start_headless) {
        return 0;
    }
    const char *driver = SDL_GetCurrentVideoDriver();
    if (!driver) {
        driver = SDL_getenv("SDL_VIDEODRIVER");
    }
    if (driver && (SDL_strcasecmp(driver, "offscreen") == 0 || SDL_strcasecmp(driver, "dummy") == 0)) {
        return 0;
    }
    if (!SDL_getenv("DISPLAY") && !SDL_getenv("WAYLAND_DISPLAY")) {
        return 0;
    }
    return 1;
}

void fatal_startup_error(const char *format, ...)
{
    // The message is formatted before the log shuts down: its arguments may point
    // at SDL's error text, which the log's own calls could overwrite.
    char message[fatal_message_size];
    va_list arguments;
    va_start(arguments, format);
    SDL_vsnprintf(message, sizeof message, format, arguments);
    va_end(arguments);

    log_emergency_quit();
    fprintf(stderr, "\n\n%s:\n%s\n\n", fatal_title, message);
    fflush(stderr);
    if (startup_dialogs_allowed()) {
        SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, fatal_title, message, nullptr);
    }
    // PhysicsFS 3.0 crashes when deinitialised before it was initialised.
    if (PHYSFS_isInit()) {
        PHYSFS_deinit();
    }
    SDL_Quit();
    exit(1);
}

void crash_signal_handler(int signal)
{
    void *frames[10];
    int count = backtrace(frames, 10);
    char text[64];
    int length = SDL_snprintf(text, sizeof text, "Error: signal %d:\n", signal);
    if (length > 0) {
        ssize_t ignored = write(STDERR_FILENO, text, static_cast<size_t>(length));
        (void)ignored;
    }
    backtrace_symbols_fd(frames, count, STDERR_FILENO);
    // _exit, not exit: the process state is unknown, and atexit handlers could
    // wait on a lock the crashed thread holds.
    _exit(1);
}

void game_pre_init(game_context *g, int argc, char **argv)
{
    mrb_state *mrb = g->mrb;
    script_intern_symbols(mrb);
    SDL_memset(g->controller_key_states, 0, sizeof g->controller_key_states);

    char arguments[startup_argument_buffer_size];
    startup_join_arguments(arguments, argc, argv);
    g->argument_string = mrb_str_new_cstr(mrb, arguments);
    mrb_gc_register(mrb, g->argument_string);
    g->program_path = mrb_str_new_cstr(mrb, argc > 0 && argv[0] ? argv[0] : "");
    mrb_gc_register(mrb, g->program_path);
}

void game_init(game_context *g, int argc, char **argv, int logical_width, int logical_height, int landscape,
               int a11y_enabled)
{
    (void)argc;
    (void)argv;
    mrb_state *mrb = g->mrb;

    RClass *runtime_class = script_find_class(mrb, nullptr, "KorRuntime");
    if (!runtime_class) {
        fatal_startup_error("The script framework does not define KorRuntime");
    }
    RClass *kor = script_find_module(mrb, nullptr, "Kor");
    g->hash_class = mrb->hash_class;
    g->vec2_class = script_find_class(mrb, nullptr, "Vec2");
    g->mat2_class = script_find_class(mrb, nullptr, "Mat2");
    g->vec3_class = script_find_class(mrb, nullptr, "Vec3");
    g->mat3_class = script_find_class(mrb, nullptr, "Mat3");
    g->vec4_class = script_find_class(mrb, nullptr, "Vec4");
    g->mat4_class = script_find_class(mrb, nullptr, "Mat4");
    g->value_type_module = script_find_module(mrb, nullptr, "ValueType");
    g->struct_class = script_find_class(mrb, nullptr, "Struct");
    g->enumerable_module = script_find_module(mrb, nullptr, "Enumerable");
    g->array_class = mrb->array_class;
    g->open_entity_class = kor ? script_find_class(mrb, kor, "OpenEntity") : nullptr;
    g->strict_entity_class = kor ? script_find_class(mrb, kor, "StrictEntity") : nullptr;
    g->top_level_outputs_class = script_find_class(mrb, nullptr, "KorTopLevelOutputs");

    mrb_value orientation = mrb_symbol_value(landscape ? mrb_intern_lit(mrb, "landscape")
                                                       : mrb_intern_lit(mrb, "portrait"));
    const char *platform = SDL_GetHintBoolean("SteamDeck", SDL_FALSE) ? "Steam Deck" : SDL_GetPlatform();

    mrb_value args[11] = {
        mrb_str_new_cstr(mrb, platform),
        mrb_bool_value(cvar_game_metadata_deployment != 0),
        mrb_fixnum_value(cvar_game_metadata_vrmode),
        mrb_fixnum_value(logical_width),
        mrb_fixnum_value(logical_height),
        g->argument_string,
        g->program_path,
        mrb_float_value(mrb, -43.0),
        orientation,
        mrb_bool_value(cvar_game_metadata_remote_hotload != 0),
        mrb_bool_value(a11y_enabled != 0),
    };
    g->runtime = mrb_obj_new(mrb, runtime_class, 11, args);
    if (!mrb->exc) {
        mrb_gc_register(mrb, g->runtime);
        g->ffi_draw = mrb_funcall_argv(mrb, g->runtime, script_sym.ffi_draw, 0, nullptr);
        mrb_gc_register(mrb, g->ffi_draw);
    }
    if (mrb->exc) {
        mrb_value exception = mrb_obj_value(mrb->exc);
        mrb->exc = nullptr;
        mrb_value text = mrb_funcall_argv(mrb, exception, script_sym.inspect, 0, nullptr);
        if (mrb_string_p(text)) {
            fwrite(RSTRING_PTR(text), 1, static_cast<size_t>(RSTRING_LEN(text)), stdout);
        }
        fputc('\n', stdout);
        fflush(stdout);
        exit(-1);
    }
    g->deployment = cvar_game_metadata_deployment;
    cvar_set_register_callback(script_cvar_registered, mrb);
}

void engine_startup(int argc, char **argv)
{
    // 1. Flags the two loops meet through.
    current_threadstream = nullptr;
    SDL_AtomicSet(&atomic_draw_occurred, 0);
    SDL_AtomicSet(&atomic_is_first_simulation_iteration, 1);
    SDL_AtomicSet(&atomic_last_completed_global_tick_count, -1);

    if (SDL_Init(0) != 0) {
        fatal_startup_error("SDL_Init(0) failed: %s", SDL_GetError());
    }
    if (!log_init()) {
        fatal_startup_error("Failed to initialize logging: %s", SDL_GetError());
    }
    if (!register_renderer_cvars() || !register_metadata_cvars() ||
        !cvar_register_int("controller.config_ui",
                           "Use the controller config UI? 0==for unknown joysticks, 1==for all joysticks, "
                           "-1==for no joysticks",
                           &cvar_controller_config_ui, 0)) {
        fatal_startup_error("Failed to register engine cvars: %s", SDL_GetError());
    }

    startup_command_line command_line;
    if (!startup_scan_command_line(argc, argv, &command_line)) {
        fatal_startup_error("The game directory must be provided as the first argument to ./korvane if you want "
                            "to use switches.");
    }

    SDL_SetHint("SDL_IOS_ORIENTATIONS", "LandscapeLeft LandscapeRight");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        fatal_startup_error("SDL_Init(SDL_INIT_VIDEO) failed: %s", SDL_GetError());
    }
    if (!threadstream_init()) {
        fatal_startup_error("Thread initialization failed");
    }
    if (!janitor_init()) {
        fatal_startup_error("Couldn't initialize janitor: %s", SDL_GetError());
    }
    if (!searchpath_set_allocator()) {
        fatal_startup_error("PHYSFS_setAllocator failed: %s", physfs_error_text());
    }
    if (!searchpath_init(argc > 0 ? argv[0] : nullptr)) {
        fatal_startup_error("PHYSFS_init failed: %s", physfs_error_text());
    }

    // 10. The executable's own archive (a plain executable has none), then the
    // base directory; each mount goes in front, so later mounts are searched first.
    searchpath_mount_executable(argc > 0 ? argv[0] : nullptr);
    char *base = SDL_GetBasePath();
    if (!base) {
        fatal_startup_error("Couldn't find installation directory: %s", SDL_GetError());
    }
    if (!searchpath_mount(base)) {
        fatal_startup_error("Couldn't mount installation directory: %s", physfs_error_text());
    }

    // 11. A relative game directory is taken relative to the executable.
    if (!command_line.production && chdir(base) != 0) {
        log_warn("Engine", "Couldn't change the working directory to '%s'", base);
    }

    // 12. The game directory.
    char *mygame = nullptr;
    const char *mounted_game_dir = nullptr;
    if (command_line.game_dir) {
        mount_or_die(command_line.game_dir);
        mounted_game_dir = command_line.game_dir;
    } else if (!PHYSFS_exists("app") && PHYSFS_exists("mygame")) {
        mygame = join_base(base, "mygame");
        if (!mygame) {
            fatal_startup_error("Out of memory!");
        }
        mount_or_die(mygame);
        mounted_game_dir = mygame;
    }

    // 13-15. Metadata and the marker files.
    load_metadata("metadata/game_metadata.txt");
    bool production = command_line.production || marker_present("metadata/korvane_production_build");
    if (production) {
        metadata_force_on("game_metadata.deployment");
    }
    if (marker_present("metadata/korvane_remote_hotload")) {
        metadata_force_on("game_metadata.remote_hotload");
    }

    // 16.
    if (!production) {
        log_info("Engine", "Process Working Directory: %s", base);
    }
    log_info("Engine", "Game Dir: %s", mounted_game_dir ? mounted_game_dir : "(null)");
    log_info("Engine", "Game ID: %s", cvar_game_metadata_gameid);
    log_info("Engine", "Game Title: %s", cvar_game_metadata_gametitle);
    log_info("Engine", "Game Version: %s", cvar_game_metadata_version);
    log_info("Engine", "Game Package ID: %s", cvar_game_metadata_packageid);
    log_info("Engine", "Game Developer ID: %s", cvar_game_metadata_devid);
    log_info("Engine", "Game Developer Title: %s", cvar_game_metadata_devtitle);
    log_info("Engine", "Production Build: %s", cvar_game_metadata_deployment ? "yes" : "no");
    log_info("Engine", "Remote Hotload: %s", cvar_game_metadata_remote_hotload ? "yes" : "no");

    // 17-18. The game's cvars, then the write directory, then the player's cvars.
    // user_cvars.txt is read once the write directory is mounted: in a production
    // build that directory is the player's preference directory, and the file a
    // player saved there must shadow the game's, as every other file does. The
    // write directory depends only on locked metadata cvars, so no cvars file can
    // change it; in a development build it is the base directory, already mounted,
    // and the order changes nothing.
    load_cvars_from_file("metadata/cvars.txt");
    int write_dir_stage = 0;
    char *write_dir = nullptr;
    if (!searchpath_set_write_dir(cvar_game_metadata_deployment, cvar_game_metadata_devtitle,
                                  cvar_game_metadata_gametitle, base, &write_dir_stage, &write_dir)) {
        if (write_dir_stage == 1) {
            fatal_startup_error("Couldn't set write directory: %s", physfs_error_text());
        }
        fatal_startup_error("Couldn't mount write directory: %s", physfs_error_text());
    }
    load_cvars_from_file("user_cvars.txt");

    // 19.
    PHYSFS_mkdir("logs");
    if (!log_ready()) {
        fatal_startup_error("Logging startup failed: %s", SDL_GetError());
    }

    // 20.
    controllers_add_mappings_file("metadata/engine_controller_mappings.txt");
    controllers_add_mappings_file("metadata/game_controller_mappings.txt");
    controllers_add_mappings_file("user_controller_mappings.txt");
    SDL_SetHint("SDL_ACCELEROMETER_AS_JOYSTICK", "0");
    SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER);

    // 21. The interpreter and the game directory string.
    mrb_state *mrb = mrb_open();
    if (!mrb) {
        fatal_startup_error("Couldn't create the script interpreter");
    }
    game.mrb = mrb;
    if (cvar_game_metadata_deployment && write_dir) {
        game_directory = SDL_strdup(write_dir);
    } else if (command_line.game_dir) {
        game_directory = SDL_strdup(command_line.game_dir);
    } else {
        game_directory = join_base(base, "mygame");
    }
    SDL_free(write_dir);
    if (!game_directory) {
        fatal_startup_error("Out of memory!");
    }

    // 22-24.
    if (!load_framework(mrb)) {
        fatal_startup_error("Couldn't load the script framework");
    }
    game_pre_init(&game, argc, argv);
    threadstream_ruby_init(&game);

    // 25.
    int development = marker_present("metadata/korvane_production_build") ? 0 : 1;
    the_render_context = render_context_new(development, 0);
    if (!the_render_context) {
        fatal_startup_error("Couldn't create render context: %s", SDL_GetError());
    }

    // 27.
    if (!script_find_module(mrb, nullptr, "Kor")) {
        fatal_startup_error("The script framework does not define the module Kor");
    }

    // 28-29.
    events_init(&game, the_render_context);
    ffi_init(&game, the_render_context);
    draw_init(the_render_context, game_directory);
    ffi_draw_define(mrb);
    if (!script_define_runtime_methods(mrb)) {
        fatal_startup_error("The script framework does not define KorRuntime");
    }

    // 30. The start-up frame; scripts that draw during start-up write into it.
    threadstream *first = threadstream_allocate();
    current_threadstream = first;
    threadstream_pack_int(first, 0);
    threadstream_pack_int(first, frame_header_marker);

    // 31-33.
    game_init(&game, argc, argv, the_render_context->logical_width, the_render_context->logical_height,
              the_render_context->landscape, 0);
    script_eval(mrb, "def tick args; end;");
    fill_texture_atlas_table(mrb);

    // 34.
    if (first && first->error) {
        threadstream_free(first);
    } else {
        threadstreamqueue_putitem(the_render_context->frame_queue, first);
    }
    current_threadstream = nullptr;

    // 35.
    SDL_free(base);
    SDL_free(mygame);
    log_info("Engine", "Janitor is using %d threads.", janitor_thread_count());
}
