// verdanox-send's session on fake time: the platform clock of the scripted
// link, so intervals, reconnection and stopping are exact and instant.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "config/config.h"
#include "config/fault_spec.h"
#include "link/link.h"
#include "session/configuration.h"
#include "session/send_session.h"
#include "session/telegram_record.h"
#include "tests/fake_platform.h"
#include "tests/hex.h"

using namespace vdx;

namespace {

class Session : public ::testing::Test {
protected:
    void SetUp() override {
        resetLinkState();
        resetConfig();
        std::memset(meterTable, 0, sizeof meterTable);
        setLinkPlatform(&fake);
        SerialPortInfo stick;
        stick.instanceId = "USB\\VID_10C4&PID_0003\\VX0001";
        stick.portName = "/dev/ttyACM0";
        fake.ports = {stick};
        std::string why;
        ASSERT_TRUE(session.open(&why)) << why;
        session.tell = [this](const std::string& line) { told.push_back(line); };
        session.report = [this](const SentTelegram& t) {
            reports.push_back({fake.clock, t.meter, t.delivered, t.readings.time});
            if (onTelegram) onTelegram(reports.size());
        };
    }
    void TearDown() override {
        setLinkPlatform(nullptr);
        resetLinkState();
    }

    struct Report {
        uint64_t at;
        int meter;
        bool delivered;
        int64_t meterTime;
    };
    // The ten meters of the configuration, in turns.
    void run(double interval, long telegrams, bool plain) {
        RigRun r(configurationRig(plain, interval), 0, 0);
        session.run(r, telegrams, stop);
    }
    FakePlatform fake;
    SendSession session;
    std::vector<std::string> told;
    std::vector<Report> reports;
    std::function<void(size_t telegram)> onTelegram;
    volatile std::sig_atomic_t stop = 0;
};

}  // namespace

// The first telegram goes at once, the next ones an interval apart; what the
// stick sends in between is drained, one frame per readiness.
TEST_F(Session, SendsOnTheIntervalAndDrains) {
    fake.arrivals = {{1200, {0x80, 0x01, 0x00, 0x00}}, {2600, {0x81, 0x02, 0x00, 1, 2, 0x80, 0x00, 0x00}}};
    run(2.5, 3, false);
    ASSERT_EQ(reports.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(reports[i].at, 2500 * i);
        EXPECT_EQ(reports[i].meter, static_cast<int>(i));
        EXPECT_TRUE(reports[i].delivered);
    }
    ASSERT_EQ(fake.written.size(), 6u);
    EXPECT_EQ(fake.written[0].size(), 11u);
    EXPECT_EQ(fake.written[1].size(), 118u);
    EXPECT_TRUE(fake.rx.empty() && fake.arrivals.empty()) << "three frames drained";
    EXPECT_EQ(session.delivered(), 3u);
    EXPECT_EQ(session.lost(), 0u);
    EXPECT_TRUE(told.empty());

    run(5, 1, true);  // plain, one telegram, no wait after it
    EXPECT_EQ(fake.written.back().size(), 97u);
    EXPECT_EQ(fake.clock, 5000u);
}

// Pulled out after the second telegram, back before the fifth: no write
// reaches the driver while the link is closed, the gap is counted, and the
// user hears of it twice.
TEST_F(Session, LostStickIsNotWrittenAndComesBack) {
    const std::vector<SerialPortInfo> stick = fake.ports;
    onTelegram = [&](size_t n) {
        if (n == 2) fake.hangUpAt = 7000, fake.ports.clear();
        if (n == 4) fake.hangUpAt = ~0ull, fake.ports = stick;
    };
    run(5, 5, false);
    ASSERT_EQ(reports.size(), 5u);
    EXPECT_EQ(fake.written.size(), 6u) << "telegrams 1, 2 and 5 only";
    EXPECT_FALSE(reports[2].delivered);
    EXPECT_FALSE(reports[3].delivered);
    EXPECT_TRUE(reports[4].delivered);
    EXPECT_EQ(reports[4].at, 20000u);
    EXPECT_EQ(session.delivered(), 3u);
    EXPECT_EQ(session.lost(), 2u);
    EXPECT_GE(fake.sleeps, 30) << "slept in steps of at most 100 ms while closed";
    EXPECT_EQ(told, (std::vector<std::string>{kStickTroubleText,
                                              "USB RF stick VX0001 on /dev/ttyACM0 is back: telegrams are being sent "
                                              "again"}));
}

