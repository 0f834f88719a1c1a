#include "support/fixtures.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <regex>

namespace kelvo::test {
namespace {

using nlohmann::json;

json read_state(const Path& home) {
    return json::parse(read_file(state_file(home)));
}

// The result line of `project add`, without the log line before it.
std::string result_line(const std::string& out) {
    const auto start = out.rfind('\n', out.size() - 2);
    return start == std::string::npos ? out : out.substr(start + 1);
}

std::string id_of(const std::string& line) {
    const auto at = line.find("id=");
    return at == std::string::npos ? "" : line.substr(at + 3, 36);
}

class ProjectAdd : public ::testing::Test {
protected:
    void SetUp() override { use_hermetic_git(); }
    TempDir home;
    TempDir work;
};

TEST_F(ProjectAdd, RegistersRepositoryWithAThreadPerWorktreeOnce) {
    const Path repo = make_repo(work / "app");
    git(repo, {"worktree", "add", "-q", "-b", "one", (work / "wt-one").string()});
    git(repo, {"worktree", "add", "-q", "-b", "two", (work / "wt-two").string()});

    auto first = run_kelvo({"project", "add", repo.string()}, home.path());
    ASSERT_EQ(first.status, 0) << first.err;
    const std::string line = result_line(first.out);
    EXPECT_TRUE(std::regex_match(
        line, std::regex("added Git project  path=" + repo.string() + "  id=[0-9a-f-]{36}\n")))
        << line;

    json state = read_state(home.path());
    ASSERT_EQ(state["projects"].size(), 1u);
    EXPECT_EQ(state["projects"][0]["name"], "app");
    EXPECT_EQ(state["projects"][0]["quick_base"], "main");
    std::vector<std::string> titles;
    for (const auto& t : state["threads"])
        titles.push_back(t["title"]);
    EXPECT_EQ(titles, (std::vector<std::string>{"app", "wt-one", "wt-two"}));
    EXPECT_EQ(state["threads"][1]["workspace"]["kind"], "git_worktree");

    auto second =
        run_kelvo({"project", "add", repo.string(), "--quick-base", "other"}, home.path());
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(second.out.rfind("existing Git project  path=" + repo.string(), 0), 0u) << second.out;
    EXPECT_EQ(id_of(second.out), id_of(line));
    state = read_state(home.path());
    EXPECT_EQ(state["threads"].size(), 3u);
    EXPECT_EQ(state["projects"][0]["quick_base"], "main");
}

TEST_F(ProjectAdd, SubdirectoryAndLinkedWorktreeRegisterTheMainWorktree) {
    const Path repo = make_repo(work / "app");
    std::filesystem::create_directories(repo / "src" / "deep");
    git(repo, {"worktree", "add", "-q", "-b", "side", (work / "side").string()});

    for (const Path& start : {repo / "src" / "deep", work / "side"}) {
        TempDir fresh_home;
        auto r = run_kelvo({"project", "add", start.string()}, fresh_home.path());
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(result_line(r.out).rfind("added Git project  path=" + repo.string() + "  id=", 0),
                  0u)
            << r.out;
        EXPECT_EQ(read_state(fresh_home.path())["projects"][0]["main_path"], repo.string());
    }
}

TEST_F(ProjectAdd, RelativePathIsTakenFromTheCurrentDirectory) {
    const Path repo = make_repo(work / "app");
    auto r = run_kelvo({"project", "add", "."}, home.path(), repo);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("path=" + repo.string() + "  id="), std::string::npos) << r.out;
}

TEST_F(ProjectAdd, PlainDirectoryGetsOneDirectoryThread) {
    std::filesystem::create_directories(work / "notes");
    for (int run = 0; run < 2; ++run) {
        auto r = run_kelvo({"project", "add", (work / "notes").string()}, home.path());
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(
            result_line(r.out).rfind(std::string(run ? "existing" : "added") +
                                         " directory project  path=" + (work / "notes").string(),
                                     0),
            0u)
            << r.out;
    }
    json state = read_state(home.path());
    ASSERT_EQ(state["threads"].size(), 1u);
    EXPECT_EQ(state["threads"][0]["title"], "Thread 1");
    EXPECT_EQ(state["threads"][0]["workspace"]["kind"], "directory");
    EXPECT_EQ(state["projects"][0]["kind"], "Directory");
    EXPECT_TRUE(state["projects"][0]["quick_base"].is_null());
}

TEST_F(ProjectAdd, RejectedPathsLeaveTheStateFileUntouched) {
    std::filesystem::create_directories(work / "existing");
    ASSERT_EQ(run_kelvo({"project", "add", (work / "existing").string()}, home.path()).status, 0);
    const std::string before = read_file(state_file(home.path()));
    write_file(work / "file.txt", "x");

    struct Case {
        std::vector<std::string> args;
        std::string report;
    };
    const Case cases[] = {
        {{"project", "add", (work / "file.txt").string()},
         "Error: project path is not a directory: " + (work / "file.txt").string() + "\n"},
        {{"project", "add", "missing/dir"},
         "Error: open project directory missing/dir\n\nCaused by:\n    No such file or "
         "directory\n"},
        {{"project", "add", (work / "existing").string(), "--quick-base", "main"},
         "Error: --quick-base requires a Git project\n"},
    };
    for (const auto& c : cases) {
        auto r = run_kelvo(c.args, home.path(), work.path());
        EXPECT_EQ(r.status, 1) << c.report;
        EXPECT_EQ(r.err, c.report);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(read_file(state_file(home.path())), before);
    }
}

TEST_F(ProjectAdd, FirstRunOnAFileSystemPathWithoutStateCreatesNothingOnFailure) {
    auto r = run_kelvo({"project", "add", (work / "nope").string()}, home.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(std::filesystem::exists(state_file(home.path())));
}

TEST_F(ProjectAdd, QuickBaseFromOptionOrDefaultBase) {
    const Path with_main = make_repo(work / "a");
    const Path trunk = work / "b";
    std::filesystem::create_directories(trunk);
    git(trunk, {"init", "-q", "-b", "trunk"});
    git(trunk, {"commit", "-q", "--allow-empty", "-m", "i"});
    const Path explicit_base = make_repo(work / "c");

    ASSERT_EQ(run_kelvo({"project", "add", with_main.string()}, home.path()).status, 0);
    ASSERT_EQ(run_kelvo({"project", "add", trunk.string()}, home.path()).status, 0);
    ASSERT_EQ(run_kelvo({"project", "add", explicit_base.string(), "--quick-base=dev"}, home.path())
                  .status,
              0);
    json state = read_state(home.path());
    EXPECT_EQ(state["projects"][0]["quick_base"], "main");
    EXPECT_TRUE(state["projects"][1]["quick_base"].is_null());
    EXPECT_EQ(state["projects"][2]["quick_base"], "dev");
}

TEST_F(ProjectAdd, LogLineComesBeforeTheResultLine) {
    std::filesystem::create_directories(work / "logged");
    auto plain = run_kelvo({"project", "add", (work / "logged").string()}, home.path());
    ASSERT_EQ(plain.status, 0) << plain.err;
    const std::regex layout(
        "\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{6}Z  INFO kelvo_store: "
        "add project name=logged path=" +
        (work / "logged").string() + "\nadded directory project  path=.*\n");
    EXPECT_TRUE(std::regex_match(plain.out, layout)) << plain.out;

    std::filesystem::create_directories(work / "coloured");
    auto coloured = run_kelvo({"project", "add", (work / "coloured").string()}, home.path(), {},
                              {{"NO_COLOR", ""}});
    ASSERT_EQ(coloured.status, 0) << coloured.err;
    EXPECT_NE(coloured.out.find("\x1b["), std::string::npos) << coloured.out;
}

} // namespace
} // namespace kelvo::test
