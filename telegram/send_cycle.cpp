#include "telegram/send_cycle.h"

#include <cstdio>

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

void sendTick(bool encryptionOn, const uint8_t (*meterKeys)[16], const FrameWriter& write, const CountDisplay& show) {
    if (!sendingEnabled) return;
    const int i = currentMeter < kMeterCount ? currentMeter : 0;
    MeterRecord& r = meterTable[i];
    r.sendCount += 1;

    uint8_t address[kAddressFrameSize];
    buildAddressFrame(r, address);
    write(address);

    uint8_t telegram[kEncryptedTelegramSize];
    if (encryptionOn)
        buildEncryptedTelegram(r, meterKeys[i], telegram);
    else
        buildPlainTelegram(r, telegram);
    write(telegram);

    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(r.sendCount));
    show(i, text);
    currentMeter = static_cast<uint8_t>(i + 1 == kMeterCount ? 0 : i + 1);
}

}  // namespace vdx
