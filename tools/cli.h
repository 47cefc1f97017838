// What the command-line tools share: the getopt_long conventions (a bad
// option or value: a message and the usage on stderr, exit status 2) and
// checked numbers.
#pragma once

#include <string>

namespace vdx {

// Prints "program: what" and the usage to stderr; returns 2.
int usageError(const char* program, const std::string& what, const char* usage);

// The options every tool has, and getopt_long's complaints: 'h' prints the
// usage and `help` to stdout and 'V' the version (both -1: done, exit 0);
// '?' (unknown option) and ':' (value missing) print the problem with the
// usage to stderr (2). `argument` is the one getopt_long stopped at.
int sharedOption(int code, const char* program, const char* usage, const char* help, const char* argument);

// 0 when getopt_long took every argument, else a usage error (2).
int noArgumentsLeft(int next, int argc, char** argv, const char* program, const char* usage);

// A whole number from `min` to `max`, the whole text.
bool parseWhole(const char* text, long min, long max, long* out);
// A decimal number from `min` to `max`, the whole text.
bool parseDecimal(const char* text, double min, double max, double* out);

}  // namespace vdx