// A signal (the stop flag) ends the run at once, also during a wait.
TEST_F(Session, StopsWhenSignalled) {
    onTelegram = [&](size_t n) {
        if (n == 2) stop = 1;
    };
    run(5, 0, false);
    EXPECT_EQ(reports.size(), 2u);
    EXPECT_EQ(fake.clock, 5000u);
}

// "each": every meter on its own interval after its offset, ties in file
// order, never closer than the gap; the meters' clock runs at the rig's
// speed from its start, and each meter sends in its own security mode.
TEST_F(Session, EachScheduleWithGapAndFastClock) {
    Rig rig;
    std::string error;
    ASSERT_TRUE(parseRig(R"(readings = "live"
[schedule]
mode = "each"
gap = 0.1
[clock]
start = "2026-01-31T23:50:00Z"
speed = 60
[[meter]]
address = "9858705634120103"
key = "000102030405060708090A0B0C0D0E0F"
interval = 1.0
[[meter]]
address = "9858705634120113"
key = "000102030405060708090A0B0C0D0E0F"
security = "mode5"
interval = 1.5
offset = 0.2
[[meter]]
address = "9858705634120123"
interval = 1.0
)",
                         "each.toml", &rig, &error))
        << error;
    RigRun r(rig, 0, 0);
    session.run(r, 8, stop);
    std::vector<uint64_t> at;
    std::vector<int> meters;
    for (const Report& x : reports) at.push_back(x.at), meters.push_back(x.meter);
    EXPECT_EQ(at, (std::vector<uint64_t>{0, 100, 200, 1000, 1100, 1700, 2000, 2100}));
    EXPECT_EQ(meters, (std::vector<int>{0, 2, 1, 0, 2, 1, 0, 2}));
    EXPECT_EQ(reports[3].meterTime, 1769903400 + 60) << "one real second is a meter minute";
    EXPECT_EQ(reports[7].meterTime, 1769903400 + 126);
    ASSERT_EQ(fake.written.size(), 16u);
    EXPECT_EQ(fake.written[1].size(), 118u) << "mode 7";
    EXPECT_EQ(fake.written[3].size(), 97u) << "plain";
    EXPECT_EQ(fake.written[5][15] * 256 + fake.written[5][16], 0x5005) << "mode 5: CF 50 05";
}

// The tools' run of the configuration's ten meters is the window's send
// cycle byte for byte, for mode 7 and plain, past the first round.
TEST(RigRunOfTheConfiguration, EqualsTheSendCycle) {
    for (int m = 0; m < kMeterCount; ++m) {
        const uint8_t address[8] = {0x98, 0x58, static_cast<uint8_t>(0x70 + m), 0x56, 0x34, 0x12, 0x01, 0x03};
        std::memcpy(meterTable[m].manufacturer, address, 8);
        for (int b = 0; b < 16; ++b) keyTable[m][b] = static_cast<uint8_t>(16 * m + b);
    }
    for (bool plain : {false, true}) {
        RigRun run(configurationRig(plain, 5), 0, 0);
        std::vector<std::vector<uint8_t>> cycle;
        startSending([](int, const char*) {});
        for (int t = 0; t < 23; ++t) {
            sendTick(
                !plain, keyTable, [&](const uint8_t* f) { return cycle.emplace_back(f, f + stickFrameSize(f)), 1; },
                [](int, const char*) {});
            const RigRun::Planned p = run.next();
            EXPECT_EQ(p.atMs, 5000u * t);
            EXPECT_EQ(std::vector<uint8_t>(p.telegram.addressFrame, p.telegram.addressFrame + 11), cycle[2 * t]);
            const uint8_t* f = p.telegram.telegramFrame;
            EXPECT_EQ(std::vector<uint8_t>(f, f + stickFrameSize(f)), cycle[2 * t + 1]) << "telegram " << t;
        }
    }
    std::memset(meterTable, 0, sizeof meterTable);
    resetConfig();
}

