// A rig file cut into its top-level part and one piece per [[meter]] table,
// so that a file of a million meters is read a table at a time, each small
// table without toml++'s parser, instead of as one document (which takes
// seconds and gigabytes). Cutting is invisible: the top part keeps its
// lines where they were, each piece is parsed as a document of its own with
// its first line's number, and a file whose meters are not written as
// plain [[meter]] tables is read whole, as before.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "config/toml_fields.h"

namespace vdx {

struct RigPieces {
    std::string top;  // the file with every meter piece's lines left empty
    struct Piece {
        size_t begin, end;  // in the file's text, from its [[meter]] line
        int line;           // of that line, from 1
    };
    std::vector<Piece> meters;
};

// Cuts `text`; false when the file must be read whole (a header that
// names the meter table otherwise than [[meter]], [meter.x] or [[meter.x]]).
bool cutRig(const std::string& text, RigPieces* pieces);

// The table of a piece whose lines are only its [[meter]] header, blank
// lines, comments and `key = value` with a bare key and a basic string
// without escapes, a decimal or hexadecimal integer or a decimal float, as
// TOML reads them; false for anything else (toml++ reads those pieces).
// `addressAt` gets the line (from the piece's first, 1) and column of the
// address's value, where there is one.
bool simpleTable(std::string_view piece, toml::table* table, toml::source_position* addressAt);

// Whether the piece's `records = [` array holds more than `most` inline
// tables, counted in the text before toml++ builds them (a file of a
// million records would take a gigabyte and many seconds to build, only to
// be refused); `at` gets the line (from the piece's first, 1) and column of
// the array.
bool recordsPast(std::string_view piece, size_t most, toml::source_position* at);

}  // namespace vdx
