// The Windows backend under wine: discovery through SetupAPI against devices
// entered into the registry, the COM port on a pseudo-terminal that the
// harness links as a wine COM device (and echoes back), and the FTDI path
// against a fake FTD2XX.dll. run_wine_link_tests.py starts it.
#include <windows.h>
// windows.h first
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "link/link.h"
#include "link/win32/ftd2xx_load.h"

using namespace vdx;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

const char kEnumUsb[] = "System\\CurrentControlSet\\Enum\\USB";
const char kPortsClass[] = "{4D36E978-E325-11CE-BFC1-08002BE10318}";

void setText(HKEY key, const char* name, const std::string& value) {
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
}

// A member of the PORTS class: Enum\USB\<device>\<serial>, with its
// "Device Parameters\PortName" unless port is empty.
void addPort(const std::string& device, const std::string& serial, const std::string& port, const std::string& desc) {
    HKEY key, params;
    const std::string path = std::string(kEnumUsb) + "\\" + device + "\\" + serial;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    setText(key, "ClassGUID", kPortsClass);
    setText(key, "DeviceDesc", desc);
    if (!port.empty()) {
        RegCreateKeyExA(key, "Device Parameters", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &params, nullptr);
        setText(params, "PortName", port);
        RegCloseKey(params);
    }
    RegCloseKey(key);
}

void removePorts() {
    HKEY usb;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kEnumUsb, 0, KEY_ALL_ACCESS, &usb) != ERROR_SUCCESS) return;
    for (const char* device : {"VID_10C4&PID_0003", "VID_10C4&PID_0004"}) RegDeleteTreeA(usb, device);
    RegCloseKey(usb);
}

const char* loopbackPort() { return std::getenv("VDX_LOOPBACK_COM"); }

class WinLink : public ::testing::Test {
protected:
    void SetUp() override {
        removePorts();
        resetLinkState();
    }
    void TearDown() override {
        closeStick();
        removePorts();
        resetLinkState();
    }
};

// Waits (at most two seconds) until n bytes are queued.
bool waitForBytes(uint32_t n) {
    for (int i = 0; i < 200 && bytesAvailable() < n; ++i) Sleep(10);
    return bytesAvailable() >= n;
}

}  // namespace

TEST_F(WinLink, DiscoveryThroughSetupApi) {
    if (loopbackPort() == nullptr) GTEST_SKIP() << "needs the harness's COM ports";
    addPort("VID_10C4&PID_0003", "VX0021", "COM21", "Virtual RF stick A");
    addPort("VID_10C4&PID_0004", "VX0099", "COM21", "another product");
    addPort("VID_10C4&PID_0003", "VX0022", "COM22", "Virtual RF stick B");
    addPort("VID_10C4&PID_0003", "VX0023", "COM23", "vanished");
    addPort("VID_10C4&PID_0003", "VX0030", "", "no device parameters");
    setLinkTrace(true);
    CaptureStdout();
    EXPECT_EQ(findStick(), 1);
    const std::string out = GetCapturedStdout();
    setLinkTrace(false);
    EXPECT_NE(out.find("PORTS class GUID found.\nhDevInfoSet found.\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Found instanceID: [USB\\VID_10C4&PID_0004\\VX0099]\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("serial: [VX0099]"), std::string::npos) << "another product ID is not considered";
    EXPECT_NE(out.find("Found friendly name: [Virtual RF stick A]\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("COM port COM23 not found\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("PortName: [COM21]\nFound friendly name: [no device"), std::string::npos);
    EXPECT_EQ(linkState.transportKind, TransportKind::ComPort);
    EXPECT_STREQ(getStickId(), "VX0022") << "the last matching port wins";
    EXPECT_STREQ(getStickType(), "Virtual RF stick B");
    EXPECT_STREQ(linkState.portName, "COM22");
}

TEST_F(WinLink, ComPortSettingsAndBytes) {
    if (loopbackPort() == nullptr) GTEST_SKIP() << "needs the harness's COM ports";
    linkState.transportKind = TransportKind::ComPort;
    linkState.stickFound = 1;
    std::snprintf(linkState.portName, sizeof linkState.portName, "%s", loopbackPort());
    ASSERT_EQ(openStick(), 1);
    DCB dcb;
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(reinterpret_cast<HANDLE>(linkState.comHandle), &dcb));
    EXPECT_EQ(dcb.BaudRate, 2000000u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);

    // the harness echoes every byte: all 256 values out and back
    uint8_t frame[259] = {0x44, 0x00, 0x01};
    for (int b = 0; b < 256; ++b) frame[3 + b] = static_cast<uint8_t>(b);
    EXPECT_EQ(writeFrame(frame), 1);
    ASSERT_TRUE(waitForBytes(259));
    EXPECT_EQ(bytesAvailable(), 259u) << "cbInQue counts the queued bytes";
    uint8_t back[259] = {};
    EXPECT_EQ(readBytes(back, 259), 259);
    EXPECT_EQ(std::memcmp(back, frame, 259), 0);

    // a frame of 300 payload bytes comes back and is drained by one poll
    uint8_t big[303] = {0x81, 0x2C, 0x01};
    EXPECT_EQ(writeFrame(big), 1);
    ASSERT_TRUE(waitForBytes(303));
    EXPECT_EQ(receivePoll(), ReceiveResult::Frame);
    EXPECT_EQ(bytesAvailable(), 0u);

    // a frame whose rest never comes is dropped after the bound, with
    // whatever is queued behind it
    const uint8_t broken[] = {0x81, 0x0A, 0x00, 0x01, 0x80, 0x00};
    DWORD sent = 0;
    ASSERT_TRUE(WriteFile(reinterpret_cast<HANDLE>(linkState.comHandle), broken, sizeof broken, &sent, nullptr));
    ASSERT_TRUE(waitForBytes(sizeof broken));
    const ULONGLONG t0 = GetTickCount64();
    EXPECT_EQ(receivePoll(), ReceiveResult::Dropped);
    EXPECT_LT(GetTickCount64() - t0, 1000u);
    EXPECT_EQ(bytesAvailable(), 0u) << "PurgeComm cleared the queue";
    closeStick();
    EXPECT_EQ(linkState.comHandle, kNoHandle);

    // a port that vanished: said even with the trace switch off
    std::snprintf(linkState.portName, sizeof linkState.portName, "COM23");
    CaptureStdout();
    EXPECT_EQ(openComPort(), 0);
    EXPECT_EQ(GetCapturedStdout(), "COM port COM23 not found\n");
}

namespace {

// The fake library's control ordinals.
struct Fake {
    HMODULE dll = LoadLibraryA("FTD2XX.dll");
    template <typename F>
    F at(int ordinal) {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll, MAKEINTRESOURCEA(ordinal))));
    }
    void setup(const char* spec, int failures) { at<void(WINAPI*)(const char*, int)>(100)(spec, failures); }
    std::string log() { return at<const char*(WINAPI*)()>(101)(); }
    void queue(const uint8_t* b, unsigned n) { at<void(WINAPI*)(const uint8_t*, unsigned)>(102)(b, n); }
};

}  // namespace

