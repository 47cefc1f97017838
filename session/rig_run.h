// A run of a rig: the telegrams of its meters in schedule order, each built
// at the meter time it goes out with.
#pragma once

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
    Rig rig_;
    Schedule schedule_;
    std::vector<uint64_t> sent_;                         // telegrams built per meter
    std::unordered_map<size_t, SentTelegram> previous_;  // the last one, for meters that replay
    bool first_ = true;
    uint64_t firstMs_ = 0;
};

}  // namespace vdx
