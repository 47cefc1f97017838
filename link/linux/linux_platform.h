// The Linux backend of the link: serial ports and FTDI devices found through
// sysfs, opened as tty devices with an exclusive lock, in raw mode.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "link/platform.h"

namespace vdx {

// A tty device with the identity of the USB device it belongs to.
struct UsbTty {
    std::string name;  // "ttyACM0"
    std::string vendorId, productId, serial, product;
};

// USB ttys below `sysRoot`/class/tty, sorted by name.
std::vector<UsbTty> scanUsbTtys(const std::string& sysRoot);

class LinuxPlatform : public LinkPlatform {
public:
    explicit LinuxPlatform(std::string sysRoot = "/sys", std::string devRoot = "/dev");

    bool findPortsClass() override;
    bool listSerialPorts(std::vector<SerialPortInfo>& ports) override;
    PortOpenResult probePort(const std::string& portName) override;

    PortOpenResult openPort(const std::string& portName, LinkHandle* handle) override;
    bool getPortSettings(LinkHandle h, PortSettings* settings) override;
    bool setPortSettings(LinkHandle h, const PortSettings& settings) override;
    bool setPortTimeouts(LinkHandle h, const PortTimeouts& timeouts) override;
    bool setPortQueues(LinkHandle h, uint32_t in, uint32_t out) override;
    bool portBytesWaiting(LinkHandle h, uint32_t* count) override;
    bool portRead(LinkHandle h, uint8_t* buffer, uint32_t n, uint32_t* got) override;
    bool portWrite(LinkHandle h, const uint8_t* buffer, uint32_t n, uint32_t* written) override;
    void portClose(LinkHandle h) override;
    WaitResult portWaitInput(LinkHandle h, uint32_t timeoutMs) override;
    bool portPurgeInput(LinkHandle h) override;

    int ftdiCreateDeviceInfoList(uint32_t* count) override;
    int ftdiGetDeviceInfoList(DeviceListEntry* list, uint32_t* count) override;
    int ftdiOpenBySerial(const char* serial, LinkHandle* handle) override;
    int ftdiSetBaudRate(LinkHandle h, uint32_t baud) override;
    int ftdiSetDataCharacteristics(LinkHandle h, uint8_t wordLength, uint8_t stopBits, uint8_t parity) override;
    int ftdiGetStatus(LinkHandle h, uint32_t* rx, uint32_t* tx, uint32_t* event) override;
    int ftdiRead(LinkHandle h, uint8_t* buffer, uint32_t n, uint32_t* got) override;
    int ftdiWrite(LinkHandle h, const uint8_t* buffer, uint32_t n, uint32_t* written) override;
    int ftdiClose(LinkHandle h) override;
    WaitResult ftdiWaitInput(LinkHandle h, uint32_t timeoutMs) override;

    LinkHandle watchableHandle(LinkHandle h) override;
    std::string lastErrorText() override;
    std::string ftdiErrorDetail() override;

    uint64_t monotonicMs() override;
    void sleepMs(uint32_t ms) override;

private:
    // Records the system's text for `error` as the reason of the last failed
    // call; returns `error`.
    int fail(int error);

    std::vector<UsbTty> ftdiDevices();

    std::string sysRoot_, devRoot_;
    std::map<LinkHandle, PortTimeouts> timeouts_;
    std::set<LinkHandle> exclusiveSet_;  // descriptors whose TIOCEXCL this link set
    std::string lastError_ = "no error";
};

}  // namespace vdx
