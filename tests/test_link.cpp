// The link's logic above the platform seam, against a scripted fake.
#include <gtest/gtest.h>

#include <string>

#include "link/link.h"
#include "tests/fake_platform.h"

using namespace vdx;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

SerialPortInfo port(const std::string& id, const std::string& name, const std::string& desc = "RF stick") {
    SerialPortInfo p;
    p.instanceId = id;
    p.portName = name;
    p.description = desc;
    return p;
}

const std::string kCdc = "USB\\VID_10C4&PID_0003\\";

class Link : public ::testing::Test {
protected:
    void SetUp() override {
        resetLinkState();
        setLinkPlatform(&fake);
    }
    void TearDown() override {
        setLinkPlatform(nullptr);
        resetLinkState();
    }
    void useComPort() {
        linkState.transportKind = TransportKind::ComPort;
        linkState.comHandle = 7;
    }
    FakePlatform fake;
};

}  // namespace

TEST_F(Link, NoStickLeavesStateEmptyAndPrintsNothing) {
    fake.ports = {port("USB\\VID_1234&PID_0001\\VX1", "/dev/ttyACM0")};
    CaptureStdout();
    EXPECT_EQ(findStick(), 0);
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(linkState.transportKind, TransportKind::None);
    EXPECT_EQ(linkState.stickFound, 0);
    EXPECT_STREQ(getStickId(), "");
    EXPECT_STREQ(getStickType(), "");
    EXPECT_EQ(openStick(), 0);
    EXPECT_EQ(fake.count("open"), 0u) << "openStick with None calls nothing";
    EXPECT_EQ(fake.count("ftdiCount"), 1u);
}

TEST_F(Link, CdcSearchTracesAndWinsOverFtdi) {
    fake.ports = {port("PCI\\VEN_8086", "/dev/ttyS0"), port(kCdc + "VX0001", "/dev/ttyACM0", "Virtual RF stick")};
    fake.ftdi = {{"VA123", "FTDI stick"}};
    setLinkTrace(true);
    CaptureStdout();
    EXPECT_EQ(findStick(), 1);
    EXPECT_EQ(GetCapturedStdout(),
              "PORTS class GUID found.\n"
              "hDevInfoSet found.\n"
              "Found instanceID: [PCI\\VEN_8086]\n"
              "Found instanceID: [USB\\VID_10C4&PID_0003\\VX0001]\n"
              "Found one instance, serial: [VX0001]\n"
              "Found PortName: [/dev/ttyACM0]\n"
              "Found friendly name: [Virtual RF stick]\r\n"
              "Silabs CDC found.\n");
    EXPECT_EQ(linkState.transportKind, TransportKind::ComPort);
    EXPECT_STREQ(getStickId(), "VX0001");
    EXPECT_STREQ(getStickType(), "Virtual RF stick");
    EXPECT_STREQ(linkState.portName, "/dev/ttyACM0");
    EXPECT_EQ(fake.count("ftdi"), 0u) << "the FTDI library is not asked";
}

TEST_F(Link, CdcCandidatesThatAreRefusedOrSkipped) {
    fake.ports = {
        port(kCdc + "VX0001", "/dev/ttyACM0", "first"),
        port("USB\\VID_10C4&PID_0004\\VX0002", "/dev/ttyACM1"),  // other product
        port("USB\\VID_10c4&PID_0003\\VX0003", "/dev/ttyACM2"),  // lower-case vendor digits
        port(kCdc, "/dev/ttyACM3"),                              // empty serial
        port(kCdc + "vx0004", "/dev/ttyACM4"),                   // prefix in the other case
        port(kCdc + "VX0005", "/dev/ttyACM5"),                   // busy
        port(kCdc + "VX0006", "/dev/ttyACM6"),                   // vanished
        port(kCdc + "VX0007", "/dev/ttyACM7"),                   // no device key
        port(kCdc + "VX0008", "/dev/ttyACM8", "last"),
    };
    fake.ports[7].hasDeviceKey = false;
    fake.probeResults["/dev/ttyACM5"] = PortOpenResult::Error;
    fake.probeResults["/dev/ttyACM6"] = PortOpenResult::NotFound;
    setLinkTrace(true);
    CaptureStdout();
    EXPECT_EQ(findCdcPort(), 1);
    const std::string out = GetCapturedStdout();
    EXPECT_NE(out.find("Error opening COM port /dev/ttyACM5\n"), std::string::npos);
    EXPECT_NE(out.find("COM port /dev/ttyACM6 not found\n"), std::string::npos);
    EXPECT_EQ(out.find("[/dev/ttyACM7]"), std::string::npos) << "no port name read without a device key";
    EXPECT_STREQ(getStickId(), "VX0008") << "the last matching port wins";
    EXPECT_STREQ(getStickType(), "last");
    // probed before the serial prefix test: ACM0, ACM3, ACM4, ACM5, ACM6, ACM8
    EXPECT_EQ(fake.count("probePort"), 6u);
}

