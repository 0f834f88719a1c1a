#pragma once

// Where the directory of a new worktree goes.

#include "core/model.hpp"

#include <string_view>

namespace kelvo::git {

// repo_dir, the template (every "{repo}" replaced by the repository's
// directory name; relative to repo_dir unless absolute; without "{repo}" the
// name is appended) and a leaf made from branch ("/", ":" and "\" become
// "-"), joined and normalised lexically (no ".", "..", or doubled "/").
// Pure: nothing on disk is consulted.
Path worktree_path(const Path& repo_dir, std::string_view tmpl, std::string_view branch);

} // namespace kelvo::git
