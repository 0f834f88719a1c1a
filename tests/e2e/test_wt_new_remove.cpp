#include "support/fixtures.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kelvo::test {
namespace {

using nlohmann::json;

json read_state(const Path& home) {
    return json::parse(read_file(state_file(home)));
}

std::size_t thread_count(const Path& home) {
    return read_state(home)["threads"].size();
}

class WtCommands : public ::testing::Test {
protected:
    void SetUp() override {
        use_hermetic_git();
        repo = make_repo(work / "src" / "app");
    }
    // The repository, registered as a project.
    void register_repo() {
        auto r = run_kelvo({"project", "add", repo.string()}, home.path());
        ASSERT_EQ(r.status, 0) << r.err;
    }
    Path default_path(const std::string& leaf) const {
        return work / "src" / "worktrees" / "app" / leaf;
    }

    TempDir home;
    TempDir work;
    Path repo;
};

TEST_F(WtCommands, NewOnRegisteredRepositoryUsesQuickBaseAndRecordsThread) {
    git(repo, {"branch", "develop"});
    register_repo();
    ASSERT_EQ(run_kelvo({"project", "set-quick-base", "app", "develop"}, home.path()).status, 0);
    const std::size_t before = thread_count(home.path());

    auto r = run_kelvo({"wt", "new", "login-fix"}, home.path(), repo);
    ASSERT_EQ(r.status, 0) << r.err;
    const Path target = default_path("login-fix");
    EXPECT_EQ(r.out, "repo  " + repo.string() + "\nbase  develop\npath  " + target.string() +
                         "\ncreated worktree login-fix from develop\n");
    EXPECT_TRUE(std::filesystem::is_directory(target));
    EXPECT_EQ(git(target, {"symbolic-ref", "--short", "HEAD"}), "login-fix\n");

    json state = read_state(home.path());
    ASSERT_EQ(state["threads"].size(), before + 1);
    const json& thread = state["threads"].back();
    EXPECT_EQ(thread["title"], "login-fix");
    EXPECT_EQ(thread["workspace"]["path"], target.string());
    EXPECT_EQ(thread["project_id"], state["projects"][0]["id"]);

    // Removing it forgets the thread again.
    auto removed = run_kelvo({"wt", "remove", target.string()}, home.path(), repo);
    ASSERT_EQ(removed.status, 0) << removed.err;
    EXPECT_EQ(removed.out, "removed " + target.string() + "\n");
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_EQ(thread_count(home.path()), before);
}

TEST_F(WtCommands, ExplicitBaseWinsOverQuickBase) {
    git(repo, {"branch", "develop"});
    register_repo();
    ASSERT_EQ(run_kelvo({"project", "set-quick-base", "app", "develop"}, home.path()).status, 0);
    auto r = run_kelvo({"wt", "new", "x", "--base", "main", "--repo", repo.string()}, home.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\nbase  main\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("created worktree x from main\n"), std::string::npos);
}

TEST_F(WtCommands, QuickBaseIsUsedOverOriginsDefault) {
    const Path origin = work / "origin.git";
    git(work.path(), {"clone", "-q", "--bare", repo.string(), origin.string()});
    const Path clone = work / "clone";
    git(work.path(), {"clone", "-q", origin.string(), clone.string()});
    git(clone, {"branch", "develop"});
    ASSERT_EQ(run_kelvo({"project", "add", clone.string(), "--quick-base", "develop"}, home.path())
                  .status,
              0);

    auto def = run_kelvo({"default-base"}, home.path(), clone);
    EXPECT_EQ(def.out, "origin/main\n");
    auto r = run_kelvo({"wt", "new", "feat", "--path-only"}, home.path(), clone);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("base  develop\n"), std::string::npos) << r.out;
}

TEST_F(WtCommands, UnregisteredRepositoryUsesDefaultsAndRecordsNothing) {
    auto r = run_kelvo({"wt", "new", "feature/login"}, home.path(), repo);
    ASSERT_EQ(r.status, 0) << r.err;
    const Path target = default_path("feature-login");
    EXPECT_EQ(r.out, "repo  " + repo.string() + "\nbase  main\npath  " + target.string() +
                         "\ncreated worktree feature/login from main\n");
    EXPECT_TRUE(std::filesystem::is_directory(target));
    EXPECT_FALSE(std::filesystem::exists(state_file(home.path())));
}

