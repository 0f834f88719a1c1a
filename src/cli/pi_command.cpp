#include "cli/handlers.hpp"

namespace kelvo::cli {

Outcome pi(const Pi&) { return fail(ErrorChain("not implemented yet: pi")); }

} // namespace kelvo::cli
