#include "cli/repo.hpp"

#include "core/paths.hpp"
#include "git/worktree.hpp"

#include <cerrno>
#include <climits>
#include <string>
#include <unistd.h>

namespace kelvo::cli {

Result<Path, OsError> current_directory() {
    std::string buffer(PATH_MAX, '\0');
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            return fail(OsError::last());
        buffer.resize(buffer.size() * 2);
    }
    buffer.resize(buffer.find('\0'));
    return Path(buffer);
}

Result<Path, ErrorChain> resolve_repo(const std::optional<Path>& repo) {
    auto cwd = current_directory();
    if (!cwd)
        return fail(ErrorChain::from_os(cwd.error()));
    auto root = git::repo_root(repo ? *repo : *cwd);
    if (!root)
        return fail(ErrorChain::from(root.error()));
    return std::move(root).value();
}

} // namespace kelvo::cli

namespace kelvo::cli {

const Project* find_repo_project(const std::vector<Project>& projects, const Path& root) {
    for (const auto& project : projects)
        if (paths::components_equal(project.main_path, root))
            return &project;
    return nullptr;
}

} // namespace kelvo::cli
