// The virtual stick's monitor on frames from the program's own builders:
// it must accept every real telegram and catch a corrupted one.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>

#include "config/config.h"
#include "session/configuration.h"
#include "session/rig_run.h"
#include "session/telegram_record.h"
#include "telegram/frames.h"
#include "telegram/radio.h"
#include "telegram/readings.h"
#include "tests/hex.h"
#include "tools/oracle/openssl_aes.h"
#include "tools/virtual_stick/monitor.h"

namespace {

const uint8_t kAddress[8] = {0x98, 0x58, 0x70, 0x56, 0x34, 0x12, 0x01, 0x03};
const uint8_t kKey[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

vstick::MeterKey exampleKey() {
    vstick::MeterKey key{};
    std::memcpy(key.address, kAddress, 8);
    std::memcpy(key.key, kKey, 16);
    key.keyValid = true;
    return key;
}

// The address frame and the next telegram of meter m.
void buildFrames(vdx::MeterRecord& m, bool encrypted, const uint8_t* key, uint8_t address[11], uint8_t telegram[118]) {
    vdx::buildAddressFrame(m, address);
    if (encrypted)
        vdx::buildEncryptedTelegram(m, key, telegram);
    else
        vdx::buildPlainTelegram(m, telegram);
}

std::vector<std::string> send(vstick::TelegramMonitor& monitor, vdx::MeterRecord& m, bool encrypted, int corrupt = -1,
                              const uint8_t* key = kKey) {
    uint8_t address[11], telegram[118];
    buildFrames(m, encrypted, key, address, telegram);
    if (corrupt >= 0) telegram[corrupt] ^= 0x01;
    std::vector<uint8_t> stream(address, address + 11);
    stream.insert(stream.end(), telegram, telegram + vdx::stickFrameSize(telegram));
    // fed in two uneven pieces, as a tty delivers them
    auto lines = monitor.feed(stream.data(), 50);
    auto rest = monitor.feed(stream.data() + 50, stream.size() - 50);
    lines.insert(lines.end(), rest.begin(), rest.end());
    return lines;
}

}  // namespace

TEST(Monitor, DecodesPlainAndMode7Telegrams) {
    vstick::TelegramMonitor monitor({exampleKey()});
    vdx::MeterRecord m{};
    std::memcpy(m.manufacturer, kAddress, 8);

    const char kValues[] =
        "date-time 2022-04-09 10:00:00 (storage 1), volume 0.126 m3 (storage 1), volume 0.735 m3 (uncorrected, "
        "storage 1), date-time 2022-04-09 10:00:16, volume 0.126 m3, volume 0.735 m3 (uncorrected), error-flags "
        "0x00419199 (VIFE 1D), battery-days 0 days, VIF FD1F 0, digital-output 0x00, fabrication-number 88011718";
    auto lines = send(monitor, m, false);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], std::string("VDX 12345670 v01 t03, access 0, plain, ") + kValues);
    lines = send(monitor, m, true);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], std::string("VDX 12345670 v01 t03, access 1, mode 7, counter 0, MAC ok, ") + kValues);
    EXPECT_EQ(monitor.takeRawFrames().size(), 4u);

    lines = send(monitor, m, true, 40);  // one bit of the first cipher block
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("MAC FAILED"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("no 2F 2F after decryption"), std::string::npos) << lines[0];

    vdx::MeterRecord other = m;
    other.identNumber[0] = 0x99;
    lines = send(monitor, other, true);
    EXPECT_NE(lines[0].find("no key for this meter"), std::string::npos) << lines[0];

    // mode 5 with live readings, decrypted on its own (OpenSSL, the IV from
    // the header's bytes); under another key no 2F 2F comes out
    vdx::ReadingsModel model;
    model.start = vdx::unixTime(2026, 1, 31, 23, 50);
    model.volume = 12.5;
    model.flow = 0.3;
    uint8_t block[80], address[11], telegram[97];
    vdx::buildReadingsBlock(vdx::readingsAt(model, vdx::unixTime(2026, 2, 1)), block);
    for (const uint8_t* key : {kKey, kAddress + 0}) {
        m.accessNumber = key == kKey ? 7 : 8;
        vdx::buildAddressFrame(m, address);
        vdx::buildMode5Telegram(m, key == kKey ? kKey : block, block, telegram);
        monitor.feed(address, 11);
        lines = monitor.feed(telegram, 97);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0], key == kKey
                                ? "VDX 12345670 v01 t03, access 7, mode 5, 2F 2F ok, date-time 2026-02-01 00:00:00 "
                                  "(storage 1), volume 12.550 m3 (storage 1), volume 0.785 m3 (uncorrected, storage "
                                  "1), date-time 2026-02-01 00:00:00, volume 12.550 m3, volume 0.785 m3 "
                                  "(uncorrected), error-flags 0x00419199 (VIFE 1D), battery-days 0 days, VIF FD1F 0, "
                                  "digital-output 0x00, fabrication-number 88011718"
                                : "VDX 12345670 v01 t03, access 8, mode 5, no 2F 2F after decryption (wrong key?)");
    }
}

