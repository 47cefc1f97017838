// Stick frames over the open link, and the receive poll that drains them.
#include <algorithm>
#include <cstring>

#include "link/link.h"
#include "link/trace.h"

namespace vdx {
namespace {

// The receive record: command, length low, length high, 509 payload bytes.
constexpr uint32_t kReceiveRecordSize = 512;
constexpr uint32_t kReceivePayloadRoom = kReceiveRecordSize - 3;
// An FTDI device has no purge call among the bound ordinals, so a broken
// frame's rest is read and dropped instead; at most this much, so that a
// stick that never stops sending cannot hold the poll.
constexpr uint32_t kMaxDiscard = 65536;

}  // namespace

bool linkIsOpen() {
    switch (linkState.transportKind) {
        case TransportKind::Ftdi:
            return linkState.ftdiHandle != kNoHandle;
        case TransportKind::ComPort:
            return linkState.comHandle != kNoHandle;
        case TransportKind::None:
            break;
    }
    return false;
}

namespace {

// One read of bytes that are already queued; returns how many it really
// delivered, never more than asked.
uint32_t readQueued(uint8_t* buffer, uint32_t n) {
    LinkPlatform& platform = linkPlatform();
    uint32_t got = 0;
    bool ok = false;
    switch (linkState.transportKind) {
        case TransportKind::Ftdi:
            ok = platform.ftdiRead(linkState.ftdiHandle, buffer, n, &got) == 0;
            break;
        case TransportKind::ComPort:
            ok = platform.portRead(linkState.comHandle, buffer, n, &got);
            break;
        case TransportKind::None:
            break;
    }
    return ok ? std::min(got, n) : 0;
}

// Sleeps until input is queued, the device hangs up or `deadline` passes.
WaitResult waitInput(uint64_t deadline) {
    LinkPlatform& platform = linkPlatform();
    const uint64_t now = platform.monotonicMs();
    const uint32_t left = static_cast<uint32_t>(deadline > now ? std::min<uint64_t>(deadline - now, 60000) : 0);
    switch (linkState.transportKind) {
        case TransportKind::Ftdi:
            return platform.ftdiWaitInput(linkState.ftdiHandle, left);
        case TransportKind::ComPort:
            return platform.portWaitInput(linkState.comHandle, left);
        case TransportKind::None:
            break;
    }
    return WaitResult::HungUp;
}

enum class Transfer { Complete, Late, HungUp, Failed };

// Reads exactly n bytes, taking them as they arrive, until `deadline`.
// `got` counts what the reads really returned. Never reads past n, so bytes
// of the next frame stay queued.
Transfer readWithin(uint8_t* buffer, uint32_t n, uint64_t deadline, uint32_t* got) {
    *got = 0;
    while (*got < n) {
        const uint32_t queued = bytesAvailable();
        if (queued > 0) {
            const uint32_t r = readQueued(buffer + *got, std::min(queued, n - *got));
            if (r == 0) return Transfer::Failed;  // bytes announced, none delivered
            *got += r;
            continue;
        }
        if (linkPlatform().monotonicMs() >= deadline) return Transfer::Late;
        if (waitInput(deadline) == WaitResult::HungUp) return Transfer::HungUp;
    }
    return Transfer::Complete;
}

// Drops everything queued in the receive direction, so that the next poll
// starts on a frame boundary instead of reading payload as headers.
void discardQueued() {
    if (linkState.transportKind == TransportKind::ComPort) {
        linkPlatform().portPurgeInput(linkState.comHandle);
        return;
    }
    uint8_t scratch[kReceiveRecordSize];
    for (uint32_t dropped = 0; dropped < kMaxDiscard;) {
        const uint32_t queued = bytesAvailable();
        if (queued == 0) return;
        const uint32_t r = readQueued(scratch, std::min<uint32_t>(queued, sizeof scratch));
        if (r == 0) return;
        dropped += r;
    }
}

}  // namespace

int writeFrame(const uint8_t* frame) {
    const uint32_t count = 3u + frame[1] + 256u * frame[2];
    LinkPlatform& platform = linkPlatform();
    uint32_t written = 0;
    bool ok = false;
    switch (linkState.transportKind) {
        case TransportKind::Ftdi:
            ok = platform.ftdiWrite(linkState.ftdiHandle, frame, count, &written) == 0 && written == count;
            break;
        case TransportKind::ComPort:
            ok = platform.portWrite(linkState.comHandle, frame, count, &written) && written == count;
            break;
        case TransportKind::None:
            return 0;
    }
    if (ok) return 1;
    linkTraceLine("ERROR: Could not write to device.");
    linkTrace("Tried to write %d bytes, succeeded to write %ld.\n", static_cast<int>(count),
              static_cast<long>(written));
    return 0;
}

uint32_t bytesAvailable() {
    LinkPlatform& platform = linkPlatform();
    uint32_t count = 0;
    switch (linkState.transportKind) {
        case TransportKind::Ftdi: {
            uint32_t tx = 0, event = 0;
            return platform.ftdiGetStatus(linkState.ftdiHandle, &count, &tx, &event) == 0 ? count : 0;
        }
        case TransportKind::ComPort:
            return platform.portBytesWaiting(linkState.comHandle, &count) ? count : 0;
        case TransportKind::None:
            break;
    }
    return 0;
}

int32_t readBytes(uint8_t* buffer, uint32_t n) {
    if (!linkIsOpen()) return 0;
    uint32_t got = 0;
    readWithin(buffer, n, linkPlatform().monotonicMs() + kReadWaitBoundMs, &got);
    return static_cast<int32_t>(got);
}

ReceiveResult receivePoll() {
    if (!linkIsOpen()) return ReceiveResult::Idle;
    LinkPlatform& platform = linkPlatform();
    if (bytesAvailable() == 0)
        return waitInput(platform.monotonicMs()) == WaitResult::HungUp ? ReceiveResult::HungUp : ReceiveResult::Idle;

    // one deadline for the whole frame, header included
    const uint64_t deadline = platform.monotonicMs() + kReadWaitBoundMs;
    uint8_t record[kReceiveRecordSize];
    uint32_t got = 0;
    Transfer t = readWithin(record, 3, deadline, &got);
    // A payload larger than the record's 509 bytes is read in pieces of that
    // size into the same area and discarded; nothing is written past the
    // record.
    for (uint32_t n = t == Transfer::Complete ? record[1] + 256u * record[2] : 0; n > 0 && t == Transfer::Complete;) {
        t = readWithin(record + 3, std::min(n, kReceivePayloadRoom), deadline, &got);
        n -= got;
    }
    switch (t) {
        case Transfer::Complete:
            return ReceiveResult::Frame;  // dropped: nothing is decoded, answered or shown
        case Transfer::HungUp:
            return ReceiveResult::HungUp;
        case Transfer::Late:
        case Transfer::Failed:
            break;
    }
    discardQueued();
    return ReceiveResult::Dropped;
}

WaitResult waitForInput(uint32_t timeoutMs) {
    if (!linkIsOpen()) return WaitResult::HungUp;
    return waitInput(linkPlatform().monotonicMs() + timeoutMs);
}

LinkHandle linkWatchHandle() {
    if (!linkIsOpen()) return kNoHandle;
    const LinkHandle h = linkState.transportKind == TransportKind::Ftdi ? linkState.ftdiHandle : linkState.comHandle;
    return linkPlatform().watchableHandle(h);
}

}  // namespace vdx
