#include "telegram/sim_meter.h"

#include <algorithm>
#include <cstring>

#include "crypto/aes128.h"
#include "crypto/kdf.h"
#include "telegram/compact.h"

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

// Faults on a layer's fields, before encoding: counter-rewind's counter is
// one below the last one a receiver accepted (not that of a telegram whose
// MAC failed), which faultApplies saw is above 0, the meter keeps its own;
// duplicate-access takes the access number of the meter's last telegram,
// which faultApplies saw exists.
void beforeEncoding(FaultKind kind, const MeterHistory& history, Telegram* t) {
    switch (kind) {
        case FaultKind::BadRecords:
            return badRecords(&t->application);
        case FaultKind::WrongKey:
            t->key[15] ^= 0x01;  // the meter key with its last byte XOR 0x01
            return;
        case FaultKind::CounterRewind:
            t->afl.counter = t->keyCounter = history.acceptedCounter - 1;
            return;
        case FaultKind::No2f2f:
            t->application.checkBytes = false;
            return;
        case FaultKind::AflCounterMismatch:  // the keys and the MAC stay the counter's
            t->afl.counter = t->keyCounter + 1;
            return;
        case FaultKind::WrongCi:
            t->transport.ci = kUnknownCi;
            return;
        case FaultKind::DuplicateAccess:  // the ELL's session counter follows the access number
            t->transport.access = t->ell.access = history.last.accessNumber;
            t->ell.sessionNumber = (t->ell.sessionNumber & ~0x0Fu) | (history.last.accessNumber & 0x0Fu);
            return;
        case FaultKind::CompactUnknown:  // a format no full frame announced
            t->application.signature ^= 0xFFFF;
            return;
        case FaultKind::CompactBadCrc:
            t->application.fullCrc ^= 0x0001;
            return;
        default:
            return;
    }
}

