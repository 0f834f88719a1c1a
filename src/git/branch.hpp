#pragma once

// Branches of a repository and the base new worktrees start from.

#include "core/model.hpp"
#include "core/result.hpp"
#include "git/error.hpp"

#include <optional>
#include <string>
#include <vector>

namespace kelvo::git {

// origin's HEAD as "origin/{branch}", else a local "main", else "master";
// absent when none exists. Never fails: every git error answers absent.
std::optional<std::string> resolve_default_base(const Path& dir);

// Local and remote-tracking branch names in short form, sorted by bytes,
// without duplicates and without origin/HEAD and upstream/HEAD.
Result<std::vector<std::string>, GitError> list_branches(const Path& dir);

// The branch checked out in dir; absent on a detached HEAD or any error.
std::optional<std::string> current_branch(const Path& dir);

} // namespace kelvo::git
