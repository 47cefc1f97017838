// The program's cryptography against an independent oracle, OpenSSL's
// libcrypto: random keys and messages, CMAC subkeys and padding, and a mode-7
// telegram decrypted and authenticated by OpenSSL.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "config/profiles.h"
#include "crypto/aes128.h"
#include "crypto/cbc.h"
#include "crypto/cmac.h"
#include "crypto/ctr.h"
#include "telegram/frames.h"
#include "telegram/sim_meter.h"
#include "tests/fixtures.h"
#include "tests/hex.h"
#include "tools/oracle/openssl_aes.h"

using testhex::bytes;
using testhex::norm;
using testhex::str;
using namespace vdx;
using testfix::cmacHex;
using testfix::exampleMeter;
using testfix::kKey;
using testfix::kPayload;

namespace {

// Kenc or Kmac by OpenSSL's CMAC over a derivation block written out here.
void oracleKey(uint8_t constant, const uint8_t* key, const uint8_t id[4], uint32_t c, uint8_t out[16]) {
    uint8_t block[16] = {constant,
                         uint8_t(c),
                         uint8_t(c >> 8),
                         uint8_t(c >> 16),
                         uint8_t(c >> 24),
                         id[0],
                         id[1],
                         id[2],
                         id[3],
                         7,
                         7,
                         7,
                         7,
                         7,
                         7,
                         7};
    oracle::cmac(key, block, 16, out);
}

}  // namespace

// K1 = D(CMAC(M)) ^ M for one full block M; K2 = D(CMAC("")) ^ 80 00.. :
// the subkeys recovered from OpenSSL's CMAC, for keys chosen so that every
// combination of the top bits of L and K1 occurs.
TEST(Cmac, SubkeysForAllTopBitCombinations) {
    bool seen[2][2] = {};
    int found = 0;
    for (uint32_t seed = 0; found < 4 && seed < 1000; ++seed) {
        uint8_t key[16] = {0};
        std::memcpy(key, &seed, 4);
        const uint8_t zero[16] = {0};
        uint8_t l[16];
        oracle::aesEncrypt(key, zero, l);
        const int topL = l[0] >> 7;
        const int topK1 = ((l[0] << 1) | (l[1] >> 7)) >> 7 & 1;
        if (seen[topL][topK1]) continue;
        seen[topL][topK1] = true;
        ++found;

        uint8_t tag[16], expectK1[16], expectK2[16];
        oracle::cmac(key, zero, 16, tag);
        oracle::aesDecrypt(key, tag, expectK1);
        oracle::cmac(key, zero, 0, tag);
        oracle::aesDecrypt(key, tag, expectK2);
        expectK2[0] ^= 0x80;

        uint8_t k1[16], k2[16];
        cmacSubkeys(key, k1, k2);
        EXPECT_EQ(str(k1, 16), str(expectK1, 16)) << "top bits L=" << topL << " K1=" << topK1;
        EXPECT_EQ(str(k2, 16), str(expectK2, 16)) << "top bits L=" << topL << " K1=" << topK1;
    }
    EXPECT_EQ(found, 4);
}

TEST(Cmac, PaddingBoundariesAndChainingReset) {
    // lengths around the block size and the 99-byte telegram MAC input,
    // against OpenSSL; a CBC chain running beside it is left alone
    std::mt19937 rng(7);
    std::vector<uint8_t> msg(128);
    for (auto& b : msg) b = static_cast<uint8_t>(rng());
    auto key = bytes("000102030405060708090a0b0c0d0e0f");
    uint8_t schedule[176];
    aesExpandKey(key.data(), schedule);
    for (int len : {0, 1, 15, 16, 17, 31, 32, 33, 99, 128}) {
        uint8_t expect[16];
        oracle::cmac(key.data(), msg.data(), static_cast<size_t>(len), expect);
        uint8_t dirty[16] = {1}, chain[16] = {2};
        cbcEncrypt(chain, dirty, 16, schedule);  // a chain in progress
        const std::string chained = str(chain, 16);
        // handing the key schedule where the key is read gives the same tag
        EXPECT_EQ(cmacHex(std::vector<uint8_t>(schedule, schedule + 176), msg.data(), len), str(expect, 16))
            << "length " << len;
        EXPECT_EQ(str(chain, 16), chained) << "chaining value after CMAC, length " << len;
    }
    uint8_t expect[16];
    oracle::cmac(key.data(), msg.data(), 0, expect);
    EXPECT_EQ(cmacHex(key, msg.data(), -5), str(expect, 16)) << "negative length is the empty message";
}

