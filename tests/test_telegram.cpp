// Stick frames, plain and mode-7 telegrams, and the send cycle: golden bytes
// and the counters' rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <bitset>
#include <cmath>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "sdr/chips.h"
#include "sdr/gaussian.h"
#include "sdr/modulator.h"
#include "telegram/frames.h"
#include "telegram/radio.h"
#include "telegram/readings.h"
#include "telegram/records.h"
#include "telegram/send_cycle.h"
#include "tests/fixtures.h"
#include "tests/hex.h"

using testhex::bytes;
using testhex::norm;
using testhex::str;
using namespace vdx;
using testfix::exampleMeter;
using testfix::kKey;
using testfix::kPayload;

namespace {

std::string encrypted(MeterRecord& m, const uint8_t* key = kKey) {
    uint8_t frame[kEncryptedTelegramSize];
    buildEncryptedTelegram(m, key, frame);
    return str(frame, sizeof frame);
}

}  // namespace

TEST(Frames, ExampleMeterAddressAndPlainTelegrams) {
    MeterRecord m = exampleMeter();
    uint8_t address[kAddressFrameSize];
    buildAddressFrame(m, address);
    EXPECT_EQ(str(address, 11), "0108001234785634120103");

    uint8_t plain[kPlainTelegramSize];
    buildPlainTelegram(m, plain);
    EXPECT_EQ(str(plain, 97), norm(std::string("445E00 44 72 78563412 1234 01 03 00 00 0000") + kPayload));
    EXPECT_EQ(stickFrameSize(plain), 97u);
    EXPECT_EQ(m.accessNumber, 1);
    EXPECT_EQ(m.messageCounter, 0u) << "plain telegrams leave the message counter";

    uint8_t next[kPlainTelegramSize];
    buildPlainTelegram(m, next);
    for (int i = 0; i < 97; ++i) EXPECT_EQ(next[i], i == 13 ? 0x01 : plain[i]) << "offset " << i;
    EXPECT_EQ(str(applicationPayload, 80), norm(kPayload));
}

TEST(Frames, AccessNumberWrapsAfter256) {
    MeterRecord m = exampleMeter();
    uint8_t plain[kPlainTelegramSize];
    for (int i = 0; i < 255; ++i) buildPlainTelegram(m, plain);
    EXPECT_EQ(plain[13], 254);
    EXPECT_EQ(m.accessNumber, 255);
    buildPlainTelegram(m, plain);
    EXPECT_EQ(plain[13], 255);
    EXPECT_EQ(m.accessNumber, 0);
    uint8_t enc[kEncryptedTelegramSize];
    m.messageCounter = 0xFFFFFFFFu;
    buildEncryptedTelegram(m, kKey, enc);
    EXPECT_EQ(enc[6], 0);
    EXPECT_EQ(enc[33], 0);
    EXPECT_EQ(str(enc + 12, 4), "FFFFFFFF");
    EXPECT_EQ(m.messageCounter, 0u) << "message counter wraps at 2^32";
    EXPECT_EQ(m.accessNumber, 1);
}

// Golden mode-7 telegram of the example meter with key 00112233..FF at C = 0,
// checked independently below against OpenSSL.
TEST(Encrypted, GoldenFrameAndHeader) {
    MeterRecord m = exampleMeter();
    const std::string first = encrypted(m);
    EXPECT_EQ(first.substr(0, 2 * 16), norm("447300 44 8C 24 00 90 0F 002C 25 00000000"));
    EXPECT_EQ(first.substr(2 * 24, 2 * 14), norm("72 78563412 1234 01 03 00 00 5007 10"));
    EXPECT_EQ(first, norm("447300448C2400900F002C2500000000"
                          "781F6588E3B90F8F"
                          "7278563412123401030000500710"
                          "19C45055076C687B26283FEC71D49D6162EB7CE244C9966DDD11F0939788647F"
                          "C5BFAB0D9B7B9C9A7F48D57B2E51707203AFDD48310ED1384C7673981BDBD392"
                          "AD8679532982F09E1902FA6FA7B91092"));
    EXPECT_EQ(m.accessNumber, 1);
    EXPECT_EQ(m.messageCounter, 1u);
}

