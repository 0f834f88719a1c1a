#include "cli/handlers.hpp"

#include "cli/output.hpp"
#include "cli/repo.hpp"
#include "cli/run_pi.hpp"
#include "core/paths.hpp"
#include "core/text.hpp"
#include "git/branch.hpp"
#include "git/path.hpp"
#include "git/worktree.hpp"
#include "store/paths_equal.hpp"
#include "store/store.hpp"

namespace kelvo::cli {

namespace {

const char* flag(bool value) {
    return value ? "true" : "false";
}

// What wt new takes from the repository's project, or the defaults.
struct ProjectSettings {
    std::string worktree_template = kDefaultWorktreeTemplate;
    std::optional<std::string> quick_base;
};

// Opens the store for a command that can do without it: a store that cannot
// be opened counts as none, except one held too long by another of our
// processes, which exists and must not be passed over (the command would
// take the wrong settings, or lose its record while reporting success).
Result<std::optional<store::Store>, ErrorChain> open_optional_store() {
    auto store = store::Store::open_default();
    if (store)
        return std::optional<store::Store>(std::move(store).value());
    if (store.error().lock_timed_out())
        return fail(ErrorChain::from(store.error()));
    return std::optional<store::Store>();
}

// Reads the settings and lets the store (and its lock) go at once, so that
// git and the agent never run while this command holds the state lock.
Result<ProjectSettings, ErrorChain> project_settings(const Path& root) {
    ProjectSettings settings;
    auto store = open_optional_store();
    if (!store)
        return fail(std::move(store).error());
    if (!*store)
        return settings;
    if (const Project* project = find_repo_project((*store)->data().projects, root)) {
        settings.worktree_template = project->worktree_dir_template;
        settings.quick_base = project->quick_base;
    }
    return settings;
}

// Records the new worktree's thread through a fresh load of the store;
// nothing is recorded without a store or a project for the repository.
Outcome record_thread(const Path& root, const Path& worktree, const std::string& name) {
    auto opened = open_optional_store();
    if (!opened)
        return fail(std::move(opened).error());
    auto& store = *opened;
    if (!store)
        return {};
    const Project* project = find_repo_project(store->data().projects, root);
    if (!project)
        return {};
    auto leaf = paths::last_name(worktree);
    std::string title = leaf && text::is_valid_utf8(*leaf) ? *leaf : name;
    if (auto thread = store->ensure_git_thread(project->id, worktree, std::move(title)); !thread)
        return fail(ErrorChain::from(thread.error()));
    return {};
}

// The thread of the repository's project whose Git worktree is `path`.
std::optional<ThreadId> thread_for_worktree(const store::Store& store, const Path& root,
                                            const Path& path) {
    const Project* project = find_repo_project(store.data().projects, root);
    if (!project)
        return std::nullopt;
    const store::PathMatcher target(path);
    for (const auto& thread : store.data().threads) {
        const auto* worktree = std::get_if<workspace::GitWorktree>(&thread.workspace);
        if (thread.project_id == project->id && worktree && target.matches(worktree->path))
            return thread.id;
    }
    return std::nullopt;
}

} // namespace

Outcome wt_list(const WtList& cmd) {
    auto root = resolve_repo(cmd.repo);
    if (!root)
        return fail(std::move(root).error());
    // The dirty flag is not shown, so its per-worktree status runs are skipped.
    auto worktrees = git::list_worktrees(*root, git::Dirty::Skip);
    if (!worktrees)
        return fail(ErrorChain::from(worktrees.error()));
    for (const auto& worktree : *worktrees) {
        print(text::display(worktree.path) + "\t" + worktree.branch.value_or("detached") +
              "\tmain=" + flag(worktree.is_main) + "\tlocked=" + flag(worktree.locked) + "\n");
    }
    return {};
}

Outcome wt_new(const WtNew& cmd) {
    auto root = resolve_repo(cmd.repo);
    if (!root)
        return fail(std::move(root).error());
    auto found = project_settings(*root);
    if (!found)
        return fail(std::move(found).error());
    const ProjectSettings& settings = *found;

    std::string base;
    if (cmd.base) {
        base = *cmd.base;
    } else {
        auto default_base = git::resolve_default_base(*root);
        if (settings.quick_base)
            base = *settings.quick_base;
        else if (default_base)
            base = *default_base;
        else
            return fail(ErrorChain("no base: pass --base or set quick base"));
    }

    const Path target = git::worktree_path(*root, settings.worktree_template, cmd.name);
    print("repo  " + text::display(*root) + "\nbase  " + base + "\npath  " + text::display(target) +
          "\n");
    if (cmd.path_only)
        return {};

    if (auto created = git::create_worktree(*root, cmd.name, target, base, true); !created)
        return fail(ErrorChain::from(created.error()));
    if (auto recorded = record_thread(*root, target, cmd.name); !recorded)
        return recorded;
    print("created worktree " + cmd.name + " from " + base + "\n");

    if (!cmd.pi)
        return {};
    return run_pi({target, *root, cmd.name, base}, false);
}

Outcome wt_remove(const WtRemove& cmd) {
    auto root = resolve_repo(cmd.repo);
    if (!root)
        return fail(std::move(root).error());
    auto opened = open_optional_store();
    if (!opened)
        return fail(std::move(opened).error());
    auto& store = *opened;

    // Found before git removes the directory, which the comparison resolves.
    // git takes a relative path from the repository root, and so does the
    // lookup, or the thread would outlive its worktree.
    std::optional<ThreadId> thread;
    if (store)
        thread = thread_for_worktree(*store, *root,
                                     cmd.path.is_relative() ? *root / cmd.path : cmd.path);

    if (auto removed = git::remove_worktree(*root, cmd.path, cmd.force); !removed)
        return fail(ErrorChain::from(removed.error()));
    if (thread) {
        if (auto forgotten = store->remove_thread(*thread); !forgotten)
            return fail(ErrorChain::from(forgotten.error()));
    }
    print("removed " + text::display(cmd.path) + "\n");
    return {};
}

Outcome branches(const Branches& cmd) {
    auto root = resolve_repo(cmd.repo);
    if (!root)
        return fail(std::move(root).error());
    auto names = git::list_branches(*root);
    if (!names)
        return fail(ErrorChain::from(names.error()));
    for (const auto& name : *names)
        print(name + "\n");
    return {};
}

Outcome default_base(const DefaultBase& cmd) {
    auto root = resolve_repo(cmd.repo);
    if (!root)
        return fail(std::move(root).error());
    print(git::resolve_default_base(*root).value_or("(none)") + "\n");
    return {};
}

} // namespace kelvo::cli
