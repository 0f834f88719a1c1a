#include "core/text.hpp"

#include <gtest/gtest.h>

namespace kelvo::text {
namespace {

TEST(Text, Utf8Validation) {
    EXPECT_TRUE(is_valid_utf8(""));
    EXPECT_TRUE(is_valid_utf8("caf\xC3\xA9 \xF0\x9F\x98\x80"));
    EXPECT_FALSE(is_valid_utf8("caf\xE9"));
    EXPECT_FALSE(is_valid_utf8("\xC0\x80"));         // overlong
    EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80"));     // surrogate
    EXPECT_FALSE(is_valid_utf8("\xF4\x90\x80\x80")); // beyond U+10FFFF
    EXPECT_FALSE(is_valid_utf8("\xE2\x82"));         // truncated
}

TEST(Text, LossyReplacesEachMaximalSubpart) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "plain"},
        {"a\xFF"
         "b",
         "a\xEF\xBF\xBD"
         "b"},
        {"\xE2\x82"
         "x",
         "\xEF\xBF\xBD"
         "x"},                            // truncated sequence: one U+FFFD
        {"\xF0\x9F\x98", "\xEF\xBF\xBD"}, // truncated at end
        {"\xC3\xA9\xC3", "\xC3\xA9\xEF\xBF\xBD"},
        {"\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD"}, // lone continuations each
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(lossy_utf8(in), out);
}

TEST(Text, TrimUnicodeWhiteSpace) {
    EXPECT_EQ(trim("  \t\nx y\r\n "), "x y");
    EXPECT_EQ(trim("\xC2\xA0value\xE3\x80\x80"), "value"); // NBSP, ideographic space
    EXPECT_EQ(trim(" \t "), "");
    EXPECT_EQ(trim("\xFFx\xFF"), "\xFFx\xFF");
}

} // namespace
} // namespace kelvo::text