// The radio frame a receiver decodes: L C M A, then the telegram after its
// C-field; in frame format A with a CRC after the first 10 bytes and after
// every 16 bytes that follow.
TEST(Radio, FramesAndFormatACrcs) {
    // CRC-16/EN-13757 (poly 0x3D65, init 0, complemented): catalogue check value
    const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(wmbusCrc(digits, 9), 0xC2B7);
    EXPECT_EQ(wmbusCrc(digits, 0), 0xFFFF);

    MeterRecord m = exampleMeter();
    uint8_t address[kAddressFrameSize], plain[kPlainTelegramSize], enc[kEncryptedTelegramSize];
    buildAddressFrame(m, address);
    buildPlainTelegram(m, plain);
    std::vector<uint8_t> radio = radioFrame(address, plain);
    EXPECT_EQ(str(radio.data(), 19), norm("66 44 1234 78563412 01 03 72 78563412 1234 01 03"));
    EXPECT_EQ(radio.size(), 103u) << "L = 0x66 = 102 bytes after itself";
    EXPECT_EQ(str(radio.data() + 23, 80), norm(kPayload));

    buildEncryptedTelegram(m, kKey, enc);
    radio = radioFrame(address, enc);
    ASSERT_EQ(radio.size(), 124u);
    EXPECT_EQ(radio[0], 0x7B);
    EXPECT_EQ(str(radio.data() + 10, 114), str(enc + 4, 114));
    const std::vector<uint8_t> a = withFormatACrcs(radio);
    ASSERT_EQ(a.size(), 124u + 2 * 9) << "10 + 7 x 16 + 2 bytes: nine blocks";
    EXPECT_EQ(a[0], 0x7B) << "L does not count the CRCs";
    for (size_t at = 0, block = 10, n = 0; at < a.size(); at += n + 2, block = 16) {
        n = std::min(block, a.size() - 2 - at);
        EXPECT_EQ(wmbusCrc(a.data() + at, n), a[at + n] << 8 | a[at + n + 1]) << "block at " << at;
    }
}

TEST(Encrypted, KeysDependOnCounterIdentAndKey) {
    MeterRecord a = exampleMeter(), b = exampleMeter();
    b.identNumber[0] = 0x79;
    const std::string a0 = encrypted(a), a1 = encrypted(a), b0 = encrypted(b);
    EXPECT_NE(a0.substr(2 * 38), a1.substr(2 * 38)) << "ciphertext differs per counter";
    EXPECT_NE(a0.substr(32, 16), a1.substr(32, 16)) << "MAC differs per counter";
    EXPECT_NE(a0.substr(2 * 38), b0.substr(2 * 38)) << "ciphertext differs per identification number";
    const uint8_t zeroKey[16] = {0};
    MeterRecord z = exampleMeter();
    EXPECT_NE(encrypted(z, zeroKey).substr(2 * 38), a0.substr(2 * 38));
    // restart: the n-th telegram after a reset repeats
    MeterRecord again = exampleMeter();
    EXPECT_EQ(encrypted(again), a0);
    EXPECT_EQ(encrypted(again), a1);
}

namespace {

struct Recorder {
    std::vector<std::vector<uint8_t>> frames;
    std::vector<std::string> shown = std::vector<std::string>(kMeterCount, "?");
    std::deque<int> results;  // what the next writes return; 1 when empty
    FrameWriter writer() {
        return [this](const uint8_t* f) {
            frames.emplace_back(f, f + stickFrameSize(f));
            const int r = results.empty() ? 1 : results.front();
            if (!results.empty()) results.pop_front();
            return r;
        };
    }
    CountDisplay display() {
        return [this](int i, const char* t) { shown[static_cast<size_t>(i)] = t; };
    }
};

class SendCycle : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(meterTable, 0, sizeof meterTable);
        for (int i = 0; i < kMeterCount; ++i) {
            meterTable[i].manufacturer[0] = 0x98;
            meterTable[i].identNumber[0] = static_cast<uint8_t>(i);
            std::memset(keys[i], i, 16);
        }
        sendingEnabled = false;
        currentMeter = 0;
    }
    bool tick(bool enc = true) { return sendTick(enc, keys, rec.writer(), rec.display()); }
    uint8_t keys[kMeterCount][16];
    Recorder rec;
};

}  // namespace

TEST_F(SendCycle, ServesMetersInTurnAndEleventhTickShowsTwo) {
    tick();
    EXPECT_TRUE(rec.frames.empty()) << "sending off: nothing written";
    EXPECT_EQ(rec.shown[0], "?");
    startSending(rec.display());
    for (const auto& s : rec.shown) EXPECT_EQ(s, "0");
    for (int t = 0; t < 11; ++t) tick();
    ASSERT_EQ(rec.frames.size(), 22u);
    for (int t = 0; t < 11; ++t) {
        EXPECT_EQ(rec.frames[2 * t].size(), 11u);
        EXPECT_EQ(rec.frames[2 * t][5], t % 10) << "tick " << t << " serves meter " << t % 10;
        EXPECT_EQ(rec.frames[2 * t + 1].size(), 118u);
    }
    EXPECT_EQ(rec.shown[0], "2");
    EXPECT_EQ(rec.shown[1], "1");
    EXPECT_EQ(currentMeter, 1);
    // the second telegram of meter 0 has access number 1 and counter 1
    EXPECT_EQ(rec.frames[21][6], 1);
    EXPECT_EQ(rec.frames[21][12], 1);
}

