// OMS security mode 7 telegram (EN 13757-4 ELL, EN 13757-7 AFL, OMS KDF-A).
#include <cstring>

#include "crypto/aes128.h"
#include "crypto/byte_order.h"
#include "crypto/cbc.h"
#include "crypto/cmac.h"
#include "crypto/kdf.h"
#include "telegram/frames.h"
#include "telegram/long_header.h"

namespace vdx {
namespace {

//  0    1      3   4   5   6    7   8     9      11   12    16   24  25  29  31   32    33   34  35     37   38
//  cmd  len    C   CI  CC  ACC  CI  AFLL  FCL    MCL  MC    MAC  CI  ID  M   ver  type  ACC  ST  CF     CFE  payload
//  (80, CBC) 44   73 00  44  8C  24       90  0F    00 2C  25               72                          50 07  10
enum Offset {
    kC = 3,
    kEllCi = 4,
    kCommControl = 5,
    kEllAccess = 6,
    kAflCi = 7,
    kAflLength = 8,
    kFragControl = 9,
    kMsgControl = 11,
    kMsgCounter = 12,
    kMac = 16,
    kTplCi = 24,
    kCfExt = kTplCi + kLongHeaderSize,
    kPayload = 38,
};

constexpr int kMacInputSize = 5 + (kEncryptedTelegramSize - kTplCi);  // 99

void fillHeader(const MeterRecord& meter, uint32_t counter, uint8_t* frame) {
    fillStickEnvelope(0x44, kEncryptedTelegramSize - 3, frame);
    frame[kC] = 0x44;            // SND_NR
    frame[kEllCi] = 0x8C;        // ELL, short form
    frame[kCommControl] = 0x24;  // synchronous + accessibility
    frame[kEllAccess] = meter.accessNumber;
    frame[kAflCi] = 0x90;
    frame[kAflLength] = 0x0F;
    frame[kFragControl] = 0x00;  // FCL 0x2C00: MCL, MCR and MAC present, fragment 0, last
    frame[kFragControl + 1] = 0x2C;
    frame[kMsgControl] = 0x25;  // message counter present, AES-CMAC-128 truncated to 8 bytes
    putLe32(frame + kMsgCounter, counter);
    std::memset(frame + kMac, 0xFF, 8);
    fillLongHeader(meter, 0x0750, frame + kTplCi);  // CF 0x0750: mode 7, 5 encrypted blocks
    frame[kCfExt] = 0x10;                           // KDF-A, key number 0
}

}  // namespace

void computeTelegramMac(const uint8_t frame[kEncryptedTelegramSize], const uint8_t macKey[16], uint8_t mac[8]) {
    // message control and counter, then everything from the TPL CI-field to
    // the end of the ciphertext; the MAC field itself is not covered
    uint8_t macInput[kMacInputSize];
    std::memcpy(macInput, frame + kMsgControl, 5);
    std::memcpy(macInput + 5, frame + kTplCi, kEncryptedTelegramSize - kTplCi);
    uint8_t tag[16];
    cmacCompute(macKey, macInput, kMacInputSize, tag);
    std::memcpy(mac, tag, 8);  // AES-CMAC-128 truncated to its first 8 bytes
    secureWipe(tag, sizeof tag);
}

void buildEncryptedTelegram(MeterRecord& meter, const uint8_t meterKey[16], uint8_t frame[kEncryptedTelegramSize]) {
    buildEncryptedTelegram(meter, meterKey, applicationPayload, frame);
}

void buildEncryptedTelegram(MeterRecord& meter, const uint8_t meterKey[16], const uint8_t payload[kPayloadSize],
                            uint8_t frame[kEncryptedTelegramSize]) {
    const uint32_t counter = meter.messageCounter;
    uint8_t schedule[kAesScheduleSize];
    uint8_t block[16];
    uint8_t kenc[16], kmac[16];

    // derive Kenc and Kmac from K; the schedule's first 16 bytes are K
    aesExpandKey(meterKey, schedule);
    buildEncKeyBlock(block, meter.identNumber, counter);
    cmacCompute(schedule, block, 16, kenc);
    buildMacKeyBlock(block, meter.identNumber, counter);
    cmacCompute(schedule, block, 16, kmac);

    aesExpandKey(kenc, schedule);
    cbcReset();  // zero IV for every telegram
    fillHeader(meter, counter, frame);
    std::memcpy(frame + kPayload, payload, kPayloadSize);
    cbcEncrypt(frame + kPayload, kPayloadSize, schedule);

    aesExpandKey(kmac, schedule);
    computeTelegramMac(frame, schedule, frame + kMac);

    meter.messageCounter = counter + 1u;
    meter.accessNumber = static_cast<uint8_t>(meter.accessNumber + 1);

    secureWipe(schedule, sizeof schedule);
    secureWipe(block, sizeof block);
    secureWipe(kenc, sizeof kenc);
    secureWipe(kmac, sizeof kmac);
}

}  // namespace vdx
