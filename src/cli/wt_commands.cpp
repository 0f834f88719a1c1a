#include "cli/handlers.hpp"

namespace kelvo::cli {

Outcome wt_list(const WtList&) { return fail(ErrorChain("not implemented yet: wt list")); }
Outcome wt_new(const WtNew&) { return fail(ErrorChain("not implemented yet: wt new")); }
Outcome wt_remove(const WtRemove&) { return fail(ErrorChain("not implemented yet: wt remove")); }
Outcome branches(const Branches&) { return fail(ErrorChain("not implemented yet: branches")); }
Outcome default_base(const DefaultBase&) {
    return fail(ErrorChain("not implemented yet: default-base"));
}

} // namespace kelvo::cli
