#include "cli/project_lookup.hpp"

#include <gtest/gtest.h>

namespace kelvo::cli {
namespace {

std::vector<Project> sample() {
    return {Project::create("api", "/src/web-app"), Project::create("web-app", "/src/other"),
            Project::create("tools", "/src/caf\xe9/tools")};
}

TEST(FindProject, FirstProjectWhoseNameOrPathMatches) {
    const auto projects = sample();
    const std::pair<const char*, int> cases[] = {
        {"api", 0},
        {"web-app", 0}, // the first project's path contains what the second is
                        // named
        {"other", 1},
        {"/src/", 0},
        {"", 0},
        {"API", -1}, // case-sensitive
        {"tool", 2},
        {"caf\xef\xbf\xbd", 2}, // paths are matched as their lossy text
        {"caf\xe9", -1},
        {"nothing", -1},
    };
    for (const auto& [query, index] : cases) {
        const Project* found = find_project(projects, query);
        if (index < 0)
            EXPECT_EQ(found, nullptr) << query;
        else
            EXPECT_EQ(found, &projects[index]) << query;
    }
    EXPECT_EQ(find_project({}, ""), nullptr);
}

TEST(DebugNotation, QuotesAndEscapes) {
    const std::pair<std::optional<std::string>, const char*> cases[] = {
        {std::nullopt, "None"},
        {"origin/main", R"(Some("origin/main"))"},
        {"", R"(Some(""))"},
        {"a\"b\\c", R"(Some("a\"b\\c"))"},
        {std::string("t\tn\nr\r0") + '\0', R"(Some("t\tn\nr\r0\0"))"},
        {"\x1b[1m\x7f", R"(Some("\u{1b}[1m\u{7f}"))"},
        {"\xc2\x85 \xe2\x80\xae \xef\xbb\xbf", R"(Some("\u{85} \u{202e} \u{feff}"))"},
        {"caf\xc3\xa9 \xe2\x82\xac '", "Some(\"caf\xc3\xa9 \xe2\x82\xac '\")"},
        {"bad\xff", "Some(\"bad\xef\xbf\xbd\")"},
    };
    for (const auto& [value, expected] : cases)
        EXPECT_EQ(debug_optional(value), expected);
}

} // namespace
} // namespace kelvo::cli
