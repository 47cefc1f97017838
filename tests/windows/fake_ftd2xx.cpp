// A stand-in for the FTDI D2XX library, exporting only by ordinal like the
// real one is bound. The test scripts it through three more ordinals and
// reads back what the link asked.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace {

struct Device {
    std::string serial, description;
};
std::vector<Device> devices;
int openFailures = 0;
std::string log;
std::deque<unsigned char> rx;
const ULONG kHandle = 0x5A;

// FT_DEVICE_LIST_INFO_NODE with its pointer-sized handle
struct Node {
    ULONG flags, type, id;
    DWORD locId;
    char serialNumber[16];
    char description[64];
    PVOID handle;
};

void note(const std::string& line) { log += line + "\n"; }

}  // namespace

extern "C" {

// "VA01:first;XX02:other" and how many opens fail before one succeeds
__declspec(dllexport) void WINAPI fakeSetup(const char* spec, int failures) {
    devices.clear();
    log.clear();
    rx.clear();
    openFailures = failures;
    std::string s = spec;
    for (size_t start = 0; start < s.size();) {
        size_t end = s.find(';', start);
        if (end == std::string::npos) end = s.size();
        const std::string item = s.substr(start, end - start);
        const size_t colon = item.find(':');
        devices.push_back({item.substr(0, colon), item.substr(colon + 1)});
        start = end + 1;
    }
}
__declspec(dllexport) const char* WINAPI fakeLog() { return log.c_str(); }
__declspec(dllexport) void WINAPI fakeQueue(const unsigned char* bytes, unsigned n) {
    rx.insert(rx.end(), bytes, bytes + n);
}

ULONG WINAPI FT_CreateDeviceInfoList(LPDWORD count) {
    *count = static_cast<DWORD>(devices.size());
    note("count");
    return 0;
}
ULONG WINAPI FT_GetDeviceInfoList(Node* list, LPDWORD count) {
    for (size_t i = 0; i < devices.size(); ++i) {
        std::memset(&list[i], 0, sizeof list[i]);
        std::strncpy(list[i].serialNumber, devices[i].serial.c_str(), 15);
        std::strncpy(list[i].description, devices[i].description.c_str(), 63);
    }
    *count = static_cast<DWORD>(devices.size());
    note("list");
    return 0;
}
ULONG WINAPI FT_OpenEx(PVOID arg, DWORD flags, PVOID* handle) {
    note("open " + std::string(static_cast<const char*>(arg)) + " flag " + std::to_string(flags));
    if (openFailures-- > 0) return 3;  // FT_DEVICE_NOT_OPENED
    *handle = reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(kHandle));
    return 0;
}
ULONG WINAPI FT_SetBaudRate(PVOID, ULONG baud) {
    note("baud " + std::to_string(baud));
    return 0;
}
ULONG WINAPI FT_SetDataCharacteristics(PVOID, UCHAR word, UCHAR stop, UCHAR parity) {
    note("data " + std::to_string(word) + " " + std::to_string(stop) + " " + std::to_string(parity));
    return 0;
}
ULONG WINAPI FT_GetStatus(PVOID, DWORD* rxCount, DWORD* tx, DWORD* event) {
    *rxCount = static_cast<DWORD>(rx.size());
    *tx = *event = 0;
    return 0;
}
ULONG WINAPI FT_Read(PVOID, LPVOID buffer, DWORD n, LPDWORD got) {
    DWORD i = 0;
    for (; i < n && !rx.empty(); ++i, rx.pop_front()) static_cast<unsigned char*>(buffer)[i] = rx.front();
    *got = i;
    note("read " + std::to_string(n));
    return 0;
}
ULONG WINAPI FT_Write(PVOID, LPVOID, DWORD n, LPDWORD written) {
    *written = n;
    note("write " + std::to_string(n));
    return 0;
}
ULONG WINAPI FT_Close(PVOID handle) {
    note(handle == reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(kHandle)) ? "close" : "close of a wrong handle");
    return 0;
}

}  // extern "C"
