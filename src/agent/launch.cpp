#include "agent/launch.hpp"

#include "core/text.hpp"

#include <type_traits>

namespace kelvo::agent {

void insert_proxy_pair(EnvMap& env, std::string_view upper, std::string_view lower,
                       std::string_view value) {
    const std::string_view trimmed = text::trim(value);
    if (trimmed.empty())
        return;
    env.insert_or_assign(std::string(upper), std::string(trimmed));
    env.insert_or_assign(std::string(lower), std::string(trimmed));
}

LaunchSpec launch_agent(const AppPrefs& prefs, AgentKind kind, const LaunchWorkspace& workspace) {
    LaunchSpec spec;
    const std::string worktree = text::display(workspace.worktree);
    spec.env.emplace("KELVO_WORKTREE", worktree);
    spec.env.emplace("KELVO_MAIN_REPO", text::display(workspace.main_repo));
    if (workspace.branch)
        spec.env.emplace("KELVO_BRANCH", *workspace.branch);
    if (workspace.quick_base)
        spec.env.emplace("KELVO_QUICK_BASE", *workspace.quick_base);
    spec.env.emplace("PWD", worktree);
    // There is no HTTPS preference: the HTTP one serves both.
    insert_proxy_pair(spec.env, "HTTP_PROXY", "http_proxy", prefs.http_proxy);
    insert_proxy_pair(spec.env, "HTTPS_PROXY", "https_proxy", prefs.http_proxy);
    insert_proxy_pair(spec.env, "ALL_PROXY", "all_proxy", prefs.all_proxy);
    insert_proxy_pair(spec.env, "NO_PROXY", "no_proxy", prefs.no_proxy);

    std::visit(
        [&](const auto& k) {
            using K = std::decay_t<decltype(k)>;
            if constexpr (std::is_same_v<K, agent_kind::Pi>) {
                spec.program = prefs.pi_bin;
                spec.args = prefs.pi_extra_args;
            } else if constexpr (std::is_same_v<K, agent_kind::Codex>) {
                spec.program = prefs.codex_bin;
                spec.args = prefs.codex_extra_args;
            } else if constexpr (std::is_same_v<K, agent_kind::Claude>) {
                spec.program = prefs.claude_bin;
                spec.args = prefs.claude_extra_args;
            } else {
                static_assert(std::is_same_v<K, agent_kind::Custom>);
                spec.program = k.command;
                spec.args = k.args;
            }
        },
        kind);
    spec.cwd = workspace.worktree;
    spec.agent = std::move(kind);
    return spec;
}

} // namespace kelvo::agent
