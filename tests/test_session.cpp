// verdanox-send's session on fake time: the platform clock of the scripted
// link, so intervals, reconnection and stopping are exact and instant.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "config/config.h"
#include "config/fault_spec.h"
#include "link/keeper.h"
#include "link/link.h"
#include "session/configuration.h"
#include "session/duty_cycle.h"
#include "session/schedule.h"
#include "session/sdr_path.h"
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
        session.report = [this](const RigRun::Planned& p) {
            const SentTelegram& t = p.telegram;
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

// Meter time ends at 2099-12-31 23:59:59, the last a telegram's date can
// hold: a run of known length that would pass it is refused before it
// starts, a run without end stops before the first telegram past it, and
// the fastest clock with the longest interval overflows nothing.
TEST_F(Session, MeterTimeEndsWith2099) {
    Rig rig = configurationRig(false, 5);
    for (SimMeter& m : rig.meters) m.live = true;
    rig.startNow = false;
    rig.start = unixTime(2099, 12, 31, 23, 50);
    rig.speed = 60;  // 5 real seconds are 5 meter minutes: the third telegram would be at 2100-01-01 00:00
    const std::string past =
        "telegram 3 would carry meter time 2100-01-01T00:00:00Z, past 2099-12-31T23:59:59Z, the "
        "last a telegram's date can hold";
    RigRun r(rig, 0, 0);
    EXPECT_EQ(r.lengthProblem(2), "");
    EXPECT_EQ(r.lengthProblem(3), past);
    session.run(r, 0, stop);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1].meterTime, unixTime(2099, 12, 31, 23, 55));
    EXPECT_TRUE(session.reachedEnd());
    EXPECT_EQ(r.endProblem(), past);
    EXPECT_EQ(fake.clock, 5000u) << "stopped at once, not at the third telegram's time";

    rig.speed = kMaxSpeed;
    rig.interval = kMaxInterval;
    RigRun fast(rig, 0, 0);
    EXPECT_EQ(fast.lengthProblem(100000000),
              "telegram 2 would carry a meter time after the year 9999, past 2099-12-31T23:59:59Z, the last a "
              "telegram's date can hold");

    // a long run is judged without running it: exactly in "turns"; in
    // "each" by the first telegram the gap and the slots cannot send in time
    const std::string later = ", past 2099-12-31T23:59:59Z, the last a telegram's date can hold";
    rig.start = unixTime(2026, 1, 1, 0, 0);
    rig.speed = 1;
    rig.interval = 5;
    RigRun turns(rig, 0, 0);
    EXPECT_EQ(turns.lengthProblem(467043840), "") << "at 2099-12-31T23:59:55Z";
    EXPECT_EQ(turns.lengthProblem(1000000000),
              "telegram 467043841 would carry meter time 2100-01-01T00:00:00Z" + later);
    rig.schedule = ScheduleMode::Each;
    rig.interval = 10;  // ten meters, each every 10 s, 0.1 s apart
    RigRun each(rig, 0, 0);
    EXPECT_EQ(each.lengthProblem(2335219200), "");
    EXPECT_EQ(each.lengthProblem(100000000000),
              "telegram 2335219201 would carry meter time 2100-01-01T00:00:00Z or later" + later);
    for (SimMeter& m : rig.meters) m.live = false;  // the fixed block carries no meter time: no end
    EXPECT_EQ(RigRun(rig, 0, 0).lengthProblem(100000000), "");
}

