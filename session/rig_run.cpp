#include "session/rig_run.h"

#include <algorithm>
#include <cmath>

namespace vdx {

RigRun::RigRun(Rig rig, double intervalOverride, int64_t now)
    : rig_(std::move(rig)), index_(rig_), schedule_(rig_, intervalOverride) {
    if (rig_.startNow) rig_.start = now;
    bool derives = false;
    for (SimMeter& m : rig_.meters) m.readings.start = rig_.start, derives = derives || m.deriveKeys;
    state_.resize(index_.size());
    for (size_t i = 0; i < state_.size(); ++i) {
        size_t table = 0;
        uint32_t k = 0;
        index_.locate(i, &table, &k);
        meterAddress(rig_.meters[table], k, state_[i].manufacturer);  // counters from 0
    }
    if (derives) keys_.resize(state_.size()), keyMade_.resize(state_.size());
}

const uint8_t* RigRun::keyOf(size_t meter, const SimMeter& m) {
    if (!m.deriveKeys) return m.key;
    if (!keyMade_[meter]) derivedKey(m.key, state_[meter].manufacturer, keys_[meter].data()), keyMade_[meter] = true;
    return keys_[meter].data();
}

RigRun::Planned RigRun::next() {
    const Schedule::Entry e = schedule_.next();
    if (first_) firstMs_ = e.atMs, first_ = false;
    Planned p;
    p.atMs = e.atMs - firstMs_;
    // T = start + speed x r, in whole seconds, r the real seconds since the first telegram
    const int64_t meterTime = rig_.start + static_cast<int64_t>(std::floor(rig_.speed * p.atMs / 1000.0));
    size_t table = 0;
    uint32_t k = 0;
    index_.locate(e.meter, &table, &k);
    const SimMeter& meter = rig_.meters[table];
    MeterRecord& state = state_[e.meter];
    const uint64_t number = ++state.sendCount;
    const FaultRule* fault = faultFor(meter.faults, e.meter, number);
    const auto previous = previous_.find(e.meter);
    buildMeterTelegram(meter, state, keyOf(e.meter, meter), static_cast<int>(e.meter), meterTime, fault, number,
                       previous != previous_.end() ? &previous->second : nullptr, &p.telegram);
    const bool replays = std::any_of(meter.faults.begin(), meter.faults.end(),
                                     [](const FaultRule& r) { return r.kind == FaultKind::Replay; });
    if (replays) previous_[e.meter] = p.telegram;
    return p;
}

}  // namespace vdx
