#pragma once

// Starting Pi in a workspace, shared by `pi` and `wt new --pi`.

#include "agent/launch.hpp"
#include "cli/handlers.hpp"

namespace kelvo::cli {

// Prints the "program", "cwd" and (sorted) "env" lines of Pi's LaunchSpec
// under the default preferences; then, unless dry_run, runs Pi in the
// foreground with the terminal inherited and waits for it. Fails with
// "spawn pi" (the OS error as cause) or "pi exited with {status}".
Outcome run_pi(const agent::LaunchWorkspace& workspace, bool dry_run);

} // namespace kelvo::cli
