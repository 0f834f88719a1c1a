#include "store/store.hpp"

#include "core/log.hpp"
#include "core/timestamp.hpp"
#include "store/state_format.hpp"
#include "support/fixtures.hpp"
#include "support/scoped_env.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kelvo::store {
namespace {

namespace fs = std::filesystem;

// Every test gets its own HOME.
class StoreTest : public ::testing::Test {
protected:
    test::TempDir home;
    test::ScopedEnv home_env{"HOME", home.path().string()};

    Path state() const { return test::state_file(home.path()); }
    Path dir() const { return state().parent_path(); }

    Store open() {
        auto s = Store::open_default();
        if (!s)
            throw std::runtime_error("open failed: " + s.error().message());
        return std::move(s).value();
    }

    // Drops the store (and its lock) and loads the file afresh.
    Store open_after_drop(Store s) {
        { Store gone = std::move(s); }
        return open();
    }

    // Names in the data directory that look like temporary files.
    std::vector<std::string> temp_files() const {
        std::vector<std::string> out;
        if (!fs::exists(dir()))
            return out;
        for (const auto& e : fs::directory_iterator(dir())) {
            const std::string name = e.path().filename().string();
            if (name.starts_with(".state.json.tmp-"))
                out.push_back(name);
        }
        return out;
    }
};

Project project_at(const Path& path, const std::string& name = "app") {
    return Project::create(name, path);
}

TEST_F(StoreTest, DataDirectoryComesFromHome) {
    EXPECT_EQ(Store::data_dir(), home.path() / "Library/Application Support/kelvo");
    EXPECT_EQ(Store::open_default()->path(), state());
}

TEST_F(StoreTest, EmptyHomeFallsBackToTheUserDatabase) {
    test::ScopedEnv empty("HOME", "");
    const Path dir = Store::data_dir();
    EXPECT_EQ(dir.filename(), "kelvo");
    EXPECT_NE(dir, Path(".") / "kelvo"); // this user has a database entry
    EXPECT_TRUE(dir.is_absolute()) << dir;
}

TEST_F(StoreTest, MissingFileOpensEmptyAndTheFirstChangeCreatesIt) {
    {
        Store s = open();
        EXPECT_TRUE(fs::is_directory(dir()));
        EXPECT_FALSE(fs::exists(state()));
        EXPECT_EQ(s.data(), StoreData{});
        auto added = s.add_project(project_at("/src/app"));
        ASSERT_TRUE(added) << added.error();
        EXPECT_FALSE(added->existed);
    }
    const Store again = open();
    ASSERT_EQ(again.data().projects.size(), 1u);
    EXPECT_EQ(again.data().projects[0].main_path, Path("/src/app"));
    EXPECT_TRUE(temp_files().empty());
}

TEST_F(StoreTest, OlderSchemaIsRewrittenOnOpen) {
    test::write_file(state(), R"({"schema_version": 2, "color": "red"})");
    {
        Store s = open();
        EXPECT_EQ(s.data().schema_version, 3u);
    }
    const std::string text = test::read_file(state());
    EXPECT_TRUE(text.starts_with("{\n  \"schema_version\": 3,\n")) << text;
    EXPECT_EQ(text.find("color"), std::string::npos);
}

TEST_F(StoreTest, CurrentSchemaIsNotRewrittenOnOpen) {
    const std::string original = R"({"schema_version": 3, "color": "red", "projects": []})";
    test::write_file(state(), original);
    { Store s = open(); }
    EXPECT_EQ(test::read_file(state()), original);
}

TEST_F(StoreTest, BadStateFilesFailAndStayAsTheyWere) {
    struct Case {
        const char* name;
        std::string content;
        std::string message;
    };
    const std::string syntax = "json: parse error at line 1, column ";
    const Case cases[] = {
        {"malformed", "{\"projects\": [1,]}",
         syntax + "17: syntax error while parsing value - unexpected ']'; expected '[', '{', or "
                  "a literal"},
        {"truncated", "{\"projects\": [",
         syntax + "15: syntax error while parsing value - unexpected end of input; expected '[', "
                  "'{', or a literal"},
        {"zero bytes", "",
         syntax + "1: syntax error while parsing value - unexpected end of input; expected '[', "
                  "'{', or a literal"},
        {"not UTF-8", "{\"x\": \"caf\xe9\"}",
         "io: cannot read " + state().string() + ": stream did not contain valid UTF-8"},
        {"newer schema", "{\"schema_version\": 4, \"projects\": 1}",
         "state schema 4 is newer than supported schema 3"},
        {"bad record", "{\"projects\": [{}]}", "json: missing field `id`"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::write_file(state(), c.content);
        auto s = Store::open_default();
        ASSERT_FALSE(s);
        EXPECT_EQ(s.error().message(), c.message);
        EXPECT_EQ(test::read_file(state()), c.content);
        EXPECT_TRUE(temp_files().empty());
    }
}

TEST_F(StoreTest, DirectoryInPlaceOfTheFileIsAnIoError) {
    fs::create_directories(state() / "inner");
    auto s = Store::open_default();
    ASSERT_FALSE(s);
    EXPECT_TRUE(s.error().is<store_error::Io>());
    EXPECT_EQ(s.error().message(), "io: cannot read " + state().string() + ": Is a directory");
    ASSERT_EQ(s.error().causes().size(), 1u);
    EXPECT_EQ(s.error().causes()[0], "cannot read " + state().string() + ": Is a directory");
    EXPECT_TRUE(fs::is_directory(state() / "inner"));
}

TEST_F(StoreTest, SaveKeepsThePermissionsOfTheFileItReplaces) {
    const mode_t umask_before = ::umask(022);
    {
        Store s = open();
        ASSERT_TRUE(s.add_project(project_at("/src/a")));
    }
    // A first file is 0666 less the umask.
    EXPECT_EQ(fs::status(state()).permissions(), fs::perms(0666 & ~0022));
    ::chmod(state().c_str(), 0600);
    {
        Store s = open();
        ASSERT_TRUE(s.add_project(project_at("/src/b")));
    }
    EXPECT_EQ(fs::status(state()).permissions(), fs::perms(0600));
    EXPECT_EQ(open().data().projects.size(), 2u);
    ::umask(umask_before);
}

// ------------------------------------------------------------ failing saves

enum class Fault {
    CreateTemp,
    SetPermissions,
    ShortThenZeroWrite,
    ShortThenNoSpace,
    NoSpace,
    FullSync,
    Rename,
    SyncDirectory,
};

// The real file system with one step made to fail.
class FaultyFileSystem : public RealFileSystem {
public:
    explicit FaultyFileSystem(std::optional<Fault> fault = std::nullopt) : m_fault(fault) {}

    std::vector<Path> created;
    std::size_t max_write = SIZE_MAX;

    Result<Fd, OsError> create_exclusive(const Path& path, mode_t mode) override {
        created.push_back(path);
        if (m_fault == Fault::CreateTemp)
            return fail(OsError{EACCES, "cannot create " + path.string()});
        return RealFileSystem::create_exclusive(path, mode);
    }
    Result<void, OsError> set_permissions(const Fd& fd, mode_t mode) override {
        if (m_fault == Fault::SetPermissions)
            return fail(OsError{EPERM, "cannot set permissions"});
        return RealFileSystem::set_permissions(fd, mode);
    }
    Result<std::size_t, OsError> write(const Fd& fd, const char* data, std::size_t size) override {
        ++m_writes;
        const bool short_first =
            m_fault == Fault::ShortThenZeroWrite || m_fault == Fault::ShortThenNoSpace;
        if (short_first && m_writes == 1)
            return RealFileSystem::write(fd, data, size / 2);
        if (m_fault == Fault::ShortThenZeroWrite)
            return std::size_t(0);
        if (m_fault == Fault::ShortThenNoSpace || m_fault == Fault::NoSpace)
            return fail(OsError{ENOSPC, "cannot write"});
        return RealFileSystem::write(fd, data, std::min(size, max_write));
    }
    Result<void, OsError> full_sync(const Fd& fd) override {
        if (m_fault == Fault::FullSync)
            return fail(OsError{EIO, "cannot flush"});
        return RealFileSystem::full_sync(fd);
    }
    Result<void, OsError> rename(const Path& from, const Path& to) override {
        if (m_fault == Fault::Rename)
            return fail(OsError{EXDEV, "cannot rename"});
        return RealFileSystem::rename(from, to);
    }
    Result<void, OsError> sync_directory(const Path& dir) override {
        if (m_fault == Fault::SyncDirectory)
            return fail(OsError{EIO, "cannot flush directory"});
        return RealFileSystem::sync_directory(dir);
    }

private:
    std::optional<Fault> m_fault;
    int m_writes = 0;
};

TEST_F(StoreTest, EachFailingSaveStepLeavesTheOldFileAndNoTemporary) {
    const std::pair<Fault, const char*> cases[] = {
        {Fault::CreateTemp, "io: cannot create "},
        {Fault::SetPermissions, "io: cannot set permissions: Operation not permitted"},
        {Fault::ShortThenZeroWrite, "io: failed to write whole buffer"},
        {Fault::ShortThenNoSpace, "io: cannot write: No space left on device"},
        {Fault::NoSpace, "io: cannot write: No space left on device"},
        {Fault::FullSync, "io: cannot flush: Input/output error"},
        {Fault::Rename, "io: cannot rename: Invalid cross-device link"},
        {Fault::SyncDirectory, "io: cannot flush directory: Input/output error"},
    };
    {
        Store s = open();
        ASSERT_TRUE(s.add_project(project_at("/src/old")));
    }
    const std::string before = test::read_file(state());

    for (const auto& [fault, message] : cases) {
        SCOPED_TRACE(message);
        FaultyFileSystem faulty(fault);
        auto opened = Store::open(state(), faulty);
        ASSERT_TRUE(opened);
        Store s = std::move(opened).value();
        const StoreData data_before = s.data();

        auto added = s.add_project(project_at("/src/new"));
        ASSERT_FALSE(added);
        EXPECT_TRUE(added.error().message().starts_with(message)) << added.error().message();
        EXPECT_TRUE(added.error().is<store_error::Io>());
        EXPECT_EQ(s.data(), data_before) << "the project is taken back in memory";
        EXPECT_TRUE(temp_files().empty());
        ASSERT_EQ(faulty.created.size(), 1u);

        if (fault == Fault::SyncDirectory) {
            // The rename happened: the file is the complete new document.
            auto read = parse_state(test::read_file(state()));
            ASSERT_TRUE(read);
            EXPECT_EQ(read->data.projects.size(), 2u);
            test::write_file(state(), before);
        } else {
            EXPECT_EQ(test::read_file(state()), before);
        }
    }
}

TEST_F(StoreTest, ShortWritesStillWriteTheWholeDocument) {
    FaultyFileSystem faulty;
    faulty.max_write = 7;
    auto s = Store::open(state(), faulty);
    ASSERT_TRUE(s);
    ASSERT_TRUE(s->add_project(project_at("/src/app")));
    auto rendered = render_state(s->data());
    ASSERT_TRUE(rendered);
    EXPECT_EQ(test::read_file(state()), *rendered);
}

TEST_F(StoreTest, TemporaryFileIsNamedAfterTheStateFilePidAndClock) {
    FaultyFileSystem faulty;
    auto s = Store::open(state(), faulty);
    ASSERT_TRUE(s);
    const auto before = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    ASSERT_TRUE(s->add_project(project_at("/src/app")));
    ASSERT_EQ(faulty.created.size(), 1u);
    const Path temp = faulty.created[0];
    EXPECT_EQ(temp.parent_path(), dir());
    const std::string prefix = ".state.json.tmp-" + std::to_string(::getpid()) + "-";
    const std::string name = temp.filename().string();
    ASSERT_TRUE(name.starts_with(prefix)) << name;
    const std::string nanos = name.substr(prefix.size());
    ASSERT_FALSE(nanos.empty());
    EXPECT_EQ(nanos.find_first_not_of("0123456789"), std::string::npos) << name;
    EXPECT_GE(std::stoll(nanos), before);
    EXPECT_FALSE(fs::exists(temp));
}

TEST_F(StoreTest, FailedSavesOfOtherOperations) {
    // A thread with a binding, selected, in a crafted file.
    const std::string thread_id = "16fd2706-8baf-433b-82eb-8c7fada847da";
    const std::string project_id = "0f8fad5b-d9cb-469f-a165-70867728950e";
    test::write_file(state(), R"({"schema_version": 3,
        "projects": [{"id": ")" + project_id +
                                  R"(", "name": "app", "main_path": "/src/app",
            "worktree_dir_template": "t", "created_at": "2026-12-11T12:00:00Z"}],
        "threads": [{"id": ")" + thread_id +
                                  R"(", "project_id": ")" + project_id + R"(",
            "title": "app", "workspace": {"kind": "git_worktree", "path": "/src/app"},
            "created_at": "2026-12-11T12:00:00Z", "updated_at": "2026-12-11T12:00:00Z"}],
        "agent_bindings": [{"thread_id": ")" +
                                  thread_id + R"(", "agent_key": "pi",
            "agent_kind": "Pi", "provider_ref": {"provider": "unsupported"},
            "desired_process": "open", "last_turn": "idle", "generation": 0,
            "started_once": false, "created_at": "2026-12-11T12:00:00Z",
            "updated_at": "2026-12-11T12:00:00Z"}],
        "last_selected_thread_id": ")" +
                                  thread_id + R"("})");
    const std::string before = test::read_file(state());
    const ProjectId pid = *ProjectId::parse(project_id);
    const ThreadId tid = *ThreadId::parse(thread_id);

    FaultyFileSystem faulty(Fault::Rename);
    auto opened = Store::open(state(), faulty);
    ASSERT_TRUE(opened);
    Store s = std::move(opened).value();
    const StoreData data_before = s.data();

    EXPECT_FALSE(s.remove_thread(tid));
    EXPECT_EQ(s.data(), data_before) << "remove_thread restores its snapshot";

    EXPECT_FALSE(s.ensure_git_thread(pid, "/src/other", "other"));
    EXPECT_FALSE(s.insert_thread(s.data().threads[0]));
    EXPECT_EQ(s.data(), data_before) << "appended threads are taken back";

    auto set = s.set_quick_base(pid, "origin/dev");
    ASSERT_FALSE(set);
    EXPECT_EQ(s.data().projects[0].quick_base, "origin/dev") << "kept in memory";

    EXPECT_EQ(test::read_file(state()), before);
    EXPECT_TRUE(temp_files().empty());
}

// Runs body in a child process without root's privileges (so that
// permissions apply) and returns what it returned.
std::string in_unprivileged_child(const std::function<std::string()>& body) {
    int fds[2];
    if (::pipe(fds) != 0)
        return "pipe failed";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(3);
        const std::string out = body();
        if (::write(fds[1], out.data(), out.size()) < 0)
            ::_exit(4);
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string out;
    char buf[512];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
        out.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "child failed with status " + std::to_string(status);
    return out;
}

TEST_F(StoreTest, ReadOnlyDataDirectoryFailsTheSaveAndKeepsTheFile) {
    {
        Store s = open();
        ASSERT_TRUE(s.add_project(project_at("/src/a")));
    }
    fs::remove(lock_path_for(state()));
    const std::string before = test::read_file(state());
    // Let an unprivileged user reach the file but not write beside it.
    for (Path p = dir(); p != home.path().parent_path(); p = p.parent_path())
        ::chmod(p.c_str(), 0755);
    ::chmod(dir().c_str(), 0555);

    const std::string result = in_unprivileged_child([] {
        auto s = Store::open_default();
        if (!s)
            return "open: " + s.error().message();
        auto added = s->add_project(project_at("/src/b"));
        if (added)
            return std::string("saved");
        return added.error().message() + "|" + std::to_string(s->data().projects.size());
    });
    ::chmod(dir().c_str(), 0755);

    EXPECT_TRUE(result.starts_with("io: cannot create " + dir().string() + "/.state.json.tmp-"))
        << result;
    EXPECT_TRUE(result.ends_with(": Permission denied|1")) << result;
    EXPECT_EQ(test::read_file(state()), before);
    EXPECT_TRUE(temp_files().empty());
}

TEST_F(StoreTest, StateFileThatCannotBeLookedAtIsAnErrorNotAnEmptyStore) {
    {
        Store s = open();
        ASSERT_TRUE(s.add_project(project_at("/src/a")));
    }
    for (Path p = dir(); p != home.path().parent_path(); p = p.parent_path())
        ::chmod(p.c_str(), 0755);
    ::chmod(dir().c_str(), 0600); // listable by its owner only, searchable by nobody

    const std::string result = in_unprivileged_child([] {
        auto s = Store::open_default();
        if (s)
            return "opened with " + std::to_string(s->data().projects.size()) + " projects";
        return s.error().message();
    });
    ::chmod(dir().c_str(), 0755);
    EXPECT_EQ(result, "io: cannot read the status of " + state().string() + ": Permission denied");
    EXPECT_EQ(open().data().projects.size(), 1u);
}

// ------------------------------------------------------------ operations

TEST_F(StoreTest, AddProjectFindsTheSamePathInAnyForm) {
    const Path real = home / "src" / "app";
    fs::create_directories(real);
    fs::create_directory_symlink(real, home / "link");
    Store s = open();
    auto first = s.add_project(project_at(real));
    ASSERT_TRUE(first);
    const std::string saved = test::read_file(state());

    for (const Path& same : {real / "", home / "link", home.path() / "src" / "." / "app"}) {
        Project again = project_at(same, "other");
        again.quick_base = "x";
        auto r = s.add_project(again);
        ASSERT_TRUE(r);
        EXPECT_TRUE(r->existed) << same;
        EXPECT_EQ(r->id, first->id);
    }
    EXPECT_EQ(s.data().projects.size(), 1u);
    EXPECT_EQ(s.data().projects[0].name, "app");
    EXPECT_FALSE(s.data().projects[0].quick_base);
    EXPECT_EQ(test::read_file(state()), saved) << "nothing written";
}

TEST_F(StoreTest, AddingAProjectLogsItOnceBeforeTheSave) {
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    std::vector<std::string> rejected;
    log::install(log::Config{log::Filter::parse("kelvo=info", rejected), false, out});
    {
        Store s = open();
        ASSERT_TRUE(s.add_project(project_at("/src/app")));
        ASSERT_TRUE(s.add_project(project_at("/src/app/"))); // existing: no event
    }
    FaultyFileSystem faulty(Fault::Rename);
    auto s = Store::open(state(), faulty);
    ASSERT_TRUE(s);
    EXPECT_FALSE(s->add_project(project_at("/src/b c", "b c")));
    log::install(log::Config{});

    std::rewind(out);
    std::string text;
    char buf[512];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, out)) > 0;)
        text.append(buf, n);
    std::fclose(out);
    const auto first = text.find(" INFO kelvo_store: add project name=app path=/src/app\n");
    const auto second = text.find(" INFO kelvo_store: add project name=b c path=/src/b c\n");
    EXPECT_NE(first, std::string::npos) << text;
    EXPECT_NE(second, std::string::npos) << "emitted although the save failed\n" << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text;
}

