// The two ways the link reaches the stick: a serial port (a CDC stick, or
// an FTDI stick where its driver offers a port) and the FTDI D2XX calls.
// Discovery records which one it found; every operation on the open link
// goes through that one choice, so nothing above this file asks which
// transport is in use.
#pragma once

#include <cstdint>
#include <string>

#include "link/link.h"
#include "link/platform.h"

namespace vdx {

class StickTransport {
public:
    virtual ~StickTransport() = default;

    // Opens and configures the recorded stick at 2,000,000 baud, 8N1; 1 on
    // success. On failure the handle is closed and the reason kept for
    // explainOpenFailure.
    virtual int open() = 0;
    // Closes the handle if it is open; closing twice does nothing.
    virtual void close() = 0;
    virtual LinkHandle handle() const = 0;

    // Bytes queued in the receive direction; false when the query failed.
    virtual bool queued(uint32_t* count) = 0;
    // One read of bytes that are already queued.
    virtual bool read(uint8_t* buffer, uint32_t n, uint32_t* got) = 0;
    virtual bool write(const uint8_t* buffer, uint32_t n, uint32_t* written) = 0;
    // Sleeps until input is queued, the device hangs up or `timeoutMs` pass.
    virtual WaitResult wait(uint32_t timeoutMs) = 0;
    // Drops everything queued in the receive direction, or as much as it
    // can before `deadline`; false when bytes were left for the next run.
    virtual bool discardQueued(uint64_t deadline) = 0;
    // A discard that ran out of time goes on at the next run of the poll,
    // so that no run reads payload as a frame header.
    bool resyncPending = false;

    // Where the stick is, for the lines the user reads: " on /dev/ttyACM0"
    // for a port, nothing for an FTDI device; and the same for a stick that
    // could not be opened.
    virtual std::string place() const = 0;
    virtual std::string failurePlace() const = 0;
};

// The transport of a kind (nullptr for None), and the one that
// linkState.transportKind names.
StickTransport* transportOf(TransportKind kind);
inline StickTransport* activeTransport() { return transportOf(linkState.transportKind); }

// Why the last attempt to open the link failed, in the user's words.
const std::string& lastOpenFailure();

}  // namespace vdx
