// Typed fields of a TOML document (toml++, without exceptions) for the
// readers of rig and profile files: each problem is thrown once as a
// TomlError whose text names "FILE:LINE:COLUMN: what is wrong".
#pragma once

#define TOML_EXCEPTIONS 0
#include <toml++/toml.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace vdx {

struct TomlError {
    std::string text;
};

// The keys of a table, looked up without its map (a meter table is read a
// million times in a large rig): at most 32.
class TableKeys {
public:
    const toml::node* get(std::string_view key) const {
        for (size_t i = 0; i < n_; ++i)
            if (items_[i].first == key) return items_[i].second;
        return nullptr;
    }

private:
    friend class TomlFields;
    std::pair<std::string_view, const toml::node*> items_[32];
    size_t n_ = 0;
};

class TomlFields {
public:
    // `name` stands for the file; `lineOffset` is added to every line
    // (for a document cut out of a larger file).
    explicit TomlFields(std::string name, int lineOffset = 0) : name_(std::move(name)), lineOffset_(lineOffset) {}

    [[noreturn]] void fail(const toml::node& at, const std::string& what) const { fail(at.source(), what); }
    [[noreturn]] void fail(const toml::source_region& at, const std::string& what) const;

    // Unknown keys are errors.
    void allowKeys(const toml::table& t, std::initializer_list<std::string_view> keys) const;
    // The same, and the keys for lookups (no more than 32 may be allowed).
    TableKeys allowedKeys(const toml::table& t, std::initializer_list<std::string_view> keys) const;
    const toml::table& table(const toml::node& n) const;
    std::string text(const toml::node& n, const char* what) const;
    double number(const toml::node& n, double min, double max, const char* what) const;
    int64_t whole(const toml::node& n, int64_t min, int64_t max, const char* what) const;
    // A span of time in seconds that the schedule counts in whole
    // milliseconds: one that is not would be rounded without a word.
    double milliseconds(const toml::node& n, double min, double max, const char* what) const;

    const std::string& name() const { return name_; }
    void setLineOffset(int lineOffset) { lineOffset_ = lineOffset; }
    int lineOffset() const { return lineOffset_; }

private:
    std::string name_;
    int lineOffset_;
};

// "1.5" and "1e+06" for messages.
std::string shortNumber(double v);

}  // namespace vdx
