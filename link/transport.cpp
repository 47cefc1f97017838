// Stick frames over the open link, and the receive poll that drains them.
#include <algorithm>

#include "link/link.h"
#include "link/stick_transport.h"
#include "link/trace.h"

namespace vdx {
namespace {

// The receive record: command, length low, length high, 509 payload bytes.
constexpr uint32_t kReceiveRecordSize = 512;
constexpr uint32_t kReceivePayloadRoom = kReceiveRecordSize - 3;

// One read of bytes that are already queued; returns how many it really
// delivered, never more than asked.
uint32_t readQueued(StickTransport& t, uint8_t* buffer, uint32_t n) {
    uint32_t got = 0;
    return t.read(buffer, n, &got) ? std::min(got, n) : 0;
}

// Sleeps until input is queued, the device hangs up or `deadline` passes.
WaitResult waitInput(StickTransport& t, uint64_t deadline) {
    const uint64_t now = linkPlatform().monotonicMs();
    return t.wait(static_cast<uint32_t>(deadline > now ? std::min<uint64_t>(deadline - now, 60000) : 0));
}

enum class Transfer { Complete, Late, HungUp, Failed };

// Reads exactly n bytes, taking them as they arrive, until `deadline`: the
// clock is read on every pass, so a device that hands out a byte or two per
// read cannot hold the caller past the deadline by more than one read.
// `got` counts what the reads really returned. Never reads past n, so bytes
// of the next frame stay queued.
Transfer readWithin(StickTransport& t, uint8_t* buffer, uint32_t n, uint64_t deadline, uint32_t* got) {
    *got = 0;
    while (*got < n) {
        if (linkPlatform().monotonicMs() >= deadline) return Transfer::Late;
        uint32_t queued = 0;
        if (t.queued(&queued) && queued > 0) {
            const uint32_t r = readQueued(t, buffer + *got, std::min(queued, n - *got));
            if (r == 0) return Transfer::Failed;  // bytes announced, none delivered
            *got += r;
            continue;
        }
        if (waitInput(t, deadline) == WaitResult::HungUp) return Transfer::HungUp;
    }
    return Transfer::Complete;
}

// The transport of the open link, or nullptr.
StickTransport* openTransport() {
    StickTransport* t = activeTransport();
    return t != nullptr && t->handle() != kNoHandle ? t : nullptr;
}

}  // namespace

bool linkIsOpen() { return openTransport() != nullptr; }

// A closed link (a stick that was lost) is not handed to the driver: only the
// keeper's quiet reconnection touches the stick then.
int writeFrame(const uint8_t* frame) {
    StickTransport* t = openTransport();
    if (t == nullptr) return 0;
    const uint32_t count = 3u + frame[1] + 256u * frame[2];
    uint32_t written = 0;
    if (t->write(frame, count, &written) && written == count) return 1;
    linkTraceLine("ERROR: Could not write to device.");
    linkTrace("Tried to write %d bytes, succeeded to write %ld.\n", static_cast<int>(count),
              static_cast<long>(written));
    return 0;
}

uint32_t bytesAvailable() {
    StickTransport* t = openTransport();
    uint32_t count = 0;
    return t != nullptr && t->queued(&count) ? count : 0;
}

int32_t readBytes(uint8_t* buffer, uint32_t n) {
    StickTransport* t = openTransport();
    if (t == nullptr) return 0;
    uint32_t got = 0;
    readWithin(*t, buffer, n, linkPlatform().monotonicMs() + kReadWaitBoundMs, &got);
    return static_cast<int32_t>(got);
}

ReceiveResult receivePoll() {
    StickTransport* t = openTransport();
    if (t == nullptr) return ReceiveResult::Idle;
    LinkPlatform& platform = linkPlatform();
    if (bytesAvailable() == 0) {
        t->resyncPending = false;
        return waitInput(*t, platform.monotonicMs()) == WaitResult::HungUp ? ReceiveResult::HungUp
                                                                           : ReceiveResult::Idle;
    }
    // one deadline for the whole run, header included
    const uint64_t deadline = platform.monotonicMs() + kReadWaitBoundMs;
    if (t->resyncPending) {
        t->resyncPending = !t->discardQueued(deadline);
        return ReceiveResult::Dropped;
    }

    uint8_t record[kReceiveRecordSize];
    uint32_t got = 0;
    Transfer result = readWithin(*t, record, 3, deadline, &got);
    // A payload larger than the record's 509 bytes is read in pieces of that
    // size into the same area and discarded; nothing is written past the
    // record.
    for (uint32_t n = result == Transfer::Complete ? record[1] + 256u * record[2] : 0;
         n > 0 && result == Transfer::Complete;) {
        result = readWithin(*t, record + 3, std::min(n, kReceivePayloadRoom), deadline, &got);
        n -= got;
    }
    switch (result) {
        case Transfer::Complete:
            return ReceiveResult::Frame;  // dropped: nothing is decoded, answered or shown
        case Transfer::HungUp:
            return ReceiveResult::HungUp;
        case Transfer::Late:
        case Transfer::Failed:
            break;
    }
    // the next run starts on a frame boundary instead of reading payload as
    // headers
    t->resyncPending = !t->discardQueued(deadline);
    return ReceiveResult::Dropped;
}

WaitResult waitForInput(uint32_t timeoutMs) {
    StickTransport* t = openTransport();
    if (t == nullptr) return WaitResult::HungUp;
    return waitInput(*t, linkPlatform().monotonicMs() + timeoutMs);
}

LinkHandle linkWatchHandle() {
    StickTransport* t = openTransport();
    return t == nullptr ? kNoHandle : linkPlatform().watchableHandle(t->handle());
}

}  // namespace vdx
