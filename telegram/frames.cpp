#include "telegram/frames.h"

#include <cstring>

#include "crypto/byte_order.h"
#include "crypto/kdf.h"
#include "telegram/security.h"

namespace vdx {
namespace {

// Where the AFL's message control and the transport layer lie in a mode-7
// stick frame: after the envelope (3), C (1), the ELL (3) and the AFL's CI,
// length and fragmentation control (4); the AFL is 17 bytes.
constexpr size_t kMclAt = 3 + 1 + 3 + 4, kTplAt = 3 + 1 + 3 + 17;

// The layers of `meter` around `payload`, encoded into `frame`.
void encodeWindowTelegram(const MeterRecord& meter, Security security, const uint8_t* key,
                          const uint8_t payload[kPayloadSize], uint8_t* frame) {
    Telegram t = layersOf(meter, security);
    if (key != nullptr) std::memcpy(t.key, key, 16);
    Block block;
    std::memcpy(block.bytes, payload, kPayloadSize);
    block.size = kPayloadSize;
    EncodedTelegram e;
    encodeTelegram(t, block, &e);
    std::memcpy(frame, e.frame, e.size);
    secureWipe(t.key, sizeof t.key);
}

}  // namespace

// Offset  Bytes                      Record
//  0      2F 2F                      fill bytes (decryption check)
//  2      46 6D 00 00 0A C9 24 00    date/time type I, storage 1: 2022-04-09 10:00:00
// 10      4C 13 26 01 00 00          volume (l), storage 1: 00000126
// 16      4C 93 3A 35 07 00 00       volume (l), VIFE 3A, storage 1: 00000735
// 23      06 6D 10 00 CA C9 24 00    date/time type I: 2022-04-09 10:00:16
// 31      0C 13 26 01 00 00          volume (l): 00000126
// 37      0C 93 3A 35 07 00 00       volume (l), VIFE 3A: 00000735
// 44      04 FD 97 1D 99 91 41 00    error flags
// 52      0A FD 74 00 00             remaining battery lifetime (days): 0000
// 57      01 FD 1F 00
// 61      01 FD 1A 00                digital output: 0
// 65      0C 78 18 17 01 88          fabrication number: 88011718
// 71      2F x 9                     fill to the end of block 5
// The gas-fixed profile (examples/profiles/gas-fixed.toml) says the same.
// clang-format off
const uint8_t applicationPayload[kPayloadSize] = {
    0x2F, 0x2F, 0x46, 0x6D, 0x00, 0x00, 0x0A, 0xC9, 0x24, 0x00, 0x4C, 0x13, 0x26, 0x01, 0x00, 0x00,
    0x4C, 0x93, 0x3A, 0x35, 0x07, 0x00, 0x00, 0x06, 0x6D, 0x10, 0x00, 0xCA, 0xC9, 0x24, 0x00, 0x0C,
    0x13, 0x26, 0x01, 0x00, 0x00, 0x0C, 0x93, 0x3A, 0x35, 0x07, 0x00, 0x00, 0x04, 0xFD, 0x97, 0x1D,
    0x99, 0x91, 0x41, 0x00, 0x0A, 0xFD, 0x74, 0x00, 0x00, 0x01, 0xFD, 0x1F, 0x00, 0x01, 0xFD, 0x1A,
    0x00, 0x0C, 0x78, 0x18, 0x17, 0x01, 0x88, 0x2F, 0x2F, 0x2F, 0x2F, 0x2F, 0x2F, 0x2F, 0x2F, 0x2F};
// clang-format on

Telegram layersOf(const MeterRecord& m, Security security, HeaderForm form) {
    Telegram t;
    std::memcpy(t.link.manufacturer, m.manufacturer, 2);
    std::memcpy(t.link.id, m.identNumber, 4);
    t.link.version = m.version, t.link.type = m.deviceType;
    t.ell.present = t.afl.present = security == Security::Mode7;
    t.ell.access = m.accessNumber;
    t.afl.counter = m.messageCounter;
    t.transport.form = form;
    t.transport.access = m.accessNumber;
    std::memcpy(t.transport.id, m.identNumber, 4);
    std::memcpy(t.transport.manufacturer, m.manufacturer, 2);
    t.transport.version = m.version, t.transport.type = m.deviceType;
    t.security = security;
    return t;
}

void buildAddressFrame(const MeterRecord& meter, uint8_t frame[kAddressFrameSize]) {
    frame[0] = 0x01;
    putLe16(frame + 1, kAddressSize);
    std::memcpy(frame + 3, meter.manufacturer, kAddressSize);
}

void buildPlainTelegram(MeterRecord& meter, uint8_t frame[kPlainTelegramSize]) {
    encodeWindowTelegram(meter, Security::None, nullptr, applicationPayload, frame);
    meter.accessNumber = static_cast<uint8_t>(meter.accessNumber + 1);
}

void mode5Iv(const MeterRecord& meter, uint8_t iv[16]) {
    std::memcpy(iv, meter.manufacturer, kAddressSize);  // M, ID, version, type: radio order
    std::memset(iv + kAddressSize, meter.accessNumber, 8);
}

void buildMode5Telegram(MeterRecord& meter, const uint8_t meterKey[16], const uint8_t payload[kPayloadSize],
                        uint8_t frame[kPlainTelegramSize]) {
    encodeWindowTelegram(meter, Security::Mode5, meterKey, payload, frame);
    meter.accessNumber = static_cast<uint8_t>(meter.accessNumber + 1);
}

void buildEncryptedTelegram(MeterRecord& meter, const uint8_t meterKey[16], uint8_t frame[kEncryptedTelegramSize]) {
    buildEncryptedTelegram(meter, meterKey, applicationPayload, frame);
}

void buildEncryptedTelegram(MeterRecord& meter, const uint8_t meterKey[16], const uint8_t payload[kPayloadSize],
                            uint8_t frame[kEncryptedTelegramSize]) {
    encodeWindowTelegram(meter, Security::Mode7, meterKey, payload, frame);
    meter.messageCounter = meter.messageCounter + 1u;
    meter.accessNumber = static_cast<uint8_t>(meter.accessNumber + 1);
}

void computeTelegramMac(const uint8_t frame[kEncryptedTelegramSize], const uint8_t macKey[16], uint8_t mac[8]) {
    mode7Mac(frame, kEncryptedTelegramSize, kMclAt, kTplAt, macKey, mac);
}

void manufacturerLetters(const uint8_t m[2], char out[4]) {
    const unsigned v = getLe16(m);
    for (int i = 0; i < 3; ++i) out[i] = static_cast<char>(((v >> (10 - 5 * i)) & 31) + 64);
    out[3] = '\0';
}

}  // namespace vdx
