#include "git/diff.hpp"

#include "support/fixtures.hpp"

#include <filesystem>
#include <gtest/gtest.h>

namespace kelvo::git {
namespace {

using namespace std::string_literals;
using K = ChangeKind;

// The fields that matter for one listed file, in order.
struct Entry {
    std::string path;
    std::optional<std::string> orig_path;
    K kind;
    friend bool operator==(const Entry&, const Entry&) = default;
};

std::ostream& operator<<(std::ostream& os, const Entry& e) {
    return os << "{" << testing::PrintToString(e.path) << ", "
              << (e.orig_path ? testing::PrintToString(*e.orig_path) : "-") << ", "
              << static_cast<int>(e.kind) << "}";
}

std::vector<Entry> entries_of(const std::vector<ChangedFile>& files) {
    std::vector<Entry> out;
    for (const auto& file : files)
        out.push_back({file.path, file.orig_path, file.kind});
    return out;
}

std::vector<Entry> entries(std::string_view text) {
    return entries_of(parse_porcelain_status(text));
}

struct ParseCase {
    const char* name;
    std::string text;
    std::vector<Entry> expected;
};

void PrintTo(const ParseCase& c, std::ostream* os) {
    *os << c.name;
}

class ParseStatus : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseStatus, Parses) {
    EXPECT_EQ(entries(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseStatus,
    testing::Values(
        ParseCase{"Empty", "", {}},
        ParseCase{
            "LastEntryWithoutNul", " M a\0 M b"s, {{"a", {}, K::Modified}, {"b", {}, K::Modified}}},
        ParseCase{
            "WorktreeSideOnly", " M m\0 D d\0"s, {{"d", {}, K::Deleted}, {"m", {}, K::Modified}}},
        ParseCase{"UntrackedOneByOne",
                  "?? dir/u2\0?? dir/u1\0"s,
                  {{"dir/u1", {}, K::Untracked}, {"dir/u2", {}, K::Untracked}}},
        ParseCase{"IgnoredSkipped", "!! ignored\0 M kept\0"s, {{"kept", {}, K::Modified}}},
        ParseCase{"RenameConsumesItsSource",
                  "R  new\0old\0 M z\0"s,
                  {{"new", "old", K::Renamed}, {"z", {}, K::Modified}}},
        ParseCase{"RenameAtEndWithoutSource",
                  " M a\0R  new"s,
                  {{"a", {}, K::Modified}, {"new", {}, K::Renamed}}},
        ParseCase{"RenameAtEndBeforeFinalNul", "R  new\0"s, {{"new", {}, K::Renamed}}},
        ParseCase{"EmptySourceIsConsumed",
                  "C  copy\0\0 M x\0"s,
                  {{"copy", {}, K::Copied}, {"x", {}, K::Modified}}},
        ParseCase{"WorktreeSideRename", " R new\0old\0"s, {{"new", "old", K::Renamed}}},
        ParseCase{"ShortPiecesSkipped", "M \0M  \0?? \0 M ok\0"s, {{"ok", {}, K::Modified}}},
        // Byte 3 inside a two-byte character: not a well-formed entry.
        ParseCase{"PathStartsMidCharacter", "M \xc3\xa9\0 M ok\0"s, {{"ok", {}, K::Modified}}},
        ParseCase{"SpacesAndNewlinesStayWhole",
                  "?? a b\nc\0 M \"q\"\0"s,
                  {{"\"q\"", {}, K::Modified}, {"a b\nc", {}, K::Untracked}}},
        // Component-wise: "d" is a leading part of "d/f", so it sorts before
        // "d-x" although '-' < '/' byte-wise.
        ParseCase{"ComponentOrder",
                  "?? d-x\0?? d/f\0?? d\0?? D\0"s,
                  {{"D", {}, K::Untracked},
                   {"d", {}, K::Untracked},
                   {"d/f", {}, K::Untracked},
                   {"d-x", {}, K::Untracked}}},
        ParseCase{
            "EqualPathsKeepOrder",
            "MM same\0?? same\0A  other\0"s,
            {{"other", {}, K::Added}, {"same", {}, K::Modified}, {"same", {}, K::Untracked}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ParseStatus, KeepsBothStatusLetters) {
    const auto files = parse_porcelain_status("RM new\0old\0"s);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].index_status, U'R');
    EXPECT_EQ(files[0].worktree_status, U'M');
}

TEST(ParseStatus, ClassifiesEveryLetterPair) {
    const std::vector<std::pair<const char*, K>> table = {
        {"??", K::Untracked},   {"AA", K::Added},       {"AM", K::Added},
        {"A ", K::Added},       {"AC", K::Copied},      {"AD", K::Deleted},
        {"AR", K::Renamed},     {"AU", K::Conflicted},  {"D ", K::Deleted},
        {"DM", K::Deleted},     {"DC", K::Copied},      {"DR", K::Renamed},
        {"DD", K::Conflicted},  {"DU", K::Conflicted},  {"UD", K::Conflicted},
        {"UA", K::Conflicted},  {"UU", K::Conflicted},  {"R ", K::Renamed},
        {"RM", K::Renamed},     {"MR", K::Renamed},     {"C ", K::Copied},
        {"CM", K::Copied},      {" A", K::Added},       {"MA", K::Added},
        {" C", K::Copied},      {" D", K::Deleted},     {"MD", K::Deleted},
        {"T ", K::TypeChanged}, {" T", K::TypeChanged}, {"MT", K::TypeChanged},
        {"M ", K::Modified},    {" M", K::Modified},    {"MM", K::Modified},
        {"  ", K::Modified},
    };
    for (const auto& [letters, kind] : table) {
        const auto files = parse_porcelain_status(std::string(letters) + " f");
        ASSERT_FALSE(files.empty()) << letters;
        EXPECT_EQ(files[0].kind, kind) << "pair '" << letters << "'";
    }
}

class ChangedFiles : public testing::Test {
protected:
    void SetUp() override { test::use_hermetic_git(); }
    test::TempDir m_tmp;
};

TEST_F(ChangedFiles, ListsARealWorkTree) {
    const auto repo = test::make_repo(m_tmp / "dépôt avec espace");
    test::write_file(repo / "tracked", "one\n");
    test::git(repo, {"add", "tracked"});
    test::git(repo, {"commit", "-q", "-m", "tracked"});

    test::write_file(repo / "README", "changed\n");
    test::git(repo, {"mv", "tracked", "renamed"});
    test::write_file(repo / "sous dossier" / "ünï.txt", "new\n");
    test::write_file(repo / "sous dossier" / "b.txt", "new\n");

    const auto files = changed_files(repo);
    ASSERT_TRUE(files) << files.error().message();
    EXPECT_EQ(entries_of(*files), (std::vector<Entry>{
                                      {"README", {}, K::Modified},
                                      {"renamed", "tracked", K::Renamed},
                                      {"sous dossier/b.txt", {}, K::Untracked},
                                      {"sous dossier/ünï.txt", {}, K::Untracked},
                                  }));
}

TEST_F(ChangedFiles, CleanTreeIsEmptyAndErrorsPassOn) {
    const auto repo = test::make_repo(m_tmp / "repo");
    const auto clean = changed_files(repo);
    ASSERT_TRUE(clean);
    EXPECT_TRUE(clean->empty());

    const auto outside = changed_files(m_tmp.path());
    ASSERT_FALSE(outside);
    ASSERT_NE(outside.error().get_if<GitError::CommandFailed>(), nullptr);
    EXPECT_EQ(outside.error().get_if<GitError::CommandFailed>()->status, 128);
}

} // namespace
} // namespace kelvo::git
