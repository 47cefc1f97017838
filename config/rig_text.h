// The text of a rig file before and beside the TOML reader: meter times,
// and the guard that keeps bytes above 0x7F away from toml++.
#pragma once

#include <string>

namespace vdx {

// False, with "NAME:LINE:COLUMN: only ASCII characters, outside comments",
// when `text` holds a byte above 0x7F outside a comment; such bytes inside
// comments become spaces.
bool asciiForToml(std::string* text, const std::string& name, std::string* error);

}  // namespace vdx
