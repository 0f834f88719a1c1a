#include "store/state_format.hpp"

#include "core/text.hpp"
#include "core/timestamp.hpp"

#include <nlohmann/json.hpp>

#include <limits>
#include <variant>

namespace kelvo::store {

// Written documents keep their declared member order; read ones need no
// order, and a sorted tree keeps lookups in large objects cheap.
using OrderedJson = nlohmann::ordered_json;
using Tree = nlohmann::json;

namespace {

// ---------------------------------------------------------------- writing

struct WriteError {
    std::string message;
};

std::string path_text(const Path& path) {
    if (!text::is_valid_utf8(path.native()))
        throw WriteError{"path contains invalid UTF-8 characters"};
    return path.native();
}

OrderedJson optional_text(const std::optional<std::string>& value) {
    return value ? OrderedJson(*value) : OrderedJson(nullptr);
}

OrderedJson optional_time(const std::optional<Timestamp>& value) {
    return value ? OrderedJson(timestamp::format_auto(*value)) : OrderedJson(nullptr);
}

OrderedJson agent_kind_json(const AgentKind& kind) {
    if (std::holds_alternative<agent_kind::Pi>(kind))
        return "Pi";
    if (std::holds_alternative<agent_kind::Codex>(kind))
        return "Codex";
    if (std::holds_alternative<agent_kind::Claude>(kind))
        return "Claude";
    const auto& custom = std::get<agent_kind::Custom>(kind);
    OrderedJson body = OrderedJson::object();
    body["command"] = custom.command;
    body["args"] = custom.args;
    OrderedJson out = OrderedJson::object();
    out["Custom"] = std::move(body);
    return out;
}

OrderedJson workspace_json(const ThreadWorkspace& workspace) {
    OrderedJson out = OrderedJson::object();
    out["kind"] =
        std::holds_alternative<workspace::GitWorktree>(workspace) ? "git_worktree" : "directory";
    out["path"] = path_text(workspace_path(workspace));
    return out;
}

OrderedJson provider_json(const ProviderSessionRef& ref) {
    OrderedJson out = OrderedJson::object();
    if (std::holds_alternative<provider::PendingIdentity>(ref)) {
        out["provider"] = "pending_identity";
    } else if (const auto* pi = std::get_if<provider::Pi>(&ref)) {
        out["provider"] = "pi";
        out["session_id"] = pi->session_id.to_string();
    } else if (const auto* codex = std::get_if<provider::Codex>(&ref)) {
        out["provider"] = "codex";
        out["thread_id"] = codex->thread_id;
    } else if (const auto* claude = std::get_if<provider::Claude>(&ref)) {
        out["provider"] = "claude";
        out["session_id"] = claude->session_id.to_string();
    } else {
        out["provider"] = "unsupported";
    }
    return out;
}

const char* desired_name(DesiredProcessState state) {
    return state == DesiredProcessState::Open ? "open" : "closed";
}

const char* turn_name(PersistedTurnHint hint) {
    switch (hint) {
    case PersistedTurnHint::Idle:
        return "idle";
    case PersistedTurnHint::Working:
        return "working";
    case PersistedTurnHint::Finished:
        return "finished";
    case PersistedTurnHint::Failed:
        return "failed";
    case PersistedTurnHint::Interrupted:
        return "interrupted";
    }
    return "idle";
}

OrderedJson project_json(const Project& p) {
    OrderedJson out = OrderedJson::object();
    out["id"] = p.id.to_string();
    out["name"] = p.name;
    out["main_path"] = path_text(p.main_path);
    out["kind"] = p.kind == ProjectKind::Git ? "Git" : "Directory";
    out["worktree_dir_template"] = p.worktree_dir_template;
    out["quick_base"] = optional_text(p.quick_base);
    out["preferred_editor"] = optional_text(p.preferred_editor);
    out["created_at"] = timestamp::format_auto(p.created_at);
    return out;
}

OrderedJson prefs_json(const AppPrefs& p) {
    OrderedJson out = OrderedJson::object();
    out["editor_cmd"] = p.editor_cmd;
    out["pi_bin"] = p.pi_bin;
    out["pi_extra_args"] = p.pi_extra_args;
    out["codex_bin"] = p.codex_bin;
    out["codex_extra_args"] = p.codex_extra_args;
    out["claude_bin"] = p.claude_bin;
    out["claude_extra_args"] = p.claude_extra_args;
    out["http_proxy"] = p.http_proxy;
    out["all_proxy"] = p.all_proxy;
    out["no_proxy"] = p.no_proxy;
    out["default_start_pi_on_create"] = p.default_start_pi_on_create;
    return out;
}

OrderedJson thread_json(const AgentThread& t) {
    OrderedJson out = OrderedJson::object();
    out["id"] = t.id.to_string();
    out["project_id"] = t.project_id.to_string();
    out["title"] = t.title;
    out["workspace"] = workspace_json(t.workspace);
    out["selected_agent"] =
        t.selected_agent ? agent_kind_json(*t.selected_agent) : OrderedJson(nullptr);
    out["created_at"] = timestamp::format_auto(t.created_at);
    out["updated_at"] = timestamp::format_auto(t.updated_at);
    return out;
}

OrderedJson binding_json(const ThreadAgentBinding& b) {
    OrderedJson out = OrderedJson::object();
    out["id"] = b.id.to_string();
    out["thread_id"] = b.thread_id.to_string();
    out["agent_key"] = b.agent_key;
    out["agent_kind"] = agent_kind_json(b.agent_kind);
    out["provider_ref"] = provider_json(b.provider_ref);
    out["desired_process"] = desired_name(b.desired_process);
    out["last_turn"] = turn_name(b.last_turn);
    out["generation"] = b.generation;
    out["started_once"] = b.started_once;
    out["created_at"] = timestamp::format_auto(b.created_at);
    out["updated_at"] = timestamp::format_auto(b.updated_at);
    out["last_started_at"] = optional_time(b.last_started_at);
    out["last_resumed_at"] = optional_time(b.last_resumed_at);
    out["last_exit_code"] =
        b.last_exit_code ? OrderedJson(*b.last_exit_code) : OrderedJson(nullptr);
    out["last_error"] = optional_text(b.last_error);
    return out;
}

OrderedJson document_json(const StoreData& data) {
    OrderedJson doc = OrderedJson::object();
    doc["schema_version"] = kSchemaVersion;
    OrderedJson projects = OrderedJson::array();
    for (const auto& p : data.projects)
        projects.push_back(project_json(p));
    doc["projects"] = std::move(projects);
    doc["prefs"] = prefs_json(data.prefs);
    OrderedJson threads = OrderedJson::array();
    for (const auto& t : data.threads)
        threads.push_back(thread_json(t));
    doc["threads"] = std::move(threads);
    OrderedJson bindings = OrderedJson::array();
    for (const auto& b : data.agent_bindings)
        bindings.push_back(binding_json(b));
    doc["agent_bindings"] = std::move(bindings);
    doc["last_selected_thread_id"] = data.last_selected_thread_id
                                         ? OrderedJson(data.last_selected_thread_id->to_string())
                                         : OrderedJson(nullptr);
    OrderedJson agents = OrderedJson::object();
    for (const auto& [path, kind] : data.worktree_agents)
        agents[path_text(path)] = agent_kind_json(kind);
    doc["worktree_agents"] = std::move(agents);
    return doc;
}

// nlohmann prefixes its messages with "[json.exception.name.N] ".
std::string facility_message(const std::exception& e) {
    std::string_view what = e.what();
    if (what.starts_with("[json.exception.")) {
        const auto end = what.find("] ");
        if (end != std::string_view::npos)
            what.remove_prefix(end + 2);
    }
    return std::string(what);
}

// ---------------------------------------------------------------- parsing

// Builds the value tree like nlohmann's own parser, but refuses nesting
// beyond kMaxJsonDepth and keeps the literal of a top-level
// "schema_version" that only parsed as a float.
class TreeBuilder {
public:
    using string_t = Tree::string_t;
    using binary_t = Tree::binary_t;

