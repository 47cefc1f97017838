// A run of a rig: the telegrams of its meters in schedule order, each built
// at the meter time it goes out with.
#pragma once

#include <array>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "config/rig.h"
#include "session/schedule.h"
#include "telegram/send_cycle.h"

namespace vdx {

class RigRun {
public:
    // `intervalOverride` as for Schedule; `now` (seconds since 1970, UTC) is
    // the meters' time at the first telegram when the rig's clock starts
    // "now". The meters' counters start at 0, as after Start in the window.
    // Every meter of a table with count = N has its own address and
    // counters; its telegrams are numbered, in the JSON, as in the file.
    RigRun(Rig rig, double intervalOverride, int64_t now);

    struct Planned {
        uint64_t atMs;  // after the first telegram
        SentTelegram telegram;
    };
    // The next telegram, built, with the fault of the meter's first rule
    // that falls on it; the meter's counters move on (not for a replay).
    Planned next();

    const Rig& rig() const { return rig_; }

private:
    // The key of meter `meter` of table `m`: the table's, or derived from it.
    const uint8_t* keyOf(size_t meter, const SimMeter& m);

    Rig rig_;
    MeterIndex index_;
    Schedule schedule_;
    // per meter: its address and counters (sendCount: the telegrams built)
    std::vector<MeterRecord> state_;
    std::vector<std::array<uint8_t, 16>> keys_;  // derived keys, once made
    std::vector<bool> keyMade_;
    std::unordered_map<size_t, SentTelegram> previous_;  // the last one, for meters that replay
    bool first_ = true;
    uint64_t firstMs_ = 0;
};

}  // namespace vdx
