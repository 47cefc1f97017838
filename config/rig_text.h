// The text of a rig file before and beside the TOML reader: reading the
// file, meter times, and the guards that keep toml++ away from text it
// handles badly (bytes above 0x7F, nesting without bound).
#pragma once

#include <cstddef>
#include <string>

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

// False, with "NAME:LINE:COLUMN: what is wrong", when `text` is larger than
// kMaxRigBytes, holds a byte above 0x7F outside a comment, or nests deeper
// than kMaxTomlNesting; bytes above 0x7F inside comments become spaces and
// a leading UTF-8 byte order mark is dropped (lines and columns count
// without it).
bool checkTomlText(std::string* text, const std::string& name, std::string* error);

}  // namespace vdx
