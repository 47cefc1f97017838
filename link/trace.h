// Diagnostic output of the stick link, on standard output.
#pragma once

namespace vdx {

// printf-style, printed only while the trace switch is on.
void linkTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A whole line: the text and a newline, only while the trace switch is on.
void linkTraceLine(const char* text);
// printf-style, printed whatever the trace switch says (but not while the
// link is quiet).
void linkPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));

// While one exists, the link prints nothing: for the attempts to find the
// stick again that a send tick makes every five seconds.
class LinkQuiet {
public:
    LinkQuiet();
    ~LinkQuiet();
    LinkQuiet(const LinkQuiet&) = delete;
    LinkQuiet& operator=(const LinkQuiet&) = delete;

private:
    bool wasQuiet_;
};

}  // namespace vdx
