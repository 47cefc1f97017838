// The Windows backend of the link: the stick's COM port through SetupAPI and
// the registry, the port itself through the Windows file and comm calls, and
// FTDI devices through FTD2XX.dll, loaded at run time and bound by ordinal.
#include <windows.h>
// windows.h first
#include <setupapi.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/link.h"
#include "link/platform.h"
#include "link/win32/ftd2xx_load.h"

namespace vdx {
namespace {

constexpr DWORD kWorkBufferSize = 255;  // instance id, port name, description

// D2XX, bound by ordinal. FT_STATUS is 0 for success; a call the library does
// not offer (or no library at all) answers kFtNotBound.
using FtStatus = ULONG;
using FtHandle = PVOID;
constexpr FtStatus kFtNotBound = 18;  // FT_OTHER_ERROR

// FT_DEVICE_LIST_INFO_NODE as the library writes it for this process: its
// handle field is pointer-sized, so a 64-bit library writes 104 bytes per
// device, a 32-bit one 100.
struct FtListNode {
    ULONG flags, type, id;
    DWORD locId;
    char serialNumber[16];
    char description[64];
    FtHandle handle;
};

class Ftd2xx {
public:
    template <typename F>
    F bind(int ordinal) {
        if (!loaded_) {
            loaded_ = true;
            module_ = loadFtd2xx(systemDllLoadCalls());
        }
        if (module_ == nullptr) return nullptr;
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module_, MAKEINTRESOURCEA(ordinal))));
    }

private:
    bool loaded_ = false;
    HMODULE module_ = nullptr;
};

Ftd2xx ftd2xx;

std::string folderOf(const std::string& path) { return path.substr(0, path.find_last_of("\\/") + 1); }

}  // namespace

DllLoadCalls systemDllLoadCalls() {
    DllLoadCalls calls;
    calls.loadEx = [](const char* name, DWORD flags) { return LoadLibraryExA(name, nullptr, flags); };
    calls.lastError = [] { return GetLastError(); };
    calls.systemFolder = [] {
        char path[MAX_PATH] = "";
        const UINT n = GetSystemDirectoryA(path, sizeof path);
        return n > 0 && n < sizeof path ? std::string(path) : std::string();
    };
    calls.programPath = [] {
        char path[MAX_PATH] = "";
        const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
        return n > 0 && n < sizeof path ? std::string(path) : std::string();
    };
    return calls;
}

HMODULE loadFtd2xx(const DllLoadCalls& calls) {
    const char kName[] = "FTD2XX.dll";
    HMODULE module = calls.loadEx(kName, LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_APPLICATION_DIR);
    if (module != nullptr || calls.lastError() != ERROR_INVALID_PARAMETER) return module;
    // by full path only: a bare name would search the current folder too
    const std::string system = calls.systemFolder();
    if (!system.empty() && (module = calls.loadEx((system + "\\" + kName).c_str(), 0)) != nullptr) return module;
    const std::string program = folderOf(calls.programPath());
    if (!program.empty()) module = calls.loadEx((program + kName).c_str(), 0);
    return module;
}

namespace {

HANDLE handleOf(LinkHandle h) { return reinterpret_cast<HANDLE>(h); }

std::string cut(const char* text) { return std::string(text).substr(0, kWorkBufferSize - 1); }

PortOpenResult openComFile(const std::string& portName, HANDLE* handle) {
    const std::string path = "\\\\.\\" + portName;
    *handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                          nullptr);
    if (*handle != INVALID_HANDLE_VALUE) return PortOpenResult::Ok;
    switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
            return PortOpenResult::NotFound;
        case ERROR_ACCESS_DENIED:  // opened without sharing by another program
        case ERROR_SHARING_VIOLATION:
            return PortOpenResult::Busy;
        default:
            return PortOpenResult::Error;
    }
}

// The instance identifier: first the size, then into a buffer of that size.
std::string instanceIdOf(HDEVINFO set, SP_DEVINFO_DATA* data) {
    DWORD size = 0;
    SetupDiGetDeviceInstanceIdA(set, data, nullptr, 0, &size);
    std::vector<char> id(size + 1, '\0');
    if (!SetupDiGetDeviceInstanceIdA(set, data, id.data(), size, nullptr)) return "";
    return cut(id.data());
}

