// Each step of saving the state file made to fail in the real binary, with
// strace's fault injection: the user sees an io error and status 1, and the
// state file is the old one byte for byte (or, once the rename is done, the
// complete new one), with no temporary file left behind.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "support/fixtures.hpp"
#include "support/state_checks.hpp"

namespace kelvo::test {
namespace {

namespace fs = std::filesystem;

// One system call as strace -f logs it: "PID name(args) = result".
struct Call {
    int pid = 0;
    std::string name;
    std::string text; // from the name on
};

std::vector<Call> read_trace(const Path& log) {
    std::vector<Call> calls;
    std::istringstream in(read_file(log));
    for (std::string line; std::getline(in, line);) {
        std::size_t pos = 0;
        int pid = 0;
        while (pos < line.size() && std::isdigit(static_cast<unsigned char>(line[pos])))
            pid = pid * 10 + (line[pos++] - '0');
        while (pos < line.size() && line[pos] == ' ')
            ++pos;
        // Skips signals, exits and the second half of interrupted calls.
        const std::size_t paren = line.find('(', pos);
        if (paren == std::string::npos || line.compare(pos, 1, "<") == 0 ||
            line.compare(pos, 3, "---") == 0 || line.compare(pos, 3, "+++") == 0)
            continue;
        calls.push_back({pid, line.substr(pos, paren - pos), line.substr(pos)});
    }
    return calls;
}

// The result after " = ", as a number (-1 for an error).
long result_of(const Call& call) {
    const auto eq = call.text.rfind(") = ");
    return eq == std::string::npos ? -2 : std::strtol(call.text.c_str() + eq + 4, nullptr, 10);
}

// Whether the call's first argument is the descriptor.
bool is_on_fd(const Call& call, long fd) {
    const std::string args = call.text.substr(call.name.size());
    std::string head = "(";
    head += std::to_string(fd);
    return args.rfind(head + ",", 0) == 0 || args.rfind(head + ")", 0) == 0;
}

const char* const kTempMarker = ".state.json.tmp-";

// Where the steps of the first save fall among the saving process's calls:
// the syscall glibc used and its 1-based invocation number for that
// process, which is what strace's when= counts.
struct Site {
    std::string syscall;
    int when = 0;
};

struct SaveSites {
    int pid = 0;
    Site create, write, sync, rename, dir_sync;
};

std::optional<SaveSites> find_save_sites(const std::vector<Call>& calls) {
    std::map<std::pair<int, std::string>, int> seen;
    SaveSites sites;
    long temp_fd = -1;
    enum { Create, Write, Sync, Rename, DirSync, Done } next = Create;
    for (const auto& call : calls) {
        const int n = ++seen[{call.pid, call.name}];
        if (next != Create && call.pid != sites.pid)
            continue;
        const bool on_temp = call.text.find(kTempMarker) != std::string::npos;
        switch (next) {
        case Create:
            if (on_temp && (call.name == "openat" || call.name == "open" || call.name == "creat")) {
                sites.pid = call.pid;
                sites.create = {call.name, n};
                temp_fd = result_of(call);
                next = Write;
            }
            break;
        case Write:
            if (call.name == "write" && is_on_fd(call, temp_fd)) {
                sites.write = {call.name, n};
                next = Sync;
            }
            break;
        case Sync:
            if ((call.name == "fsync" || call.name == "fdatasync") && is_on_fd(call, temp_fd)) {
                sites.sync = {call.name, n};
                next = Rename;
            }
            break;
        case Rename:
            if (on_temp && call.name.rfind("rename", 0) == 0) {
                sites.rename = {call.name, n};
                next = DirSync;
            }
            break;
        case DirSync:
            if (call.name == "fsync" || call.name == "fdatasync") {
                sites.dir_sync = {call.name, n};
                next = Done;
            }
            break;
        case Done:
            break;
        }
    }
    if (next != Done)
        return std::nullopt;
    return sites;
}

// strace present and allowed to trace here (ptrace may be forbidden in a
// container).
bool strace_usable() {
    static const bool usable = [] {
        try {
            return run("strace", {"-f", "-qq", "-o", "/dev/null", "true"}).status == 0;
        } catch (const std::exception&) {
            return false;
        }
    }();
    return usable;
}

std::string errno_text(int code) {
    return std::strerror(code);
}

// The environment of a traced kelvo-cli. LeakSanitizer cannot run under
// ptrace, so a sanitizer build keeps the rest of its checks only.
Env traced_env(const Path& home) {
    Env env = hermetic_git_env();
    env.emplace_back("HOME", home.string());
    env.emplace_back("NO_COLOR", "1");
    const char* asan = std::getenv("ASAN_OPTIONS");
    env.emplace_back("ASAN_OPTIONS",
                     std::string(asan && *asan ? std::string(asan) + ":" : "") + "detect_leaks=0");
    return env;
}

// A HOME whose state file holds one directory project, and a second plain
// directory to add.
struct Scene {
    TempDir home;
    TempDir work;
    Path state;
    Path new_dir;
    std::string old_bytes;

