// The only translation unit that sees CLI11; it costs seconds to compile.
#include "cli/grammar.hpp"

#include "core/text.hpp"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace kelvo::cli {

namespace {

// --- Declarations ---

enum class ArgType { Path, String, Flag };

struct ArgDecl {
    const char* id;         // the identifier extraction looks it up by
    const char* long_name;  // "--repo"; nullptr for a positional
    const char* value_name; // "REPO"; nullptr for a flag
    ArgType type;
    const char* help;
};

struct CommandDecl {
    const char* name;
    const char* about;
    std::vector<ArgDecl> args;
    std::vector<CommandDecl> subcommands;
};

const CommandDecl& grammar() {
    using enum ArgType;
    static const CommandDecl root{
        "kelvo-cli",
        "Kelvo headless CLI (gold samples)",
        {},
        {
            {"project",
             "Register a Git repository or regular project directory in the local store",
             {},
             {
                 {"add",
                  "",
                  {
                      {"path", nullptr, "PATH", Path, ""},
                      {"quick_base", "--quick-base", "QUICK_BASE", String,
                       "Set quick base (default: resolve origin/HEAD)"},
                  },
                  {}},
                 {"list", "", {}, {}},
                 {"set-quick-base",
                  "",
                  {
                      {"project", nullptr, "PROJECT", String, "Project name or path substring"},
                      {"base", nullptr, "BASE", String, ""},
                  },
                  {}},
             }},
            {"wt",
             "Worktree operations against a main repo path",
             {},
             {
                 {"list", "", {{"repo", "--repo", "REPO", Path, ""}}, {}},
                 {"new",
                  "Create worktree: new branch from base (quick base or --base)",
                  {
                      {"name", nullptr, "NAME", String, ""},
                      {"repo", "--repo", "REPO", Path, ""},
                      {"base", "--base", "BASE", String,
                       "Base ref (default: store quick_base or origin/HEAD)"},
                      {"path_only", "--path-only", nullptr, Flag,
                       "Print path only, do not run git (debug)"},
                      {"pi", "--pi", nullptr, Flag, "After create, run pi in the new worktree"},
                  },
                  {}},
                 {"remove",
                  "",
                  {
                      {"path", nullptr, "PATH", Path, ""},
                      {"repo", "--repo", "REPO", Path, ""},
                      {"force", "--force", nullptr, Flag, ""},
                  },
                  {}},
             }},
            {"branches",
             "List branches",
             {{"repo", "--repo", "REPO", Path, "Repo path (default: cwd)"}},
             {}},
            {"default-base",
             "Resolve default / origin HEAD base",
             {{"repo", "--repo", "REPO", Path, ""}},
             {}},
            {"pi",
             "Start Pi in a directory (inherits session defaults)",
             {
                 {"cwd", "--cwd", "CWD", Path, "Working directory (default: cwd)"},
                 {"dry_run", "--dry-run", nullptr, Flag, "Also print launch env"},
             },
             {}},
        }};
    return root;
}

constexpr const char* help_command = "help";

// --- Building the CLI11 tree ---

const CLI::Validator& non_empty() {
    static const CLI::Validator v(
        [](std::string& value) { return value.empty() ? "value must not be empty" : ""; }, "");
    return v;
}

// CLI11 passes argument bytes through unchecked.
const CLI::Validator& utf8() {
    static const CLI::Validator v(
        [](std::string& value) {
            return text::is_valid_utf8(value) ? "" : "value is not valid UTF-8";
        },
        "");
    return v;
}

CLI::Option* option_of(CLI::App& app, const ArgDecl& arg) {
    return app.get_option_no_throw(arg.long_name ? arg.long_name : arg.value_name);
}

void declare(CLI::App& app, const CommandDecl& decl) {
    app.set_help_flag("-h,--help", "Print help");
    // Without an upper bound CLI11 accepts "project list wt list" as two commands.
    app.require_subcommand(0, 1);
    for (const auto& arg : decl.args) {
        if (arg.type == ArgType::Flag) {
            const std::string help = arg.help;
            app.add_flag(arg.long_name, help);
            continue;
        }
        CLI::Option* opt = app.add_option(arg.long_name ? arg.long_name : arg.value_name,
                                          CLI::callback_t{}, std::string(arg.help));
        if (arg.long_name) {
            opt->type_name(arg.value_name);
        } else {
            opt->type_name("");
            opt->required();
        }
        opt->check(arg.type == ArgType::Path ? non_empty() : utf8());
    }
    if (decl.subcommands.empty())
        return;
    for (const auto& sub : decl.subcommands)
        declare(*app.add_subcommand(sub.name, sub.about), sub);
    // CLI11 has no help subcommand of its own.
    CLI::App* help = app.add_subcommand(
        help_command, "Print this message or the help of the given subcommand(s)");
    help->set_help_flag("-h,--help", "Print help");
    help->add_option("COMMAND", CLI::callback_t{}, "The subcommand whose help to print")
        ->type_name("")
        ->expected(0, -1)
        ->allow_extra_args();
}

std::unique_ptr<CLI::App> build() {
    const auto& decl = grammar();
    auto app = std::make_unique<CLI::App>(decl.about, decl.name);
    declare(*app, decl);
    return app;
}

// --- Walking the tree ---

const CLI::App* subcommand_named(const CLI::App& app, std::string_view name) {
    for (const CLI::App* sub : app.get_subcommands({}))
        if (sub->get_name() == name)
            return sub;
    return nullptr;
}

const CommandDecl* decl_named(const CommandDecl& decl, std::string_view name) {
    for (const auto& sub : decl.subcommands)
        if (name == sub.name)
            return &sub;
    return nullptr;
}

// The chain of parsed commands, root first.
std::vector<const CLI::App*> parsed_chain(const CLI::App& root) {
    std::vector<const CLI::App*> chain{&root};
    while (!chain.back()->get_subcommands().empty())
        chain.push_back(chain.back()->get_subcommands().front());
    return chain;
}

std::string full_path(const CLI::App& app) {
    std::string path = app.get_name();
    for (const CLI::App* p = app.get_parent(); p; p = p->get_parent())
        path = p->get_name() + " " + path;
    return path;
}

bool has_subcommands(const CLI::App& app) {
    return !app.get_subcommands({}).empty();
}

// --- Outcomes ---

std::string help_text(const CLI::App& app) {
    return app.get_formatter()->make_help(&app, full_path(app), CLI::AppFormatMode::Normal);
}

ParseExit usage_error(const CLI::App& at, const std::string& message) {
    const std::string path = full_path(at);
    std::string out = "error: " + message + "\n\n" + CLI::Formatter().make_usage(&at, path) +
                      "\nFor more information, try '" + path + " --help'.\n";
    // Arguments may carry any bytes; the message echoes them.
    return ParseExit{2, Stream::Err, text::lossy_utf8(out)};
}

// --- Pre-pass over the raw arguments ---

struct PrepassError {
    const CLI::App* at;
    std::string message;
};

bool looks_like_option(const std::string& arg) {
    return arg.size() > 1 && arg[0] == '-';
}

// Rewrites what CLI11 gets wrong, before "--": it reads "--opt=" as a bare
// "--opt" and takes the following argument as the value, it takes an
// option-like argument as the value of an option, and it accepts values for
// flags ("--force=false" clears the flag). Tracks the subcommand reached so
// that the option is looked up where CLI11 will look it up.
std::variant<std::vector<std::string>, PrepassError> prepass(const CLI::App& root,
                                                             const std::vector<std::string>& args) {
    std::vector<std::string> out;
    const CLI::App* at = &root;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") {
            out.insert(out.end(), args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
            break;
        }
        if (arg.starts_with("--") && arg.size() > 2) {
            const auto eq = arg.find('=');
            const std::string name = arg.substr(0, eq);
            const CLI::Option* opt = at->get_option_no_throw(name);
            if (!opt || opt->get_positional()) {
                out.push_back(arg);
                continue;
            }
            if (opt->get_items_expected_max() == 0) {
                if (eq != std::string::npos)
                    return PrepassError{at, name + ": a flag takes no value"};
                out.push_back(arg);
                continue;
            }
            if (eq != std::string::npos) {
                out.push_back(name);
                out.push_back(arg.substr(eq + 1));
                continue;
            }
            if (i + 1 < args.size() && looks_like_option(args[i + 1]))
                return PrepassError{at, name + ": a value is required but none was supplied"};
            out.push_back(arg);
            if (i + 1 < args.size())
                out.push_back(args[++i]);
            continue;
        }
        if (!looks_like_option(arg) && has_subcommands(*at)) {
            if (const CLI::App* sub = subcommand_named(*at, arg))
                at = sub;
        }
        out.push_back(arg);
    }
    return out;
}

