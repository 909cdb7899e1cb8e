#include "tests/support/in_process.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "state/state.h"
#include "state/stop.h"
#include "writer/output.h"

namespace smfasm::test {

namespace {
[[noreturn]] void unwind(int status) { throw run_stopped{status}; }
}  // namespace

in_process_run::in_process_run() {
    reset_state();
    output_reset();
    set_stop_handler(unwind);
    memstream_ = open_memstream(&data_, &size_);
    state.output = memstream_;
}

in_process_run::~in_process_run() {
    output_reset();
    if (state.output != nullptr && state.output != memstream_) std::fclose(state.output);
    std::fclose(memstream_);
    std::free(data_);
    state.output = nullptr;
    if (state.input != nullptr) std::fclose(state.input);
    state.input = nullptr;
    set_stop_handler(nullptr);
}

std::string in_process_run::listing() {
    if (state.output == memstream_) output_flush();
    std::fflush(memstream_);
    return std::string(data_, size_);
}

conversion_result capture(const std::function<void()>& body) {
    in_process_run run;
    conversion_result result;
    testing::internal::CaptureStderr();
    try {
        body();
    } catch (const run_stopped& stop) {
        result.stopped = true;
        result.status = stop.status;
    }
    result.messages = testing::internal::GetCapturedStderr();
    result.listing = run.listing();
    return result;
}

conversion_result convert_bytes(const bytes& input, const lister_options& options) {
    const listing_result listed = list_bytes(input.data(), input.size(), options);
    return {listed.text, listed.messages, listed.status, listed.status != 0};
}

}  // namespace smfasm::test
