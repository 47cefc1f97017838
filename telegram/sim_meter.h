// A simulated meter of a rig: its address and counters, key, security mode,
// profile (records, header) and readings, and the telegram it sends at a
// given meter time. A meter may stand for `count` meters whose
// identification numbers count up from its own (see meterAddress).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "telegram/faults.h"
#include "telegram/profile.h"
#include "telegram/readings.h"
#include "telegram/send_cycle.h"

namespace vdx {

struct SimMeter {
    MeterRecord record{};  // address and counters (access number, message counter)
    uint8_t key[16] = {};  // the meter key, or the master key with deriveKeys
    Security security = Security::Mode7;
    bool live = false;  // readings that move with the meter's clock, else the window's fixed moment
    ReadingsModel readings;
    std::vector<FaultRule> faults;                // in order: the first that falls on a telegram wins
    std::shared_ptr<const MeterProfile> profile;  // nullptr: gas-fixed
    HeaderForm header = HeaderForm::Long;
    uint32_t count = 1;       // the meters this one stands for
    bool deriveKeys = false;  // each meter's key derived from `key` (derivedKey)
};

// The records, header defaults and fill the meter sends.
const MeterProfile& profileOf(const SimMeter& m);

// The address of meter `index` (from 0) of `m`: its identification number
// plus `index`, counted in BCD. False when that passes 99999999 or a digit
// of the number is not decimal.
bool meterAddress(const SimMeter& m, uint32_t index, uint8_t address[8]);

// A meter's key derived from a master key: AES-128 under the master key of
// the meter's 8 address bytes (M, ID, version, type, radio order) followed
// by eight zero bytes. A receiver's key table is made the same way.
void derivedKey(const uint8_t master[16], const uint8_t address[8], uint8_t key[16]);

// Builds the meter's address frame and telegram at meter time `meterTime`
// into `out` (its facts and readings too) and advances its counters as the
// window's send cycle does: the access number always, the message counter
// for mode 7. `out->delivered` is false until the telegram is written.
void buildMeterTelegram(SimMeter& m, int meterIndex, int64_t meterTime, SentTelegram* out);

// What a meter sent before, as the faults that depend on it see it: its
// last telegram (a replay sends it again) and the message counter of the
// last one a correct receiver accepted (no fault, bad-records or fuzz: its
// MAC holds), below which a counter rewind goes.
struct MeterHistory {
    bool sent = false;
    SentTelegram last{};
    bool accepted = false;
    uint32_t acceptedCounter = 0;
    void add(const SentTelegram& t);
};

// True when a telegram of kind `kind` can follow what the meter sent: a
// replay needs a telegram to repeat, a counter rewind a counter below the
// last one accepted (counters never wrap to go back). Every other kind can
// always apply.
bool faultApplies(FaultKind kind, const MeterHistory& history);

// The same with a fault (see telegram/faults.h); `number` is the meter's
// telegram number from 1, `history` what it sent before. A fault that
// cannot apply after `history` is not sent: the telegram goes out as
// without it. bad-crc changes nothing here: it lives in the CRCs of the
// radio output.
void buildMeterTelegram(SimMeter& m, int meterIndex, int64_t meterTime, const FaultRule* fault, uint64_t number,
                        const MeterHistory& history, SentTelegram* out);

// The same for one of the meters `m` stands for, whose address and counters
// are `state` and key `key`.
void buildMeterTelegram(const SimMeter& m, MeterRecord& state, const uint8_t key[16], int meterIndex, int64_t meterTime,
                        const FaultRule* fault, uint64_t number, const MeterHistory& history, SentTelegram* out);

// The bytes of the meter's telegram frame (its size does not change from
// one telegram to the next); 0 when its records exceed an application block.
size_t meterTelegramSize(const SimMeter& m);

// Writes a built telegram: the address frame, then the telegram frame only
// when the address frame went out (the stick would otherwise send it under
// the previous meter's address). True when both were written whole.
bool writeTelegram(const SentTelegram& t, const FrameWriter& write);

}  // namespace vdx