TEST_F(SendCycle, StartStopStartAndEncryptionFlag) {
    startSending(rec.display());
    tick();
    tick(false);  // meter 1 plain
    tick();
    stopSending();
    tick();
    EXPECT_EQ(rec.frames.size(), 6u) << "no frame after Stop";
    EXPECT_EQ(rec.frames[3].size(), 97u);
    EXPECT_EQ(rec.shown[2], "1") << "counts stay after Stop";
    EXPECT_EQ(currentMeter, 3);
    EXPECT_EQ(meterTable[1].messageCounter, 0u) << "plain telegram leaves the message counter";
    EXPECT_EQ(meterTable[1].accessNumber, 1);

    const auto firstMeter0 = rec.frames[1];
    startSending(rec.display());
    EXPECT_EQ(rec.shown[2], "0");
    EXPECT_EQ(currentMeter, 0);
    tick();
    EXPECT_EQ(rec.frames.back(), firstMeter0) << "after Start meter 0 starts again at counter 0";
    // Start while sending restarts too
    tick();
    startSending(rec.display());
    tick(false);
    EXPECT_EQ(rec.frames.back().size(), 97u);
    EXPECT_EQ(rec.frames.back()[5], 0);
    EXPECT_EQ(rec.frames.back()[13], 0);
}

// Counts say what went on the air; the counters move on regardless.
TEST_F(SendCycle, OnlyTelegramsThatWentOutCount) {
    startSending(rec.display());
    rec.results = {0};  // meter 0: the address frame fails
    EXPECT_FALSE(tick());
    rec.results = {1, 0};  // meter 1: the telegram fails
    EXPECT_FALSE(tick());
    EXPECT_TRUE(tick());
    ASSERT_EQ(rec.frames.size(), 5u) << "no telegram is written without its address frame";
    EXPECT_EQ(rec.frames[0].size(), 11u);
    EXPECT_EQ(rec.frames[1].size(), 11u);
    EXPECT_EQ(meterTable[0].sendCount + meterTable[1].sendCount, 0u);
    EXPECT_EQ(meterTable[2].sendCount, 1u);
    EXPECT_EQ((std::vector<std::string>{rec.shown[0], rec.shown[1], rec.shown[2]}),
              (std::vector<std::string>{"0", "0", "1"}));
    EXPECT_EQ(meterTable[0].accessNumber, 1) << "built and counted on as if sent";
    EXPECT_EQ(meterTable[0].messageCounter, 1u);
    EXPECT_EQ(currentMeter, 3);
    stopSending();
    EXPECT_FALSE(tick());
}

