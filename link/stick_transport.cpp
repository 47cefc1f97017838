// The serial-port and FTDI transports of the link, over the platform seam.
#include "link/stick_transport.h"

#include <algorithm>

#include "link/link.h"
#include "link/trace.h"

namespace vdx {
namespace {

std::string openFailure;

constexpr uint32_t kBaudRate = 2000000;
constexpr int kFtdiAttempts = 4;
constexpr uint32_t kDiscardChunk = 512;
// At most this much is read and dropped in one discard, so that a stick
// that never stops sending cannot hold the poll.
constexpr uint32_t kMaxDiscard = 65536;

// COMMTIMEOUTS: reads return at once with what is queued; a write may take
// 10 ms per byte plus 50 ms.
constexpr PortTimeouts kPortTimeouts = {0xFFFFFFFFu, 0, 0, 10, 50};

void noteFailure(const std::string& what, const std::string& reason) { openFailure = what + " (" + reason + ")"; }

class ComPortTransport : public StickTransport {
public:
    int open() override {
        LinkPlatform& platform = linkPlatform();
        close();
        LinkHandle h = kNoHandle;
        switch (platform.openPort(linkState.portName, &h)) {
            case PortOpenResult::NotFound:
                noteFailure("the port is gone", platform.lastErrorText());
                linkPrint("COM port %s not found\n", linkState.portName);
                return 0;
            case PortOpenResult::Busy:
                noteFailure("busy, held by another program", platform.lastErrorText());
                linkPrint("Error opening COM port %s\n", linkState.portName);
                return 0;
            case PortOpenResult::Error:
                noteFailure("the port did not open", platform.lastErrorText());
                linkPrint("Error opening COM port %s\n", linkState.portName);
                return 0;
            case PortOpenResult::Ok:
                break;
        }
        linkState.comHandle = h;

        PortSettings settings;
        if (!platform.getPortSettings(h, &settings))
            return fail("Error getting serial parameters.", "cannot read its settings");
        settings.baudRate = kBaudRate;
        settings.byteSize = 8;
        settings.parity = 0;    // NOPARITY
        settings.stopBits = 0;  // ONESTOPBIT
        if (!platform.setPortSettings(h, settings))
            return fail("Error setting serial parameters.", "cannot set 2,000,000 baud 8N1");
        if (!platform.setPortTimeouts(h, kPortTimeouts))
            return fail("Error setting timeouts.", "cannot set its time-outs");
        platform.setPortQueues(h, 1024, 1024);  // result ignored
        return 1;
    }

    void close() override {
        if (linkState.comHandle != kNoHandle) linkPlatform().portClose(linkState.comHandle);
        linkState.comHandle = kNoHandle;
        resyncPending = false;
    }
    LinkHandle handle() const override { return linkState.comHandle; }

    bool queued(uint32_t* count) override { return linkPlatform().portBytesWaiting(linkState.comHandle, count); }
    bool read(uint8_t* buffer, uint32_t n, uint32_t* got) override {
        return linkPlatform().portRead(linkState.comHandle, buffer, n, got);
    }
    bool write(const uint8_t* buffer, uint32_t n, uint32_t* written) override {
        return linkPlatform().portWrite(linkState.comHandle, buffer, n, written);
    }
    WaitResult wait(uint32_t timeoutMs) override {
        return linkPlatform().portWaitInput(linkState.comHandle, timeoutMs);
    }
    bool discardQueued(uint64_t) override {
        linkPlatform().portPurgeInput(linkState.comHandle);
        return true;
    }

    std::string place() const override { return std::string(" on ") + linkState.portName; }
    std::string failurePlace() const override { return place(); }

private:
    // A failed configuration step: its line, the port closed, result 0.
    int fail(const char* message, const char* reason) {
        noteFailure(reason, linkPlatform().lastErrorText());
        linkPrint("%s\n", message);
        close();
        return 0;
    }
};

class FtdiTransport : public StickTransport {
public:
    int open() override {
        if (linkState.stickFound != 1) return 0;
        LinkPlatform& platform = linkPlatform();
        if (!retry("the FTDI device did not open",
                   [&] { return platform.ftdiOpenBySerial(linkState.stickId, &linkState.ftdiHandle); })) {
            linkState.ftdiHandle = kNoHandle;
            linkTraceLine("Error opening Dongle.");
            return 0;
        }
        if (!retry("cannot set 2,000,000 baud",
                   [&] { return platform.ftdiSetBaudRate(linkState.ftdiHandle, kBaudRate); })) {
            close();
            linkTraceLine("Error setting baudrate.");
            return 0;
        }
        if (!retry("cannot set 8N1",
                   [&] { return platform.ftdiSetDataCharacteristics(linkState.ftdiHandle, 8, 0, 0); })) {
            close();
            linkTraceLine("Error setting Data characteristics.");
            return 0;
        }
        return 1;
    }

