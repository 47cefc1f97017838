#include "session/rig_run.h"

#include <algorithm>
#include <cmath>

#include "session/telegram_record.h"
#include "telegram/sim_meter.h"

namespace vdx {
namespace {

// Replays and counter rewinds are decided by what the meter sent last.
bool needsPrevious(const SimMeter& m) {
    return std::any_of(m.faults.begin(), m.faults.end(), [](const FaultRule& r) {
        return r.kind == FaultKind::Replay || r.kind == FaultKind::CounterRewind;
    });
}

constexpr uint64_t kMostChecked = 100000000;

}  // namespace

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
    clockShown_ = std::any_of(rig_.meters.begin(), rig_.meters.end(), [](const SimMeter& m) { return m.live; });
}

const uint8_t* RigRun::keyOf(size_t meter, const SimMeter& m) {
    if (!m.deriveKeys) return m.key;
    if (!keyMade_[meter]) derivedKey(m.key, state_[meter].manufacturer, keys_[meter].data()), keyMade_[meter] = true;
    return keys_[meter].data();
}

bool RigRun::meterTimeAt(double atMs, int64_t* t) const {
    // T = start + speed x r, in whole seconds, r the real seconds since the
    // start; only live readings carry it (the fixed block has its own date)
    const double elapsed = rig_.speed * (atMs / 1000.0);
    if (elapsed <= static_cast<double>(kLastMeterTime - rig_.start))
        *t = rig_.start + static_cast<int64_t>(std::floor(elapsed));
    else if (clockShown_)
        return false;
    else
        *t = rig_.start;  // shown nowhere
    return true;
}

std::string RigRun::pastEnd(uint64_t telegram, uint64_t atMs) const {
    const double t = rig_.start + std::floor(rig_.speed * (atMs / 1000.0));
    const std::string when =
        t < 253402300800.0 ? "meter time " + isoTime(static_cast<int64_t>(t)) : "a meter time after the year 9999";
    return "telegram " + std::to_string(telegram) + " would carry " + when + ", past " + isoTime(kLastMeterTime) +
           ", the last a telegram's date can hold";
}

RigRun::Planned RigRun::next() {
    const Schedule::Entry e = schedule_.next();
    Planned p;
    p.atMs = e.atMs;
    p.skipped = e.skipped;
    ++planned_;
    int64_t meterTime = 0;
    if (!meterTimeAt(static_cast<double>(e.atMs), &meterTime)) {
        p.pastEnd = true;
        endProblem_ = pastEnd(planned_, e.atMs);
        return p;
    }
    size_t table = 0;
    uint32_t k = 0;
    index_.locate(e.meter, &table, &k);
    const SimMeter& meter = rig_.meters[table];
    MeterRecord& state = state_[e.meter];
    const uint64_t number = ++state.sendCount;
    const FaultRule* fault = faultFor(meter.faults, e.meter, number);
    const auto found = previous_.find(e.meter);
    const SentTelegram* previous = found != previous_.end() ? &found->second : nullptr;
    if (fault != nullptr && !faultApplies(fault->kind, previous)) p.notApplied = fault->kind, fault = nullptr;
    buildMeterTelegram(meter, state, keyOf(e.meter, meter), static_cast<int>(e.meter), meterTime, fault, number,
                       previous, &p.telegram);
    if (needsPrevious(meter)) previous_[e.meter] = p.telegram;
    return p;
}

std::string RigRun::lengthProblem(uint64_t telegrams) const {
    int64_t t = 0;
    if (telegrams == 0 || meterTimeAt(schedule_.latestMs(telegrams), &t)) return "";
    Schedule s = schedule_;
    for (uint64_t n = 1; n <= std::min(telegrams, kMostChecked); ++n) {
        const uint64_t at = s.next().atMs;
        if (!meterTimeAt(static_cast<double>(at), &t)) return pastEnd(planned_ + n, at);
    }
    return "";
}

}  // namespace vdx
