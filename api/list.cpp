// The lister's half of the face: options into the conversion state, the
// exit path turned into a returned status, memory streams for callers that
// hold the file in memory.
#include <cerrno>
#include <cstring>

#include "api/convert.h"
#include "api/memory_stream.h"
#include "reader/reader.h"
#include "state/state.h"
#include "state/stop.h"
#include "state/tables.h"
#include "writer/output.h"

namespace smfasm {

namespace {

struct listing_stopped {
    int status;
};

[[noreturn]] void unwind(int status) { throw listing_stopped{status}; }

// Puts back the caller's exit handler and whatever streams the state held
// before (the driver keeps its own there), however the listing ends.
class borrowed_run {
public:
    borrowed_run()
        : previous_(set_stop_handler(unwind)),
          input_(state.input),
          output_(state.output),
          messages_(state.messages),
          input_name_(state.input_name) {}
    ~borrowed_run() {
        set_stop_handler(previous_);
        state.input = input_;
        state.output = output_;
        state.messages = messages_;
        state.input_name = input_name_;
    }
    borrowed_run(const borrowed_run&) = delete;
    borrowed_run& operator=(const borrowed_run&) = delete;

private:
    stop_handler previous_;
    std::FILE* input_;
    std::FILE* output_;
    std::FILE* messages_;
    const char* input_name_;
};

}  // namespace

stream_listing list_stream(std::FILE* input, const char* input_name, std::FILE* output, std::FILE* messages,
                           const lister_options& options) {
    const borrowed_run run;
    reset_state();
    output_reset();
    state.fold_width = options.fold_width;
    state.note_names = options.note_names;
    state.measure_mode = options.measure_mode;
    state.merge_sysex = options.merge_sysex;
    state.channel_formats = options.long_formats ? &long_channel_formats : &short_channel_formats;
    state.score_form = options.score ? 1 : 0;
    state.input = input;
    state.output = output;
    state.messages = messages;
    state.input_name = input_name;

    stream_listing result;
    try {
        convert_file();
    } catch (const listing_stopped& stop) {
        result.status = stop.status;
    }
    // A full disk must not pass for success: flush before the test.
    if (!output_finish()) result.write_error = output_write_error() != 0 ? output_write_error() : EIO;
    result.tracks_found = state.tracks_started;
    result.tracks_announced = wrap_add(state.tracks_started, state.tracks_remaining);
    result.partial_tag_length = state.partial_tag_length;
    if (state.first_bytes_length > 0 || state.input_empty) {
        result.not_midi = describe_not_midi(state.first_bytes, static_cast<std::size_t>(state.first_bytes_length));
    }
    result.inexact = state.inexact_meta;
    result.inexact_bend = state.inexact_bend;
    return result;
}

listing_result list_bytes(const unsigned char* data, std::size_t size, const lister_options& options) {
    listing_result result;
    // An empty file lists as nothing; fmemopen refuses an empty buffer.
    if (size == 0) {
        result.not_midi = describe_not_midi(data, 0);
        return result;
    }
    memory_stream text;
    memory_stream messages;
    // Only read through, never written: the cast is for fmemopen's signature.
    std::FILE* input = fmemopen(const_cast<unsigned char*>(data), size, "rb");
    if (input == nullptr || text.stream() == nullptr || messages.stream() == nullptr) {
        if (input != nullptr) std::fclose(input);
        result.messages = "***Error: no memory for the listing\n";
        result.status = 1;
        return result;
    }
    const stream_listing listed = list_stream(input, "input", text.stream(), messages.stream(), options);
    std::fclose(input);
    result.status = listed.status;
    if (listed.write_error != 0) {
        std::fprintf(messages.stream(), "***Error while writing the listing\n%s\n", std::strerror(listed.write_error));
        result.status = 1;
    }
    result.text = text.take();
    result.messages = messages.take();
    result.not_midi = listed.not_midi;
    return result;
}

}  // namespace smfasm
