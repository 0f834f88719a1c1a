// The worktree listing parsers (newline and NUL forms): never crashes, yields no more entries than
// "worktree " lines, marks an entry main only if some entry is.

#include "git/worktree.hpp"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // A reference that cannot exist keeps the parser off the real file system
    // for the reference and exercises the lexical comparison.
    std::size_t records = 0;
    for (std::size_t at = 0; (at = text.find("worktree ", at)) != std::string_view::npos; ++at)
        ++records;
    for (const auto& views : {kelvo::git::parse_porcelain(text, "/nonexistent/kelvo-fuzz/ref"),
                              kelvo::git::parse_porcelain_z(text, "/nonexistent/kelvo-fuzz/ref")}) {
        if (views.size() > records)
            std::abort();
        if (!views.empty() && !views.front().is_main)
            std::abort(); // the first entry is main while the reference cannot be resolved
        for (const auto& v : views)
            if (v.dirty)
                std::abort();
    }
    return 0;
}
