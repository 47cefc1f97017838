// Opening the recorded transport at 2,000,000 baud, 8N1, and closing it.
#include <string>

#include "link/link.h"
#include "link/trace.h"

namespace vdx {
namespace {

// Why the last attempt to open the link failed, in the user's words.
std::string openFailure;

void noteFailure(const std::string& what) { openFailure = what + " (" + linkPlatform().lastErrorText() + ")"; }

constexpr uint32_t kBaudRate = 2000000;
constexpr int kFtdiAttempts = 4;

// COMMTIMEOUTS: reads return at once with what is queued; a write may take
// 10 ms per byte plus 50 ms.
constexpr PortTimeouts kPortTimeouts = {0xFFFFFFFFu, 0, 0, 10, 50};

// Up to four attempts, one straight after the other; true on the first success.
template <typename Call>
bool retry(Call call) {
    for (int attempt = 0; attempt < kFtdiAttempts; ++attempt)
        if (call() == 0) return true;
    return false;
}

// A failed step of openComPort: its line, the port closed, result 0.
int failComPort(const char* message, const char* reason) {
    noteFailure(reason);
    linkPrint("%s\n", message);
    linkPlatform().portClose(linkState.comHandle);
    linkState.comHandle = kNoHandle;
    return 0;
}

}  // namespace

int openStick() {
    switch (linkState.transportKind) {
        case TransportKind::Ftdi:
            return openFtdiStick();
        case TransportKind::ComPort:
            return openComPort();
        case TransportKind::None:
            break;
    }
    return 0;
}

int openFtdiStick() {
    if (linkState.stickFound != 1) return 0;
    LinkPlatform& platform = linkPlatform();
    if (!retry([&] { return platform.ftdiOpenBySerial(linkState.stickId, &linkState.ftdiHandle); })) {
        linkState.ftdiHandle = kNoHandle;
        noteFailure("the FTDI device did not open");
        linkTraceLine("Error opening Dongle.");
        return 0;
    }
    if (!retry([&] { return platform.ftdiSetBaudRate(linkState.ftdiHandle, kBaudRate); })) {
        noteFailure("cannot set 2,000,000 baud");
        closeStick();
        linkTraceLine("Error setting baudrate.");
        return 0;
    }
    if (!retry([&] { return platform.ftdiSetDataCharacteristics(linkState.ftdiHandle, 8, 0, 0); })) {
        noteFailure("cannot set 8N1");
        closeStick();
        linkTraceLine("Error setting Data characteristics.");
        return 0;
    }
    return 1;
}

int openComPort() {
    LinkPlatform& platform = linkPlatform();
    if (linkState.comHandle != kNoHandle) {
        platform.portClose(linkState.comHandle);
        linkState.comHandle = kNoHandle;
    }
    LinkHandle handle = kNoHandle;
    switch (platform.openPort(linkState.portName, &handle)) {
        case PortOpenResult::NotFound:
            noteFailure("the port is gone");
            linkPrint("COM port %s not found\n", linkState.portName);
            return 0;
        case PortOpenResult::Busy:
            noteFailure("busy, held by another program");
            linkPrint("Error opening COM port %s\n", linkState.portName);
            return 0;
        case PortOpenResult::Error:
            noteFailure("the port did not open");
            linkPrint("Error opening COM port %s\n", linkState.portName);
            return 0;
        case PortOpenResult::Ok:
            break;
    }
    linkState.comHandle = handle;

    PortSettings settings;
    if (!platform.getPortSettings(handle, &settings))
        return failComPort("Error getting serial parameters.", "cannot read its settings");
    settings.baudRate = kBaudRate;
    settings.byteSize = 8;
    settings.parity = 0;    // NOPARITY
    settings.stopBits = 0;  // ONESTOPBIT
    if (!platform.setPortSettings(handle, settings))
        return failComPort("Error setting serial parameters.", "cannot set 2,000,000 baud 8N1");
    if (!platform.setPortTimeouts(handle, kPortTimeouts))
        return failComPort("Error setting timeouts.", "cannot set its time-outs");
    platform.setPortQueues(handle, 1024, 1024);  // result ignored
    return 1;
}

int reopenStick() {
    closeStick();
    const LinkState before = linkState;  // closed: no handles
    LinkQuiet quiet;
    linkState.transportKind = TransportKind::None;
    linkState.stickFound = 0;
    linkState.portName[0] = linkState.stickId[0] = linkState.stickType[0] = '\0';
    if (findStick() == 1 && openStick() == 1) return 1;
    closeStick();
    linkState = before;
    return 0;
}

std::string explainOpenFailure() {
    std::string where = linkState.transportKind == TransportKind::Ftdi ? std::string(" (FTDI)")
                                                                       : std::string(" on ") + linkState.portName;
    return std::string("cannot open USB RF stick ") + linkState.stickId + where + ": " + openFailure;
}

void closeStick() {
    LinkPlatform& platform = linkPlatform();
    switch (linkState.transportKind) {
        case TransportKind::Ftdi:
            if (linkState.ftdiHandle != kNoHandle) platform.ftdiClose(linkState.ftdiHandle);
            linkState.ftdiHandle = kNoHandle;
            break;
        case TransportKind::ComPort:
            if (linkState.comHandle != kNoHandle) platform.portClose(linkState.comHandle);
            linkState.comHandle = kNoHandle;
            break;
        case TransportKind::None:
            break;
    }
}

}  // namespace vdx