TEST_F(Link, LongValuesAreCut) {
    const std::string serial = "VX" + std::string(40, '7');
    fake.ports = {port(kCdc + serial, "/dev/" + std::string(100, 'p'), std::string(300, 'd'))};
    EXPECT_EQ(findStick(), 1);
    EXPECT_EQ(std::string(getStickId()), serial.substr(0, 15));
    EXPECT_EQ(std::string(getStickType()), std::string(63, 'd'));
    EXPECT_EQ(std::string(linkState.portName), ("/dev/" + std::string(100, 'p')).substr(0, 63));
}

TEST_F(Link, FtdiLastMatchWinsAndCaseMatters) {
    fake.ports.clear();
    fake.ftdi = {{"VA0001", "first"}, {"va0002", "lower"}, {"VB0003", "chosen"}, {"XX0004", "other"}};
    setLinkTrace(true);
    CaptureStdout();
    EXPECT_EQ(findStick(), 1);
    const std::string out = GetCapturedStdout();
    EXPECT_NE(out.find("Number of devices is 4\nSerial: VA0001\nDescription: first\nSerial: va0002\n"),
              std::string::npos);
    EXPECT_EQ(linkState.transportKind, TransportKind::Ftdi);
    EXPECT_STREQ(getStickId(), "VB0003");
    EXPECT_STREQ(getStickType(), "chosen");

    resetLinkState();
    fake.ftdi = {{"va0002", "lower"}, {"vB0003", "mixed"}};
    EXPECT_EQ(findStick(), 0);
    EXPECT_EQ(linkState.transportKind, TransportKind::None);
}

TEST_F(Link, FtdiCountOrListFailure) {
    fake.ftdi = {{"VA0001", "stick"}};
    fake.countStatus = 4;
    EXPECT_EQ(findStick(), 0);
    EXPECT_EQ(fake.count("ftdiList"), 0u) << "a failed count is zero devices";
    fake.countStatus = 0;
    fake.listStatus = 4;
    EXPECT_EQ(findStick(), 0);
    fake.listStatus = 0;
    fake.listedOverride = 0;
    EXPECT_EQ(findStick(), 0);
    fake.listedOverride = 1000;  // more than were counted: only the counted are walked
    EXPECT_EQ(findStick(), 1);
    EXPECT_EQ(linkState.stickFound, 1);
}

TEST_F(Link, FtdiOpenRetriesAndConfigures) {
    fake.ftdi = {{"VA0001", "stick"}};
    ASSERT_EQ(findStick(), 1);
    EXPECT_EQ(openFtdiStick(), 1);
    closeStick();

    fake.calls.clear();
    fake.openFailures = 3;
    EXPECT_EQ(openStick(), 1) << "success on the fourth attempt";
    EXPECT_EQ(fake.count("ftdiOpen"), 4u);
    EXPECT_EQ(fake.openedSerial, "VA0001");
    EXPECT_EQ(fake.count("ftdiSetBaudRate 2000000"), 1u);
    EXPECT_EQ(fake.count("ftdiSetData 800"), 1u);
    closeStick();
    closeStick();
    EXPECT_EQ(fake.closes, 2) << "two opens, two closes: the second closeStick did nothing";
}

