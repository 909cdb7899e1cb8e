// The single way out of the program.
#pragma once

namespace smfasm {

// Writes out what the listing still holds, prints the prompt, waits for one
// character (or the end) of standard input and ends the process.
[[noreturn]] void pause_and_exit(int status);

// In-process callers (tests, fuzzer, benchmark) install a handler that
// unwinds instead of ending the process; it must not return. It runs after
// the listing has been written out and replaces the prompt and the exit.
// Returns the handler it replaces, so that a caller can put it back.
using exit_handler = void (*)(int status);
exit_handler set_exit_handler(exit_handler handler);

}  // namespace smfasm