TEST(Oracle, RandomKeysAndMessagesAgainstOpenSsl) {
    std::mt19937 rng(20221);
    for (int trial = 0; trial < 300; ++trial) {
        uint8_t key[16], iv0[16] = {0};
        for (auto& b : key) b = static_cast<uint8_t>(rng());
        const int blocks = 1 + static_cast<int>(rng() % 15);
        std::vector<uint8_t> msg(static_cast<size_t>(16 * blocks));
        for (auto& b : msg) b = static_cast<uint8_t>(rng());

        uint8_t schedule[176], ours[16], theirs[16];
        aesExpandKey(key, schedule);
        aesEncryptBlock(msg.data(), ours, schedule);
        oracle::aesEncrypt(key, msg.data(), theirs);
        ASSERT_EQ(str(ours, 16), str(theirs, 16)) << "AES, trial " << trial;

        std::vector<uint8_t> cbc = msg, expect(msg.size());
        uint8_t chain[16] = {0};
        cbcEncrypt(chain, cbc.data(), static_cast<uint8_t>(cbc.size()), schedule);
        oracle::cbcEncrypt(key, iv0, msg.data(), msg.size(), expect.data());
        ASSERT_EQ(str(cbc), str(expect)) << "CBC, trial " << trial;

        // CTR from a random counter block, any length (the low bytes near
        // their top, so that carries happen)
        uint8_t counter[16], iv[16];
        for (auto& b : counter) b = static_cast<uint8_t>(rng());
        counter[15] |= 0xF0;
        std::memcpy(iv, counter, 16);
        const size_t ctrLength = rng() % (msg.size() + 1);
        std::vector<uint8_t> ctr(msg.begin(), msg.begin() + static_cast<long>(ctrLength)), ctrExpect(ctrLength);
        ctrCrypt(counter, ctr.data(), ctr.size(), schedule);
        oracle::ctr(key, iv, msg.data(), ctrLength, ctrExpect.data());
        ASSERT_EQ(str(ctr), str(ctrExpect)) << "CTR, trial " << trial << " length " << ctrLength;

        const int len = static_cast<int>(rng() % msg.size());
        cmacCompute(key, msg.data(), len, ours);
        oracle::cmac(key, msg.data(), static_cast<size_t>(len), theirs);
        ASSERT_EQ(str(ours, 16), str(theirs, 16)) << "CMAC, trial " << trial << " length " << len;
    }
}

TEST(Encrypted, OpenSslDecryptsPayloadAndVerifiesMac) {
    MeterRecord m = exampleMeter();
    for (uint32_t c : {0u, 1u, 258u, 0x12345678u}) {
        m.messageCounter = c;
        m.accessNumber = static_cast<uint8_t>(c);
        uint8_t frame[kEncryptedTelegramSize];
        buildEncryptedTelegram(m, kKey, frame);
        ASSERT_EQ(stickFrameSize(frame), 118u);

        uint8_t kenc[16], kmac[16], plain[80];
        const uint8_t zeroIv[16] = {0};
        oracleKey(0x00, kKey, m.identNumber, c, kenc);
        oracleKey(0x01, kKey, m.identNumber, c, kmac);
        oracle::cbcDecrypt(kenc, zeroIv, frame + 38, 80, plain);
        EXPECT_EQ(str(plain, 80), norm(kPayload)) << "counter " << c;

        // MAC input: message control + counter (11..15), then 24..117
        uint8_t macInput[99], tag[16];
        std::memcpy(macInput, frame + 11, 5);
        std::memcpy(macInput + 5, frame + 24, 94);
        oracle::cmac(kmac, macInput, 99, tag);
        EXPECT_EQ(str(frame + 16, 8), str(tag, 8)) << "counter " << c;
        EXPECT_EQ(frame[6], frame[33]);
        EXPECT_EQ(str(frame + 34, 4), "00500710");
    }
}

