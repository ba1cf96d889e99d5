// FFI::MRB: interpreter services for the framework and the developer console —
// running code at top level and checking code for syntax errors without running it.
#include "bindings/ffi.h"

#include <SDL.h>
#include <mruby/compile.h>
#include <mruby/proc.h>
#include <mruby/string.h>

namespace {

// Parse reports: one line per error, each at most 255 bytes, the whole text at
// most 3000 bytes.
constexpr size_t parse_line_size = 256;
constexpr size_t parse_text_size = 3001;

// Compiles first and runs last: an exception raised by the code leaves through
// this frame, so the compiler's records are freed before it runs.
mrb_value mrb_eval_code(mrb_state *mrb, mrb_value)
{
    mrb_value code;
    mrb_get_args(mrb, "S", &code);
    mrbc_context *context = mrbc_context_new(mrb);
    mrbc_filename(mrb, context, "(eval)");
    context->capture_errors = TRUE;
    mrb_parser_state *parser = mrb_parse_nstring(mrb, RSTRING_PTR(code), RSTRING_LEN(code), context);
    if (!parser) {
        mrbc_context_free(mrb, context);
        mrb_raise(mrb, E_RUNTIME_ERROR, "Out of memory while parsing");
    }
    if (parser->nerr > 0) {
        char message[parse_line_size];
        SDL_snprintf(message, sizeof message, "line %d: %s", static_cast<int>(parser->error_buffer[0].lineno),
                     parser->error_buffer[0].message ? parser->error_buffer[0].message : "");
        mrb_parser_free(parser);
        mrbc_context_free(mrb, context);
        mrb_raise(mrb, mrb_exc_get(mrb, "SyntaxError"), message);
    }
    RProc *proc = mrb_generate_code(mrb, parser);
    mrb_parser_free(parser);
    mrbc_context_free(mrb, context);
    if (!proc) {
        mrb_raise(mrb, mrb_exc_get(mrb, "ScriptError"), "codegen error");
    }
    // Top level: self is main and definitions go to Object.
    MRB_PROC_SET_TARGET_CLASS(proc, mrb->object_class);
    mrb_top_run(mrb, proc, mrb_top_self(mrb), 0);
    if (mrb->exc) {
        mrb_value exception = mrb_obj_value(mrb->exc);
        mrb->exc = nullptr;
        mrb_exc_raise(mrb, exception);
    }
    return mrb_nil_value();
}

// Appends "line L:C: message\n", cut to the line limit but always ending in a line
// feed; a line that no longer fits the report is left out.
void append_error_line(char *report, const mrb_parser_message &error)
{
    char line[parse_line_size];
    const int length = SDL_snprintf(line, sizeof line, "line %d:%d: %s\n", static_cast<int>(error.lineno),
                                    error.column, error.message ? error.message : "");
    if (length < 0) {
        return;
    }
    if (static_cast<size_t>(length) >= sizeof line) {
        line[sizeof line - 2] = '\n';
    }
    if (SDL_strlen(report) + SDL_strlen(line) < parse_text_size) {
        SDL_strlcat(report, line, parse_text_size);
    }
}

mrb_value mrb_parse_code(mrb_state *mrb, mrb_value)
{
    mrb_value code;
    mrb_get_args(mrb, "S", &code);
    mrbc_context *context = mrbc_context_new(mrb);
    context->capture_errors = TRUE;
    context->no_exec = TRUE;
    mrb_parser_state *parser = mrb_parse_nstring(mrb, RSTRING_PTR(code), RSTRING_LEN(code), context);
    if (!parser) {
        mrbc_context_free(mrb, context);
        mrb_raise(mrb, E_RUNTIME_ERROR, "Out of memory while parsing");
    }
    char report[parse_text_size];
    report[0] = '\0';
    // The parser keeps the first errors it met; nerr counts them all.
    const size_t kept = sizeof parser->error_buffer / sizeof parser->error_buffer[0];
    const size_t count = parser->nerr < kept ? parser->nerr : kept;
    for (size_t i = 0; i < count; i++) {
        append_error_line(report, parser->error_buffer[i]);
    }
    const bool ok = parser->nerr == 0;
    mrb_parser_free(parser);
    mrbc_context_free(mrb, context);
    return ok ? mrb_str_new_lit(mrb, "Syntax OK") : mrb_str_new_cstr(mrb, report);
}

constexpr ffi_method mrb_methods[] = {
    {"eval", mrb_eval_code, MRB_ARGS_REQ(1)},
    {"parse", mrb_parse_code, MRB_ARGS_REQ(1)},
};

} // namespace

RClass *ffi_define_mrb(mrb_state *mrb, RClass *ffi)
{
    RClass *klass = mrb_define_class_under(mrb, ffi, "MRB", mrb->object_class);
    ffi_define_methods(mrb, klass, mrb_methods);
    return klass;
}
