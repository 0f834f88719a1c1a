#include "cli/grammar.hpp"

#include "core/text.hpp"

#include <gtest/gtest.h>

namespace kelvo::cli {
namespace {

// A canonical rendering of a parsed command line, so that cases compare
// whole values and failures show what was parsed.
std::string describe(const Cli& cli) {
    const auto opt = [](const auto& value) -> std::string {
        if (!value)
            return "-";
        if constexpr (std::is_same_v<std::decay_t<decltype(*value)>, Path>)
            return "'" + value->native() + "'";
        else
            return "'" + *value + "'";
    };
    struct Describe {
        decltype(opt)& o;
        std::string operator()(const ProjectCmd& c) const { return std::visit(*this, c); }
        std::string operator()(const WtCmd& c) const { return std::visit(*this, c); }
        std::string operator()(const ProjectAdd& c) const {
            return "project add path='" + c.path.native() + "' quick_base=" + o(c.quick_base);
        }
        std::string operator()(const ProjectList&) const { return "project list"; }
        std::string operator()(const ProjectSetQuickBase& c) const {
            return "project set-quick-base project='" + c.project + "' base='" + c.base + "'";
        }
        std::string operator()(const WtList& c) const { return "wt list repo=" + o(c.repo); }
        std::string operator()(const WtNew& c) const {
            return "wt new name='" + c.name + "' repo=" + o(c.repo) + " base=" + o(c.base) +
                   " path_only=" + std::to_string(c.path_only) + " pi=" + std::to_string(c.pi);
        }
        std::string operator()(const WtRemove& c) const {
            return "wt remove path='" + c.path.native() + "' repo=" + o(c.repo) +
                   " force=" + std::to_string(c.force);
        }
        std::string operator()(const Branches& c) const { return "branches repo=" + o(c.repo); }
        std::string operator()(const DefaultBase& c) const {
            return "default-base repo=" + o(c.repo);
        }
        std::string operator()(const Pi& c) const {
            return "pi cwd=" + o(c.cwd) + " dry_run=" + std::to_string(c.dry_run);
        }
    };
    return std::visit(Describe{opt}, cli.command);
}

std::string line(const std::vector<std::string>& args) {
    std::string s;
    for (const auto& a : args)
        s += (s.empty() ? "" : " ") + ("'" + a + "'");
    return s;
}

ParseOutcome parse_args(std::vector<std::string> args) {
    args.insert(args.begin(), "/usr/local/bin/kelvo-cli");
    return parse(args);
}

struct Accepted {
    std::vector<std::string> args;
    Cli expected;
};

TEST(Grammar, AcceptedCommandLines) {
    using std::nullopt;
    const Accepted cases[] = {
        {{"branches"}, {Branches{nullopt}}},
        {{"branches", "--repo", "../r"}, {Branches{"../r"}}},
        {{"branches", "--repo=/abs/r"}, {Branches{"/abs/r"}}},
        {{"default-base", "--repo", "r"}, {DefaultBase{"r"}}},
        {{"pi"}, {Pi{nullopt, false}}},
        // Relative paths stay as typed.
        {{"pi", "--cwd", "./sub/../x", "--dry-run"}, {Pi{"./sub/../x", true}}},
        {{"pi", "--dry-run", "--cwd=rel"}, {Pi{"rel", true}}},
        {{"project", "add", "./app"}, {ProjectCmd{ProjectAdd{"./app", nullopt}}}},
        {{"project", "add", "--quick-base", "dev", "app"}, {ProjectCmd{ProjectAdd{"app", "dev"}}}},
        {{"project", "add", "app", "--quick-base=origin/dev"},
         {ProjectCmd{ProjectAdd{"app", "origin/dev"}}}},
        // "--opt=" is an empty value, not a request for the next argument.
        {{"project", "add", "--quick-base=", "app"}, {ProjectCmd{ProjectAdd{"app", ""}}}},
        {{"wt", "new", "feat", "--base=", "--pi"},
         {WtCmd{WtNew{"feat", nullopt, "", false, true}}}},
        {{"project", "list"}, {ProjectCmd{ProjectList{}}}},
        {{"project", "set-quick-base", "app", "origin/main"},
         {ProjectCmd{ProjectSetQuickBase{"app", "origin/main"}}}},
        {{"wt", "list"}, {WtCmd{WtList{nullopt}}}},
        {{"wt", "list", "--repo", "/r"}, {WtCmd{WtList{"/r"}}}},
        {{"wt", "new", "login-fix", "--pi", "--path-only", "--base", "origin/main"},
         {WtCmd{WtNew{"login-fix", nullopt, "origin/main", true, true}}}},
        {{"wt", "new", "--base=main", "--repo", "/r", "feat"},
         {WtCmd{WtNew{"feat", "/r", "main", false, false}}}},
        // A sibling command's name is an ordinary value here.
        {{"wt", "new", "list"}, {WtCmd{WtNew{"list", nullopt, nullopt, false, false}}}},
        {{"project", "add", "wt"}, {ProjectCmd{ProjectAdd{"wt", nullopt}}}},
        // After "--" everything is positional.
        {{"wt", "new", "--", "--weird"}, {WtCmd{WtNew{"--weird", nullopt, nullopt, false, false}}}},
        {{"wt", "new", "caf\xc3\xa9"},
         {WtCmd{WtNew{"caf\xc3\xa9", nullopt, nullopt, false, false}}}},
        {{"wt", "remove", "--force", "../wt/x"}, {WtCmd{WtRemove{"../wt/x", nullopt, true}}}},
        {{"wt", "remove", "x", "--repo", "r"}, {WtCmd{WtRemove{"x", "r", false}}}},
        // Paths are bytes; only strings must be UTF-8.
        {{"wt", "remove", "x\xe9"}, {WtCmd{WtRemove{"x\xe9", nullopt, false}}}},
    };
    for (const auto& c : cases) {
        const auto outcome = parse_args(c.args);
        const auto* cli = std::get_if<Cli>(&outcome);
        if (!cli) {
            ADD_FAILURE() << line(c.args) << " was rejected:\n"
                          << std::get<ParseExit>(outcome).text;
            continue;
        }
        EXPECT_EQ(describe(*cli), describe(c.expected)) << line(c.args);
    }
}

struct Exited {
    std::vector<std::string> args;
    int status;
    Stream stream;
    std::vector<std::string> fragments; // each must appear in the text
};

void expect_exit(const Exited& c) {
    const auto outcome = parse_args(c.args);
    const auto* exit = std::get_if<ParseExit>(&outcome);
    if (!exit) {
        ADD_FAILURE() << line(c.args) << " was accepted as " << describe(std::get<Cli>(outcome));
        return;
    }
    EXPECT_EQ(exit->status, c.status) << line(c.args);
    EXPECT_EQ(exit->stream, c.stream) << line(c.args);
    for (const auto& f : c.fragments)
        EXPECT_NE(exit->text.find(f), std::string::npos)
            << line(c.args) << ": no '" << f << "' in:\n"
            << exit->text;
}

TEST(Grammar, RejectedCommandLinesGiveTheMessageAndUsageOnStderr) {
    const auto err = Stream::Err;
    const Exited cases[] = {
        {{"--version"}, 2, err, {"error: ", "--version", "Usage: kelvo-cli [OPTIONS]"}},
        {{"wt", "branches"},
         2,
         err,
         {"the subcommand 'branches' wasn't recognized", "Usage: kelvo-cli wt "}},
        {{"Wt", "list"}, 2, err, {"the subcommand 'Wt' wasn't recognized"}},
        {{"project", "list", "extra"},
         2,
         err,
         {"not expected: extra", "Usage: kelvo-cli project list"}},
        {{"project", "add"},
         2,
         err,
         {"PATH is required", "Usage: kelvo-cli project add [OPTIONS] PATH"}},
        {{"project", "set-quick-base", "app"}, 2, err, {"BASE is required"}},
        {{"wt", "new", "feat", "--base"}, 2, err, {"--base", "Usage: kelvo-cli wt new"}},
        // An option-like argument is not taken as a value.
        {{"wt", "new", "feat", "--base", "--pi"},
         2,
         err,
         {"--base: a value is required", "Usage: kelvo-cli wt new"}},
        {{"wt", "remove", "--repo", "--force", "p"}, 2, err, {"--repo: a value is required"}},
        {{"branches", "--repo", ""}, 2, err, {"--repo: value must not be empty"}},
        {{"branches", "--repo="}, 2, err, {"--repo: value must not be empty"}},
        {{"wt", "list", "--repo=", "extra"}, 2, err, {"--repo: value must not be empty"}},
        {{"project", "add", ""}, 2, err, {"PATH: value must not be empty"}},
        // Flags take no value, not even "true" or "false".
        {{"wt", "new", "feat", "--pi=true"}, 2, err, {"--pi: a flag takes no value"}},
        {{"wt", "remove", "p", "--force=false"}, 2, err, {"--force: a flag takes no value"}},
        {{"pi", "--dry-run="}, 2, err, {"--dry-run: a flag takes no value"}},
        {{"project", "list", "wt", "list"}, 2, err, {"not expected: wt list"}},
        {{"project", "list", "branches"}, 2, err, {"not expected: branches"}},
        {{"wt", "new", "caf\xe9"}, 2, err, {"NAME: value is not valid UTF-8"}},
        {{"project", "set-quick-base", "app", "\xff"}, 2, err, {"BASE: value is not valid UTF-8"}},
        {{"wt", "new", "feat", "--base", "\xc3"}, 2, err, {"--base: value is not valid UTF-8"}},
        // Long options only, no abbreviations, no global options.
        {{"wt", "new", "feat", "--bas", "main"}, 2, err, {"--bas"}},
        {{"wt", "new", "-p", "feat"}, 2, err, {"-p"}},
        {{"--repo", "r", "wt", "list"}, 2, err, {"--repo", "Usage: kelvo-cli [OPTIONS]"}},
        {{"wt", "--repo", "r", "list"}, 2, err, {"--repo", "Usage: kelvo-cli wt "}},
        {{"wt", "new", "a", "b"}, 2, err, {"not expected: b"}},
        {{"wt", "new", "feat", "--base", "a", "--base", "b"}, 2, err, {"--base"}},
        {{"help", "nosuch"}, 2, err, {"the subcommand 'nosuch' wasn't recognized"}},
        {{"wt", "help", "new", "extra"}, 2, err, {"the subcommand 'extra' wasn't recognized"}},
    };
    for (const auto& c : cases)
        expect_exit(c);
}

TEST(Grammar, ArgumentsEchoedInErrorsAreShownAsText) {
    const auto outcome = parse_args({"project", "list", "x\xff"});
    const auto& text = std::get<ParseExit>(outcome).text;
    EXPECT_TRUE(text::is_valid_utf8(text));
    EXPECT_NE(text.find("x\xef\xbf\xbd"), std::string::npos) << text;
}

TEST(Grammar, CommandGroupsAloneShowTheirHelpOnStderr) {
    const auto err = Stream::Err;
    const Exited cases[] = {
        {{},
         2,
         err,
         {"Kelvo headless CLI (gold samples)", "Usage: kelvo-cli [OPTIONS] [SUBCOMMAND]"}},
        {{"project"},
         2,
         err,
         {"Register a Git repository", "Usage: kelvo-cli project [OPTIONS] [SUBCOMMAND]"}},
        {{"wt"}, 2, err, {"Worktree operations", "Usage: kelvo-cli wt [OPTIONS] [SUBCOMMAND]"}},
    };
    for (const auto& c : cases)
        expect_exit(c);
}

TEST(Grammar, HelpRequestsPrintHelpOnStdout) {
    const auto out = Stream::Out;
    const Exited cases[] = {
        {{"--help"}, 0, out, {"Usage: kelvo-cli [OPTIONS] [SUBCOMMAND]"}},
        {{"-h"}, 0, out, {"Usage: kelvo-cli [OPTIONS] [SUBCOMMAND]"}},
        {{"pi", "-h"}, 0, out, {"Usage: kelvo-cli pi [OPTIONS]"}},
        {{"wt", "new", "--help"}, 0, out, {"Usage: kelvo-cli wt new [OPTIONS] NAME"}},
        {{"wt", "-h", "new"}, 0, out, {"Usage: kelvo-cli wt new"}},
        {{"help"}, 0, out, {"Usage: kelvo-cli [OPTIONS] [SUBCOMMAND]"}},
        {{"help", "wt"}, 0, out, {"Usage: kelvo-cli wt [OPTIONS] [SUBCOMMAND]"}},
        {{"help", "wt", "new"}, 0, out, {"Usage: kelvo-cli wt new [OPTIONS] NAME"}},
        {{"wt", "help"}, 0, out, {"Usage: kelvo-cli wt [OPTIONS] [SUBCOMMAND]"}},
        {{"wt", "help", "remove"}, 0, out, {"Usage: kelvo-cli wt remove [OPTIONS] PATH"}},
        {{"project", "help", "set-quick-base"},
         0,
         out,
         {"Usage: kelvo-cli project set-quick-base [OPTIONS] PROJECT BASE"}},
    };
    for (const auto& c : cases)
        expect_exit(c);
}

// Every about text, value name and help text, in the help of its command.
TEST(Grammar, HelpShowsTheDeclaredTexts) {
    const auto out = Stream::Out;
    const Exited cases[] = {
        {{"--help"},
         0,
         out,
         {"Kelvo headless CLI (gold samples)",
          "Register a Git repository or regular project directory in the local store",
          "Worktree operations against a main repo path", "List branches",
          "Resolve default / origin HEAD base",
          "Start Pi in a directory (inherits session defaults)", "help", "-h,--help"}},
        {{"project", "-h"}, 0, out, {"add", "list", "set-quick-base", "help"}},
        {{"project", "add", "-h"},
         0,
         out,
         {"PATH", "--quick-base QUICK_BASE", "Set quick base (default: resolve origin/HEAD)"}},
        {{"project", "set-quick-base", "-h"},
         0,
         out,
         {"PROJECT", "Project name or path substring", "BASE"}},
        {{"wt", "-h"},
         0,
         out,
         {"list", "new", "Create worktree: new branch from base (quick base or --base)", "remove"}},
        {{"wt", "list", "-h"}, 0, out, {"--repo REPO"}},
        {{"wt", "new", "-h"},
         0,
         out,
         {"NAME", "--repo REPO", "--base BASE",
          "Base ref (default: store quick_base or origin/HEAD)", "--path-only",
          "Print path only, do not run git (debug)", "--pi",
          "After create, run pi in the new worktree"}},
        {{"wt", "remove", "-h"}, 0, out, {"PATH", "--repo REPO", "--force"}},
        {{"branches", "-h"}, 0, out, {"List branches", "--repo REPO", "Repo path (default: cwd)"}},
        {{"default-base", "-h"}, 0, out, {"--repo REPO"}},
        {{"pi", "-h"},
         0,
         out,
         {"--cwd CWD", "Working directory (default: cwd)", "--dry-run", "Also print launch env"}},
    };
    for (const auto& c : cases)
        expect_exit(c);
}

// --- Extraction, fed directly: only declarations that disagree with it
// reach these paths through the parser. ---

Matches with_subcommand(std::string name, Matches sub) {
    Matches m;
    m.subcommand = std::move(name);
    m.subcommand_matches.push_back(std::move(sub));
    return m;
}

TEST(Extraction, FailuresCarryTheirKindMessageAndCommand) {
    struct Case {
        const char* name;
        Matches matches;
        ExtractErrorKind kind;
        const char* message;
        std::vector<std::string> path;
    };
    Matches add_without_path;
    add_without_path.args["path"] = {false, std::nullopt};
    add_without_path.args["quick_base"] = {false, std::nullopt};
    const Case cases[] = {
        {"nothing selected",
         Matches{},
         ExtractErrorKind::MissingSubcommand,
         "a subcommand is required but one was not provided",
         {}},
        {"wt without subcommand",
         with_subcommand("wt", Matches{}),
         ExtractErrorKind::MissingSubcommand,
         "a subcommand is required but one was not provided",
         {"wt"}},
        {"unknown top level",
         with_subcommand("bogus", Matches{}),
         ExtractErrorKind::InvalidSubcommand,
         "the subcommand 'bogus' wasn't recognized",
         {}},
        {"unknown under project",
         with_subcommand("project", with_subcommand("nope", Matches{})),
         ExtractErrorKind::InvalidSubcommand,
         "the subcommand 'nope' wasn't recognized",
         {"project"}},
        {"required value absent",
         with_subcommand("project", with_subcommand("add", add_without_path)),
         ExtractErrorKind::MissingRequiredArgument,
         "the following required argument was not provided: path",
         {"project", "add"}},
    };
    for (const auto& c : cases) {
        auto result = extract(c.matches);
        ASSERT_FALSE(result) << c.name;
        EXPECT_EQ(result.error().kind, c.kind) << c.name;
        EXPECT_EQ(result.error().message, c.message) << c.name;
        EXPECT_EQ(result.error().command_path, c.path) << c.name;
    }
}

TEST(Extraction, TakesValuesAndFlagsByIdentifier) {
    Matches remove;
    remove.args["path"] = {false, "wt/x"};
    remove.args["repo"] = {false, std::nullopt};
    remove.args["force"] = {true, ""};
    auto result = extract(with_subcommand("wt", with_subcommand("remove", remove)));
    ASSERT_TRUE(result);
    EXPECT_EQ(describe(*result), "wt remove path='wt/x' repo=- force=1");
}

TEST(ExtractionDeathTest, UndeclaredOrMistypedIdentifierIsAProgrammingError) {
    Matches branches_without_repo;
    EXPECT_DEATH((void)extract(with_subcommand("branches", branches_without_repo)),
                 "Mismatch between definition and access of `repo`");
    Matches pi_with_value_flag;
    pi_with_value_flag.args["cwd"] = {false, std::nullopt};
    pi_with_value_flag.args["dry_run"] = {false, std::nullopt};
    EXPECT_DEATH((void)extract(with_subcommand("pi", pi_with_value_flag)),
                 "Mismatch between definition and access of `dry_run`");
}

} // namespace
} // namespace kelvo::cli