    Tree root;
    std::string error;
    std::string version_literal;

    bool null() { return put(Tree(nullptr)); }
    bool boolean(bool v) { return put(Tree(v)); }
    bool number_integer(Tree::number_integer_t v) { return put(Tree(v)); }
    bool number_unsigned(Tree::number_unsigned_t v) { return put(Tree(v)); }
    bool number_float(Tree::number_float_t v, const string_t& literal) {
        if (at_version())
            m_pending_literal = literal;
        return put(Tree(v));
    }
    bool string(string_t& v) { return put(Tree(std::move(v))); }
    bool binary(binary_t& v) { return put(Tree(std::move(v))); }

    bool start_object(std::size_t) { return open(Tree::object()); }
    bool start_array(std::size_t) { return open(Tree::array()); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }

    bool key(string_t& k) {
        m_key = std::move(k);
        return true;
    }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) {
        error = facility_message(e);
        return false;
    }

private:
    std::vector<Tree*> m_stack;
    string_t m_key;
    std::string m_pending_literal;

    bool at_version() const { return m_stack.size() == 1 && m_key == "schema_version"; }

    // Places a value in the current container (a later duplicate key
    // replaces the earlier member) and returns where it went.
    Tree* place(Tree&& value) {
        if (m_stack.empty()) {
            root = std::move(value);
            return &root;
        }
        Tree& top = *m_stack.back();
        if (top.is_array()) {
            top.push_back(std::move(value));
            return &top.back();
        }
        if (at_version()) {
            version_literal = std::move(m_pending_literal);
            m_pending_literal.clear();
        }
        Tree& slot = top[m_key];
        slot = std::move(value);
        return &slot;
    }

