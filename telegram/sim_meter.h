// A simulated meter of a rig: its address and counters, key, security mode,
// profile (records, header), compact frames, radio converter and readings,
// and the telegram it sends at a given meter time. A meter may stand for
// `count` meters whose identification numbers count up from its own (see
// meterAddress).
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
    // compact frames (EN 13757-3): a full frame every `compactEvery`
    // telegrams (the first of each run) and compact ones between, or
    // `compactAfter` full frames and compact ones ever after; 0 and 0: none
    uint32_t compactEvery = 0, compactAfter = 0;
    // read through a radio converter (device type 0x37): the link layer
    // carries the converter's address, the long transport header the
    // meter's own (every meter of a table through the same converter)
    bool viaConverter = false;
    uint8_t converter[8] = {};
};

// Whether the meter's telegram `number` (from 1) is a compact frame.
bool compactFrame(const SimMeter& m, uint64_t number);

// What decides which fault kinds the meter can take (telegram/faults.h).
FaultTarget faultTarget(const SimMeter& m);

// The ELL session number of a telegram at `meterTime` with access number
// `access`: AES-128-CTR, the time in minutes since 2000-01-01 00:00 UTC
// (25 bits, so it wraps in October 2063) and the access number's low four
// bits as the session counter.
uint32_t sessionNumberAt(int64_t meterTime, uint8_t access);

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
// last telegram (a replay sends it again, a duplicate access number takes
// its access number) and the message counter of the last one a correct
// receiver accepted (its MAC holds and it reads the block: no fault,
// bad-records, fuzz, duplicate-access, a compact frame it cannot decode),
// below which a counter rewind goes.
struct MeterHistory {
    bool sent = false;
    SentTelegram last{};
    bool accepted = false;
    uint32_t acceptedCounter = 0;
    void add(const SentTelegram& t);
};

// True when a telegram of kind `kind` can follow what the meter sent, as a
// compact frame or not (`compact`): a replay and a duplicate access number
// need a telegram before, a counter rewind a counter below the last one
// accepted (counters never wrap to go back), the compact-frame faults a
// compact frame, bad-records a full one (DIFs to change). Every other kind
// can always apply. (A duplicate access number whose telegram would come out
// byte for byte as the last one, a replay, is found while building: see
// below.)
bool faultApplies(FaultKind kind, const MeterHistory& history, bool compact = false);

// The same with a fault (see telegram/faults.h); `number` is the meter's
// telegram number from 1, `history` what it sent before. A fault that
// cannot apply is not sent: the telegram goes out as without it (and
// `out->notApplied` names the kind when that was found while building).
// bad-crc changes nothing here: it lives in the CRCs of the radio output;
// length-mismatch only says how far off the radio frame's L-field is.
void buildMeterTelegram(SimMeter& m, int meterIndex, int64_t meterTime, const FaultRule* fault, uint64_t number,
                        const MeterHistory& history, SentTelegram* out);

// The same for one of the meters `m` stands for, whose address and counters
// are `state` and key `key`.
void buildMeterTelegram(const SimMeter& m, MeterRecord& state, const uint8_t key[16], int meterIndex, int64_t meterTime,
                        const FaultRule* fault, uint64_t number, const MeterHistory& history, SentTelegram* out);

// The bytes of the meter's (full) telegram frame, the largest it sends (its
// size does not change from one telegram to the next); 0 when its records
// exceed an application block or, encrypted, its compact frame would.
size_t meterTelegramSize(const SimMeter& m);

// Writes a built telegram: the address frame, then the telegram frame only
// when the address frame went out (the stick would otherwise send it under
// the previous meter's address). True when both were written whole.
bool writeTelegram(const SentTelegram& t, const FrameWriter& write);

}  // namespace vdx
