// Finding the RF stick: a CDC stick seen as a serial port first, then the
// FTDI devices. The last matching device wins in both searches.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "link/link.h"
#include "link/trace.h"

namespace vdx {
namespace {

constexpr size_t kWorkBufferSize = 255;  // instance id, serial, port name, description
constexpr size_t kCdcPrefixLength = 22;

// Copies `source` into a terminated field of `size` bytes, cut to size - 1.
void copyField(char* field, size_t size, const char* source) {
    const size_t n = strnlen(source, size - 1);
    std::memcpy(field, source, n);
    field[n] = '\0';
}

// The value as a 255-byte work buffer holds it: cut to 254 characters.
std::string workBuffer(const std::string& value) { return value.substr(0, kWorkBufferSize - 1); }

bool hasPrefix(const char* text, const char* prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

bool isFtdiStickSerial(const char* serial) {
    return std::memcmp(serial, kStickPrefixes.ftdi[0], 2) == 0 || std::memcmp(serial, kStickPrefixes.ftdi[1], 2) == 0;
}

void recordCdcStick(const std::string& serial, const std::string& description, const std::string& port) {
    linkState.stickFound = 1;
    copyField(linkState.stickId, sizeof linkState.stickId, serial.c_str());
    copyField(linkState.stickType, sizeof linkState.stickType, description.c_str());
    copyField(linkState.portName, sizeof linkState.portName, port.c_str());
    linkState.transportKind = TransportKind::ComPort;
    linkTraceLine("Silabs CDC found.");
}

void examinePort(LinkPlatform& platform, const SerialPortInfo& member) {
    const std::string instanceId = workBuffer(member.instanceId);
    linkTrace("Found instanceID: [%s]\n", instanceId.c_str());
    if (instanceId.compare(0, kCdcPrefixLength, kCdcInstancePrefix) != 0) return;

    const std::string serial = instanceId.substr(kCdcPrefixLength);
    linkTrace("Found one instance, serial: [%s]\n", serial.c_str());
    if (!member.hasDeviceKey) return;

    const std::string port = workBuffer(member.portName);
    linkTrace("Found PortName: [%s]\n", port.c_str());
    const std::string description = workBuffer(member.description);
    linkTrace("Found friendly name: [%s]\r\n", description.c_str());

    switch (platform.probePort(port)) {
        case PortOpenResult::NotFound:
            linkTrace("COM port %s not found\n", port.c_str());
            return;
        case PortOpenResult::Error:
            linkTrace("Error opening COM port %s\n", port.c_str());
            return;
        case PortOpenResult::Ok:
            break;
    }
    if (hasPrefix(serial.c_str(), kStickPrefixes.cdc)) recordCdcStick(serial, description, port);
}

}  // namespace

int findCdcPort() {
    LinkPlatform& platform = linkPlatform();
    if (!platform.findPortsClass()) {
        linkTraceLine("Could not find the PORTS class GUID.");
        return 0;
    }
    linkTraceLine("PORTS class GUID found.");
    std::vector<SerialPortInfo> ports;
    if (!platform.listSerialPorts(ports)) {
        linkTraceLine("hDevInfoSet not found.");
        return 0;
    }
    linkTraceLine("hDevInfoSet found.");
    for (const SerialPortInfo& member : ports) examinePort(platform, member);
    return linkState.stickFound == 1 ? 1 : 0;
}

int findStick() {
    if (findCdcPort() == 1) return 1;

    LinkPlatform& platform = linkPlatform();
    uint32_t count = 0;
    if (platform.ftdiCreateDeviceInfoList(&count) == 0)
        linkTrace("Number of devices is %ld\n", static_cast<long>(count));
    else
        count = 0;
    if (count == 0) return 0;

    std::unique_ptr<DeviceListEntry[]> list(new DeviceListEntry[count]());
    uint32_t listed = count;
    if (platform.ftdiGetDeviceInfoList(list.get(), &listed) != 0 || listed == 0) return 0;
    if (listed > count) listed = count;  // never walk past what was allocated

    int chosen = -1;
    for (uint32_t i = 0; i < listed; ++i) {
        DeviceListEntry& entry = list[i];
        entry.serialNumber[sizeof entry.serialNumber - 1] = '\0';
        entry.description[sizeof entry.description - 1] = '\0';
        linkTrace("Serial: %s\n", entry.serialNumber);
        linkTrace("Description: %s\n", entry.description);
        if (isFtdiStickSerial(entry.serialNumber)) chosen = static_cast<int>(i);
    }
    if (chosen < 0) return 0;

    linkState.stickFound = 1;
    copyField(linkState.stickId, sizeof linkState.stickId, list[chosen].serialNumber);
    copyField(linkState.stickType, sizeof linkState.stickType, list[chosen].description);
    linkState.transportKind = TransportKind::Ftdi;
    return 1;
}

}  // namespace vdx
