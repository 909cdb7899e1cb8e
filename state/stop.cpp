#include "state/stop.h"

#include <cstdlib>

namespace smfasm {

namespace {
stop_handler installed = nullptr;
}

stop_handler set_stop_handler(stop_handler handler) {
    const stop_handler previous = installed;
    installed = handler;
    return previous;
}

stop_handler installed_stop_handler() { return installed; }

void stop_conversion(int status) {
    if (installed != nullptr) installed(status);
    std::exit(status);
}

}  // namespace smfasm
