// When each telegram of a rig goes out, in milliseconds after the run's
// start. "turns": one telegram every interval, meters in file order. "each":
// every meter on its own interval after its offset, in order of due time
// (ties in file order), each at the later of its due time and the previous
// telegram's time plus the gap. A priority queue keeps the next telegram at
// hand, so the cost per telegram grows with the logarithm of the meters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <queue>
#include <vector>

#include "config/rig.h"

namespace vdx {

class Schedule {
public:
    // `intervalOverride` (seconds, > 0) replaces the rig's interval: in
    // "turns" the interval, in "each" every meter's.
    explicit Schedule(const Rig& rig, double intervalOverride = 0);

    struct Entry {
        uint64_t atMs;  // after the run's start
        size_t meter;
    };
    Entry next();

private:
    struct Due {
        uint64_t atMs;
        size_t meter;
        uint64_t count;  // the meter's telegrams before this one
        bool operator>(const Due& o) const { return atMs != o.atMs ? atMs > o.atMs : meter > o.meter; }
    };

    ScheduleMode mode_;
    size_t meters_;
    uint64_t intervalMs_, gapMs_;
    uint64_t sent_ = 0, lastMs_ = 0;
    std::vector<uint64_t> meterIntervalMs_, meterOffsetMs_;
    std::priority_queue<Due, std::vector<Due>, std::greater<Due>> due_;
};

}  // namespace vdx