    bool put(Tree&& value) {
        place(std::move(value));
        return true;
    }

    bool open(Tree&& container) {
        if (m_stack.size() >= kMaxJsonDepth) {
            error = "nesting deeper than " + std::to_string(kMaxJsonDepth) + " levels";
            return false;
        }
        m_stack.push_back(place(std::move(container)));
        return true;
    }

    bool close() {
        m_stack.pop_back();
        return true;
    }
};

// ---------------------------------------------------------------- records

struct ReadError {
    std::string message;
};

// Reads records out of the value tree, remembering where it is so that a
// type or value error can say which member it concerns.
class RecordReader {
public:
    StoreData document(const Tree& v);

private:
    using Step = std::variant<std::string_view, std::size_t>;
    std::vector<Step> m_where;

    // Enters a member or element for as long as it lives.
    class Scope {
    public:
        Scope(RecordReader& r, Step step) : m_r(r) { m_r.m_where.push_back(step); }
        ~Scope() { m_r.m_where.pop_back(); }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        RecordReader& m_r;
    };

    std::string where() const {
        std::string out;
        for (const auto& step : m_where) {
            if (const auto* key = std::get_if<std::string_view>(&step)) {
                if (!out.empty())
                    out += '.';
                out += *key;
            } else {
                out += '[' + std::to_string(std::get<std::size_t>(step)) + ']';
            }
        }
        return out;
    }

    [[noreturn]] void fail_here(const std::string& message) const {
        const std::string at = where();
        throw ReadError{at.empty() ? message : message + " at " + at};
    }

    [[noreturn]] static void missing(std::string_view key) {
        throw ReadError{"missing field `" + std::string(key) + "`"};
    }

    [[noreturn]] static void unknown_variant(const std::string& value, const char* expected) {
        throw ReadError{"unknown variant `" + value + "`, expected " + expected};
    }

    [[noreturn]] void wrong_type(const Tree& v, const char* expected) const {
        fail_here(std::string("invalid type: ") + v.type_name() + ", expected " + expected);
    }

