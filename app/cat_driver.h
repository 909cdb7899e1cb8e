// The pipeline lister: listings of MIDI files on standard output.
#pragma once

namespace smfasm {

// Runs smfcat with its command line and returns the exit status: 0 when
// every file listed completely, 1 when any did not, 2 for a usage error.
int run_cat(int argc, char** argv);

}  // namespace smfasm
