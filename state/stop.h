// How a conversion stops on bad input or an exhausted resource. The cores
// say why on the messages stream and then call stop_conversion, which never
// returns; what it does is the caller's: smfdis prints its prompt and exits
// (app/exit.h), the in-memory face unwinds back to its caller. So the cores
// need nothing from the programs above them.
#pragma once

namespace smfasm {

// Must not return.
using stop_handler = void (*)(int status);

// Installs `handler` and returns the one it replaces, so that a caller can
// put it back.
stop_handler set_stop_handler(stop_handler handler);
// The handler in force, or null.
stop_handler installed_stop_handler();

// Runs the installed handler; with none installed the process ends with
// `status`.
[[noreturn]] void stop_conversion(int status);

}  // namespace smfasm
