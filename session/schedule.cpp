#include "session/schedule.h"

#include <algorithm>
#include <cmath>

namespace vdx {
namespace {

uint64_t ms(double seconds) { return static_cast<uint64_t>(std::llround(seconds * 1000)); }

}  // namespace

Schedule::Schedule(const Rig& rig, double intervalOverride)
    : mode_(rig.schedule),
      meters_(rig.meters.size()),
      intervalMs_(ms(intervalOverride > 0 ? intervalOverride : rig.interval)),
      gapMs_(ms(rig.gap)) {
    if (mode_ == ScheduleMode::Turns) return;
    meterIntervalMs_.resize(meters_);
    meterOffsetMs_.resize(meters_);
    for (size_t i = 0; i < meters_; ++i) {
        const double own = i < rig.meterInterval.size() ? rig.meterInterval[i] : 0;
        meterIntervalMs_[i] = intervalOverride > 0 || own <= 0 ? intervalMs_ : ms(own);
        meterOffsetMs_[i] = i < rig.meterOffset.size() ? ms(rig.meterOffset[i]) : 0;
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