TEST_F(StoreTest, AddProjectComparesMissingPathsByComponents) {
    Store s = open();
    auto first = s.add_project(project_at("/nonexistent/src/app"));
    ASSERT_TRUE(first);
    auto same = s.add_project(project_at("/nonexistent/src/./app/"));
    ASSERT_TRUE(same);
    EXPECT_TRUE(same->existed);
    auto other = s.add_project(project_at("/nonexistent/src/x/../app"));
    ASSERT_TRUE(other);
    EXPECT_FALSE(other->existed) << "\"..\" is not resolved without the file system";
}

TEST_F(StoreTest, SetQuickBase) {
    Store s = open();
    auto added = s.add_project(project_at("/src/app"));
    ASSERT_TRUE(added);
    ASSERT_TRUE(s.set_quick_base(added->id, " origin/main "));
    EXPECT_EQ(open_after_drop(std::move(s)).data().projects[0].quick_base, " origin/main ");

    Store t = open();
    auto missing = t.set_quick_base(ProjectId::random(), "x");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().message(), "project not found");
}

// Helpers for crafted documents with threads and agents.
struct Crafted {
    std::string projects;
    std::string threads;
    std::string agents = "{}";
    std::string bindings = "[]";
    std::string selected = "null";

    std::string text() const {
        return "{\"schema_version\": 3, \"projects\": [" + projects + "], \"threads\": [" +
               threads + "], \"agent_bindings\": " + bindings +
               ", \"last_selected_thread_id\": " + selected + ", \"worktree_agents\": " + agents +
               "}";
    }
};