TEST_F(WtCommands, PathOnlyCreatesAndRecordsNothing) {
    register_repo();
    const std::string before = read_file(state_file(home.path()));
    auto r = run_kelvo({"wt", "new", "dry", "--path-only", "--pi"}, home.path(), repo,
                       {{"PATH", "/usr/bin:/bin"}});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "repo  " + repo.string() + "\nbase  main\npath  " +
                         default_path("dry").string() + "\n");
    EXPECT_FALSE(std::filesystem::exists(default_path("dry")));
    EXPECT_EQ(git(repo, {"branch", "--list", "dry"}), "");
    EXPECT_EQ(read_file(state_file(home.path())), before);
}

TEST_F(WtCommands, FailuresRecordNoThread) {
    register_repo();
    git(repo, {"branch", "taken"});
    std::filesystem::create_directories(default_path("occupied"));
    const std::string before = read_file(state_file(home.path()));

    auto occupied = run_kelvo({"wt", "new", "occupied"}, home.path(), repo);
    EXPECT_EQ(occupied.status, 1);
    EXPECT_EQ(occupied.err,
              "Error: path already exists: " + default_path("occupied").string() + "\n");

    auto taken = run_kelvo({"wt", "new", "taken"}, home.path(), repo);
    EXPECT_EQ(taken.status, 1);
    EXPECT_EQ(taken.err.rfind("Error: git failed (255): ", 0), 0u) << taken.err;
    EXPECT_NE(taken.err.find("fatal: a branch named 'taken' already exists\n"), std::string::npos);
    EXPECT_EQ(read_file(state_file(home.path())), before);
}

TEST_F(WtCommands, NoBaseAnywhereIsAnError) {
    const Path trunk = work / "trunk";
    std::filesystem::create_directories(trunk);
    git(trunk, {"init", "-q", "-b", "trunk"});
    git(trunk, {"commit", "-q", "--allow-empty", "-m", "i"});
    auto r = run_kelvo({"wt", "new", "x"}, home.path(), trunk);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: no base: pass --base or set quick base\n");
    EXPECT_EQ(r.out, "");
}

TEST_F(WtCommands, UnreadableStateFileNeverStopsNewOrRemove) {
    write_file(state_file(home.path()), "{ not json");
    auto created = run_kelvo({"wt", "new", "robust"}, home.path(), repo);
    ASSERT_EQ(created.status, 0) << created.err;
    EXPECT_TRUE(std::filesystem::is_directory(default_path("robust")));
    auto removed = run_kelvo({"wt", "remove", default_path("robust").string()}, home.path(), repo);
    ASSERT_EQ(removed.status, 0) << removed.err;
    EXPECT_FALSE(std::filesystem::exists(default_path("robust")));
    EXPECT_EQ(read_file(state_file(home.path())), "{ not json");
}

TEST_F(WtCommands, RemoveOfUnknownWorktreeLeavesStoreAlone) {
    register_repo();
    const Path other = work / "other";
    git(repo, {"worktree", "add", "-q", "-b", "other", other.string()});
    const std::string before = read_file(state_file(home.path()));
    auto r = run_kelvo({"wt", "remove", other.string()}, home.path(), repo);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "removed " + other.string() + "\n");
    EXPECT_EQ(read_file(state_file(home.path())), before);
}

TEST_F(WtCommands, DirtyWorktreeNeedsForce) {
    register_repo();
    ASSERT_EQ(run_kelvo({"wt", "new", "dirty"}, home.path(), repo).status, 0);
    const Path target = default_path("dirty");
    write_file(target / "scratch.txt", "uncommitted\n");
    const std::size_t with_thread = thread_count(home.path());

    auto refused = run_kelvo({"wt", "remove", target.string()}, home.path(), repo);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err.rfind("Error: git failed (128): ", 0), 0u) << refused.err;
    EXPECT_TRUE(std::filesystem::exists(target));
    EXPECT_EQ(thread_count(home.path()), with_thread);

    auto forced = run_kelvo({"wt", "remove", "--force", target.string()}, home.path(), repo);
    ASSERT_EQ(forced.status, 0) << forced.err;
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_EQ(thread_count(home.path()), with_thread - 1);
}

