#include "core/ids.hpp"

#include <gtest/gtest.h>

#include <set>
#include <type_traits>

namespace kelvo {
namespace {

TEST(Ids, NewIdentifiersAreVersion4InLowerCaseText) {
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        const std::string text = ProjectId::random().to_string();
        ASSERT_EQ(text.size(), 36u) << text;
        for (std::size_t k = 0; k < text.size(); ++k) {
            if (k == 8 || k == 13 || k == 18 || k == 23)
                EXPECT_EQ(text[k], '-') << text;
            else
                EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(text[k])) ||
                            (text[k] >= 'a' && text[k] <= 'f'))
                    << text;
        }
        EXPECT_EQ(text[14], '4') << text;
        EXPECT_NE(std::string("89ab").find(text[19]), std::string::npos) << text;
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 200u);
}

TEST(Ids, ParseAcceptsBothCasesAndFormatsLowerCase) {
    const auto lower = ThreadId::parse("0f8fad5b-d9cb-469f-a165-70867728950e");
    const auto upper = ThreadId::parse("0F8FAD5B-D9CB-469F-A165-70867728950E");
    ASSERT_TRUE(lower);
    ASSERT_TRUE(upper);
    EXPECT_EQ(*lower, *upper);
    EXPECT_EQ(upper->to_string(), "0f8fad5b-d9cb-469f-a165-70867728950e");
    EXPECT_EQ(lower->uuid().bytes()[0], 0x0f);
    EXPECT_EQ(lower->uuid().bytes()[15], 0x0e);
}

TEST(Ids, ParseRejectsOtherForms) {
    const char* cases[] = {
        "",
        "0f8fad5b-d9cb-469f-a165-70867728950",   // 35 characters
        "0f8fad5b-d9cb-469f-a165-70867728950e0", // 37
        "0f8fad5bd9cb469fa16570867728950e",      // no hyphens
        "{0f8fad5b-d9cb-469f-a165-70867728950e}",
        "0f8fad5b_d9cb_469f_a165_70867728950e",
        "0f8fad5b-d9cb-469f-a165-70867728950g",
        "0f8fad5-bd9cb-469f-a165-70867728950e", // hyphen misplaced
    };
    for (const char* text : cases)
        EXPECT_FALSE(Uuid::parse(text)) << text;
}

TEST(Ids, ProjectAndThreadIdsAreDistinctTypes) {
    static_assert(!std::is_convertible_v<ProjectId, ThreadId>);
    static_assert(!std::is_convertible_v<ThreadId, ProjectId>);
    const Uuid same = Uuid::random();
    EXPECT_EQ(ProjectId(same).to_string(), ThreadId(same).to_string());
}

} // namespace
} // namespace kelvo
