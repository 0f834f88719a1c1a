#include "core/model.hpp"

#include "support/scoped_env.hpp"

#include <gtest/gtest.h>

namespace kelvo {
namespace {

TEST(Model, DefaultEditorComesFromEditorThenVisualThenZed) {
    struct Case {
        std::optional<std::string> editor;
        std::optional<std::string> visual;
        const char* expected;
    };
    const Case cases[] = {
        {"nvim", "code", "nvim"},
        {std::nullopt, "code", "code"},
        {"", "code", ""},
        {std::nullopt, std::nullopt, "zed"},
        {"caf\xe9", "code", "code"}, // not UTF-8: unavailable
        {"caf\xe9", std::nullopt, "zed"},
    };
    for (const auto& c : cases) {
        test::ScopedEnv editor("EDITOR", c.editor);
        test::ScopedEnv visual("VISUAL", c.visual);
        EXPECT_EQ(AppPrefs::defaults().editor_cmd, c.expected)
            << c.editor.value_or("<unset>") << " / " << c.visual.value_or("<unset>");
        EXPECT_EQ(AppPrefs{}.editor_cmd, c.expected);
    }
}

TEST(Model, PreferenceDefaults) {
    test::ScopedEnv editor("EDITOR", "vi");
    const AppPrefs p = AppPrefs::defaults();
    EXPECT_EQ(p.editor_cmd, "vi");
    EXPECT_EQ(p.pi_bin, "pi");
    EXPECT_EQ(p.codex_bin, "codex");
    EXPECT_EQ(p.claude_bin, "claude");
    EXPECT_TRUE(p.pi_extra_args.empty());
    EXPECT_TRUE(p.codex_extra_args.empty());
    EXPECT_TRUE(p.claude_extra_args.empty());
    EXPECT_EQ(p.http_proxy, "");
    EXPECT_EQ(p.all_proxy, "");
    EXPECT_EQ(p.no_proxy, "");
    EXPECT_TRUE(p.default_start_pi_on_create);
}

TEST(Model, ProjectCreate) {
    const Timestamp before = timestamp::now();
    const Project p = Project::create("app", "/src/app");
    const Timestamp after = timestamp::now();
    EXPECT_EQ(p.name, "app");
    EXPECT_EQ(p.main_path, Path("/src/app"));
    EXPECT_EQ(p.kind, ProjectKind::Git);
    EXPECT_EQ(p.worktree_dir_template, "../worktrees/{repo}");
    EXPECT_FALSE(p.quick_base);
    EXPECT_FALSE(p.preferred_editor);
    EXPECT_LE(before, p.created_at);
    EXPECT_LE(p.created_at, after);
    EXPECT_NE(Project::create("app", "/src/app").id, p.id);
}

TEST(Model, ThreadCopiesAreDeep) {
    AgentThread original;
    original.id = ThreadId::random();
    original.project_id = ProjectId::random();
    original.title = "main";
    original.workspace = workspace::GitWorktree{"/src/app"};
    original.selected_agent = agent_kind::Custom{"aider", {"--model", "x"}};
    original.created_at = timestamp::now();
    original.updated_at = original.created_at;

    AgentThread copy = original;
    EXPECT_EQ(copy, original);
    auto& custom = std::get<agent_kind::Custom>(*copy.selected_agent);
    const auto& source = std::get<agent_kind::Custom>(*original.selected_agent);
    EXPECT_NE(custom.command.data(), source.command.data());
    EXPECT_NE(custom.args.data(), source.args.data());
    custom.args[1] = "y";
    custom.command = "other";
    EXPECT_EQ(source.args[1], "x");
    EXPECT_EQ(source.command, "aider");
}

} // namespace
} // namespace kelvo
