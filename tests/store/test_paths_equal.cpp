#include "store/paths_equal.hpp"

#include "support/fixtures.hpp"

#include <gtest/gtest.h>

namespace kelvo::store {
namespace {

namespace fs = std::filesystem;

TEST(PathsEqual, CanonicalWhenBothExistLexicalOtherwise) {
    test::TempDir t;
    fs::create_directories(t / "real" / "sub");
    fs::create_directory_symlink(t / "real", t / "link");
    const Path real = t / "real";
    const std::tuple<Path, Path, bool> cases[] = {
        {real, t / "link", true},
        {real, t / "link" / "sub" / "..", true}, // resolved against the file system
        {real, real / "", true},
        {real, t / "Real", false},
        {real, t / "real" / "sub", false},
        // One side missing: both compared as given.
        {t / "link", t / "missing", false},
        {t / "link" / "x", t / "real" / "x", false},
        {"/nonexistent/a/b", "/nonexistent/a//b/", true},
        {"/nonexistent/a/./b", "/nonexistent/a/b", true},
        {"/nonexistent/a/../b", "/nonexistent/b", false},
        {"/nonexistent/A", "/nonexistent/a", false},
        {"./nonexistent", "nonexistent", false},
    };
    for (const auto& [a, b, equal] : cases) {
        EXPECT_EQ(paths_equal(a, b), equal) << a << " vs " << b;
        EXPECT_EQ(paths_equal(b, a), equal) << b << " vs " << a;
        EXPECT_EQ(PathMatcher(b).matches(a), equal) << a << " vs " << b;
    }
}

} // namespace
} // namespace kelvo::store
