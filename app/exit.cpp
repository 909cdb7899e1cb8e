#include "app/exit.h"

#include <cstdio>
#include <cstdlib>

#include "writer/output.h"

namespace smfasm {

namespace {
exit_handler installed_handler = nullptr;
}

exit_handler set_exit_handler(exit_handler handler) {
    const exit_handler previous = installed_handler;
    installed_handler = handler;
    return previous;
}

void pause_and_exit(int status) {
    // The listing's own buffer is not a stdio buffer: hand it to the stream
    // so that exit() writes out a partial listing as far as it got.
    output_flush();
    if (installed_handler != nullptr) installed_handler(status);
    std::fputs("Press <Enter> key to continue . . . ", stderr);
    std::fgetc(stdin);
    std::exit(status);
}

}  // namespace smfasm
