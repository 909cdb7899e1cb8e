// The single way out of the program.
#pragma once

namespace smfasm {

// Writes out what the listing still holds, prints the prompt, waits for one
// character (or the end) of standard input and ends the process. An
// in-process caller (tests, fuzzer, benchmark) that has installed a stop
// handler (state/stop.h) unwinds through it instead, after the listing has
// been written out: one mechanism for the cores' stops and the driver's.
[[noreturn]] void pause_and_exit(int status);

}  // namespace smfasm
