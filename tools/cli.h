// What the command-line tools share: the getopt_long conventions (a bad
// option or value: a message and the usage on stderr, exit status 2) and
// checked numbers.
#pragma once

#include <string>

namespace vdx {

// Prints "program: what" and the usage to stderr; returns 2.
int usageError(const char* program, const std::string& what, const char* usage);

// The options every tool has, and getopt_long's complaints: 'h' prints the
// usage and `help` to stdout and 'V' the version (both -1: done, exit 0; 1
// after telling why when standard output cannot be written);
// '?' (unknown option) and ':' (value missing) print the problem with the
// usage to stderr (2), naming the option as typed. `option` is getopt's
// optopt, `argument` argv[optind - 1] and `shortOptions` the tool's short
// option string: a short option inside a group such as -Zn is named by
// itself (-Z), a long one by its argument.
int sharedOption(int code, const char* program, const char* usage, const char* help, int option, const char* argument,
                 const char* shortOptions);

// 0 when getopt_long took every argument, else a usage error (2).
int noArgumentsLeft(int next, int argc, char** argv, const char* program, const char* usage);

// Writes `text` to standard output. False once a write of standard output
// failed (a full disk, a closed pipe): the first failure's reason is kept
// for finishOutput.
bool putText(const std::string& text);
// The same for `line` and a line feed.
bool putLine(const std::string& line);
// The same for text that brings its own line feeds.
bool putText(const std::string& text);
// Flushes standard output; false, after telling "cannot write standard
// output: reason" on stderr, when it or an earlier putLine failed.
bool finishOutput(const char* program);

// True when `path` names the file standard output goes to (/dev/stdout,
// or the file stdout is redirected to): same device and inode. False on
// Windows, which has no inode numbers.
bool isStandardOutput(const std::string& path);

// A whole number from `min` to `max`, the whole text.
bool parseWhole(const char* text, long min, long max, long* out);
// A decimal number from `min` to `max`, the whole text, in plain decimal
// notation (1200000, -2.5, 868.95e6).
bool parseDecimal(const char* text, double min, double max, double* out);

}  // namespace vdx
