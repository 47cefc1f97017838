#include "telegram/sim_meter.h"

#include <algorithm>
#include <cstring>

#include "crypto/aes128.h"
#include "crypto/kdf.h"

namespace vdx {
namespace {

// The application layer and what the JSON log tells of it. Fixed readings
// are the window's: its moment and its values, whatever drives the meter.
void applicationOf(const SimMeter& m, int64_t meterTime, Telegram* t, SentTelegram* out) {
    static const ReadingsModel kFixed;
    const MeterProfile& p = profileOf(m);
    const ReadingsModel& model = m.live ? m.readings : kFixed;
    const Moment at = m.live ? momentAt(model, meterTime) : fixedMoment();
    out->meterTime = at.time;
    out->gasReadings = p.gasReadings;
    if (p.gasReadings) out->readings = m.live ? readingsAt(m.readings, meterTime) : fixedReadings();
    out->readings.time = at.time;
    encodeRecords(p.records, model, at, &t->application, &out->records);
    t->application.fillAlways = p.fillAlways;
    t->transport.status = statusAt(model, at);
}

// Faults on a layer's fields, before encoding: counter-rewind's AFL counter
// is one below the last one a receiver accepted (not that of a telegram
// whose MAC failed), which faultApplies saw is above 0; the meter keeps its
// own.
void beforeEncoding(FaultKind kind, const MeterHistory& history, Telegram* t) {
    if (kind == FaultKind::BadRecords) badRecords(&t->application);
    if (kind == FaultKind::WrongKey) t->key[15] ^= 0x01;  // the meter key with its last byte XOR 0x01
    if (kind == FaultKind::CounterRewind) t->afl.counter = history.acceptedCounter - 1;
}

// Faults on the finished bytes: the AFL's MAC, the frame's end.
void afterEncoding(FaultKind kind, EncodedTelegram* e) {
    if (kind == FaultKind::BadMac && e->macAt != 0) e->frame[e->macAt] ^= 0x01;  // the lowest bit of its first byte
    if (kind == FaultKind::Truncated) {  // the last 16 bytes left out, the envelope says so
        e->size -= std::min<size_t>(16, e->size - 5);
        e->frame[1] = static_cast<uint8_t>(e->size - 3);
        e->frame[2] = static_cast<uint8_t>((e->size - 3) >> 8);
    }
}

}  // namespace

const MeterProfile& profileOf(const SimMeter& m) { return m.profile != nullptr ? *m.profile : gasFixedProfile(); }

bool meterAddress(const SimMeter& m, uint32_t index, uint8_t address[8]) {
    std::memcpy(address, m.record.manufacturer, 8);
    uint64_t id = 0;
    for (int i = 3; i >= 0; --i) {
        const uint8_t b = m.record.identNumber[i];
        if ((b >> 4) > 9 || (b & 0x0F) > 9) return index == 0;  // not BCD: the address as it is, alone
        id = id * 100 + (b >> 4) * 10 + (b & 0x0F);
    }
    id += index;
    if (id > 99999999) return false;
    for (int i = 0; i < 4; ++i, id /= 100) address[2 + i] = static_cast<uint8_t>((id % 10) | (id / 10 % 10) << 4);
    return true;
}

void derivedKey(const uint8_t master[16], const uint8_t address[8], uint8_t key[16]) {
    uint8_t schedule[kAesScheduleSize], block[16] = {0};
    std::memcpy(block, address, 8);
    aesExpandKey(master, schedule);
    aesEncryptBlock(block, key, schedule);
    secureWipe(schedule, sizeof schedule);
}

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
    uint8_t key[16];
    if (m.deriveKeys)
        derivedKey(m.key, m.record.manufacturer, key);
    else
        std::memcpy(key, m.key, 16);
    buildMeterTelegram(m, m.record, key, meterIndex, meterTime, fault, number, history, out);
    secureWipe(key, sizeof key);
}

void buildMeterTelegram(const SimMeter& m, MeterRecord& state, const uint8_t key[16], int meterIndex, int64_t meterTime,
                        const FaultRule* fault, uint64_t number, const MeterHistory& history, SentTelegram* out) {
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
    out->accessNumber = state.accessNumber;
    out->fault = kind;
    out->header = m.header;

    Telegram t = layersOf(state, m.security, m.header);
    std::memcpy(t.key, key, 16);
    applicationOf(m, meterTime, &t, out);
    out->status = t.transport.status;
    beforeEncoding(kind, history, &t);
    out->messageCounter = t.afl.counter;
    Block block;
    buildBlock(t.application, m.security, &block);
    if (kind == FaultKind::Fuzz) {
        out->faultSeed = fault->seed;
        fuzzBlock(&block, fault->seed, static_cast<size_t>(meterIndex), number);
    }
    std::memcpy(out->block, block.bytes, block.size);
    out->blockSize = block.size;
    EncodedTelegram e;
    encodeTelegram(t, block, &e);
    secureWipe(t.key, sizeof t.key);
    afterEncoding(kind, &e);
    std::memcpy(out->addressFrame, e.addressFrame, sizeof out->addressFrame);
    std::memcpy(out->telegramFrame, e.frame, e.size);

    // the counters move on as the meter's do; a rewound counter is the
    // meter's mistake in one telegram, its own counter stays
    state.accessNumber = static_cast<uint8_t>(state.accessNumber + 1);
    if (m.security == Security::Mode7 && kind != FaultKind::CounterRewind) state.messageCounter += 1;
}

size_t meterTelegramSize(const SimMeter& m) {
    const MeterProfile& p = profileOf(m);
    ApplicationLayer a;
    a.size = recordsSize(p.records);
    a.fillAlways = p.fillAlways;
    const size_t block = blockSize(a, m.security);
    if (a.size > kMaxBlockSize || p.records.size() > kMaxRecords ||
        (m.security != Security::None && block > kMaxBlockSize))
        return 0;
    return telegramFrameSize(layersOf(m.record, m.security, m.header), block);
}

bool writeTelegram(const SentTelegram& t, const FrameWriter& write) {
    return write(t.addressFrame) == 1 && write(t.telegramFrame) == 1;
}

}  // namespace vdx