std::string project_json(const std::string& id, const std::string& kind, const Path& path) {
    return R"({"id": ")" + id + R"(", "name": "p", "main_path": ")" + path.string() +
           R"(", "kind": ")" + kind +
           R"(", "worktree_dir_template": "t", "created_at": "2026-12-11T12:00:00Z"})";
}

std::string thread_json(const std::string& id, const std::string& project, const std::string& title,
                        const std::string& kind, const Path& path) {
    return R"({"id": ")" + id + R"(", "project_id": ")" + project + R"(", "title": ")" + title +
           R"(", "workspace": {"kind": ")" + kind + R"(", "path": ")" + path.string() +
           R"("}, "created_at": "2026-12-11T12:00:00Z", "updated_at": "2026-12-11T12:00:00Z"})";
}

const std::string P1 = "0f8fad5b-d9cb-469f-a165-70867728950e";
const std::string P2 = "7c9e6679-7425-40de-944b-e07fc1f90ae7";
const std::string T1 = "16fd2706-8baf-433b-82eb-8c7fada847da";
const std::string T2 = "886313e1-3b8a-4372-9b90-0c9aee199e5d";
const std::string T3 = "a8098c1a-f86e-41ac-9c1b-3b5ab8c8b5d2";

ProjectId pid(const std::string& text) {
    return *ProjectId::parse(text);
}
ThreadId tid(const std::string& text) {
    return *ThreadId::parse(text);
}

