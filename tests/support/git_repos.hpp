#pragma once

// Repositories of particular shapes for tests that drive real git, and a
// stand-in git executable that records how it was called. All builders use
// the hermetic configuration of fixtures.hpp and return canonical paths.

#include "support/scoped_env.hpp"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace kelvo::test {

using Path = std::filesystem::path;

// A repository at dir on branch "main" without any commit.
Path make_empty_repo(const Path& dir);

// A linked worktree of repo at path, on a new branch from HEAD.
Path add_worktree(const Path& repo, const Path& path, const std::string& branch);

// A linked worktree of repo at path with a detached HEAD.
Path add_detached_worktree(const Path& repo, const Path& path);

// A bare repository at dir holding the history of source.
Path make_bare_clone(const Path& source, const Path& dir);

struct ClonedRepo {
    Path origin; // bare, its HEAD on default_branch
    Path clone;  // cloned from origin, so refs/remotes/origin/HEAD exists
};

// Under dir: a bare "origin.git" whose branches are main and default_branch
// (its HEAD), and a clone of it named "clone".
ClonedRepo make_cloned_repo(const Path& dir, const std::string& default_branch = "main");

// Where the real git lives, looked up through PATH.
Path real_git();

// An executable named "git" first on PATH for the object's lifetime. Each
// call's arguments are recorded, then the shell script body runs (it sees
// the arguments as "$@"). With no body it succeeds silently.
class FakeGit {
public:
    explicit FakeGit(const Path& dir, const std::string& body = "");

    // The body that hands every call on to the real git.
    static std::string delegating();

    // The argument lists of the calls so far, in order.
    std::vector<std::vector<std::string>> calls() const;

private:
    Path m_dir;
    std::unique_ptr<ScopedEnv> m_path;
};

} // namespace kelvo::test
