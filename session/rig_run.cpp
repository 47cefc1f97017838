#include "session/rig_run.h"

#include <algorithm>
#include <cmath>

#include "session/telegram_record.h"
#include "telegram/sim_meter.h"

namespace vdx {
namespace {

// Replays, counter rewinds and duplicate access numbers are decided by
// what the meter sent before.
bool needsHistory(const SimMeter& m) {
    return std::any_of(m.faults.begin(), m.faults.end(), [](const FaultRule& r) {
        return r.kind == FaultKind::Replay || r.kind == FaultKind::CounterRewind ||
               r.kind == FaultKind::DuplicateAccess;
    });
}

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
    if (std::any_of(rig_.meters.begin(), rig_.meters.end(),
                    [](const SimMeter& m) { return m.security == Security::EllCtr; }))
        sessionRun_.resize(state_.size());
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
    if (elapsed < static_cast<double>(kLastMeterTime - rig_.start) + 1)
        *t = rig_.start + static_cast<int64_t>(std::floor(elapsed));
    else if (clockShown_)
        return false;
    else
        *t = rig_.start;  // shown nowhere
    return true;
}

std::string RigRun::pastEnd(uint64_t telegram, uint64_t atMs, bool exact) const {
    const double t = rig_.start + std::floor(rig_.speed * (atMs / 1000.0));
    const std::string when = t < 253402300800.0
                                 ? "meter time " + isoTime(static_cast<int64_t>(t)) + (exact ? "" : " or later")
                                 : "a meter time after the year 9999";
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
        endProblem_ = pastEnd(planned_, e.atMs, true);
        return p;
    }
    size_t table = 0;
    uint32_t k = 0;
    index_.locate(e.meter, &table, &k);
    const SimMeter& meter = rig_.meters[table];
    MeterRecord& state = state_[e.meter];
    const uint64_t number = ++state.sendCount;
    static const MeterHistory kNone;
    const auto found = history_.find(e.meter);
    const MeterHistory& history = found != history_.end() ? found->second : kNone;
    // the first rule that falls on the telegram and can apply after what
    // the meter sent; one that falls and cannot is passed over, and told
    const FaultRule* fault = nullptr;
    for (const FaultRule& r : meter.faults) {
        if (!faultFalls(r, e.meter, number)) continue;
        if (faultApplies(r.kind, history, compactFrame(meter, number))) {
            fault = &r;
            break;
        }
        if (p.notApplied == FaultKind::None) p.notApplied = r.kind;
    }
    buildMeterTelegram(meter, state, keyOf(e.meter, meter), static_cast<int>(e.meter), meterTime, fault, number,
                       history, &p.telegram);
    if (p.telegram.notApplied != FaultKind::None && p.notApplied == FaultKind::None)
        p.notApplied = p.telegram.notApplied;
    if (needsHistory(meter)) history_[e.meter].add(p.telegram);
    if (meter.security == Security::EllCtr) {
        auto& run = sessionRun_[e.meter];
        const uint32_t minute = p.telegram.sessionNumber >> 4;
        run =
            run.second > 0 && run.first == minute ? std::make_pair(minute, run.second + 1) : std::make_pair(minute, 1u);
        p.telegram.sessionReused = run.second > 16;
    }
    return p;
}

std::string RigRun::lengthProblem(uint64_t telegrams) const {
    // the last millisecond after the start whose meter time fits, found by
    // halving: it fits at `fits`, not at `past` (2^62 ms is 146 million
    // years, past 2099 at the slowest clock)
    int64_t t = 0;
    uint64_t fits = 0, past = uint64_t(1) << 62;
    if (telegrams == 0 || meterTimeAt(static_cast<double>(past), &t)) return "";  // no meter time shown
    if (!meterTimeAt(0, &t)) return pastEnd(planned_ + 1, 0, true);
    while (past - fits > 1) {
        const uint64_t middle = fits + (past - fits) / 2;
        (meterTimeAt(static_cast<double>(middle), &t) ? fits : past) = middle;
    }
    const uint64_t most = schedule_.mostBy(fits, telegrams);
    if (most >= telegrams) return "";
    const uint64_t n = most + 1;  // certainly after `fits`
    return pastEnd(planned_ + n, std::max(past, schedule_.earliestMs(n)), schedule_.exact());
}

}  // namespace vdx