// --- From CLI11's results to Matches ---

Matches collect(CLI::App& app, const CommandDecl& decl) {
    Matches m;
    for (const auto& arg : decl.args) {
        const CLI::Option* opt = option_of(app, arg);
        MatchedArg matched{arg.type == ArgType::Flag, std::nullopt};
        if (opt && opt->count() > 0)
            matched.value = matched.is_flag ? std::string() : opt->results().front();
        m.args.emplace(arg.id, std::move(matched));
    }
    const auto parsed = app.get_subcommands();
    if (!parsed.empty()) {
        CLI::App* sub = parsed.front();
        m.subcommand = sub->get_name();
        const CommandDecl* sub_decl = decl_named(decl, sub->get_name());
        static const CommandDecl undeclared{"", "", {}, {}};
        m.subcommand_matches.push_back(collect(*sub, sub_decl ? *sub_decl : undeclared));
    }
    return m;
}

// "help [COMMAND]...": the help of the command those words name.
ParseExit help_for_words(const CLI::App& parent, const CLI::App& help) {
    const CLI::App* target = &parent;
    const CLI::Option* words = help.get_option_no_throw("COMMAND");
    for (const auto& word : words ? words->results() : std::vector<std::string>{}) {
        const CLI::App* sub = subcommand_named(*target, word);
        if (!sub)
            return usage_error(*target, "the subcommand '" + word + "' wasn't recognized");
        target = sub;
    }
    return ParseExit{0, Stream::Out, help_text(*target)};
}

