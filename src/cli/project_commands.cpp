#include "cli/handlers.hpp"
#include "cli/output.hpp"
#include "cli/project_lookup.hpp"
#include "core/paths.hpp"
#include "core/text.hpp"
#include "git/branch.hpp"
#include "git/worktree.hpp"
#include "store/store.hpp"

#include <filesystem>
#include <map>
#include <string>

namespace kelvo::cli {

namespace {

// The path's last component when it is an ordinary UTF-8 name.
std::optional<std::string> utf8_name(const Path& path) {
    auto name = paths::last_name(path);
    if (name && text::is_valid_utf8(*name))
        return name;
    return std::nullopt;
}

} // namespace

Outcome project_add(const ProjectAdd& cmd) {
    auto canonical = paths::canonical(cmd.path);
    if (!canonical)
        return fail(ErrorChain::with_cause("open project directory " + text::display(cmd.path),
                                           canonical.error()));
    std::error_code ec;
    if (!std::filesystem::is_directory(*canonical, ec))
        return fail(ErrorChain("project path is not a directory: " + text::display(*canonical)));

    const bool is_git = git::is_inside_work_tree(*canonical);
    Path root = *canonical;
    if (is_git) {
        auto main = git::main_worktree_path(*canonical);
        if (!main)
            return fail(ErrorChain::from(main.error()));
        root = paths::canonical_or_same(*main);
    }

    Project project = Project::create(utf8_name(root).value_or("project"), root);
    if (!is_git) {
        if (cmd.quick_base)
            return fail(ErrorChain("--quick-base requires a Git project"));
        project.kind = ProjectKind::Directory;
    } else {
        project.quick_base = cmd.quick_base ? cmd.quick_base : git::resolve_default_base(root);
    }

    auto store = store::Store::open_default();
    if (!store)
        return fail(ErrorChain::from(store.error()));
    auto added = store->add_project(std::move(project));
    if (!added)
        return fail(ErrorChain::from(added.error()));

    if (is_git) {
        // Only paths are needed, so the per-worktree status runs are skipped.
        auto worktrees = git::list_worktrees(root, git::Dirty::Skip);
        if (!worktrees)
            return fail(ErrorChain::from(worktrees.error()));
        for (const auto& worktree : *worktrees) {
            auto thread = store->ensure_git_thread(added->id, worktree.path,
                                                   utf8_name(worktree.path).value_or("worktree"));
            if (!thread)
                return fail(ErrorChain::from(thread.error()));
        }
    } else if (auto thread = store->ensure_directory_thread(added->id, root); !thread) {
        return fail(ErrorChain::from(thread.error()));
    }

    print(std::string(added->existed ? "existing" : "added") + (is_git ? " Git" : " directory") +
          " project  path=" + text::display(root) + "  id=" + added->id.to_string() + "\n");
    return {};
}

Outcome project_list(const ProjectList&) {
    auto store = store::Store::open_default();
    if (!store)
        return fail(ErrorChain::from(store.error()));
    const auto& data = store->data();

    // One pass over the threads, so that many projects stay linear.
    std::map<ProjectId, std::size_t> thread_counts;
    for (const auto& t : data.threads)
        ++thread_counts[t.project_id];

    for (const auto& p : data.projects) {
        const auto count = thread_counts.find(p.id);
        std::string line = p.name;
        line += '\t';
        line += text::display(p.main_path);
        line += "\tthreads=";
        line += std::to_string(count == thread_counts.end() ? 0 : count->second);
        line += "\tquick=";
        line += debug_optional(p.quick_base);
        line += '\n';
        print(line);
    }
    return {};
}

Outcome project_set_quick_base(const ProjectSetQuickBase& cmd) {
    auto store = store::Store::open_default();
    if (!store)
        return fail(ErrorChain::from(store.error()));
    const Project* project = find_project(store->data().projects, cmd.project);
    if (!project)
        return fail(ErrorChain("project not found: " + cmd.project));
    if (project->kind != ProjectKind::Git)
        return fail(ErrorChain("default base requires a Git project"));
    if (auto set = store->set_quick_base(project->id, cmd.base); !set)
        return fail(ErrorChain::from(set.error()));
    print("quick_base set to " + cmd.base + "\n");
    return {};
}

} // namespace kelvo::cli
