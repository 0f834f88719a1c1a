#include "core/paths.hpp"

#include "support/fixtures.hpp"

#include <gtest/gtest.h>

namespace kelvo::paths {
namespace {

TEST(Paths, ComponentEquality) {
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"/a/b", "/a/b/", true}, {"/a//b", "/a/b", true},  {"/a/./b", "/a/b", true},
        {"./a", "a", false},     {"/a/../b", "/b", false}, {"/A", "/a", false},
        {"a/b", "/a/b", false},  {"/", "//", true},        {"/a/b/.", "/a/b", true},
    };
    for (const auto& [a, b, equal] : cases)
        EXPECT_EQ(components_equal(a, b), equal) << a << " vs " << b;
}

TEST(Paths, OrderingIsByComponent) {
    EXPECT_TRUE(components_less("d/x", "d-x"));
    EXPECT_FALSE(components_less("d-x", "d/x"));
    EXPECT_TRUE(components_less("d", "d/x"));
}

TEST(Paths, LastName) {
    EXPECT_EQ(last_name("/src/app/"), "app");
    EXPECT_EQ(last_name("/"), std::nullopt);
    EXPECT_EQ(last_name("/src/.."), std::nullopt);
    EXPECT_EQ(last_name("."), std::nullopt);
}

TEST(Paths, CanonicalResolvesLinksAndReportsMissing) {
    test::TempDir dir;
    std::filesystem::create_directory(dir / "real");
    std::filesystem::create_directory_symlink(dir / "real", dir / "link");
    EXPECT_EQ(canonical_or_same(dir / "link" / "."), dir / "real");
    auto missing = paths::canonical(dir / "missing");
    ASSERT_FALSE(missing);
    EXPECT_TRUE(missing.error().not_found());
    EXPECT_EQ(canonical_or_same(dir / "missing"), dir / "missing");
}

} // namespace
} // namespace kelvo::paths
