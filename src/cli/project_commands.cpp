#include "cli/handlers.hpp"

namespace kelvo::cli {

Outcome project_add(const ProjectAdd&) {
    return fail(ErrorChain("not implemented yet: project add"));
}
Outcome project_list(const ProjectList&) {
    return fail(ErrorChain("not implemented yet: project list"));
}
Outcome project_set_quick_base(const ProjectSetQuickBase&) {
    return fail(ErrorChain("not implemented yet: project set-quick-base"));
}

} // namespace kelvo::cli
