#pragma once

// A work tree's status as a sorted list of changed files.

#include "core/model.hpp"
#include "core/result.hpp"
#include "git/error.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvo::git {

enum class ChangeKind {
    Added,
    Modified,
    Deleted,
    Renamed,
    Copied,
    TypeChanged,
    Conflicted,
    Untracked
};

// One entry of the status listing.
struct ChangedFile {
    std::string path;                     // as git printed it, relative to the work tree
    std::optional<std::string> orig_path; // the source of a rename or copy
    char32_t index_status = U' ';
    char32_t worktree_status = U' ';
    ChangeKind kind = ChangeKind::Modified;

    friend bool operator==(const ChangedFile&, const ChangedFile&) = default;
};

// Parses the NUL-separated short status format (two status letters, a space,
// a path; the source of a rename or copy as the next field). Sorted by path
// component by component, stable; never fails, malformed pieces are skipped.
std::vector<ChangedFile> parse_porcelain_status(std::string_view text);

// The changed and untracked files of the work tree at dir, one entry per
// untracked file.
Result<std::vector<ChangedFile>, GitError> changed_files(const Path& dir);

} // namespace kelvo::git
