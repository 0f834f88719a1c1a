#pragma once

// The parsed command line: one typed value per leaf command.

#include <filesystem>
#include <optional>
#include <string>
#include <variant>

namespace kelvo::cli {

using Path = std::filesystem::path;

struct ProjectAdd {
    Path path;
    std::optional<std::string> quick_base;
};
struct ProjectList {};
struct ProjectSetQuickBase {
    std::string project;
    std::string base;
};
using ProjectCmd = std::variant<ProjectAdd, ProjectList, ProjectSetQuickBase>;

struct WtList {
    std::optional<Path> repo;
};
struct WtNew {
    std::string name;
    std::optional<Path> repo;
    std::optional<std::string> base;
    bool path_only = false;
    bool pi = false;
};
struct WtRemove {
    Path path;
    std::optional<Path> repo;
    bool force = false;
};
using WtCmd = std::variant<WtList, WtNew, WtRemove>;

struct Branches {
    std::optional<Path> repo;
};
struct DefaultBase {
    std::optional<Path> repo;
};
struct Pi {
    std::optional<Path> cwd;
    bool dry_run = false;
};

using Cmd = std::variant<ProjectCmd, WtCmd, Branches, DefaultBase, Pi>;

struct Cli {
    Cmd command;
};

} // namespace kelvo::cli
