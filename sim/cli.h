// tstat-sim's command line.
#pragma once

namespace sim {

// tstat-sim's command line: run, coproc, fixture, gallery, key, help.
// Returns the exit status: 2 for a command line that cannot be carried out.
int simCommandLine(int argc, char **argv);

} // namespace sim