    static const Tree* find(const Tree& obj, std::string_view key) {
        auto it = obj.find(key);
        return it == obj.end() ? nullptr : &*it;
    }

    void expect_object(const Tree& v, const char* what) const {
        if (!v.is_object())
            wrong_type(v, what);
    }

    // The member's value, read by `read`; a missing member is an error.
    template <class F> auto required(const Tree& obj, std::string_view key, F read) {
        const Tree* v = find(obj, key);
        if (!v)
            missing(key);
        Scope scope(*this, key);
        return read(*v);
    }

    // The member's value, or nullopt when it is missing or null.
    template <class F>
    auto optional(const Tree& obj, std::string_view key, F read)
        -> std::optional<decltype(read(obj))> {
        const Tree* v = find(obj, key);
        if (!v || v->is_null())
            return std::nullopt;
        Scope scope(*this, key);
        return read(*v);
    }

    // The member's value, or the fallback when it is missing.
    template <class T, class F>
    void defaulted(const Tree& obj, std::string_view key, T& out, F read) {
        if (const Tree* v = find(obj, key)) {
            Scope scope(*this, key);
            out = read(*v);
        }
    }

    std::string string(const Tree& v) {
        if (!v.is_string())
            wrong_type(v, "a string");
        return v.get_ref<const std::string&>();
    }

    Path path(const Tree& v) { return Path(string(v)); }

    bool boolean(const Tree& v) {
        if (!v.is_boolean())
            wrong_type(v, "a boolean");
        return v.get<bool>();
    }

    std::vector<std::string> strings(const Tree& v) {
        if (!v.is_array())
            wrong_type(v, "an array of strings");
        std::vector<std::string> out;
        out.reserve(v.size());
        for (std::size_t i = 0; i < v.size(); ++i) {
            Scope scope(*this, i);
            out.push_back(string(v[i]));
        }
        return out;
    }

    // An integer in [lo, hi]; floats and out-of-range values are refused
    // rather than truncated or wrapped.
    template <class T> T integer(const Tree& v, const char* name) {
        constexpr auto lo = std::numeric_limits<T>::min();
        constexpr auto hi = std::numeric_limits<T>::max();
        if (v.is_number_unsigned()) {
            const auto n = v.get<std::uint64_t>();
            if (n <= static_cast<std::uint64_t>(hi))
                return static_cast<T>(n);
        } else if (v.is_number_integer()) {
            const auto n = v.get<std::int64_t>();
            if (n >= static_cast<std::int64_t>(lo) &&
                (n < 0 || static_cast<std::uint64_t>(n) <= static_cast<std::uint64_t>(hi)))
                return static_cast<T>(n);
        } else if (!v.is_number_float()) {
            wrong_type(v, name);
        }
        fail_here("invalid value: " + v.dump() + ", expected " + name);
    }

    Uuid uuid(const Tree& v) {
        const std::string& s = string(v);
        auto id = Uuid::parse(s);
        if (!id)
            fail_here("invalid UUID " + Tree(s).dump());
        return *id;
    }

    template <class IdT> IdT id(const Tree& v) { return IdT(uuid(v)); }

    Timestamp time(const Tree& v) {
        const std::string& s = string(v);
        auto t = timestamp::parse(s);
        if (!t)
            fail_here("invalid RFC 3339 timestamp " + Tree(s).dump());
        return *t;
    }

    ProjectKind project_kind(const Tree& v) {
        const std::string& s = string(v);
        if (s == "Git")
            return ProjectKind::Git;
        if (s == "Directory")
            return ProjectKind::Directory;
        unknown_variant(s, "`Git` or `Directory`");
    }

    DesiredProcessState desired(const Tree& v) {
        const std::string& s = string(v);
        if (s == "open")
            return DesiredProcessState::Open;
        if (s == "closed")
            return DesiredProcessState::Closed;
        unknown_variant(s, "`open` or `closed`");
    }

