#include "git/path.hpp"

#include <gtest/gtest.h>

namespace kelvo::git {
namespace {

struct PathCase {
    const char* repo;
    const char* tmpl;
    const char* branch;
    const char* expected;
};

// Test names (and CTest's) show the inputs rather than raw bytes.
void PrintTo(const PathCase& c, std::ostream* os) {
    *os << c.repo << " | " << c.tmpl << " | " << c.branch;
}

class WorktreePath : public testing::TestWithParam<PathCase> {};

TEST_P(WorktreePath, Computes) {
    const auto& c = GetParam();
    EXPECT_EQ(worktree_path(c.repo, c.tmpl, c.branch).native(), c.expected)
        << "repo=" << c.repo << " template=" << c.tmpl << " branch=" << c.branch;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WorktreePath,
    testing::Values(
        // The default template climbs out of the repository.
        PathCase{"/work/src/app", "../worktrees/{repo}", "feature/login",
                 "/work/src/worktrees/app/feature-login"},
        PathCase{"/work/src/app", "/tmp/wt/{repo}", "feature/login", "/tmp/wt/app/feature-login"},
        // Without the placeholder the repository name is appended.
        PathCase{"/work/src/app", "/tmp/wt", "feature/login", "/tmp/wt/app/feature-login"},
        PathCase{"/work/src/app", "wt", "feature/login", "/work/src/app/wt/app/feature-login"},
        PathCase{"/work/src/app", "", "feature/login", "/work/src/app/app/feature-login"},
        // "~" is an ordinary name, not the home directory.
        PathCase{"/work/src/app", "~/wt", "x", "/work/src/app/~/wt/app/x"},
        PathCase{"/work/src/app", "/t/{repo}-{repo}/{other}", "x", "/t/app-app/{other}/x"},
        PathCase{"/work/src/app", "/t", "a/b:c\\d", "/t/app/a-b-c-d"},
        PathCase{"/work/src/app", "/t", "v1.2 fix", "/t/app/v1.2 fix"},
        PathCase{"/work/src/app", "/t", "", "/t/app"},
        PathCase{"/work/src/app", "../../../../../../x/{repo}", "b", "/x/app/b"},
        PathCase{"/work/src/app", "/t", "..", "/t"},
        PathCase{"/work/src/app/", "../wt/{repo}", "b", "/work/src/wt/app/b"},
        PathCase{"/work//src/./app", "./{repo}//wt/", "b", "/work/src/app/app/wt/b"},
        PathCase{"/", "wt/{repo}", "b", "/wt/repo/b"},
        PathCase{"/work/src/..", "/t/{repo}", "b", "/t/repo/b"},
        PathCase{"/work/src/app", "/{repo}", "b", "/app/b"},
        // Non-ASCII names survive.
        PathCase{"/work/dépôt", "../wt/{repo}", "fix/ünï", "/work/wt/dépôt/fix-ünï"}));

TEST(WorktreePathName, InvalidUtf8DirectoryNameIsRepo) {
    EXPECT_EQ(worktree_path("/work/ap\xffp", "/t/{repo}", "b").native(), "/t/repo/b");
}

} // namespace
} // namespace kelvo::git