    Scene() : state(state_file(home.path())), new_dir(work / "second") {
        fs::create_directories(work / "first");
        fs::create_directories(new_dir);
        const auto first = run_kelvo({"project", "add", (work / "first").string()}, home.path());
        EXPECT_EQ(first.status, 0) << first.err;
        old_bytes = read_file(state);
    }

    // kelvo-cli project add under strace with the given extra options.
    RunResult add_traced(const std::vector<std::string>& strace_options, const Path& log) {
        std::vector<std::string> args{"-f", "-qq", "-s", "4096", "-o", log.string()};
        args.insert(args.end(), strace_options.begin(), strace_options.end());
        args.insert(args.end(), {KELVO_CLI_PATH, "project", "add", new_dir.string()});
        return run("strace", args, work.path(), traced_env(home.path()));
    }
};

// The sites found in a normal traced run; the same for every scene, since
// the calls before the save do not depend on the paths involved.
const SaveSites& normal_sites() {
    static const SaveSites sites = [] {
        Scene scene;
        const Path log = scene.work / "normal.trace";
        const auto r = scene.add_traced({"-e", "trace=%file,%desc"}, log);
        EXPECT_EQ(r.status, 0) << r.err;
        const auto found = find_save_sites(read_trace(log));
        if (!found) {
            ADD_FAILURE() << "no complete save in the trace:\n" << read_file(log);
            return SaveSites{};
        }
        std::printf("[ strace   ] normal run, invocation numbers in the saving process: create "
                    "%s when=%d, write %s when=%d, sync %s when=%d, rename %s when=%d, "
                    "directory sync %s when=%d\n",
                    found->create.syscall.c_str(), found->create.when, found->write.syscall.c_str(),
                    found->write.when, found->sync.syscall.c_str(), found->sync.when,
                    found->rename.syscall.c_str(), found->rename.when,
                    found->dir_sync.syscall.c_str(), found->dir_sync.when);
        return *found;
    }();
    return sites;
}

struct Fault {
    const char* label;
    Site SaveSites::*site;
    const char* action;   // strace's error= or retval= part
    std::string expected; // in the report after "Error: io: "
    bool renamed;         // the fault comes after the rename
};

void PrintTo(const Fault& fault, std::ostream* os) {
    *os << fault.label;
}

class SaveFault : public testing::TestWithParam<Fault> {
protected:
    void SetUp() override {
        use_hermetic_git();
        if (!strace_usable())
            GTEST_SKIP() << "strace is missing or may not trace here";
    }
};

TEST_P(SaveFault, ReportsIoAndKeepsAWholeStateFile) {
    const Fault& fault = GetParam();
    const Site& site = normal_sites().*fault.site;
    ASSERT_GT(site.when, 0);
    Scene scene;
    const std::string inject =
        "inject=" + site.syscall + ":" + fault.action + ":when=" + std::to_string(site.when);
    const Path log = scene.work / "fault.trace";
    const auto r = scene.add_traced({"-e", "trace=%file,%desc", "-e", inject}, log);

    // The injection hit the saving process's own call, not one of git's.
    const auto calls = read_trace(log);
    int saver = 0;
    for (const auto& call : calls) {
        if (!saver && call.text.find(kTempMarker) != std::string::npos)
            saver = call.pid;
    }
    bool hit = false;
    for (const auto& call : calls) {
        hit = hit || (call.pid == saver && call.name == site.syscall &&
                      call.text.find("(INJECTED)") != std::string::npos);
    }
    ASSERT_TRUE(hit) << inject << " did not reach the save:\n" << read_file(log);

    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(r.err.rfind("Error: io: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(fault.expected), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("added"), std::string::npos) << "a failure reported as success: " << r.out;
    EXPECT_TRUE(leftover_temp_files(scene.state).empty());

    const auto after = read_state(scene.state);
    ASSERT_TRUE(after.ok()) << after.error;
    if (fault.renamed) {
        // Not durable, but complete: the document with the new project.
        EXPECT_EQ(after.project_paths(), (std::vector<std::string>{(scene.work / "first").string(),
                                                                   scene.new_dir.string()}));
    } else {
        EXPECT_EQ(after.text, scene.old_bytes);
    }

    // And the store goes on working.
    const auto list = run_kelvo({"project", "list"}, scene.home.path());
    EXPECT_EQ(list.status, 0) << list.err;
    const auto again = run_kelvo({"project", "add", scene.new_dir.string()}, scene.home.path());
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(read_state(scene.state).threads_at(scene.new_dir.string()).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, SaveFault,
    testing::Values(
        Fault{"CreateTemp", &SaveSites::create, "error=ENOSPC", errno_text(ENOSPC), false},
        Fault{"WriteNoSpace", &SaveSites::write, "error=ENOSPC", errno_text(ENOSPC), false},
        Fault{"WriteTakesNothing", &SaveSites::write, "retval=0", "failed to write whole buffer",
              false},
        Fault{"FullSync", &SaveSites::sync, "error=EIO", errno_text(EIO), false},
        Fault{"Rename", &SaveSites::rename, "error=EROFS", errno_text(EROFS), false},
        Fault{"DirectorySync", &SaveSites::dir_sync, "error=EIO", errno_text(EIO), true}),
    [](const testing::TestParamInfo<Fault>& info) { return std::string(info.param.label); });

// strace cannot fake a partial write (its retval= skips the call), so the
// short write here is a real one: a file size limit of 512 bytes makes the
// kernel take part of the document and refuse the rest with EFBIG.
TEST(SaveShortWrite, FailsOnTheRestAndKeepsTheOldFile) {
    use_hermetic_git();
    if (!strace_usable())
        GTEST_SKIP() << "strace is missing or may not trace here";
    Scene scene;
    const Path log = scene.work / "short.trace";
    std::vector<std::string> args{"-f",
                                  "-qq",
                                  "-s",
                                  "4096",
                                  "-o",
                                  log.string(),
                                  "-e",
                                  "trace=%file,write",
                                  "sh",
                                  "-c",
                                  "trap '' XFSZ; ulimit -f 1; exec \"$0\" \"$@\"",
                                  KELVO_CLI_PATH,
                                  "project",
                                  "add",
                                  scene.new_dir.string()};
    const auto r = run("strace", args, scene.work.path(), traced_env(scene.home.path()));

    // The trace shows the short write and the refused rest on the temp file.
    const auto calls = read_trace(log);
    long temp_fd = -1;
    std::vector<long> results;
    for (const auto& call : calls) {
        if (temp_fd < 0 && call.name == "openat" &&
            call.text.find(kTempMarker) != std::string::npos)
            temp_fd = result_of(call);
        else if (temp_fd >= 0 && call.name == "write" && is_on_fd(call, temp_fd))
            results.push_back(result_of(call));
    }
    ASSERT_EQ(results, (std::vector<long>{512, -1})) << read_file(log);

    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(r.err.rfind("Error: io: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(errno_text(EFBIG)), std::string::npos) << r.err;
    EXPECT_EQ(read_file(scene.state), scene.old_bytes);
    EXPECT_TRUE(leftover_temp_files(scene.state).empty());
}

} // namespace
} // namespace kelvo::test