// The fault kinds on the wire, against the same run without faults: which
// byte changed, what was left out, which counter was used, and the
// telegrams around each fault still byte for byte the same.
TEST(Faults, EachKindAgainstTheRunWithout) {
    for (int m = 0; m < kMeterCount; ++m) {
        const uint8_t address[8] = {0x98, 0x58, static_cast<uint8_t>(0x70 + m), 0x56, 0x34, 0x12, 0x01, 0x03};
        std::memcpy(meterTable[m].manufacturer, address, 8);
        for (int b = 0; b < 16; ++b) keyTable[m][b] = static_cast<uint8_t>(16 * m + b);
    }
    const auto bytes = [](const SentTelegram& t) {
        return std::vector<uint8_t>(t.telegramFrame, t.telegramFrame + stickFrameSize(t.telegramFrame));
    };
    const auto runOf = [&](bool plain, const char* spec) {
        Rig rig = configurationRig(plain, 5);
        FaultRule rule;
        std::string error;
        if (spec != nullptr) {
            EXPECT_TRUE(parseFaultSpec(spec, &rule, &error)) << error;
            for (SimMeter& m : rig.meters) m.faults = {rule};
        }
        RigRun run(rig, 0, 0);
        std::vector<SentTelegram> out;
        for (int t = 0; t < 40; ++t) out.push_back(run.next().telegram);
        return out;
    };
    const std::vector<SentTelegram> good = runOf(false, nullptr), plainGood = runOf(true, nullptr);
    // meter 0's telegrams are 0, 10, 20, 30 of the run; its third is number 3
    const auto sameExcept = [&](const std::vector<SentTelegram>& run, const std::vector<SentTelegram>& base,
                                std::initializer_list<int> changed) {
        for (int t = 0; t < 40; ++t) {
            if (std::find(changed.begin(), changed.end(), t) == changed.end()) {
                EXPECT_EQ(bytes(run[t]), bytes(base[t])) << "telegram " << t;
            }
        }
    };

    std::vector<SentTelegram> r = runOf(false, "bad-mac:at=3");
    std::vector<uint8_t> want = bytes(good[20]);
    want[16] ^= 0x01;
    EXPECT_EQ(bytes(r[20]), want) << "the MAC's lowest bit";
    EXPECT_EQ(r[20].fault, FaultKind::BadMac);
    sameExcept(r, good, {20, 21, 22, 23, 24, 25, 26, 27, 28, 29});

    r = runOf(false, "replay:at=3");
    EXPECT_EQ(bytes(r[20]), bytes(r[10])) << "the previous telegram again";
    EXPECT_EQ(bytes(r[30]), bytes(good[20])) << "access number and counter did not move on";

    r = runOf(false, "counter-rewind:at=3");
    EXPECT_EQ(testhex::str(r[20].telegramFrame + 12, 4), "00000000") << "one below the last counter sent (1)";
    EXPECT_EQ(r[20].telegramFrame[6], 2) << "a new access number";
    EXPECT_EQ(testhex::str(r[30].telegramFrame + 12, 4), "02000000") << "then the real counter";
    EXPECT_EQ(r[30].telegramFrame[6], 3);

    r = runOf(false, "truncated:at=3");
    want = bytes(good[20]);
    want.resize(118 - 16);
    want[1] = 99;  // N = 115 - 16
    EXPECT_EQ(bytes(r[20]), want);
    sameExcept(r, good, {20, 21, 22, 23, 24, 25, 26, 27, 28, 29});

    r = runOf(true, "bad-records:every=1");
    want = bytes(plainGood[0]);
    want[17 + 57] = 0x3F;
    want[17 + 71] = 0x07;
    want[17 + 72] = 0x13;
    EXPECT_EQ(bytes(r[0]), want) << "a reserved DIF at 57, a record at 71 that runs past the end";

    r = runOf(false, "wrong-key:at=3");
    EXPECT_EQ(testhex::str(r[20].telegramFrame, 16), testhex::str(good[20].telegramFrame, 16));
    EXPECT_NE(bytes(r[20]), bytes(good[20]));
    sameExcept(r, good, {20, 21, 22, 23, 24, 25, 26, 27, 28, 29});

    r = runOf(false, "fuzz:every=2:seed=42");
    const std::vector<SentTelegram> again = runOf(false, "fuzz:every=2:seed=42");
    for (int t = 10; t < 20; ++t) {
        EXPECT_EQ(bytes(r[t]), bytes(again[t])) << "the same seed, the same bytes";
        EXPECT_EQ(r[t].block[0] * 256 + r[t].block[1], 0x2F2F);
        EXPECT_NE(testhex::str(r[t].block, kPayloadSize), testhex::str(applicationPayload, kPayloadSize));
    }
    const std::string json = jsonLine(telegramRecord(r[10], ""));
    EXPECT_NE(
        json.find("\"fault\":\"fuzz\",\"fuzz\":{\"seed\":42,\"block\":\"" + testhex::str(r[10].block, 80) + "\"}"),
        std::string::npos)
        << json;
    EXPECT_NE(jsonLine(telegramRecord(r[0], "")).find("\"fault\":null"), std::string::npos);
    sameExcept(r, good, {10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39});
    std::memset(meterTable, 0, sizeof meterTable);
    resetConfig();
}