TEST_F(StoreTest, CreateDirectoryThreadNumbersPastTakenTitles) {
    const Path d = home / "notes";
    fs::create_directories(d);
    Crafted c;
    c.projects = project_json(P1, "Directory", d) + "," + project_json(P2, "Git", d);
    c.threads = thread_json(T1, P1, "Thread 2", "directory", d) + "," +
                thread_json(T2, P1, "Thread 3", "directory", d);
    c.agents = "{\"" + d.string() + "\": \"Claude\"}";
    test::write_file(state(), c.text());
    Store s = open();

    auto made = s.create_directory_thread(pid(P1), d, std::nullopt);
    ASSERT_TRUE(made) << made.error();
    EXPECT_EQ(made->title, "Thread 4");
    EXPECT_FALSE(made->selected_agent) << "only a project's first thread takes the agent";
    EXPECT_EQ(made->workspace, ThreadWorkspace(workspace::Directory{d}));
    EXPECT_EQ(made->created_at, made->updated_at);

    auto titled = s.create_directory_thread(pid(P1), d, "notes");
    ASSERT_TRUE(titled);
    EXPECT_EQ(titled->title, "notes");

    EXPECT_EQ(s.create_directory_thread(pid(P2), d, std::nullopt).error(), StoreError::not_found())
        << "a Git project counts as not found";
    EXPECT_EQ(s.create_directory_thread(ProjectId::random(), d, std::nullopt).error(),
              StoreError::not_found());
    EXPECT_EQ(s.threads_for_project(pid(P1)).size(), 4u);
    EXPECT_EQ(open_after_drop(std::move(s)).data().threads.size(), 4u);
}