std::string registryText(HKEY key, const char* name) {
    DWORD size = 0, type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return "";
    std::vector<char> value(size + 1, '\0');
    RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size);
    return cut(value.data());
}

std::string deviceDescription(HDEVINFO set, SP_DEVINFO_DATA* data) {
    DWORD size = 0, type = 0;
    SetupDiGetDeviceRegistryPropertyA(set, data, SPDRP_DEVICEDESC, &type, nullptr, 0, &size);
    std::vector<char> text(size + 1, '\0');
    SetupDiGetDeviceRegistryPropertyA(set, data, SPDRP_DEVICEDESC, &type, reinterpret_cast<BYTE*>(text.data()), size,
                                      nullptr);
    return cut(text.data());
}

class Win32Platform : public LinkPlatform {
public:
    // Wine reports a required size of 0 with the GUID filled in, so success
    // is the call's result and a GUID that is not all zero.
    bool findPortsClass() override {
        DWORD required = 0;
        static const GUID kNull = {};
        portsClass_ = kNull;
        return SetupDiClassGuidsFromNameA("PORTS", &portsClass_, 1, &required) != FALSE &&
               std::memcmp(&portsClass_, &kNull, sizeof kNull) != 0;
    }

    bool listSerialPorts(std::vector<SerialPortInfo>& ports) override {
        if (!findPortsClass()) return false;
        HDEVINFO set = SetupDiGetClassDevsA(&portsClass_, nullptr, nullptr, DIGCF_PRESENT);
        if (set == INVALID_HANDLE_VALUE) return false;
        SP_DEVINFO_DATA data;
        data.cbSize = sizeof data;
        for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &data); ++index) {
            SerialPortInfo member;
            member.instanceId = instanceIdOf(set, &data);
            HKEY key = SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
            member.hasDeviceKey = key != INVALID_HANDLE_VALUE;
            if (member.hasDeviceKey) {
                member.portName = registryText(key, "PortName");
                member.description = deviceDescription(set, &data);
                RegCloseKey(key);
            }
            ports.push_back(member);
        }
        SetupDiDestroyDeviceInfoList(set);
        return true;
    }

    PortOpenResult probePort(const std::string& portName) override {
        HANDLE h;
        const PortOpenResult result = openComFile(portName, &h);
        if (result == PortOpenResult::Ok) CloseHandle(h);
        return result;
    }

    PortOpenResult openPort(const std::string& portName, LinkHandle* handle) override {
        HANDLE h;
        const PortOpenResult result = openComFile(portName, &h);
        *handle = reinterpret_cast<LinkHandle>(h);  // INVALID_HANDLE_VALUE is kNoHandle
        return result;
    }

    bool getPortSettings(LinkHandle h, PortSettings* s) override {
        DCB dcb;
        std::memset(&dcb, 0, sizeof dcb);
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(handleOf(h), &dcb)) return false;
        s->baudRate = dcb.BaudRate;
        s->byteSize = dcb.ByteSize;
        s->parity = dcb.Parity;
        s->stopBits = dcb.StopBits;
        s->native.assign(reinterpret_cast<const uint8_t*>(&dcb), reinterpret_cast<const uint8_t*>(&dcb) + sizeof dcb);
        return true;
    }

    // Only BaudRate, ByteSize, Parity and StopBits change; every other DCB
    // field, flow control included, keeps what the driver reported.
    bool setPortSettings(LinkHandle h, const PortSettings& s) override {
        DCB dcb;
        if (s.native.size() != sizeof dcb) return false;
        std::memcpy(&dcb, s.native.data(), sizeof dcb);
        dcb.BaudRate = s.baudRate;
        dcb.ByteSize = s.byteSize;
        dcb.Parity = s.parity;
        dcb.StopBits = s.stopBits;
        return SetCommState(handleOf(h), &dcb) != FALSE;
    }

    bool setPortTimeouts(LinkHandle h, const PortTimeouts& t) override {
        COMMTIMEOUTS timeouts = {t.readInterval, t.readMultiplier, t.readConstant, t.writeMultiplier, t.writeConstant};
        return SetCommTimeouts(handleOf(h), &timeouts) != FALSE;
    }

    bool setPortQueues(LinkHandle h, uint32_t in, uint32_t out) override {
        return SetupComm(handleOf(h), in, out) != FALSE;
    }

    bool portBytesWaiting(LinkHandle h, uint32_t* count) override {
        DWORD errors = 0;
        COMSTAT stat;
        if (!ClearCommError(handleOf(h), &errors, &stat)) return false;
        *count = stat.cbInQue;
        return true;
    }

    bool portRead(LinkHandle h, uint8_t* buffer, uint32_t n, uint32_t* got) override {
        DWORD read = 0;
        const BOOL ok = ReadFile(handleOf(h), buffer, n, &read, nullptr);
        *got = read;
        return ok != FALSE;
    }

    bool portWrite(LinkHandle h, const uint8_t* buffer, uint32_t n, uint32_t* written) override {
        DWORD count = 0;
        const BOOL ok = WriteFile(handleOf(h), buffer, n, &count, nullptr);
        *written = count;
        return ok != FALSE;
    }

    void portClose(LinkHandle h) override { CloseHandle(handleOf(h)); }

    // The port is opened without overlapped I/O, so there is nothing to wait
    // on: check the input queue with a 1 ms sleep between checks.
    WaitResult portWaitInput(LinkHandle h, uint32_t timeoutMs) override {
        return waitQueued(timeoutMs, [&](uint32_t* queued) { return portBytesWaiting(h, queued); });
    }

    bool portPurgeInput(LinkHandle h) override { return PurgeComm(handleOf(h), PURGE_RXCLEAR) != FALSE; }

    int ftdiCreateDeviceInfoList(uint32_t* count) override {
        auto call = ftd2xx.bind<FtStatus(WINAPI*)(LPDWORD)>(70);
        DWORD n = 0;
        const FtStatus status = call != nullptr ? call(&n) : kFtNotBound;
        *count = n;
        return static_cast<int>(status);
    }

    int ftdiGetDeviceInfoList(DeviceListEntry* list, uint32_t* count) override {
        auto call = ftd2xx.bind<FtStatus(WINAPI*)(FtListNode*, LPDWORD)>(71);
        if (call == nullptr) return static_cast<int>(kFtNotBound);
        std::vector<FtListNode> nodes(*count);
        DWORD n = *count;
        const FtStatus status = call(nodes.data(), &n);
        if (n > *count) n = *count;  // never more than was counted and allocated
        for (DWORD i = 0; i < n; ++i) {
            std::memset(&list[i], 0, sizeof list[i]);
            list[i].flags = nodes[i].flags;
            list[i].type = nodes[i].type;
            list[i].id = nodes[i].id;
            list[i].locId = nodes[i].locId;
            std::memcpy(list[i].serialNumber, nodes[i].serialNumber, sizeof list[i].serialNumber);
            std::memcpy(list[i].description, nodes[i].description, sizeof list[i].description);
        }
        *count = n;
        return static_cast<int>(status);
    }

    int ftdiOpenBySerial(const char* serial, LinkHandle* handle) override {
        auto call = ftd2xx.bind<FtStatus(WINAPI*)(PVOID, DWORD, FtHandle*)>(27);
        FtHandle h = nullptr;
        constexpr DWORD kOpenBySerialNumber = 1;
        const FtStatus status =
            call != nullptr ? call(const_cast<char*>(serial), kOpenBySerialNumber, &h) : kFtNotBound;
        *handle = status == 0 ? reinterpret_cast<LinkHandle>(h) : kNoHandle;
        return static_cast<int>(status);
    }

    int ftdiSetBaudRate(LinkHandle h, uint32_t baud) override {
        auto call = ftd2xx.bind<FtStatus(WINAPI*)(FtHandle, ULONG)>(7);
        return static_cast<int>(call != nullptr ? call(reinterpret_cast<FtHandle>(h), baud) : kFtNotBound);
    }

    int ftdiSetDataCharacteristics(LinkHandle h, uint8_t wordLength, uint8_t stopBits, uint8_t parity) override {
        auto call = ftd2xx.bind<FtStatus(WINAPI*)(FtHandle, UCHAR, UCHAR, UCHAR)>(8);
        return static_cast<int>(call != nullptr ? call(reinterpret_cast<FtHandle>(h), wordLength, stopBits, parity)
                                                : kFtNotBound);
    }

    int ftdiGetStatus(LinkHandle h, uint32_t* rx, uint32_t* tx, uint32_t* event) override {
        auto call = ftd2xx.bind<FtStatus(WINAPI*)(FtHandle, DWORD*, DWORD*, DWORD*)>(21);
        DWORD r = 0, t = 0, e = 0;
        const FtStatus status = call != nullptr ? call(reinterpret_cast<FtHandle>(h), &r, &t, &e) : kFtNotBound;
        *rx = r;
        *tx = t;
        *event = e;
        return static_cast<int>(status);
    }

    // The device has no read time-out: wait, within kReadWaitBoundMs, until
    // n bytes are queued, so that the read never blocks the window.
    int ftdiRead(LinkHandle h, uint8_t* buffer, uint32_t n, uint32_t* got) override {
        auto call = ftd2xx.bind<FtStatus(WINAPI*)(FtHandle, LPVOID, DWORD, LPDWORD)>(3);
        *got = 0;
        if (call == nullptr) return static_cast<int>(kFtNotBound);
        const uint64_t deadline = monotonicMs() + kReadWaitBoundMs;
        for (uint32_t rx = 0, tx, event; n > 0;) {
            const int status = ftdiGetStatus(h, &rx, &tx, &event);
            if (status != 0) return status;
            if (rx >= n) break;
            if (monotonicMs() >= deadline) return 0;  // *got stays 0
            Sleep(1);
        }
        DWORD read = 0;
        const FtStatus status = call(reinterpret_cast<FtHandle>(h), buffer, n, &read);
        *got = read;
        return static_cast<int>(status);
    }

    int ftdiWrite(LinkHandle h, const uint8_t* buffer, uint32_t n, uint32_t* written) override {
        auto call = ftd2xx.bind<FtStatus(WINAPI*)(FtHandle, LPVOID, DWORD, LPDWORD)>(4);
        DWORD count = 0;
        const FtStatus status = call != nullptr
                                    ? call(reinterpret_cast<FtHandle>(h), const_cast<uint8_t*>(buffer), n, &count)
                                    : kFtNotBound;
        *written = count;
        return static_cast<int>(status);
    }

    int ftdiClose(LinkHandle h) override {
        auto call = ftd2xx.bind<FtStatus(WINAPI*)(FtHandle)>(2);
        return static_cast<int>(call != nullptr ? call(reinterpret_cast<FtHandle>(h)) : kFtNotBound);
    }

    WaitResult ftdiWaitInput(LinkHandle h, uint32_t timeoutMs) override {
        return waitQueued(timeoutMs, [&](uint32_t* queued) {
            uint32_t tx = 0, event = 0;
            return ftdiGetStatus(h, queued, &tx, &event) == 0;
        });
    }

    // Neither a COM port opened without overlapped I/O nor a D2XX handle can
    // be waited on by the GUI toolkit: the receive poll runs on its timer.
    LinkHandle watchableHandle(LinkHandle) override { return kNoHandle; }

    std::string lastErrorText() override {
        const DWORD error = GetLastError();
        char text[256] = "";
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text, sizeof text,
                       nullptr);
        std::string s = text;
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.')) s.pop_back();
        return s.empty() ? "error " + std::to_string(error) : s;
    }

    uint64_t monotonicMs() override { return GetTickCount64(); }
    void sleepMs(uint32_t ms) override { Sleep(ms); }

private:
    // Checks the receive queue until it holds bytes, the check fails (the
    // device is gone) or `timeoutMs` pass, sleeping 1 ms between checks.
    template <typename QueueCheck>
    WaitResult waitQueued(uint32_t timeoutMs, QueueCheck check) {
        const uint64_t deadline = monotonicMs() + timeoutMs;
        for (;;) {
            uint32_t queued = 0;
            if (!check(&queued)) return WaitResult::HungUp;
            if (queued > 0) return WaitResult::Ready;
            if (monotonicMs() >= deadline) return WaitResult::TimedOut;
            Sleep(1);
        }
    }

    GUID portsClass_{};
};

}  // namespace

LinkPlatform& linkPlatformDefault() {
    static Win32Platform platform;
    return platform;
}

}  // namespace vdx
