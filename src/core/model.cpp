#include "core/model.hpp"

#include "core/text.hpp"

#include <cstdlib>

namespace kelvo {

Project Project::create(std::string name, Path main_path) {
    Project p;
    p.id = ProjectId::random();
    p.name = std::move(name);
    p.main_path = std::move(main_path);
    p.kind = ProjectKind::Git;
    p.worktree_dir_template = kDefaultWorktreeTemplate;
    p.created_at = timestamp::now();
    return p;
}

namespace {

// A variable counts when it is set and valid Unicode; empty counts too.
std::optional<std::string> env_text(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !text::is_valid_utf8(value))
        return std::nullopt;
    return std::string(value);
}

} // namespace

std::string AppPrefs::default_editor_cmd() {
    if (auto editor = env_text("EDITOR"))
        return *editor;
    if (auto visual = env_text("VISUAL"))
        return *visual;
    return "zed";
}

} // namespace kelvo
