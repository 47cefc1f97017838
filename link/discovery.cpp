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

DiscoveryReport report;
// The serial number of the stick that discovery takes over any other match
// (the stick that was lost), and whether it was seen.
std::string preferred;
bool preferredSeen = false;
// The one stick the user chose (serial number or port name); empty: any.
std::string chosen;

bool isChosen(const std::string& serial, const std::string& port) {
    return chosen.empty() || serial == chosen || (!port.empty() && port == chosen);
}

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
    if (preferredSeen) return;  // the preferred stick stays chosen
    preferredSeen = !preferred.empty() && serial == preferred;
    linkState.stickFound = 1;
    copyField(linkState.stickId, sizeof linkState.stickId, serial.c_str());
    copyField(linkState.stickType, sizeof linkState.stickType, description.c_str());
    copyField(linkState.portName, sizeof linkState.portName, port.c_str());
    linkState.transportKind = TransportKind::ComPort;
    linkTraceLine("Silabs CDC found.");
}

void examinePort(LinkPlatform& platform, const SerialPortInfo& member) {
    const std::string instanceId = workBuffer(member.instanceId);
    report.ports.emplace_back();
    PortCandidate& candidate = report.ports.back();
    candidate.portName = member.portName;
    candidate.instanceId = instanceId;
    linkTrace("Found instanceID: [%s]\n", instanceId.c_str());
    if (instanceId.compare(0, kCdcPrefixLength, kCdcInstancePrefix) != 0) return;

    const std::string serial = instanceId.substr(kCdcPrefixLength);
    linkTrace("Found one instance, serial: [%s]\n", serial.c_str());
    candidate.stickIdentity = hasPrefix(serial.c_str(), kStickPrefixes.cdc);
    if (!member.hasDeviceKey) return;

    const std::string port = workBuffer(member.portName);
    linkTrace("Found PortName: [%s]\n", port.c_str());
    const std::string description = workBuffer(member.description);
    linkTrace("Found friendly name: [%s]\r\n", description.c_str());

    // another stick than the one the user chose is not even test-opened: it
    // may be another sender's
    candidate.chosen = isChosen(serial, port);
    if (!candidate.chosen) return;
    candidate.probed = true;
    candidate.probe = platform.probePort(port);
    if (candidate.probe != PortOpenResult::Ok) candidate.error = platform.lastErrorText();
    switch (candidate.probe) {
        case PortOpenResult::NotFound:
            linkTrace("COM port %s not found\n", port.c_str());
            return;
        case PortOpenResult::Error:
        case PortOpenResult::Busy:
            linkTrace("Error opening COM port %s\n", port.c_str());
            return;
        case PortOpenResult::Ok:
            break;
    }
    if (hasPrefix(serial.c_str(), kStickPrefixes.cdc)) recordCdcStick(serial, description, port);
}

}  // namespace

int findCdcPort() {
    report.ports.clear();
    preferredSeen = false;
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

namespace {

// The FTDI devices: the last one with a stick's serial prefix, or the
// preferred one. With `onlyPreferred` (a CDC stick is recorded already) only
// the preferred device replaces it. 1 when a device was recorded.
int findFtdiStick(bool onlyPreferred) {
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
        report.ftdiSerials.emplace_back(entry.serialNumber);
        if (!isFtdiStickSerial(entry.serialNumber) || !isChosen(entry.serialNumber, "") || preferredSeen) continue;
        preferredSeen = !preferred.empty() && preferred == entry.serialNumber;
        if (preferredSeen || !onlyPreferred) chosen = static_cast<int>(i);
    }
    if (chosen < 0) return 0;

    linkState.stickFound = 1;
    copyField(linkState.stickId, sizeof linkState.stickId, list[chosen].serialNumber);
    copyField(linkState.stickType, sizeof linkState.stickType, list[chosen].description);
    linkState.portName[0] = '\0';
    linkState.transportKind = TransportKind::Ftdi;
    return 1;
}

}  // namespace

int findStick(const char* preferredSerial) {
    report.ftdiSerials.clear();
    preferred = preferredSerial != nullptr ? preferredSerial : "";
    const int cdc = findCdcPort();
    const int found = (cdc == 1 && (preferred.empty() || preferredSeen)) || findFtdiStick(cdc == 1) == 1 || cdc == 1;
    preferred.clear();
    return found ? 1 : 0;
}

const DiscoveryReport& lastDiscovery() { return report; }

void chooseStick(const std::string& serialOrPort) { chosen = serialOrPort; }

std::string explainStickNotFound() {
    std::string text = std::string("USB RF stick not found: looked for a CDC stick (USB 10C4:0003, serial starting ") +
                       kStickPrefixes.cdc + ") and FTDI sticks (serial starting " + kStickPrefixes.ftdi[0] + " or " +
                       kStickPrefixes.ftdi[1] + ")" + (chosen.empty() ? "" : ", only " + chosen) + "\n";
    std::string found;
    for (const PortCandidate& p : report.ports) {
        found += (found.empty() ? "" : "; ") + p.portName + " [" + p.instanceId + "]: ";
        if (!p.stickIdentity)
            found += "not a stick";
        else if (!p.chosen)
            found += "not the chosen stick";
        else if (!p.probed)
            found += "no port name";
        else if (p.probe == PortOpenResult::Busy)
            found += "busy, held by another program (" + p.error + ")";
        else if (p.probe == PortOpenResult::NotFound)
            found += "gone (" + p.error + ")";
        else if (p.probe == PortOpenResult::Error)
            found += "cannot be opened (" + p.error + ")";
        else
            found += "usable";
    }
    for (const std::string& serial : report.ftdiSerials)
        found += (found.empty() ? "FTDI " : "; FTDI ") + serial +
                 (!isFtdiStickSerial(serial.c_str()) ? ": not a stick"
                  : isChosen(serial, "")             ? ": usable"
                                                     : ": not the chosen stick");
    return text + (found.empty() ? "no serial port and no FTDI device found" : "found: " + found);
}

}  // namespace vdx
