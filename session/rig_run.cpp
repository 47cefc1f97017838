#include "session/rig_run.h"

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
}

RigRun::Planned RigRun::next() {
    const Schedule::Entry e = schedule_.next();
    if (first_) firstMs_ = e.atMs, first_ = false;
    Planned p;
    p.atMs = e.atMs - firstMs_;
    // T = start + speed x r, in whole seconds, r the real seconds since the first telegram
    const int64_t meterTime = rig_.start + static_cast<int64_t>(std::floor(rig_.speed * p.atMs / 1000.0));
    buildMeterTelegram(rig_.meters[e.meter], static_cast<int>(e.meter), meterTime, &p.telegram);
    return p;
}

}  // namespace vdx
