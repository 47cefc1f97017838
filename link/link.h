// The RF stick link: discovery, opening and closing, byte transport and the
// receive poll. Link operations return 1 for success and 0 for failure, or a
// byte count with 0 for failure. Diagnostic lines go to standard output; most
// are trace lines, printed only while the trace switch is on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// Finds the stick: a CDC stick first, then FTDI devices, the last match
// winning in each search. A stick whose serial number is `preferredSerial`
// wins over every other match (a lost stick that is back).
int findStick(const char* preferredSerial = nullptr);
int findCdcPort();
// Makes discovery, at start-up and on reconnection, consider only the stick
// with this serial number or on this port ("VX00010042", "/dev/ttyACM1",
// "COM5"); an empty text allows any stick again.
void chooseStick(const std::string& serialOrPort);
const char* getStickId();
const char* getStickType();
void setLinkTrace(bool on);

int openStick();
int openFtdiStick();
int openComPort();
void closeStick();

// Closes the link and runs discovery and opening again, with the rules of
// start-up (prefixes, last match wins, busy ports skipped) and without
// printing anything. 1 when the link is open again; otherwise the link state
// is as before (closed), so the about box keeps the last stick's identity.
int reopenStick();

// What the last discovery saw, to explain to the user why no stick was
// found or opened.
struct PortCandidate {
    std::string portName, instanceId;
    bool stickIdentity = false;  // CDC identity with the stick's serial prefix
    bool chosen = true;          // the stick the user chose, or any stick
    bool probed = false;         // the test-open was made
    PortOpenResult probe = PortOpenResult::Ok;
    std::string error;  // the system's text for a failed test-open
};
struct DiscoveryReport {
    std::vector<PortCandidate> ports;
    std::vector<std::string> ftdiSerials;
};
const DiscoveryReport& lastDiscovery();

// One or two lines (without a trailing newline): what discovery looked for
// and which ports it found and why none was used.
std::string explainStickNotFound();
// One line: which stick could not be opened, and the system's reason.
std::string explainOpenFailure();

// True while the recorded transport has an open handle.
bool linkIsOpen();

int writeFrame(const uint8_t* frame);
uint32_t bytesAvailable();
// Reads up to n bytes, waiting at most kReadWaitBoundMs for them to arrive;
// returns how many were read (0 on failure or with no transport).
int32_t readBytes(uint8_t* buffer, uint32_t n);

// What one run of the receive poll did.
enum class ReceiveResult {
    Idle,     // nothing was queued
    Frame,    // one whole frame was taken off the link and dropped
    Dropped,  // the rest of a frame did not arrive in time: what had come
              // and everything still queued were discarded, so that the
              // next run starts on a frame boundary
    HungUp,   // the link's device went away (the stick was pulled out)
};

// The receive poll: takes at most one stick frame off the link and drops it. A header that is not yet complete is
// waited for like the rest of its frame. The caller arranges the next run.
ReceiveResult receivePoll();

// The one bound on waiting for announced bytes: a run of the receive poll,
// or a readBytes call, returns within it whatever the stick sends or fails
// to send. The longest frame the receive record holds (3 + 509 bytes) takes
// 2.6 ms at 2,000,000 baud; USB adds its own delay (an FTDI chip holds a short
// packet for up to its 16 ms latency timer, a CDC device sends one packet per
// 1 ms frame) and a busy PC may not run the program for some tens of
// milliseconds. 100 ms covers all of that several times over, so a frame the
// stick sends whole is never cut, and a user does not notice a window that
// is busy for that long.
constexpr uint64_t kReadWaitBoundMs = 100;

// Sleeps until the open link has input queued, hangs up, or `timeoutMs`
// pass; a closed link counts as hung up.
WaitResult waitForInput(uint32_t timeoutMs);

// A descriptor of the open link that the GUI toolkit can watch for input,
// or kNoHandle where the platform offers none (input is then polled) or the
// link is not open.
LinkHandle linkWatchHandle();

// Back to the state at program start (for tests).
void resetLinkState();

}  // namespace vdx
