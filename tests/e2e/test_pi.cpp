// `pi` through the built binary, with a fake agent first on PATH.

#include "support/fixtures.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <unistd.h>

namespace kelvo::test {
namespace {

namespace fs = std::filesystem;

std::optional<Path> find_in_path(const std::string& name) {
    std::istringstream dirs(std::getenv("PATH") ? std::getenv("PATH") : "");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const Path candidate = Path(dir.empty() ? "." : dir) / name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::nullopt;
}

// What the fake agent saw.
struct Record {
    std::string cwd;
    std::vector<std::string> args;
    std::map<std::string, std::string> env;

    std::string var(const std::string& name) const {
        const auto it = env.find(name);
        return it == env.end() ? "<unset>" : it->second;
    }
};

class PiCommand : public ::testing::Test {
protected:
    void SetUp() override {
        use_hermetic_git();
        fs::create_directories(home());
        fs::create_directories(bin());
        fs::create_directories(work());
    }

    Path home() const { return m_tmp / "home"; }
    Path bin() const { return m_tmp / "bin"; }
    Path work() const { return m_tmp / "work"; } // inside no repository
    Path record_file() const { return m_tmp / "record"; }

    // A `pi` that writes its working directory, arguments and environment to
    // the record file and then runs `ending`.
    void install_recording_pi(const std::string& ending = "exit 0") {
        replace_pi();
        write_file(bin() / "pi", "#!/bin/sh\n"
                                 "{\n"
                                 "  echo \"cwd $(pwd -P)\"\n"
                                 "  for a in \"$@\"; do echo \"arg $a\"; done\n"
                                 "  echo '--env'\n"
                                 "  env\n"
                                 "} > '" +
                                     record_file().string() + "'\n" + ending + "\n");
        fs::permissions(bin() / "pi", fs::perms::owner_all);
    }

    // A `pi` that is `env` itself: it prints the environment exactly as it
    // was given, where a shell would first rewrite PWD.
    void install_env_printing_pi() {
        replace_pi();
        const auto env = find_in_path("env");
        ASSERT_TRUE(env);
        fs::create_symlink(*env, bin() / "pi");
    }

    RunResult run_pi(const std::vector<std::string>& args, const Path& cwd, Env env = {}) {
        const char* path = std::getenv("PATH");
        env.emplace(env.begin(), "PATH", bin().string() + ":" + (path ? path : ""));
        // Keep git from finding a repository around the scratch directory.
        env.emplace(env.begin(), "GIT_CEILING_DIRECTORIES", m_tmp.path().string());
        std::vector<std::string> full = {"pi"};
        full.insert(full.end(), args.begin(), args.end());
        return run_kelvo(full, home(), cwd, env);
    }

    Record read_record() const {
        Record record;
        std::istringstream in(read_file(record_file()));
        bool in_env = false;
        for (std::string line; std::getline(in, line);) {
            if (in_env) {
                const auto eq = line.find('=');
                if (eq != std::string::npos)
                    record.env[line.substr(0, eq)] = line.substr(eq + 1);
            } else if (line == "--env") {
                in_env = true;
            } else if (line.rfind("cwd ", 0) == 0) {
                record.cwd = line.substr(4);
            } else if (line.rfind("arg ", 0) == 0) {
                record.args.push_back(line.substr(4));
            }
        }
        return record;
    }

