#include "session/schedule.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vdx {
namespace {

uint64_t ms(double seconds) { return static_cast<uint64_t>(std::llround(seconds * 1000)); }

// The interval of the meters of table `table`.
double meterInterval(const Rig& rig, size_t table, double intervalOverride) {
    return intervalOverride > 0 ? intervalOverride : meterIntervalOf(rig, table, rig.interval);
}

}  // namespace

Schedule::Schedule(const Rig& rig, double intervalOverride)
    : mode_(rig.schedule),
      meters_(rig.meterCount()),
      intervalMs_(ms(intervalOverride > 0 ? intervalOverride : rig.interval)),
      gapMs_(ms(rig.gap)) {
    if (mode_ == ScheduleMode::Turns) return;
    meterIntervalMs_.resize(meters_);
    meterOffsetMs_.resize(meters_);
    slot_.assign(meters_, 0);
    const MeterIndex index(rig);
    for (size_t i = 0; i < meters_; ++i) {
        size_t table = 0;
        uint32_t k = 0;
        index.locate(i, &table, &k);
        const double interval = meterInterval(rig, table, intervalOverride);
        meterIntervalMs_[i] = ms(interval);
        meterOffsetMs_[i] = ms(meterOffsetOf(rig, table, k, interval));
        due_.push({meterOffsetMs_[i], i});
        firstMs_ = std::min(firstMs_, meterOffsetMs_[i]);
    }
}

// No sum here overflows: `atMs` stays below 2^63, every interval is 10 ms
// or more, and the count stops growing once it reaches `cap`.
uint64_t Schedule::mostBy(uint64_t atMs, uint64_t cap) const {
    if (mode_ == ScheduleMode::Turns) return std::min(cap, atMs / intervalMs_ + 1);
    if (atMs < firstMs_) return 0;
    const uint64_t most = gapMs_ == 0 ? cap : std::min(cap, (atMs - firstMs_) / gapMs_ + 1);
    uint64_t slots = 0;
    for (size_t m = 0; m < meters_ && slots < most; ++m)
        if (atMs >= meterOffsetMs_[m]) slots += (atMs - meterOffsetMs_[m]) / meterIntervalMs_[m] + 1;
    return std::min(most, slots);
}

uint64_t Schedule::earliestMs(uint64_t n) const {
    const uint64_t later = n > 0 ? n - 1 : 0;
    return mode_ == ScheduleMode::Turns ? later * intervalMs_ : firstMs_ + later * gapMs_;
}

Schedule::Entry Schedule::next() {
    if (mode_ == ScheduleMode::Turns) {
        const Entry e{sent_ * intervalMs_, static_cast<size_t>(sent_ % meters_), 0};
        ++sent_;
        return e;
    }
    const Due d = due_.top();
    due_.pop();
    const size_t m = d.meter;
    const uint64_t at = sent_ == 0 ? d.sinceMs : std::max(d.sinceMs, lastMs_ + gapMs_);
    // the meter's latest slot at `at`; the ones between were skipped
    const uint64_t latest = (at - meterOffsetMs_[m]) / meterIntervalMs_[m];
    const Entry e{at, m, latest - slot_[m]};
    slot_[m] = latest + 1;
    due_.push({meterOffsetMs_[m] + slot_[m] * meterIntervalMs_[m], m});
    ++sent_;
    lastMs_ = at;
    return e;
}

std::vector<std::pair<size_t, double>> sessionReuse(const Rig& rig, double intervalOverride) {
    std::vector<std::pair<size_t, double>> tables;
    const double turn = (intervalOverride > 0 ? intervalOverride : rig.interval) * rig.meterCount();
    for (size_t i = 0; i < rig.meters.size(); ++i) {
        if (rig.meters[i].security != Security::EllCtr) continue;
        const double every =
            rig.speed * (rig.schedule == ScheduleMode::Turns ? turn : meterInterval(rig, i, intervalOverride));
        // 17 telegrams span 16 periods: less than a minute, and they can
        // fall in one
        if (16 * every < 60) tables.emplace_back(i, std::ceil(60 / every - 1e-9));
    }
    return tables;
}

std::string scheduleOverload(const Rig& rig, double intervalOverride) {
    if (rig.schedule != ScheduleMode::Each || ms(rig.gap) == 0) return "";
    double asked = 0;  // telegrams a second, as the schedule counts them (whole milliseconds)
    for (size_t i = 0; i < rig.meters.size(); ++i)
        asked += rig.meters[i].count * 1000.0 / ms(meterInterval(rig, i, intervalOverride));
    const double allowed = 1000.0 / ms(rig.gap);
    if (asked <= allowed * (1 + 1e-9)) return "";
    const auto rate = [](double v) {  // 3333, 16.7, 3.33
        char text[32];
        std::snprintf(text, sizeof text, v >= 100 ? "%.0f" : "%.3g", v);
        return std::string(text);
    };
    char gap[32];
    std::snprintf(gap, sizeof gap, "%g", rig.gap);
    return "the meters ask for " + rate(asked) + " telegrams a second, the gap of " + gap + " s allows " +
           rate(allowed) + ": slots the stick cannot serve are skipped";
}

}  // namespace vdx