// "each" when the meters want more than the gap allows: a slot the meter
// could not send in is skipped and counted, never sent late as a backlog;
// the stick goes to the meter that has waited longest, so none starves;
// offsets count from the run's start, the smallest too.
TEST(Schedule, EachSkipsMissedSlotsAndStarvesNoMeter) {
    const auto each = [](size_t meters, double interval, double spread, double gap) {
        Rig rig;
        rig.schedule = ScheduleMode::Each;
        rig.gap = gap;
        rig.meters.resize(meters);
        for (size_t i = 0; i < meters; ++i) {
            rig.meterInterval.push_back(interval);
            rig.meterOffset.push_back(spread * static_cast<double>(i) / static_cast<double>(meters));
        }
        return rig;
    };
    // every slot of every meter up to its last telegram was sent or skipped
    const auto run = [](const Rig& rig, int telegrams, std::vector<uint64_t>* sent) {
        Schedule s(rig);
        std::vector<uint64_t> skipped(rig.meters.size()), last(rig.meters.size());
        sent->assign(rig.meters.size(), 0);
        uint64_t previous = 0;
        for (int t = 0; t < telegrams; ++t) {
            const Schedule::Entry e = s.next();
            if (t > 0) {
                EXPECT_GE(e.atMs, previous + static_cast<uint64_t>(std::llround(rig.gap * 1000)));
            }
            previous = e.atMs, ++(*sent)[e.meter], skipped[e.meter] += e.skipped, last[e.meter] = e.atMs;
        }
        for (size_t m = 0; m < rig.meters.size(); ++m) {
            const uint64_t interval = std::llround(rig.meterInterval[m] * 1000);
            const uint64_t offset = std::llround(rig.meterOffset[m] * 1000);
            if ((*sent)[m] > 0) {
                EXPECT_EQ((*sent)[m] + skipped[m], (last[m] - offset) / interval + 1) << "meter " << m;
            }
        }
    };
    std::vector<uint64_t> sent;
    Rig two = each(2, 10, 0, 0.1);
    two.meterInterval[0] = 0.01;
    run(two, 3000, &sent);
    EXPECT_NEAR(static_cast<double>(sent[1]), 30, 1) << "the 10 s meter keeps its rate beside the 0.01 s one";
    EXPECT_EQ(scheduleOverload(two),
              "the meters ask for 100 telegrams a second, the gap of 0.1 s allows 10: slots the stick cannot serve "
              "are skipped");

    const Rig thousand = each(1000, 60, 60, 0.1);  // generate-rig.py 1000 --each --interval 60
    run(thousand, 10000, &sent);
    EXPECT_EQ(*std::min_element(sent.begin(), sent.end()), 10u) << "1000 s: each meter every 100 s";
    EXPECT_EQ(*std::max_element(sent.begin(), sent.end()), 10u);
    EXPECT_EQ(scheduleOverload(thousand),
              "the meters ask for 16.7 telegrams a second, the gap of 0.1 s allows 10: slots the stick cannot serve "
              "are skipped");
    EXPECT_EQ(scheduleOverload(each(1000, 300, 300, 0.1)), "") << "every five minutes: 3.33 a second";

    Rig late = each(2, 60, 0, 0.1);
    late.meterOffset = {30, 45};
    RigRun r(late, 0, 0);
    std::vector<uint64_t> at;
    for (int t = 0; t < 4; ++t) at.push_back(r.next().atMs);
    EXPECT_EQ(at, (std::vector<uint64_t>{30000, 45000, 90000, 105000}));

    // ell-ctr every 0.5 s at speed 1: 120 telegrams a meter minute; from the
    // 17th of a minute the 4-bit session counter repeats a session number
    Rig fast = each(2, 0.5, 0, 0.01);
    fast.meters[1].security = Security::EllCtr;
    fast.meters[1].live = true;
    fast.start = 1775001600;  // 2026-04-01T00:00:00Z
    EXPECT_EQ(sessionReuse(fast), (std::vector<std::pair<size_t, double>>{{1, 120}}));
    fast.speed = 4;  // one every 2 meter seconds: 30 a minute
    EXPECT_EQ(sessionReuse(fast), (std::vector<std::pair<size_t, double>>{{1, 30}}));
    EXPECT_TRUE(sessionReuse(each(1000, 300, 300, 0.1)).empty());
    fast.speed = 1;
    fast.startNow = false;
    RigRun ctr(fast, 0, 0);
    std::vector<int> reused;
    for (int t = 0; t < 40; ++t)
        if (const RigRun::Planned p = ctr.next(); p.telegram.sessionReused) reused.push_back(t / 2 + 1);
    EXPECT_EQ(reused.front(), 17);
    EXPECT_EQ(reused.size(), 4u) << "telegrams 17 to 20 of meter 1";
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
    // `security` and `compactEvery` for every meter where given
    const auto runOf = [&](bool plain, const char* spec, Security security = Security::None, uint32_t compact = 0) {
        Rig rig = configurationRig(plain, 5);
        FaultRule rule;
        std::string error;
        for (SimMeter& m : rig.meters) {
            if (security != Security::None) m.security = security;
            m.compactEvery = compact;
        }
        if (spec != nullptr) {
            EXPECT_TRUE(parseFaultSpec(spec, &rule, &error)) << error;
            for (SimMeter& m : rig.meters) m.faults = {rule};
        }
        RigRun run(rig, 0, 0);
        std::vector<SentTelegram> out;
        for (int t = 0; t < 40; ++t) {
            const RigRun::Planned p = run.next();
            out.push_back(p.telegram);
            if (p.notApplied != FaultKind::None) out.back().notApplied = p.notApplied;
        }
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

    // decided per telegram by what was sent: after a replay of telegram 1
    // no counter lies below the last one sent (0), so telegram 3 goes out
    // without its rewind (telegram 2 of the run without faults) and says
    // so; telegram 5 goes back from 2 to 1; a replay drawn for a first
    // telegram cannot apply either
    // (meter 1); a rewind goes below the last counter a receiver accepted,
    // not below that of a telegram whose MAC failed (meter 2); a rule that
    // cannot apply leaves the telegram to the next that falls on it (3)
    Rig rig = configurationRig(false, 5);
    FaultRule replay, rewind, always, badMac, rewind5, rewind3;
    std::string error;
    ASSERT_TRUE(
        parseFaultSpec("replay:at=2", &replay, &error) && parseFaultSpec("counter-rewind:at=3,5", &rewind, &error) &&
        parseFaultSpec("replay:probability=1", &always, &error) && parseFaultSpec("bad-mac:at=3,4", &badMac, &error) &&
        parseFaultSpec("counter-rewind:at=5", &rewind5, &error) &&
        parseFaultSpec("counter-rewind:at=3", &rewind3, &error));
    for (SimMeter& m : rig.meters) m.faults = {replay, rewind};
    rig.meters[1].faults = {always};
    rig.meters[2].faults = {badMac, rewind5};
    rig.meters[3].faults = {replay, rewind3, badMac};
    RigRun both(rig, 0, 0);
    std::vector<RigRun::Planned> p;
    for (int t = 0; t < 50; ++t) p.push_back(both.next());
    EXPECT_EQ(p[20].telegram.fault, FaultKind::None);
    EXPECT_EQ(p[20].notApplied, FaultKind::CounterRewind);
    EXPECT_EQ(bytes(p[20].telegram), bytes(good[10])) << "counter 1, not 4294967295";
    EXPECT_NE(jsonLine(telegramRecord(p[20].telegram, "")).find("\"fault\":null"), std::string::npos);
    EXPECT_EQ(p[40].telegram.fault, FaultKind::CounterRewind);
    EXPECT_EQ(p[40].telegram.messageCounter, 1u);
    EXPECT_EQ(p[1].notApplied, FaultKind::Replay);
    EXPECT_EQ(bytes(p[1].telegram), bytes(good[1]));
    EXPECT_EQ(p[11].telegram.fault, FaultKind::Replay);
    EXPECT_EQ(p[42].telegram.fault, FaultKind::CounterRewind);
    EXPECT_EQ(p[42].telegram.messageCounter, 0u) << "below 1, the last counter whose MAC held";
    EXPECT_EQ(p[23].telegram.fault, FaultKind::BadMac);
    EXPECT_EQ(p[23].notApplied, FaultKind::CounterRewind);

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

    // the sharper kinds, on meter 0's third telegram (run index 20), bytes
    // that changed against the same telegram without the fault (mode 7:
    // ELL access 6, AFL counter 12-15, MAC 16-23, CI 24, access 33, block 38-)
    const auto changed = [&](const SentTelegram& a, const SentTelegram& b) {
        const bool mac = a.security == Security::Mode7;
        std::vector<int> at;
        for (size_t i = 0; i < stickFrameSize(a.telegramFrame); ++i)
            if (a.telegramFrame[i] != b.telegramFrame[i] && (!mac || i < 17 || i > 23))
                at.push_back(static_cast<int>(i));  // the MAC's bytes as one: 16
        return at;
    };
    r = runOf(false, "no-2f2f:at=3");
    EXPECT_EQ(changed(r[20], good[20]).front(), 16) << "the MAC, then the block";
    EXPECT_EQ(changed(r[20], good[20])[1], 38);
    EXPECT_EQ(testhex::str(r[20].block, 2) + testhex::str(r[20].block + 69, 11), "466D2F2F2F2F2F2F2F2F2F2F2F")
        << "the records from the first byte, 11 bytes of fill";
    r = runOf(false, "afl-counter-mismatch:at=3");
    EXPECT_EQ(changed(r[20], good[20]), (std::vector<int>{12, 16})) << "the AFL's counter 3 and the MAC; the block "
                                                                       "under the keys of counter 2";
    EXPECT_EQ(r[20].telegramFrame[12] * 10 + r[20].messageCounter + r[30].messageCounter, 35u);
    r = runOf(false, "wrong-ci:at=3");
    EXPECT_EQ(changed(r[20], good[20]), (std::vector<int>{16, 24}));
    EXPECT_EQ(r[20].telegramFrame[24], kUnknownCi);
    r = runOf(false, "duplicate-access:at=3");
    EXPECT_EQ(changed(r[20], good[20]).front(), 6) << "both access numbers, MAC and block (a new counter)";
    EXPECT_EQ(r[20].telegramFrame[6] * 100 + r[20].telegramFrame[33] * 10 + r[20].telegramFrame[12], 112);
    EXPECT_EQ(r[30].telegramFrame[6] * 10 + r[30].telegramFrame[33], 22) << "the access number did not advance";
    r = runOf(true, "duplicate-access:at=3");
    EXPECT_EQ(r[20].fault, FaultKind::None) << "fixed plain readings: the same bytes again would be a replay";
    EXPECT_EQ(r[20].notApplied, FaultKind::DuplicateAccess);
    EXPECT_EQ(bytes(r[20]), bytes(plainGood[20]));
    r = runOf(false, "length-mismatch:at=3,4");
    EXPECT_EQ(bytes(r[20]), bytes(good[20])) << "the stick frames stay";
    EXPECT_EQ(r[20].lengthError * 10 + r[30].lengthError, 9) << "one too long, then one too short";
    EXPECT_NE(jsonLine(telegramRecord(r[20], "")).find("\"fault\":\"length-mismatch\",\"l_field_error\":1"),
              std::string::npos);

    // compact frames (a full one every other telegram) and the ELL's payload
    // CRC: the full-frame CRC's lowest bit (plain: frame byte 17 + 2), the
    // signature inverted, the ELL's CRC (byte 11, encrypted: CTR flips the
    // same bit of the plain text)
    const std::vector<SentTelegram> compact = runOf(true, nullptr, Security::None, 2),
                                    ell = runOf(true, nullptr, Security::EllCtr);
    r = runOf(true, "compact-bad-crc:every=1", Security::None, 2);
    EXPECT_EQ(r[0].notApplied, FaultKind::CompactBadCrc) << "telegram 1 is a full frame";
    EXPECT_EQ(changed(r[10], compact[10]), (std::vector<int>{19}));
    EXPECT_EQ(r[10].telegramFrame[19] ^ compact[10].telegramFrame[19], 1);
    r = runOf(true, "compact-unknown:at=2", Security::None, 2);
    EXPECT_EQ(r[10].signature ^ compact[10].signature, 0xFFFF);
    EXPECT_EQ(changed(r[10], compact[10]), (std::vector<int>{17, 18}));
    EXPECT_NE(jsonLine(telegramRecord(compact[10], "")).find("\"frame\":\"compact\",\"signature\":\"0x"),
              std::string::npos);
    r = runOf(true, "ell-bad-crc:at=3", Security::EllCtr);
    EXPECT_EQ(changed(r[20], ell[20]), (std::vector<int>{11}));
    r = runOf(true, "wrong-key:at=3", Security::EllCtr);
    EXPECT_EQ(changed(r[20], ell[20]).front(), 11) << "everything from the payload CRC on";
    std::memset(meterTable, 0, sizeof meterTable);
    resetConfig();
}

// Each mode's channel in its sub-band of the duty-cycle table; the gaps
// between rows are in none. The account slides: a burst leaves the hour
// part by part, and a lower --duty-cycle or an override sets the limit.
TEST(DutyCycle, SubBandsAndTheSlidingHour) {
    const auto limitOf = [](RadioMode mode) {
        const RadioModeInfo& m = radioMode(mode);
        const double half = m.deviationHz + m.chipRate / 2.0;
        const SubBand* b = subBandOf(m.channelHz - half, m.channelHz + half);
        return b != nullptr ? bandName(*b) + " " + std::to_string(b->percent).substr(0, 4) : "none";
    };
    EXPECT_EQ(limitOf(RadioMode::T1), "868.7-869.2 MHz 0.10");
    EXPECT_EQ(limitOf(RadioMode::C1), "868.7-869.2 MHz 0.10");
    EXPECT_EQ(limitOf(RadioMode::S1), "868-868.6 MHz 1.00");
    EXPECT_EQ(limitOf(RadioMode::R2), "868-868.6 MHz 1.00");
    EXPECT_EQ(limitOf(RadioMode::F), "433.05-434.79 MHz 10.0");
    EXPECT_EQ(limitOf(RadioMode::N), "169.4-169.475 MHz 1.00");
    EXPECT_EQ(subBandOf(868.55e6, 868.65e6), nullptr) << "into 868.6-868.7 MHz";

    const SubBand& t = *subBandOf(868.9e6, 869.0e6);
    DutyCycle d;
    for (int64_t k = 0; k < 3; ++k) {  // 3 x 1.2 s at 0, 10 and 20 s fill the 3.6 s
        ASSERT_TRUE(d.allows(t, k * 10000000, 1200000));
        d.add(t, k * 10000000, 1200000);
    }
    EXPECT_FALSE(d.allows(t, 3000000000, 1));
    EXPECT_FALSE(d.allows(t, kHourUs - 1, 1)) << "the first burst still ends inside the hour";
    EXPECT_TRUE(d.allows(t, kHourUs, 1000)) << "from the hour on, the first burst leaves as much as a new one takes";
    EXPECT_FALSE(d.allows(t, kHourUs - 1, 2)) << "a microsecond earlier: one too many";
    EXPECT_EQ(d.usedUs(t, kHourUs + 600000), 3000000) << "half of the first burst has left";
    EXPECT_EQ(d.usedUs(t, kHourUs + 30000000), 0);
    EXPECT_DOUBLE_EQ(DutyCycle(0.05).limitPercent(t), 0.05);
    EXPECT_DOUBLE_EQ(DutyCycle(5).limitPercent(t), 0.1) << "higher only with the override";
    EXPECT_DOUBLE_EQ(DutyCycle(5, true).limitPercent(t), 5);

    // saved and read again on another clock (+5 s): the bursts still in the
    // hour; a text that is not an account leaves the account as it was
    DutyCycle e;
    e.add(t, 0, 1200000), e.add(t, 10000000, 1200000);
    const std::string saved = e.save(kHourUs, 5000000);
    EXPECT_EQ(saved, "verdanox duty-cycle account 1\n868700000 5000000 6200000\n868700000 15000000 16200000\n");
    size_t bad = 0;
    ASSERT_TRUE(e.load(saved, kHourUs + 6000000, 5000000, &bad));
    EXPECT_EQ(e.usedUs(t, kHourUs + 6000000), 1200000) << "the first burst has left the hour";
    for (const char* wrong :
         {"", "verdanox duty-cycle account 2\n", "verdanox duty-cycle account 1\n868700000 9 5\n",
          "verdanox duty-cycle account 1\n868700000 9 10\n868700000 5 6\n",
          "verdanox duty-cycle account 1\n868600000 5 6\n", "verdanox duty-cycle account 1\n1 2 3 4\n"})
        EXPECT_FALSE(e.load(wrong, kHourUs, 0, &bad)) << wrong;
    EXPECT_EQ(bad, 2u);
    EXPECT_EQ(e.usedUs(t, kHourUs + 6000000), 1200000);
    // a burst more than a second after now cannot have been sent (the clock
    // was set back): left out and counted, never written back
    size_t future = 0;
    ASSERT_TRUE(
        e.load("verdanox duty-cycle account 1\n868700000 3601000000 3601001000\n868700000 3601000001 3601001000\n",
               kHourUs, 0, &bad, &future));
    EXPECT_EQ(future, 1u);
    EXPECT_EQ(e.save(kHourUs, 0), "verdanox duty-cycle account 1\n868700000 3601000000 3601001000\n");
    // another run's account joins this one's, a burst both hold once
    DutyCycle m;
    m.add(t, 0, 1000), m.add(t, 20000, 1000);
    ASSERT_TRUE(m.merge("verdanox duty-cycle account 1\n868700000 0 1000\n868700000 10000 11000\n", 30000, 0));
    EXPECT_EQ(m.usedUs(t, 30000), 3000);
    EXPECT_EQ(m.save(30000, 0),
              "verdanox duty-cycle account 1\n868700000 0 1000\n868700000 10000 11000\n868700000 20000 21000\n");
    EXPECT_EQ(dutyStateFile("/s", "driver=hackrf,serial=Ä 1"), "/s/duty-driver_hackrf_serial____1");
}

namespace {

// A transmitter on the fake clock: its stream time is the platform's, 7 s
// ahead; bursts whose number is in `failing` fail; it is absent while
// `absent` is set.
struct FakeAir {
    FakePlatform* fake = nullptr;
    std::vector<int64_t> times;
    std::vector<size_t> samples;
    std::vector<int> failing;
    int bursts = 0, opens = 0;
    bool absent = false;
};

class FakeTx : public TxDevice {
public:
    explicit FakeTx(FakeAir* air) : air_(air) {
        s_.rateHz = 1200000, s_.format = IqFormat::Cs8, s_.fullScale = 127, s_.streamTime = true;
    }
    const TxSetup& setup() const override { return s_; }
    int64_t streamTimeNs() override { return static_cast<int64_t>(air_->fake->clock) * 1000000 + 7000000000; }
    size_t writeSize() const override { return 5000; }
    bool write(const uint8_t*, size_t n, bool first, bool, bool timed, int64_t t, std::string* why) override {
        if (first && std::count(air_->failing.begin(), air_->failing.end(), ++air_->bursts) > 0)
            return *why = "STREAM_ERROR", false;
        if (first) air_->times.push_back(timed ? t : -1), air_->samples.push_back(0);
        air_->samples.back() += n;
        return true;
    }

private:
    FakeAir* air_;
    TxSetup s_;
};

class SdrSession : public ::testing::Test {
protected:
    // the duty-cycle accounts in a directory of the test's own
    void SetUp() override {
        setLinkPlatform(&fake);
        state =
            (std::filesystem::temp_directory_path() / ("vdx-state-" + std::to_string(std::random_device()()))).string();
        ASSERT_TRUE(std::filesystem::create_directory(state));
        setStateHome(state);
    }
    void TearDown() override {
        setLinkPlatform(nullptr);
        setStateHome("");
        std::filesystem::remove_all(state);
    }
    static void setStateHome(const std::string& directory) {
#ifdef _WIN32
        _putenv_s("XDG_STATE_HOME", directory.c_str());
#else
        if (directory.empty())
            unsetenv("XDG_STATE_HOME");
        else
            setenv("XDG_STATE_HOME", directory.c_str(), 1);
#endif
    }
    // One T1 mode 7 meter every `interval` seconds, or the rig `text`.
    void run(double interval, long telegrams, SdrSettings settings = {}, const char* text = nullptr) {
        Rig rig;
        std::string error;
        ASSERT_TRUE(parseRig(
            text != nullptr ? text
                            : "[[meter]]\naddress = \"9858705634120103\"\nkey = \"000102030405060708090A0B0C0D0E0F\"\n",
            "one.toml", &rig, &error))
            << error;
        settings.request.args = "driver=fake";
        settings.wallUs = [this] { return static_cast<int64_t>(fake.clock) * 1000 + 1769900000000000; };
        told.clear(), planned.clear();
        path = std::make_unique<SdrPath>(settings, [this](const TxRequest&, bool, std::string* why) {
            ++air.opens;
            return air.absent ? (*why = "gone", nullptr) : std::make_unique<FakeTx>(&air);
        });
        ASSERT_TRUE(path->plan(rig, interval, &error)) << error;
        SendSession session(*path);
        ASSERT_TRUE(session.open(&error)) << error;
        start = fake.clock + SdrPath::kLeadMs;
        session.tell = [this](const std::string& line) { told.push_back(line); };
        session.report = [this](const RigRun::Planned& p) {
            planned.push_back(p);
            if (onTelegram) onTelegram(planned.size());
        };
        RigRun r(rig, interval, 0);
        session.run(r, telegrams, stop);
        counts = {session.delivered(), session.lost(), session.held()};
    }
    FakePlatform fake;
    FakeAir air = [this] {
        FakeAir a;
        a.fake = &fake;
        return a;
    }();
    std::unique_ptr<SdrPath> path;
    uint64_t start = 0;
    std::vector<RigRun::Planned> planned;
    std::vector<std::string> told;
    std::vector<unsigned> counts;
    std::function<void(size_t)> onTelegram;
    volatile std::sig_atomic_t stop = 0;
    std::string state;
};

}  // namespace

// A rig that asks 2 % of the 0.1 % band (a 17.6 ms telegram every 0.88 s):
// 204 bursts fill the first hour's 3.6 s and the rest are held; the next
// goes when the first has left the hour, and no hour ever holds more. The
// bursts carry their schedule's time on the stream's clock.
TEST_F(SdrSession, DutyCycleHoldsTelegramsOverASlidingHour) {
    run(0.88, 4500);
    EXPECT_EQ(path->startLines().back(),
              "duty cycle in 868.7-869.2 MHz (T1): the meters ask for 2 % of the time on air (72 s an hour), the band "
              "allows 0.1 % (3.6 s), 3.59 s of it used in the last hour: telegrams past it are held back");
    std::vector<uint64_t> sent;
    for (const RigRun::Planned& p : planned) {
        EXPECT_NEAR(p.air.airMs, 17.6, 1e-9);
        EXPECT_EQ(p.air.held, !p.telegram.delivered);
        if (p.telegram.delivered) sent.push_back(p.atMs);
    }
    ASSERT_EQ(sent.size(), 408u) << "the second hour's first 204 too";
    EXPECT_EQ(sent[203], 203u * 880) << "the first hour: 204 x 17.6 ms = 3.59 s";
    EXPECT_EQ(sent[204], 4091u * 880) << "3600.08 s: the first burst has left the hour";
    for (size_t i = 204; i < sent.size(); ++i) EXPECT_GE(sent[i] - sent[i - 204], 3600000u) << i;
    EXPECT_EQ(counts, (std::vector<unsigned>{static_cast<unsigned>(sent.size()), 0,
                                             4500 - static_cast<unsigned>(sent.size())}));
    ASSERT_EQ(air.times.size(), sent.size());
    for (size_t i = 0; i < sent.size(); i += 50)
        EXPECT_EQ(air.times[i], static_cast<int64_t>(start + sent[i]) * 1000000 + 7000000000) << i;
    EXPECT_EQ(air.samples[0], 21120u) << "1760 chips at 12 samples a chip";
    EXPECT_TRUE(told.empty());
}

// The device fails at bursts 3 and 4 and cannot be opened for telegram 5:
// the user hears of it once, the telegrams count as not sent, and the
// device opened again sends telegram 6 on.
TEST_F(SdrSession, FailingDeviceIsReportedAndOpenedAgain) {
    air.failing = {3, 4};
    onTelegram = [&](size_t n) { air.absent = n == 4; };
    run(1, 8);
    std::vector<bool> delivered;
    for (const RigRun::Planned& p : planned) delivered.push_back(p.telegram.delivered);
    EXPECT_EQ(delivered, (std::vector<bool>{true, true, false, false, false, true, true, true}));
    EXPECT_EQ(counts, (std::vector<unsigned>{5, 3, 0}));
    EXPECT_EQ(air.opens, 4) << "at the start, then for telegrams 4, 5 and 6";
    EXPECT_EQ(
        told,
        (std::vector<std::string>{
            "SDR driver=fake not responding (the transmit stream failed: STREAM_ERROR): telegrams are not being sent",
            "SDR driver=fake is back: telegrams are being sent again"}));
    EXPECT_EQ(air.times.back(), static_cast<int64_t>(start + 7000) * 1000000 + 7000000000);
}

// R2 telegrams (about 0.5 s on the air) every 0.3 s in turns: the start
// says that a burst outlasts the interval; a telegram whose burst would
// leave while the one before is still on the air is skipped, the others
// leave on time.
TEST_F(SdrSession, BurstsThatCannotLeaveOnTimeAreSkipped) {
    SdrSettings s;
    s.mode = RadioMode::R2;
    s.dutyPercent = 100, s.dutyOverride = true;
    run(0.3, 5, s);
    const int64_t length = std::llround(planned[0].air.airMs * 1e6);
    ASSERT_GT(length, 300000000);
    ASSERT_LT(length, 595000000);
    std::vector<bool> busy;
    for (const RigRun::Planned& p : planned) busy.push_back(p.air.busy && !p.telegram.delivered);
    EXPECT_EQ(busy, (std::vector<bool>{false, true, false, true, false}));
    EXPECT_EQ(counts, (std::vector<unsigned>{3, 0, 0}));
    EXPECT_EQ(air.times, (std::vector<int64_t>{static_cast<int64_t>(start) * 1000000 + 7000000000,
                                               static_cast<int64_t>(start + 600) * 1000000 + 7000000000,
                                               static_cast<int64_t>(start + 1200) * 1000000 + 7000000000}));
    EXPECT_EQ(path->startLines()[2],
              "a burst of 495 ms is longer than the 0.3 s between telegrams, and one transmitter sends one burst at "
              "a time: a telegram whose burst cannot leave within 5 ms of its time, the transmitter still sending the "
              "one before, is skipped");
}

// In "each" three meters due together, a gap of 1 ms: the gap is raised to
// the 12.1 ms burst and 5 ms, so the schedule takes the meters in turn and
// no telegram finds the transmitter busy.
TEST_F(SdrSession, EachScheduleMakesRoomForEveryBurst) {
    SdrSettings s;
    s.dutyPercent = 10, s.dutyOverride = true;
    std::string text = "[schedule]\nmode = \"each\"\ninterval = 1.0\ngap = 0.001\n";
    for (const char* a : {"9858705634120107", "9858715634120107", "9858725634120107"})
        text += std::string("[[meter]]\naddress = \"") + a + "\"\nkey = \"000102030405060708090A0B0C0D0E0F\"\n";
    run(0, 9, s, text.c_str());
    EXPECT_EQ(path->gapLine(),
              "the gap of 0.001 s leaves no room for the longest burst, 12.1 ms on the air: telegrams go at least 18 "
              "ms apart on the SDR (the burst and 5 ms)");
    std::vector<int> meters;
    std::vector<uint64_t> times;
    for (const RigRun::Planned& p : planned) meters.push_back(p.telegram.meter), times.push_back(p.atMs);
    EXPECT_EQ(meters, (std::vector<int>{0, 1, 2, 0, 1, 2, 0, 1, 2}));
    EXPECT_EQ(times, (std::vector<uint64_t>{0, 18, 36, 1000, 1018, 1036, 2000, 2018, 2036}));
    EXPECT_EQ(counts, (std::vector<unsigned>{9, 0, 0}));
}

// The account outlives the run: 0.001 % (36 ms an hour) lets two 17.6 ms
// bursts out, the next run none, a run an hour later two again. Another
// run's bursts saved meanwhile are taken in; a burst in the future is said
// and left out; a file that is not an account is said and taken as empty;
// one that cannot be written is said once.
TEST_F(SdrSession, DutyCycleAccountOutlivesTheRun) {
    SdrSettings s;
    s.dutyPercent = 0.001;
    const auto usedLine = [this] {
        return path->startLines().back().substr(path->startLines().back().find("0.1 %, ") + 7);
    };
    run(0.1, 5, s);
    EXPECT_EQ(counts, (std::vector<unsigned>{2, 0, 3}));
    run(0.1, 5, s);
    EXPECT_EQ(counts, (std::vector<unsigned>{0, 0, 5}));
    fake.clock += 3600000;
    run(0.1, 5, s);
    EXPECT_EQ(counts, (std::vector<unsigned>{2, 0, 3}));
    EXPECT_EQ(usedLine(), "0.0352 s of it used in the last hour: telegrams past it are held back");

    // another run on the transmitter saves a burst of its own after this
    // run's first: this run's next save takes it in (0.002 %, 72 ms: three
    // bursts of its own, not four), and the account keeps all four
    const std::string file = state + "/verdanox/duty-driver_fake";
    const auto write = [&file](const std::string& text) {
        std::FILE* f = std::fopen(file.c_str(), "w");
        std::fputs(text.c_str(), f);
        std::fclose(f);
    };
    const auto wallUs = [this] { return static_cast<int64_t>(fake.clock) * 1000 + 1769900000000000; };
    fake.clock += 3600000;
    s.dutyPercent = 0.002;
    onTelegram = [&](size_t n) {
        if (n == 1)
            write("verdanox duty-cycle account 1\n868700000 " + std::to_string(wallUs() - 500000) + " " +
                  std::to_string(wallUs() - 482400) + "\n");
    };
    run(1, 5, s);
    onTelegram = nullptr;
    EXPECT_EQ(counts, (std::vector<unsigned>{3, 0, 2}));
    std::string saved;
    ASSERT_EQ(readAccountFile(file, &saved, &saved), AccountFile::Read);
    EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 5) << saved;

    // a burst a day ahead (the clock set back since): said, left out
    fake.clock += 3600000;
    write("verdanox duty-cycle account 1\n868700000 " + std::to_string(wallUs() + 86400000000) + " " +
          std::to_string(wallUs() + 86403599000) + "\n");
    run(0.1, 2);
    EXPECT_EQ(counts, (std::vector<unsigned>{2, 0, 0}));
    EXPECT_EQ(path->startLines()[1],
              "the duty-cycle account " + file +
                  " holds 1 burst that starts after now (the clock was set back since?): left out");
    ASSERT_EQ(readAccountFile(file, &saved, &saved), AccountFile::Read);
    EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 3) << "the two bursts of the run";

    // another run's lock is never waited for during the run, and is left to
    // it; the last save goes ahead after a while; a lock a killed run left
    // (a minute old) is taken over; a file of that name is not removed
    const std::string lock = file + ".lock";
    std::filesystem::create_directory(lock);
    fake.clock += 3600000;
    run(0.1, 5);
    EXPECT_EQ(counts, (std::vector<unsigned>{5, 0, 0}));
    EXPECT_TRUE(std::filesystem::is_directory(lock));
    ASSERT_EQ(readAccountFile(file, &saved, &saved), AccountFile::Read);
    EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 6) << saved;
    std::error_code aged;  // wine cannot set a directory's time: checked where it can
    std::filesystem::last_write_time(lock, std::filesystem::file_time_type::clock::now() - std::chrono::minutes(1),
                                     aged);
    if (!aged) run(0.1, 2);
    EXPECT_FALSE(!aged && std::filesystem::exists(lock));
    std::filesystem::remove(lock);
    std::fclose(std::fopen(lock.c_str(), "w"));
    run(0.1, 2);
    EXPECT_TRUE(std::filesystem::is_regular_file(lock));
    std::filesystem::remove(lock);

    s.dutyPercent = 0.001;
    write("verdanox duty-cycle account 1\n868700000 oops\n");
    run(0.1, 5, s);
    EXPECT_EQ(counts, (std::vector<unsigned>{2, 0, 3}));
    EXPECT_EQ(path->startLines()[1],
              "the duty-cycle account " + file + " cannot be read (line 2): it is taken as empty and written anew");

    std::filesystem::remove_all(state + "/verdanox");
    std::fclose(std::fopen((state + "/verdanox").c_str(), "w"));  // a file where the directory should be
    run(0.1, 5);
    EXPECT_EQ(counts, (std::vector<unsigned>{5, 0, 0}));
    EXPECT_EQ(told, (std::vector<std::string>{"the duty-cycle account cannot be written to " + file +
                                              ": later runs do not see this run's time on air"}));
}