// The monitor reads the configuration strictly and on its own: a key the
// program reads as written verifies; one the program would read differently
// fails with a hint instead of being hidden.
TEST(Monitor, ChecksKeysAsWrittenInTheFile) {
    const std::string path = testing::TempDir() + "vdx-monitor-config.txt";
    std::string text;
    for (int m = 0; m < 10; ++m) text += "98587" + std::to_string(m) + "5634120103\n";
    text += "000102030405060708090A0B0C0D0E0F\r\n";  // meter 0, CR LF
    text += "0102030405060708090A0B0C0D0E0F1G\n";    // meter 1: not hexadecimal
    for (int m = 2; m < 9; ++m) text += "\n";
    text += "FFEEDDCCBBAA99887766554433221100";  // meter 9: last line, no line feed
    std::ofstream(path, std::ios::binary) << text;

    std::vector<std::string> problems;
    std::vector<vstick::MeterKey> keys;
    ASSERT_TRUE(vstick::loadMeterKeys(path.c_str(), &keys, &problems));
    ASSERT_EQ(keys.size(), 10u);
    EXPECT_EQ(problems.size(), 8u) << "meters 1 to 8 have no valid key";
    EXPECT_NE(problems[0].find("line 12: not 32 hexadecimal digits"), std::string::npos) << problems[0];

    // the program's own reader and builders, for meters 0, 1 and 9
    ASSERT_TRUE(vdx::loadConfiguration(path.c_str(), nullptr));
    vstick::TelegramMonitor monitor(keys);
    for (int meter : {0, 9, 1}) {
        const auto lines = send(monitor, vdx::meterTable[meter], true, -1, vdx::keyTable[meter]);
        ASSERT_EQ(lines.size(), 1u);
        const bool ok = lines[0].find("MAC ok") != std::string::npos;
        EXPECT_EQ(ok, meter != 1) << lines[0];
        if (meter == 1) {
            EXPECT_NE(lines[0].find("line 12 is not a valid key"), std::string::npos) << lines[0];
        }
    }
    std::remove(path.c_str());
}

