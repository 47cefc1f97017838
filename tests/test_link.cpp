// The link's logic above the platform seam, against a scripted fake.
#include <gtest/gtest.h>

#include <string>

#include "link/keeper.h"
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
    EXPECT_EQ(writeFrame(frame), 0) << "no FTDI handle: nothing reaches the driver";
    linkState.ftdiHandle = 9;
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
        linkState.ftdiHandle = 9;
        fake.readSizes.clear();
        fake.rx = {0x81, 0x00, 0x00, 0x82, 0x02, 0x00, 0xAA, 0xBB};
        EXPECT_EQ(receivePoll(), ReceiveResult::Frame);
        EXPECT_EQ(fake.rx.size(), 5u) << "a 0-length frame consumes exactly 3 bytes";
        EXPECT_EQ(receivePoll(), ReceiveResult::Frame);
        EXPECT_TRUE(fake.rx.empty()) << "the second frame takes a second run";
        EXPECT_EQ(fake.readSizes, (std::vector<uint32_t>{3, 3, 2}));
        EXPECT_EQ(receivePoll(), ReceiveResult::Idle);

        // 300 bytes in one read; 600 and 65535 bytes in pieces of at most 509
        for (uint32_t n : {300u, 600u, 65535u}) {
            fake.readSizes.clear();
            fake.rx.assign(n + 3, 0x5A);
            fake.rx[1] = static_cast<uint8_t>(n & 0xFF);
            fake.rx[2] = static_cast<uint8_t>(n >> 8);
            fake.rx.push_back(0x01);  // the next frame's first byte stays
            EXPECT_EQ(receivePoll(), ReceiveResult::Frame);
            EXPECT_EQ(fake.rx.size(), 1u) << n << " payload bytes drained";
            for (size_t i = 1; i < fake.readSizes.size(); ++i) EXPECT_LE(fake.readSizes[i], 509u);
            if (n == 300) {
                EXPECT_EQ(fake.readSizes, (std::vector<uint32_t>{3, 300}));
            }
        }
        fake.rx.clear();
    }
}

// Frames that arrive in pieces are finished within one deadline; a frame
// whose rest does not come in time is dropped with everything queued, so
// the next frame is read from its header. Short reads count for what they
// delivered.
TEST_F(Link, ReceivePollWaitsOnceAndResynchronises) {
    for (TransportKind kind : {TransportKind::ComPort, TransportKind::Ftdi}) {
        useComPort();
        linkState.transportKind = kind;
        linkState.ftdiHandle = 9;
        fake.clock = 0;
        fake.rx = {0x81, 0x04};  // a header that is not complete yet
        fake.arrivals = {{5, {0x00, 1, 2}}, {30, {3, 4, 0x80, 0x00}}};
        EXPECT_EQ(receivePoll(), ReceiveResult::Frame);
        EXPECT_EQ(fake.rx.size(), 2u) << "the next frame's first two bytes stay";
        EXPECT_TRUE(fake.clock >= 30 && fake.clock < 35) << "woke when the rest arrived: " << fake.clock;
        fake.clock = 40;
        EXPECT_EQ(receivePoll(), ReceiveResult::Dropped) << "two header bytes that are never completed";

        // announces 4000 bytes that trickle in at 100 bytes per 50 ms
        fake.clock = 1000;
        fake.rx = {0x81, 0xA0, 0x0F};
        fake.rx.insert(fake.rx.end(), 100, 0xA5);
        for (uint64_t t = 1050; t < 3000; t += 50) fake.arrivals.insert({t, std::vector<uint8_t>(100, 0xA5)});
        EXPECT_EQ(receivePoll(), ReceiveResult::Dropped);
        EXPECT_LE(fake.clock, 1000 + kReadWaitBoundMs + 5) << "one deadline for the whole frame";
        EXPECT_TRUE(fake.rx.empty()) << "what was queued is discarded";
        fake.arrivals.clear();

        // short reads: every read delivers at most 7 bytes
        fake.readLimit = 7;
        fake.rx.assign(303, 0x11);
        fake.rx[1] = 0x2C;
        fake.rx[2] = 0x01;
        fake.rx.insert(fake.rx.end(), {0x82, 0x00, 0x00});
        EXPECT_EQ(receivePoll(), ReceiveResult::Frame);
        EXPECT_EQ(fake.rx.size(), 3u) << "the frame ends where its bytes end";
        fake.readLimit = ~0u;
        EXPECT_EQ(receivePoll(), ReceiveResult::Frame);

        // a driver that announces bytes it never delivers
        fake.queueLie = 5;
        fake.rx = {0x81, 0x10, 0x00};
        EXPECT_EQ(receivePoll(), ReceiveResult::Dropped);
        fake.queueLie = 0;
    }
    EXPECT_GT(fake.purges, 0) << "a COM port is purged";
}