TEST_F(StoreTest, FirstDirectoryThreadTakesTheRecordedAgent) {
    const Path d = home / "notes";
    fs::create_directories(d);
    fs::create_directory_symlink(d, home / "alias");
    Crafted c;
    c.projects = project_json(P1, "Directory", d);
    c.agents = R"({")" + d.string() + R"(": {"Custom": {"command": "aider", "args": ["-y"]}}})";
    test::write_file(state(), c.text());
    Store s = open();

    auto made = s.ensure_directory_thread(pid(P1), home / "alias");
    ASSERT_TRUE(made);
    EXPECT_EQ(made->title, "Thread 1");
    EXPECT_EQ(made->workspace, ThreadWorkspace(workspace::Directory{d})) << "canonical path";
    EXPECT_EQ(made->selected_agent, AgentKind(agent_kind::Custom{"aider", {"-y"}}));

    // A project with a thread keeps it, wherever it works.
    auto again = s.ensure_directory_thread(pid(P1), "/elsewhere");
    ASSERT_TRUE(again);
    EXPECT_EQ(again->id, made->id);
    EXPECT_EQ(s.data().threads.size(), 1u);
}

TEST_F(StoreTest, EnsureGitThreadMatchesProjectAndPath) {
    const Path wt = home / "wt";
    fs::create_directories(wt);
    Crafted c;
    c.projects = project_json(P1, "Git", wt) + "," + project_json(P2, "Git", home / "other");
    c.threads = thread_json(T1, P2, "wt", "git_worktree", wt) + "," +
                thread_json(T2, P1, "dir", "directory", wt);
    c.agents = "{\"" + wt.string() + "/\": \"Codex\"}";
    test::write_file(state(), c.text());
    Store s = open();

    // Neither another project's worktree thread nor a directory thread will do.
    auto made = s.ensure_git_thread(pid(P1), wt / ".", "wt-title");
    ASSERT_TRUE(made);
    EXPECT_NE(made->id, tid(T1));
    EXPECT_NE(made->id, tid(T2));
    EXPECT_EQ(made->title, "wt-title");
    EXPECT_EQ(made->workspace, ThreadWorkspace(workspace::GitWorktree{wt}));
    EXPECT_EQ(made->selected_agent, AgentKind(agent_kind::Codex{}));

    const std::string saved = test::read_file(state());
    auto found = s.ensure_git_thread(pid(P1), wt.string() + "//", "ignored");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->id, made->id);
    EXPECT_EQ(found->title, "wt-title");
    EXPECT_EQ(test::read_file(state()), saved) << "nothing saved";
    EXPECT_EQ(s.data().threads.size(), 3u);
}

