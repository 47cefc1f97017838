// The window's handlers and timers in-process: an FXApp that is never
// initialised hosts the window, so no display is needed. Frames go to the
// scripted link platform.
#include <gtest/gtest.h>

#include <cstring>

#include "app/VerdanoxWindow.h"
#include "config/config.h"
#include "link/link.h"
#include "telegram/send_cycle.h"
#include "tests/fake_platform.h"

using namespace vdx;

namespace {

class Window : public ::testing::Test {
protected:
    void SetUp() override {
        resetConfig();
        std::memset(meterTable, 0, sizeof meterTable);
        std::strcpy(configLines[0], "9858705634120103");
        std::strcpy(configLines[1], "not hex, and longer than sixteen characters");
        resetLinkState();
        setLinkPlatform(&fake);
        linkState.transportKind = TransportKind::ComPort;
        linkState.comHandle = 7;
        window = new VerdanoxWindow(&app);
    }
    void TearDown() override {
        delete window;
        setLinkPlatform(nullptr);
        resetLinkState();
    }
    long send(FXuint type, FXuint id) { return window->handle(nullptr, FXSEL(type, id), nullptr); }
    long command(FXuint id) { return send(SEL_COMMAND, id); }
    void tick() { EXPECT_EQ(send(SEL_TIMEOUT, VerdanoxWindow::ID_SEND_TIMER), 1); }
    size_t telegramSize() const { return fake.written.back().size(); }

    FXApp app{"Verdanox test", "test"};
    VerdanoxWindow* window = nullptr;
    FakePlatform fake;
};

}  // namespace

TEST_F(Window, BuiltFromTheConfiguration) {
    EXPECT_EQ(window->getTitle(), "Verdanox 1.0");
    EXPECT_EQ(window->getWidth(), 320);
    EXPECT_EQ(window->getHeight(), 480);
    EXPECT_EQ(window->meterText(0), "9858705634120103");
    EXPECT_EQ(window->meterText(1), "not hex, and longer than sixteen characters") << "shown exactly as read";
    EXPECT_EQ(window->meterText(2), "");
    for (int i = 0; i < kMeterCount; ++i) EXPECT_EQ(window->countText(i), "0");
    EXPECT_EQ(meterTable[0].manufacturer[0], 0x98);
    EXPECT_EQ(meterTable[0].deviceType, 0x03);
    EXPECT_EQ(window->statusText(), "OMS4");
    EXPECT_TRUE(window->encryptionEnabled());
    EXPECT_FALSE(sendingEnabled);
    const FXuint poll = app.remainingTimeout(window, VerdanoxWindow::ID_RECEIVE_POLL);
    const FXuint send = app.remainingTimeout(window, VerdanoxWindow::ID_SEND_TIMER);
    EXPECT_TRUE(poll > 900 && poll <= 1000) << "first poll after 1000 ms, " << poll << " left";
    EXPECT_TRUE(send > 4900 && send <= 5000) << send << " left";
    EXPECT_STREQ(window->getClassName(), "VerdanoxWindow");
}

TEST_F(Window, TimersRearmWhetherSendingOrNot) {
    for (bool sending : {false, true}) {
        if (sending) command(VerdanoxWindow::ID_START);
        app.removeTimeout(window, VerdanoxWindow::ID_SEND_TIMER);
        app.removeTimeout(window, VerdanoxWindow::ID_RECEIVE_POLL);
        tick();
        EXPECT_TRUE(app.hasTimeout(window, VerdanoxWindow::ID_SEND_TIMER));
        EXPECT_GE(app.remainingTimeout(window, VerdanoxWindow::ID_SEND_TIMER), 4900u);
        EXPECT_EQ(send(SEL_TIMEOUT, VerdanoxWindow::ID_RECEIVE_POLL), 1);
        EXPECT_TRUE(app.hasTimeout(window, VerdanoxWindow::ID_RECEIVE_POLL));
        EXPECT_LE(app.remainingTimeout(window, VerdanoxWindow::ID_RECEIVE_POLL), 1u);
    }
    EXPECT_EQ(fake.written.size(), 2u) << "only the tick with sending on wrote";
}

TEST_F(Window, StartResetsFromAnyStateAndStopKeeps) {
    tick();
    EXPECT_TRUE(fake.written.empty()) << "sending is off at start";
    command(VerdanoxWindow::ID_START);
    for (int t = 0; t < 3; ++t) tick();
    EXPECT_EQ(window->countText(2), "1");
    EXPECT_EQ(fake.written[1].size(), 118u);
    command(VerdanoxWindow::ID_STOP);
    tick();
    EXPECT_EQ(fake.written.size(), 6u);
    EXPECT_EQ(window->countText(0), "1") << "counts stay after Stop";
    EXPECT_EQ(currentMeter, 3);

    command(VerdanoxWindow::ID_START);  // from stopped
    for (int i = 0; i < kMeterCount; ++i) EXPECT_EQ(window->countText(i), "0");
    tick();
    EXPECT_EQ(fake.written.back(), fake.written[1]) << "meter 0 again with access number 0 and counter 0";
    command(VerdanoxWindow::ID_START);  // while sending
    EXPECT_EQ(window->countText(0), "0");
    tick();
    EXPECT_EQ(window->countText(0), "1");
    EXPECT_EQ(fake.written.back(), fake.written[1]);
}