// Mode 5: the plain layout with CF 50 05 and the block under the meter key
// itself; OpenSSL decrypts it with the IV written out by hand (M, ID,
// version, type, then the access number eight times).
TEST(Mode5, OpenSslDecryptsUnderTheMeterKeyAndIv) {
    const uint8_t keys[2][16] = {
        {0}, {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F}};
    const uint8_t payload[80] = {0x2F, 0x2F, 0x04, 0x13, 0x01, 0x02, 0x03, 0x04};
    for (int k = 0; k < 2; ++k) {
        for (uint8_t access : {0, 1, 0x7F, 0xFF}) {
            MeterRecord m = exampleMeter();
            m.accessNumber = access;
            m.messageCounter = 77;
            uint8_t frame[kPlainTelegramSize];
            buildMode5Telegram(m, keys[k], payload, frame);
            EXPECT_EQ(str(frame, 17), "445E004472785634121234010" + std::string("3") + str(&access, 1) + "005005");
            std::vector<uint8_t> iv = bytes("1234 78563412 01 03");
            iv.insert(iv.end(), 8, access);
            uint8_t plain[80];
            oracle::cbcDecrypt(keys[k], iv.data(), frame + 17, 80, plain);
            EXPECT_EQ(str(plain, 80), str(payload, 80)) << "key " << k << ", access " << int(access);
            EXPECT_EQ(m.accessNumber, static_cast<uint8_t>(access + 1));
            EXPECT_EQ(m.messageCounter, 77u) << "mode 5 has no message counter";
        }
    }
}

TEST(Encrypted, MacCoversOffsets11To15And24To117Only) {
    MeterRecord m = exampleMeter();
    uint8_t frame[kEncryptedTelegramSize], kmac[16], mac[8];
    buildEncryptedTelegram(m, kKey, frame);
    oracleKey(0x01, kKey, m.identNumber, 0, kmac);
    computeTelegramMac(frame, kmac, mac);
    ASSERT_EQ(str(mac, 8), str(frame + 16, 8)) << "the builder's MAC is this function's";
    for (int offset = 0; offset < kEncryptedTelegramSize; ++offset) {
        uint8_t changed[kEncryptedTelegramSize], other[8];
        std::memcpy(changed, frame, sizeof frame);
        changed[offset] ^= 0x40;
        computeTelegramMac(changed, kmac, other);
        const bool covered = (offset >= 11 && offset <= 15) || offset >= 24;
        EXPECT_EQ(std::memcmp(mac, other, 8) != 0, covered) << "offset " << offset;
    }
}

