#include "core/timestamp.hpp"

#include <gtest/gtest.h>

namespace kelvo::timestamp {
namespace {

using namespace std::chrono;

TEST(Timestamp, ParseAcceptsRfc3339AndConvertsToUtc) {
    const std::pair<const char*, const char*> cases[] = {
        {"2026-12-11T12:00:00Z", "2026-12-11T12:00:00Z"},
        {"2026-12-11t12:00:00z", "2026-12-11T12:00:00Z"},
        {"2026-12-11T14:00:00+02:00", "2026-12-11T12:00:00Z"},
        {"2026-12-11T06:30:00-05:30", "2026-12-11T12:00:00Z"},
        {"2026-12-31T23:30:00-01:00", "2027-01-01T00:30:00Z"},
        {"2026-12-11T12:00:00.5Z", "2026-12-11T12:00:00.500Z"},
        {"2026-12-11T12:00:00.123456Z", "2026-12-11T12:00:00.123456Z"},
        {"2026-12-11T12:00:00.123456789Z", "2026-12-11T12:00:00.123456789Z"},
        {"2026-12-11T12:00:00.000000001+00:00", "2026-12-11T12:00:00.000000001Z"},
        {"2024-02-29T00:00:00Z", "2024-02-29T00:00:00Z"},
        {"1970-01-01T00:00:00Z", "1970-01-01T00:00:00Z"},
        {"1969-12-31T23:59:59.999Z", "1969-12-31T23:59:59.999Z"},
        // The edges of a 64-bit count of nanoseconds.
        {"2262-04-11T23:47:16.854775807Z", "2262-04-11T23:47:16.854775807Z"},
        {"1677-09-21T00:12:43.145224192Z", "1677-09-21T00:12:43.145224192Z"},
    };
    for (const auto& [input, expected] : cases) {
        auto t = parse(input);
        ASSERT_TRUE(t) << input;
        EXPECT_EQ(format_auto(*t), expected) << input;
    }
}

TEST(Timestamp, ParseRejectsMalformedAndOutOfRange) {
    const char* cases[] = {
        "",
        "2026-12-11",
        "2026-12-11 12:00:00Z",  // space instead of T
        "2026-12-11T12:00:00",   // no offset
        "2026-12-11T12:00:00.Z", // dot without digits
        "2026-12-11T12:00:00.1234567890Z",
        "2026-1-1T1:2:3Z",
        "26-12-11T12:00:00Z",
        "2026-02-30T00:00:00Z",
        "2025-02-29T00:00:00Z",
        "2026-13-01T00:00:00Z",
        "2026-12-11T24:00:00Z",
        "2026-12-11T12:60:00Z",
        "2026-12-31T23:59:60Z", // leap second
        "2026-12-11T12:00:00+2:00",
        "2026-12-11T12:00:00+24:00",
        "2026-12-11T12:00:00+02:60",
        "2026-12-11T12:00:00+0200",
        "2026-12-11T12:00:00Zjunk",
        "2026-12-11T12:00:00Z ",
        "+2026-12-11T12:00:00Z",
        "2262-04-11T23:47:16.854775808Z",
        "1677-09-21T00:12:43.145224191Z",
        "9999-12-31T23:59:59Z",
        "0000-01-01T00:00:00Z",
        "2262-04-11T23:47:16.854775807-00:01",
    };
    for (const char* input : cases)
        EXPECT_FALSE(parse(input)) << input;
}

TEST(Timestamp, FormatAutoUsesFewestExactDigits) {
    const auto base = sys_days(year(2026) / 12 / 11) + hours(12);
    const std::pair<nanoseconds, const char*> cases[] = {
        {nanoseconds(0), "2026-12-11T12:00:00Z"},
        {milliseconds(120), "2026-12-11T12:00:00.120Z"},
        {microseconds(123456), "2026-12-11T12:00:00.123456Z"},
        {microseconds(1000), "2026-12-11T12:00:00.001Z"},
        {nanoseconds(123456700), "2026-12-11T12:00:00.123456700Z"},
        {nanoseconds(1), "2026-12-11T12:00:00.000000001Z"},
    };
    for (const auto& [sub, expected] : cases)
        EXPECT_EQ(format_auto(Timestamp(base + sub)), expected);
    EXPECT_EQ(format_auto(Timestamp(nanoseconds::min())), "1677-09-21T00:12:43.145224192Z");
    EXPECT_EQ(format_auto(Timestamp(nanoseconds::max())), "2262-04-11T23:47:16.854775807Z");
    EXPECT_EQ(format(Timestamp(nanoseconds(-1)), 3), "1969-12-31T23:59:59.999Z");
}

TEST(Timestamp, NowRoundTripsExactly) {
    const Timestamp t = now();
    EXPECT_EQ(parse(format_auto(t)), t);
}

} // namespace
} // namespace kelvo::timestamp
