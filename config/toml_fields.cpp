#include "config/toml_fields.h"

#include <cmath>
#include <cstdio>

namespace vdx {

std::string shortNumber(double v) {
    char s[32];
    std::snprintf(s, sizeof s, "%g", v);
    return s;
}

void TomlFields::fail(const toml::source_region& at, const std::string& what) const {
    throw TomlError{name_ + ":" + std::to_string(at.begin.line + lineOffset_) + ":" + std::to_string(at.begin.column) +
                    ": " + what};
}

void TomlFields::allowKeys(const toml::table& t, std::initializer_list<std::string_view> keys) const {
    for (auto&& [key, node] : t) {
        bool known = false;
        for (std::string_view k : keys) known = known || key.str() == k;
        if (!known) fail(key.source(), "unknown key \"" + std::string(key.str()) + "\"");
    }
}

TableKeys TomlFields::allowedKeys(const toml::table& t, std::initializer_list<std::string_view> keys) const {
    allowKeys(t, keys);
    TableKeys k;
    for (auto&& [key, node] : t)
        if (k.n_ < 32) k.items_[k.n_++] = {key.str(), &node};
    return k;
}

const toml::table& TomlFields::table(const toml::node& n) const {
    if (!n.is_table()) fail(n, "expected a table");
    return *n.as_table();
}

std::string TomlFields::text(const toml::node& n, const char* what) const {
    if (!n.is_string()) fail(n, std::string("expected a string: ") + what);
    return *n.value<std::string>();
}

double TomlFields::number(const toml::node& n, double min, double max, const char* what) const {
    if (!n.is_number()) fail(n, std::string("expected a number: ") + what);
    const double v = *n.value<double>();
    if (!(v >= min && v <= max))
        fail(n, std::string(what) + " must be from " + shortNumber(min) + " to " + shortNumber(max));
    return v;
}

double TomlFields::milliseconds(const toml::node& n, double min, double max, const char* what) const {
    const double v = number(n, min, max, what);
    if (std::fabs(v * 1000 - std::round(v * 1000)) > 1e-6)
        fail(n, std::string(what) + " must be whole milliseconds (the schedule counts milliseconds)");
    return v;
}

int64_t TomlFields::whole(const toml::node& n, int64_t min, int64_t max, const char* what) const {
    if (!n.is_integer()) fail(n, std::string("expected a whole number: ") + what);
    const int64_t v = *n.value<int64_t>();
    if (v < min || v > max)
        fail(n, std::string(what) + " must be from " + std::to_string(min) + " to " + std::to_string(max));
    return v;
}

}  // namespace vdx