// The radio frames verdanox-frames prints decode back into the stick frames
// of the example meter, and the monitor verifies what they carry.
TEST(Monitor, RadioFramesDecodeBackToTheStickFrames) {
    vstick::TelegramMonitor monitor({exampleKey()});
    vdx::MeterRecord m{};
    std::memcpy(m.manufacturer, kAddress, 8);
    for (bool encrypted : {false, true}) {
        uint8_t address[11], telegram[118];
        buildFrames(m, encrypted, kKey, address, telegram);
        std::vector<uint8_t> stick(address, address + 11);
        stick.insert(stick.end(), telegram, telegram + vdx::stickFrameSize(telegram));
        const std::vector<uint8_t> radio = vdx::radioFrame(address, telegram);
        for (bool formatA : {false, true}) {
            std::vector<uint8_t> decoded;
            std::string error;
            ASSERT_TRUE(
                vstick::radioToStickFrames(formatA ? vdx::withFormatACrcs(radio) : radio, formatA, &decoded, &error))
                << error;
            EXPECT_EQ(testhex::str(decoded), testhex::str(stick));
        }
        std::vector<uint8_t> decoded;
        std::string error;
        vstick::radioToStickFrames(vdx::withFormatACrcs(radio), true, &decoded, &error);
        const auto lines = monitor.feed(decoded.data(), decoded.size());
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find(encrypted ? "mode 7, counter 0, MAC ok" : "plain"), std::string::npos) << lines[0];

        std::vector<uint8_t> bad = vdx::withFormatACrcs(radio);
        bad[40] ^= 0x01;
        EXPECT_FALSE(vstick::radioToStickFrames(bad, true, &decoded, &error)) << "a flipped bit fails its block's CRC";
    }
}

