// A simulated meter of a rig: its address and counters, key, security mode
// and readings, and the telegram it sends at a given meter time.
#pragma once

#include <cstdint>
#include <vector>

#include "telegram/faults.h"
#include "telegram/readings.h"
#include "telegram/send_cycle.h"

namespace vdx {

struct SimMeter {
    MeterRecord record{};  // address and counters (access number, message counter)
    uint8_t key[16] = {};
    Security security = Security::Mode7;
    bool live = false;  // readings that move with the meter's clock, else the fixed block
    ReadingsModel readings;
    std::vector<FaultRule> faults;  // in order: the first that falls on a telegram wins
};

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

// Writes a built telegram: the address frame, then the telegram frame only
// when the address frame went out (the stick would otherwise send it under
// the previous meter's address). True when both were written whole.
bool writeTelegram(const SentTelegram& t, const FrameWriter& write);

}  // namespace vdx
