#pragma once

// Process-wide structured logging to standard output. Events carry a level,
// a target (the emitting module, e.g. "kelvo_store"), a message and fields;
// a filter of directives decides which are written.

#include "core/timestamp.hpp"

#include <cstdio>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kelvo::log {

// From the most verbose to the most severe.
enum class Level { Trace, Debug, Info, Warn, Error };

// A name=value pair written after the message.
struct Field {
    std::string_view name;
    std::string value;
};

// The environment variable that holds the filter directives.
inline constexpr const char* filter_variable = "KELVO_LOG";

// One filter rule: events whose target begins with `target` (every event
// when it is empty) are written from `level` up; no level means off.
struct Directive {
    std::string target;
    std::optional<Level> level;

    bool operator==(const Directive&) const = default;
};

// "target=level" or a bare level; level names are trace, debug, info, warn,
// error and off, in any case. Nullopt when the text is not one of these.
std::optional<Directive> parse_directive(std::string_view text);

// A set of directives; for each event the one with the longest matching
// target decides, and an event no directive matches is off.
class Filter {
public:
    Filter() = default;

    // Parses a comma-separated list. Directives that cannot be understood are
    // skipped and appended, as given, to `rejected`; empty items are ignored.
    static Filter parse(std::string_view list, std::vector<std::string>& rejected);

    // Adds a directive, taking the place of one for exactly the same target.
    void add(Directive directive);

    bool enabled(Level level, std::string_view target) const;

    const std::vector<Directive>& directives() const { return m_directives; }

private:
    std::vector<Directive> m_directives;
};

// Where and how events are written, and which.
struct Config {
    Filter filter;
    bool color = true;
    std::FILE* out = stdout;
};

// The configuration the program runs with: colour unless NO_COLOR holds
// non-empty text, and the directives of KELVO_LOG followed by "kelvo=info".
// Each directive skipped is reported on `warnings` in one line.
Config config_from_env(std::FILE* warnings = stderr);

// Makes `config` the process-wide destination. Call before any other thread
// may log; until then nothing is written.
void install(Config config);

// One event line, newline included. Control characters in the message and
// in field values are escaped so that an event never spans several lines.
std::string format_line(Timestamp time, Level level, std::string_view target,
                        std::string_view message, std::span<const Field> fields, bool color);

// Whether an event of this level and target would be written.
bool enabled(Level level, std::string_view target);

// Writes one event line when the filter lets it through, and flushes it.
void emit(Level level, std::string_view target, std::string_view message,
          std::initializer_list<Field> fields = {});

inline void trace(std::string_view target, std::string_view message,
                  std::initializer_list<Field> fields = {}) {
    emit(Level::Trace, target, message, fields);
}
inline void debug(std::string_view target, std::string_view message,
                  std::initializer_list<Field> fields = {}) {
    emit(Level::Debug, target, message, fields);
}
inline void info(std::string_view target, std::string_view message,
                 std::initializer_list<Field> fields = {}) {
    emit(Level::Info, target, message, fields);
}
inline void warn(std::string_view target, std::string_view message,
                 std::initializer_list<Field> fields = {}) {
    emit(Level::Warn, target, message, fields);
}
inline void error(std::string_view target, std::string_view message,
                  std::initializer_list<Field> fields = {}) {
    emit(Level::Error, target, message, fields);
}

} // namespace kelvo::log