    PersistedTurnHint turn(const Tree& v) {
        const std::string& s = string(v);
        static constexpr std::pair<const char*, PersistedTurnHint> names[] = {
            {"idle", PersistedTurnHint::Idle},
            {"working", PersistedTurnHint::Working},
            {"finished", PersistedTurnHint::Finished},
            {"failed", PersistedTurnHint::Failed},
            {"interrupted", PersistedTurnHint::Interrupted},
        };
        for (const auto& [name, hint] : names)
            if (s == name)
                return hint;
        unknown_variant(s, "one of `idle`, `working`, `finished`, `failed`, `interrupted`");
    }

    AgentKind agent_kind(const Tree& v) {
        static constexpr const char* expected = "one of `Pi`, `Codex`, `Claude`, `Custom`";
        if (v.is_string()) {
            const std::string& s = v.get_ref<const std::string&>();
            if (s == "Pi")
                return agent_kind::Pi{};
            if (s == "Codex")
                return agent_kind::Codex{};
            if (s == "Claude")
                return agent_kind::Claude{};
            if (s == "Custom")
                fail_here("invalid type: string \"Custom\", expected an object for `Custom`");
            unknown_variant(s, expected);
        }
        if (!v.is_object() || v.size() != 1)
            wrong_type(v, "a string or an object with a single member");
        const auto first = v.begin();
        const std::string& name = first.key();
        const Tree& body = first.value();
        if (name != "Custom") {
            if (name == "Pi" || name == "Codex" || name == "Claude") {
                if (!body.is_null())
                    fail_here("invalid type: " + std::string(body.type_name()) + ", expected `" +
                              name + "` without data");
                return agent_kind(Tree(name));
            }
            unknown_variant(name, expected);
        }
        Scope scope(*this, "Custom");
        expect_object(body, "an object");
        agent_kind::Custom custom;
        custom.command = required(body, "command", [&](const Tree& x) { return string(x); });
        custom.args = required(body, "args", [&](const Tree& x) { return strings(x); });
        return custom;
    }

    ThreadWorkspace workspace(const Tree& v) {
        expect_object(v, "an object");
        const std::string kind = required(v, "kind", [&](const Tree& x) { return string(x); });
        if (kind == "git_worktree")
            return workspace::GitWorktree{
                required(v, "path", [&](const Tree& x) { return path(x); })};
        if (kind == "directory")
            return workspace::Directory{
                required(v, "path", [&](const Tree& x) { return path(x); })};
        unknown_variant(kind, "`git_worktree` or `directory`");
    }

    ProviderSessionRef provider(const Tree& v) {
        expect_object(v, "an object");
        const std::string name = required(v, "provider", [&](const Tree& x) { return string(x); });
        const auto session = [&] {
            return required(v, "session_id", [&](const Tree& x) { return uuid(x); });
        };
        if (name == "pending_identity")
            return provider::PendingIdentity{};
        if (name == "pi")
            return provider::Pi{session()};
        if (name == "codex")
            return provider::Codex{
                required(v, "thread_id", [&](const Tree& x) { return string(x); })};
        if (name == "claude")
            return provider::Claude{session()};
        if (name == "unsupported")
            return provider::Unsupported{};
        unknown_variant(name, "one of `pending_identity`, `pi`, `codex`, `claude`, `unsupported`");
    }

    Project project(const Tree& v) {
        expect_object(v, "a project object");
        const auto str = [&](const Tree& x) { return string(x); };
        const auto at = [&](const Tree& x) { return time(x); };
        Project p;
        p.id = required(v, "id", [&](const Tree& x) { return id<ProjectId>(x); });
        p.name = required(v, "name", str);
        p.main_path = required(v, "main_path", [&](const Tree& x) { return path(x); });
        p.kind = ProjectKind::Git;
        defaulted(v, "kind", p.kind, [&](const Tree& x) { return project_kind(x); });
        p.worktree_dir_template = required(v, "worktree_dir_template", str);
        p.quick_base = optional(v, "quick_base", str);
        p.preferred_editor = optional(v, "preferred_editor", str);
        p.created_at = required(v, "created_at", at);
        return p;
    }

