// Exit statuses and streams of the built binary.
#include "support/fixtures.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace kelvo::test {
namespace {

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1))
        ++n;
    return n;
}

class Entry : public ::testing::Test {
protected:
    RunResult kelvo(const std::vector<std::string>& args, Env env = {}) {
        const bool filter_given = std::any_of(env.begin(), env.end(),
                                              [](const auto& e) { return e.first == "KELVO_LOG"; });
        if (!filter_given)
            env.emplace_back("KELVO_LOG", "");
        return run_kelvo(args, m_home.path(), m_home.path(), env);
    }

    TempDir m_home;
};

TEST_F(Entry, HelpGoesToStdoutWithStatusZeroAndLeavesTheStateAlone) {
    const auto r = kelvo({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Usage: kelvo-cli"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(std::filesystem::exists(state_file(m_home.path())));
}

TEST_F(Entry, UsageErrorGoesToStderrWithStatusTwo) {
    const auto r = kelvo({"wt", "new"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("error: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Usage: kelvo-cli wt new"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(state_file(m_home.path())));
}

TEST_F(Entry, RootAlonePrintsItsHelpToStderrWithStatusTwo) {
    const auto r = kelvo({});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Usage: kelvo-cli [OPTIONS] [SUBCOMMAND]"), std::string::npos) << r.err;
}

TEST_F(Entry, HandlerErrorIsReportedOnceWithStatusOne) {
    const auto r = kelvo({"wt", "list", "--repo", (m_home.path() / "nonexistent").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.starts_with("Error: ")) << r.err;
    EXPECT_EQ(count(r.err, "Error: "), 1u) << r.err;
}

TEST_F(Entry, LoggingIsSetUpBeforeTheCommandLineIsRead) {
    const auto r = kelvo({"--help"}, {{"KELVO_LOG", "kelvo_store=debug,loud"}});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "warning: ignoring invalid KELVO_LOG directive 'loud'\n");
}

TEST_F(Entry, UnwritableStdoutIsAFailure) {
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    Env env = hermetic_git_env();
    env.emplace_back("HOME", m_home.path().string());
    const auto r =
        run("sh", {"-c", "exec \"$0\" --help >/dev/full", KELVO_CLI_PATH}, std::nullopt, env);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.starts_with("Error: write standard output\n\nCaused by:\n    ")) << r.err;
}

} // namespace
} // namespace kelvo::test
