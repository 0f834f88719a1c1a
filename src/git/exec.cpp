#include "git/exec.hpp"

#include "core/process.hpp"
#include "core/text.hpp"

namespace kelvo::git {

Result<std::string, GitError> git_bytes(const Path& dir, const std::vector<std::string>& args) {
    auto output = process::run_captured({"git", args, dir, {}});
    if (!output) {
        OsError& error = output.error();
        // A missing working directory also reports "not found"; the runner
        // names it in the context, so only a bare ENOENT means a missing git.
        if (error.not_found() && error.context.empty())
            return fail(GitError::GitNotFound{});
        return fail(GitError::Io{std::move(error)});
    }
    if (!output->status.success()) {
        const int status = output->status.code.value_or(-1);
        const std::string decoded = text::lossy_utf8(output->err);
        return fail(GitError::CommandFailed{status, std::string(text::trim(decoded))});
    }
    return std::move(output->out);
}

Result<std::string, GitError> git(const Path& dir, const std::vector<std::string>& args) {
    auto bytes = git_bytes(dir, args);
    if (!bytes)
        return fail(std::move(bytes).error());
    return text::lossy_utf8(*bytes);
}

Result<void, GitError> git_ok(const Path& dir, const std::vector<std::string>& args) {
    auto out = git(dir, args);
    if (!out)
        return fail(std::move(out).error());
    return {};
}

} // namespace kelvo::git