    void close() override {
        if (linkState.ftdiHandle != kNoHandle) linkPlatform().ftdiClose(linkState.ftdiHandle);
        linkState.ftdiHandle = kNoHandle;
        resyncPending = false;
    }
    LinkHandle handle() const override { return linkState.ftdiHandle; }

    bool queued(uint32_t* count) override {
        uint32_t tx = 0, event = 0;
        return linkPlatform().ftdiGetStatus(linkState.ftdiHandle, count, &tx, &event) == 0;
    }
    bool read(uint8_t* buffer, uint32_t n, uint32_t* got) override {
        return linkPlatform().ftdiRead(linkState.ftdiHandle, buffer, n, got) == 0;
    }
    bool write(const uint8_t* buffer, uint32_t n, uint32_t* written) override {
        return linkPlatform().ftdiWrite(linkState.ftdiHandle, buffer, n, written) == 0;
    }
    WaitResult wait(uint32_t timeoutMs) override {
        return linkPlatform().ftdiWaitInput(linkState.ftdiHandle, timeoutMs);
    }
    // There is no purge call among the bound D2XX ordinals: what is queued
    // is read and dropped, at least one read's worth, more while time is left.
    bool discardQueued(uint64_t deadline) override {
        uint8_t scratch[kDiscardChunk];
        for (uint32_t dropped = 0, n = 0, got = 0; dropped < kMaxDiscard; dropped += got) {
            if (!queued(&n) || n == 0) return true;
            if (dropped > 0 && linkPlatform().monotonicMs() >= deadline) return false;
            if (!read(scratch, std::min(n, kDiscardChunk), &got) || got == 0) return true;
        }
        return true;
    }

    std::string place() const override { return ""; }
    std::string failurePlace() const override { return " (FTDI)"; }

private:
    // Up to four attempts, one straight after the other; true on the first
    // success. A failure keeps the D2XX status of the last attempt.
    template <typename Call>
    bool retry(const char* what, Call call) {
        int status = 0;
        for (int attempt = 0; attempt < kFtdiAttempts; ++attempt)
            if ((status = call()) == 0) return true;
        const std::string detail = linkPlatform().ftdiErrorDetail();
        noteFailure(what, ftdiStatusName(status) + (detail.empty() ? "" : ": " + detail));
        return false;
    }
};

ComPortTransport comPort;
FtdiTransport ftdi;

}  // namespace

StickTransport* transportOf(TransportKind kind) {
    switch (kind) {
        case TransportKind::Ftdi:
            return &ftdi;
        case TransportKind::ComPort:
            return &comPort;
        case TransportKind::None:
            break;
    }
    return nullptr;
}

const std::string& lastOpenFailure() { return openFailure; }

std::string ftdiStatusName(int status) {
    static const char* const kNames[] = {"FT_OK",
                                         "FT_INVALID_HANDLE",
                                         "FT_DEVICE_NOT_FOUND",
                                         "FT_DEVICE_NOT_OPENED",
                                         "FT_IO_ERROR",
                                         "FT_INSUFFICIENT_RESOURCES",
                                         "FT_INVALID_PARAMETER",
                                         "FT_INVALID_BAUD_RATE",
                                         "FT_DEVICE_NOT_OPENED_FOR_ERASE",
                                         "FT_DEVICE_NOT_OPENED_FOR_WRITE",
                                         "FT_FAILED_TO_WRITE_DEVICE",
                                         "FT_EEPROM_READ_FAILED",
                                         "FT_EEPROM_WRITE_FAILED",
                                         "FT_EEPROM_ERASE_FAILED",
                                         "FT_EEPROM_NOT_PRESENT",
                                         "FT_EEPROM_NOT_PROGRAMMED",
                                         "FT_INVALID_ARGS",
                                         "FT_NOT_SUPPORTED",
                                         "FT_OTHER_ERROR",
                                         "FT_DEVICE_LIST_NOT_READY"};
    if (status >= 0 && status < static_cast<int>(sizeof kNames / sizeof kNames[0])) return kNames[status];
    return "FT_STATUS " + std::to_string(status);
}

}  // namespace vdx
