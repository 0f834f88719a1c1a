#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace kelvo {

// An instant in UTC with nanosecond resolution.
using Timestamp = std::chrono::sys_time<std::chrono::nanoseconds>;

namespace timestamp {

Timestamp now();

// RFC 3339 in UTC with exactly `digits` fractional digits (0 to 9) and "Z".
std::string format(Timestamp t, int digits);

// RFC 3339 in UTC with the fewest of 0, 3, 6 or 9 fractional digits that
// represent the instant exactly.
std::string format_auto(Timestamp t);

// An RFC 3339 date-time with any offset, converted to UTC; nullopt when the
// text is not one or the instant is outside the representable range.
std::optional<Timestamp> parse(std::string_view text);

} // namespace timestamp
} // namespace kelvo
