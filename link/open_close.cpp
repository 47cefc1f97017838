// Opening the recorded transport at 2,000,000 baud, 8N1, and closing it.
#include "link/link.h"
#include "link/trace.h"

namespace vdx {
namespace {

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
int failComPort(const char* message) {
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
        linkTraceLine("Error opening Dongle.");
        return 0;
    }
    if (!retry([&] { return platform.ftdiSetBaudRate(linkState.ftdiHandle, kBaudRate); })) {
        closeStick();
        linkTraceLine("Error setting baudrate.");
        return 0;
    }
    if (!retry([&] { return platform.ftdiSetDataCharacteristics(linkState.ftdiHandle, 8, 0, 0); })) {
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
            linkPrint("COM port %s not found\n", linkState.portName);
            return 0;
        case PortOpenResult::Error:
            linkPrint("Error opening COM port %s\n", linkState.portName);
            return 0;
        case PortOpenResult::Ok:
            break;
    }
    linkState.comHandle = handle;

    PortSettings settings;
    if (!platform.getPortSettings(handle, &settings)) return failComPort("Error getting serial parameters.");
    settings.baudRate = kBaudRate;
    settings.byteSize = 8;
    settings.parity = 0;    // NOPARITY
    settings.stopBits = 0;  // ONESTOPBIT
    if (!platform.setPortSettings(handle, settings)) return failComPort("Error setting serial parameters.");
    if (!platform.setPortTimeouts(handle, kPortTimeouts)) return failComPort("Error setting timeouts.");
    platform.setPortQueues(handle, 1024, 1024);  // result ignored
    return 1;
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
