// The Linux backend: discovery in a fake sysfs tree, and the serial code on a
// pseudo-terminal that stands in for the stick.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "link/link.h"
#include "link/linux/linux_platform.h"

using namespace vdx;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

void writeFile(const std::string& path, const std::string& text) { std::ofstream(path) << text << "\n"; }
void mkdirs(const std::string& path) { ASSERT_EQ(std::system(("mkdir -p '" + path + "'").c_str()), 0); }
void link(const std::string& target, const std::string& path) { ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0); }

class LinuxBackend : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vdxsys.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root = tmpl;
        ASSERT_EQ(openpty(&master, &slave, slaveName, nullptr, nullptr), 0);
        mkdirs(root + "/sys/class/tty");
        mkdirs(root + "/dev");
        addTty("tty0");  // a virtual console: no device
        mkdirs(root + "/sys/devices/platform/serial8250/tty/ttyS0");
        link("../../devices/platform/serial8250/tty/ttyS0", root + "/sys/class/tty/ttyS0");
        link("../../../serial8250", root + "/sys/devices/platform/serial8250/tty/ttyS0/device");
        resetLinkState();
        setLinkPlatform(&platform);
    }
    void TearDown() override {
        closeStick();
        setLinkPlatform(nullptr);
        resetLinkState();
        if (master >= 0) close(master);
        close(slave);
        std::system(("rm -rf '" + root + "'").c_str());
    }

    // A CDC-ACM tty: class/tty/NAME -> devices/usb1/DEV/DEV:1.0/tty/NAME,
    // device -> the interface, whose parent is the USB device.
    void addAcm(const std::string& name, const std::string& dev, const std::vector<std::string>& ids) {
        const std::string usb = root + "/sys/devices/pci0000:00/usb1/" + dev;
        mkdirs(usb + "/" + dev + ":1.0/tty/" + name);
        usbIds(usb, ids);
        link("../../devices/pci0000:00/usb1/" + dev + "/" + dev + ":1.0/tty/" + name, root + "/sys/class/tty/" + name);
        link("../../../" + dev + ":1.0", usb + "/" + dev + ":1.0/tty/" + name + "/device");
        link(slaveName, root + "/dev/" + name);
    }
    // An FTDI tty: device -> a per-port directory below the interface.
    void addFtdi(const std::string& name, const std::string& dev, const std::vector<std::string>& ids) {
        const std::string usb = root + "/sys/devices/pci0000:00/usb1/" + dev;
        const std::string portDir = usb + "/" + dev + ":1.0/" + name;
        mkdirs(portDir + "/tty/" + name);
        usbIds(usb, ids);
        link("../../devices/pci0000:00/usb1/" + dev + "/" + dev + ":1.0/" + name + "/tty/" + name,
             root + "/sys/class/tty/" + name);
        link("../../../" + name, portDir + "/tty/" + name + "/device");
        link(slaveName, root + "/dev/" + name);
    }
    void addTty(const std::string& name) {
        mkdirs(root + "/sys/devices/virtual/tty/" + name);
        link("../../devices/virtual/tty/" + name, root + "/sys/class/tty/" + name);
    }
    void usbIds(const std::string& usb, const std::vector<std::string>& ids) {
        const char* files[] = {"idVendor", "idProduct", "serial", "product"};
        for (size_t i = 0; i < ids.size(); ++i) writeFile(usb + "/" + files[i], ids[i]);
    }

    std::string readMaster(size_t n) {
        std::string got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        char buf[512];
        while (got.size() < n && std::chrono::steady_clock::now() < end) {
            const ssize_t r = read(master, buf, sizeof buf);
            if (r > 0) got.append(buf, static_cast<size_t>(r));
        }
        return got;
    }

    std::string root;
    int master = -1, slave = -1;
    char slaveName[256];
    LinuxPlatform platform{"/nonexistent", "/nonexistent"};

    void usePlatformRoots() { platform = LinuxPlatform(root + "/sys", root + "/dev"); }
};

}  // namespace