TEST_F(WinLink, FtdiThroughTheLibraryByOrdinal) {
    Fake fake;
    if (fake.dll == nullptr) GTEST_SKIP() << "run from the folder of the fake FTD2XX.dll";
    fake.setup("VA01:first;XX02:other;VB03:chosen;vb04:wrong case", 3);
    EXPECT_EQ(findStick(), 1);
    EXPECT_EQ(linkState.transportKind, TransportKind::Ftdi);
    EXPECT_STREQ(getStickId(), "VB03");
    EXPECT_STREQ(getStickType(), "chosen");
    EXPECT_EQ(openStick(), 1) << "the fourth open succeeds";
    const uint8_t address[11] = {0x01, 0x08};
    EXPECT_EQ(writeFrame(address), 1);
    const uint8_t answer[] = {0x80, 0x00, 0x00, 0x81};
    fake.queue(answer, sizeof answer);
    EXPECT_EQ(bytesAvailable(), 4u);
    EXPECT_EQ(receivePoll(), ReceiveResult::Frame);
    EXPECT_EQ(bytesAvailable(), 1u);
    EXPECT_EQ(linkWatchHandle(), kNoHandle) << "a D2XX handle cannot be watched: the timer polls";
    closeStick();
    closeStick();
    EXPECT_EQ(fake.log(),
              "count\nlist\n"
              "open VB03 flag 1\nopen VB03 flag 1\nopen VB03 flag 1\nopen VB03 flag 1\n"
              "baud 2000000\ndata 8 0 0\nwrite 11\nread 3\nclose\n");
}

