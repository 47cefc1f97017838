// The text of a rig file before and beside the TOML reader: reading the
// file, meter times, and the guards that keep toml++ away from text it
// handles badly (bytes above 0x7F, nesting without bound).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vdx {

// The largest rig file read: 256 MiB. A meter of the generator's rigs
// (address, key, security, offset, volume, flow) takes about 150 bytes, so
// 1,000,000 meters fit with room to spare; anything larger is a mistake (or
// /dev/zero) and would only exhaust memory.
constexpr size_t kMaxRigBytes = size_t(256) << 20;

// The deepest nesting a rig file may have: the levels of its [table]
// header, the parts of dotted keys and the arrays and inline tables open
// around a value, added up. A rig needs six at most ([[meter]], faults = [
// { at = [ ... ] } ]); toml++ recurses once per level, so text nested
// hundreds of thousands deep would overflow the stack.
constexpr int kMaxTomlNesting = 32;

// Reads the file at `path` whole into `text`. False with "cannot read PATH:
// reason" (a directory, a file that cannot be opened or read); a file larger
// than kMaxRigBytes is read only up to one byte past the bound, for
// checkTomlText to refuse.
bool readRigText(const std::string& path, std::string* text, std::string* error);

// A multi-line string ends on the last three of up to five quotes in a row
// (TOML lets one or two quotes stand right before its closing delimiter):
// how many characters after `at` the closing run takes.
inline size_t closingRunAfter(std::string_view t, size_t at) {
    size_t n = 3;
    while (n < 5 && at + n < t.size() && t[at + n] == t[at]) ++n;
    return n - 1;
}

// Where a scan of TOML text stands: in plain text, in a comment, or in a
// string of one of TOML's four kinds.
enum class TomlScan : uint8_t { Plain, Comment, Basic, Literal, MultiBasic, MultiLiteral };

// Moves `state` past the character at `i` of `t`, as TOML reads it: a
// quote opens or closes a string (a multi-line one on three quotes, and it
// ends on the last three of up to five), # opens a comment, a line end
// closes a comment (and, in text toml++ will refuse, a one-line string), a
// backslash in a basic string takes the next character with it. Returns
// how many characters the step took (more than one for an escape or a run
// of quotes); `syntax` says whether the character is TOML syntax: outside
// strings and comments, and not opening one.
// (Inline: it runs once per character of a file of a million meters.)
inline size_t scanToml(std::string_view t, size_t i, TomlScan* state, bool* syntax) {
    const char c = t[i];
    const bool three = i + 2 < t.size() && t[i + 1] == c && t[i + 2] == c;
    *syntax = false;
    if (c == '\n') {
        if (*state == TomlScan::Comment || *state == TomlScan::Basic || *state == TomlScan::Literal)
            *state = TomlScan::Plain;
        *syntax = *state == TomlScan::Plain;
        return 1;
    }
    switch (*state) {
        case TomlScan::Plain:
            if (c == '#') {
                *state = TomlScan::Comment;
            } else if (c == '"' || c == '\'') {
                *state = c == '"' ? (three ? TomlScan::MultiBasic : TomlScan::Basic)
                                  : (three ? TomlScan::MultiLiteral : TomlScan::Literal);
                return three ? 3 : 1;
            } else {
                *syntax = true;
            }
            return 1;
        case TomlScan::Basic:
        case TomlScan::MultiBasic:
            if (c == '\\' && i + 1 < t.size() && t[i + 1] != '\n') return 2;  // an escaped character
            if (c == '"' && (*state == TomlScan::Basic || three)) {
                const size_t run = *state == TomlScan::MultiBasic ? closingRunAfter(t, i) : 0;
                *state = TomlScan::Plain;
                return 1 + run;
            }
            return 1;
        case TomlScan::Literal:
        case TomlScan::MultiLiteral:
            if (c == '\'' && (*state == TomlScan::Literal || three)) {
                const size_t run = *state == TomlScan::MultiLiteral ? closingRunAfter(t, i) : 0;
                *state = TomlScan::Plain;
                return 1 + run;
            }
            return 1;
        case TomlScan::Comment:
            break;
    }
    return 1;
}

// False, with "NAME:LINE:COLUMN: what is wrong", when `text` is larger than
// kMaxRigBytes, holds a byte above 0x7F outside a comment, or nests deeper
// than kMaxTomlNesting; bytes above 0x7F inside comments become spaces and
// a leading UTF-8 byte order mark is dropped (lines and columns count
// without it).
bool checkTomlText(std::string* text, const std::string& name, std::string* error);

}  // namespace vdx
