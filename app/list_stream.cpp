#include "app/list_stream.h"

#include <cerrno>

#include "app/exit.h"
#include "reader/reader.h"
#include "state/state.h"
#include "writer/output.h"

namespace smfasm {

namespace {

// The core ends a run through pause_and_exit; here that unwinds back to
// list_stream instead of prompting and ending the process.
struct run_stopped {
    int status;
};

[[noreturn]] void unwind(int status) { throw run_stopped{status}; }

}  // namespace

stream_listing list_stream(std::FILE* input, const char* input_name, std::FILE* output, std::FILE* messages,
                           const lister_options& options) {
    reset_state();
    output_reset();
    use_lister_options(options);
    state.input = input;
    state.input_name = input_name;
    state.output = output;
    state.messages = messages;

    stream_listing result;
    set_exit_handler(unwind);
    try {
        convert_file();
    } catch (const run_stopped& stop) {
        result.status = stop.status;
    }
    set_exit_handler(nullptr);
    if (!output_finish()) result.write_error = output_write_error() != 0 ? output_write_error() : EIO;

    result.tracks_found = state.tracks_started;
    result.tracks_announced = wrap_add(state.tracks_started, state.tracks_remaining);
    result.partial_tag_length = state.partial_tag_length;
    state.input = nullptr;
    state.output = nullptr;
    state.messages = stderr;
    return result;
}

}  // namespace smfasm
