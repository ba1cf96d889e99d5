// Input the engine must survive: unknown event types, floods, event streams cut
// short, fields without their terminator, controller-mapping files with
// malformed lines.
#include <cstring>
#include <string>

#include "input_fixture.h"
#include "stream/records.h"

using namespace input_test;

namespace {

class BadInputTest : public InputTest {};

TEST_F(BadInputTest, UnknownAndUserEventsOnlyMakeUnknownHashes)
{
    Uint32 registered = SDL_RegisterEvents(1);
    probe("args.events[:raw].select { |e| e[:type] == :unknown }.map { |e| e[:type_enum] }");
    for (Uint32 type : {static_cast<Uint32>(SDL_USEREVENT), registered, 0x7ABCu, static_cast<Uint32>(SDL_LASTEVENT - 1),
                        static_cast<Uint32>(SDL_SENSORUPDATE)}) {
        SDL_Event event{};
        event.type = type;
        std::memset(&event.user.code, 0xFF, sizeof event - offsetof(SDL_UserEvent, code));
        push(event);
    }
    EXPECT_EQ(tick(), "[32768, " + std::to_string(registered) + ", 31420, 65534, 4608]");
}

TEST_F(BadInputTest, AFloodOfEventsInOneTickIsDeliveredInOrder)
{
    constexpr int count = 5000;
    SDL_Event event{};
    event.type = SDL_TEXTINPUT;
    for (int i = 0; i < count; i++) {
        SDL_snprintf(event.text.text, sizeof event.text.text, "t%d", i);
        push(event);
        if (i % 2 == 0) {
            mouse_motion(i % 1280, 0);
        }
    }
    probe("t = args.inputs.text; [t.length, t == (0...5000).map { |i| \"t#{i}\" }, args.inputs.mouse.x, "
          "args.events[:raw].length >= 7500]");
    EXPECT_EQ(tick(), "[5000, true, " + std::to_string((count - 2) % 1280) + ", true]");
}

TEST_F(BadInputTest, FieldsWithoutTerminatorAreCutAtTheirSize)
{
    SDL_Event event{};
    event.type = SDL_TEXTINPUT;
    std::memset(event.text.text, 'x', sizeof event.text.text);
    push(event);
    event = SDL_Event{};
    event.type = SDL_TEXTEDITING;
    std::memset(event.edit.text, 'y', sizeof event.edit.text);
    event.edit.start = -5;
    event.edit.length = 1000;
    push(event);
    probe("[args.inputs.text.map(&:length), args.events[:raw].select { |e| e[:type] == :text_editing }"
          ".map { |e| [e[:text].length, e[:start], e[:length]] }]");
    EXPECT_EQ(tick(), "[[32], [[32, -5, 1000]]]");
}

// Event streams as the render thread queues them, but cut or padded.
threadstream *event_stream(uint64_t count, int records, size_t extra_bytes = 0)
{
    threadstream *stream = threadstream_allocate();
    threadstream_pack_size_t(stream, count);
    SDL_Event event{};
    event.type = SDL_TEXTINPUT;
    for (int i = 0; i < records; i++) {
        SDL_snprintf(event.text.text, sizeof event.text.text, "r%d", i);
        threadstream_claim_space(stream, sizeof event);
        std::memcpy(stream->data + stream->size, &event, sizeof event);
        stream->size += sizeof event;
    }
    threadstream_claim_space(stream, extra_bytes);
    std::memset(stream->data + stream->size, 0xAB, extra_bytes);
    stream->size += extra_bytes;
    return stream;
}

TEST_F(BadInputTest, EventStreamsCutShortDeliverTheirWholeRecords)
{
    render_context *ctx = Engine::get().ctx();
    struct Case {
        uint64_t count;
        int records;
        size_t extra;
        uint64_t delivered;
    };
    const Case cases[] = {
        {3, 3, 0, 3},
        {5, 2, 0, 2},                     // count larger than the records
        {3, 2, 30, 2},                    // half a record at the end
        {UINT64_MAX, 1, 0, 1},            // absurd count
        {1, 2, 0, 1},                     // more records than counted
        {0, 0, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.count);
        threadstreamqueue_putitem(ctx->event_queue, event_stream(c.count, c.records, c.extra));
        EXPECT_EQ(events_deliver_queue(ctx, &game), c.delivered);
    }
    // Shorter than its count field: nothing.
    threadstream *tiny = threadstream_allocate();
    threadstream_pack_int(tiny, 1);
    threadstreamqueue_putitem(ctx->event_queue, tiny);
    EXPECT_EQ(events_deliver_queue(ctx, &game), 0u);
    EXPECT_EQ(threadstreamqueue_getcount(ctx->event_queue), 0);
    probe("args.inputs.text.length");
    EXPECT_EQ(tick(), "9");  // delivered between ticks: the next tick sees them
}

// Records a stream does not deliver still own their drop texts: they are freed
// with the stream, and the delivered ones exactly once.
TEST_F(BadInputTest, UndeliveredDropTextsAreFreed)
{
    render_context *ctx = Engine::get().ctx();
    struct Case {
        const char *name;
        uint64_t count;
        int records;
        bool error;
        size_t extra;
        uint64_t delivered;
    };
    const Case cases[] = {
        {"arrived with its error flag", 2, 2, true, 0, 0},
        {"count of zero", 0, 3, false, 0, 0},
        {"more records than counted", 1, 3, false, 0, 1},
        {"half a record at the end", 3, 2, false, 30, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        threadstream *stream = threadstream_allocate();
        ASSERT_NE(stream, nullptr);
        threadstream_pack_size_t(stream, c.count);
        ASSERT_TRUE(threadstream_claim_space(stream, c.records * sizeof(SDL_Event) + c.extra));
        // The stream's memory is counted already and goes back to the pool.
        const int baseline = SDL_GetNumAllocations();
        for (int i = 0; i < c.records; i++) {
            SDL_Event event{};
            event.type = i % 2 ? SDL_DROPTEXT : SDL_DROPFILE;
            event.drop.file = SDL_strdup(("/tmp/drop " + std::to_string(i)).c_str());
            std::memcpy(stream->data + stream->size, &event, sizeof event);
            stream->size += sizeof event;
        }
        std::memset(stream->data + stream->size, 0xAB, c.extra);
        stream->size += c.extra;
        stream->error = c.error ? 1 : 0;
        threadstreamqueue_putitem(ctx->event_queue, stream);
        EXPECT_EQ(events_deliver_queue(ctx, &game), c.delivered);
        EXPECT_EQ(SDL_GetNumAllocations(), baseline);
    }
}

TEST_F(BadInputTest, ControllerMappingFilesWithMalformedLines)
{
    const kvn_test::TempDir &dir = Engine::get().game_dir();
    std::string long_line(20000, 'z');
    std::string binary("\x01\x02\xff\xfe,\x00,,", 8);
    dir.write("metadata/bad_controller_mappings.txt",
              "# comment line\n"
              "\n"
              "   \t  \n"
              "030000000912000001aa000000000000,Good Linux Pad,a:b0,b:b1,platform:Linux,\r\n"
              "030000000912000001bb000000000000,No Platform Pad,a:b0,b:b1\n"
              "030000000912000001cc000000000000,Windows Pad,a:b0,platform:Windows,\n"
              "hello\n"
              ",,,,\n"
              "030000000912000001dd000000000000\n"
              "030000000912000001ee000000000000,Broken Binding,a:q9,b:\n"
              "zz0000000912000001ff000000000000,Bad Guid,a:b0,platform:Linux,\n"
              "platform:Linux\n" +
                  long_line + "\n" + binary + "\n" +
              "030000000912000001ab000000000000,Last Line Without Newline,a:b0,platform:linux");
    int added = controllers_add_mappings_file("metadata/bad_controller_mappings.txt");

    auto mapping_name = [](const char *guid) -> std::string {
        char *mapping = SDL_GameControllerMappingForGUID(SDL_JoystickGetGUIDFromString(guid));
        std::string text = mapping ? mapping : "";
        SDL_free(mapping);
        return text;
    };
    EXPECT_NE(mapping_name("030000000912000001aa000000000000").find("Good Linux Pad"), std::string::npos);
    EXPECT_NE(mapping_name("030000000912000001bb000000000000").find("No Platform Pad"), std::string::npos);
    EXPECT_EQ(mapping_name("030000000912000001cc000000000000"), "");  // another platform
    EXPECT_NE(mapping_name("030000000912000001ab000000000000").find("Last Line Without Newline"), std::string::npos);
    // Whatever SDL makes of the malformed lines, the good ones are all in and the
    // count says so; a missing file is -1.
    EXPECT_GE(added, 3);
    EXPECT_EQ(controllers_add_mappings_file("metadata/no_such_mappings.txt"), -1);
    tick();  // hands the log lines over
    EXPECT_TRUE(logged(log(), "bad_controller_mappings.txt:7: controller mapping ignored"));
}

} // namespace