// One telegram of each profile, the header forms and security modes spread
// among them, written out by hand: the layers' bytes, the block in clear
// (OpenSSL decrypts the encrypted ones with the IV and keys built here),
// the mode-7 MAC by OpenSSL's CMAC. Then compact frames of two record sets
// (water: CI 7B, plain; heat: CI 73, mode 5) and the ELL's AES-CTR (CI 8D,
// OpenSSL's CTR from the counter block written out: M, A, CC, SN, frame
// number 0, block counter 0); their format signatures, full-frame CRCs and
// the ELL's payload CRC computed with a bit-by-bit EN 13757-4 CRC written
// apart (Python): water format 046D 0413 426C 4413 023B 04933C -> 1DF6, its
// records -> A7C4; heat format 046D 0406 0413 042B 023B 025A 025E 0261 426C
// 4406 -> 1A4B, its records -> 9977; the ELL payload 7A 05 04 0000 and the
// water records -> 2E3A. The session number: AES-CTR (1 << 29), 13805310
// minutes from 2000 to 2026-04-01 00:30 (<< 4), access number 5: 2D2A6FE5. The meter: VDX 12345678 version 1,
// access number 5, counter 42, status power-low; from 2026-03-31 23:00 at
// 123.456 m3 (0.12 m3/h), 4567 kWh (3.2 kW), 12.5 kWh exported (0.4 kW),
// 321 units (0.5 an hour), 55 and 35 C; the telegram at 2026-04-01 00:30,
// 1.5 h on, the due date 2026-04-01 half an hour before it:
//   volume 123.636 m3, at the due date 123.576; energy 4571.8 kWh, 4570.2;
//   exported 13.1 kWh; units 321 (321.75 rounded down), 321;
//   type F 00:30 2026-04-01 = 1E 20 41 34, type G 2026-04-01 = 41 34
TEST(Profiles, OneTelegramEachWrittenOutByHand) {
    ReadingsModel drivers;
    drivers.start = unixTime(2026, 3, 31, 23);
    drivers.volume = 123.456, drivers.flow = 0.12;
    drivers.energy = 4567, drivers.power = 3.2;
    drivers.energyExport = 12.5, drivers.powerExport = 0.4;
    drivers.units = 321, drivers.rate = 0.5;
    drivers.flowTemperature = {55, 55}, drivers.returnTemperature = {35, 35};
    drivers.errorFlags = 0x10;
    drivers.status = 0x04;
    const struct {
        const char* profile;
        uint8_t type;
        HeaderForm header;
        Security security;
        const char* layers;  // the stick frame up to the block; mode 7: MAC left out
        const char* block;   // in clear (ell-ctr: all that the ELL encrypts)
        bool compact = false;
        const char* counterBlock = nullptr;  // ell-ctr
    } cases[] = {
        {"gas", 0x03, HeaderForm::Short, Security::Mode5, "442600 44 7A 05 04 2005",
         "2F2F 046D1E204134 0C1336361200 426C4134 4C1376351200 02FD171000 2F2F2F"},
        {"water", 0x07, HeaderForm::Short, Security::None, "442700 44 7A 05 04 0000",
         "046D1E204134 0413F4E20100 426C4134 4413B8E20100 023B7800 04933C03000000"},
        {"warm-water", 0x06, HeaderForm::None, Security::None, "442700 44 78",
         "046D1E204134 0C1336361200 426C4134 4C1376351200 023B7800 04933C00000000 025A2602"},
        {"heat", 0x04, HeaderForm::Long, Security::Mode5, "444E00 44 72 78563412 9858 01 04 05 04 4005",
         "2F2F 046D1E204134 0406DB110000 0413F4E20100 042B800C0000 023B7800 025A2602 025E5E01 0261D007 426C4134 "
         "4406DA110000 2F2F2F2F2F2F2F2F2F2F2F2F"},
        {"heat-cost-allocator", 0x08, HeaderForm::Short, Security::Mode7,
         "443B00 44 8C 24 05 90 0F 002C 25 2A000000 7A 05 04 2007 10",
         "2F2F 046D1E204134 036E410100 426C4134 436E410100 02597C15 0265AC0D 2F2F"},
        {"electricity", 0x02, HeaderForm::Long, Security::None, "442B00 44 72 78563412 9858 01 02 05 04 0000",
         "046D1E204134 0E03001857040000 0E833C003101000000 042B800C0000"},
        {"gas-fixed", 0x03, HeaderForm::Long, Security::Mode7,
         "447300 44 8C 24 05 90 0F 002C 25 2A000000 72 78563412 9858 01 03 05 04 5007 10",
         "2F2F 466D000000413400 4C1376351200 4C933A55080000 066D001E60413400 0C1336361200 0C933A15090000 "
         "04FD971D10000000 0AFD740000 01FD1F00 01FD1A00 0C7818170188 2F2F2F2F2F2F2F2F2F"},
        {"water", 0x07, HeaderForm::Short, Security::None, "441E00 44 7B 05 04 0000",
         "F61D C4A7 1E204134 F4E20100 4134 B8E20100 7800 03000000", true},
        {"heat", 0x04, HeaderForm::Long, Security::Mode5, "443E00 44 73 78563412 9858 01 04 05 04 3005",
         "2F2F 4B1A 7799 1E204134 DB110000 F4E20100 800C0000 7800 2602 5E01 D007 4134 DA110000 "
         "2F2F2F2F2F2F2F2F2F2F2F2F",
         true},
        {"water", 0x07, HeaderForm::Short, Security::EllCtr, "443000 44 8D 24 05 E56F2A2D",
         "3A2E 7A 05 04 0000 046D1E204134 0413F4E20100 426C4134 4413B8E20100 023B7800 04933C03000000", false,
         "9858785634120107 24 E56F2A2D 0000 00"},
    };
    for (const auto& c : cases) {
        SimMeter m;
        const uint8_t address[8] = {0x98, 0x58, 0x78, 0x56, 0x34, 0x12, 0x01, c.type};
        std::memcpy(m.record.manufacturer, address, 8);
        m.record.accessNumber = 5;
        m.record.messageCounter = 42;
        std::memcpy(m.key, kKey, 16);
        m.security = c.security;
        m.live = true;
        m.readings = drivers;
        m.profile = builtInProfile(c.profile);
        ASSERT_NE(m.profile, nullptr) << c.profile;
        m.header = c.header;
        m.compactEvery = c.compact ? 4 : 0;
        SentTelegram t;
        buildMeterTelegram(m, 0, unixTime(2026, 4, 1, 0, 30), nullptr, 2, MeterHistory{}, &t);  // telegram 2: compact
        const std::vector<uint8_t> frame(t.telegramFrame, t.telegramFrame + stickFrameSize(t.telegramFrame));
        std::vector<uint8_t> layers(frame.begin(), frame.end() - static_cast<long>(bytes(c.block).size()));
        const bool mode7 = c.security == Security::Mode7;
        if (mode7) layers.erase(layers.begin() + 16, layers.begin() + 24);  // the MAC
        EXPECT_EQ(str(layers), norm(c.layers)) << c.profile;
        std::vector<uint8_t> block(frame.end() - static_cast<long>(bytes(c.block).size()), frame.end());
        std::vector<uint8_t> plain = block;
        if (c.security == Security::Mode5) {
            std::vector<uint8_t> iv(address, address + 8);  // M, ID, version, type
            iv.insert(iv.end(), 8, 5);                      // the access number eight times
            oracle::cbcDecrypt(kKey, iv.data(), block.data(), block.size(), plain.data());
        }
        if (c.counterBlock != nullptr)
            oracle::ctr(kKey, bytes(c.counterBlock).data(), block.data(), block.size(), plain.data());
        if (mode7) {
            uint8_t kenc[16], kmac[16], tag[16];
            const uint8_t zeroIv[16] = {0};
            oracleKey(0x00, kKey, address + 2, 42, kenc);
            oracleKey(0x01, kKey, address + 2, 42, kmac);
            oracle::cbcDecrypt(kenc, zeroIv, block.data(), block.size(), plain.data());
            std::vector<uint8_t> macInput(frame.begin() + 11, frame.begin() + 16);
            macInput.insert(macInput.end(), frame.begin() + 24, frame.end());
            oracle::cmac(kmac, macInput.data(), macInput.size(), tag);
            EXPECT_EQ(str(frame.data() + 16, 8), str(tag, 8)) << c.profile << ": the MAC";
        }
        EXPECT_EQ(str(plain), norm(c.block)) << c.profile;
        EXPECT_EQ(t.signature, c.type == 0x07 ? 0x1DF6 : c.type == 0x04 ? 0x1A4B : t.signature) << c.profile;
        EXPECT_EQ(t.accessNumber, 5) << c.profile;
        EXPECT_EQ(m.record.accessNumber, 6) << c.profile;
    }
    // the profile file gas-fixed.toml sends what the window's built-in gas
    // meter sends; with fixed readings, the window's block
    for (bool live : {false, true}) {
        SimMeter file, window;
        file.live = window.live = live;
        file.readings = window.readings = drivers;
        file.profile = builtInProfile("gas-fixed");
        SentTelegram a, b;
        buildMeterTelegram(file, 0, unixTime(2026, 4, 1, 0, 30), &a);
        buildMeterTelegram(window, 0, unixTime(2026, 4, 1, 0, 30), &b);
        EXPECT_EQ(str(a.telegramFrame, 118), str(b.telegramFrame, 118)) << "live " << live;
        if (!live) {
            EXPECT_EQ(str(a.block, 80), str(applicationPayload, 80)) << "the drivers do not move a fixed block";
        }
    }
}
