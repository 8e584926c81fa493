// `sheetmerge merge`: the whole merge without a display, for scripts, batch jobs and servers.
//   return cli::runMergeCommand(argc, argv);   // argv[1] == "merge"
#pragma once

namespace cli {

// Runs `sheetmerge merge [options] PATH...`; argv[0] is the program and argv[1] "merge".
// Returns the exit status: 0 every source merged; 1 the result was saved but some sources
// failed; 2 bad arguments, a refused option or a refused folder; 3 the run could not start
// or the result could not be saved. Results go to stdout, messages and progress to stderr.
int runMergeCommand(int argc, char** argv);

}  // namespace cli
