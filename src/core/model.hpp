#pragma once

// The records every subsystem shares: plain values with deep copies, which
// name each other only by id.

#include "core/ids.hpp"
#include "core/timestamp.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kelvo {

using Path = std::filesystem::path;

enum class ProjectKind { Git, Directory };

struct Project {
    ProjectId id;
    std::string name;
    Path main_path;
    ProjectKind kind = ProjectKind::Git;
    std::string worktree_dir_template;
    std::optional<std::string> quick_base;
    std::optional<std::string> preferred_editor;
    Timestamp created_at;

    // A fresh id, kind Git, template "../worktrees/{repo}", created now.
    static Project create(std::string name, Path main_path);

    friend bool operator==(const Project&, const Project&) = default;
};

inline constexpr const char* kDefaultWorktreeTemplate = "../worktrees/{repo}";

namespace workspace {
struct GitWorktree {
    Path path;
    friend bool operator==(const GitWorktree&, const GitWorktree&) = default;
};
struct Directory {
    Path path;
    friend bool operator==(const Directory&, const Directory&) = default;
};
} // namespace workspace
using ThreadWorkspace = std::variant<workspace::GitWorktree, workspace::Directory>;

// The workspace's path, whichever variant it is.
inline const Path& workspace_path(const ThreadWorkspace& w) {
    return std::visit([](const auto& v) -> const Path& { return v.path; }, w);
}

namespace agent_kind {
struct Pi {
    friend bool operator==(const Pi&, const Pi&) = default;
};
struct Codex {
    friend bool operator==(const Codex&, const Codex&) = default;
};
struct Claude {
    friend bool operator==(const Claude&, const Claude&) = default;
};
struct Custom {
    std::string command;
    std::vector<std::string> args;
    friend bool operator==(const Custom&, const Custom&) = default;
};
} // namespace agent_kind
using AgentKind =
    std::variant<agent_kind::Pi, agent_kind::Codex, agent_kind::Claude, agent_kind::Custom>;

struct AgentThread {
    ThreadId id;
    ProjectId project_id;
    std::string title;
    ThreadWorkspace workspace;
    std::optional<AgentKind> selected_agent;
    Timestamp created_at;
    Timestamp updated_at;

    friend bool operator==(const AgentThread&, const AgentThread&) = default;
};

namespace provider {
struct PendingIdentity {
    friend bool operator==(const PendingIdentity&, const PendingIdentity&) = default;
};
struct Pi {
    Uuid session_id;
    friend bool operator==(const Pi&, const Pi&) = default;
};
struct Codex {
    std::string thread_id;
    friend bool operator==(const Codex&, const Codex&) = default;
};
struct Claude {
    Uuid session_id;
    friend bool operator==(const Claude&, const Claude&) = default;
};
struct Unsupported {
    friend bool operator==(const Unsupported&, const Unsupported&) = default;
};
} // namespace provider
using ProviderSessionRef = std::variant<provider::PendingIdentity, provider::Pi, provider::Codex,
                                        provider::Claude, provider::Unsupported>;

enum class DesiredProcessState { Open, Closed };

enum class PersistedTurnHint { Idle, Working, Finished, Failed, Interrupted };

struct ThreadAgentBinding {
    Uuid id;
    ThreadId thread_id;
    std::string agent_key;
    AgentKind agent_kind;
    ProviderSessionRef provider_ref;
    DesiredProcessState desired_process = DesiredProcessState::Open;
    PersistedTurnHint last_turn = PersistedTurnHint::Idle;
    std::uint64_t generation = 0;
    bool started_once = false;
    Timestamp created_at;
    Timestamp updated_at;
    std::optional<Timestamp> last_started_at;
    std::optional<Timestamp> last_resumed_at;
    std::optional<std::int32_t> last_exit_code;
    std::optional<std::string> last_error;

    friend bool operator==(const ThreadAgentBinding&, const ThreadAgentBinding&) = default;
};

// Default member values are the defaults, so AppPrefs{} reads the editor
// from the environment at the moment it is built.
struct AppPrefs {
    std::string editor_cmd = default_editor_cmd();
    std::string pi_bin = "pi";
    std::vector<std::string> pi_extra_args;
    std::string codex_bin = "codex";
    std::vector<std::string> codex_extra_args;
    std::string claude_bin = "claude";
    std::vector<std::string> claude_extra_args;
    std::string http_proxy;
    std::string all_proxy;
    std::string no_proxy;
    bool default_start_pi_on_create = true;

    // EDITOR, else VISUAL, else "zed"; a variable counts when it is set and
    // valid UTF-8, even when empty.
    static std::string default_editor_cmd();
    // The same as AppPrefs{}.
    static AppPrefs defaults() { return AppPrefs{}; }

    friend bool operator==(const AppPrefs&, const AppPrefs&) = default;
};

// One worktree as git lists it.
struct WorktreeView {
    Path path; // as git printed it
    std::optional<std::string> branch;
    bool is_main = false;
    bool dirty = false;
    bool locked = false;
    bool bare = false;

    friend bool operator==(const WorktreeView&, const WorktreeView&) = default;
};

} // namespace kelvo
