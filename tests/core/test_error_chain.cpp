#include "core/error_chain.hpp"

#include <gtest/gtest.h>

namespace kelvo {
namespace {

struct ReportCase {
    const char* name;
    ErrorChain chain;
    const char* expected;
};

TEST(ErrorChain, ReportLayouts) {
    const ReportCase cases[] = {
        {"no cause", ErrorChain("project not found: x"), "Error: project not found: x\n"},
        {"one cause", ErrorChain::with_cause("open project directory /nope", OsError{ENOENT, {}}),
         "Error: open project directory /nope\n\nCaused by:\n    No such file or directory\n"},
        {"several causes", ErrorChain("io: disk full", {"io: disk full", "deeper"}),
         "Error: io: disk full\n\nCaused by:\n    0: io: disk full\n    1: deeper\n"},
        {"multi-line single cause", ErrorChain("outer", {"line one\nline two"}),
         "Error: outer\n\nCaused by:\n    line one\n    line two\n"},
        {"multi-line numbered cause", ErrorChain("outer", {"a\nb", "c"}),
         "Error: outer\n\nCaused by:\n    0: a\n       b\n    1: c\n"},
        {"from os error", ErrorChain::from_os(OsError{EACCES, {}}), "Error: Permission denied\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.chain.report(), c.expected) << c.name;
}

TEST(ErrorChain, IndexIsRightAlignedInFiveColumns) {
    std::vector<std::string> causes(11, "x");
    const std::string report = ErrorChain("outer", causes).report();
    EXPECT_NE(report.find("\n    9: x\n   10: x\n"), std::string::npos) << report;
}

struct FakeError {
    std::string message() const { return "json: bad"; }
    std::vector<std::string> causes() const { return {"bad"}; }
};

TEST(ErrorChain, FromSubsystemErrorKeepsMessageAndCauses) {
    const auto chain = ErrorChain::from(FakeError{});
    EXPECT_EQ(chain.message(), "json: bad");
    EXPECT_EQ(chain.causes(), std::vector<std::string>{"bad"});
}

} // namespace
} // namespace kelvo
