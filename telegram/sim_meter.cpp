#include "telegram/sim_meter.h"

#include <cstring>

namespace vdx {

void buildMeterTelegram(SimMeter& m, int meterIndex, int64_t meterTime, SentTelegram* out) {
    buildMeterTelegram(m, meterIndex, meterTime, nullptr, 0, MeterHistory{}, out);
}

void MeterHistory::add(const SentTelegram& t) {
    sent = true;
    last = t;
    if (t.fault == FaultKind::None || t.fault == FaultKind::BadRecords || t.fault == FaultKind::Fuzz)
        accepted = true, acceptedCounter = t.messageCounter;
}

bool faultApplies(FaultKind kind, const MeterHistory& history) {
    if (kind == FaultKind::Replay) return history.sent;
    if (kind == FaultKind::CounterRewind) return history.accepted && history.acceptedCounter > 0;
    return true;
}

void buildMeterTelegram(SimMeter& m, int meterIndex, int64_t meterTime, const FaultRule* fault, uint64_t number,
                        const MeterHistory& history, SentTelegram* out) {
    FaultKind kind = fault != nullptr ? fault->kind : FaultKind::None;
    if (!faultApplies(kind, history)) kind = FaultKind::None;
    if (kind == FaultKind::Replay) {  // byte for byte; the counters stay
        *out = history.last;
        out->meter = meterIndex;
        out->delivered = false;
        out->fault = kind;
        return;
    }
    out->meter = meterIndex;
    out->security = m.security;
    out->delivered = false;
    out->accessNumber = m.record.accessNumber;
    out->messageCounter = m.record.messageCounter;
    out->readings = m.live ? readingsAt(m.readings, meterTime) : fixedReadings();
    out->fault = kind;
    uint8_t* block = out->block;
    if (kind == FaultKind::BadRecords)
        badRecordsBlock(block);
    else if (m.live)
        buildReadingsBlock(out->readings, block);
    else
        std::memcpy(block, applicationPayload, kPayloadSize);
    if (kind == FaultKind::Fuzz) {
        out->faultSeed = fault->seed;
        fuzzBlock(block, fault->seed, static_cast<size_t>(meterIndex), number);
    }

    // wrong-key: the meter key with its last byte XOR 0x01; counter-rewind:
    // one below the last counter a receiver accepted (not that of a
    // telegram whose MAC failed), and the meter keeps its own
    uint8_t key[16];
    std::memcpy(key, m.key, sizeof key);
    if (kind == FaultKind::WrongKey) key[15] ^= 0x01;
    const uint32_t counter = m.record.messageCounter;
    if (kind == FaultKind::CounterRewind) m.record.messageCounter = out->messageCounter = history.acceptedCounter - 1;

    buildAddressFrame(m.record, out->addressFrame);
    switch (m.security) {
        case Security::None:
            buildPlainTelegram(m.record, out->telegramFrame);
            std::memcpy(out->telegramFrame + (kPlainTelegramSize - kPayloadSize), block, kPayloadSize);
            break;
        case Security::Mode5:
            buildMode5Telegram(m.record, key, block, out->telegramFrame);
            break;
        case Security::Mode7:
            buildEncryptedTelegram(m.record, key, block, out->telegramFrame);
            break;
    }
    if (kind == FaultKind::CounterRewind) m.record.messageCounter = counter;
    if (kind == FaultKind::BadMac) out->telegramFrame[16] ^= 0x01;  // the MAC's first byte, lowest bit
    if (kind == FaultKind::Truncated) {                             // the last 16 bytes left out, the envelope says so
        const unsigned n = stickFrameSize(out->telegramFrame) - 3 - 16;
        out->telegramFrame[1] = static_cast<uint8_t>(n);
        out->telegramFrame[2] = static_cast<uint8_t>(n >> 8);
    }
}

bool writeTelegram(const SentTelegram& t, const FrameWriter& write) {
    return write(t.addressFrame) == 1 && write(t.telegramFrame) == 1;
}

}  // namespace vdx