    TempDir m_tmp;

private:
    void replace_pi() {
        std::error_code ec;
        fs::remove(bin() / "pi", ec);
    }
};

std::string launch_lines(const std::string& cwd, const std::map<std::string, std::string>& env) {
    std::string out = "program  pi\ncwd      " + cwd + "\n";
    for (const auto& [name, value] : env)
        out += "env " + name + "=" + value + "\n";
    return out;
}

TEST_F(PiCommand, DryRunOutsideRepositoryPrintsThreeVariablesAndStartsNothing) {
    install_recording_pi();
    const auto result = run_pi({"--dry-run"}, work());
    EXPECT_EQ(result.status, 0) << result.err;
    const std::string dir = work().string();
    EXPECT_EQ(result.out,
              launch_lines(dir, {{"KELVO_MAIN_REPO", dir}, {"KELVO_WORKTREE", dir}, {"PWD", dir}}));
    EXPECT_EQ(result.err, "");
    EXPECT_FALSE(fs::exists(record_file()));
}

TEST_F(PiCommand, RunsPiInTheDirectoryAndSucceeds) {
    install_recording_pi();
    const auto result = run_pi({}, work());
    EXPECT_EQ(result.status, 0) << result.err;
    const std::string dir = work().string();
    EXPECT_EQ(result.out,
              launch_lines(dir, {{"KELVO_MAIN_REPO", dir}, {"KELVO_WORKTREE", dir}, {"PWD", dir}}));
    EXPECT_EQ(result.err, "");

    const Record record = read_record();
    EXPECT_EQ(record.cwd, dir);
    EXPECT_TRUE(record.args.empty());
    EXPECT_EQ(record.var("KELVO_WORKTREE"), dir);
    EXPECT_EQ(record.var("KELVO_MAIN_REPO"), dir);
    EXPECT_FALSE(record.env.contains("KELVO_BRANCH"));
    EXPECT_FALSE(record.env.contains("KELVO_QUICK_BASE"));
    // The store is never opened, let alone created.
    EXPECT_FALSE(fs::exists(state_file(home())));
}

TEST_F(PiCommand, AgentFailureIsReportedAfterTheLines) {
    const struct {
        const char* ending;
        const char* report;
    } cases[] = {
        {"exit 3", "Error: pi exited with exit status: 3\n"},
        {"kill -9 $$", "Error: pi exited with signal: 9 (SIGKILL)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ending);
        install_recording_pi(c.ending);
        fs::remove(record_file());
        const auto result = run_pi({}, work());
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, c.report);
        EXPECT_EQ(result.out.rfind("program  pi\ncwd      " + work().string() + "\n", 0), 0u)
            << result.out;
        EXPECT_TRUE(fs::exists(record_file()));
    }
}

TEST_F(PiCommand, NoPiOnPathFailsToSpawnAfterTheLines) {
    const auto git = find_in_path("git");
    ASSERT_TRUE(git);
    const Path git_dir = git->parent_path();
    if (fs::exists(git_dir / "pi"))
        GTEST_SKIP() << "a real pi lives beside git in " << git_dir;

    const std::string dir = work().string();
    const auto result =
        run_kelvo({"pi"}, home(), work(),
                  {{"PATH", git_dir.string()}, {"GIT_CEILING_DIRECTORIES", m_tmp.path().string()}});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Error: spawn pi\n\nCaused by:\n    No such file or directory\n");
    EXPECT_EQ(result.out,
              launch_lines(dir, {{"KELVO_MAIN_REPO", dir}, {"KELVO_WORKTREE", dir}, {"PWD", dir}}));
}

TEST_F(PiCommand, LinkedWorktreeOnBranchNamesMainWorktreeAndBranch) {
    const Path main = make_repo(m_tmp / "main");
    git(main, {"worktree", "add", "-q", "-b", "feat", (m_tmp / "feat").string()});
    const std::string linked = (m_tmp / "feat").string();
    install_recording_pi();

    const auto result = run_pi({}, m_tmp / "feat");
    EXPECT_EQ(result.status, 0) << result.err;
    const std::map<std::string, std::string> expected = {{"KELVO_BRANCH", "feat"},
                                                         {"KELVO_MAIN_REPO", main.string()},
                                                         {"KELVO_WORKTREE", linked},
                                                         {"PWD", linked}};
    EXPECT_EQ(result.out, launch_lines(linked, expected));

    const Record record = read_record();
    EXPECT_EQ(record.cwd, linked);
    EXPECT_EQ(record.var("KELVO_BRANCH"), "feat");
    EXPECT_EQ(record.var("KELVO_MAIN_REPO"), main.string());
    EXPECT_EQ(record.var("KELVO_WORKTREE"), linked);
    EXPECT_FALSE(record.env.contains("KELVO_QUICK_BASE"));
}

TEST_F(PiCommand, DetachedHeadSetsNoBranch) {
    const Path main = make_repo(m_tmp / "main");
    git(main, {"checkout", "-q", "--detach"});
    install_recording_pi();

    const auto result = run_pi({}, main);
    EXPECT_EQ(result.status, 0) << result.err;
    const std::string dir = main.string();
    EXPECT_EQ(result.out,
              launch_lines(dir, {{"KELVO_MAIN_REPO", dir}, {"KELVO_WORKTREE", dir}, {"PWD", dir}}));
    const Record record = read_record();
    EXPECT_FALSE(record.env.contains("KELVO_BRANCH"));
    EXPECT_EQ(record.var("KELVO_MAIN_REPO"), dir);
}

TEST_F(PiCommand, RelativeCwdIsKeptAsTyped) {
    fs::create_directories(work() / "sub");
    const std::string typed_lines = launch_lines(
        "sub", {{"KELVO_MAIN_REPO", "sub"}, {"KELVO_WORKTREE", "sub"}, {"PWD", "sub"}});

    // The agent runs in the directory the relative path names from here...
    install_recording_pi();
    auto result = run_pi({"--cwd", "sub"}, work());
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, typed_lines);
    EXPECT_EQ(read_record().cwd, (work() / "sub").string());

