#pragma once

// One handler per leaf command. Each prints its own result lines and returns
// success or the error chain that the entry reports at exit.

#include "cli/command.hpp"
#include "core/error_chain.hpp"
#include "core/result.hpp"

namespace kelvo::cli {

using Outcome = Result<void, ErrorChain>;

// project_commands.cpp
Outcome project_add(const ProjectAdd& cmd);
Outcome project_list(const ProjectList& cmd);
Outcome project_set_quick_base(const ProjectSetQuickBase& cmd);

// wt_commands.cpp
Outcome wt_list(const WtList& cmd);
Outcome wt_new(const WtNew& cmd);
Outcome wt_remove(const WtRemove& cmd);
Outcome branches(const Branches& cmd);
Outcome default_base(const DefaultBase& cmd);

// pi_command.cpp
Outcome pi(const Pi& cmd);

} // namespace kelvo::cli
