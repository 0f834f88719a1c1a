#include "git/diff.hpp"

#include "core/paths.hpp"
#include "git/exec.hpp"

#include <algorithm>

namespace kelvo::git {

namespace {

bool is_continuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Decodes the character at text[pos], advancing pos. Malformed input yields
// U+FFFD for one byte; the status letters are ASCII in practice.
char32_t next_char(std::string_view text, std::size_t& pos) {
    if (pos >= text.size())
        return U' ';
    const auto lead = static_cast<unsigned char>(text[pos]);
    std::size_t length = 0;
    if (lead < 0x80)
        length = 1;
    else if ((lead >> 5) == 0x6)
        length = 2;
    else if ((lead >> 4) == 0xE)
        length = 3;
    else if ((lead >> 3) == 0x1E)
        length = 4;
    if (length == 0 || pos + length > text.size()) {
        ++pos;
        return U'\uFFFD';
    }
    char32_t cp = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[pos + i]);
        if (!is_continuation(byte)) {
            ++pos;
            return U'\uFFFD';
        }
        cp = (cp << 6) | (byte & 0x3F);
    }
    pos += length;
    return cp;
}

ChangeKind classify(char32_t x, char32_t y) {
    if (x == U'?' && y == U'?')
        return ChangeKind::Untracked;
    if (x == U'A') {
        switch (y) {
        case U'C':
            return ChangeKind::Copied;
        case U'D':
            return ChangeKind::Deleted;
        case U'R':
            return ChangeKind::Renamed;
        case U'U':
            return ChangeKind::Conflicted;
        default:
            return ChangeKind::Added;
        }
    }
    if (x == U'D') {
        switch (y) {
        case U'C':
            return ChangeKind::Copied;
        case U'D':
        case U'U':
            return ChangeKind::Conflicted;
        case U'R':
            return ChangeKind::Renamed;
        default:
            return ChangeKind::Deleted;
        }
    }
    if (x == U'U' || y == U'U')
        return ChangeKind::Conflicted;
    if (x == U'R' || y == U'R')
        return ChangeKind::Renamed;
    if (x == U'C')
        return ChangeKind::Copied;
    if (y == U'A')
        return ChangeKind::Added;
    if (y == U'C')
        return ChangeKind::Copied;
    if (y == U'D')
        return ChangeKind::Deleted;
    if (x == U'T' || y == U'T')
        return ChangeKind::TypeChanged;
    return ChangeKind::Modified;
}

std::vector<std::string_view> split_nul(std::string_view text) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find('\0', start);
        if (end == std::string_view::npos) {
            pieces.push_back(text.substr(start));
            return pieces;
        }
        pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

} // namespace

std::vector<ChangedFile> parse_porcelain_status(std::string_view text) {
    const auto pieces = split_nul(text);
    std::vector<ChangedFile> files;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const std::string_view piece = pieces[i];
        if (piece.size() < 4)
            continue;
        std::size_t pos = 0;
        const char32_t x = next_char(piece, pos);
        const char32_t y = next_char(piece, pos);
        if (is_continuation(static_cast<unsigned char>(piece[3])))
            continue;
        if (x == U'!' && y == U'!')
            continue;
        std::optional<std::string> orig_path;
        if (x == U'C' || x == U'R' || y == U'R' || y == U'C') {
            // The source path is its own field; consume it even when empty.
            if (i + 1 < pieces.size()) {
                ++i;
                if (!pieces[i].empty())
                    orig_path = std::string(pieces[i]);
            }
        }
        files.push_back({std::string(piece.substr(3)), std::move(orig_path), x, y, classify(x, y)});
    }
    // Split each path once; listings with every untracked file can be long.
    std::vector<std::pair<std::vector<std::string>, ChangedFile>> keyed;
    keyed.reserve(files.size());
    for (auto& file : files)
        keyed.emplace_back(paths::components(file.path), std::move(file));
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    files.clear();
    for (auto& entry : keyed)
        files.push_back(std::move(entry.second));
    return files;
}

Result<std::vector<ChangedFile>, GitError> changed_files(const Path& dir) {
    auto out = git(dir, {"status", "--porcelain=v1", "-z", "--untracked-files=all"});
    if (!out)
        return fail(std::move(out).error());
    return parse_porcelain_status(*out);
}

} // namespace kelvo::git
