#include "app/exit.h"

#include <cstdio>
#include <cstdlib>

#include "state/stop.h"
#include "writer/output.h"

namespace smfasm {

void pause_and_exit(int status) {
    // The listing's own buffer is not a stdio buffer: hand it to the stream
    // so that exit() writes out a partial listing as far as it got.
    output_flush();
    if (const stop_handler handler = installed_stop_handler(); handler != nullptr) handler(status);
    std::fputs("Press <Enter> key to continue . . . ", stderr);
    std::fgetc(stdin);
    std::exit(status);
}

}  // namespace smfasm