TEST_F(Link, FtdiOpenFailures) {
    fake.ftdi = {{"VA0001", "stick"}};
    ASSERT_EQ(findStick(), 1);
    setLinkTrace(true);
    struct Case {
        int open, baud, data;
        const char* line;
        int closes;
    } cases[] = {{4, 0, 0, "Error opening Dongle.\n", 0},
                 {0, 4, 0, "Error setting baudrate.\n", 1},
                 {0, 0, 4, "Error setting Data characteristics.\n", 1}};
    for (const Case& c : cases) {
        fake.closes = 0;
        fake.openFailures = c.open;
        fake.baudFailures = c.baud;
        fake.dataFailures = c.data;
        CaptureStdout();
        EXPECT_EQ(openFtdiStick(), 0);
        EXPECT_EQ(GetCapturedStdout(), c.line);
        EXPECT_EQ(fake.closes, c.closes) << c.line;
        EXPECT_EQ(linkState.ftdiHandle, kNoHandle);
    }
    linkState.stickFound = 0;
    fake.calls.clear();
    EXPECT_EQ(openFtdiStick(), 0);
    EXPECT_TRUE(fake.calls.empty());
}

TEST_F(Link, ComPortOpenKeepsDriverSettings) {
    fake.ports = {port(kCdc + "VX1", "/dev/ttyACM0")};
    ASSERT_EQ(findStick(), 1);
    EXPECT_EQ(openStick(), 1);
    EXPECT_EQ(fake.appliedSettings.baudRate, 2000000u);
    EXPECT_EQ(fake.appliedSettings.byteSize, 8);
    EXPECT_EQ(fake.appliedSettings.parity, 0);
    EXPECT_EQ(fake.appliedSettings.stopBits, 0);
    EXPECT_EQ(fake.appliedSettings.native, (std::vector<uint8_t>{1, 2, 3})) << "other driver fields kept";
    EXPECT_EQ(fake.appliedTimeouts.readInterval, 0xFFFFFFFFu);
    EXPECT_EQ(fake.appliedTimeouts.readMultiplier + fake.appliedTimeouts.readConstant, 0u);
    EXPECT_EQ(fake.appliedTimeouts.writeMultiplier, 10u);
    EXPECT_EQ(fake.appliedTimeouts.writeConstant, 50u);
    EXPECT_EQ(fake.count("setPortQueues 1024 1024"), 1u);
    EXPECT_EQ(linkState.comHandle, 7);
    closeStick();
    closeStick();
    EXPECT_EQ(fake.closes, 1);
    EXPECT_EQ(linkState.comHandle, kNoHandle);
}

TEST_F(Link, ComPortOpenFailuresAlwaysPrint) {
    fake.ports = {port(kCdc + "VX1", "/dev/ttyACM0")};
    ASSERT_EQ(findStick(), 1);
    struct Case {
        PortOpenResult open;
        bool get, set, timeouts;
        const char* line;
    } cases[] = {
        {PortOpenResult::NotFound, true, true, true, "COM port /dev/ttyACM0 not found\n"},
        {PortOpenResult::Error, true, true, true, "Error opening COM port /dev/ttyACM0\n"},
        {PortOpenResult::Ok, false, true, true, "Error getting serial parameters.\n"},
        {PortOpenResult::Ok, true, false, true, "Error setting serial parameters.\n"},
        {PortOpenResult::Ok, true, true, false, "Error setting timeouts.\n"},
    };
    for (const Case& c : cases) {
        fake.closes = 0;
        fake.openResult = c.open;
        fake.getSettingsOk = c.get;
        fake.setSettingsOk = c.set;
        fake.timeoutsOk = c.timeouts;
        CaptureStdout();  // trace is off: these lines print anyway
        EXPECT_EQ(openComPort(), 0);
        EXPECT_EQ(GetCapturedStdout(), c.line);
        EXPECT_EQ(linkState.comHandle, kNoHandle);
        EXPECT_EQ(fake.closes, c.open == PortOpenResult::Ok ? 1 : 0) << c.line;
    }
}

