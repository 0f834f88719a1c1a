// Placeholder entry until the grammar and dispatch land.
#include "cli/app.hpp"

#include <cstdio>

namespace kelvo::cli {

int run(int, char**) {
    std::fputs("Error: not implemented yet: kelvo-cli\n", stderr);
    return 1;
}

} // namespace kelvo::cli