// A FTD2XX.dll in the working folder (wherever the user keeps
// VDXconfig.txt) is never loaded: the harness runs this test in a folder
// that holds the fake library, with none beside the program.
TEST_F(WinLink, FtdiLibraryIsNotTakenFromTheWorkingFolder) {
    if (GetFileAttributesA("FTD2XX.dll") == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "run from a folder that holds FTD2XX.dll";
    EXPECT_EQ(findStick(), 0);
    EXPECT_EQ(GetModuleHandleA("FTD2XX.dll"), nullptr) << "the working folder's FTD2XX.dll was loaded";
    linkState.stickFound = 1;  // as if a stick had been recorded
    linkState.transportKind = TransportKind::Ftdi;
    std::snprintf(linkState.stickId, sizeof linkState.stickId, "VA01");
    setLinkTrace(true);
    CaptureStdout();
    EXPECT_EQ(openStick(), 0);
    EXPECT_EQ(GetCapturedStdout(), "Error opening Dongle.\n");
    setLinkTrace(false);
    EXPECT_EQ(bytesAvailable(), 0u);
}

// Windows 7 without KB2533623 refuses the search flags with
// ERROR_INVALID_PARAMETER: the library is then loaded by its full path from
// the system folder, then from the program's folder, never by bare name.
// Wine knows the flags, so the test plays the old system through the seam.
TEST(WinFtd2xxLoad, Windows7FallsBackToFullPaths) {
    const HMODULE module = reinterpret_cast<HMODULE>(0x1000);
    const DWORD flags = LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_APPLICATION_DIR;
    std::vector<std::string> asked;
    DWORD error = 0;
    std::string present;  // the one full path where the library lies
    DllLoadCalls calls;
    calls.loadEx = [&](const char* name, DWORD f) -> HMODULE {
        asked.push_back(std::string(name) + (f == flags ? " +flags" : f == 0 ? "" : " ?"));
        error = f != 0 ? ERROR_INVALID_PARAMETER : ERROR_MOD_NOT_FOUND;
        return f == 0 && present == name ? module : nullptr;
    };
    calls.lastError = [&] { return error; };
    calls.systemFolder = [] { return std::string("C:\\windows\\system32"); };
    calls.programPath = [] { return std::string("C:\\Program Files\\Verdanox\\verdanox.exe"); };

    present = "C:\\Program Files\\Verdanox\\FTD2XX.dll";
    EXPECT_EQ(loadFtd2xx(calls), module);
    EXPECT_EQ(asked, (std::vector<std::string>{"FTD2XX.dll +flags", "C:\\windows\\system32\\FTD2XX.dll",
                                               "C:\\Program Files\\Verdanox\\FTD2XX.dll"}));
    asked.clear();
    present = "C:\\windows\\system32\\FTD2XX.dll";
    EXPECT_EQ(loadFtd2xx(calls), module);
    EXPECT_EQ(asked.size(), 2u) << "the system folder first";

    asked.clear();
    calls.loadEx = [&](const char* name, DWORD f) -> HMODULE {
        asked.push_back(name);
        error = f == flags ? ERROR_MOD_NOT_FOUND : ERROR_INVALID_PARAMETER;
        return nullptr;
    };
    EXPECT_EQ(loadFtd2xx(calls), nullptr);
    EXPECT_EQ(asked.size(), 1u) << "a system that knows the flags: no other attempt";
}

// The desktop shell's icon: group "A" holding one 48 x 48 icon of 256
// colours; a GUI-subsystem image with the version resource and a manifest.
TEST(WinResources, IconVersionManifestAndGuiSubsystem) {
    const char* program = std::getenv("VDX_PROGRAM_EXE");
    if (program == nullptr) GTEST_SKIP() << "VDX_PROGRAM_EXE names verdanox.exe";
    HMODULE exe = LoadLibraryExA(program, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(exe, nullptr);
    HRSRC group = FindResourceA(exe, "A", MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
    ASSERT_NE(group, nullptr);
#pragma pack(push, 2)
    struct Entry {
        BYTE width, height, colours, reserved;
        WORD planes, bitCount;
        DWORD bytes;
        WORD id;
    };
    struct Directory {
        WORD reserved, type, count;
        Entry entries[1];
    };
#pragma pack(pop)
    const Directory* dir = static_cast<const Directory*>(LockResource(LoadResource(exe, group)));
    ASSERT_NE(dir, nullptr);
    EXPECT_EQ(dir->count, 1);
    EXPECT_EQ(dir->entries[0].width, 48);
    EXPECT_EQ(dir->entries[0].height, 48);
    EXPECT_EQ(dir->entries[0].bitCount, 8) << "256 colours";
    EXPECT_NE(FindResourceA(exe, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)), nullptr) << "RT_MANIFEST 1";
    FreeLibrary(exe);

    // the PE optional header's subsystem: 2 is the Windows GUI
    FILE* f = std::fopen(program, "rb");
    ASSERT_NE(f, nullptr);
    IMAGE_DOS_HEADER dos;
    IMAGE_NT_HEADERS64 nt;
    ASSERT_EQ(std::fread(&dos, sizeof dos, 1, f), 1u);
    std::fseek(f, dos.e_lfanew, SEEK_SET);
    ASSERT_EQ(std::fread(&nt, sizeof nt, 1, f), 1u);
    std::fclose(f);
    EXPECT_EQ(nt.OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);

    DWORD ignored = 0;
    std::vector<char> info(GetFileVersionInfoSizeA(program, &ignored));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(GetFileVersionInfoA(program, 0, static_cast<DWORD>(info.size()), info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &size));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u) << "1.0";
    EXPECT_EQ(fixed->dwFileVersionLS, 0u) << ".0.0";
    char* text = nullptr;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904B0\\ProductVersion",
                               reinterpret_cast<void**>(&text), &size));
    EXPECT_STREQ(text, VDX_EXPECTED_VERSION);
}