// Live readings in the fixed block's layout, at chosen meter times; the
// expected bytes are written out by hand (type I date: second, minute,
// hour | weekday << 5, day | (year & 7) << 5, month | (year >> 3) << 4, 0).
TEST(Readings, BlockAtChosenMeterTimes) {
    ReadingsModel m;
    m.start = 1769903400;  // 2026-01-31 23:50:00 UTC
    EXPECT_EQ(m.start, unixTime(2026, 1, 31, 23, 50));
    m.volume = 12.5;
    m.volumeUncorrected = 12.9;
    m.flow = 0.3;
    m.batteryDays = 2;
    m.fabrication = 12345678;
    m.events = {{unixTime(2026, 2, 1, 6), 0x00000010}};
    uint8_t block[kPayloadSize];
    const auto field = [&](int at, int n) { return str(block + at, static_cast<size_t>(n)); };

    // just before the month ends: January's due date lies before the start
    buildReadingsBlock(readingsAt(m, unixTime(2026, 1, 31, 23, 59, 59)), block);
    EXPECT_EQ(field(4, 6), "000000413100") << "due date 2026-01-01, no weekday";
    EXPECT_EQ(field(12, 4) + field(19, 4),
              "00250100"
              "00290100")
        << "due volumes: the start values";
    EXPECT_EQ(field(25, 6), "3B3BD75F3100") << "Saturday 2026-01-31 23:59:59";
    EXPECT_EQ(field(33, 4), "49250100") << "12.5 + 0.3 x 9.98/60 h = 12549 l, rounded down";

    // the month rolls over: February's due date and its volumes
    buildReadingsBlock(readingsAt(m, unixTime(2026, 2, 1)), block);
    EXPECT_EQ(field(4, 6), "000000413200");
    EXPECT_EQ(field(25, 6), "0000E0413200") << "Sunday";
    EXPECT_EQ(field(12, 4) + field(33, 4),
              "50250100"
              "50250100");
    EXPECT_EQ(field(19, 4) + field(40, 4),
              "50290100"
              "50290100");
    EXPECT_EQ(field(48, 4), "99914100") << "before the event";
    EXPECT_EQ(field(55, 2), "0200") << "no whole day over yet";
    EXPECT_EQ(field(67, 4), "78563412");

    // the event, at its second; the battery runs out and stays at 0
    buildReadingsBlock(readingsAt(m, unixTime(2026, 2, 1, 6)), block);
    EXPECT_EQ(field(48, 4), "10000000");
    EXPECT_EQ(readingsAt(m, unixTime(2026, 2, 1, 5, 59, 59)).errorFlags, 0x00419199u);
    EXPECT_EQ(readingsAt(m, m.start + 86400 - 1).batteryDays, 2u);
    EXPECT_EQ(readingsAt(m, m.start + 86400).batteryDays, 1u);
    EXPECT_EQ(readingsAt(m, m.start + 30 * 86400).batteryDays, 0u);

    // a leap day, and the 8-digit register rolling over
    m.volume = 99999.999;
    m.flow = 1;
    m.start = unixTime(2028, 2, 29, 11);
    buildReadingsBlock(readingsAt(m, unixTime(2028, 2, 29, 12)), block);
    EXPECT_EQ(field(25, 6), "00004C9D3200") << "Tuesday 2028-02-29 12:00:00";
    EXPECT_EQ(field(33, 4), "99090000") << "100000999 l rolls over to 999";
    EXPECT_EQ(field(4, 6), "000000813200") << "due date 2028-02-01";

    // everything but the values is the fixed block's
    for (int at : {0,  1,  2,  3,  10, 11, 16, 17, 18, 23, 24, 31, 32, 37, 38, 39, 44, 45,
                   46, 47, 52, 53, 54, 57, 58, 59, 60, 61, 62, 63, 64, 65, 66, 71, 79})
        EXPECT_EQ(block[at], applicationPayload[at]) << "offset " << at;
}

