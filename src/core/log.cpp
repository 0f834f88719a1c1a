#include "core/log.hpp"

#include "core/text.hpp"

#include <algorithm>
#include <cstdlib>

namespace kelvo::log {

namespace {

constexpr std::string_view dim = "\x1b[2m";
constexpr std::string_view reset = "\x1b[0m";

std::string_view trim_blanks(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

// False when the text names no level; "off" sets `level` to nullopt.
bool parse_level(std::string_view text, std::optional<Level>& level) {
    static constexpr std::pair<std::string_view, Level> names[] = {
        {"trace", Level::Trace}, {"debug", Level::Debug}, {"info", Level::Info},
        {"warn", Level::Warn},   {"error", Level::Error},
    };
    for (const auto& [name, value] : names) {
        if (equals_ignoring_case(text, name)) {
            level = value;
            return true;
        }
    }
    level.reset();
    return equals_ignoring_case(text, "off");
}

bool valid_target(std::string_view target) {
    if (target.empty() || !text::is_valid_utf8(target))
        return false;
    return std::none_of(target.begin(), target.end(), [](char c) {
        return c == '=' || c == ' ' || c == '\t' || static_cast<unsigned char>(c) < 0x20;
    });
}

std::string_view level_name(Level level) {
    switch (level) {
    case Level::Trace:
        return "TRACE";
    case Level::Debug:
        return "DEBUG";
    case Level::Info:
        return " INFO";
    case Level::Warn:
        return " WARN";
    case Level::Error:
        return "ERROR";
    }
    return "?????";
}

std::string_view level_color(Level level) {
    switch (level) {
    case Level::Trace:
        return "\x1b[35m";
    case Level::Debug:
        return "\x1b[34m";
    case Level::Info:
        return "\x1b[32m";
    case Level::Warn:
        return "\x1b[33m";
    case Level::Error:
        return "\x1b[31m";
    }
    return "";
}

// Keeps an event on one line and keeps terminal controls out of it.
void append_escaped(std::string& out, std::string_view text) {
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u != 0x7f) {
            out += c;
            continue;
        }
        switch (c) {
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default: {
            static constexpr char hex[] = "0123456789abcdef";
            out += "\\x";
            out += hex[u >> 4];
            out += hex[u & 0xf];
        }
        }
    }
}

std::optional<Config> g_config;

} // namespace

std::optional<Directive> parse_directive(std::string_view text) {
    text = trim_blanks(text);
    const auto eq = text.find('=');
    std::optional<Level> level;
    if (eq == std::string_view::npos) {
        if (!parse_level(text, level))
            return std::nullopt;
        return Directive{{}, level};
    }
    const auto target = trim_blanks(text.substr(0, eq));
    if (!valid_target(target) || !parse_level(trim_blanks(text.substr(eq + 1)), level))
        return std::nullopt;
    return Directive{std::string(target), level};
}

Filter Filter::parse(std::string_view list, std::vector<std::string>& rejected) {
    Filter filter;
    while (true) {
        const auto comma = list.find(',');
        const auto item = list.substr(0, comma);
        if (!trim_blanks(item).empty()) {
            if (auto directive = parse_directive(item))
                filter.add(std::move(*directive));
            else
                rejected.emplace_back(item);
        }
        if (comma == std::string_view::npos)
            break;
        list.remove_prefix(comma + 1);
    }
    return filter;
}

void Filter::add(Directive directive) {
    auto same = std::find_if(m_directives.begin(), m_directives.end(),
                             [&](const Directive& d) { return d.target == directive.target; });
    if (same != m_directives.end())
        *same = std::move(directive);
    else
        m_directives.push_back(std::move(directive));
}

bool Filter::enabled(Level level, std::string_view target) const {
    const Directive* best = nullptr;
    for (const auto& d : m_directives) {
        if (target.starts_with(d.target) && (!best || d.target.size() > best->target.size()))
            best = &d;
    }
    return best && best->level && level >= *best->level;
}

Config config_from_env(std::FILE* warnings) {
    Config config;
    // A value that is not text counts as unset, like an empty one.
    if (const char* no_color = std::getenv("NO_COLOR"))
        config.color = *no_color == '\0' || !text::is_valid_utf8(no_color);

    std::vector<std::string> rejected;
    if (const char* list = std::getenv(filter_variable))
        config.filter = Filter::parse(list, rejected);
    for (const auto& item : rejected)
        std::fprintf(warnings, "warning: ignoring invalid %s directive '%s'\n", filter_variable,
                     text::lossy_utf8(item).c_str());
    config.filter.add(Directive{"kelvo", Level::Info});
    return config;
}

void install(Config config) {
    g_config = std::move(config);
}

std::string format_line(Timestamp time, Level level, std::string_view target,
                        std::string_view message, std::span<const Field> fields, bool color) {
    std::string line;
    const auto styled = [&](std::string_view style, std::string_view text) {
        if (color)
            line += style;
        line += text;
        if (color)
            line += reset;
    };
    styled(dim, timestamp::format(time, 6));
    line += ' ';
    styled(level_color(level), level_name(level));
    line += ' ';
    styled(dim, std::string(target) + ":");
    line += ' ';
    append_escaped(line, message);
    for (const auto& field : fields) {
        line += ' ';
        line += field.name;
        line += '=';
        append_escaped(line, field.value);
    }
    line += '\n';
    return line;
}

bool enabled(Level level, std::string_view target) {
    return g_config && g_config->filter.enabled(level, target);
}

void emit(Level level, std::string_view target, std::string_view message,
          std::initializer_list<Field> fields) {
    if (!enabled(level, target))
        return;
    const std::string line = format_line(timestamp::now(), level, target, message,
                                         {fields.begin(), fields.size()}, g_config->color);
    // One write per line, so lines from several threads never interleave.
    std::fwrite(line.data(), 1, line.size(), g_config->out);
    std::fflush(g_config->out);
}

} // namespace kelvo::log
