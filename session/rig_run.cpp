#include "session/rig_run.h"

#include <algorithm>
#include <cmath>

namespace vdx {

RigRun::RigRun(Rig rig, double intervalOverride, int64_t now)
    : rig_(std::move(rig)), schedule_(rig_, intervalOverride) {
    if (rig_.startNow) rig_.start = now;
    for (SimMeter& m : rig_.meters) {
        m.record.accessNumber = 0;
        m.record.messageCounter = 0;
        m.readings.start = rig_.start;
    }
    sent_.assign(rig_.meters.size(), 0);
}

RigRun::Planned RigRun::next() {
    const Schedule::Entry e = schedule_.next();
    if (first_) firstMs_ = e.atMs, first_ = false;
    Planned p;
    p.atMs = e.atMs - firstMs_;
    // T = start + speed x r, in whole seconds, r the real seconds since the first telegram
    const int64_t meterTime = rig_.start + static_cast<int64_t>(std::floor(rig_.speed * p.atMs / 1000.0));
    SimMeter& meter = rig_.meters[e.meter];
    const uint64_t number = ++sent_[e.meter];
    const FaultRule* fault = faultFor(meter.faults, e.meter, number);
    const auto previous = previous_.find(e.meter);
    buildMeterTelegram(meter, static_cast<int>(e.meter), meterTime, fault, number,
                       previous != previous_.end() ? &previous->second : nullptr, &p.telegram);
    const bool replays = std::any_of(meter.faults.begin(), meter.faults.end(),
                                     [](const FaultRule& r) { return r.kind == FaultKind::Replay; });
    if (replays) previous_[e.meter] = p.telegram;
    return p;
}

}  // namespace vdx