// Faults on the finished bytes: the AFL's MAC, the ELL's payload CRC (in
// counter mode a flipped bit of the cipher text flips the same bit of the
// plain text, so only the CRC is wrong), the frame's end.
void afterEncoding(FaultKind kind, EncodedTelegram* e) {
    if (kind == FaultKind::BadMac && e->macAt != 0) e->frame[e->macAt] ^= 0x01;  // the lowest bit of its first byte
    if (kind == FaultKind::EllBadCrc && e->payloadCrcAt != 0) e->frame[e->payloadCrcAt] ^= 0x01;
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

bool compactFrame(const SimMeter& m, uint64_t number) {
    return compactFrameNumber(m.compactEvery, m.compactAfter, number);
}

FaultTarget faultTarget(const SimMeter& m) {
    return {securityName(m.security), m.compactEvery, m.compactAfter,
            m.header != HeaderForm::None || m.security == Security::EllCtr};
}

uint32_t sessionNumberAt(int64_t meterTime, uint8_t access) {
    constexpr int64_t k2000 = 946684800;  // 2000-01-01T00:00:00Z
    const int64_t minutes = meterTime > k2000 ? (meterTime - k2000) / 60 : 0;
    return ellSessionNumber(static_cast<uint32_t>(minutes & 0x1FFFFFF), access);
}

// A correct receiver takes a telegram's counter when its MAC holds and it
// reads the block: no fault, bad-records, fuzz, a duplicate access number,
// and compact frames it cannot decode or rebuild (their counter is read
// first).
void MeterHistory::add(const SentTelegram& t) {
    sent = true;
    last = t;
    const FaultKind k = t.fault;
    if (k == FaultKind::None || k == FaultKind::BadRecords || k == FaultKind::Fuzz || k == FaultKind::DuplicateAccess ||
        k == FaultKind::CompactUnknown || k == FaultKind::CompactBadCrc)
        accepted = true, acceptedCounter = t.messageCounter;
}

bool faultApplies(FaultKind kind, const MeterHistory& history, bool compact) {
    switch (kind) {
        case FaultKind::Replay:
        case FaultKind::DuplicateAccess:
            return history.sent;
        case FaultKind::CounterRewind:
            return history.accepted && history.acceptedCounter > 0;
        case FaultKind::CompactUnknown:
        case FaultKind::CompactBadCrc:
            return compact;
        case FaultKind::BadRecords:
            return !compact;
        default:
            return true;
    }
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

namespace {

// The layers of the meter's telegram at `meterTime` from its state, before
// any fault: the converter's address in the link layer, the ELL's session
// number, the application layer, compact or full, with its format.
Telegram meterLayers(const SimMeter& m, const MeterRecord& state, const uint8_t key[16], int64_t meterTime,
                     bool compact, SentTelegram* out) {
    Telegram t = layersOf(state, m.security, m.header);
    std::memcpy(t.key, key, 16);
    if (m.viaConverter) {
        std::memcpy(t.link.manufacturer, m.converter, 2), std::memcpy(t.link.id, m.converter + 2, 4);
        t.link.version = m.converter[6], t.link.type = m.converter[7];
    }
    if (t.ell.session) t.ell.sessionNumber = sessionNumberAt(meterTime, state.accessNumber);
    applicationOf(m, meterTime, &t, out);
    describeFormat(&t.application);
    t.application.compact = compact;
    return t;
}

// Encodes the meter's telegram with fault `kind` into `out`; the meter's
// state is read, not changed.
void encodeMeterTelegram(const SimMeter& m, const MeterRecord& state, const uint8_t key[16], int meterIndex,
                         int64_t meterTime, FaultKind kind, const FaultRule* fault, uint64_t number,
                         const MeterHistory& history, SentTelegram* out) {
    out->meter = meterIndex;
    out->security = m.security;
    out->delivered = false;
    out->fault = kind;
    out->header = m.header;
    out->compact = compactFrame(m, number);
    Telegram t = meterLayers(m, state, key, meterTime, out->compact, out);
    out->status = t.transport.status;
    beforeEncoding(kind, history, &t);
    out->accessNumber = t.transport.access;
    out->messageCounter = t.keyCounter;
    out->aflCounter = t.afl.counter;
    out->sessionNumber = t.ell.sessionNumber;
    out->formatKnown = true;
    out->signature = t.application.signature;
    out->viaConverter = m.viaConverter;
    std::memcpy(out->meterAddress, state.manufacturer, 8);
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
    // L one too long on odd telegram numbers, else (and where the frame
    // could not grow: N + 8 + 4 CRC bytes in format B must stay below 256)
    // one too short
    out->lengthError = kind != FaultKind::LengthMismatch ? 0 : number % 2 == 1 && e.size - 3 < 243 ? 1 : -1;
    std::memcpy(out->addressFrame, e.addressFrame, sizeof out->addressFrame);
    std::memcpy(out->telegramFrame, e.frame, e.size);
}

bool sameFrames(const SentTelegram& a, const SentTelegram& b) {
    const size_t n = stickFrameSize(a.telegramFrame);
    return std::memcmp(a.addressFrame, b.addressFrame, kAddressFrameSize) == 0 &&
           n == stickFrameSize(b.telegramFrame) && std::memcmp(a.telegramFrame, b.telegramFrame, n) == 0;
}

}  // namespace

void buildMeterTelegram(const SimMeter& m, MeterRecord& state, const uint8_t key[16], int meterIndex, int64_t meterTime,
                        const FaultRule* fault, uint64_t number, const MeterHistory& history, SentTelegram* out) {
    FaultKind kind = fault != nullptr ? fault->kind : FaultKind::None;
    out->notApplied = FaultKind::None;
    if (!faultApplies(kind, history, compactFrame(m, number))) kind = FaultKind::None;
    if (kind == FaultKind::Replay) {  // byte for byte; the counters stay
        *out = history.last;
        out->meter = meterIndex;
        out->delivered = false;
        out->fault = kind;
        out->notApplied = FaultKind::None;
        return;
    }
    encodeMeterTelegram(m, state, key, meterIndex, meterTime, kind, fault, number, history, out);
    // an old access number over the same bytes (fixed readings, no
    // counter) would be a replay, not new content: sent without the fault
    if (kind == FaultKind::DuplicateAccess && sameFrames(*out, history.last)) {
        kind = FaultKind::None;
        encodeMeterTelegram(m, state, key, meterIndex, meterTime, kind, fault, number, history, out);
        out->notApplied = FaultKind::DuplicateAccess;
    }

    // the counters move on as the meter's do; a rewound counter is the
    // meter's mistake in one telegram, its own counter stays, as its access
    // number stays after it sent the last one again
    if (kind != FaultKind::DuplicateAccess) state.accessNumber = static_cast<uint8_t>(state.accessNumber + 1);
    if (m.security == Security::Mode7 && kind != FaultKind::CounterRewind) state.messageCounter += 1;
}

size_t meterTelegramSize(const SimMeter& m) {
    const MeterProfile& p = profileOf(m);
    ApplicationLayer a;
    a.size = recordsSize(p.records);
    a.fillAlways = p.fillAlways;
    size_t block = blockSize(a, m.security);
    const bool encrypted = m.security == Security::Mode5 || m.security == Security::Mode7;
    if (a.size > kMaxBlockSize || p.records.size() > kMaxRecords || (encrypted && block > kMaxBlockSize)) return 0;
    if (m.compactEvery != 0 || m.compactAfter != 0) {
        // the signature and CRC and the records' data alone: up to 3 bytes
        // more than a full frame of fewer than 4 records
        size_t headers = 0;
        for (const DataRecord& r : p.records) headers += r.headerSize;
        ApplicationLayer c = a;
        c.size = a.size + 4 - headers;
        const size_t compact = blockSize(c, m.security);
        if (encrypted && compact > kMaxBlockSize) return 0;
        block = std::max(block, compact);
    }
    return telegramFrameSize(layersOf(m.record, m.security, m.header), block);
}

bool writeTelegram(const SentTelegram& t, const FrameWriter& write) {
    return write(t.addressFrame) == 1 && write(t.telegramFrame) == 1;
}

}  // namespace vdx
