#include "support/fixtures.hpp"

#include "core/process.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kelvo::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kelvo-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = std::filesystem::canonical(pattern);
}

TempDir::~TempDir() {
    if (std::getenv("KELVO_KEEP_TEST_DIRS"))
        return;
    std::error_code ec;
    // Make everything writable again so that read-only test directories go.
    for (auto it = std::filesystem::recursive_directory_iterator(
             m_path, std::filesystem::directory_options::none, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
    }
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(m_path, ec);
}

std::string read_file(const Path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const Path& path, const std::string& content) {
    if (path.has_parent_path())
        std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

namespace {

const Path& git_config_dir() {
    static const Path dir = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kelvo-gitconfig-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        write_file(Path(pattern) / "gitconfig", "[user]\n"
                                                "\tname = Kelvo Test\n"
                                                "\temail = test@kelvo.invalid\n"
                                                "[init]\n"
                                                "\tdefaultBranch = main\n"
                                                "[advice]\n"
                                                "\tdetachedHead = false\n"
                                                "[protocol \"file\"]\n"
                                                "\tallow = always\n");
        return Path(pattern);
    }();
    return dir;
}

} // namespace

const Env& hermetic_git_env() {
    static const Env env = {
        {"GIT_CONFIG_GLOBAL", (git_config_dir() / "gitconfig").string()},
        {"GIT_CONFIG_NOSYSTEM", "1"},
        {"GIT_TERMINAL_PROMPT", "0"},
    };
    return env;
}

void use_hermetic_git() {
    for (const auto& [name, value] : hermetic_git_env())
        ::setenv(name.c_str(), value.c_str(), 1);
}

RunResult run(const std::string& program, const std::vector<std::string>& args,
              const std::optional<Path>& cwd, const Env& env) {
    process::Command command{program, args, cwd, env};
    auto output = process::run_captured(command);
    if (!output)
        throw std::runtime_error("cannot run " + program + ": " + output.error().message());
    RunResult result;
    result.out = std::move(output->out);
    result.err = std::move(output->err);
    if (output->status.code)
        result.status = *output->status.code;
    else if (output->status.signal)
        result.status = 128 + *output->status.signal;
    return result;
}

std::string git(const Path& dir, const std::vector<std::string>& args) {
    auto result = run("git", args, dir, hermetic_git_env());
    if (result.status != 0) {
        std::string line = "git";
        for (const auto& a : args)
            line += " " + a;
        ADD_FAILURE() << line << " in " << dir << " failed (" << result.status
                      << "): " << result.err;
    }
    return result.out;
}

Path make_repo(const Path& dir) {
    std::filesystem::create_directories(dir);
    git(dir, {"init", "-q", "-b", "main"});
    write_file(dir / "README", "hello\n");
    git(dir, {"add", "README"});
    git(dir, {"commit", "-q", "-m", "initial"});
    return std::filesystem::canonical(dir);
}

RunResult run_kelvo(const std::vector<std::string>& args, const Path& home,
                    const std::optional<Path>& cwd, const Env& env) {
    Env full = hermetic_git_env();
    full.emplace_back("HOME", home.string());
    bool color_set = false;
    for (const auto& [name, value] : env)
        color_set = color_set || name == "NO_COLOR";
    if (!color_set)
        full.emplace_back("NO_COLOR", "1");
    full.insert(full.end(), env.begin(), env.end());
    return run(KELVO_CLI_PATH, args, cwd, full);
}

Path state_file(const Path& home) {
    return home / "Library" / "Application Support" / "kelvo" / "state.json";
}

} // namespace kelvo::test
