#pragma once

// Helpers of the project commands that are worth testing on their own.

#include "core/model.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvo::cli {

// The first project, in stored order, whose name equals the query or whose
// main path (as text) contains it; both are tried on each project before the
// next. An empty query matches the first project.
const Project* find_project(const std::vector<Project>& projects, std::string_view query);

// The text as a double-quoted string literal: backslash and quote escaped,
// tab, newline, carriage return and NUL as \t \n \r \0, other control and
// invisible formatting characters as \u{hex}; invalid UTF-8 shows as U+FFFD.
std::string debug_quoted(std::string_view text);

// None, or Some("...") with the value as debug_quoted shows it.
std::string debug_optional(const std::optional<std::string>& value);

} // namespace kelvo::cli
