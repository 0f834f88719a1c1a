#include "cli/handlers.hpp"
#include "cli/output.hpp"
#include "cli/project_lookup.hpp"
#include "core/text.hpp"
#include "store/store.hpp"

#include <map>
#include <string>

namespace kelvo::cli {

Outcome project_add(const ProjectAdd&) {
    return fail(ErrorChain("not implemented yet: project add"));
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
