#include "support/fixtures.hpp"

#include "support/git_repos.hpp"

#include <filesystem>
#include <gtest/gtest.h>

namespace kelvo::test {
namespace {

namespace fs = std::filesystem;

class RepoCommands : public testing::Test {
protected:
    void SetUp() override { use_hermetic_git(); }

    RunResult kelvo(const std::vector<std::string>& args, const Path& cwd) {
        return run_kelvo(args, m_home.path(), cwd);
    }
    // Runs a command that must succeed and returns its standard output.
    std::string ok(const std::vector<std::string>& args, const Path& cwd) {
        const auto result = kelvo(args, cwd);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.err, "");
        return result.out;
    }

    TempDir m_home;
    TempDir m_tmp;
};

std::string line(const Path& path, const std::string& branch, bool main, bool locked) {
    return path.string() + "\t" + branch + "\tmain=" + (main ? "true" : "false") +
           "\tlocked=" + (locked ? "true" : "false") + "\n";
}

TEST_F(RepoCommands, WtListShowsBranchMainAndLocked) {
    const auto repo = make_repo(m_tmp / "dépôt principal");
    fs::create_directories(repo / "sub dir");
    // Git lists linked worktrees by name.
    const auto linked = add_worktree(repo, m_tmp / "a wt ünï", "feature/ü");
    const auto detached = add_detached_worktree(repo, m_tmp / "b-detached");
    git(repo, {"worktree", "lock", "--reason", "kept", detached.string()});
    test::write_file(linked / "dirty", "x\n");

    const std::string expected = line(repo, "main", true, false) +
                                 line(linked, "feature/ü", false, false) +
                                 line(detached, "detached", false, true);
    EXPECT_EQ(ok({"wt", "list"}, repo), expected);
    // A subdirectory, absolute or relative to the current directory, names
    // the same repository.
    EXPECT_EQ(ok({"wt", "list", "--repo", (repo / "sub dir").string()}, m_tmp.path()), expected);
    EXPECT_EQ(ok({"wt", "list", "--repo", "dépôt principal/sub dir"}, m_tmp.path()), expected);
    EXPECT_EQ(ok({"wt", "list"}, repo / "sub dir"), expected);

    // The main flag follows the directory the listing is made from.
    EXPECT_EQ(ok({"wt", "list"}, linked), line(repo, "main", false, false) +
                                              line(linked, "feature/ü", true, false) +
                                              line(detached, "detached", false, true));
}

TEST_F(RepoCommands, WtListFromAWorktreeOfABareRepository) {
    const auto bare = make_bare_clone(make_repo(m_tmp / "seed"), m_tmp / "bare.git");
    const auto linked = add_worktree(bare, m_tmp / "linked", "work");
    EXPECT_EQ(ok({"wt", "list"}, linked),
              line(bare, "detached", false, false) + line(linked, "work", true, false));
}

TEST_F(RepoCommands, BranchesSortedByBytes) {
    const auto repo = make_cloned_repo(m_tmp / "c").clone;
    git(repo, {"branch", "b"});
    git(repo, {"branch", "A"});
    EXPECT_EQ(ok({"branches"}, repo), "A\nb\nmain\norigin/main\n");
    EXPECT_EQ(ok({"branches", "--repo", repo.string()}, m_tmp.path()), "A\nb\nmain\norigin/main\n");
    EXPECT_EQ(ok({"branches"}, make_empty_repo(m_tmp / "empty")), "");
}

TEST_F(RepoCommands, DefaultBaseOrNone) {
    const auto cloned = make_cloned_repo(m_tmp / "c").clone;
    EXPECT_EQ(ok({"default-base"}, cloned), "origin/main\n");
    const auto local = make_repo(m_tmp / "local");
    EXPECT_EQ(ok({"default-base", "--repo", local.string()}, m_tmp.path()), "main\n");
    const auto trunk = make_repo(m_tmp / "trunk");
    git(trunk, {"branch", "-m", "main", "trunk"});
    EXPECT_EQ(ok({"default-base"}, trunk), "(none)\n");
}

TEST_F(RepoCommands, FailuresOutsideARepository) {
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"wt", "list"}, {"branches"}, {"default-base"}}) {
        const auto result = kelvo(args, m_tmp.path());
        EXPECT_EQ(result.status, 1) << args[0];
        EXPECT_EQ(result.out, "") << args[0];
        EXPECT_EQ(result.err.rfind("Error: git failed (128): fatal: not a git repository", 0), 0u)
            << result.err;
        EXPECT_EQ(result.err.find("Caused by"), std::string::npos) << result.err;
    }

    // A --repo that does not exist is named as such, not as a missing git.
    const auto missing = m_tmp / "no such dir";
    const std::string os_text = "cannot enter " + missing.string() + ": No such file or directory";
    const auto result = kelvo({"wt", "list", "--repo", missing.string()}, m_tmp.path());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Error: io: " + os_text + "\n\nCaused by:\n    " + os_text + "\n");
}

} // namespace
} // namespace kelvo::test