    AgentThread thread(const Tree& v) {
        expect_object(v, "a thread object");
        const auto at = [&](const Tree& x) { return time(x); };
        AgentThread t;
        t.id = required(v, "id", [&](const Tree& x) { return id<ThreadId>(x); });
        t.project_id = required(v, "project_id", [&](const Tree& x) { return id<ProjectId>(x); });
        t.title = required(v, "title", [&](const Tree& x) { return string(x); });
        t.workspace = required(v, "workspace", [&](const Tree& x) { return workspace(x); });
        t.selected_agent =
            optional(v, "selected_agent", [&](const Tree& x) { return agent_kind(x); });
        t.created_at = required(v, "created_at", at);
        t.updated_at = required(v, "updated_at", at);
        return t;
    }

    ThreadAgentBinding binding(const Tree& v) {
        expect_object(v, "a binding object");
        const auto str = [&](const Tree& x) { return string(x); };
        const auto at = [&](const Tree& x) { return time(x); };
        ThreadAgentBinding b;
        if (const Tree* given = find(v, "id")) {
            Scope scope(*this, "id");
            b.id = uuid(*given);
        } else {
            b.id = Uuid::random();
        }
        b.thread_id = required(v, "thread_id", [&](const Tree& x) { return id<ThreadId>(x); });
        b.agent_key = required(v, "agent_key", str);
        b.agent_kind = required(v, "agent_kind", [&](const Tree& x) { return agent_kind(x); });
        b.provider_ref = required(v, "provider_ref", [&](const Tree& x) { return provider(x); });
        b.desired_process =
            required(v, "desired_process", [&](const Tree& x) { return desired(x); });
        b.last_turn = required(v, "last_turn", [&](const Tree& x) { return turn(x); });
        b.generation = required(v, "generation", [&](const Tree& x) {
            return integer<std::uint64_t>(x, "an unsigned 64-bit integer");
        });
        b.started_once = required(v, "started_once", [&](const Tree& x) { return boolean(x); });
        b.created_at = required(v, "created_at", at);
        b.updated_at = required(v, "updated_at", at);
        b.last_started_at = optional(v, "last_started_at", at);
        b.last_resumed_at = optional(v, "last_resumed_at", at);
        b.last_exit_code = optional(v, "last_exit_code", [&](const Tree& x) {
            return integer<std::int32_t>(x, "a signed 32-bit integer");
        });
        b.last_error = optional(v, "last_error", str);
        return b;
    }

    AppPrefs prefs(const Tree& v) {
        expect_object(v, "a preferences object");
        const auto str = [&](const Tree& x) { return string(x); };
        const auto list = [&](const Tree& x) { return strings(x); };
        AppPrefs p; // defaults, read from the environment now
        defaulted(v, "editor_cmd", p.editor_cmd, str);
        defaulted(v, "pi_bin", p.pi_bin, str);
        defaulted(v, "pi_extra_args", p.pi_extra_args, list);
        defaulted(v, "codex_bin", p.codex_bin, str);
        defaulted(v, "codex_extra_args", p.codex_extra_args, list);
        defaulted(v, "claude_bin", p.claude_bin, str);
        defaulted(v, "claude_extra_args", p.claude_extra_args, list);
        defaulted(v, "http_proxy", p.http_proxy, str);
        defaulted(v, "all_proxy", p.all_proxy, str);
        defaulted(v, "no_proxy", p.no_proxy, str);
        defaulted(v, "default_start_pi_on_create", p.default_start_pi_on_create,
                  [&](const Tree& x) { return boolean(x); });
        return p;
    }

    template <class T, class F> std::vector<T> list(const Tree& v, const char* what, F read) {
        if (!v.is_array())
            wrong_type(v, what);
        std::vector<T> out;
        out.reserve(v.size());
        for (std::size_t i = 0; i < v.size(); ++i) {
            Scope scope(*this, i);
            out.push_back(read(v[i]));
        }
        return out;
    }

