// The status parser: never crashes, its result is sorted by path component
// and every entry has a path of its own.

#include "core/paths.hpp"
#include "git/diff.hpp"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto files = kelvo::git::parse_porcelain_status(text);
    if (files.size() > size / 4 + 1)
        std::abort();
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (files[i].path.empty())
            std::abort();
        if (i > 0 && kelvo::paths::components_less(files[i].path, files[i - 1].path))
            std::abort();
    }
    return 0;
}