TEST_F(LinuxBackend, FindsCdcAndFtdiSticksByUsbIdentity) {
    addAcm("ttyACM0", "1-1", {"10c4", "0003", "VX0001", "Virtual RF stick"});
    addAcm("ttyACM1", "1-2", {"10c4", "0004", "VX0002", "Other product"});
    addFtdi("ttyUSB0", "1-3", {"0403", "6001", "VA0042", "FTDI RF stick"});
    usePlatformRoots();

    std::vector<SerialPortInfo> ports;
    ASSERT_TRUE(platform.listSerialPorts(ports));
    ASSERT_EQ(ports.size(), 3u) << "ttyS0 and tty0 have no USB device";
    EXPECT_EQ(ports[0].instanceId, "USB\\VID_10C4&PID_0003\\VX0001");
    EXPECT_EQ(ports[0].portName, root + "/dev/ttyACM0");
    EXPECT_EQ(ports[0].description, "Virtual RF stick");
    EXPECT_EQ(ports[1].instanceId, "USB\\VID_10C4&PID_0004\\VX0002");
    EXPECT_EQ(ports[2].instanceId, "USB\\VID_0403&PID_6001\\VA0042");

    EXPECT_EQ(findStick(), 1);
    EXPECT_EQ(linkState.transportKind, TransportKind::ComPort);
    EXPECT_STREQ(getStickId(), "VX0001");
    EXPECT_STREQ(getStickType(), "Virtual RF stick");

    uint32_t count = 0;
    EXPECT_EQ(platform.ftdiCreateDeviceInfoList(&count), 0);
    ASSERT_EQ(count, 1u);
    DeviceListEntry entry;
    EXPECT_EQ(platform.ftdiGetDeviceInfoList(&entry, &count), 0);
    EXPECT_STREQ(entry.serialNumber, "VA0042");
    EXPECT_STREQ(entry.description, "FTDI RF stick");
}

TEST_F(LinuxBackend, FtdiStickOpensOverItsTty) {
    addFtdi("ttyUSB0", "1-3", {"0403", "6001", "VB0042", "FTDI RF stick"});
    usePlatformRoots();
    ASSERT_EQ(findStick(), 1);
    EXPECT_EQ(linkState.transportKind, TransportKind::Ftdi);
    ASSERT_EQ(openStick(), 1);
    termios t;
    ASSERT_EQ(tcgetattr(slave, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B2000000));
    EXPECT_EQ(linkWatchHandle(), linkState.ftdiHandle) << "the tty can be watched for input";
    const uint8_t frame[] = {0x01, 0x02, 0x00, 0x0D, 0x0A};
    EXPECT_EQ(writeFrame(frame), 1);
    EXPECT_EQ(readMaster(5), std::string("\x01\x02\x00\x0D\x0A", 5));

    // the read waits for bytes that are on their way, within its bound
    std::thread late([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_EQ(write(master, "\x11\x0D\x0A", 3), 3);
    });
    uint8_t in[3] = {};
    EXPECT_EQ(readBytes(in, 3), 3);
    late.join();
    EXPECT_EQ(std::string(reinterpret_cast<char*>(in), 3), "\x11\x0D\x0A") << "no XON/XOFF or CR/LF handling";

    // a frame whose payload comes 20 ms after its header is taken whole: its
    // tail is not read as the next header
    ASSERT_EQ(write(master, "\x81\x03\x00", 3), 3);
    std::thread tail([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_EQ(write(master, "\xB0\xB0\xB0", 3), 3);
    });
    // the window runs the poll once the descriptor is readable
    EXPECT_EQ(linkPlatform().ftdiWaitInput(linkState.ftdiHandle, 2000), WaitResult::Ready);
    EXPECT_EQ(receivePoll(), ReceiveResult::Frame);
    tail.join();
    EXPECT_EQ(bytesAvailable(), 0u);
    EXPECT_EQ(receivePoll(), ReceiveResult::Idle);
}

