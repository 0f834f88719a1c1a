#pragma once

#include "core/model.hpp"
#include "core/paths.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace kelvo::store {

// The schema version this program writes; documents up to it are read.
inline constexpr std::uint32_t kSchemaVersion = 3;

// Orders paths component by component, so /a/b and /a/b/ are one key.
struct PathComponentsLess {
    bool operator()(const Path& a, const Path& b) const { return paths::components_less(a, b); }
};

// The agent kind a new thread starts with, by worktree or directory path.
using WorktreeAgents = std::map<Path, AgentKind, PathComponentsLess>;

// The whole persisted document.
struct StoreData {
    std::uint32_t schema_version = kSchemaVersion;
    std::vector<Project> projects;
    AppPrefs prefs; // defaults read from the environment when built
    std::vector<AgentThread> threads;
    std::vector<ThreadAgentBinding> agent_bindings;
    std::optional<ThreadId> last_selected_thread_id;
    WorktreeAgents worktree_agents;

    friend bool operator==(const StoreData&, const StoreData&) = default;
};

} // namespace kelvo::store
