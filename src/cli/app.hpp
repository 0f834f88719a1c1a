#pragma once

namespace kelvo::cli {

// Runs one command from the process arguments and returns the exit status:
// 0 success or help, 1 the command failed (report on standard error), 2 the
// command line was rejected.
int run(int argc, char** argv);

} // namespace kelvo::cli
