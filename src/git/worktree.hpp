#pragma once

// Where a repository and its worktrees are, and adding and removing
// worktrees, all through git.

#include "core/model.hpp"
#include "core/result.hpp"
#include "git/error.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace kelvo::git {

// Whether list_worktrees runs a status listing per worktree to fill `dirty`.
// Skip costs one git process in total instead of one per worktree.
enum class Dirty { Check, Skip };

// The top-level directory of the work tree containing dir.
Result<Path, GitError> repo_root(const Path& dir);

// Whether dir lies inside a work tree; any failure answers false.
bool is_inside_work_tree(const Path& dir);

// The main worktree of the repository containing dir: the parent of the
// common ".git" directory, or else the worktree listed as dir's own.
Result<Path, GitError> main_worktree_path(const Path& dir);

// The worktrees in git's order (main first), is_main following dir. With
// Dirty::Check, each non-bare worktree whose status lists anything is dirty;
// a failing status run leaves it clean.
Result<std::vector<WorktreeView>, GitError> list_worktrees(const Path& dir,
                                                           Dirty dirty = Dirty::Check);

// Parses "worktree list --porcelain" output. An entry is main when it
// denotes reference_dir (canonically when that exists, else as written, the
// first entry always); dirty is never set. Unknown lines are ignored.
std::vector<WorktreeView> parse_porcelain(std::string_view text, const Path& reference_dir);

// parse_porcelain() for "worktree list --porcelain -z", whose lines end in
// NUL, so that paths may hold newlines.
std::vector<WorktreeView> parse_porcelain_z(std::string_view text, const Path& reference_dir);

// Adds a worktree at target: on a new branch starting at base, or (without
// new_branch) checking out branch. Fails before git runs when target exists
// or a name begins with "-"; creates target's missing parent directories.
Result<void, GitError> create_worktree(const Path& repo, const std::string& branch,
                                       const Path& target, const std::string& base,
                                       bool new_branch);

// Removes the worktree at path (relative paths are taken from repo).
Result<void, GitError> remove_worktree(const Path& repo, const Path& path, bool force);

} // namespace kelvo::git
