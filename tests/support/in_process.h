// Runs the conversion core in-process: a fatal path unwinds back here
// instead of ending the test process.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "api/convert.h"
#include "tests/support/midi_bytes.h"

namespace smfasm::test {

struct conversion_result {
    std::string listing;
    std::string messages;  // what went to standard error
    int status = 0;        // the status the run ended with; 0 when it completed
    bool stopped = false;  // true when it ended through pause_and_exit
};

// Thrown by the installed stop handler.
struct run_stopped {
    int status;
};

// Resets the state, installs the unwinding stop handler and routes the
// listing to an in-memory stream. A test may put a stream of its own into
// state.output instead; whatever stream is left there is closed at the end.
class in_process_run {
public:
    in_process_run();
    ~in_process_run();
    in_process_run(const in_process_run&) = delete;
    in_process_run& operator=(const in_process_run&) = delete;

    // The listing written so far (flushes the output layer).
    std::string listing();

private:
    std::FILE* memstream_ = nullptr;
    char* data_ = nullptr;
    std::size_t size_ = 0;
};

// Converts `input` in memory through the face, as every in-memory caller does.
conversion_result convert_bytes(const bytes& input, const lister_options& options = {});

// Runs `body` (writer operations, say) on a fresh state and returns what it
// wrote; the body may also stop the run.
conversion_result capture(const std::function<void()>& body);

}  // namespace smfasm::test
