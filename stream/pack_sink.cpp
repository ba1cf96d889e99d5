// Keeps every record where the render thread expects it. A primitive code at the
// top level ends the processing of a frame, and a top-level record inside a pass is
// read as a run of primitive codes: either would blank or garble the frame. Records
// made in the wrong place wait in a side buffer and are copied to the right place
// by the tick's walk.
#include "stream/pack.h"

#include <SDL.h>

#include <cstring>

#include "log/log.h"
#include "stream/threadstream.h"

namespace {

struct PackSinkState {
    bool in_pass;
    threadstream *strays;    // primitives drawn outside a pass
    threadstream *deferred;  // top-level records made inside a pass
    bool told_strays;        // each explanation is logged once per run
    bool told_dropped;
    bool told_failed;
};
PackSinkState sink;

threadstream *side_buffer(threadstream **slot)
{
    if (!*slot) {
        *slot = threadstream_allocate();
    }
    return *slot;
}

void release(threadstream **slot)
{
    if (*slot) {
        threadstream_free(*slot);
        *slot = nullptr;
    }
}

// Appends the complete records of from to s. A side buffer whose writes failed may
// end inside a record: it is dropped whole.
void append_records(threadstream *s, threadstream **from, const char *what)
{
    threadstream *side = *from;
    if (!side || side->size == 0) {
        return;
    }
    if (side->error) {
        if (!sink.told_failed) {
            sink.told_failed = true;
            log_error("Engine", "Out of memory while keeping %s for the frame; they were dropped.", what);
        }
    } else if (threadstream_claim_space(s, side->size)) {
        std::memcpy(s->data + s->size, side->data, side->size);
        s->size += side->size;
    }
    release(from);
}

} // namespace

threadstream *pack_primitive_stream()
{
    if (!current_threadstream) {
        return nullptr;
    }
    if (sink.in_pass) {
        return current_threadstream;
    }
    if (!sink.told_strays) {
        sink.told_strays = true;
        log_info("Engine",
                 "A primitive was drawn through FFI::Draw outside a render pass (during tick rather than from "
                 "draw_override); such primitives are drawn at the start of the screen pass.");
    }
    return side_buffer(&sink.strays);
}

threadstream *pack_toplevel_stream()
{
    if (!current_threadstream) {
        return nullptr;
    }
    return sink.in_pass ? side_buffer(&sink.deferred) : current_threadstream;
}

void pack_pass_begin()
{
    sink.in_pass = true;
}

void pack_pass_end()
{
    sink.in_pass = false;
}

int pack_in_pass()
{
    return sink.in_pass ? 1 : 0;
}

int pack_flush_stray_primitives(threadstream *s)
{
    if (!sink.strays || sink.strays->size == 0) {
        return 0;
    }
    append_records(s, &sink.strays, "primitives drawn outside a render pass");
    return 1;
}

void pack_frame_end(threadstream *s)
{
    sink.in_pass = false;
    if (sink.strays && sink.strays->size > 0 && !sink.told_dropped) {
        sink.told_dropped = true;
        log_warn("Engine", "Primitives drawn through FFI::Draw outside a render pass were dropped: the frame has no "
                           "screen pass to draw them in.");
    }
    release(&sink.strays);
    append_records(s, &sink.deferred, "window and resource commands made while drawing");
}

void pack_sink_reset()
{
    release(&sink.strays);
    release(&sink.deferred);
    sink = PackSinkState{};
}