// A device that hands out a byte per read (each read taking 1 ms) cannot
// hold a run of the poll past its bound, whether the frame is queued whole
// or trickles in so that every query finds a byte; the runs after a drop
// resynchronise, and the next frame is read from its header.
TEST_F(Link, ReceivePollBoundHoldsOnEveryPass) {
    for (TransportKind kind : {TransportKind::ComPort, TransportKind::Ftdi}) {
        for (bool trickle : {false, true}) {
            useComPort();
            linkState.transportKind = kind;
            linkState.ftdiHandle = 9;
            fake.clock = 0;
            fake.readCost = 1;
            fake.readLimit = 1;
            fake.rx = {0x81, 0xFF, 0xFF};  // announces 65535 bytes
            if (trickle)
                for (uint64_t t = 1; t <= 3000; ++t) fake.arrivals.insert({t, {0xA5}});
            else
                fake.rx.resize(3 + 65535, 0xA5);
            uint64_t longest = 0;
            int runs = 0;
            for (ReceiveResult r = ReceiveResult::Dropped; r == ReceiveResult::Dropped && runs < 2000; ++runs) {
                const uint64_t start = fake.clock;
                r = receivePoll();
                longest = std::max(longest, fake.clock - start);
                if (r == ReceiveResult::Dropped && fake.clock >= 3000) fake.arrivals.clear();
            }
            EXPECT_LE(longest, kReadWaitBoundMs + 1) << "trickle " << trickle;
            EXPECT_TRUE(fake.rx.empty());
            fake.readLimit = ~0u;
            fake.rx = {0x80, 0x01, 0x00, 0x00};
            EXPECT_EQ(receivePoll(), ReceiveResult::Frame) << "the next frame from its header";
            fake.readCost = 0;
        }
    }
}

TEST_F(Link, ReceivePollSeesHangUpAndFailures) {
    useComPort();
    EXPECT_EQ(receivePoll(), ReceiveResult::Idle);
    fake.rx = {0x81, 0x0A, 0x00, 1, 2, 3};  // announces 10, 3 came, then the stick is pulled out
    fake.hangUpAt = 20;
    EXPECT_EQ(receivePoll(), ReceiveResult::HungUp);
    EXPECT_EQ(receivePoll(), ReceiveResult::HungUp) << "a device that went away keeps saying so";

    fake.hangUpAt = ~0ull;
    fake.waitingOk = false;  // a failing queue query counts as 0
    fake.rx.assign(10, 0);
    EXPECT_EQ(receivePoll(), ReceiveResult::Idle);
    EXPECT_EQ(fake.rx.size(), 10u);

    fake.waitingOk = true;
    fake.readsFail = true;
    EXPECT_EQ(receivePoll(), ReceiveResult::Dropped);
    EXPECT_EQ(readBytes(nullptr, 0), 0);
    closeStick();
    EXPECT_EQ(receivePoll(), ReceiveResult::Idle) << "a closed link has nothing to poll";
    EXPECT_EQ(linkWatchHandle(), kNoHandle);
}

// Start-up failures explained: what was looked for, what was found and why
// it was not used.
TEST_F(Link, ExplainsWhyNoStickWasFoundOrOpened) {
    fake.ports = {port("USB\\VID_10C4&PID_0003\\VX0001", "/dev/ttyACM0"),
                  port("USB\\VID_0403&PID_6001\\AB1", "/dev/ttyUSB0")};
    fake.probeResults["/dev/ttyACM0"] = PortOpenResult::Busy;
    fake.ftdi = {{"XY99", "other"}};
    EXPECT_EQ(findStick(), 0);
    EXPECT_EQ(explainStickNotFound(),
              "USB RF stick not found: looked for a CDC stick (USB 10C4:0003, serial starting VX) and FTDI sticks "
              "(serial starting VA or VB)\n"
              "found: /dev/ttyACM0 [USB\\VID_10C4&PID_0003\\VX0001]: busy, held by another program (fake error); "
              "/dev/ttyUSB0 [USB\\VID_0403&PID_6001\\AB1]: not a stick; FTDI XY99: not a stick");
    fake.ports.clear();
    fake.ftdi.clear();
    EXPECT_EQ(findStick(), 0);
    EXPECT_NE(explainStickNotFound().find("\nno serial port and no FTDI device found"), std::string::npos);

    fake.ports = {port(kCdc + "VX0001", "/dev/ttyACM0")};
    fake.probeResults.clear();  // free at discovery, taken before the link opens
    ASSERT_EQ(findStick(), 1);
    fake.openResult = PortOpenResult::Busy;
    CaptureStdout();
    EXPECT_EQ(openStick(), 0);
    GetCapturedStdout();
    EXPECT_EQ(explainOpenFailure(),
              "cannot open USB RF stick VX0001 on /dev/ttyACM0: busy, held by another program (fake error)");
}