// The air interface: the 3-out-of-6 code of EN 13757-4 as the standard
// writes it, the chips of every mode (preamble pairs, synchronisation word,
// coding) and of the air faults, and the sample formats by their first
// bytes (silence, then the first sample of a burst at -50 kHz: 15 degrees
// of phase at 1.2 MHz, amplitude half the full scale).
TEST(Sdr, ChipsAndSampleFormats) {
    const char* const kCode[16] = {"010110", "001101", "001110", "001011", "011100", "011001", "011010", "010011",
                                   "101100", "100101", "100110", "100011", "110100", "110001", "110010", "101001"};
    for (int n = 0; n < 16; ++n)
        EXPECT_EQ(std::bitset<6>(threeOutOfSix(static_cast<uint8_t>(n))).to_string(), kCode[n]);

    const auto text = [](const std::vector<uint8_t>& chips) {
        std::string s;
        for (uint8_t c : chips) s += static_cast<char>('0' + c);
        return s;
    };
    const auto pairs = [](int n) {
        std::string s;
        for (int i = 0; i < n; ++i) s += "01";
        return s;
    };
    const auto chips = [](std::string s) { return s.erase(std::remove(s.begin(), s.end(), ' '), s.end()), s; };
    // 0x3A: 0011 1010; Manchester 1 as 01, 0 as 10
    const std::string manchester = " 10 10 01 01 01 10 01 10", post = pairs(4);
    const struct {
        RadioMode mode;
        FrameFormat format;
        AirFault fault;
        int preamblePairs;
        std::string rest;
    } cases[] = {
        {RadioMode::T1, FrameFormat::A, AirFault::None, 19, "0000111101 001011 100110"},
        {RadioMode::C1, FrameFormat::A, AirFault::None, 16, "0101010000111101 0101010011001101 00111010"},
        {RadioMode::C1, FrameFormat::B, AirFault::None, 16, "0101010000111101 0101010000111101 00111010"},
        {RadioMode::S1, FrameFormat::A, AirFault::None, 279, "000111011010010110" + manchester},
        {RadioMode::S2, FrameFormat::A, AirFault::None, 15, "000111011010010110" + manchester},
        {RadioMode::R2, FrameFormat::A, AirFault::None, 39, "000111011010010110" + manchester},
        {RadioMode::F, FrameFormat::A, AirFault::None, 39, "1111011010001101 00111010"},
        {RadioMode::N, FrameFormat::B, AirFault::None, 8, "1111011001110010 00111010"},
        {RadioMode::T1, FrameFormat::A, AirFault::BadCodeWord, 19, "0000111101 111000 100110"},
        {RadioMode::T1, FrameFormat::A, AirFault::ShortPreamble, 9, "0000111101 001011 100110"},
        {RadioMode::S2, FrameFormat::A, AirFault::ShortPreamble, 7, "000111011010010110" + manchester},
        {RadioMode::T1, FrameFormat::A, AirFault::BadSync, 19, "0000101101 001011 100110"},
        {RadioMode::C1, FrameFormat::A, AirFault::BadSync, 16, "0101010000111101 1101010011001101 00111010"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(text(frameChips({0x3A}, c.mode, c.format, c.fault)), pairs(c.preamblePairs) + chips(c.rest) + post)
            << radioMode(c.mode).name << " fault " << static_cast<int>(c.fault);

    for (const auto& c : {std::pair<IqFormat, std::string>{IqFormat::Cu8, "8080BD6F"},
                          {IqFormat::Cs8, "00003DF0"},
                          {IqFormat::Cs16, "00000000CF3D68EF"}}) {
        IqOptions o;
        o.format = c.first;
        std::vector<uint8_t> out;
        IqWriter modulator(o, [&](const uint8_t* d, size_t n) { return out.insert(out.end(), d, d + n), true; });
        uint64_t first = 0, last = 0;
        ASSERT_TRUE(modulator.gap(1000.0 / 1200000));  // one sample
        ASSERT_TRUE(modulator.burst({0, 1}, BurstShape{}, &first, &last));
        EXPECT_EQ(testhex::str(out.data(), c.second.size() / 2), c.second);
        EXPECT_EQ(first, 1u);
        EXPECT_EQ(last, 24u) << "two chips of twelve samples";
    }
    EXPECT_TRUE(validSampleRate(100000) && validSampleRate(10000000) && validSampleRate(1200000) &&
                validSampleRate(250000) && validSampleRate(2048000));
    EXPECT_FALSE(validSampleRate(50000) || validSampleRate(1250500) || validSampleRate(10100000));
}

// A burst rendered a few samples at a time into the caller's buffer (as a
// transmit stream takes it) is the one the capture writer renders whole,
// byte for byte, through GFSK, noise, a chip-rate error and a carrier
// offset; a burst lasts its chips at the chip rate, rounded up to a sample.
TEST(Sdr, RenderingInPiecesAndBurstLength) {
    IqOptions o;
    o.format = IqFormat::Cs16;
    o.snrDb = 20;
    o.clockPpm = 30;
    const std::vector<uint8_t> chips = frameChips({0x3A, 0xC5, 0x00}, RadioMode::N, FrameFormat::A);
    const BurstShape shape = burstShape(radioMode(RadioMode::N), 12000);
    std::vector<uint8_t> whole;
    IqWriter writer(o, [&](const uint8_t* d, size_t n) { return whole.insert(whole.end(), d, d + n), true; });
    uint64_t first = 0, last = 0;
    ASSERT_TRUE(writer.gap(1) && writer.burst(chips, shape, &first, &last) && writer.gap(1));
    EXPECT_EQ(last - first + 1, static_cast<uint64_t>(std::ceil(chips.size() * 1200000 / (4800 * 1.00003))));

    IqModulator m(o);
    std::vector<uint8_t> pieces, piece(7 * 4);
    const auto drain = [&] {
        while (const size_t n = m.render(piece.data(), 7))
            pieces.insert(pieces.end(), piece.data(), piece.data() + 4 * n);
    };
    m.beginGap(1200);
    drain();
    m.beginBurst(chips, shape);
    EXPECT_EQ(m.pending(), last - first + 1);
    drain();
    m.beginGap(1200);
    drain();
    EXPECT_TRUE(pieces == whole) << pieces.size() << " bytes against " << whole.size();

    IqWriter s1(IqOptions{}, [](const uint8_t*, size_t) { return true; });
    ASSERT_TRUE(s1.burst(std::vector<uint8_t>(1000), burstShape(radioMode(RadioMode::S1), 0), &first, &last));
    EXPECT_EQ(last + 1, 36622u) << "1000 chips of 1/32768 s at 1.2 MHz: 36621.1 samples";
}

// The noise: standard normal deviates (variance 1, tails as a normal
// distribution's beyond the table's outer edge at 3.37), and in a capture
// the signal-to-noise ratio asked for (cf32: the signal at amplitude 0.5).
TEST(Sdr, NoiseStatisticsAndLevel) {
    GaussianSource g(5);
    double sum = 0, squares = 0;
    int beyond3 = 0, beyond4 = 0;
    constexpr int kDraws = 1000000;
    for (int i = 0; i < kDraws; ++i) {
        const double z = g.next();
        sum += z, squares += z * z, beyond3 += std::fabs(z) > 3, beyond4 += std::fabs(z) > 4;
    }
    EXPECT_NEAR(sum / kDraws, 0, 0.005);
    EXPECT_NEAR(squares / kDraws, 1, 0.005);
    EXPECT_NEAR(beyond3, 2700, 200) << "P(|z| > 3) = 0.0027";
    EXPECT_NEAR(beyond4, 63, 25) << "P(|z| > 4) = 6.3e-5";

    IqOptions o;
    o.format = IqFormat::Cf32;
    o.snrDb = 10;
    IqModulator m(o);
    std::vector<float> iq(2 * 200000);
    m.beginGap(200000);
    ASSERT_EQ(m.render(reinterpret_cast<uint8_t*>(iq.data()), 200000), 200000u);
    double power = 0;
    for (float x : iq) power += x * x;
    EXPECT_NEAR(power / 200000, 0.25 / 10, 0.0005) << "noise power: signal power 0.25 over 10 dB";

    // the share of a burst's I and Q values that clip in cu8, as predicted
    o.format = IqFormat::Cu8;
    o.snrDb = -3;
    IqModulator clipped(o);
    std::vector<uint8_t> burst(2 * 200000);
    clipped.beginBurst(std::vector<uint8_t>(2000, 1), BurstShape{});
    ASSERT_EQ(clipped.render(burst.data(), 200000), 24000u);
    const auto rails =
        std::count_if(burst.begin(), burst.begin() + 48000, [](uint8_t v) { return v == 0 || v == 255; });
    EXPECT_NEAR(rails / 48000.0, clippedShare(-3), 0.005);
    EXPECT_NEAR(clippedShare(-3), 0.102, 0.001);
    EXPECT_NEAR(clippedShare(2.7), 0.0098, 0.0005);
    EXPECT_EQ(clippedShare(INFINITY), 0);
}

// (the table below leaves the request fields it does not need at their defaults)
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
// The record encoder against bytes written out by hand from EN 13757-3:
// every data field type, the functions, storage numbers, tariffs and
// subunits through DIFEs, each VIF family with its exponent, the dates of
// types G, F and I at both ends of 2000-2099, and values that do not fit.
TEST(Records, EncoderAgainstHandWrittenBytes) {
    const auto num = [](int64_t count) { return RecordValue{RecordValue::Number, count, 0, 0}; };
    const auto real = [](double r) { return RecordValue{RecordValue::Number, 0, r, 0}; };
    const auto at = [](int64_t t) { return RecordValue{RecordValue::Time, 0, 0, t}; };
    const auto wide = [](uint64_t u) { return RecordValue{RecordValue::Number, int64_t(u), 0, 0, u > INT64_MAX}; };
    const int64_t y2000 = unixTime(2000, 1, 1), y2099 = unixTime(2099, 12, 31, 23, 59, 59);
    const Function kMax = Function::Maximum, kMin = Function::Minimum, kErr = Function::Error;
    // request: quantity, unit, modifier, digits, bits, real, text, decimals, storage, tariff, subunit, function
    const struct {
        RecordRequest r;
        RecordValue v;
        const char* bytes;  // nullptr: refused
    } cases[] = {
        // data fields: integers (signed, type B), BCD, real, text
        {{"volume", "m3", "", 0, 8, false, false, 3}, num(100), "01 13 64"},
        {{"volume", "m3", "", 0, 16, false, false, 3}, num(-2), "02 13 FEFF"},
        {{"volume", "m3", "", 0, 24, false, false, 3}, num(0x123456), "03 13 563412"},
        {{"volume", "m3", "", 0, 32, false, false, 3}, num(123456), "04 13 40E20100"},
        {{"volume", "m3", "", 0, 48, false, false, 3}, num(0x123456789A), "06 13 9A7856341200"},
        {{"volume", "m3", "", 0, 64, false, false, 3}, num(-1), "07 13 FFFFFFFFFFFFFFFF"},
        {{"volume", "m3", "", 2, 0, false, false, 3}, num(42), "09 13 42"},
        {{"volume", "m3", "", 4, 0, false, false, 3}, num(1234), "0A 13 3412"},
        {{"volume", "m3", "", 6, 0, false, false, 3}, num(123456), "0B 13 563412"},
        {{"volume", "m3", "", 8, 0, false, false, 3}, num(12345678), "0C 13 78563412"},
        {{"volume", "m3", "", 12, 0, false, false, 3}, num(123456789012), "0E 13 129078563412"},
        {{"volume", "m3", "", 0, 0, true, false, 3}, real(1.5), "05 13 0000C03F"},
        {{"volume", "m3", "", 0, 0, true}, real(-3.4028235e38), "05 16 FFFF7FFF"},  // rounds to -FLT_MAX
        {{"customer", "", "", 0, 0, false, true}, num(0), "0D FD11 03 434241"},     // "ABC", last character first
        // dates: G, F (hundred year 1 in the hour byte), I
        {{"date", ""}, at(y2000), "02 6C 0101"},
        {{"date", ""}, at(y2099), "02 6C 7FCC"},
        {{"date-time", "", "", 0, 32}, at(y2000), "04 6D 00200101"},
        {{"date-time", "", "", 0, 32}, at(y2099), "04 6D 3B377FCC"},
        {{"date-time", "", "", 0, 48}, at(y2000), "06 6D 0000C0010100"},  // Saturday
        {{"date-time", "", "", 0, 48}, at(y2099), "06 6D 3B3B977FCC00"},  // Thursday
        // functions, storage numbers, tariffs, subunits
        {{"volume", "m3", "", 0, 32, false, false, 3, 0, 0, 0, kMax}, num(1), "14 13 01000000"},
        {{"volume", "m3", "", 0, 32, false, false, 3, 0, 0, 0, kMin}, num(1), "24 13 01000000"},
        {{"volume", "m3", "", 0, 32, false, false, 3, 0, 0, 0, kErr}, num(1), "34 13 01000000"},
        {{"volume", "m3", "", 0, 32, false, false, 3, 1}, num(1), "44 13 01000000"},
        {{"volume", "m3", "", 0, 32, false, false, 3, 8}, num(1), "84 04 13 01000000"},
        {{"volume", "m3", "", 0, 32, false, false, 3, 33}, num(1), "C4 80 01 13 01000000"},
        {{"volume", "m3", "", 0, 32, false, false, 3, 0, 1}, num(1), "84 10 13 01000000"},
        {{"volume", "m3", "", 0, 32, false, false, 3, 0, 5}, num(1), "84 90 10 13 01000000"},
        {{"volume", "m3", "", 0, 32, false, false, 3, 0, 0, 1}, num(1), "84 40 13 01000000"},
        {{"volume", "m3", "", 0, 32, false, false, 3, 3, 2, 2}, num(1), "C4 A1 40 13 01000000"},
        // VIF families and their exponents
        {{"energy", "kWh", "", 0, 32, false, false, 3}, num(1), "04 03 01000000"},
        {{"energy", "kWh", "", 0, 32}, num(1), "04 06 01000000"},
        {{"energy", "kWh", "", 0, 32, false, false, -2}, num(1), "04 FB00 01000000"},
        {{"energy", "J", "", 0, 32}, num(1), "04 08 01000000"},
        {{"volume", "m3", "", 0, 32, false, false, 6}, num(1), "04 10 01000000"},
        {{"mass", "kg", "", 0, 32, false, false, 3}, num(1), "04 18 01000000"},
        {{"on-time", "h", "", 0, 32}, num(1), "04 22 01000000"},
        {{"power", "kW", "", 0, 32, false, false, 3}, num(1), "04 2B 01000000"},
        {{"volume-flow", "m3/h", "", 0, 32, false, false, 3}, num(1), "04 3B 01000000"},
        {{"flow-temperature", "C", "", 0, 16, false, false, 1}, num(-5), "02 5A FBFF"},
        {{"return-temperature", "C", "", 0, 16, false, false, 2}, num(1), "02 5D 0100"},
        {{"temperature-difference", "K", "", 0, 16, false, false, 3}, num(1), "02 60 0100"},
        {{"external-temperature", "C", "", 0, 16, false, false, 2}, num(1), "02 65 0100"},
        {{"pressure", "bar", "", 0, 16, false, false, 3}, num(1), "02 68 0100"},
        {{"hca", "units", "", 0, 24}, num(1), "03 6E 010000"},
        {{"fabrication-number", "", "", 8}, num(88011718), "0C 78 18170188"},
        {{"error-flags", "", "", 0, 16}, num(0xFFFF), "02 FD17 FFFF"},
        {{"battery-days", "days", "", 4}, num(3650), "0A FD74 5036"},
        {{"voltage", "V", "", 0, 16, false, false, 1}, num(2301), "02 FD48 FD08"},
        {{"current", "A", "", 0, 16, false, false, 3}, num(1), "02 FD59 0100"},
        {{"volume", "m3", "backward", 0, 32, false, false, 3}, num(3), "04 933C 03000000"},
        {{"volume", "m3", "uncorrected", 8, 0, false, false, 3}, num(735), "0C 933A 35070000"},
        {{"energy", "GJ", "", 0, 32, false, false, 3}, num(1), "04 0E 01000000"},  // 10^6 J
        {{"volume", "l", "", 0, 32}, num(1), "04 13 01000000"},
        {{"error-flags", "", "", 0, 64}, wide(UINT64_MAX), "07 FD17 FFFFFFFFFFFFFFFF"},
        {{"volume", "m3", "", 0, 64}, wide(uint64_t(INT64_MAX)), "07 16 FFFFFFFFFFFFFF7F"},
        // refused: negative BCD, values past their field, dates outside 2000-2099,
        // no VIF for the quantity or resolution, storage past ten DIFEs
        {{"volume", "m3", "", 8, 0, false, false, 3}, num(-1), nullptr},
        {{"volume", "m3", "", 2, 0, false, false, 3}, num(100), nullptr},
        {{"volume", "m3", "", 0, 8, false, false, 3}, num(128), nullptr},
        {{"volume", "m3", "", 0, 64}, wide(uint64_t(INT64_MAX) + 1), nullptr},
        {{"volume", "m3", "", 0, 0, true}, real(1e39), nullptr},
        {{"volume", "m3", "", 0, 0, true}, real(3.4028235677973366e38), nullptr},  // halfway: infinity
        {{"volume", "m3", "", 0, 0, true}, real(NAN), nullptr},
        {{"volume", "m3", "", 0, 32}, RecordValue{RecordValue::Number, 0, 1e19, 0, false, true}, nullptr},
        {{"error-flags", "", "", 0, 8}, num(256), nullptr},
        {{"error-flags", "", "", 0, 8}, num(-1), nullptr},
        {{"date", ""}, at(unixTime(1999, 12, 31)), nullptr},
        {{"date-time", "", "", 0, 32}, at(unixTime(2100, 1, 1)), nullptr},
        {{"volume", "m3", "", 0, 32, false, false, 7}, num(1), nullptr},
        {{"flux", "", "", 0, 32}, num(1), nullptr},
        {{"volume", "m3", "", 3}, num(1), nullptr},
        {{"date", "", "", 0, 32}, at(y2000), nullptr},
        {{"volume", "m3", "", 0, 32, false, false, 3, uint64_t(1) << 41}, num(1), nullptr},
    };
    for (const auto& c : cases) {
        DataRecord s;
        std::string error;
        const std::string what = c.r.quantity + "/" + std::to_string(c.r.digits) + "/" + std::to_string(c.r.bits);
        bool ok = describeRecord(c.r, &s, &error);
        if (c.r.text) s.text = "ABC";
        if (ok && c.v.kind == RecordValue::Time && c.r.bits == 48 && c.v.time == y2099) s.source = Source::Time;
        uint8_t out[64] = {};
        ok = ok && encodeRecord(s, c.v, out, &error);
        if (c.bytes == nullptr) {
            EXPECT_FALSE(ok) << what << " must be refused";
            EXPECT_FALSE(error.empty()) << what;
            continue;
        }
        ASSERT_TRUE(ok) << what << ": " << error;
        EXPECT_EQ(str(out, recordSize(s)), norm(c.bytes)) << what;
    }
    // integer constants as exact counts: scaled, rounded once, to 2^64 - 1
    DataRecord e;
    EXPECT_TRUE(exactCount(123, false, -3, &e) && e.count == 123000 && !e.countUnsigned);
    EXPECT_TRUE(exactCount(149, false, 2, &e) && e.count == 1) << "one rounding, not two";
    EXPECT_TRUE(exactCount(UINT64_MAX, false, 0, &e) && e.countUnsigned && uint64_t(e.count) == UINT64_MAX);
    EXPECT_TRUE(exactCount(uint64_t(1) << 63, true, 0, &e) && e.count == INT64_MIN);
    EXPECT_FALSE(exactCount((uint64_t(1) << 63) + 1, true, 0, &e));
    EXPECT_FALSE(exactCount(UINT64_MAX / 5, false, -1, &e));
    // raw bytes read back: DIFEs, extension tables and VIFEs
    DataRecord raw;
    std::string error;
    ASSERT_TRUE(rawRecord("C4A140", "FD971D", &raw, &error)) << error;
    EXPECT_EQ(raw.storage, 3u);
    EXPECT_EQ(raw.tariff, 2u);
    EXPECT_EQ(raw.subunit, 2u);
    EXPECT_STREQ(raw.row->quantity, "error-flags");
    EXPECT_EQ(raw.headerSize, 6);
    EXPECT_FALSE(rawRecord("84", "13", &raw, &error)) << "a DIF that announces a DIFE which is not there";
    EXPECT_FALSE(rawRecord("04", "9393", &raw, &error)) << "a VIFE chain that does not end";
    EXPECT_FALSE(rawRecord("0F", "13", &raw, &error)) << "manufacturer data is not a record";
}
