#include "telegram/send_cycle.h"

#include <cstdio>
#include <cstring>

#include "telegram/frames.h"

namespace vdx {

MeterRecord meterTable[kMeterCount];
bool sendingEnabled = false;
uint8_t currentMeter = 0;

void startSending(const CountDisplay& show) {
    for (int i = 0; i < kMeterCount; ++i) {
        meterTable[i].sendCount = 0;
        meterTable[i].accessNumber = 0;
        meterTable[i].messageCounter = 0;
        show(i, "0");
    }
    currentMeter = 0;
    sendingEnabled = true;
}

void stopSending() { sendingEnabled = false; }

bool sendTick(bool encryptionOn, const uint8_t (*meterKeys)[16], const FrameWriter& write, const CountDisplay& show,
              SentTelegram* sent) {
    if (!sendingEnabled) return false;
    const int i = currentMeter < kMeterCount ? currentMeter : 0;
    MeterRecord& r = meterTable[i];

    uint8_t address[kAddressFrameSize];
    buildAddressFrame(r, address);
    const bool addressWritten = write(address) == 1;

    // Built whatever happens, so that the counters move on as on the air.
    // Without its address frame the stick would send the telegram under the
    // previous meter's address, so it is not written then.
    const uint8_t accessNumber = r.accessNumber;
    const uint32_t messageCounter = r.messageCounter;
    uint8_t telegram[kEncryptedTelegramSize];
    if (encryptionOn)
        buildEncryptedTelegram(r, meterKeys[i], telegram);
    else
        buildPlainTelegram(r, telegram);
    const bool delivered = addressWritten && write(telegram) == 1;

    // only a telegram that went out whole counts as sent
    if (delivered) r.sendCount += 1;
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(r.sendCount));
    show(i, text);
    currentMeter = static_cast<uint8_t>(i + 1 == kMeterCount ? 0 : i + 1);
    if (sent != nullptr) {
        sent->meter = i;
        sent->security = encryptionOn ? Security::Mode7 : Security::None;
        sent->delivered = delivered;
        sent->accessNumber = accessNumber;
        sent->messageCounter = messageCounter;
        std::memcpy(sent->addressFrame, address, sizeof address);
        std::memcpy(sent->telegramFrame, telegram, stickFrameSize(telegram));
    }
    return delivered;
}

}  // namespace vdx