    // ...and is handed the path as typed.
    install_env_printing_pi();
    result = run_pi({"--cwd=sub"}, work());
    EXPECT_EQ(result.status, 0) << result.err;
    ASSERT_EQ(result.out.rfind(typed_lines, 0), 0u) << result.out;
    const std::string agent_out = result.out.substr(typed_lines.size());
    EXPECT_NE(agent_out.find("\nPWD=sub\n"), std::string::npos) << agent_out;
    EXPECT_NE(agent_out.find("\nKELVO_WORKTREE=sub\n"), std::string::npos) << agent_out;
}

TEST_F(PiCommand, InheritedVariablesReachTheAgentUnchanged) {
    install_env_printing_pi();
    const Env inherited = {
        {"HTTPS_PROXY", "http://inherited:3128"},
        {"no_proxy", "localhost, .corp"},
        {"KELVO_TEST_INHERITED", "two words = one"},
        {"PWD", "/somewhere/else"},
    };
    const auto result = run_pi({}, work(), inherited);
    EXPECT_EQ(result.status, 0) << result.err;

    // The default preferences set no proxy, so none is printed or replaced;
    // everything the agent prints comes after the launch lines.
    const std::string dir = work().string();
    const std::string lines =
        launch_lines(dir, {{"KELVO_MAIN_REPO", dir}, {"KELVO_WORKTREE", dir}, {"PWD", dir}});
    ASSERT_EQ(result.out.rfind(lines, 0), 0u) << result.out;
    const std::string agent_out = "\n" + result.out.substr(lines.size());
    for (const auto& line : {"HTTPS_PROXY=http://inherited:3128", "no_proxy=localhost, .corp",
                             "KELVO_TEST_INHERITED=two words = one"})
        EXPECT_NE(agent_out.find("\n" + std::string(line) + "\n"), std::string::npos) << line;
    EXPECT_NE(agent_out.find("\nPWD=" + dir + "\n"), std::string::npos);
    EXPECT_EQ(agent_out.find("\nPWD=/somewhere/else\n"), std::string::npos);
}

TEST_F(PiCommand, InterruptKeysBelongToTheRunningAgent) {
    // The terminal sends Ctrl-C to both processes; here the agent passes it
    // to kelvo-cli and then to itself. kelvo-cli must outlive the first and
    // report how the agent ended; the agent must still die of the second.
    install_recording_pi("kill -INT $PPID\nkill -INT $$\nexit 0");
    const auto result = run_pi({}, work());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Error: pi exited with signal: 2 (SIGINT)\n");
}

TEST_F(PiCommand, InterruptIgnoredByTheCallerStaysIgnoredForTheAgent) {
    // As a shell leaves a command started in the background.
    install_recording_pi("kill -INT $$\nexit 0");
    const char* path = std::getenv("PATH");
    const auto result = run("sh", {"-c", "trap '' INT; exec \"$0\" pi", KELVO_CLI_PATH}, work(),
                            {{"HOME", home().string()},
                             {"NO_COLOR", "1"},
                             {"GIT_CEILING_DIRECTORIES", m_tmp.path().string()},
                             {"PATH", bin().string() + ":" + (path ? path : "")}});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(fs::exists(record_file()));
}

TEST_F(PiCommand, UnreadableCurrentDirectoryFailsBeforeAnyLine) {
    install_recording_pi();
    // The shell leaves kelvo-cli in a directory that no longer exists.
    const auto result =
        run("sh",
            {"-c", "mkdir gone && cd gone && rmdir ../gone && exec \"$0\" pi --cwd \"$1\"",
             KELVO_CLI_PATH, work().string()},
            work(), {{"HOME", home().string()}, {"NO_COLOR", "1"}});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Error: No such file or directory\n");
    EXPECT_FALSE(fs::exists(record_file()));
}

} // namespace
} // namespace kelvo::test
