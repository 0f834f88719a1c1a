#include "cli/handlers.hpp"

#include "cli/output.hpp"
#include "cli/repo.hpp"
#include "core/text.hpp"
#include "git/branch.hpp"
#include "git/worktree.hpp"

namespace kelvo::cli {

namespace {

const char* flag(bool value) {
    return value ? "true" : "false";
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

Outcome wt_new(const WtNew&) {
    return fail(ErrorChain("not implemented yet: wt new"));
}
Outcome wt_remove(const WtRemove&) {
    return fail(ErrorChain("not implemented yet: wt remove"));
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
