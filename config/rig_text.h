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
size_t scanToml(std::string_view t, size_t i, TomlScan* state, bool* syntax);

// False, with "NAME:LINE:COLUMN: what is wrong", when `text` is larger than
// kMaxRigBytes, holds a byte above 0x7F outside a comment, or nests deeper
// than kMaxTomlNesting; bytes above 0x7F inside comments become spaces and
// a leading UTF-8 byte order mark is dropped (lines and columns count
// without it).
bool checkTomlText(std::string* text, const std::string& name, std::string* error);

}  // namespace vdx
