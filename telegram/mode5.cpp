// OMS security mode 5 telegram (EN 13757-7 security profile A).
#include <cstring>

#include "crypto/aes128.h"
#include "crypto/cbc.h"
#include "crypto/kdf.h"
#include "telegram/frames.h"
#include "telegram/long_header.h"

namespace vdx {

void mode5Iv(const MeterRecord& meter, uint8_t iv[16]) {
    std::memcpy(iv, meter.manufacturer, kAddressSize);  // M, ID, version, type: radio order
    std::memset(iv + kAddressSize, meter.accessNumber, 8);
}

//  0    1      3   4   5    9   11   12    13   14   15     17
//  cmd  len    C   CI  ID   M   ver  type  ACC  ST   CF     payload (80, CBC)
//  44   5E 00  44  72                               50 05
void buildMode5Telegram(MeterRecord& meter, const uint8_t meterKey[16], const uint8_t payload[kPayloadSize],
                        uint8_t frame[kPlainTelegramSize]) {
    enum { kC = 3, kHeader = 4, kPayload = kHeader + kLongHeaderSize };
    fillStickEnvelope(0x44, kPlainTelegramSize - 3, frame);
    frame[kC] = 0x44;                                // SND_NR
    fillLongHeader(meter, 0x0550, frame + kHeader);  // mode 5, 5 encrypted blocks
    std::memcpy(frame + kPayload, payload, kPayloadSize);

    uint8_t schedule[kAesScheduleSize];
    uint8_t iv[16];
    aesExpandKey(meterKey, schedule);
    mode5Iv(meter, iv);
    cbcStart(iv);
    cbcEncrypt(frame + kPayload, kPayloadSize, schedule);
    meter.accessNumber = static_cast<uint8_t>(meter.accessNumber + 1);
    secureWipe(schedule, sizeof schedule);
}

}  // namespace vdx
