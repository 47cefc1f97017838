#include <cstdarg>
#include <cstdio>

#include "link/link.h"
#include "link/stick_transport.h"
#include "link/trace.h"

namespace vdx {

LinkState linkState;

// Two-character serial-number prefixes of Verdanox RF sticks.
const StickPrefixes kStickPrefixes = {{"VA", "VB"}, "VX"};
const char kCdcInstancePrefix[] = "USB\\VID_10C4&PID_0003\\";

namespace {
LinkPlatform* installed = nullptr;
bool quiet = false;
}  // namespace

LinkQuiet::LinkQuiet() : wasQuiet_(quiet) { quiet = true; }
LinkQuiet::~LinkQuiet() { quiet = wasQuiet_; }

LinkPlatform& linkPlatform() { return installed != nullptr ? *installed : linkPlatformDefault(); }
void setLinkPlatform(LinkPlatform* p) { installed = p; }

void resetLinkState() {
    linkState = LinkState();
    for (TransportKind kind : {TransportKind::Ftdi, TransportKind::ComPort}) transportOf(kind)->resyncPending = false;
}

const char* getStickId() { return linkState.stickId; }
const char* getStickType() { return linkState.stickType; }
void setLinkTrace(bool on) { linkState.traceEnabled = on ? 1 : 0; }

void linkTrace(const char* format, ...) {
    if (!linkState.traceEnabled || quiet) return;
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
}

void linkTraceLine(const char* text) {
    if (linkState.traceEnabled && !quiet) std::printf("%s\n", text);
}

void linkPrint(const char* format, ...) {
    if (quiet) return;
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
}

}  // namespace vdx