TEST_F(WtCommands, RelativeRemovePathIsTakenFromTheRepositoryRoot) {
    // git resolves a relative path against the repository root; the thread
    // lookup must agree, or the thread would outlive its worktree.
    register_repo();
    ASSERT_EQ(run_kelvo({"wt", "new", "rel"}, home.path(), repo).status, 0);
    const std::size_t with_thread = thread_count(home.path());
    std::filesystem::create_directories(repo / "sub");
    auto removed = run_kelvo({"wt", "remove", "../worktrees/app/rel"}, home.path(), repo / "sub");
    ASSERT_EQ(removed.status, 0) << removed.err;
    EXPECT_EQ(removed.out, "removed ../worktrees/app/rel\n");
    EXPECT_FALSE(std::filesystem::exists(default_path("rel")));
    EXPECT_EQ(thread_count(home.path()), with_thread - 1);
}

TEST_F(WtCommands, NewWithPiStartsTheAgentInTheWorktree) {
    register_repo();
    const Path bin = work / "bin";
    write_file(bin / "pi",
               "#!/bin/sh\npwd > \"$KELVO_TEST_OUT\"\n"
               "echo \"$KELVO_BRANCH|$KELVO_QUICK_BASE|$KELVO_MAIN_REPO|$KELVO_WORKTREE\" "
               ">> \"$KELVO_TEST_OUT\"\n");
    ::chmod((bin / "pi").c_str(), 0755);
    const Path out = work / "pi.out";
    const std::string path = bin.string() + ":" + std::getenv("PATH");
    auto r = run_kelvo({"wt", "new", "agent", "--pi"}, home.path(), repo,
                       {{"PATH", path}, {"KELVO_TEST_OUT", out.string()}});
    ASSERT_EQ(r.status, 0) << r.err;
    const Path target = default_path("agent");
    EXPECT_NE(r.out.find("created worktree agent from main\nprogram  pi\ncwd      " +
                         target.string() + "\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(read_file(out),
              target.string() + "\nagent|main|" + repo.string() + "|" + target.string() + "\n");
}

TEST_F(WtCommands, StateLockHeldTooLongIsAnErrorNotAMissingStore) {
    // Carrying on without the store would lose the record (or take the
    // wrong template) and still report success.
    register_repo();
    ASSERT_EQ(run_kelvo({"wt", "new", "kept"}, home.path(), repo).status, 0);
    const std::string before = read_file(state_file(home.path()));
    const Path lock_file = state_file(home.path()).parent_path() / ".state.json.lock";
    const int fd = ::open(lock_file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    const Env short_wait = {{"KELVO_LOCK_TIMEOUT_MS", "200"}};
    const std::string report = "Error: io: timed out waiting for the state lock ";

    auto created = run_kelvo({"wt", "new", "blocked"}, home.path(), repo, short_wait);
    EXPECT_EQ(created.status, 1);
    EXPECT_EQ(created.err.rfind(report, 0), 0u) << created.err;
    EXPECT_FALSE(std::filesystem::exists(default_path("blocked")));

    auto removed =
        run_kelvo({"wt", "remove", default_path("kept").string()}, home.path(), repo, short_wait);
    EXPECT_EQ(removed.status, 1);
    EXPECT_EQ(removed.err.rfind(report, 0), 0u) << removed.err;
    EXPECT_TRUE(std::filesystem::is_directory(default_path("kept")));
    ::close(fd);
    EXPECT_EQ(read_file(state_file(home.path())), before);
}

TEST_F(WtCommands, ConcurrentNewCommandsAllRecordTheirThreads) {
    register_repo();
    const std::size_t before = thread_count(home.path());
    constexpr int kCommands = 10;
    std::vector<pid_t> children;
    for (int i = 0; i < kCommands; ++i) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            auto r = run_kelvo({"wt", "new", "par-" + std::to_string(i)}, home.path(), repo);
            std::fputs(r.err.c_str(), stderr);
            ::_exit(r.status);
        }
        children.push_back(pid);
    }
    int created = 0;
    for (pid_t pid : children) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
            ++created;
    }
    json state = read_state(home.path());
    std::size_t recorded = 0;
    for (int i = 0; i < kCommands; ++i) {
        const Path target = default_path("par-" + std::to_string(i));
        bool has_thread = false;
        for (const auto& t : state["threads"])
            has_thread = has_thread || t["workspace"]["path"] == target.string();
        if (std::filesystem::is_directory(target)) {
            EXPECT_TRUE(has_thread) << target;
        }
        recorded += has_thread;
    }
    EXPECT_EQ(recorded, static_cast<std::size_t>(created));
    EXPECT_EQ(state["threads"].size(), before + recorded);
    RecordProperty("git_refused", kCommands - created);
}

} // namespace
} // namespace kelvo::test
