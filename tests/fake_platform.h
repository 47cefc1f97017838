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
    std::deque<uint8_t> rx;                                  // bytes the stick has sent, queued now
    std::multimap<uint64_t, std::vector<uint8_t>> arrivals;  // bytes queued at a later time of `clock`
    uint64_t hangUpAt = ~0ull;                               // from this time on the device is gone
    uint32_t queueLie = 0;                                   // added to every queue count reported
    uint32_t readLimit = ~0u;                                // a read delivers at most this many bytes
    uint64_t readCost = 0;                                   // fake milliseconds each read takes
    bool readsFail = false;
    uint32_t failPattern = 0;  // read i fails when bit i % 32 is set
    vdx::LinkHandle watchable = vdx::kNoHandle;
    uint32_t writeAccepts = ~0u;  // bytes a write takes at most
    int countStatus = 0, listStatus = 0, openFailures = 0, baudFailures = 0, dataFailures = 0;
    std::vector<std::pair<std::string, std::string>> ftdi;  // serial, description
    uint32_t listedOverride = ~0u;

    // what the link did
    std::vector<std::string> calls;
    std::vector<std::vector<uint8_t>> written;
    std::vector<uint32_t> readSizes;
    std::vector<uint8_t> delivered;  // every byte reads handed to the link
    vdx::PortSettings appliedSettings;
    vdx::PortTimeouts appliedTimeouts{};
    std::string openedSerial;
    int closes = 0, purges = 0, sleeps = 0;
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
        deliver();
        *n = gone() ? 0 : static_cast<uint32_t>(rx.size()) + queueLie;
        return waitingOk && !gone();
    }
    bool portRead(vdx::LinkHandle, uint8_t* b, uint32_t n, uint32_t* got) override { return take(b, n, got); }
    bool portWrite(vdx::LinkHandle, const uint8_t* b, uint32_t n, uint32_t* w) override {
        *w = std::min(n, writeAccepts);
        written.emplace_back(b, b + *w);
        return true;
    }
    void portClose(vdx::LinkHandle) override { log("portClose"), ++closes; }
    vdx::WaitResult portWaitInput(vdx::LinkHandle, uint32_t ms) override { return wait(ms); }
    bool portPurgeInput(vdx::LinkHandle) override {
        ++purges;
        rx.clear();
        return true;
    }

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
    int ftdiGetStatus(vdx::LinkHandle h, uint32_t* r, uint32_t* t, uint32_t* e) override {
        *t = *e = 0;
        return portBytesWaiting(h, r) ? 0 : 4;
    }
    int ftdiRead(vdx::LinkHandle, uint8_t* b, uint32_t n, uint32_t* got) override { return take(b, n, got) ? 0 : 4; }
    int ftdiWrite(vdx::LinkHandle, const uint8_t* b, uint32_t n, uint32_t* w) override {
        *w = std::min(n, writeAccepts);
        written.emplace_back(b, b + *w);
        return 0;
    }
    int ftdiClose(vdx::LinkHandle) override { return log("ftdiClose"), ++closes, 0; }
    vdx::WaitResult ftdiWaitInput(vdx::LinkHandle, uint32_t ms) override { return wait(ms); }
    vdx::LinkHandle watchableHandle(vdx::LinkHandle) override { return watchable; }
    std::string lastErrorText() override { return "fake error"; }
    uint64_t monotonicMs() override { return clock; }
    void sleepMs(uint32_t ms) override {
        ++sleeps;
        clock += ms;
    }

    size_t count(const std::string& prefix) const {
        return static_cast<size_t>(std::count_if(calls.begin(), calls.end(), [&](const std::string& c) {
            return c.compare(0, prefix.size(), prefix) == 0;
        }));
    }

    bool gone() const { return clock >= hangUpAt; }
    // Queues what has arrived by now.
    void deliver() {
        while (!arrivals.empty() && arrivals.begin()->first <= clock) {
            rx.insert(rx.end(), arrivals.begin()->second.begin(), arrivals.begin()->second.end());
            arrivals.erase(arrivals.begin());
        }
    }

private:
    void log(const std::string& call) { calls.push_back(call); }
    // Fake time passes only while the link waits: up to the next arrival, the
    // hang-up or the end of the time-out.
    vdx::WaitResult wait(uint32_t ms) {
        deliver();
        if (!rx.empty() && !gone()) return vdx::WaitResult::Ready;
        uint64_t until = clock + ms;
        if (!arrivals.empty()) until = std::min(until, arrivals.begin()->first);
        until = std::min(until, hangUpAt);
        clock = std::max(clock, until);
        deliver();
        if (gone()) return vdx::WaitResult::HungUp;
        return rx.empty() ? vdx::WaitResult::TimedOut : vdx::WaitResult::Ready;
    }
    bool take(uint8_t* b, uint32_t n, uint32_t* got) {
        const bool failing = (failPattern >> (readSizes.size() % 32)) & 1;
        readSizes.push_back(n);
        clock += readCost;
        *got = 0;
        if (readsFail || failing || gone()) return false;
        *got = std::min<uint32_t>({n, readLimit, static_cast<uint32_t>(rx.size())});
        for (uint32_t i = 0; i < *got; ++i, rx.pop_front()) delivered.push_back(b[i] = rx.front());
        return true;
    }
};