    WorktreeAgents agents(const Tree& v) {
        expect_object(v, "an object");
        WorktreeAgents out;
        for (auto it = v.begin(); it != v.end(); ++it) {
            Scope scope(*this, std::string_view(it.key()));
            out.insert_or_assign(Path(it.key()), agent_kind(it.value()));
        }
        return out;
    }
};

StoreData RecordReader::document(const Tree& v) {
    expect_object(v, "an object");
    StoreData data;
    // Read for its range check; the result always carries the current version.
    if (const Tree* version = find(v, "schema_version")) {
        Scope scope(*this, "schema_version");
        integer<std::uint32_t>(*version, "an unsigned 32-bit integer");
    }
    defaulted(v, "projects", data.projects, [&](const Tree& x) {
        return list<Project>(x, "an array of projects", [&](const Tree& p) { return project(p); });
    });
    defaulted(v, "prefs", data.prefs, [&](const Tree& x) { return prefs(x); });
    defaulted(v, "threads", data.threads, [&](const Tree& x) {
        return list<AgentThread>(x, "an array of threads",
                                 [&](const Tree& t) { return thread(t); });
    });
    defaulted(v, "agent_bindings", data.agent_bindings, [&](const Tree& x) {
        return list<ThreadAgentBinding>(x, "an array of bindings",
                                        [&](const Tree& b) { return binding(b); });
    });
    data.last_selected_thread_id =
        optional(v, "last_selected_thread_id", [&](const Tree& x) { return id<ThreadId>(x); });
    defaulted(v, "worktree_agents", data.worktree_agents, [&](const Tree& x) { return agents(x); });
    data.schema_version = kSchemaVersion;
    return data;
}

// The version the document declares: a non-negative integer member
// "schema_version" of a top-level object, else 0. `digits` receives the
// literal when it does not fit 64 bits (the result then saturates).
std::uint64_t stored_version(const Tree& root, const std::string& literal, std::string& digits) {
    if (!root.is_object())
        return 0;
    auto it = root.find("schema_version");
    if (it == root.end())
        return 0;
    if (it->is_number_unsigned())
        return it->get<std::uint64_t>();
    const bool whole_digits =
        !literal.empty() && literal.find_first_not_of("0123456789") == std::string::npos;
    if (it->is_number_float() && whole_digits) {
        digits = literal.substr(std::min(literal.find_first_not_of('0'), literal.size() - 1));
        return std::numeric_limits<std::uint64_t>::max();
    }
    return 0;
}

} // namespace

Result<std::string, StoreError> render_state(const StoreData& data) {
    try {
        return document_json(data).dump(2);
    } catch (const WriteError& e) {
        return fail(StoreError::json(e.message));
    } catch (const nlohmann::json::exception& e) {
        return fail(StoreError::json(facility_message(e)));
    }
}

Result<ReadState, StoreError> parse_state(std::string_view text) {
    // The JSON lexer takes a NUL byte for the end of the text, so whatever
    // followed would pass unchecked; JSON never holds one unescaped.
    if (const auto nul = text.find('\0'); nul != std::string_view::npos)
        return fail(StoreError::json("invalid NUL byte at offset " + std::to_string(nul)));
    TreeBuilder builder;
    try {
        if (!Tree::sax_parse(text, &builder))
            return fail(StoreError::json(builder.error));
    } catch (const nlohmann::json::exception& e) {
        return fail(StoreError::json(facility_message(e)));
    }

    std::string digits;
    const std::uint64_t version = stored_version(builder.root, builder.version_literal, digits);
    if (version > kSchemaVersion)
        return fail(StoreError::unsupported_schema(version, kSchemaVersion, std::move(digits)));

    try {
        RecordReader reader;
        return ReadState{reader.document(builder.root), version};
    } catch (const ReadError& e) {
        return fail(StoreError::json(e.message));
    } catch (const nlohmann::json::exception& e) {
        return fail(StoreError::json(facility_message(e)));
    }
}

} // namespace kelvo::store
