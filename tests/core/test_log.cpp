#include "core/log.hpp"

#include "support/scoped_env.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>

namespace kelvo::log {
namespace {

using namespace std::chrono;

const Timestamp fixed_time = sys_days{year{2026} / 12 / 11} + 12h + 34min + 56s + 123456789ns;

std::string plain(Level level, std::string_view target, std::string_view message,
                  std::vector<Field> fields = {}) {
    return format_line(fixed_time, level, target, message, fields, false);
}

// Everything written to a temporary FILE*.
std::string contents(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::string out;
    char buf[256];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, file)) > 0;)
        out.append(buf, n);
    return out;
}

TEST(LogLine, PlainLayout) {
    EXPECT_EQ(
        plain(Level::Info, "kelvo_store", "add project", {{"name", "app"}, {"path", "/src/app"}}),
        "2026-12-11T12:34:56.123456Z  INFO kelvo_store: add project name=app path=/src/app\n");
}

TEST(LogLine, LevelsAreCapitalsRightAlignedInFiveColumns) {
    const std::pair<Level, const char*> cases[] = {
        {Level::Trace, "TRACE"}, {Level::Debug, "DEBUG"}, {Level::Info, " INFO"},
        {Level::Warn, " WARN"},  {Level::Error, "ERROR"},
    };
    for (const auto& [level, text] : cases)
        EXPECT_EQ(plain(level, "t", "m"),
                  std::string("2026-12-11T12:34:56.123456Z ") + text + " t: m\n");
}

TEST(LogLine, ColouredLayout) {
    const Field fields[] = {{"name", "app"}};
    EXPECT_EQ(format_line(fixed_time, Level::Info, "kelvo_store", "add project", fields, true),
              "\x1b[2m2026-12-11T12:34:56.123456Z\x1b[0m \x1b[32m INFO\x1b[0m "
              "\x1b[2mkelvo_store:\x1b[0m add project name=app\n");
    EXPECT_EQ(
        format_line(fixed_time, Level::Error, "t", "m", {}, true),
        "\x1b[2m2026-12-11T12:34:56.123456Z\x1b[0m \x1b[31mERROR\x1b[0m \x1b[2mt:\x1b[0m m\n");
}

TEST(LogLine, ControlCharactersCannotBreakTheLine) {
    EXPECT_EQ(plain(Level::Info, "t", "two\nlines", {{"path", "/a\r\tb\x1b[31m"}}),
              "2026-12-11T12:34:56.123456Z  INFO t: two\\nlines path=/a\\r\\tb\\x1b[31m\n");
}

struct FilterCase {
    const char* variable; // KELVO_LOG
    Level level;
    const char* target;
    bool expected;
};

TEST(LogFilter, DirectivesWithTheProgramDefault) {
    const FilterCase cases[] = {
        // Only "kelvo=info": the program's own modules at info and above.
        {"", Level::Info, "kelvo_store", true},
        {"", Level::Warn, "kelvo_git", true},
        {"", Level::Debug, "kelvo_store", false},
        {"", Level::Error, "other", false},
        // "kelvo=info" takes the place of the variable's directive for "kelvo".
        {"kelvo=debug", Level::Debug, "kelvo_store", false},
        {"kelvo=debug", Level::Info, "kelvo_store", true},
        // A longer target keeps its own level.
        {"kelvo_store=debug", Level::Debug, "kelvo_store", true},
        {"kelvo_store=debug", Level::Debug, "kelvo_git", false},
        {"kelvo_store=trace", Level::Trace, "kelvo_store_sub", true},
        {"kelvo_store=off", Level::Error, "kelvo_store", false},
        {"kelvo_store=error", Level::Warn, "kelvo_store", false},
        // Prefix of the text, not of a path component.
        {"kelvo_st=debug", Level::Debug, "kelvo_store", true},
        // A bare level covers other targets but is less specific than "kelvo".
        {"debug", Level::Debug, "other", true},
        {"debug", Level::Debug, "kelvo_store", false},
        {"off", Level::Info, "kelvo_store", true},
        {"warn,other=trace", Level::Trace, "other", true},
        {"warn,other=trace", Level::Info, "another", false},
        // Case-insensitive names, blanks around items, later duplicates win.
        {"kelvo_store=DeBuG", Level::Debug, "kelvo_store", true},
        {" kelvo_store = debug , other=info", Level::Debug, "kelvo_store", true},
        {"kelvo_store=debug,kelvo_store=error", Level::Warn, "kelvo_store", false},
    };
    for (const auto& c : cases) {
        test::ScopedEnv env(filter_variable, c.variable);
        std::FILE* warnings = std::tmpfile();
        ASSERT_NE(warnings, nullptr);
        const Config config = config_from_env(warnings);
        EXPECT_EQ(config.filter.enabled(c.level, c.target), c.expected)
            << "KELVO_LOG='" << c.variable << "' target " << c.target << " level "
            << static_cast<int>(c.level);
        EXPECT_EQ(contents(warnings), "") << c.variable;
        std::fclose(warnings);
    }
}

