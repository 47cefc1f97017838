// A scripted stand-in for the link's platform seam: the test sets what each
// call answers and reads back what the link asked.
#pragma once

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "link/platform.h"

class FakePlatform : public vdx::LinkPlatform {
public:
    // scripted answers
    bool portsClass = true, listOk = true;
    std::vector<vdx::SerialPortInfo> ports;
    std::map<std::string, vdx::PortOpenResult> probeResults;  // default Ok
    vdx::PortOpenResult openResult = vdx::PortOpenResult::Ok;
    bool getSettingsOk = true, setSettingsOk = true, timeoutsOk = true, waitingOk = true;
    vdx::PortSettings driverSettings{9600, 7, 2, 2, {1, 2, 3}};
    std::deque<uint8_t> rx;       // bytes the stick has sent
    uint32_t writeAccepts = ~0u;  // bytes a write takes at most
    int countStatus = 0, listStatus = 0, openFailures = 0, baudFailures = 0, dataFailures = 0;
    std::vector<std::pair<std::string, std::string>> ftdi;  // serial, description
    uint32_t listedOverride = ~0u;

    // what the link did
    std::vector<std::string> calls;
    std::vector<std::vector<uint8_t>> written;
    std::vector<uint32_t> readSizes;
    vdx::PortSettings appliedSettings;
    vdx::PortTimeouts appliedTimeouts{};
    std::string openedSerial;
    int closes = 0;
    uint64_t clock = 0;

    bool findPortsClass() override { return log("findPortsClass"), portsClass; }
    bool listSerialPorts(std::vector<vdx::SerialPortInfo>& out) override {
        log("listSerialPorts");
        if (listOk) out = ports;
        return listOk;
    }
    vdx::PortOpenResult probePort(const std::string& name) override {
        log("probePort " + name);
        auto it = probeResults.find(name);
        return it == probeResults.end() ? vdx::PortOpenResult::Ok : it->second;
    }
    vdx::PortOpenResult openPort(const std::string& name, vdx::LinkHandle* h) override {
        log("openPort " + name);
        *h = openResult == vdx::PortOpenResult::Ok ? 7 : vdx::kNoHandle;
        return openResult;
    }
    bool getPortSettings(vdx::LinkHandle, vdx::PortSettings* s) override {
        log("getPortSettings");
        *s = driverSettings;
        return getSettingsOk;
    }
    bool setPortSettings(vdx::LinkHandle, const vdx::PortSettings& s) override {
        log("setPortSettings");
        appliedSettings = s;
        return setSettingsOk;
    }
    bool setPortTimeouts(vdx::LinkHandle, const vdx::PortTimeouts& t) override {
        log("setPortTimeouts");
        appliedTimeouts = t;
        return timeoutsOk;
    }
    bool setPortQueues(vdx::LinkHandle, uint32_t in, uint32_t out) override {
        log("setPortQueues " + std::to_string(in) + " " + std::to_string(out));
        return false;  // the link ignores this result
    }
    bool portBytesWaiting(vdx::LinkHandle, uint32_t* n) override {
        ++clock;
        *n = static_cast<uint32_t>(rx.size());
        return waitingOk;
    }
    bool portRead(vdx::LinkHandle, uint8_t* b, uint32_t n, uint32_t* got) override { return take(b, n, got); }
    bool portWrite(vdx::LinkHandle, const uint8_t* b, uint32_t n, uint32_t* w) override {
        *w = std::min(n, writeAccepts);
        written.emplace_back(b, b + *w);
        return true;
    }
    void portClose(vdx::LinkHandle) override { log("portClose"), ++closes; }

    int ftdiCreateDeviceInfoList(uint32_t* n) override {
        log("ftdiCount");
        *n = static_cast<uint32_t>(ftdi.size());
        return countStatus;
    }
    int ftdiGetDeviceInfoList(vdx::DeviceListEntry* list, uint32_t* n) override {
        log("ftdiList");
        for (size_t i = 0; i < ftdi.size() && i < *n; ++i) {
            std::strncpy(list[i].serialNumber, ftdi[i].first.c_str(), 16);
            std::strncpy(list[i].description, ftdi[i].second.c_str(), 64);
        }
        if (listedOverride != ~0u) *n = listedOverride;
        return listStatus;
    }
    int ftdiOpenBySerial(const char* serial, vdx::LinkHandle* h) override {
        log("ftdiOpen");
        openedSerial = serial;
        if (openFailures-- > 0) return 3;
        *h = 9;
        return 0;
    }
    int ftdiSetBaudRate(vdx::LinkHandle, uint32_t baud) override {
        log("ftdiSetBaudRate " + std::to_string(baud));
        return baudFailures-- > 0 ? 4 : 0;
    }
    int ftdiSetDataCharacteristics(vdx::LinkHandle, uint8_t w, uint8_t s, uint8_t p) override {
        log("ftdiSetData " + std::to_string(w) + std::to_string(s) + std::to_string(p));
        return dataFailures-- > 0 ? 4 : 0;
    }
    int ftdiGetStatus(vdx::LinkHandle, uint32_t* r, uint32_t* t, uint32_t* e) override {
        *r = static_cast<uint32_t>(rx.size());
        *t = *e = 0;
        return waitingOk ? 0 : 4;
    }
    int ftdiRead(vdx::LinkHandle, uint8_t* b, uint32_t n, uint32_t* got) override { return take(b, n, got) ? 0 : 4; }
    int ftdiWrite(vdx::LinkHandle, const uint8_t* b, uint32_t n, uint32_t* w) override {
        *w = std::min(n, writeAccepts);
        written.emplace_back(b, b + *w);
        return 0;
    }
    int ftdiClose(vdx::LinkHandle) override { return log("ftdiClose"), ++closes, 0; }
    uint64_t monotonicMs() override { return clock; }

    size_t count(const std::string& prefix) const {
        return static_cast<size_t>(std::count_if(calls.begin(), calls.end(), [&](const std::string& c) {
            return c.compare(0, prefix.size(), prefix) == 0;
        }));
    }

private:
    void log(const std::string& call) { calls.push_back(call); }
    bool take(uint8_t* b, uint32_t n, uint32_t* got) {
        readSizes.push_back(n);
        *got = std::min<uint32_t>(n, static_cast<uint32_t>(rx.size()));
        for (uint32_t i = 0; i < *got; ++i, rx.pop_front()) b[i] = rx.front();
        return true;
    }
};
