// The virtual stick's monitor on frames from the program's own builders:
// it must accept every real telegram and catch a corrupted one.
#include <gtest/gtest.h>

#include <cstring>

#include "telegram/frames.h"
#include "tools/virtual_stick/monitor.h"

namespace {

const uint8_t kAddress[8] = {0x98, 0x58, 0x70, 0x56, 0x34, 0x12, 0x01, 0x03};
const uint8_t kKey[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

std::vector<std::string> send(vstick::TelegramMonitor& monitor, vdx::MeterRecord& m, bool encrypted, int corrupt = -1) {
    uint8_t address[11], telegram[118];
    vdx::buildAddressFrame(m, address);
    if (encrypted)
        vdx::buildEncryptedTelegram(m, kKey, telegram);
    else
        vdx::buildPlainTelegram(m, telegram);
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
    vstick::MeterKey key{};
    std::memcpy(key.address, kAddress, 8);
    std::memcpy(key.key, kKey, 16);
    vstick::TelegramMonitor monitor({key});
    vdx::MeterRecord m{};
    std::memcpy(m.manufacturer, kAddress, 8);

    const char kValues[] = "2022-04-09 10:00:16, V 0.126 m3, V 0.735 m3 (VIFE 3A), fabrication number 88011718";
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
    EXPECT_NE(lines[0].find("DECRYPTION FAILED"), std::string::npos) << lines[0];

    vdx::MeterRecord other = m;
    other.identNumber[0] = 0x99;
    lines = send(monitor, other, true);
    EXPECT_NE(lines[0].find("no key for this meter"), std::string::npos) << lines[0];
}