TEST_F(StoreTest, AgentForWorktree) {
    const Path real = home / "real";
    fs::create_directories(real);
    fs::create_directory_symlink(real, home / "link");
    Crafted c;
    c.agents = "{\"" + (home / "link").string() + "\": \"Claude\", \"/missing/a/\": \"Pi\"}";
    test::write_file(state(), c.text());
    const Store s = open();

    EXPECT_EQ(s.agent_for_worktree(real), AgentKind(agent_kind::Claude{})) << "via paths_equal";
    EXPECT_EQ(s.agent_for_worktree("/missing/a"), AgentKind(agent_kind::Pi{}));
    EXPECT_EQ(s.agent_for_worktree("/missing/b"), std::nullopt);
}

TEST_F(StoreTest, RemoveThreadTakesItsBindingsAndSelection) {
    Crafted c;
    c.projects = project_json(P1, "Git", "/src/app");
    c.threads = thread_json(T1, P1, "a", "git_worktree", "/src/a") + "," +
                thread_json(T2, P1, "b", "git_worktree", "/src/b") + "," +
                thread_json(T3, P1, "c", "git_worktree", "/src/c");
    const auto binding = [](const std::string& thread) {
        return R"({"thread_id": ")" + thread + R"(", "agent_key": "pi", "agent_kind": "Pi",
            "provider_ref": {"provider": "unsupported"}, "desired_process": "open",
            "last_turn": "idle", "generation": 0, "started_once": false,
            "created_at": "2026-12-11T12:00:00Z", "updated_at": "2026-12-11T12:00:00Z"})";
    };
    c.bindings = "[" + binding(T2) + "," + binding(T1) + "," + binding(T2) + "]";
    c.selected = "\"" + T2 + "\"";
    test::write_file(state(), c.text());

    {
        Store s = open();
        ASSERT_TRUE(s.remove_thread(tid(T2)));
    }
    const Store after = open();
    ASSERT_EQ(after.data().threads.size(), 2u);
    EXPECT_EQ(after.data().threads[0].id, tid(T1));
    EXPECT_EQ(after.data().threads[1].id, tid(T3));
    ASSERT_EQ(after.data().agent_bindings.size(), 1u);
    EXPECT_EQ(after.data().agent_bindings[0].thread_id, tid(T1));
    EXPECT_FALSE(after.data().last_selected_thread_id);
}

