// Diagnostic output of the stick link, on standard output.
#pragma once

namespace vdx {

// printf-style, printed only while the trace switch is on.
void linkTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A whole line: the text and a newline, only while the trace switch is on.
void linkTraceLine(const char* text);
// printf-style, printed whatever the trace switch says.
void linkPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace vdx