TEST(LogFilter, BadDirectivesAreSkippedWithOneWarningEach) {
    test::ScopedEnv env(filter_variable, "bogus,kelvo_store=debug,a=loud,,=info,x=,a=b=c");
    std::FILE* warnings = std::tmpfile();
    ASSERT_NE(warnings, nullptr);
    const Config config = config_from_env(warnings);
    EXPECT_EQ(contents(warnings), "warning: ignoring invalid KELVO_LOG directive 'bogus'\n"
                                  "warning: ignoring invalid KELVO_LOG directive 'a=loud'\n"
                                  "warning: ignoring invalid KELVO_LOG directive '=info'\n"
                                  "warning: ignoring invalid KELVO_LOG directive 'x='\n"
                                  "warning: ignoring invalid KELVO_LOG directive 'a=b=c'\n");
    std::fclose(warnings);
    // The rest still applies.
    EXPECT_TRUE(config.filter.enabled(Level::Debug, "kelvo_store"));
    const std::vector<Directive> expected = {{"kelvo_store", Level::Debug}, {"kelvo", Level::Info}};
    EXPECT_EQ(config.filter.directives(), expected);
}

TEST(LogFilter, WarningShowsUndecodableBytesReplaced) {
    test::ScopedEnv env(filter_variable, "kelvo\xff=info");
    std::FILE* warnings = std::tmpfile();
    ASSERT_NE(warnings, nullptr);
    (void)config_from_env(warnings);
    EXPECT_EQ(contents(warnings),
              "warning: ignoring invalid KELVO_LOG directive 'kelvo\xef\xbf\xbd=info'\n");
    std::fclose(warnings);
}

TEST(LogColour, OnUnlessNoColorHoldsText) {
    const std::pair<std::optional<std::string>, bool> cases[] = {
        {std::nullopt, true}, {"", true},     {"1", false},
        {"false", false},     {"\xff", true}, // not text: treated as unset
    };
    for (const auto& [value, colour] : cases) {
        test::ScopedEnv env("NO_COLOR", value);
        EXPECT_EQ(config_from_env(stderr).color, colour) << value.value_or("(unset)");
    }
}

TEST(LogEmit, WritesFilteredEventsToTheInstalledStream) {
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    Config config;
    config.filter.add({"kelvo", Level::Info});
    config.color = false;
    config.out = out;
    install(std::move(config));

    info("kelvo_store", "add project", {{"name", "app"}, {"path", "/src/app"}});
    debug("kelvo_store", "not written");
    info("other", "not written");
    EXPECT_TRUE(enabled(Level::Warn, "kelvo_git"));
    EXPECT_FALSE(enabled(Level::Debug, "kelvo_git"));
    const std::string written = contents(out);

    install(Config{}); // everything off again
    std::fclose(out);
    EXPECT_TRUE(std::regex_match(
        written, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z  INFO kelvo_store: )"
                            R"(add project name=app path=/src/app\n)")))
        << written;
}

} // namespace
} // namespace kelvo::log
