#include "store/state_format.hpp"

#include "support/fixtures.hpp"
#include "support/scoped_env.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <limits>

namespace kelvo::store {
namespace {

const Path kGolden = Path(KELVO_TEST_DATA_DIR) / "state_golden.json";

// A JSON object as members of raw JSON text, for crafting documents.
struct Obj {
    std::vector<std::pair<std::string, std::string>> members;

    Obj& set(const std::string& key, const std::string& raw) {
        for (auto& [k, v] : members) {
            if (k == key) {
                v = raw;
                return *this;
            }
        }
        members.emplace_back(key, raw);
        return *this;
    }
    Obj& drop(const std::string& key) {
        std::erase_if(members, [&](const auto& m) { return m.first == key; });
        return *this;
    }
    std::string str() const {
        std::string out = "{";
        for (const auto& [k, v] : members)
            out += (out.size() > 1 ? ", \"" : "\"") + k + "\": " + v;
        return out + "}";
    }
};

Obj project() {
    return Obj{{{"id", R"("0f8fad5b-d9cb-469f-a165-70867728950e")"},
                {"name", R"("app")"},
                {"main_path", R"("/src/app")"},
                {"kind", R"("Git")"},
                {"worktree_dir_template", R"("../worktrees/{repo}")"},
                {"created_at", R"("2026-12-11T12:00:00Z")"}}};
}

Obj thread() {
    return Obj{{{"id", R"("16fd2706-8baf-433b-82eb-8c7fada847da")"},
                {"project_id", R"("0f8fad5b-d9cb-469f-a165-70867728950e")"},
                {"title", R"("app")"},
                {"workspace", R"({"kind": "git_worktree", "path": "/src/app"})"},
                {"created_at", R"("2026-12-11T12:00:00Z")"},
                {"updated_at", R"("2026-12-11T12:00:00Z")"}}};
}

Obj binding() {
    return Obj{{{"id", R"("e4eaaaf2-d142-41b1-8f0b-1a2b3c4d5e6f")"},
                {"thread_id", R"("16fd2706-8baf-433b-82eb-8c7fada847da")"},
                {"agent_key", R"("pi")"},
                {"agent_kind", R"("Pi")"},
                {"provider_ref", R"({"provider": "pending_identity"})"},
                {"desired_process", R"("open")"},
                {"last_turn", R"("idle")"},
                {"generation", "0"},
                {"started_once", "false"},
                {"created_at", R"("2026-12-11T12:00:00Z")"},
                {"updated_at", R"("2026-12-11T12:00:00Z")"}}};
}

std::string doc(const std::string& key, const std::string& raw) {
    return Obj{{{key, raw}}}.str();
}
std::string projects(const Obj& p) {
    return doc("projects", "[" + p.str() + "]");
}
std::string threads(const Obj& t) {
    return doc("threads", "[" + t.str() + "]");
}
std::string bindings(const Obj& b) {
    return doc("agent_bindings", "[" + b.str() + "]");
}

ReadState read_ok(const std::string& text) {
    auto r = parse_state(text);
    if (!r) {
        ADD_FAILURE() << text << "\n-> " << r.error().message();
        return ReadState{StoreData{}, 99};
    }
    return std::move(r).value();
}

std::string render_ok(const StoreData& data) {
    auto r = render_state(data);
    if (!r) {
        ADD_FAILURE() << r.error().message();
        return {};
    }
    return *r;
}

TEST(StateFormat, GoldenDocumentRoundTripsByteForByte) {
    const std::string golden = test::read_file(kGolden);
    const ReadState read = read_ok(golden);
    EXPECT_EQ(read.stored_version, 3u);
    EXPECT_EQ(render_ok(read.data), golden);

    // The reading itself, not only its symmetry with the writer.
    const StoreData& d = read.data;
    ASSERT_EQ(d.projects.size(), 2u);
    EXPECT_EQ(d.projects[0].quick_base, "origin/main");
    EXPECT_EQ(d.projects[1].kind, ProjectKind::Directory);
    EXPECT_EQ(d.projects[1].name, "notes \"q\" \\ tab\t esc\x1b del\x7f \xc3\xa9/\xe2\x82\xac");
    EXPECT_EQ(d.projects[1].created_at.time_since_epoch().count() % 1'000'000'000, 123'000'000);
    EXPECT_EQ(d.prefs.pi_extra_args, (std::vector<std::string>{"--fast", "-v"}));
    EXPECT_FALSE(d.prefs.default_start_pi_on_create);
    ASSERT_EQ(d.threads.size(), 5u);
    EXPECT_TRUE(std::holds_alternative<workspace::Directory>(d.threads[2].workspace));
    EXPECT_EQ(d.threads[2].selected_agent,
              AgentKind(agent_kind::Custom{"aider", {"--model", "gpt \"x\""}}));
    EXPECT_FALSE(d.threads[4].selected_agent);
    ASSERT_EQ(d.agent_bindings.size(), 5u);
    EXPECT_EQ(d.agent_bindings[0].generation, std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(d.agent_bindings[0].last_exit_code, std::numeric_limits<std::int32_t>::min());
    EXPECT_TRUE(std::holds_alternative<provider::Codex>(d.agent_bindings[1].provider_ref));
    EXPECT_EQ(d.agent_bindings[4].last_turn, PersistedTurnHint::Interrupted);
    ASSERT_TRUE(d.last_selected_thread_id);
    EXPECT_EQ(*d.last_selected_thread_id, d.threads[1].id);
    EXPECT_EQ(d.worktree_agents.size(), 3u);
    EXPECT_EQ(d.worktree_agents.at("/src/app/"), AgentKind(agent_kind::Pi{}));
}

TEST(StateFormat, EmptyObjectIsTheDefaultDocument) {
    test::ScopedEnv editor("EDITOR", "nano");
    const ReadState read = read_ok("{}");
    EXPECT_EQ(read.stored_version, 0u);
    EXPECT_EQ(read.data, StoreData{});
    EXPECT_EQ(read.data.prefs.editor_cmd, "nano");
    EXPECT_EQ(read.data.schema_version, 3u);
}

TEST(StateFormat, OlderVersionReadsWithDefaults) {
    const ReadState read = read_ok(R"({"schema_version": 2, "projects": []})");
    EXPECT_EQ(read.stored_version, 2u);
    EXPECT_EQ(read.data.schema_version, 3u);
    EXPECT_EQ(read.data.prefs, AppPrefs{});
}

struct ErrorCase {
    const char* name;
    std::string text;
    std::string message; // StoreError::message()
};

TEST(StateFormat, RejectedDocuments) {
    const std::string newer = "state schema 4 is newer than supported schema 3";
    const ErrorCase cases[] = {
        // The version check comes first, whatever else is wrong.
        {"newer", R"({"schema_version": 4, "projects": 7, "threads": "x"})", newer},
        {"newer, version last", R"({"projects": [{}], "schema_version": 4})", newer},
        {"duplicate version, later wins", R"({"schema_version": 1, "schema_version": 4})", newer},
        {"beyond 32 bits", R"({"schema_version": 4294967296})",
         "state schema 4294967296 is newer than supported schema 3"},
        {"u64 max", R"({"schema_version": 18446744073709551615})",
         "state schema 18446744073709551615 is newer than supported schema 3"},
        {"beyond 64 bits", R"({"schema_version": 100000000000000000000, "projects": 1})",
         "state schema 100000000000000000000 is newer than supported schema 3"},
        {"negative version", R"({"schema_version": -1})",
         "json: invalid value: -1, expected an unsigned 32-bit integer at schema_version"},
        {"fractional version", R"({"schema_version": 3.5})",
         "json: invalid value: 3.5, expected an unsigned 32-bit integer at schema_version"},
        {"version as text", R"({"schema_version": "3"})",
         "json: invalid type: string, expected an unsigned 32-bit integer at schema_version"},

        // Syntax.
        {"zero bytes", "",
         "json: parse error at line 1, column 1: syntax error while parsing value - unexpected end "
         "of input; expected '[', '{', "
         "or a literal"},
        {"truncated", R"({"projects": [)",
         "json: parse error at line 1, column 15: syntax error while parsing value - unexpected "
         "end of input; expected '[', '{', "
         "or a literal"},
        {"trailing text", "{} x",
         "json: parse error at line 1, column 4: syntax error while parsing value - invalid "
         "literal; last read: '{} x'; expected "
         "end of input"},
        {"text after a NUL byte", std::string("{}\0{ not json", 14),
         "json: invalid NUL byte at offset 2"},
        {"top level array", "[]", "json: invalid type: array, expected an object"},
        {"invalid UTF-8 in a string", "{\"x\": \"\xff\"}",
         "json: parse error at line 1, column 8: syntax error while parsing value - invalid "
         "string: ill-formed UTF-8 byte; last "
         "read: '\"\xff'"},

        // Names of variants.
        {"project kind in lower case", projects(project().set("kind", R"("directory")")),
         "json: unknown variant `directory`, expected `Git` or `Directory`"},
        {"agent kind", threads(thread().set("selected_agent", R"("Gemini")")),
         "json: unknown variant `Gemini`, expected one of `Pi`, `Codex`, `Claude`, `Custom`"},
        {"agent kind object", threads(thread().set("selected_agent", R"({"Gemini": {}})")),
         "json: unknown variant `Gemini`, expected one of `Pi`, `Codex`, `Claude`, `Custom`"},
        {"workspace kind",
         threads(thread().set("workspace", R"({"kind": "worktree", "path": "/a"})")),
         "json: unknown variant `worktree`, expected `git_worktree` or `directory`"},
        {"provider", bindings(binding().set("provider_ref", R"({"provider": "gemini"})")),
         "json: unknown variant `gemini`, expected one of `pending_identity`, `pi`, `codex`, "
         "`claude`, `unsupported`"},
        {"desired process", bindings(binding().set("desired_process", R"("Open")")),
         "json: unknown variant `Open`, expected `open` or `closed`"},
        {"turn hint", bindings(binding().set("last_turn", R"("done")")),
         "json: unknown variant `done`, expected one of `idle`, `working`, `finished`, `failed`, "
         "`interrupted`"},

        // Required members.
        {"project id", projects(project().drop("id")), "json: missing field `id`"},
        {"project template", projects(project().drop("worktree_dir_template")),
         "json: missing field `worktree_dir_template`"},
        {"thread title", threads(thread().drop("title")), "json: missing field `title`"},
        {"workspace kind missing", threads(thread().set("workspace", R"({"path": "/a"})")),
         "json: missing field `kind`"},
        {"workspace path missing", threads(thread().set("workspace", R"({"kind": "directory"})")),
         "json: missing field `path`"},
        {"pi session", bindings(binding().set("provider_ref", R"({"provider": "pi"})")),
         "json: missing field `session_id`"},
        {"codex thread", bindings(binding().set("provider_ref", R"({"provider": "codex"})")),
         "json: missing field `thread_id`"},
        {"custom args",
         threads(thread().set("selected_agent", R"({"Custom": {"command": "aider"}})")),
         "json: missing field `args`"},
        {"binding generation", bindings(binding().drop("generation")),
         "json: missing field `generation`"},

        // Integers keep to their field's range.
        {"generation negative", bindings(binding().set("generation", "-1")),
         "json: invalid value: -1, expected an unsigned 64-bit integer at "
         "agent_bindings[0].generation"},
        {"generation fractional", bindings(binding().set("generation", "3.5")),
         "json: invalid value: 3.5, expected an unsigned 64-bit integer at "
         "agent_bindings[0].generation"},
        {"generation beyond 64 bits", bindings(binding().set("generation", "18446744073709551616")),
         "json: invalid value: 1.8446744073709552e+19, expected an unsigned 64-bit integer at "
         "agent_bindings[0].generation"},
        {"exit code too large", bindings(binding().set("last_exit_code", "2147483648")),
         "json: invalid value: 2147483648, expected a signed 32-bit integer at "
         "agent_bindings[0].last_exit_code"},
        {"exit code too small", bindings(binding().set("last_exit_code", "-2147483649")),
         "json: invalid value: -2147483649, expected a signed 32-bit integer at "
         "agent_bindings[0].last_exit_code"},

        // Other values and types.
        {"bad uuid", projects(project().set("id", R"("not-a-uuid")")),
         "json: invalid UUID \"not-a-uuid\" at projects[0].id"},
        {"bad timestamp", projects(project().set("created_at", R"("2026-02-30T00:00:00Z")")),
         "json: invalid RFC 3339 timestamp \"2026-02-30T00:00:00Z\" at projects[0].created_at"},
        {"null for a required text", projects(project().set("name", "null")),
         "json: invalid type: null, expected a string at projects[0].name"},
        {"projects not an array", doc("projects", "{}"),
         "json: invalid type: object, expected an array of projects at projects"},
        {"prefs null", doc("prefs", "null"),
         "json: invalid type: null, expected a preferences object at prefs"},
        {"pref wrong type", doc("prefs", R"({"pi_extra_args": "x"})"),
         "json: invalid type: string, expected an array of strings at prefs.pi_extra_args"},
        {"worktree agent", doc("worktree_agents", R"({"/a": 3})"),
         "json: invalid type: number, expected a string or an object with a single member at "
         "worktree_agents./a"},
        {"selected thread", doc("last_selected_thread_id", "7"),
         "json: invalid type: number, expected a string at last_selected_thread_id"},

        // Nesting is bounded, even inside members that would be ignored.
        {"deep array", std::string(100000, '['), "json: nesting deeper than 512 levels"},
        {"deep unknown member", "{\"x\": " + std::string(600, '[') + std::string(600, ']') + "}",
         "json: nesting deeper than 512 levels"},
    };
    for (const auto& c : cases) {
        auto r = parse_state(c.text);
        if (r) {
            ADD_FAILURE() << c.name << ": accepted";
            continue;
        }
        EXPECT_EQ(r.error().message(), c.message) << c.name;
        if (r.error().is<store_error::Json>()) {
            ASSERT_EQ(r.error().causes().size(), 1u) << c.name;
            EXPECT_EQ("json: " + r.error().causes()[0], c.message) << c.name;
        }
    }
}

TEST(StateFormat, AcceptedVariations) {
    // Each reads; what it reads as is checked by `check`.
    struct Case {
        const char* name;
        std::string text;
        std::function<void(const StoreData&)> check;
    };
    const Case cases[] = {
        {"trailing whitespace", "  {}\n\r\t \n",
         [](const StoreData& d) { EXPECT_EQ(d, StoreData{}); }},
        {"project without kind is Git", projects(project().drop("kind")),
         [](const StoreData& d) { EXPECT_EQ(d.projects.at(0).kind, ProjectKind::Git); }},
        {"unknown members at every level",
         R"({"color": 1, "prefs": {"theme": "dark"}, )" +
             projects(project().set("color", R"({"deep": [1, 2]})")).substr(1),
         [](const StoreData& d) { EXPECT_EQ(d.projects.at(0).name, "app"); }},
        {"workspace members in either order",
         threads(thread().set("workspace", R"({"path": "/b", "kind": "directory"})")),
         [](const StoreData& d) {
             EXPECT_EQ(d.threads.at(0).workspace, ThreadWorkspace(workspace::Directory{"/b"}));
         }},
        {"selected agent null", threads(thread().set("selected_agent", "null")),
         [](const StoreData& d) { EXPECT_FALSE(d.threads.at(0).selected_agent); }},
        {"selected agent missing", threads(thread().drop("selected_agent")),
         [](const StoreData& d) { EXPECT_FALSE(d.threads.at(0).selected_agent); }},
        {"offset timestamp is converted",
         projects(project().set("created_at", R"("2026-12-11T14:00:00.5+02:00")")),
         [](const StoreData& d) {
             EXPECT_EQ(timestamp::format_auto(d.projects.at(0).created_at),
                       "2026-12-11T12:00:00.500Z");
         }},
        {"upper-case uuid",
         projects(project().set("id", R"("0F8FAD5B-D9CB-469F-A165-70867728950E")")),
         [](const StoreData& d) {
             EXPECT_EQ(d.projects.at(0).id.to_string(), "0f8fad5b-d9cb-469f-a165-70867728950e");
         }},
        {"later duplicate member wins",
         R"({"projects": [)" + project().str() + R"(], "projects": []})",
         [](const StoreData& d) { EXPECT_TRUE(d.projects.empty()); }},
        {"worktree agent keys equal as paths",
         doc("worktree_agents", R"({"/a/b": "Pi", "/a//b/": "Codex"})"),
         [](const StoreData& d) { EXPECT_EQ(d.worktree_agents.size(), 1u); }},
        {"unit agent in object form",
         threads(thread().set("selected_agent", R"({"Claude": null})")),
         [](const StoreData& d) {
             EXPECT_EQ(d.threads.at(0).selected_agent, AgentKind(agent_kind::Claude{}));
         }},
        {"exit code extremes", bindings(binding().set("last_exit_code", "-2147483648")),
         [](const StoreData& d) { EXPECT_EQ(d.agent_bindings.at(0).last_exit_code, INT32_MIN); }},
        {"moderate nesting in an unknown member",
         "{\"x\": " + std::string(500, '[') + std::string(500, ']') + "}",
         [](const StoreData& d) { EXPECT_EQ(d, StoreData{}); }},
        {"missing prefs members take defaults", doc("prefs", R"({"pi_bin": "/bin/pi"})"),
         [](const StoreData& d) {
             AppPrefs expected;
             expected.pi_bin = "/bin/pi";
             EXPECT_EQ(d.prefs, expected);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto r = parse_state(c.text);
        ASSERT_TRUE(r) << r.error().message();
        c.check(r->data);
    }
}

TEST(StateFormat, BindingWithoutIdGetsAFreshOne) {
    const std::string text = bindings(binding().drop("id"));
    const ReadState first = read_ok(text);
    const ReadState second = read_ok(text);
    ASSERT_EQ(first.data.agent_bindings.size(), 1u);
    ASSERT_EQ(second.data.agent_bindings.size(), 1u);
    EXPECT_NE(first.data.agent_bindings[0].id, second.data.agent_bindings[0].id);
    EXPECT_EQ(first.data.agent_bindings[0].id.to_string()[14], '4');
}

TEST(StateFormat, WriterDropsUnknownMembersAndWritesAbsentAsNull) {
    const ReadState read = read_ok(threads(thread().drop("selected_agent").set("color", "1")));
    const std::string text = render_ok(read.data);
    EXPECT_EQ(text.find("color"), std::string::npos);
    EXPECT_NE(text.find("\"selected_agent\": null,\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\n  \"agent_bindings\": [],\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\n  \"last_selected_thread_id\": null,\n"), std::string::npos) << text;
    EXPECT_TRUE(text.ends_with("\n  \"worktree_agents\": {}\n}")) << text;
}

TEST(StateFormat, WriterLayoutOfTheDefaultDocument) {
    test::ScopedEnv editor("EDITOR", "vi");
    const std::string expected = R"({
  "schema_version": 3,
  "projects": [],
  "prefs": {
    "editor_cmd": "vi",
    "pi_bin": "pi",
    "pi_extra_args": [],
    "codex_bin": "codex",
    "codex_extra_args": [],
    "claude_bin": "claude",
    "claude_extra_args": [],
    "http_proxy": "",
    "all_proxy": "",
    "no_proxy": "",
    "default_start_pi_on_create": true
  },
  "threads": [],
  "agent_bindings": [],
  "last_selected_thread_id": null,
  "worktree_agents": {}
})";
    StoreData data;
    data.schema_version = 0; // the writer always writes the current version
    EXPECT_EQ(render_ok(data), expected);
}

TEST(StateFormat, WriterEscapes) {
    StoreData data;
    Project p = Project::create("", "/p");
    p.name = std::string("q\" b\\ \b\f\n\r\t \x01\x1f\x7f / \xc3\xa9 \xf0\x9f\x98\x80 ") + '\0';
    data.projects.push_back(p);
    const std::string text = render_ok(data);
    EXPECT_NE(text.find(R"("name": "q\" b\\ \b\f\n\r\t \u0001\u001f)"
                        "\x7f / \xc3\xa9 \xf0\x9f\x98\x80 \\u0000\",\n"),
              std::string::npos)
        << text;
}

TEST(StateFormat, TimestampsUseZeroThreeSixOrNineDigits) {
    const std::pair<const char*, const char*> cases[] = {
        {"2026-12-11T12:00:00.000Z", "2026-12-11T12:00:00Z"},
        {"2026-12-11T12:00:00.25Z", "2026-12-11T12:00:00.250Z"},
        {"2026-12-11T12:00:00.000250Z", "2026-12-11T12:00:00.000250Z"},
        {"2026-12-11T12:00:00.0000002Z", "2026-12-11T12:00:00.000000200Z"},
    };
    for (const auto& [in, out] : cases) {
        const ReadState read =
            read_ok(projects(project().set("created_at", std::string("\"") + in + "\"")));
        const std::string text = render_ok(read.data);
        EXPECT_NE(text.find(std::string("\"created_at\": \"") + out + "\""), std::string::npos)
            << in << "\n"
            << text;
    }
}

TEST(StateFormat, WriterRefusesPathsThatAreNotUtf8) {
    const std::string bad = "/src/caf\xe9";
    const auto with_project = [&] {
        StoreData d;
        d.projects.push_back(Project::create("app", bad));
        return d;
    };
    const auto with_thread = [&] {
        StoreData d;
        AgentThread t;
        t.workspace = workspace::Directory{bad};
        d.threads.push_back(t);
        return d;
    };
    const auto with_agent = [&] {
        StoreData d;
        d.worktree_agents.emplace(bad, agent_kind::Pi{});
        return d;
    };
    for (const StoreData& d : {with_project(), with_thread(), with_agent()}) {
        auto r = render_state(d);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().message(), "json: path contains invalid UTF-8 characters");
    }
}

} // namespace
} // namespace kelvo::store
