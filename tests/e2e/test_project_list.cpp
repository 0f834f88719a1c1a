// `project list` and `project set-quick-base` through the built binary,
// against state files crafted under the test's HOME.
#include "support/fixtures.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace kelvo::test {
namespace {

namespace fs = std::filesystem;

const std::string P1 = "0f8fad5b-d9cb-469f-a165-70867728950e";
const std::string P2 = "7c9e6679-7425-40de-944b-e07fc1f90ae7";
const std::string P3 = "a8098c1a-f86e-41ac-9c1b-3b5ab8c8b5d2";

std::string project(const std::string& id, const std::string& name, const std::string& path,
                    const std::string& kind, const std::string& quick_base) {
    return R"({"id": ")" + id + R"(", "name": ")" + name + R"(", "main_path": ")" + path +
           R"(", "kind": ")" + kind + R"(", "worktree_dir_template": "../worktrees/{repo}",
           "quick_base": )" +
           quick_base + R"(, "preferred_editor": null, "created_at": "2026-12-11T12:00:00Z"})";
}

std::string thread(const std::string& id, const std::string& project_id) {
    return R"({"id": ")" + id + R"(", "project_id": ")" + project_id + R"(", "title": "t",
           "workspace": {"kind": "directory", "path": "/x"},
           "created_at": "2026-12-11T12:00:00Z", "updated_at": "2026-12-11T12:00:00Z"})";
}

class ProjectCommands : public ::testing::Test {
protected:
    TempDir home;

    Path state() const { return state_file(home.path()); }

    RunResult kelvo(const std::vector<std::string>& args) {
        return run_kelvo(args, home.path(), home.path(), {{"KELVO_LOG", ""}});
    }

    // Two Git projects and a directory project; the second is named after
    // part of the first one's path.
    void write_sample() {
        // Appended piece by piece: GCC 12 warns (-Wrestrict) on "[" + string.
        std::string threads = "[";
        threads += thread("16fd2706-8baf-433b-82eb-8c7fada847da", P1);
        threads += ",";
        threads += thread("886313e1-3b8a-4372-9b90-0c9aee199e5d", P3);
        threads += ",";
        threads += thread("5e1c4a0e-2b3f-4c4d-8e5f-6a7b8c9d0e1f", P1);
        threads += "]";
        write_file(state(),
                   R"({"schema_version": 3, "projects": [)" +
                       project(P1, "app", "/src/web-app", "Git", "null") + "," +
                       project(P2, "web-app", "/src/other", "Git", R"("origin/main")") + "," +
                       project(P3, "notes", "/home/u/notes", "Directory", R"("a\"b\\c\td\u0001")") +
                       R"(], "threads": )" + threads + "}");
    }
};

TEST_F(ProjectCommands, ListPrintsOneLinePerProjectInStoredOrder) {
    write_sample();
    const std::string before = read_file(state());
    const auto r = kelvo({"project", "list"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "app\t/src/web-app\tthreads=2\tquick=None\n"
                     "web-app\t/src/other\tthreads=0\tquick=Some(\"origin/main\")\n"
                     "notes\t/home/u/notes\tthreads=1\tquick=Some(\"a\\\"b\\\\c\\td\\u{1}\")\n");
    EXPECT_EQ(read_file(state()), before);
}

TEST_F(ProjectCommands, ListWithoutProjectsPrintsNothingAndWritesNothing) {
    const auto r = kelvo({"project", "list"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(fs::is_directory(state().parent_path()));
    EXPECT_FALSE(fs::exists(state()));
}

TEST_F(ProjectCommands, UnreadableStateFileIsReportedAndKept) {
    const std::pair<const char*, const char*> cases[] = {
        {R"({"schema_version": 4})", "Error: state schema 4 is newer than supported schema 3\n"},
        {R"({"projects": [{"id": 1}]})",
         "Error: json: invalid type: number, expected a string at projects[0].id\n\nCaused by:\n"
         "    invalid type: number, expected a string at projects[0].id\n"},
    };
    for (const auto& [content, report] : cases) {
        write_file(state(), content);
        for (const auto& args : {std::vector<std::string>{"project", "list"},
                                 std::vector<std::string>{"project", "set-quick-base", "", "x"}}) {
            const auto r = kelvo(args);
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err, report);
            EXPECT_EQ(read_file(state()), content);
        }
    }
}

TEST_F(ProjectCommands, SetQuickBaseTakesTheFirstProjectThatMatches) {
    write_sample();
    ::chmod(state().c_str(), 0600);
    struct Case {
        std::string query;
        std::string base;
        const char* expected_line; // of `project list` for the first two projects
    };
    const Case cases[] = {
        // Both the second project's name and part of the first one's path.
        {"web-app", "origin/dev",
         "app\t/src/web-app\tthreads=2\tquick=Some(\"origin/dev\")\n"
         "web-app\t/src/other\tthreads=0\tquick=Some(\"origin/main\")\n"},
        {"", " spaced ",
         "app\t/src/web-app\tthreads=2\tquick=Some(\" spaced \")\n"
         "web-app\t/src/other\tthreads=0\tquick=Some(\"origin/main\")\n"},
        {"other", "v2",
         "app\t/src/web-app\tthreads=2\tquick=Some(\" spaced \")\n"
         "web-app\t/src/other\tthreads=0\tquick=Some(\"v2\")\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        const auto r = kelvo({"project", "set-quick-base", c.query, c.base});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "quick_base set to " + c.base + "\n");
        const auto list = kelvo({"project", "list"});
        EXPECT_TRUE(list.out.starts_with(c.expected_line)) << list.out;
    }
    EXPECT_EQ(fs::status(state()).permissions(), fs::perms(0600));
    EXPECT_TRUE(read_file(state()).starts_with("{\n  \"schema_version\": 3,\n  \"projects\": [\n"));
}

TEST_F(ProjectCommands, SetQuickBaseRefusals) {
    write_sample();
    const std::string before = read_file(state());
    const std::pair<const char*, const char*> cases[] = {
        {"notes", "Error: default base requires a Git project\n"},
        {"nope", "Error: project not found: nope\n"},
        {"App", "Error: project not found: App\n"},
    };
    for (const auto& [query, report] : cases) {
        const auto r = kelvo({"project", "set-quick-base", query, "main"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, report);
    }
    EXPECT_EQ(read_file(state()), before);
}

TEST_F(ProjectCommands, SetQuickBaseWithoutProjectsIsNotFound) {
    const auto r = kelvo({"project", "set-quick-base", "", "main"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: project not found: \n");
    EXPECT_FALSE(fs::exists(state()));
}

} // namespace
} // namespace kelvo::test
