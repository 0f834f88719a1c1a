#include "git/exec.hpp"

#include "core/error_chain.hpp"
#include "core/text.hpp"
#include "support/fixtures.hpp"
#include "support/git_repos.hpp"

#include <gtest/gtest.h>

namespace kelvo::git {
namespace {

class Exec : public testing::Test {
protected:
    void SetUp() override { test::use_hermetic_git(); }
    test::TempDir m_tmp;
};

const GitError::CommandFailed& command_failed(const GitError& error) {
    const auto* failed = error.get_if<GitError::CommandFailed>();
    if (!failed)
        throw std::runtime_error("not CommandFailed: " + error.message());
    return *failed;
}

TEST_F(Exec, ReturnsOutputWithItsNewline) {
    const auto repo = test::make_repo(m_tmp / "dépôt avec espace");
    const auto out = git(repo / ".", {"rev-parse", "--abbrev-ref", "HEAD"});
    ASSERT_TRUE(out) << out.error().message();
    EXPECT_EQ(*out, "main\n");
    EXPECT_TRUE(git_ok(repo, {"rev-parse", "HEAD"}));
}

TEST_F(Exec, InvalidUtf8IsReplacedOnlyInText) {
    const auto repo = test::make_repo(m_tmp / "repo");
    test::write_file(repo / "blob", "a\xff"
                                    "b\n");
    const std::string id(text::trim(test::git(repo, {"hash-object", "-w", "blob"})));
    const auto bytes = git_bytes(repo, {"cat-file", "blob", id});
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, "a\xff"
                      "b\n");
    const auto text = git(repo, {"cat-file", "blob", id});
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, "a\xef\xbf\xbd"
                     "b\n");
}

TEST_F(Exec, NonZeroExitCarriesCodeAndTrimmedStderr) {
    const auto repo = test::make_repo(m_tmp / "repo");
    const auto out = git(repo, {"rev-parse", "--verify", "--end-of-options", "no-such-ref"});
    ASSERT_FALSE(out);
    EXPECT_EQ(command_failed(out.error()).status, 128);
    EXPECT_EQ(out.error().message(), "git failed (128): fatal: Needed a single revision");
    EXPECT_TRUE(out.error().causes().empty());
    EXPECT_FALSE(git_ok(repo, {"rev-parse", "--verify", "--end-of-options", "no-such-ref"}));
}

TEST_F(Exec, StandardErrorAndExitFromAStandIn) {
    struct Case {
        const char* script;
        bool ok;
        const char* result; // the output, or the error's message
    };
    const Case cases[] = {
        {"printf 'out\\n'; printf 'noise\\n' >&2; exit 0", true, "out\n"},
        {"exit 0", true, ""},
        {"exit 1", false, "git failed (1): "},
        {"printf '\\n  message\\n' >&2; exit 3", false, "git failed (3): message"},
        {"printf ' \\r\\n\\t' >&2; exit 255", false, "git failed (255): "},
        {"printf 'bad \\377\\n' >&2; exit 2", false, "git failed (2): bad \xef\xbf\xbd"},
        {"printf 'lost' ; exit 4", false, "git failed (4): "},
        // Killed by a signal: -1, with what was written before.
        {"printf 'dying\\n' >&2; kill -9 $$", false, "git failed (-1): dying"},
    };
    for (const auto& c : cases) {
        test::TempDir bin;
        test::FakeGit fake(bin.path(), c.script);
        const auto out = git(m_tmp.path(), {"anything"});
        ASSERT_EQ(bool(out), c.ok) << c.script;
        EXPECT_EQ(out ? *out : out.error().message(), c.result) << c.script;
        const auto ok = git_ok(m_tmp.path(), {"anything"});
        EXPECT_EQ(ok ? std::string() : ok.error().message(), c.ok ? "" : c.result) << c.script;
    }
}

TEST_F(Exec, ArgumentsDirectoryAndEnvironmentReachGitUnchanged) {
    test::TempDir bin;
    test::FakeGit fake(bin.path(), "pwd; printf '%s\\n' \"$KELVO_PROBE\"");
    test::ScopedEnv probe("KELVO_PROBE", "inherited");
    const std::vector<std::string> args = {"a b", "", "--c=*", "$HOME", "line\nbreak", "ü"};
    const auto out = git(m_tmp.path(), args);
    ASSERT_TRUE(out) << out.error().message();
    EXPECT_EQ(*out, m_tmp.path().string() + "\ninherited\n");
    EXPECT_EQ(fake.calls(), std::vector<std::vector<std::string>>{args});
}

TEST_F(Exec, MissingGitIsGitNotFound) {
    test::TempDir empty;
    for (const std::string& path : {std::string(), empty.path().string()}) {
        test::ScopedEnv no_git("PATH", path);
        const auto out = git(m_tmp.path(), {"--version"});
        ASSERT_FALSE(out) << "PATH=" << path;
        EXPECT_NE(out.error().get_if<GitError::GitNotFound>(), nullptr);
        EXPECT_EQ(out.error().message(), "git not found on PATH");
        EXPECT_TRUE(out.error().causes().empty());
    }
}

TEST_F(Exec, MissingWorkingDirectoryIsNamedNotMistakenForMissingGit) {
    const auto missing = m_tmp / "gone";
    const auto out = git(missing, {"status"});
    ASSERT_FALSE(out);
    ASSERT_NE(out.error().get_if<GitError::Io>(), nullptr) << out.error().message();
    const std::string os_text = "cannot enter " + missing.string() + ": No such file or directory";
    EXPECT_EQ(out.error().message(), "io: " + os_text);
    EXPECT_EQ(ErrorChain::from(out.error()).report(),
              "Error: io: " + os_text + "\n\nCaused by:\n    " + os_text + "\n");
}

TEST_F(Exec, OtherSpawnFailuresAreIo) {
    test::TempDir bin;
    test::write_file(bin / "git", "#!/bin/sh\nexit 0\n");
    std::filesystem::permissions(bin / "git", std::filesystem::perms::owner_read);
    test::ScopedEnv path("PATH", bin.path().string());
    const auto out = git(m_tmp.path(), {"status"});
    ASSERT_FALSE(out);
    ASSERT_NE(out.error().get_if<GitError::Io>(), nullptr) << out.error().message();
    EXPECT_EQ(out.error().message(), "io: Permission denied");
}

} // namespace
} // namespace kelvo::git
