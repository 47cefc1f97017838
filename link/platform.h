// The operating-system calls the stick link needs, behind one narrow
// interface. The build links one backend per system (linkPlatformDefault);
// tests install a fake with setLinkPlatform. Everything above this interface
// (prefix matching, last match wins, text cuts, retries, the frame envelope,
// bounded waits, one frame per poll) is platform-independent.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vdx {

// A port or device handle; kNoHandle when not set. On Linux a file
// descriptor, elsewhere the system's handle value.
using LinkHandle = intptr_t;
constexpr LinkHandle kNoHandle = -1;

// One member of the serial-port device class.
struct SerialPortInfo {
    // "USB\VID_vvvv&PID_pppp\serial" for a USB device, hex digits upper case
    std::string instanceId;
    bool hasDeviceKey = true;  // the device's registry key (port name) could be opened
    std::string portName;      // e.g. "COM3" or "/dev/ttyACM0"
    std::string description;   // device description / USB product string
};

// Busy: another program holds the port (its exclusive open or lock).
enum class PortOpenResult { Ok, NotFound, Error, Busy };

// What a wait for received bytes ended with. HungUp: the device went away
// (the stick was pulled out) or the handle is no longer usable.
enum class WaitResult { Ready, TimedOut, HungUp };

// The four line settings the link changes; `native` carries every other
// driver setting unchanged from get to set.
struct PortSettings {
    uint32_t baudRate = 0;
    uint8_t byteSize = 0;
    uint8_t parity = 0;    // 0 none
    uint8_t stopBits = 0;  // 0 one stop bit
    std::vector<uint8_t> native;
};

// COMMTIMEOUTS, milliseconds.
struct PortTimeouts {
    uint32_t readInterval, readMultiplier, readConstant, writeMultiplier, writeConstant;
};

// The 100-byte record of the FTDI device-list call.
struct DeviceListEntry {
    uint32_t flags, type, id, locId;
    char serialNumber[16];
    char description[64];
    uint32_t handle;
};
static_assert(sizeof(DeviceListEntry) == 100, "D2XX device list record");

class LinkPlatform {
public:
    virtual ~LinkPlatform() = default;

    // serial-port search
    virtual bool findPortsClass() = 0;
    virtual bool listSerialPorts(std::vector<SerialPortInfo>& ports) = 0;
    // Opens the port exclusively and closes it again at once.
    virtual PortOpenResult probePort(const std::string& portName) = 0;

    // COM port
    virtual PortOpenResult openPort(const std::string& portName, LinkHandle* handle) = 0;
    virtual bool getPortSettings(LinkHandle h, PortSettings* settings) = 0;
    virtual bool setPortSettings(LinkHandle h, const PortSettings& settings) = 0;
    virtual bool setPortTimeouts(LinkHandle h, const PortTimeouts& timeouts) = 0;
    virtual bool setPortQueues(LinkHandle h, uint32_t in, uint32_t out) = 0;
    virtual bool portBytesWaiting(LinkHandle h, uint32_t* count) = 0;
    virtual bool portRead(LinkHandle h, uint8_t* buffer, uint32_t n, uint32_t* got) = 0;
    // Writes within the write time-out (10 ms per byte + 50 ms).
    virtual bool portWrite(LinkHandle h, const uint8_t* buffer, uint32_t n, uint32_t* written) = 0;
    virtual void portClose(LinkHandle h) = 0;
    // Sleeps until bytes are queued on the port, the port hangs up, or
    // `timeoutMs` pass; returns at once when bytes are already queued. Never
    // a busy loop: the kernel's poll where the port has a descriptor, short
    // sleeps between queue checks elsewhere.
    virtual WaitResult portWaitInput(LinkHandle h, uint32_t timeoutMs) = 0;
    // Discards every received byte still queued (PurgeComm PURGE_RXCLEAR,
    // tcflush TCIFLUSH).
    virtual bool portPurgeInput(LinkHandle h) = 0;

    // FTDI D2XX equivalents; each returns a status, 0 meaning success.
    virtual int ftdiCreateDeviceInfoList(uint32_t* count) = 0;
    virtual int ftdiGetDeviceInfoList(DeviceListEntry* list, uint32_t* count) = 0;
    virtual int ftdiOpenBySerial(const char* serial, LinkHandle* handle) = 0;
    virtual int ftdiSetBaudRate(LinkHandle h, uint32_t baud) = 0;
    virtual int ftdiSetDataCharacteristics(LinkHandle h, uint8_t wordLength, uint8_t stopBits, uint8_t parity) = 0;
    virtual int ftdiGetStatus(LinkHandle h, uint32_t* rx, uint32_t* tx, uint32_t* event) = 0;
    virtual int ftdiRead(LinkHandle h, uint8_t* buffer, uint32_t n, uint32_t* got) = 0;
    virtual int ftdiWrite(LinkHandle h, const uint8_t* buffer, uint32_t n, uint32_t* written) = 0;
    virtual int ftdiClose(LinkHandle h) = 0;
    // The same wait as portWaitInput for an FTDI device.
    virtual WaitResult ftdiWaitInput(LinkHandle h, uint32_t timeoutMs) = 0;

    // A descriptor of the open link that an event loop can watch for input
    // (the tty's own on Linux), or kNoHandle where input can only be polled.
    virtual LinkHandle watchableHandle(LinkHandle h) = 0;
    // The operating system's text for the error of the last failed call.
    virtual std::string lastErrorText() = 0;
    // What the backend knows about the last failed FTDI call beyond its
    // D2XX status (empty where the library tells nothing more).
    virtual std::string ftdiErrorDetail() { return ""; }

    // A monotonic clock in milliseconds, for bounded waits.
    virtual uint64_t monotonicMs() = 0;
    // Sleeps `ms` milliseconds on that clock (a signal may end it early).
    virtual void sleepMs(uint32_t ms) = 0;
};

// The D2XX name of an FTDI status ("FT_DEVICE_NOT_FOUND"), for the user.
std::string ftdiStatusName(int status);

// The backend the build chose for this system.
LinkPlatform& linkPlatformDefault();
// The platform in use; the default unless a test installed another.
LinkPlatform& linkPlatform();
// Installs `p` (nullptr restores the default).
void setLinkPlatform(LinkPlatform* p);

}  // namespace vdx
