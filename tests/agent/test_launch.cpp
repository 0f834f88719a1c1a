#include "agent/launch.hpp"

#include <gtest/gtest.h>

namespace kelvo::agent {
namespace {

AppPrefs prefs_with(void (*edit)(AppPrefs&)) {
    AppPrefs prefs = AppPrefs::defaults();
    edit(prefs);
    return prefs;
}

const AppPrefs kDefaults = AppPrefs::defaults();

EnvMap base_env(const std::string& worktree, const std::string& main_repo) {
    return {{"KELVO_WORKTREE", worktree}, {"KELVO_MAIN_REPO", main_repo}, {"PWD", worktree}};
}

EnvMap plus(EnvMap env, const EnvMap& more) {
    for (const auto& [name, value] : more)
        env.insert_or_assign(name, value);
    return env;
}

const LaunchWorkspace kPlain{"/src/wt/feat", "/src/app", std::nullopt, std::nullopt};
const EnvMap kPlainEnv = base_env("/src/wt/feat", "/src/app");

struct Case {
    const char* name;
    AppPrefs prefs;
    AgentKind kind;
    LaunchWorkspace workspace;
    std::string program;
    std::vector<std::string> args;
    EnvMap env;
};

TEST(LaunchAgent, Table) {
    const std::string fffd = "\xEF\xBF\xBD";
    const Case cases[] = {
        {"defaults", kDefaults, agent_kind::Pi{}, kPlain, "pi", {}, kPlainEnv},
        {"branch and quick base",
         kDefaults,
         agent_kind::Pi{},
         {"/src/wt/feat", "/src/app", "feat", "origin/main"},
         "pi",
         {},
         plus(kPlainEnv, {{"KELVO_BRANCH", "feat"}, {"KELVO_QUICK_BASE", "origin/main"}})},
        {"present but empty branch and quick base",
         kDefaults,
         agent_kind::Pi{},
         {"/src/wt/feat", "/src/app", "", ""},
         "pi",
         {},
         plus(kPlainEnv, {{"KELVO_BRANCH", ""}, {"KELVO_QUICK_BASE", ""}})},
        {"http proxy serves https too, trimmed",
         prefs_with([](AppPrefs& p) { p.http_proxy = "  http://proxy:3128 \t\n"; }),
         agent_kind::Pi{},
         kPlain,
         "pi",
         {},
         plus(kPlainEnv, {{"HTTP_PROXY", "http://proxy:3128"},
                          {"http_proxy", "http://proxy:3128"},
                          {"HTTPS_PROXY", "http://proxy:3128"},
                          {"https_proxy", "http://proxy:3128"}})},
        {"every proxy, Unicode white space trimmed",
         prefs_with([](AppPrefs& p) {
             p.http_proxy = "\thttp://h:1";
             p.all_proxy = "socks5://s:2\r\n";
             p.no_proxy = "\xC2\xA0localhost, .corp\xE3\x80\x80";
         }),
         agent_kind::Pi{},
         kPlain,
         "pi",
         {},
         plus(kPlainEnv, {{"HTTP_PROXY", "http://h:1"},
                          {"http_proxy", "http://h:1"},
                          {"HTTPS_PROXY", "http://h:1"},
                          {"https_proxy", "http://h:1"},
                          {"ALL_PROXY", "socks5://s:2"},
                          {"all_proxy", "socks5://s:2"},
                          {"NO_PROXY", "localhost, .corp"},
                          {"no_proxy", "localhost, .corp"}})},
        {"blank proxies add nothing",
         prefs_with([](AppPrefs& p) {
             p.http_proxy = "   ";
             p.all_proxy = "\t\n";
             p.no_proxy = "\r\n \xC2\xA0";
         }),
         agent_kind::Pi{},
         kPlain,
         "pi",
         {},
         kPlainEnv},
        {"pi program and arguments copied untrimmed and unsplit",
         prefs_with([](AppPrefs& p) {
             p.pi_bin = " /opt/my pi ";
             p.pi_extra_args = {"--model", "a b", ""};
         }),
         agent_kind::Pi{},
         kPlain,
         " /opt/my pi ",
         {"--model", "a b", ""},
         kPlainEnv},
        {"empty program stays empty",
         prefs_with([](AppPrefs& p) { p.pi_bin = ""; }),
         agent_kind::Pi{},
         kPlain,
         "",
         {},
         kPlainEnv},
        {"codex without extra arguments",
         kDefaults,
         agent_kind::Codex{},
         kPlain,
         "codex",
         {},
         kPlainEnv},
        {"claude with its own arguments",
         prefs_with([](AppPrefs& p) {
             p.claude_bin = "claude-x";
             p.claude_extra_args = {"--resume", "x y"};
             p.pi_extra_args = {"--not-mine"};
         }),
         agent_kind::Claude{},
         kPlain,
         "claude-x",
         {"--resume", "x y"},
         kPlainEnv},
        {"custom ignores every built-in preference",
         prefs_with([](AppPrefs& p) {
             p.pi_bin = "pi-bin";
             p.codex_bin = "codex-bin";
             p.claude_bin = "claude-bin";
             p.pi_extra_args = {"--pi"};
         }),
         agent_kind::Custom{"/usr/local/bin/agent", {"--flag", " spaced value "}},
         kPlain,
         "/usr/local/bin/agent",
         {"--flag", " spaced value "},
         kPlainEnv},
        {"invalid UTF-8 paths: variables carry U+FFFD",
         kDefaults,
         agent_kind::Pi{},
         {"/src/caf\xE9/wt", "/src/r\xFF\xFE", std::nullopt, std::nullopt},
         "pi",
         {},
         base_env("/src/caf" + fffd + "/wt", "/src/r" + fffd + fffd)},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const LaunchSpec spec = launch_agent(c.prefs, c.kind, c.workspace);
        EXPECT_EQ(spec.program, c.program);
        EXPECT_EQ(spec.args, c.args);
        EXPECT_EQ(spec.env, c.env);
        // The working directory is the exact path, never its text form.
        EXPECT_EQ(spec.cwd.native(), c.workspace.worktree.native());
        EXPECT_EQ(spec.agent, c.kind);
    }
}

TEST(LaunchAgent, SpecOwnsItsValues) {
    AppPrefs prefs = kDefaults;
    prefs.pi_extra_args = {"--one"};
    LaunchWorkspace workspace{"/w", "/m", "b", std::nullopt};
    AgentKind kind = agent_kind::Custom{"agent", {"x"}};
    const LaunchSpec spec = launch_agent(prefs, kind, workspace);

    prefs.pi_extra_args.clear();
    workspace.worktree = "/elsewhere";
    workspace.branch = "other";
    std::get<agent_kind::Custom>(kind).args.clear();

    EXPECT_EQ(spec.cwd, Path("/w"));
    EXPECT_EQ(spec.env.at("KELVO_BRANCH"), "b");
    EXPECT_EQ(spec.agent, (AgentKind{agent_kind::Custom{"agent", {"x"}}}));
    EXPECT_EQ(spec.args, (std::vector<std::string>{"x"}));
}

TEST(InsertProxyPair, ReplacesBothSpellingsOrLeavesTheMapAlone) {
    EnvMap env{{"HTTP_PROXY", "old"}, {"http_proxy", "old"}, {"OTHER", "kept"}};

    insert_proxy_pair(env, "HTTP_PROXY", "http_proxy", " \t\n");
    EXPECT_EQ(env, (EnvMap{{"HTTP_PROXY", "old"}, {"http_proxy", "old"}, {"OTHER", "kept"}}));

    insert_proxy_pair(env, "HTTP_PROXY", "http_proxy", "\n http://new:8080 \n");
    EXPECT_EQ(env, (EnvMap{{"HTTP_PROXY", "http://new:8080"},
                           {"http_proxy", "http://new:8080"},
                           {"OTHER", "kept"}}));

    // Inner white space belongs to the value.
    insert_proxy_pair(env, "NO_PROXY", "no_proxy", " a, b ");
    EXPECT_EQ(env.at("NO_PROXY"), "a, b");
    EXPECT_EQ(env.at("no_proxy"), "a, b");
}

} // namespace
} // namespace kelvo::agent
