#pragma once

// The command-line grammar of kelvo-cli: parsing the process arguments into
// a typed Cli, or into what to print and exit with instead.

#include "cli/command.hpp"
#include "core/result.hpp"

#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kelvo::cli {

// Where a ParseExit's text goes: standard output or standard error.
enum class Stream { Out, Err };

// The process ends here instead of running a command: help (status 0 on
// standard output), a bare command group (its help, status 2 on standard
// error) or a rejected command line (message and usage, status 2).
struct ParseExit {
    int status = 0;
    Stream stream = Stream::Out;
    std::string text;
};

using ParseOutcome = std::variant<Cli, ParseExit>;

// Parses an argument list whose first element is the program's path. Never
// prints and never exits.
ParseOutcome parse(const std::vector<std::string>& args);

// --- Extraction of the typed value from what the parser matched ---

// One declared argument of a matched command.
struct MatchedArg {
    bool is_flag = false;
    std::optional<std::string> value; // the value given; "" for a given flag
};

// What the parser matched for one command: every declared argument by its
// identifier, and the selected subcommand, if any, with its own matches.
struct Matches {
    std::map<std::string, MatchedArg> args;
    std::optional<std::string> subcommand;
    std::vector<Matches> subcommand_matches; // one element when subcommand is set
};

// Why the typed value could not be built from the matches.
enum class ExtractErrorKind { MissingSubcommand, InvalidSubcommand, MissingRequiredArgument };

// The first extraction failure, with the commands reached so that it can be
// shown with the right usage line.
struct ExtractError {
    ExtractErrorKind kind;
    std::string message;
    std::vector<std::string> command_path; // the subcommands reached, outermost first
};

// Builds the Cli from the matches of the root command. Fails with the first
// missing subcommand, unrecognised subcommand name or missing required
// argument. Looking up an identifier that is not declared, or is declared as
// the other kind, is a programming error: it prints "Mismatch between
// definition and access of `{id}`. ..." and aborts.
Result<Cli, ExtractError> extract(Matches matches);

} // namespace kelvo::cli
