// The RF stick link: discovery, opening and closing, byte transport and the
// receive poll. Link operations return 1 for success and 0 for failure, or a
// byte count with 0 for failure. Diagnostic lines go to standard output; most
// are trace lines, printed only while the trace switch is on.
#pragma once

#include <cstdint>

#include "link/platform.h"

namespace vdx {

enum class TransportKind : int32_t { None = 0, Ftdi = 1, ComPort = 2 };

struct LinkState {
    TransportKind transportKind = TransportKind::None;
    uint8_t traceEnabled = 0;
    LinkHandle comHandle = kNoHandle;
    LinkHandle ftdiHandle = kNoHandle;
    int32_t stickFound = 0;
    char portName[64] = {};   // cut to 63 characters
    char stickType[64] = {};  // cut to 63 characters
    char stickId[16] = {};    // cut to 15 characters
};

extern LinkState linkState;

// Serial-number prefixes that mark the RF stick, in one place.
struct StickPrefixes {
    const char* ftdi[2];
    const char* cdc;
};
extern const StickPrefixes kStickPrefixes;
// USB identity of the CDC stick as Windows writes its instance identifier.
extern const char kCdcInstancePrefix[];  // "USB\VID_10C4&PID_0003\"

int findStick();
int findCdcPort();
const char* getStickId();
const char* getStickType();
void setLinkTrace(bool on);

int openStick();
int openFtdiStick();
int openComPort();
void closeStick();

int writeFrame(const uint8_t* frame);
uint32_t bytesAvailable();
int32_t readBytes(uint8_t* buffer, uint32_t n);

// Steps 1 to 4 of the receive poll: takes at most one stick frame off the
// link and drops it. The caller re-arms its 1 ms timer.
void receivePoll();

// How long readBytes waits for bytes that were announced but have not all
// arrived (for example after the stick was pulled out) before it gives up and
// returns 0: 100 ms, long enough for any frame at 2 Mbaud, short enough that
// the window never freezes noticeably.
constexpr uint64_t kReadWaitBoundMs = 100;

// Back to the state at program start (for tests).
void resetLinkState();

}  // namespace vdx