TEST_F(LinuxBackend, BusyPortIsSkippedAndOthersExclusiveModeKept) {
    addAcm("ttyACM0", "1-1", {"10c4", "0003", "VX0001", "Virtual RF stick"});
    usePlatformRoots();
    const int holder = open(slaveName, O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    setLinkTrace(true);
    CaptureStdout();
    EXPECT_EQ(findStick(), 0);
    EXPECT_NE(GetCapturedStdout().find("Error opening COM port " + root + "/dev/ttyACM0\n"), std::string::npos);
    ASSERT_EQ(lastDiscovery().ports.size(), 1u);
    EXPECT_EQ(lastDiscovery().ports[0].probe, PortOpenResult::Busy) << "a lock held by another program";
    flock(holder, LOCK_UN);
    setLinkTrace(false);

    // another program's exclusive mode: busy too, and our probe leaves it set
    ASSERT_EQ(ioctl(holder, TIOCEXCL), 0);
    EXPECT_EQ(findStick(), 0);
    int exclusive = 0;
    ASSERT_EQ(ioctl(holder, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1) << "the other program's exclusive mode survives";
    ASSERT_EQ(ioctl(holder, TIOCNXCL), 0);
    close(holder);

    EXPECT_EQ(findStick(), 1) << "free again once the other program let go";
    ASSERT_EQ(openStick(), 1);
    ASSERT_EQ(ioctl(slave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1) << "the link holds the port exclusively";
    closeStick();
    ASSERT_EQ(ioctl(slave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0) << "and lifts only its own exclusive mode";
}

// Every failing call leaves its own reason: an FTDI serial that is gone and a
// line setting the tty refuses are told as such, not with an older error.
TEST_F(LinuxBackend, FailuresTellTheirOwnReason) {
    addFtdi("ttyUSB0", "1-3", {"0403", "6001", "VA0001", "FTDI RF stick"});
    usePlatformRoots();
    ASSERT_EQ(findStick(), 1);
    ASSERT_EQ(unlink((root + "/sys/class/tty/ttyUSB0").c_str()), 0);  // pulled out
    EXPECT_EQ(openStick(), 0);
    EXPECT_EQ(explainOpenFailure(),
              "cannot open USB RF stick VA0001 (FTDI): the FTDI device did not open "
              "(FT_DEVICE_NOT_FOUND: no FTDI device has serial number VA0001)");

    LinkHandle h = kNoHandle;
    ASSERT_EQ(platform.openPort(slaveName, &h), PortOpenResult::Ok);
    EXPECT_EQ(platform.ftdiSetBaudRate(h, 12345), 6) << "FT_INVALID_PARAMETER";
    EXPECT_EQ(platform.ftdiErrorDetail(), "Invalid argument");
    EXPECT_EQ(ftdiStatusName(6), "FT_INVALID_PARAMETER");
    platform.portClose(h);
    PortSettings settings;
    EXPECT_FALSE(platform.getPortSettings(h, &settings));
    EXPECT_EQ(platform.lastErrorText(), "Bad file descriptor") << "a closed descriptor";
}

TEST_F(LinuxBackend, FtdiSerialLongerThanTheListHolds) {
    addFtdi("ttyUSB0", "1-3", {"0403", "6001", "VA0123456789ABCDEF01", "FTDI RF stick"});
    usePlatformRoots();
    ASSERT_EQ(findStick(), 1);
    EXPECT_STREQ(getStickId(), "VA0123456789ABC") << "cut to 15 characters by the device list";
    EXPECT_EQ(openStick(), 1) << "opened by the same cut serial";
}

TEST_F(LinuxBackend, ComPortSettingsBytesAndBounds) {
    addAcm("ttyACM0", "1-1", {"10c4", "0003", "VX0001", "Virtual RF stick"});
    usePlatformRoots();
    termios before;
    ASSERT_EQ(tcgetattr(slave, &before), 0);
    before.c_cflag |= CRTSCTS;  // a driver setting the link must keep
    before.c_iflag |= IXON | ICRNL;
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &before), 0);
    ASSERT_EQ(findStick(), 1);
    ASSERT_EQ(openStick(), 1);

    termios t;
    ASSERT_EQ(tcgetattr(slave, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B2000000));
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B2000000));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_NE(t.c_cflag & CRTSCTS, 0u) << "hardware flow control kept";
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR), 0u);
    EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);

    // all 256 byte values, both directions
    std::vector<uint8_t> frame = {0x44, 0x00, 0x01};
    for (int b = 0; b < 256; ++b) frame.push_back(static_cast<uint8_t>(b));
    EXPECT_EQ(writeFrame(frame.data()), 1);
    EXPECT_EQ(readMaster(frame.size()), std::string(frame.begin(), frame.end()));
    ASSERT_EQ(write(master, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
    std::vector<uint8_t> in(frame.size());
    EXPECT_EQ(readBytes(in.data(), static_cast<uint32_t>(in.size())), static_cast<int32_t>(in.size()));
    EXPECT_EQ(in, frame);
    EXPECT_EQ(bytesAvailable(), 0u);

    // a frame whose rest never comes: the poll gives up and discards it. The
    // bytes cross the pseudo-terminal asynchronously, so the poll starts
    // once they are there; the bound itself is checked on the fake clock
    // (Link tests), here only what a loaded machine can promise.
    const auto arrived = [] { return linkPlatform().portWaitInput(linkState.comHandle, 2000) == WaitResult::Ready; };
    ASSERT_EQ(write(master, "\x81\x0A\x00\x01", 4), 4);
    ASSERT_TRUE(arrived());
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(receivePoll(), ReceiveResult::Dropped);
    const auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(waited, std::chrono::milliseconds(kReadWaitBoundMs - 5));
    EXPECT_LT(waited, std::chrono::seconds(3));
    EXPECT_EQ(bytesAvailable(), 0u);

    // a frame that announces 4000 bytes and trickles in, 100 bytes each 10 ms:
    // one poll still ends, and the stream recovers afterwards
    std::thread trickle([this] {
        std::string chunk(100, '\xA5');
        chunk[0] = '\x81', chunk[1] = '\xA0', chunk[2] = '\x0F';
        for (int i = 0; i < 20; ++i, chunk.assign(100, '\xA5')) {
            ASSERT_EQ(write(master, chunk.data(), chunk.size()), 100);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    ASSERT_TRUE(arrived());
    const auto t1 = std::chrono::steady_clock::now();
    EXPECT_EQ(receivePoll(), ReceiveResult::Dropped);
    EXPECT_LT(std::chrono::steady_clock::now() - t1, std::chrono::seconds(3));
    trickle.join();
    // drain the rest of the trickle until the line stays quiet for 200 ms
    for (int i = 0; i < 100 && linkPlatform().portWaitInput(linkState.comHandle, 200) == WaitResult::Ready; ++i)
        receivePoll();
    EXPECT_EQ(bytesAvailable(), 0u);
    ASSERT_EQ(write(master, "\x80\x01\x00\x00", 4), 4);
    ASSERT_TRUE(arrived());
    EXPECT_EQ(receivePoll(), ReceiveResult::Frame) << "a good frame after the broken one is read whole";
    EXPECT_EQ(bytesAvailable(), 0u);
}

TEST_F(LinuxBackend, UnpluggedStickFailsFast) {
    addAcm("ttyACM0", "1-1", {"10c4", "0003", "VX0001", "Virtual RF stick"});
    usePlatformRoots();
    ASSERT_EQ(findStick(), 1);
    ASSERT_EQ(openStick(), 1);
    close(master);  // the far end goes away
    master = -1;
    const auto t0 = std::chrono::steady_clock::now();
    const uint8_t frame[11] = {0x01, 0x08};
    EXPECT_EQ(writeFrame(frame), 0);
    uint8_t b[4];
    EXPECT_EQ(bytesAvailable(), 0u);
    EXPECT_EQ(readBytes(b, 4), 0);
    EXPECT_EQ(receivePoll(), ReceiveResult::HungUp) << "a hung-up tty is readable for ever: it must be seen";
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
    closeStick();
    EXPECT_EQ(linkState.comHandle, kNoHandle);

    // the port vanished after discovery: said even with trace off
    unlink((root + "/dev/ttyACM0").c_str());
    CaptureStdout();
    EXPECT_EQ(openComPort(), 0);
    EXPECT_EQ(GetCapturedStdout(), "COM port " + root + "/dev/ttyACM0 not found\n");
}