// Each fault kind, recognised from the bytes alone: a meter of mode 7 and
// one of mode 5 (whose wrong key and replay have no MAC to fail), of the
// ELL's AES-CTR, with compact frames after the first, a fault on telegram 3
// of each after two good ones; every telegram as a receiver gets it, as a
// radio frame (whose L-field length-mismatch changes).
TEST(Monitor, RecognisesEveryFaultKind) {
    const struct {
        const char* kind;
        vdx::Security security;
        const char* verdict;
        uint32_t compactAfter = 0;
    } cases[] = {
        {"bad-mac", vdx::Security::Mode7, "counter 2, MAC FAILED (got 43C3DE28AF915BF8, expected 42C3DE28AF915BF8)"},
        {"wrong-key", vdx::Security::Mode7, "no 2F 2F after decryption (wrong key?)"},
        {"wrong-key", vdx::Security::Mode5, "mode 5, no 2F 2F after decryption (wrong key?)"},
        {"replay", vdx::Security::Mode7, "access 1, mode 7, counter 1, MAC ok, date-time 2022-04-09 10:00:00"},
        {"replay", vdx::Security::Mode5, "access 1, mode 5, 2F 2F ok, date-time 2022-04-09 10:00:00"},
        {"counter-rewind", vdx::Security::Mode7, "counter 0, MAC ok, counter went back from 1 to 0"},
        {"truncated", vdx::Security::Mode7, "truncated: 102 of 118 bytes"},
        {"truncated", vdx::Security::Mode5, "truncated: 81 of 97 bytes"},
        {"bad-records", vdx::Security::Mode7, "MAC ok, malformed records at offset 57"},
        {"bad-records", vdx::Security::None, "plain, malformed records at offset 57"},
        {"no-2f2f", vdx::Security::Mode7,
         "counter 2, MAC ok, but no 2F 2F after decryption (the meter's encryption is wrong)"},
        {"afl-counter-mismatch", vdx::Security::Mode7, ": it verifies under the keys of counter 2, not the AFL's 3"},
        {"wrong-ci", vdx::Security::Mode7,
         "t03, access 2, CI A0 where the transport layer belongs: unknown, not decoded"},
        {"wrong-ci", vdx::Security::EllCtr, "payload CRC ok, CI A0 unknown, not decoded"},
        {"duplicate-access", vdx::Security::Mode7,
         "access 1, mode 7, counter 2, MAC ok, date-time 2022-04-09 10:00:00"},
        {"length-mismatch", vdx::Security::Mode7, "radio frame: L-field 7C says 124 bytes follow, 123 do"},
        {"ell-bad-crc", vdx::Security::EllCtr, "counter 2), payload CRC FAILED (got EA75, computed EA74)"},
        {"wrong-key", vdx::Security::EllCtr,
         "payload CRC FAILED (got 75F8, computed 2953), nothing readable after "
         "decryption (wrong key?)"},
        {"truncated", vdx::Security::EllCtr, "payload CRC FAILED (got EA74, computed AC8C)"},
        {"replay", vdx::Security::EllCtr, "access 1, ELL AES-CTR, session"},
        {"compact-unknown", vdx::Security::Mode7,
         "MAC ok, compact frame of format D880, which no full frame of this "
         "meter announced: not decoded",
         1},
        {"compact-bad-crc", vdx::Security::Mode5,
         "2F 2F ok, compact frame of format 277F, full-frame CRC FAILED (got "
         "897B, computed 897A): not decoded",
         1},
    };
    for (const auto& c : cases) {
        vdx::Rig rig;
        vdx::SimMeter m;
        std::memcpy(m.record.manufacturer, kAddress, 8);
        std::memcpy(m.key, kKey, 16);
        m.security = c.security;
        m.compactAfter = c.compactAfter;
        vdx::FaultRule rule;
        rule.kind = vdx::faultKindOf(c.kind);
        rule.at = {3};
        m.faults = {rule};
        rig.meters = {m};
        vdx::RigRun run(rig, 0, 0);
        vstick::TelegramMonitor monitor(vstick::rigMeterKeys(rig));
        std::string line;
        for (int t = 0; t < 3; ++t) {
            const vdx::SentTelegram s = run.next().telegram;
            std::vector<uint8_t> radio = vdx::radioFrame(s.addressFrame, s.telegramFrame);
            radio[0] = static_cast<uint8_t>(radio[0] + s.lengthError);
            line = monitor.feedRadio(radio, false);
        }
        EXPECT_NE(line.find(c.verdict), std::string::npos) << c.kind << ": " << line;
        EXPECT_EQ(monitor.verdicts()["ok"], 2u) << c.kind << ": " << monitor.verdicts().summary();
        const std::string kind = c.kind;
        if (kind == "replay" || kind == "duplicate-access") {
            const std::string told = kind == "replay" ? ", replay of access 1" : ", access 1 again with other content";
            EXPECT_EQ(line.substr(line.size() - told.size()), told) << "decoded, and told";
            EXPECT_EQ(monitor.verdicts()[kind == "replay" ? "replay" : "duplicate access"], 1u);
        }
    }

    // fuzzed blocks are secured correctly and never crash the decoder
    vdx::Rig rig;
    vdx::SimMeter m;
    std::memcpy(m.record.manufacturer, kAddress, 8);
    std::memcpy(m.key, kKey, 16);
    vdx::FaultRule fuzz;
    fuzz.kind = vdx::FaultKind::Fuzz;
    fuzz.every = 1;
    m.faults = {fuzz};
    rig.meters = {m};
    vdx::RigRun run(rig, 0, 0);
    vstick::TelegramMonitor monitor(vstick::rigMeterKeys(rig));
    for (int t = 0; t < 500; ++t) {
        const vdx::SentTelegram s = run.next().telegram;
        monitor.feed(s.addressFrame, 11);
        const auto lines = monitor.feed(s.telegramFrame, vdx::stickFrameSize(s.telegramFrame));
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find("MAC ok"), std::string::npos) << lines[0];
    }
    EXPECT_EQ(monitor.verdicts()["ok"] + monitor.verdicts()["malformed records"], 500u) << monitor.verdicts().summary();

    // an ELL AES-CTR telegram re-encrypted under its predecessor's session
    // number (radio bytes 13-16): the same keystream over other plain text
    m.faults.clear();
    m.security = vdx::Security::EllCtr;
    rig.meters = {m};
    vdx::RigRun ell(rig, 0, 0);
    vstick::TelegramMonitor sessions(vstick::rigMeterKeys(rig));
    std::vector<uint8_t> radio[2];
    for (auto& r : radio) {
        const vdx::SentTelegram s = ell.next().telegram;
        r = vdx::radioFrame(s.addressFrame, s.telegramFrame);
    }
    uint8_t block[2][16] = {};
    for (int i = 0; i < 2; ++i) {  // M, A, CC, SN; frame number and block counter 0
        std::memcpy(block[i], radio[i].data() + 2, 8), std::memcpy(block[i] + 9, &radio[i][13], 4);
        block[i][8] = radio[i][11];
    }
    std::vector<uint8_t> plain(radio[1].size() - 17), reused = radio[1];
    oracle::ctr(kKey, block[1], radio[1].data() + 17, plain.size(), plain.data());
    oracle::ctr(kKey, block[0], plain.data(), plain.size(), reused.data() + 17);
    std::copy(&radio[0][13], &radio[0][17], reused.begin() + 13);
    sessions.feedRadio(radio[0], false);
    const std::string line = sessions.feedRadio(reused, false);
    EXPECT_NE(line.find("access 1, ELL AES-CTR, session 20000000 (time 0, counter 0), payload CRC ok"),
              std::string::npos)
        << line;
    const std::string told = ", session number repeated: keystream reused";
    EXPECT_EQ(line.substr(line.size() - told.size()), told) << "decoded, and told";
    EXPECT_EQ(sessions.feedRadio(reused, false).find("session number repeated"), std::string::npos) << "a replay";
    EXPECT_EQ(sessions.verdicts().summary(), "1 ok, 1 session number repeated, 1 replay");
}

