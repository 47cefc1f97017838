#include "config/rig_pieces.h"

#include <cerrno>
#include <cstdlib>

#include "config/rig_text.h"

namespace vdx {
namespace {

bool blank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && (blank(s.front()) || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (blank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

// A header line: what it names, without brackets and blanks ("meter",
// "schedule", "meter.faults"), whether it is an array of tables; false
// for a line that is not a plain header.
bool header(std::string_view line, std::string_view* name, bool* array) {
    line = trim(line);
    const size_t hash = line.find('#');
    if (hash != std::string_view::npos) line = trim(line.substr(0, hash));
    if (line.size() < 3 || line.front() != '[' || line.back() != ']') return false;
    *array = line.size() >= 4 && line[1] == '[' && line[line.size() - 2] == ']';
    *name = trim(line.substr(*array ? 2 : 1, line.size() - (*array ? 4 : 2)));
    return true;
}

bool bareKey(std::string_view k) {
    if (k.empty()) return false;
    for (char c : k)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-'))
            return false;
    return true;
}

bool digits(std::string_view s, bool hex = false) {
    if (s.empty()) return false;
    for (char c : s)
        if (!((c >= '0' && c <= '9') || (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))))) return false;
    return true;
}

// A TOML value of the simple kinds into `t` under `key`.
bool simpleValue(std::string_view v, const std::string& key, toml::table* t) {
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') {
        const std::string_view s = v.substr(1, v.size() - 2);
        for (char c : s)
            if (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
        return t->insert(key, std::string(s)).second;
    }
    const std::string text(v);
    errno = 0;
    if (v.size() > 2 && v[0] == '0' && v[1] == 'x' && digits(v.substr(2), true) && v.size() <= 17)
        return t->insert(key, static_cast<int64_t>(std::strtoll(text.c_str() + 2, nullptr, 16))).second;
    const std::string_view u = v.substr(!v.empty() && (v[0] == '-' || v[0] == '+') ? 1 : 0);
    const size_t dot = u.find('.'), e = u.find_first_of("eE");
    if (dot != std::string_view::npos && e != std::string_view::npos && dot > e) return false;
    const std::string_view whole = u.substr(0, std::min(dot, e));
    if (!digits(whole) || (whole.size() > 1 && whole[0] == '0')) return false;  // no leading zeros
    if (dot == std::string_view::npos && e == std::string_view::npos) {
        const long long n = std::strtoll(text.c_str(), nullptr, 10);
        return errno == 0 && t->insert(key, static_cast<int64_t>(n)).second;
    }
    if (dot != std::string_view::npos &&
        !digits(u.substr(dot + 1, (e == std::string_view::npos ? u.size() : e) - dot - 1)))
        return false;
    if (e != std::string_view::npos) {
        std::string_view x = u.substr(e + 1);
        if (!x.empty() && (x[0] == '-' || x[0] == '+')) x.remove_prefix(1);
        if (!digits(x)) return false;
    }
    const double d = std::strtod(text.c_str(), nullptr);
    return errno == 0 && t->insert(key, d).second;
}

}  // namespace

bool cutRig(const std::string& text, RigPieces* pieces) {
    pieces->top.clear();
    pieces->meters.clear();
    TomlScan state = TomlScan::Plain;
    bool inMeter = false;
    int line = 1;
    for (size_t at = 0; at < text.size(); ++line) {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        const std::string_view l(text.data() + at, end - at);
        std::string_view name;
        bool array = false;
        if (state == TomlScan::Plain && header(l, &name, &array)) {
            const bool meter = name == "meter" && array;
            const bool inside = name.rfind("meter.", 0) == 0;
            if (!meter && !inside && name.find("meter") != std::string_view::npos) return false;
            if (inside && !inMeter) return false;
            if (meter) pieces->meters.push_back({at, at, line});
            if (!inside) inMeter = meter;
        }
        if (inMeter) {
            pieces->meters.back().end = end;
            if (l.back() == '\n') pieces->top += '\n';  // the line stays, empty
        } else {
            pieces->top.append(l);
        }
        // whether the next line begins inside a multi-line string: only three
        // quotes in a row open or close one (a line begins outside any other
        // string or comment), so a line without them leaves the state as it was
        if (l.find("\"\"\"") != std::string_view::npos || l.find("'''") != std::string_view::npos) {
            for (size_t i = 0; i < l.size();) {
                bool syntax = false;
                i += scanToml(l, i, &state, &syntax);
            }
        }
        at = end;
    }
    return true;
}

bool simpleTable(std::string_view piece, toml::table* t, toml::source_position* addressAt) {
    bool first = true;
    uint32_t line = 0;
    for (size_t at = 0; at < piece.size();) {
        size_t end = piece.find('\n', at);
        if (end == std::string_view::npos) end = piece.size();
        const std::string_view raw = piece.substr(at, end - at);
        std::string_view l = trim(raw);
        at = end + 1;
        ++line;
        if (first) {  // the [[meter]] line
            first = false;
            continue;
        }
        if (l.empty() || l.front() == '#') continue;
        const size_t eq = l.find('=');
        if (eq == std::string_view::npos) return false;
        const std::string_view key = trim(l.substr(0, eq));
        std::string_view value = trim(l.substr(eq + 1));
        // a comment after the value; a string ends at its second quote
        const size_t close = !value.empty() && value[0] == '"' ? value.find('"', 1) : 0;
        if (close == std::string_view::npos) return false;
        const size_t hash = value.find('#', close);
        const std::string_view rest = trim(value.substr(close == 0 ? value.size() : close + 1));
        if (close != 0 && !rest.empty() && rest[0] != '#') return false;
        value = trim(close != 0 ? value.substr(0, close + 1) : value.substr(0, hash));
        if (!bareKey(key) || !simpleValue(value, std::string(key), t)) return false;
        if (key == "address") *addressAt = {line, static_cast<uint32_t>(value.data() - raw.data() + 1)};
    }
    return true;
}

bool recordsPast(std::string_view p, size_t most, toml::source_position* at) {
    TomlScan state = TomlScan::Plain;
    size_t line = 1, lineStart = 0, depth = 0, tables = 0;
    for (size_t i = 0; i < p.size();) {
        if (depth == 0 && i == lineStart && state == TomlScan::Plain) {  // a line that begins `records = [`
            size_t k = p.find_first_not_of(" \t", i);
            if (k != std::string_view::npos && p.compare(k, 7, "records") == 0) {
                k = p.find_first_not_of(" \t", k + 7);
                if (k != std::string_view::npos && p[k] == '=') k = p.find_first_not_of(" \t", k + 1);
                if (k != std::string_view::npos && p[k] == '[') {
                    at->line = static_cast<toml::source_index>(line);
                    at->column = static_cast<toml::source_index>(k - lineStart + 1);
                    i = k + 1, depth = 1;
                    continue;
                }
            }
        }
        // the array's own inline tables, past strings and comments as TOML reads them
        const char c = p[i];
        bool syntax = false;
        i += scanToml(p, i, &state, &syntax);
        if (c == '\n') ++line, lineStart = i;
        if (depth == 0 || !syntax) continue;
        if (c == '[' || c == '{') {
            if (c == '{' && depth == 1 && ++tables > most) return true;
            ++depth;
        } else if ((c == ']' || c == '}') && --depth == 0) {
            return false;
        }
    }
    return false;
}

}  // namespace vdx
