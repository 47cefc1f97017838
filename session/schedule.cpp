#include "session/schedule.h"

#include <algorithm>
#include <cmath>

namespace vdx {
namespace {

uint64_t ms(double seconds) { return static_cast<uint64_t>(std::llround(seconds * 1000)); }

}  // namespace

Schedule::Schedule(const Rig& rig, double intervalOverride)
    : mode_(rig.schedule),
      meters_(rig.meterCount()),
      intervalMs_(ms(intervalOverride > 0 ? intervalOverride : rig.interval)),
      gapMs_(ms(rig.gap)) {
    if (mode_ == ScheduleMode::Turns) return;
    meterIntervalMs_.resize(meters_);
    meterOffsetMs_.resize(meters_);
    const MeterIndex index(rig);
    for (size_t i = 0; i < meters_; ++i) {
        size_t table = 0;
        uint32_t k = 0;
        index.locate(i, &table, &k);
        const double interval = intervalOverride > 0 ? intervalOverride : meterIntervalOf(rig, table, rig.interval);
        meterIntervalMs_[i] = ms(interval);
        meterOffsetMs_[i] = ms(meterOffsetOf(rig, table, k, interval));
        due_.push({meterOffsetMs_[i], i, 0});
    }
}

Schedule::Entry Schedule::next() {
    if (mode_ == ScheduleMode::Turns) {
        const Entry e{sent_ * intervalMs_, static_cast<size_t>(sent_ % meters_)};
        ++sent_;
        return e;
    }
    const Due d = due_.top();
    due_.pop();
    due_.push({meterOffsetMs_[d.meter] + (d.count + 1) * meterIntervalMs_[d.meter], d.meter, d.count + 1});
    const uint64_t at = sent_ == 0 ? d.atMs : std::max(d.atMs, lastMs_ + gapMs_);
    ++sent_;
    lastMs_ = at;
    return {at, d.meter};
}

}  // namespace vdx
