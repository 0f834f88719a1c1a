#include "cli/run_pi.hpp"

#include "cli/output.hpp"
#include "cli/repo.hpp"
#include "core/process.hpp"
#include "core/text.hpp"
#include "git/branch.hpp"
#include "git/worktree.hpp"

#include <csignal>
#include <cstddef>
#include <cstdio>

namespace kelvo::cli {

namespace {

void keep_running(int) {}

// A Ctrl-C or Ctrl-\ reaches the agent and this process alike. While the
// agent runs the keys are the agent's (it may interrupt its own work and go
// on), so this process must not die of them and leave the agent without its
// terminal. A caught signal, unlike an ignored one, is back at its default
// in the child, so the agent still sees them as usual; one this process was
// started ignoring stays ignored for both.
class TerminalSignalsToAgent {
public:
    TerminalSignalsToAgent() {
        for (std::size_t i = 0; i < kCount; ++i) {
            struct sigaction action {};
            action.sa_handler = keep_running;
            sigemptyset(&action.sa_mask);
            action.sa_flags = SA_RESTART;
            m_changed[i] = ::sigaction(kSignals[i], nullptr, &m_old[i]) == 0 &&
                           m_old[i].sa_handler != SIG_IGN &&
                           ::sigaction(kSignals[i], &action, nullptr) == 0;
        }
    }
    ~TerminalSignalsToAgent() {
        for (std::size_t i = 0; i < kCount; ++i)
            if (m_changed[i])
                ::sigaction(kSignals[i], &m_old[i], nullptr);
    }
    TerminalSignalsToAgent(const TerminalSignalsToAgent&) = delete;
    TerminalSignalsToAgent& operator=(const TerminalSignalsToAgent&) = delete;

private:
    static constexpr std::size_t kCount = 2;
    static constexpr int kSignals[kCount] = {SIGINT, SIGQUIT};
    struct sigaction m_old[kCount] {};
    bool m_changed[kCount] = {};
};

} // namespace

Outcome run_pi(const agent::LaunchWorkspace& workspace, bool dry_run) {
    const agent::LaunchSpec spec =
        agent::launch_agent(AppPrefs::defaults(), agent_kind::Pi{}, workspace);

    std::string lines = "program  " + spec.program + "\n";
    lines += "cwd      " + text::display(spec.cwd) + "\n";
    for (const auto& [name, value] : spec.env)
        lines += "env " + name + "=" + value + "\n";
    print(lines);
    if (dry_run)
        return {};
    // The lines must come out before anything the agent writes.
    std::fflush(stdout);

    const process::Command command{
        spec.program, spec.args, spec.cwd, {spec.env.begin(), spec.env.end()}};
    Result<process::ExitStatus, OsError> status = [&] {
        TerminalSignalsToAgent signals;
        return process::run_foreground(command);
    }();
    if (!status)
        return fail(ErrorChain::with_cause("spawn " + spec.program, status.error()));
    if (!status->success())
        return fail(ErrorChain("pi exited with " + status->describe()));
    return {};
}

Outcome pi(const Pi& cmd) {
    // Read even when --cwd is given: a process without a current directory
    // stops here.
    auto current = current_directory();
    if (!current)
        return fail(ErrorChain::from_os(current.error()));

    agent::LaunchWorkspace workspace;
    // As typed: relative stays relative.
    workspace.worktree = cmd.cwd ? *cmd.cwd : *current;
    if (auto main = git::main_worktree_path(workspace.worktree))
        workspace.main_repo = std::move(*main);
    else if (auto root = git::repo_root(workspace.worktree))
        workspace.main_repo = std::move(*root);
    else
        workspace.main_repo = workspace.worktree;
    workspace.branch = git::current_branch(workspace.worktree);
    return run_pi(workspace, cmd.dry_run);
}

} // namespace kelvo::cli