TEST_F(StoreTest, RemovingAnUnknownThreadSavesTheDocumentUnchanged) {
    test::write_file(state(), R"({"schema_version": 3, "color": 1})");
    Store s = open();
    ASSERT_TRUE(s.remove_thread(ThreadId::random()));
    const std::string text = test::read_file(state());
    EXPECT_EQ(text.find("color"), std::string::npos) << "rewritten from memory";
    EXPECT_EQ(s.data(), StoreData{});
}

// ------------------------------------------------------------ the lock

TEST_F(StoreTest, OneStoreAtATimeHoldsTheStateLock) {
    auto first = Store::open_default();
    ASSERT_TRUE(first);
    auto second = Store::open(state(), real_file_system(), std::chrono::milliseconds(100));
    ASSERT_FALSE(second);
    EXPECT_EQ(second.error().message(),
              "io: timed out waiting for the state lock " + lock_path_for(state()).string());

    Store moved = std::move(first).value(); // the lock moves with the store
    EXPECT_FALSE(Store::open(state(), real_file_system(), std::chrono::milliseconds(10)));
    { Store gone = std::move(moved); }
    EXPECT_TRUE(Store::open(state(), real_file_system(), std::chrono::milliseconds(10)));
}

TEST_F(StoreTest, TwoProcessesAddingAtOnceLoseNothing) {
    constexpr int per_process = 50;
    pid_t children[2];
    for (int child = 0; child < 2; ++child) {
        children[child] = ::fork();
        if (children[child] == 0) {
            for (int i = 0; i < per_process; ++i) {
                auto s = Store::open_default();
                if (!s)
                    ::_exit(1);
                const Path path =
                    "/nonexistent/p" + std::to_string(child) + "-" + std::to_string(i);
                if (!s->add_project(project_at(path)))
                    ::_exit(2);
            }
            ::_exit(0);
        }
        ASSERT_GT(children[child], 0);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    const Store s = open();
    EXPECT_EQ(s.data().projects.size(), 2u * per_process);
    std::set<std::string> paths;
    for (const auto& p : s.data().projects)
        paths.insert(p.main_path.string());
    EXPECT_EQ(paths.size(), 2u * per_process);
}

TEST(StoreLockWait, TakenFromTheEnvironmentWhenItIsWholeMilliseconds) {
    using std::chrono::milliseconds;
    const std::pair<std::optional<std::string>, milliseconds> cases[] = {
        {std::nullopt, kLockWait},  {"", kLockWait},
        {"250", milliseconds(250)}, {"0", milliseconds(0)},
        {"-5", kLockWait},          {"1.5", kLockWait},
        {"12x", kLockWait},         {"99999999999999999999", kLockWait},
    };
    for (const auto& [value, expected] : cases) {
        test::ScopedEnv env("KELVO_LOCK_TIMEOUT_MS", value);
        EXPECT_EQ(Store::lock_wait(), expected) << value.value_or("(unset)");
    }
}

} // namespace
} // namespace kelvo::store
