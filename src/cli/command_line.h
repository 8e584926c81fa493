// The headless command line: `sheetmerge inspect`, `sheetmerge cat`, `sheetmerge merge`.
//   return cli::runCommandLine(argc, argv);
#pragma once

namespace cli {

// Runs the subcommand named by argv[1]; returns the process exit status. Writes results to
// stdout and messages to stderr. argc must be at least 2.
int runCommandLine(int argc, char** argv);

}  // namespace cli
