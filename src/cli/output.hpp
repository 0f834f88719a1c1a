#pragma once

// Result lines go to standard output through C stdio, the same stream the
// logger writes to, so lines keep their order.

#include <cstdio>
#include <string_view>

namespace kelvo::cli {

inline void print(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

} // namespace kelvo::cli
