#include "telegram/sim_meter.h"

#include <cstring>

namespace vdx {

void buildMeterTelegram(SimMeter& m, int meterIndex, int64_t meterTime, SentTelegram* out) {
    out->meter = meterIndex;
    out->security = m.security;
    out->delivered = false;
    out->accessNumber = m.record.accessNumber;
    out->messageCounter = m.record.messageCounter;
    out->readings = m.live ? readingsAt(m.readings, meterTime) : fixedReadings();
    uint8_t block[kPayloadSize];
    if (m.live)
        buildReadingsBlock(out->readings, block);
    else
        std::memcpy(block, applicationPayload, kPayloadSize);

    buildAddressFrame(m.record, out->addressFrame);
    switch (m.security) {
        case Security::None:
            buildPlainTelegram(m.record, out->telegramFrame);
            std::memcpy(out->telegramFrame + (kPlainTelegramSize - kPayloadSize), block, kPayloadSize);
            break;
        case Security::Mode5:
            buildMode5Telegram(m.record, m.key, block, out->telegramFrame);
            break;
        case Security::Mode7:
            buildEncryptedTelegram(m.record, m.key, block, out->telegramFrame);
            break;
    }
}

bool writeTelegram(const SentTelegram& t, const FrameWriter& write) {
    return write(t.addressFrame) == 1 && write(t.telegramFrame) == 1;
}

}  // namespace vdx
