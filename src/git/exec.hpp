#pragma once

// The one place that starts git: the executable named "git" found through
// PATH, the arguments as separate items (no shell), standard input from the
// null device and the environment inherited unchanged.

#include "core/model.hpp"
#include "core/result.hpp"
#include "git/error.hpp"

#include <string>
#include <vector>

namespace kelvo::git {

// Runs git in dir and returns its standard output exactly as read.
Result<std::string, GitError> git_bytes(const Path& dir, const std::vector<std::string>& args);

// git_bytes() decoded as UTF-8, each invalid sequence replaced by U+FFFD;
// not trimmed.
Result<std::string, GitError> git(const Path& dir, const std::vector<std::string>& args);

// git() for commands whose output nobody reads.
Result<void, GitError> git_ok(const Path& dir, const std::vector<std::string>& args);

} // namespace kelvo::git