// The monitor's own decoder reads every profile of the example rig back to
// the values of the JSON records, through every header form and security
// mode, before and after the due date moves and the gas meter's battery
// runs low; and the field meters' compact frames (the water meter's full,
// compact, compact, compact, as the JSON says), the ELL's AES-CTR and a
// meter behind a radio converter (named by its own address, the
// converter's after it).
TEST(Monitor, DecodesEveryProfileToTheJsonValues) {
    const struct {
        const char* rig;
        int telegrams;
    } rigs[] = {{"all-profiles", 21}, {"field-meters", 16}, {"converter", 4}};
    std::string lowBattery, frames, converted;
    for (const auto& r : rigs) {
        vdx::Rig rig;
        std::string error;
        ASSERT_TRUE(vdx::readRig(VDX_SOURCE_DIR "/examples/rigs/" + std::string(r.rig) + ".toml", &rig, &error))
            << error;
        vdx::RigRun run(rig, 0, 0);
        vstick::TelegramMonitor monitor(vstick::rigMeterKeys(rig));
        for (int t = 0; t < r.telegrams; ++t) {
            const vdx::SentTelegram s = run.next().telegram;
            monitor.feed(s.addressFrame, 11);
            const auto lines = monitor.feed(s.telegramFrame, vdx::stickFrameSize(s.telegramFrame));
            ASSERT_EQ(lines.size(), 1u);
            if (lines[0].find("status 04 (power-low)") != std::string::npos) lowBattery = lines[0];
            const auto json = nlohmann::json::parse(vdx::jsonLine(vdx::telegramRecord(s, "")));
            if (t % 4 == 0 && std::string(r.rig) == "field-meters")
                frames += json["frame"].get<std::string>() +
                          (lines[0].find(", compact frame (format 1DF6), ") != std::string::npos ? "+" : "") + " ";
            if (json.contains("converter")) converted = lines[0].substr(0, 50) + json["id"].get<std::string>();
            const auto& records = json["records"];
            const auto& decoded = monitor.records();
            ASSERT_EQ(decoded.size(), records.size()) << lines[0];
            for (size_t i = 0; i < decoded.size(); ++i) {
                const auto& want = records[i];
                const vstick::DecodedRecord& got = decoded[i];
                const std::string where = lines[0] + ", record " + std::to_string(i);
                EXPECT_EQ(got.quantity, want["quantity"]) << where;
                EXPECT_EQ(got.unit, want["unit"]) << where;
                EXPECT_EQ(got.storage, want["storage"]) << where;
                EXPECT_EQ(got.tariff, want["tariff"]) << where;
                EXPECT_EQ(got.subunit, want["subunit"]) << where;
                if (want["value"].is_string()) {
                    EXPECT_EQ(got.text, want["value"]) << where;
                } else {
                    const double v = want["value"];
                    EXPECT_NEAR(got.value, v, 1e-9 * std::max(1.0, std::fabs(v))) << where;
                }
            }
        }
        EXPECT_EQ(monitor.verdicts()["ok"], static_cast<unsigned>(r.telegrams)) << monitor.verdicts().summary();
    }
    EXPECT_NE(lowBattery.find("VDX 12345671 v01 t03, access 2, short header, status 04 (power-low), mode 5"),
              std::string::npos)
        << lowBattery;
    EXPECT_EQ(frames, "full compact+ compact+ compact+ ") << "the water meter's first four";
    EXPECT_EQ(converted, "VDX 87654321 v01 t04 via VDX 12345678 v01 t37, acc87654321");

    // records and layers the program does not send, built by hand: 64-bit
    // integers signed (-50 at 0.1 C, INT64_MAX in litres) and flags not,
    // reals to their digits (1.5, 0.1, -5.25 C, 1234.5 l), manufacturer
    // data by its length; an unencrypted ELL (session number 0) read like an
    // encrypted one, its payload CRC checked
    const struct {
        const char* radio;
        const char* line;
    } handMade[] = {
        {"44449858705634120107780766CEFFFFFFFFFFFFFF0713FFFFFFFFFFFFFF7F07FD17FFFFFFFFFFFFFFFF05160000C03F0516CDCCCC3D"
         "05670000A8C0051300509A441F0102",
         "VDX 12345670 v01 t07, no header, plain, external-temperature -5.0 C, volume 9223372036854775.807 m3, "
         "error-flags 0xFFFFFFFFFFFFFFFF, volume 1.5 m3, volume 0.1 m3, external-temperature -5.25 C, volume 1.2345 "
         "m3, manufacturer-data 2 bytes (more records follow)"},
        {"0B449858705634120107780F", "VDX 12345670 v01 t07, no header, plain, manufacturer-data 0 bytes"},
        {"1D4498589356341201078D2400000000004B6B7A000000000413E8030000",
         "VDX 12345693 v01 t07, access 0, short header, ELL, session 00000000 (time 0, counter 0), not encrypted, "
         "payload CRC ok, volume 1.000 m3"},
        {"1D4498589356341201078D2401000000004A6B7A000000000413E8030000",
         "VDX 12345693 v01 t07, access 1, ELL, session 00000000 (time 0, counter 0), not encrypted, payload CRC "
         "FAILED (got 6B4A, computed 6B4B)"},
    };
    vstick::TelegramMonitor monitor({});
    for (const auto& h : handMade) EXPECT_EQ(monitor.feedRadio(testhex::bytes(h.radio), false), h.line);
    EXPECT_EQ(monitor.verdicts().summary(), "3 ok, 1 payload CRC FAILED");
}

// A table of 1,000 meters with derived keys: each sends under its own
// address and key, which the monitor derives itself with OpenSSL.
TEST(Monitor, CountedMetersWithDerivedKeys) {
    vdx::Rig rig;
    std::string error;
    ASSERT_TRUE(vdx::readRig(VDX_SOURCE_DIR "/examples/rigs/water-street.toml", &rig, &error)) << error;
    vdx::RigRun run(rig, 0, vdx::unixTime(2026, 12, 9, 4, 25));  // the clock starts "now"
    vstick::TelegramMonitor monitor(vstick::rigMeterKeys(rig));
    for (int t = 0; t < 3; ++t) {
        const vdx::SentTelegram s = run.next().telegram;
        monitor.feed(s.addressFrame, 11);
        const auto lines = monitor.feed(s.telegramFrame, vdx::stickFrameSize(s.telegramFrame));
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].rfind("VDX 2000000" + std::to_string(t) +
                                     " v01 t07, access 0, short header, mode 7, counter 0, MAC ok, date-time ",
                                 0),
                  0u)
            << lines[0];
    }
}
