#include "store/store_error.hpp"

#include "core/error_chain.hpp"

#include <gtest/gtest.h>

namespace kelvo::store {
namespace {

TEST(StoreError, DisplayCausesAndDebug) {
    struct Case {
        StoreError error;
        const char* message;
        std::vector<std::string> causes;
        const char* debug;
    };
    const Case cases[] = {
        {StoreError::io(OsError{ENOENT, "cannot read /x"}),
         "io: cannot read /x: No such file or directory",
         {"cannot read /x: No such file or directory"},
         R"(Io { code: 2, text: "cannot read /x: No such file or directory" })"},
        {StoreError::json("missing field `title`"),
         "json: missing field `title`",
         {"missing field `title`"},
         R"(Json { text: "missing field `title`" })"},
        {StoreError::not_found(), "project not found", {}, "NotFound"},
        {StoreError(store_error::ProviderSessionConflict{}),
         "provider session is already bound to another thread",
         {},
         "ProviderSessionConflict"},
        {StoreError::unsupported_schema(4, 3),
         "state schema 4 is newer than supported schema 3",
         {},
         "UnsupportedSchema { found: 4, supported: 3 }"},
        {StoreError::unsupported_schema(UINT64_MAX, 3, "100000000000000000000"),
         "state schema 100000000000000000000 is newer than supported schema 3",
         {},
         "UnsupportedSchema { found: 100000000000000000000, supported: 3 }"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.error.message(), c.message);
        EXPECT_EQ(c.error.causes(), c.causes) << c.message;
        EXPECT_EQ(c.error.debug(), c.debug);
    }
}

TEST(StoreError, ReportShowsTheCarriedErrorAsItsCause) {
    const auto chain = ErrorChain::from(StoreError::io(OsError{EACCES, "cannot create /d/t"}));
    EXPECT_EQ(chain.report(), "Error: io: cannot create /d/t: Permission denied\n\n"
                              "Caused by:\n    cannot create /d/t: Permission denied\n");
    EXPECT_EQ(ErrorChain::from(StoreError::not_found()).report(), "Error: project not found\n");
}

} // namespace
} // namespace kelvo::store
