#include "git/worktree.hpp"

#include "git/branch.hpp"
#include "support/fixtures.hpp"
#include "support/git_repos.hpp"

#include <filesystem>
#include <gtest/gtest.h>

namespace kelvo::git {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// The fields of a view that the parser decides, in a readable form.
struct View {
    std::string path;
    std::optional<std::string> branch;
    bool is_main = false;
    bool locked = false;
    bool bare = false;
    friend bool operator==(const View&, const View&) = default;
};

std::ostream& operator<<(std::ostream& os, const View& v) {
    return os << "{" << v.path << ", " << (v.branch ? *v.branch : "(none)")
              << (v.is_main ? ", main" : "") << (v.locked ? ", locked" : "")
              << (v.bare ? ", bare" : "") << "}";
}

std::vector<View> views(const std::vector<WorktreeView>& list) {
    std::vector<View> out;
    for (const auto& w : list)
        out.push_back({w.path.string(), w.branch, w.is_main, w.locked, w.bare});
    return out;
}

std::vector<bool> dirty_flags(const std::vector<WorktreeView>& list) {
    std::vector<bool> out;
    for (const auto& w : list)
        out.push_back(w.dirty);
    return out;
}

// --- parse_porcelain -------------------------------------------------------

struct ParseCase {
    const char* name;
    std::string text;
    std::vector<View> expected;
};

void PrintTo(const ParseCase& c, std::ostream* os) {
    *os << c.name;
}

class ParsePorcelain : public testing::TestWithParam<ParseCase> {};

// The reference directory does not exist, so is_main is decided as written.
TEST_P(ParsePorcelain, Parses) {
    EXPECT_EQ(views(parse_porcelain(GetParam().text, "/nonexistent/kelvo/ref")),
              GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParsePorcelain,
    testing::Values(
        ParseCase{"Empty", "", {}},
        ParseCase{"Typical",
                  "worktree /r/main\nHEAD 1234\nbranch refs/heads/main\n\n"
                  "worktree /r/wt\nHEAD 5678\nbranch refs/heads/feature/x\n\n",
                  {{"/r/main", "main", true}, {"/r/wt", "feature/x"}}},
        ParseCase{"RecordsWithoutBlankLines",
                  "worktree /a\nbranch refs/heads/a\nworktree /b\nworktree /c\nbranch refs/heads/c",
                  {{"/a", "a", true}, {"/b", {}}, {"/c", "c"}}},
        ParseCase{"CrlfLikeLf",
                  "worktree /a b\r\nbranch refs/heads/a\r\n\r\nworktree /c\r\nlocked\r\n",
                  {{"/a b", "a", true}, {"/c", {}, false, true}}},
        ParseCase{"DetachedWithAndWithoutBranchLine",
                  "worktree /a\ndetached\n\nworktree /b\nbranch refs/heads/b\ndetached\n\n"
                  "worktree /c\ndetached\nbranch refs/heads/c\n",
                  {{"/a", {}, true}, {"/b", {}}, {"/c", {}}}},
        ParseCase{"BranchOutsideHeadsKeptWhole",
                  "worktree /a\nbranch refs/remotes/origin/x\n\nworktree /b\nbranch refs/heads/\n",
                  {{"/a", "refs/remotes/origin/x", true}, {"/b", ""}}},
        ParseCase{"LockedAloneAndWithReason",
                  "worktree /a\nlocked\n\nworktree /b\nlocked on a usb stick\n\nworktree /c\n",
                  {{"/a", {}, true, true}, {"/b", {}, false, true}, {"/c", {}}}},
        ParseCase{"BareFollowedByLinked",
                  "worktree /srv/r.git\nbare\n\nworktree /srv/wt\nHEAD 1\nbranch refs/heads/w\n",
                  {{"/srv/r.git", {}, true, false, true}, {"/srv/wt", "w"}}},
        ParseCase{"UnknownAndStrayLinesIgnored",
                  "branch refs/heads/stray\n\nworktree\nprunable gone\nworktree /a\nbare x\n",
                  {{"/a", {}, true}}},
        ParseCase{"PathTakenVerbatim",
                  "worktree  /two spaces/ü\n\nworktree \n",
                  {{" /two spaces/ü", {}, true}, {"", {}}}},
        // The reference as written matches a later entry too.
        ParseCase{"ReferenceMatchedAsWritten",
                  "worktree /x\n\nworktree /nonexistent//kelvo/ref/\n\nworktree /y\n",
                  {{"/x", {}, true}, {"/nonexistent//kelvo/ref/", {}, true}, {"/y", {}}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ParsePorcelainZ, LinesEndInNulSoPathsKeepNewlinesAndCarriageReturns) {
    using namespace std::string_literals;
    const std::string text = "worktree /r/new\nline\0HEAD 0123\0branch refs/heads/main\0\0"
                             "worktree /r/cr\r\0HEAD 0123\0detached\0locked why\nnot\0\0"s;
    const auto views = parse_porcelain_z(text, "/nonexistent/kelvo-ref");
    ASSERT_EQ(views.size(), 2u);
    EXPECT_EQ(views[0].path, "/r/new\nline");
    EXPECT_EQ(views[0].branch, "main");
    EXPECT_TRUE(views[0].is_main);
    EXPECT_EQ(views[1].path, "/r/cr\r");
    EXPECT_EQ(views[1].branch, std::nullopt);
    EXPECT_TRUE(views[1].locked);
}

TEST(ParsePorcelainMain, ExistingReferenceMarksOnlyTheEntryThatIsIt) {
    test::TempDir tmp;
    fs::create_directories(tmp / "a");
    fs::create_directories(tmp / "b");
    fs::create_directory_symlink(tmp / "b", tmp / "link-to-b");
    const std::string text = "worktree " + (tmp / "a").string() + "\n\n" + "worktree " +
                             (tmp / "b").string() + "\n\nworktree " + (tmp / "gone").string() +
                             "\n";
    const auto mains = [&](const Path& reference) {
        std::vector<bool> out;
        for (const auto& w : parse_porcelain(text, reference))
            out.push_back(w.is_main);
        return out;
    };
    EXPECT_EQ(mains(tmp / "b"), (std::vector<bool>{false, true, false}));
    EXPECT_EQ(mains(tmp / "link-to-b"), (std::vector<bool>{false, true, false}));
    EXPECT_EQ(mains(tmp / "a" / ".." / "b" / ""), (std::vector<bool>{false, true, false}));
    // An existing directory that is none of them: nothing is main, not even the first.
    EXPECT_EQ(mains(tmp.path()), (std::vector<bool>{false, false, false}));
}

// --- against real repositories --------------------------------------------

class Worktrees : public testing::Test {
protected:
    void SetUp() override { test::use_hermetic_git(); }
    test::TempDir m_tmp;
};

TEST_F(Worktrees, RepoRootAndInsideWorkTree) {
    const auto repo = test::make_repo(m_tmp / "dépôt avec espace");
    fs::create_directories(repo / "sub dir" / "deeper");

    const auto root = repo_root(repo / "sub dir" / "deeper");
    ASSERT_TRUE(root) << root.error().message();
    EXPECT_EQ(*root, repo);
    EXPECT_TRUE(is_inside_work_tree(repo / "sub dir"));

    const auto outside = repo_root(m_tmp.path());
    ASSERT_FALSE(outside);
    const auto* failed = outside.error().get_if<GitError::CommandFailed>();
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ(failed->status, 128);
    EXPECT_NE(failed->stderr_text.find("not a git repository"), std::string::npos);

    EXPECT_FALSE(is_inside_work_tree(m_tmp.path()));
    EXPECT_FALSE(is_inside_work_tree(m_tmp / "missing"));
    EXPECT_FALSE(is_inside_work_tree(repo / ".git"));
}

TEST_F(Worktrees, ListsLinkedDetachedAndLockedWorktrees) {
    // Git lists linked worktrees by name, so the names give the order.
    const auto repo = test::make_repo(m_tmp / "main repo");
    const auto linked = test::add_worktree(repo, m_tmp / "a wt ünï", "feature/ü");
    const auto detached = test::add_detached_worktree(repo, m_tmp / "b-detached");
    const auto locked = test::add_worktree(repo, m_tmp / "c-locked", "locked-branch");
    test::git(repo, {"worktree", "lock", "--reason", "on a stick", locked.string()});

    const auto list = list_worktrees(repo);
    ASSERT_TRUE(list) << list.error().message();
    EXPECT_EQ(views(*list), (std::vector<View>{
                                {repo.string(), "main", true},
                                {linked.string(), "feature/ü"},
                                {detached.string(), {}},
                                {locked.string(), "locked-branch", false, true},
                            }));

    // From inside a linked worktree, main follows that directory.
    const auto from_linked = list_worktrees(linked);
    ASSERT_TRUE(from_linked);
    ASSERT_EQ(from_linked->size(), 4u);
    EXPECT_FALSE((*from_linked)[0].is_main);
    EXPECT_TRUE((*from_linked)[1].is_main);
}

TEST_F(Worktrees, DirtyFlagRunsStatusPerWorktreeUnlessSkipped) {
    const auto repo = test::make_repo(m_tmp / "repo");
    const auto clean = test::add_worktree(repo, m_tmp / "a-clean", "clean");
    const auto changed = test::add_worktree(repo, m_tmp / "b-changed", "changed");
    const auto gone = test::add_worktree(repo, m_tmp / "c-gone", "gone");
    test::write_file(changed / "untracked", "x\n");
    fs::remove_all(gone);

    test::TempDir bin;
    test::FakeGit counting(bin.path(), test::FakeGit::delegating());

    const auto checked = list_worktrees(repo);
    ASSERT_TRUE(checked) << checked.error().message();
    EXPECT_EQ(dirty_flags(*checked), (std::vector<bool>{false, false, true, false}));
    // A worktree whose directory is gone is listed, clean and not main.
    EXPECT_EQ((*checked)[3].path, gone);
    EXPECT_FALSE((*checked)[3].is_main);
    // The listing, then a status run per worktree; for the gone one the
    // missing directory stops the run before git starts.
    EXPECT_EQ(counting.calls().size(), 4u);

    const auto skipped = list_worktrees(repo, Dirty::Skip);
    ASSERT_TRUE(skipped);
    EXPECT_EQ(dirty_flags(*skipped), (std::vector<bool>{false, false, false, false}));
    EXPECT_EQ(views(*skipped), views(*checked));
    EXPECT_EQ(counting.calls().size(), 5u); // the listing alone
}

TEST_F(Worktrees, BareRepositoryWithLinkedWorktrees) {
    const auto seed = test::make_repo(m_tmp / "seed");
    const auto bare = test::make_bare_clone(seed, m_tmp / "bare.git");
    const auto linked = test::add_worktree(bare, m_tmp / "linked", "work");

    test::TempDir bin;
    test::FakeGit counting(bin.path(), test::FakeGit::delegating());

    const auto list = list_worktrees(bare);
    ASSERT_TRUE(list) << list.error().message();
    EXPECT_EQ(views(*list), (std::vector<View>{{bare.string(), {}, true, false, true},
                                               {linked.string(), "work"}}));
    EXPECT_EQ(dirty_flags(*list), (std::vector<bool>{false, false}));
    EXPECT_EQ(counting.calls().size(), 2u); // no status run for the bare entry

    // No work tree, so no top-level directory: the operation fails.
    const auto from_bare = main_worktree_path(bare);
    ASSERT_FALSE(from_bare);
    ASSERT_NE(from_bare.error().get_if<GitError::CommandFailed>(), nullptr);
    EXPECT_EQ(from_bare.error().get_if<GitError::CommandFailed>()->status, 128);

    // In a linked worktree the listing decides, without any status run.
    const std::size_t before = counting.calls().size();
    const auto from_linked = main_worktree_path(linked);
    ASSERT_TRUE(from_linked) << from_linked.error().message();
    EXPECT_EQ(*from_linked, linked);
    const auto calls = counting.calls();
    ASSERT_EQ(calls.size() - before, 3u);
    EXPECT_EQ(calls.back(), (std::vector<std::string>{"worktree", "list", "--porcelain", "-z"}));
}

TEST_F(Worktrees, MainWorktreePathFromEverywhereInARepository) {
    const auto repo = test::make_repo(m_tmp / "dépôt");
    fs::create_directories(repo / "sub");
    const auto linked = test::add_worktree(repo, m_tmp / "linked wt", "linked");

    test::TempDir bin;
    test::FakeGit counting(bin.path(), test::FakeGit::delegating());
    for (const auto& dir : {repo, repo / "sub", linked}) {
        const auto main = main_worktree_path(dir);
        ASSERT_TRUE(main) << dir << ": " << main.error().message();
        EXPECT_EQ(*main, repo) << dir;
    }
    EXPECT_EQ(counting.calls().size(), 3u); // one process each

    const auto outside = main_worktree_path(m_tmp.path());
    ASSERT_FALSE(outside);
    EXPECT_NE(outside.error().get_if<GitError::CommandFailed>(), nullptr);
}

TEST_F(Worktrees, CreateMakesParentsAndTheBranch) {
    const auto repo = test::make_repo(m_tmp / "repo");
    const auto target = m_tmp / "nested parents" / "ünï" / "wt";

    const auto created = create_worktree(repo, "feature/new", target, "main", true);
    ASSERT_TRUE(created) << created.error().message();
    EXPECT_TRUE(fs::exists(target / "README"));
    EXPECT_EQ(current_branch(target), "feature/new");

    // Without the new-branch flag, an existing branch is checked out.
    test::git(repo, {"branch", "existing"});
    ASSERT_TRUE(create_worktree(repo, "existing", m_tmp / "second", "", false));
    EXPECT_EQ(current_branch(m_tmp / "second"), "existing");
}

TEST_F(Worktrees, CreateRefusesBeforeGitRuns) {
    const auto repo = test::make_repo(m_tmp / "repo");
    test::git(repo, {"branch", "dev"});
    fs::create_directories(m_tmp / "taken");

    test::TempDir bin;
    test::FakeGit recording(bin.path(), test::FakeGit::delegating());
    struct Case {
        std::string branch;
        Path target;
        std::string base;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"x", m_tmp / "taken", "main", "path already exists: " + (m_tmp / "taken").string()},
        {"x", repo / "README", "main", "path already exists: " + (repo / "README").string()},
        // Through git's branch machinery "-D" with base "dev" would delete dev.
        {"-D", m_tmp / "new1" / "wt", "dev", "invalid branch name: -D (must not begin with '-')"},
        {"-", m_tmp / "new2", "main", "invalid branch name: - (must not begin with '-')"},
        {"ok", m_tmp / "new3", "--orphan", "invalid base: --orphan (must not begin with '-')"},
    };
    for (const auto& c : cases) {
        const auto result = create_worktree(repo, c.branch, c.target, c.base, true);
        ASSERT_FALSE(result) << c.branch;
        ASSERT_NE(result.error().get_if<GitError::Other>(), nullptr) << c.branch;
        EXPECT_EQ(result.error().message(), c.message);
    }
    EXPECT_TRUE(recording.calls().empty());
    EXPECT_FALSE(fs::exists(m_tmp / "new1"));
    EXPECT_EQ(test::git(repo, {"branch", "--list", "dev"}), "  dev\n");
}

TEST_F(Worktrees, CreateFailuresFromGitAndTheFileSystem) {
    const auto repo = test::make_repo(m_tmp / "repo");
    test::git(repo, {"branch", "taken"});

    const auto exists = create_worktree(repo, "taken", m_tmp / "parent" / "wt", "main", true);
    ASSERT_FALSE(exists);
    const auto* failed = exists.error().get_if<GitError::CommandFailed>();
    ASSERT_NE(failed, nullptr) << exists.error().message();
    EXPECT_EQ(failed->status, 255);
    EXPECT_NE(failed->stderr_text.find("already exists"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(m_tmp / "parent")); // parents stay

    test::write_file(m_tmp / "file", "");
    const auto blocked = create_worktree(repo, "b", m_tmp / "file" / "wt", "main", true);
    ASSERT_FALSE(blocked);
    ASSERT_NE(blocked.error().get_if<GitError::Io>(), nullptr) << blocked.error().message();
    EXPECT_EQ(blocked.error().message().rfind("io: cannot create " + (m_tmp / "file").string(), 0),
              0u)
        << blocked.error().message();
}

TEST_F(Worktrees, PathsBeginningWithDashAreNotOptions) {
    const auto repo = test::make_repo(m_tmp / "repo");
    test::git(repo, {"worktree", "add", "-q", "-b", "dash", "./--force"});
    ASSERT_TRUE(fs::exists(repo / "--force"));

    // Removed as a path, never read as the --force option.
    test::write_file(repo / "--force" / "change", "x\n");
    const auto kept = remove_worktree(repo, "--force", false);
    ASSERT_FALSE(kept);
    EXPECT_NE(kept.error().get_if<GitError::CommandFailed>(), nullptr);
    EXPECT_TRUE(fs::exists(repo / "--force" / "change"));

    test::TempDir bin;
    test::FakeGit recording(bin.path());
    ASSERT_TRUE(create_worktree(repo, "b", "-wt", "main", true));
    ASSERT_TRUE(remove_worktree(repo, "-wt", true));
    ASSERT_TRUE(remove_worktree(repo, m_tmp / "abs", false));
    EXPECT_EQ(recording.calls(), (std::vector<std::vector<std::string>>{
                                     {"worktree", "add", "-b", "b", "./-wt", "main"},
                                     {"worktree", "remove", "--force", "./-wt"},
                                     {"worktree", "remove", (m_tmp / "abs").string()},
                                 }));
}

TEST_F(Worktrees, RemoveRefusesChangesUnlessForced) {
    const auto repo = test::make_repo(m_tmp / "repo");
    const auto clean = test::add_worktree(repo, m_tmp / "clean wt", "clean");
    const auto changed = test::add_worktree(repo, m_tmp / "changed", "changed");
    test::write_file(changed / "README", "edited\n");

    ASSERT_TRUE(remove_worktree(repo, clean, false));
    EXPECT_FALSE(fs::exists(clean));

    const auto refused = remove_worktree(repo, changed, false);
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().get_if<GitError::CommandFailed>(), nullptr);
    EXPECT_TRUE(fs::exists(changed / "README"));

    ASSERT_TRUE(remove_worktree(repo, changed, true));
    EXPECT_FALSE(fs::exists(changed));
    const auto list = list_worktrees(repo);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->size(), 1u);
}

} // namespace
} // namespace kelvo::git
