// What every Verdanox program does first, and how it tells its user about
// problems.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "vdx_version.h"

namespace vdx {

// Makes the process ready before anything else runs. On Windows: no DLL is
// looked for in the current folder (the folder the user starts Verdanox in
// for its VDXconfig.txt may hold anything), and a GUI program started from a
// console writes its stdout and stderr lines there. Elsewhere: a standard
// stream the caller closed keeps its descriptor taken (by /dev/null, where
// writing fails as on the closed stream), so that no file opened later,
// the stick's port above all, receives what is written to it.
void prepareProcess();

// Standard output carries bytes unchanged (Windows would turn each 0x0A
// into 0x0D 0x0A in text mode); for binary data such as I/Q samples.
void binaryStandardOutput();

// Writes `text` to stderr, each of its lines as "program: line".
void tell(const char* program, const std::string& text);

// Bytes as upper-case hexadecimal text, two digits a byte.
std::string hexText(const uint8_t* data, size_t n);

// True when one of the arguments is exactly `option`.
bool hasOption(int argc, char** argv, const char* option);

}  // namespace vdx
