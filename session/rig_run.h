// A run of a rig: the telegrams of its meters in schedule order, each built
// at the meter time it goes out with.
#pragma once

#include <cstdint>

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
    // The next telegram, built; the meter's counters move on.
    Planned next();

    const Rig& rig() const { return rig_; }

private:
    Rig rig_;
    Schedule schedule_;
    bool first_ = true;
    uint64_t firstMs_ = 0;
};

}  // namespace vdx