std::string extras_message(const CLI::App& at) {
    const auto extras = at.remaining();
    if (has_subcommands(at) && at.get_subcommands().empty() && !looks_like_option(extras.front()))
        return "the subcommand '" + extras.front() + "' wasn't recognized";
    // CLI11's own message lists them in reverse order.
    std::string message = extras.size() > 1 ? "The following arguments were not expected:"
                                            : "The following argument was not expected:";
    for (const auto& e : extras)
        message += " " + e;
    return message;
}

ParseExit parse_error(const CLI::App& root, const CLI::ParseError& e) {
    const auto chain = parsed_chain(root);
    if (dynamic_cast<const CLI::ExtrasError*>(&e)) {
        // CLI11 checks for leftovers from the root down and stops at the first.
        for (const CLI::App* app : chain)
            if (!app->remaining().empty())
                return usage_error(*app, extras_message(*app));
    }
    return usage_error(*chain.back(), e.what());
}

const CLI::App& app_at(const CLI::App& root, const std::vector<std::string>& path) {
    const CLI::App* at = &root;
    for (const auto& name : path) {
        const CLI::App* sub = subcommand_named(*at, name);
        if (!sub)
            break;
        at = sub;
    }
    return *at;
}

// --- Extraction ---

[[noreturn]] void mismatch(const std::string& id, const std::string& detail) {
    std::fprintf(stderr, "Mismatch between definition and access of `%s`. %s\n", id.c_str(),
                 detail.c_str());
    std::abort();
}

class Extractor {
public:
    using Error = ExtractError;

    // The selected subcommand's name and matches, one level down.
    Result<std::pair<std::string, Matches*>, Error> descend(Matches& m) {
        if (!m.subcommand || m.subcommand_matches.empty())
            return fail(error(ExtractErrorKind::MissingSubcommand,
                              "a subcommand is required but one was not provided"));
        m_path.push_back(*m.subcommand);
        return std::pair<std::string, Matches*>{*m.subcommand, &m.subcommand_matches.front()};
    }

    Error unrecognized(const std::string& name) {
        // The name is already on the path; the usage belongs to its parent.
        m_path.pop_back();
        return error(ExtractErrorKind::InvalidSubcommand,
                     "the subcommand '" + name + "' wasn't recognized");
    }

    std::optional<std::string> optional_value(Matches& m, const std::string& id) {
        auto& arg = lookup(m, id, false);
        return std::exchange(arg.value, std::nullopt);
    }

    Result<std::string, Error> required_value(Matches& m, const std::string& id) {
        auto value = optional_value(m, id);
        if (!value)
            return fail(error(ExtractErrorKind::MissingRequiredArgument,
                              "the following required argument was not provided: " + id));
        return std::move(*value);
    }

    std::optional<Path> optional_path(Matches& m, const std::string& id) {
        auto value = optional_value(m, id);
        return value ? std::optional<Path>(Path(std::move(*value))) : std::nullopt;
    }

    bool flag(Matches& m, const std::string& id) {
        auto& arg = lookup(m, id, true);
        return std::exchange(arg.value, std::nullopt).has_value();
    }

private:
    Error error(ExtractErrorKind kind, std::string message) {
        return Error{kind, std::move(message), m_path};
    }

