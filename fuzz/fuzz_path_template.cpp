// The worktree path template: for an absolute repository directory the
// result is absolute and normalised (single separators, no "." or "..", no
// trailing separator), whatever the template and branch name.

#include "git/path.hpp"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Input: repository directory, template and branch separated by NUL.
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto first = input.find('\0');
    const auto second = first == std::string_view::npos ? first : input.find('\0', first + 1);
    if (second == std::string_view::npos)
        return 0;
    const std::string repo = "/" + std::string(input.substr(0, first));
    const std::string_view tmpl = input.substr(first + 1, second - first - 1);
    const std::string_view branch = input.substr(second + 1);

    const std::string out = kelvo::git::worktree_path(repo, tmpl, branch).native();
    if (out.empty() || out[0] != '/')
        std::abort();
    if (out.size() > 1 && out.back() == '/')
        std::abort();
    if (out.find("//") != std::string::npos)
        std::abort();
    for (std::size_t at = 0; at < out.size();) {
        const std::size_t end = std::min(out.find('/', at + 1), out.size());
        const std::string_view part(out.data() + at + 1, end - at - 1);
        if (part == "." || part == "..")
            std::abort();
        at = end;
    }
    return 0;
}
