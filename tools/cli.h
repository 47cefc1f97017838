// What the command-line tools share: the getopt_long conventions (a bad
// option or value: a message and the usage on stderr, exit status 2) and
// checked numbers.
#pragma once

#include <string>

namespace vdx {

// Prints "program: what" and the usage to stderr; returns 2.
int usageError(const char* program, const std::string& what, const char* usage);

// The message for getopt_long's '?' (unknown option) and ':' (value
// missing), from the argument it stopped at.
std::string optionProblem(int code, const char* argument);

// A whole number from `min` to `max`, the whole text.
bool parseWhole(const char* text, long min, long max, long* out);
// A decimal number from `min` to `max`, the whole text.
bool parseDecimal(const char* text, double min, double max, double* out);

}  // namespace vdx
