#include "telegram/frames.h"

#include <cstring>

#include "crypto/byte_order.h"
#include "telegram/long_header.h"

namespace vdx {

void fillLongHeader(const MeterRecord& meter, uint16_t cf, uint8_t* at) {
    enum { kCi = 0, kId = 1, kMan = 5, kVer = 7, kType = 8, kAcc = 9, kStatus = 10, kCf = 11 };
    at[kCi] = 0x72;
    std::memcpy(at + kId, meter.identNumber, 4);
    std::memcpy(at + kMan, meter.manufacturer, 2);
    at[kVer] = meter.version;
    at[kType] = meter.deviceType;
    at[kAcc] = meter.accessNumber;
    at[kStatus] = 0x00;
    putLe16(at + kCf, cf);
}

void fillStickEnvelope(uint8_t command, uint16_t n, uint8_t* frame) {
    frame[0] = command;
    putLe16(frame + 1, n);
}

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
// clang-format off
const uint8_t applicationPayload[kPayloadSize] = {
    0x2F, 0x2F, 0x46, 0x6D, 0x00, 0x00, 0x0A, 0xC9, 0x24, 0x00, 0x4C, 0x13, 0x26, 0x01, 0x00, 0x00,
    0x4C, 0x93, 0x3A, 0x35, 0x07, 0x00, 0x00, 0x06, 0x6D, 0x10, 0x00, 0xCA, 0xC9, 0x24, 0x00, 0x0C,
    0x13, 0x26, 0x01, 0x00, 0x00, 0x0C, 0x93, 0x3A, 0x35, 0x07, 0x00, 0x00, 0x04, 0xFD, 0x97, 0x1D,
    0x99, 0x91, 0x41, 0x00, 0x0A, 0xFD, 0x74, 0x00, 0x00, 0x01, 0xFD, 0x1F, 0x00, 0x01, 0xFD, 0x1A,
    0x00, 0x0C, 0x78, 0x18, 0x17, 0x01, 0x88, 0x2F, 0x2F, 0x2F, 0x2F, 0x2F, 0x2F, 0x2F, 0x2F, 0x2F};
// clang-format on

// Address frame
//  0    1    3     5      9    10
//  cmd  len  M     ID     ver  type
//  01   08 00
void buildAddressFrame(const MeterRecord& meter, uint8_t frame[kAddressFrameSize]) {
    fillStickEnvelope(0x01, kAddressSize, frame);
    std::memcpy(frame + 3, meter.manufacturer, kAddressSize);
}

// Plain telegram
//  0    1      3   4   5    9   11   12    13   14   15     17
//  cmd  len    C   CI  ID   M   ver  type  ACC  ST   CF     payload (80, clear)
//  44   5E 00  44  72                               00 00
void buildPlainTelegram(MeterRecord& meter, uint8_t frame[kPlainTelegramSize]) {
    enum { kC = 3, kHeader = 4, kPayload = kHeader + kLongHeaderSize };
    fillStickEnvelope(0x44, kPlainTelegramSize - 3, frame);
    frame[kC] = 0x44;                                // SND_NR
    fillLongHeader(meter, 0x0000, frame + kHeader);  // configuration word 0x0000: no encryption
    std::memcpy(frame + kPayload, applicationPayload, kPayloadSize);
    meter.accessNumber = static_cast<uint8_t>(meter.accessNumber + 1);
}

void manufacturerLetters(const uint8_t m[2], char out[4]) {
    const unsigned v = getLe16(m);
    for (int i = 0; i < 3; ++i) out[i] = static_cast<char>(((v >> (10 - 5 * i)) & 31) + 64);
    out[3] = '\0';
}

}  // namespace vdx
