#pragma once

// Finding the repository a worktree command works on.

#include "core/error_chain.hpp"
#include "core/model.hpp"
#include "core/result.hpp"

#include <optional>
#include <vector>

namespace kelvo::cli {

// The top-level directory of the work tree containing repo (as typed), or
// the current directory when repo is absent. The current directory is read
// either way, so failing to read it ends the command.
Result<Path, ErrorChain> resolve_repo(const std::optional<Path>& repo);

// The process's current directory.
Result<Path, OsError> current_directory();

// The repository's project: the first whose main path equals root component
// by component (nothing resolved), or null.
const Project* find_repo_project(const std::vector<Project>& projects, const Path& root);

} // namespace kelvo::cli
