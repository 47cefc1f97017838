// Stick frames over the open link, and the receive poll that drains them.
#include <cstring>

#include "link/link.h"
#include "link/trace.h"

namespace vdx {
namespace {

// The receive record: command, length low, length high, 509 payload bytes.
constexpr uint32_t kReceiveRecordSize = 512;
constexpr uint32_t kReceivePayloadRoom = kReceiveRecordSize - 3;

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
    LinkPlatform& platform = linkPlatform();
    uint32_t got = 0;
    switch (linkState.transportKind) {
        case TransportKind::Ftdi:
            // the backend bounds the wait (kReadWaitBoundMs)
            return platform.ftdiRead(linkState.ftdiHandle, buffer, n, &got) == 0 ? static_cast<int32_t>(got) : 0;
        case TransportKind::ComPort: {
            // reads return at once, so wait until n bytes are queued, but no
            // longer than the bound: a stick pulled out mid-frame must not
            // hold the GUI thread
            const uint64_t start = platform.monotonicMs();
            uint32_t queued = 0;
            while (n > 0 && (!platform.portBytesWaiting(linkState.comHandle, &queued) || queued < n)) {
                if (platform.monotonicMs() - start >= kReadWaitBoundMs) return 0;
            }
            return platform.portRead(linkState.comHandle, buffer, n, &got) ? static_cast<int32_t>(got) : 0;
        }
        case TransportKind::None:
            break;
    }
    return 0;
}

void receivePoll() {
    if (bytesAvailable() <= 2) return;
    uint8_t record[kReceiveRecordSize];
    uint8_t command = 0, low = 0, high = 0;
    readBytes(&command, 1);
    readBytes(&low, 1);
    readBytes(&high, 1);
    // A payload larger than the record's 509 bytes is read in pieces of that
    // size into the same area and discarded; nothing is written past the
    // record. A piece that never arrives ends the frame.
    for (uint32_t n = high * 256u + low; n > 0;) {
        const uint32_t piece = n < kReceivePayloadRoom ? n : kReceivePayloadRoom;
        if (readBytes(record + 3, piece) == 0) break;
        n -= piece;
    }
    record[0] = command;
    record[1] = low;
    record[2] = high;
    // the frame is dropped: nothing is decoded, answered or shown
}

}  // namespace vdx
