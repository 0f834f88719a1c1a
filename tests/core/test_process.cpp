#include "core/process.hpp"

#include "support/fixtures.hpp"

#include <gtest/gtest.h>

namespace kelvo::process {
namespace {

TEST(Process, CapturesBothStreamsWithoutDeadlock) {
    // 1 MiB on each stream exceeds any pipe buffer.
    auto out = run_captured({"sh",
                             {"-c", "head -c 1048576 /dev/zero; head -c 1048576 /dev/zero >&2; "
                                    "head -c 1048576 /dev/zero; exit 3"},
                             std::nullopt,
                             {}});
    ASSERT_TRUE(out);
    EXPECT_EQ(out->status.code, 3);
    EXPECT_EQ(out->out.size(), 2u << 20);
    EXPECT_EQ(out->err.size(), 1u << 20);
}

TEST(Process, StandardInputIsTheNullDevice) {
    auto out = run_captured({"cat", {}, std::nullopt, {}});
    ASSERT_TRUE(out);
    EXPECT_TRUE(out->status.success());
    EXPECT_EQ(out->out, "");
}

TEST(Process, WorkingDirectoryAndEnvironment) {
    test::TempDir dir;
    auto out = run_captured({"sh",
                             {"-c", "pwd; echo \"$KELVO_X\""},
                             dir.path(),
                             {{"KELVO_X", "first"}, {"KELVO_X", "second"}}});
    ASSERT_TRUE(out);
    EXPECT_EQ(out->out, dir.path().string() + "\nsecond\n");
}

TEST(Process, MissingDirectoryIsNamedNotConfusedWithMissingProgram) {
    auto out = run_captured({"true", {}, "/nonexistent/kelvo", {}});
    ASSERT_FALSE(out);
    EXPECT_EQ(out.error().message(), "cannot enter /nonexistent/kelvo: No such file or directory");

    auto missing = run_captured({"kelvo-no-such-program", {}, std::nullopt, {}});
    ASSERT_FALSE(missing);
    EXPECT_TRUE(missing.error().not_found());
    EXPECT_TRUE(missing.error().context.empty());
}

TEST(Process, SignalDeathIsDescribed) {
    auto out = run_captured({"sh", {"-c", "kill -9 $$"}, std::nullopt, {}});
    ASSERT_TRUE(out);
    EXPECT_EQ(out->status.signal, 9);
    EXPECT_EQ(out->status.describe(), "signal: 9 (SIGKILL)");
    EXPECT_EQ((ExitStatus{3, std::nullopt}.describe()), "exit status: 3");
}

} // namespace
} // namespace kelvo::process
