#include "core/timestamp.hpp"

#include <cstdint>
#include <cstdio>
#include <limits>

namespace kelvo::timestamp {

using namespace std::chrono;

Timestamp now() {
    return time_point_cast<nanoseconds>(system_clock::now());
}

namespace {

// Whole seconds since the epoch and the nanoseconds past them, worked out
// on the counts: chrono's own floor would pass through midnight of the
// earliest day, which a 64-bit count of nanoseconds cannot hold.
struct Split {
    std::int64_t seconds;
    std::int64_t nanos; // 0 to 999'999'999
};

Split split(Timestamp t) {
    const std::int64_t ns = t.time_since_epoch().count();
    Split s{ns / 1'000'000'000, ns % 1'000'000'000};
    if (s.nanos < 0) {
        s.nanos += 1'000'000'000;
        s.seconds -= 1;
    }
    return s;
}

} // namespace

std::string format(Timestamp t, int digits) {
    const Split s = split(t);
    std::int64_t day = s.seconds / 86'400;
    std::int64_t second_of_day = s.seconds % 86'400;
    if (second_of_day < 0) {
        second_of_day += 86'400;
        day -= 1;
    }
    const year_month_day ymd{sys_days(days(day))};
    char buf[64];
    int n = std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:%02d", int(ymd.year()),
                          unsigned(ymd.month()), unsigned(ymd.day()), int(second_of_day / 3'600),
                          int(second_of_day / 60 % 60), int(second_of_day % 60));
    std::string out(buf, static_cast<std::size_t>(n));
    if (digits > 0) {
        char frac[16];
        std::snprintf(frac, sizeof frac, "%09lld", static_cast<long long>(s.nanos));
        out += '.';
        out.append(frac, static_cast<std::size_t>(digits > 9 ? 9 : digits));
    }
    out += 'Z';
    return out;
}

std::string format_auto(Timestamp t) {
    const auto sub = split(t).nanos;
    int digits = 9;
    if (sub == 0)
        digits = 0;
    else if (sub % 1'000'000 == 0)
        digits = 3;
    else if (sub % 1'000 == 0)
        digits = 6;
    return format(t, digits);
}

namespace {

// Reads exactly `count` decimal digits at text[pos], advancing pos.
std::optional<int> digits(std::string_view text, std::size_t& pos, std::size_t count) {
    if (text.size() - pos < count)
        return std::nullopt;
    int value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const char c = text[pos + i];
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    pos += count;
    return value;
}

bool expect(std::string_view text, std::size_t& pos, char c) {
    if (pos >= text.size() || text[pos] != c)
        return false;
    ++pos;
    return true;
}

} // namespace

std::optional<Timestamp> parse(std::string_view text) {
    std::size_t pos = 0;
    const auto year = digits(text, pos, 4);
    if (!year || !expect(text, pos, '-'))
        return std::nullopt;
    const auto month = digits(text, pos, 2);
    if (!month || !expect(text, pos, '-'))
        return std::nullopt;
    const auto day = digits(text, pos, 2);
    if (!day || pos >= text.size() || (text[pos] != 'T' && text[pos] != 't'))
        return std::nullopt;
    ++pos;
    const auto hour = digits(text, pos, 2);
    if (!hour || !expect(text, pos, ':'))
        return std::nullopt;
    const auto minute = digits(text, pos, 2);
    if (!minute || !expect(text, pos, ':'))
        return std::nullopt;
    const auto second = digits(text, pos, 2);
    if (!second)
        return std::nullopt;

    std::int64_t nanos = 0;
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        std::size_t count = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            if (++count > 9)
                return std::nullopt;
            nanos = nanos * 10 + (text[pos] - '0');
            ++pos;
        }
        if (count == 0)
            return std::nullopt;
        for (; count < 9; ++count)
            nanos *= 10;
    }

    int offset_minutes = 0;
    if (pos >= text.size())
        return std::nullopt;
    const char zone = text[pos++];
    if (zone == '+' || zone == '-') {
        const auto off_hour = digits(text, pos, 2);
        if (!off_hour || !expect(text, pos, ':'))
            return std::nullopt;
        const auto off_minute = digits(text, pos, 2);
        if (!off_minute || *off_hour > 23 || *off_minute > 59)
            return std::nullopt;
        offset_minutes = (*off_hour * 60 + *off_minute) * (zone == '-' ? -1 : 1);
    } else if (zone != 'Z' && zone != 'z') {
        return std::nullopt;
    }
    if (pos != text.size())
        return std::nullopt;

    const year_month_day date{std::chrono::year(*year), std::chrono::month(unsigned(*month)),
                              std::chrono::day(unsigned(*day))};
    // A leap second (:60) has no representation in a count of nanoseconds.
    if (!date.ok() || *hour > 23 || *minute > 59 || *second > 59)
        return std::nullopt;

    // Whole seconds first; they cannot overflow for four-digit years.
    std::int64_t secs = std::int64_t(sys_days(date).time_since_epoch().count()) * 86'400 +
                        *hour * 3'600 + *minute * 60 + *second - std::int64_t(offset_minutes) * 60;
    // Borrow a second for the fraction so the earliest instants still fit.
    if (secs < 0 && nanos > 0) {
        secs += 1;
        nanos -= 1'000'000'000;
    }
    std::int64_t total;
    if (__builtin_mul_overflow(secs, std::int64_t(1'000'000'000), &total) ||
        __builtin_add_overflow(total, nanos, &total))
        return std::nullopt;
    return Timestamp(nanoseconds(total));
}

} // namespace kelvo::timestamp
