#pragma once

// What an agent process is to be: program, arguments, working directory and
// the variables that tell it where it works.

#include "core/model.hpp"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvo::agent {

// Variables to set on top of the inherited environment. Ordered by name so
// that whoever prints them gets a stable order.
using EnvMap = std::map<std::string, std::string>;

// The workspace an agent is started in.
struct LaunchWorkspace {
    Path worktree;  // directory the agent works in
    Path main_repo; // the repository's main working tree, or the best substitute
    std::optional<std::string> branch;
    std::optional<std::string> quick_base; // the ref the worktree was created from
};

// An agent process to start; owns all its values.
struct LaunchSpec {
    std::string program; // looked up in PATH when it has no "/"
    std::vector<std::string> args;
    Path cwd; // the worktree's exact bytes
    EnvMap env;
    AgentKind agent;

    friend bool operator==(const LaunchSpec&, const LaunchSpec&) = default;
};

// The LaunchSpec for running `kind` in `workspace` with `prefs`. Pure: reads no
// files, no environment, no git. Program and arguments are copied unchecked.
LaunchSpec launch_agent(const AppPrefs& prefs, AgentKind kind, const LaunchWorkspace& workspace);

// Sets both spellings of a proxy variable to the value trimmed of Unicode
// white space, replacing earlier entries; a blank value sets nothing.
void insert_proxy_pair(EnvMap& env, std::string_view upper, std::string_view lower,
                       std::string_view value);

} // namespace kelvo::agent
