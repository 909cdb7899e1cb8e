#include "state/state.h"

namespace smfasm {

conversion_state state;

void reset_state() {
    const message_buffer_t kept = state.message_buffer;
    state = conversion_state{};
    state.message_buffer = kept;
    state.message_buffer.length = 0;
}

}  // namespace smfasm
