// The assembler program: flags, names, and a finished file or none at all.
#pragma once

namespace smfasm {

// Runs smfasm with its command line and returns the exit status: 0 after
// a complete file, 1 for a bad listing or a file error, 2 for a usage error.
int run_assembler(int argc, char** argv);

}  // namespace smfasm
