#pragma once

// Process-wide structured logging to standard output. Events carry a level,
// a target (the emitting module, e.g. "kelvo_store"), a message and fields;
// a filter of directives decides which are written.

#include <initializer_list>
#include <string>
#include <string_view>

namespace kelvo::log {

enum class Level { Trace, Debug, Info, Warn, Error };

struct Field {
    std::string_view name;
    std::string value;
};

// Whether an event of this level and target would be written.
bool enabled(Level level, std::string_view target);

// Writes one event line when the filter lets it through.
void emit(Level level, std::string_view target, std::string_view message,
          std::initializer_list<Field> fields = {});

inline void info(std::string_view target, std::string_view message,
                 std::initializer_list<Field> fields = {}) {
    emit(Level::Info, target, message, fields);
}
inline void debug(std::string_view target, std::string_view message,
                  std::initializer_list<Field> fields = {}) {
    emit(Level::Debug, target, message, fields);
}

} // namespace kelvo::log