// A lost stick: the link is closed at once, the trouble is told once, each
// tick tries quietly to open it again, and its end is told once.
TEST_F(Link, KeeperClosesReopensAndTellsTwice) {
    fake.ports = {port(kCdc + "VX0001", "/dev/ttyACM0")};
    ASSERT_EQ(findStick(), 1);
    ASSERT_EQ(openStick(), 1);
    std::vector<std::string> told;
    int beforeClose = 0;
    LinkKeeper keeper;
    keeper.beforeClose = [&] { ++beforeClose; };
    keeper.troubleStarted = keeper.troubleEnded = [&](const std::string& line) { told.push_back(line); };

    keeper.tickStarting();
    keeper.tickDone(true, true);
    EXPECT_TRUE(told.empty());
    keeper.tickDone(true, false);  // a telegram did not go out
    EXPECT_TRUE(keeper.lost());
    EXPECT_EQ(beforeClose, 1) << "the watcher stops before the link closes";
    EXPECT_FALSE(linkIsOpen());

    fake.ports.clear();  // the stick is out: the attempts fail, quietly
    fake.calls.clear();
    CaptureStdout();
    for (int tick = 0; tick < 3; ++tick) {
        keeper.tickStarting();
        keeper.tickDone(true, false);
    }
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(fake.count("listSerialPorts"), 3u) << "one attempt per tick";
    EXPECT_STREQ(getStickId(), "VX0001") << "the about box keeps the last stick";
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0], kStickTroubleText);

    fake.ports = {port(kCdc + "VX0002", "/dev/ttyACM1")};  // back, under another name
    keeper.tickStarting();
    EXPECT_TRUE(linkIsOpen());
    keeper.tickDone(true, true);
    EXPECT_FALSE(keeper.lost());
    ASSERT_EQ(told.size(), 2u);
    EXPECT_EQ(told[1], "USB RF stick VX0002 on /dev/ttyACM1 is back: telegrams are being sent again");

    keeper.hungUp();  // pulled out with sending off; an FTDI stick comes instead
    fake.ports.clear();
    fake.ftdi = {{"VB0009", "FTDI stick"}};
    keeper.tickStarting();
    keeper.tickDone(false, false);
    EXPECT_EQ(told.size(), 4u);
    EXPECT_EQ(told[3], "USB RF stick VB0009 is back");
    EXPECT_EQ(linkState.transportKind, TransportKind::Ftdi);
}

// Reconnection takes the stick that was lost when it is back, over a later
// match and over a CDC stick when the lost one was an FTDI device; another
// stick only when the lost one is not there, and the line then names it.
TEST_F(Link, ReconnectionPrefersTheLostStick) {
    fake.ports = {port(kCdc + "VX0001", "/dev/ttyACM0")};
    ASSERT_EQ(findStick(), 1);
    ASSERT_EQ(openStick(), 1);
    std::vector<std::string> told;
    LinkKeeper keeper;
    keeper.troubleEnded = [&](const std::string& line) { told.push_back(line); };

    keeper.hungUp();
    fake.ports = {port(kCdc + "VX0001", "/dev/ttyACM1"), port(kCdc + "VX0002", "/dev/ttyACM0")};
    keeper.tickStarting();
    keeper.tickDone(true, true);
    EXPECT_STREQ(getStickId(), "VX0001") << "not the last match";
    EXPECT_EQ(told.back(), "USB RF stick VX0001 on /dev/ttyACM1 is back: telegrams are being sent again");

    keeper.hungUp();
    fake.ports = {port(kCdc + "VX0002", "/dev/ttyACM0")};
    keeper.tickStarting();
    keeper.tickDone(false, false);
    EXPECT_EQ(told.back(), "USB RF stick VX0002 on /dev/ttyACM0 is back") << "the other stick, named";

    fake.ports.clear();
    fake.ftdi = {{"VA0007", "FTDI stick"}};
    keeper.hungUp();
    keeper.tickStarting();
    EXPECT_STREQ(getStickId(), "VA0007");
    keeper.hungUp();
    fake.ports = {port(kCdc + "VX0002", "/dev/ttyACM0")};
    fake.ftdi = {{"VA0007", "FTDI stick"}, {"VB0008", "FTDI stick"}};
    keeper.tickStarting();
    EXPECT_STREQ(getStickId(), "VA0007") << "the lost FTDI stick over a CDC stick and a later FTDI match";
    EXPECT_EQ(linkState.transportKind, TransportKind::Ftdi);
    EXPECT_STREQ(linkState.portName, "");

    // a chosen stick, by serial or by port, and nothing else, ever
    chooseStick("/dev/ttyACM0");
    keeper.hungUp();
    fake.ftdi.clear();
    fake.ports = {port(kCdc + "VX0002", "/dev/ttyACM0"), port(kCdc + "VX0003", "/dev/ttyACM1")};
    keeper.tickStarting();
    EXPECT_STREQ(getStickId(), "VX0002") << "the port chosen, not the last match";
    chooseStick("VB0008");
    keeper.hungUp();
    fake.ftdi = {{"VA0007", "FTDI stick"}};
    keeper.tickStarting();
    EXPECT_FALSE(linkIsOpen()) << "never another stick";
    resetLinkState();
    EXPECT_EQ(findStick(), 0);
    EXPECT_NE(explainStickNotFound().find(", only VB0008\nfound: "), std::string::npos) << explainStickNotFound();
    chooseStick("");
}
