#include "support/git_repos.hpp"

#include "support/fixtures.hpp"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace kelvo::test {

namespace {

std::string shell_quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

} // namespace

Path make_empty_repo(const Path& dir) {
    std::filesystem::create_directories(dir);
    git(dir, {"init", "-q", "-b", "main"});
    return std::filesystem::canonical(dir);
}

Path add_worktree(const Path& repo, const Path& path, const std::string& branch) {
    git(repo, {"worktree", "add", "-q", "-b", branch, path.string()});
    return std::filesystem::canonical(path);
}

Path add_detached_worktree(const Path& repo, const Path& path) {
    git(repo, {"worktree", "add", "-q", "--detach", path.string()});
    return std::filesystem::canonical(path);
}

Path make_bare_clone(const Path& source, const Path& dir) {
    git(source.parent_path(), {"clone", "-q", "--bare", source.string(), dir.string()});
    return std::filesystem::canonical(dir);
}

ClonedRepo make_cloned_repo(const Path& dir, const std::string& default_branch) {
    const Path seed = make_repo(dir / "seed");
    if (default_branch != "main")
        git(seed, {"branch", default_branch});
    ClonedRepo repos;
    repos.origin = make_bare_clone(seed, dir / "origin.git");
    git(repos.origin, {"symbolic-ref", "HEAD", "refs/heads/" + default_branch});
    git(dir, {"clone", "-q", repos.origin.string(), (dir / "clone").string()});
    repos.clone = std::filesystem::canonical(dir / "clone");
    std::filesystem::remove_all(seed);
    return repos;
}

Path real_git() {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const Path candidate = Path(dir.empty() ? "." : dir) / "git";
        if (::access(candidate.c_str(), X_OK) == 0)
            return std::filesystem::canonical(candidate);
    }
    throw std::runtime_error("git not found on PATH");
}

FakeGit::FakeGit(const Path& dir, const std::string& body) : m_dir(dir) {
    std::filesystem::create_directories(m_dir / "calls");
    const std::string calls = shell_quote((m_dir / "calls").string());
    write_file(m_dir / "git", "#!/bin/sh\n"
                              "n=$(ls " +
                                  calls +
                                  " | wc -l)\n"
                                  "printf '%s\\0' \"$@\" > " +
                                  calls + "/$((n + 0))\n" + body + "\n");
    std::filesystem::permissions(m_dir / "git", std::filesystem::perms::owner_all);
    const char* old = std::getenv("PATH");
    m_path = std::make_unique<ScopedEnv>("PATH", m_dir.string() + ":" + (old ? old : ""));
}

std::string FakeGit::delegating() {
    return "exec " + shell_quote(real_git().string()) + " \"$@\"";
}

std::vector<std::vector<std::string>> FakeGit::calls() const {
    std::vector<std::pair<int, std::vector<std::string>>> numbered;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir / "calls")) {
        const std::string content = read_file(entry.path());
        std::vector<std::string> args;
        std::size_t start = 0;
        for (std::size_t end; (end = content.find('\0', start)) != std::string::npos;
             start = end + 1)
            args.push_back(content.substr(start, end - start));
        numbered.emplace_back(std::stoi(entry.path().filename().string()), std::move(args));
    }
    std::sort(numbered.begin(), numbered.end());
    std::vector<std::vector<std::string>> out;
    for (auto& [n, args] : numbered)
        out.push_back(std::move(args));
    return out;
}

} // namespace kelvo::test
