#include "cli/app.hpp"

#include "cli/grammar.hpp"
#include "cli/handlers.hpp"
#include "core/log.hpp"

#include <cerrno>
#include <cstdio>

namespace kelvo::cli {

namespace {

struct Dispatch {
    Outcome operator()(const ProjectCmd& cmd) const { return std::visit(*this, cmd); }
    Outcome operator()(const WtCmd& cmd) const { return std::visit(*this, cmd); }

    Outcome operator()(const ProjectAdd& cmd) const { return project_add(cmd); }
    Outcome operator()(const ProjectList& cmd) const { return project_list(cmd); }
    Outcome operator()(const ProjectSetQuickBase& cmd) const { return project_set_quick_base(cmd); }
    Outcome operator()(const WtList& cmd) const { return wt_list(cmd); }
    Outcome operator()(const WtNew& cmd) const { return wt_new(cmd); }
    Outcome operator()(const WtRemove& cmd) const { return wt_remove(cmd); }
    Outcome operator()(const Branches& cmd) const { return branches(cmd); }
    Outcome operator()(const DefaultBase& cmd) const { return default_base(cmd); }
    Outcome operator()(const Pi& cmd) const { return pi(cmd); }
};

void write(std::FILE* stream, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stream);
}

// Results already written may sit in stdio's buffer; if they cannot reach
// standard output the command did not do its job, whatever it returned.
bool flush_stdout(int& error) {
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return true;
    error = errno ? errno : EIO;
    return false;
}

int finish(int status) {
    int error = 0;
    if (flush_stdout(error))
        return status;
    if (status == 0 || status == 1) {
        // Only the first failure is reported; a handler error already was.
        if (status == 0)
            write(stderr,
                  ErrorChain::with_cause("write standard output", OsError{error, {}}).report());
        return 1;
    }
    return status;
}

} // namespace

int run(int argc, char** argv) {
    log::install(log::config_from_env());

    auto parsed = parse(std::vector<std::string>(argv, argv + argc));
    if (auto* exit = std::get_if<ParseExit>(&parsed)) {
        write(exit->stream == Stream::Out ? stdout : stderr, exit->text);
        return finish(exit->status);
    }

    const Outcome outcome = std::visit(Dispatch{}, std::get<Cli>(parsed).command);
    if (!outcome) {
        // Lines printed before the failure come first on a shared terminal.
        std::fflush(stdout);
        write(stderr, outcome.error().report());
        return finish(1);
    }
    return finish(0);
}

} // namespace kelvo::cli