TEST_F(Window, EncryptionToggleChangesOnlyTheNextTelegram) {
    command(VerdanoxWindow::ID_START);
    tick();
    EXPECT_EQ(telegramSize(), 118u);
    EXPECT_EQ(command(VerdanoxWindow::ID_ENCRYPTION), 1);
    EXPECT_FALSE(window->encryptionEnabled());
    EXPECT_TRUE(sendingEnabled);
    tick();
    EXPECT_EQ(telegramSize(), 97u);
    command(VerdanoxWindow::ID_ENCRYPTION);
    tick();
    EXPECT_EQ(telegramSize(), 118u);
    EXPECT_EQ(meterTable[1].messageCounter, 0u) << "meter 1 went plain";
    EXPECT_EQ(window->countText(1), "1");
}

TEST_F(Window, Oms4AndReservedCommandsChangeNothing) {
    EXPECT_EQ(command(VerdanoxWindow::ID_OMS4), 1);
    EXPECT_EQ(window->statusText(), "OMS4");
    EXPECT_EQ(command(VerdanoxWindow::ID_RESERVED_63), 1);
    EXPECT_EQ(command(VerdanoxWindow::ID_RESERVED_64), 1);
    command(VerdanoxWindow::ID_START);
    tick();
    EXPECT_EQ(fake.written[1].size(), 118u);
    EXPECT_TRUE(window->encryptionEnabled());
}

TEST_F(Window, DestructorClosesTheLinkOnce) {
    delete window;
    window = nullptr;
    EXPECT_EQ(fake.closes, 1);
    EXPECT_EQ(linkState.comHandle, kNoHandle);
    window = new VerdanoxWindow(&app);  // for TearDown; nothing to close now
}

// Where the link has a descriptor the poll runs on its input and no 1 ms
// timer remains. A hang-up stops the watch, the timer takes over, the status
// line tells the trouble (also after OMS4 is chosen), and a tick that opens
// the stick again ends it.
TEST_F(Window, WatchedLinkHangsUpAndComesBack) {
    fake.watchable = 0;  // any descriptor serves for the toolkit's table
    app.removeTimeout(window, VerdanoxWindow::ID_RECEIVE_POLL);
    send(SEL_TIMEOUT, VerdanoxWindow::ID_RECEIVE_POLL);
    EXPECT_FALSE(app.hasTimeout(window, VerdanoxWindow::ID_RECEIVE_POLL)) << "the descriptor is watched instead";

    fake.hangUpAt = 0;
    EXPECT_EQ(send(SEL_IO_READ, VerdanoxWindow::ID_RECEIVE_POLL), 1);
    EXPECT_TRUE(window->stickLost());
    EXPECT_EQ(window->statusText(), kStickTroubleStatus);
    EXPECT_TRUE(app.hasTimeout(window, VerdanoxWindow::ID_RECEIVE_POLL)) << "the timer takes over";
    command(VerdanoxWindow::ID_OMS4);
    EXPECT_EQ(window->statusText(), kStickTroubleStatus) << "the trouble stays shown";

    fake.hangUpAt = ~0ull;
    SerialPortInfo stick;
    stick.instanceId = "USB\\VID_10C4&PID_0003\\VX0001";
    stick.portName = "/dev/ttyACM0";
    fake.ports = {stick};
    tick();  // sending is off: the stick opened again ends the trouble
    EXPECT_FALSE(window->stickLost());
    EXPECT_EQ(window->statusText(), "OMS4");
}

// A configuration that could not be read is shown in the status line; stick
// trouble, while present, takes precedence.
TEST_F(Window, StatusLineTellsAMissingConfiguration) {
    window->setConfigurationMissing(true);
    EXPECT_EQ(window->statusText(), kNoConfigurationStatus);
    EXPECT_LE(std::strlen(kNoConfigurationStatus), std::strlen(kStickTroubleStatus)) << "fits where the trouble fits";
    fake.hangUpAt = 0;
    send(SEL_TIMEOUT, VerdanoxWindow::ID_RECEIVE_POLL);
    EXPECT_EQ(window->statusText(), kStickTroubleStatus);
    fake.hangUpAt = ~0ull;
    SerialPortInfo stick;
    stick.instanceId = "USB\\VID_10C4&PID_0003\\VX0001";
    stick.portName = "/dev/ttyACM0";
    fake.ports = {stick};
    tick();
    EXPECT_EQ(window->statusText(), kNoConfigurationStatus);
}
