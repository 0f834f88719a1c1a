#include "git/branch.hpp"

#include "support/fixtures.hpp"
#include "support/git_repos.hpp"

#include <gtest/gtest.h>

namespace kelvo::git {
namespace {

using Names = std::vector<std::string>;

class Branches : public testing::Test {
protected:
    void SetUp() override { test::use_hermetic_git(); }
    test::TempDir m_tmp;
};

TEST_F(Branches, DefaultBasePrefersOriginHeadThenMainThenMaster) {
    const auto cloned = test::make_cloned_repo(m_tmp / "cloned", "develop");
    const auto unset_head = test::make_cloned_repo(m_tmp / "unset").clone;
    test::git(unset_head, {"remote", "set-head", "origin", "--delete"});

    const auto both = test::make_repo(m_tmp / "both");
    test::git(both, {"branch", "master"});
    const auto only_master = test::make_repo(m_tmp / "only master");
    test::git(only_master, {"branch", "-m", "main", "master"});
    const auto neither = test::make_repo(m_tmp / "neither");
    test::git(neither, {"branch", "-m", "main", "trunk"});
    const auto empty = test::make_empty_repo(m_tmp / "empty");

    const std::vector<std::pair<Path, std::optional<std::string>>> cases = {
        {cloned.clone, "origin/develop"},
        {unset_head, "main"}, // the local name, not origin/main
        {both, "main"},
        {only_master, "master"},
        {neither, std::nullopt},
        {empty, std::nullopt},
        {m_tmp.path(), std::nullopt}, // not a repository
        {m_tmp / "missing", std::nullopt},
    };
    for (const auto& [dir, expected] : cases)
        EXPECT_EQ(resolve_default_base(dir), expected) << dir;
}

TEST_F(Branches, DefaultBaseFromStandIns) {
    struct Case {
        const char* script;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        // A name outside refs/remotes/ is returned trimmed and whole.
        {"[ \"$1\" = symbolic-ref ] && printf '  weird/name \\n'", "weird/name"},
        // Empty output from the first command falls through to the checks.
        {"[ \"$1\" = symbolic-ref ] && exit 0; [ \"$4\" = refs/heads/master ]", "master"},
        {"exit 1", std::nullopt},
    };
    for (const auto& c : cases) {
        test::TempDir bin;
        test::FakeGit fake(bin.path(), c.script);
        EXPECT_EQ(resolve_default_base(m_tmp.path()), c.expected) << c.script;
    }
    test::ScopedEnv no_git("PATH", "");
    EXPECT_EQ(resolve_default_base(m_tmp.path()), std::nullopt);
}

TEST_F(Branches, DefaultBaseChecksCandidatesInOrder) {
    const auto repo = test::make_repo(m_tmp / "repo");
    test::TempDir bin;
    test::FakeGit recording(bin.path(), test::FakeGit::delegating());
    EXPECT_EQ(resolve_default_base(repo), "main");
    EXPECT_EQ(recording.calls(),
              (std::vector<Names>{{"symbolic-ref", "--quiet", "refs/remotes/origin/HEAD"},
                                  {"show-ref", "--verify", "--quiet", "refs/heads/main"}}));
}

TEST_F(Branches, ListsLocalAndRemoteNamesSortedByBytes) {
    const auto repo = test::make_cloned_repo(m_tmp / "c").clone;
    for (const char* name : {"b", "A", "ünï", "origin-ish", "Z/nested"})
        test::git(repo, {"branch", name});
    const auto names = list_branches(repo);
    ASSERT_TRUE(names) << names.error().message();
    // origin/HEAD is gone; main is listed both as local and remote name.
    EXPECT_EQ(*names, (Names{"A", "Z/nested", "b", "main", "origin-ish", "origin/main", "ünï"}));
}

TEST_F(Branches, ListCleansGitOutput) {
    test::TempDir bin;
    test::FakeGit fake(bin.path(), "printf 'b\\nA\\r\\n  \\n\\norigin/HEAD\\nupstream/HEAD\\n"
                                   "fork/HEAD\\n  A  \\nB'");
    const auto names = list_branches(m_tmp.path());
    ASSERT_TRUE(names);
    EXPECT_EQ(*names, (Names{"A", "B", "b", "fork/HEAD"}));
    EXPECT_EQ(fake.calls(), (std::vector<Names>{{"for-each-ref", "--format=%(refname:short)",
                                                 "refs/heads", "refs/remotes"}}));
}

TEST_F(Branches, ListOfEmptyRepositoryAndErrors) {
    const auto empty = list_branches(test::make_empty_repo(m_tmp / "empty"));
    ASSERT_TRUE(empty) << empty.error().message();
    EXPECT_TRUE(empty->empty());

    const auto outside = list_branches(m_tmp.path());
    ASSERT_FALSE(outside);
    EXPECT_EQ(outside.error().message().rfind("git failed (128): fatal: not a git repository", 0),
              0u)
        << outside.error().message();
}

TEST_F(Branches, CurrentBranch) {
    const auto repo = test::make_repo(m_tmp / "repo");
    const auto linked = test::add_worktree(repo, m_tmp / "wt", "feature/ünï");
    const auto detached = test::add_detached_worktree(repo, m_tmp / "detached");
    EXPECT_EQ(current_branch(repo), "main");
    EXPECT_EQ(current_branch(linked), "feature/ünï");
    EXPECT_EQ(current_branch(detached), std::nullopt);
    EXPECT_EQ(current_branch(m_tmp.path()), std::nullopt);
}

} // namespace
} // namespace kelvo::git