    MatchedArg& lookup(Matches& m, const std::string& id, bool want_flag) {
        auto it = m.args.find(id);
        if (it == m.args.end())
            mismatch(id, "The argument is not declared for this command.");
        if (it->second.is_flag != want_flag)
            mismatch(id, want_flag ? "It is declared as an option with a value, not a flag."
                                   : "It is declared as a flag, not an option with a value.");
        return it->second;
    }

    std::vector<std::string> m_path;
};

Result<Cli, ExtractError> extract_project(Extractor& x, Matches& m) {
    auto sub = x.descend(m);
    if (!sub)
        return fail(std::move(sub.error()));
    auto& [name, args] = *sub;
    if (name == "add") {
        auto path = x.required_value(*args, "path");
        if (!path)
            return fail(std::move(path.error()));
        return Cli{
            ProjectCmd{ProjectAdd{Path(std::move(*path)), x.optional_value(*args, "quick_base")}}};
    }
    if (name == "list")
        return Cli{ProjectCmd{ProjectList{}}};
    if (name == "set-quick-base") {
        auto project = x.required_value(*args, "project");
        if (!project)
            return fail(std::move(project.error()));
        auto base = x.required_value(*args, "base");
        if (!base)
            return fail(std::move(base.error()));
        return Cli{ProjectCmd{ProjectSetQuickBase{std::move(*project), std::move(*base)}}};
    }
    return fail(x.unrecognized(name));
}

Result<Cli, ExtractError> extract_wt(Extractor& x, Matches& m) {
    auto sub = x.descend(m);
    if (!sub)
        return fail(std::move(sub.error()));
    auto& [name, args] = *sub;
    if (name == "list")
        return Cli{WtCmd{WtList{x.optional_path(*args, "repo")}}};
    if (name == "new") {
        auto wt_name = x.required_value(*args, "name");
        if (!wt_name)
            return fail(std::move(wt_name.error()));
        WtNew cmd{std::move(*wt_name), x.optional_path(*args, "repo"),
                  x.optional_value(*args, "base")};
        cmd.path_only = x.flag(*args, "path_only");
        cmd.pi = x.flag(*args, "pi");
        return Cli{WtCmd{std::move(cmd)}};
    }
    if (name == "remove") {
        auto path = x.required_value(*args, "path");
        if (!path)
            return fail(std::move(path.error()));
        WtRemove cmd{Path(std::move(*path)), x.optional_path(*args, "repo")};
        cmd.force = x.flag(*args, "force");
        return Cli{WtCmd{std::move(cmd)}};
    }
    return fail(x.unrecognized(name));
}

} // namespace

Result<Cli, ExtractError> extract(Matches matches) {
    Extractor x;
    auto sub = x.descend(matches);
    if (!sub)
        return fail(std::move(sub.error()));
    auto& [name, args] = *sub;
    if (name == "project")
        return extract_project(x, *args);
    if (name == "wt")
        return extract_wt(x, *args);
    if (name == "branches")
        return Cli{Branches{x.optional_path(*args, "repo")}};
    if (name == "default-base")
        return Cli{DefaultBase{x.optional_path(*args, "repo")}};
    if (name == "pi") {
        Pi cmd{x.optional_path(*args, "cwd")};
        cmd.dry_run = x.flag(*args, "dry_run");
        return Cli{cmd};
    }
    return fail(x.unrecognized(name));
}

ParseOutcome parse(const std::vector<std::string>& args) {
    auto app = build();
    const std::vector<std::string> rest(args.empty() ? args.begin() : args.begin() + 1, args.end());
    auto prepared = prepass(*app, rest);
    if (auto* e = std::get_if<PrepassError>(&prepared))
        return usage_error(*e->at, e->message);
    auto& reversed = std::get<std::vector<std::string>>(prepared);
    std::reverse(reversed.begin(), reversed.end());
    try {
        app->parse(std::move(reversed));
    } catch (const CLI::CallForHelp&) {
        return ParseExit{0, Stream::Out, help_text(*parsed_chain(*app).back())};
    } catch (const CLI::ParseError& e) {
        return parse_error(*app, e);
    }

    const auto chain = parsed_chain(*app);
    const CLI::App& last = *chain.back();
    if (last.get_name() == help_command && chain.size() > 1)
        return help_for_words(*chain[chain.size() - 2], last);
    if (has_subcommands(last))
        return ParseExit{2, Stream::Err, help_text(last)};

    auto cli = extract(collect(*app, grammar()));
    if (!cli) {
        // Against a fresh copy of the grammar, so that the usage line is the declared one.
        const auto fresh = build();
        return usage_error(app_at(*fresh, cli.error().command_path), cli.error().message);
    }
    return std::move(*cli);
}

} // namespace kelvo::cli