TEST_F(Link, FramesAreWrittenWhole) {
    useComPort();
    uint8_t frame[200] = {0x44};
    for (int n : {0, 8, 94, 115}) {
        frame[1] = static_cast<uint8_t>(n);
        EXPECT_EQ(writeFrame(frame), 1);
        EXPECT_EQ(fake.written.back().size(), static_cast<size_t>(n + 3));
    }
    linkState.transportKind = TransportKind::Ftdi;
    EXPECT_EQ(writeFrame(frame), 1);
    EXPECT_EQ(fake.written.back().size(), 118u);

    fake.writeAccepts = 50;
    setLinkTrace(true);
    CaptureStdout();
    EXPECT_EQ(writeFrame(frame), 0);
    EXPECT_EQ(GetCapturedStdout(),
              "ERROR: Could not write to device.\nTried to write 118 bytes, succeeded to write 50.\n");
    setLinkTrace(false);
    useComPort();
    EXPECT_EQ(writeFrame(frame), 0);

    linkState.transportKind = TransportKind::None;
    const size_t before = fake.written.size();
    CaptureStdout();
    EXPECT_EQ(writeFrame(frame), 0);
    EXPECT_EQ(bytesAvailable(), 0u);
    EXPECT_EQ(readBytes(frame, 3), 0);
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(fake.written.size(), before);
}

TEST_F(Link, ReceivePollTakesOneFramePerRun) {
    for (TransportKind kind : {TransportKind::ComPort, TransportKind::Ftdi}) {
        useComPort();
        linkState.transportKind = kind;
        fake.readSizes.clear();
        fake.rx = {0x81, 0x00};  // two bytes: not a header yet
        receivePoll();
        EXPECT_TRUE(fake.readSizes.empty());
        EXPECT_EQ(fake.rx.size(), 2u);

        fake.rx = {0x81, 0x00, 0x00, 0x82, 0x02, 0x00, 0xAA, 0xBB};
        receivePoll();
        EXPECT_EQ(fake.rx.size(), 5u) << "a 0-length frame consumes exactly 3 bytes";
        receivePoll();
        EXPECT_TRUE(fake.rx.empty()) << "the second frame takes a second run";
        EXPECT_EQ(fake.readSizes, (std::vector<uint32_t>{1, 1, 1, 1, 1, 1, 2}));

        // 300 bytes in one read; 600 bytes in pieces of at most 509
        for (uint32_t n : {300u, 600u, 65535u}) {
            fake.readSizes.clear();
            fake.rx.assign(n + 3, 0x5A);
            fake.rx[1] = static_cast<uint8_t>(n & 0xFF);
            fake.rx[2] = static_cast<uint8_t>(n >> 8);
            fake.rx.push_back(0x01);  // the next frame's first byte stays
            receivePoll();
            EXPECT_EQ(fake.rx.size(), 1u) << n << " payload bytes drained";
            for (size_t i = 3; i < fake.readSizes.size(); ++i) EXPECT_LE(fake.readSizes[i], 509u);
            if (n == 300) {
                EXPECT_EQ(fake.readSizes.size(), 4u);
            }
        }
    }
}

TEST_F(Link, ReadGivesUpWhenTheRestNeverArrives) {
    useComPort();
    fake.rx = {0x81, 0x0A, 0x00, 1, 2, 3};  // announces 10, 3 came
    receivePoll();
    EXPECT_GE(fake.clock, kReadWaitBoundMs) << "waited about the bound";
    EXPECT_LT(fake.clock, kReadWaitBoundMs + 10);
    EXPECT_EQ(fake.rx.size(), 3u) << "the partial payload is left for the next poll";

    fake.waitingOk = false;  // a failing queue query counts as 0
    fake.rx.assign(10, 0);
    receivePoll();
    EXPECT_EQ(fake.rx.size(), 10u);
}
