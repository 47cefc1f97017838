// When each telegram of a rig goes out, in milliseconds after the run's
// start. "turns": one telegram every interval, meters in file order.
// "each": every meter has a slot every interval after its offset, and the
// stick sends one telegram at a time, at least the gap apart. A meter that
// waits for the stick sends the telegram of its latest slot when its turn
// comes; when a slot passed without the meter sending (its next slot came
// first), that slot is skipped, as a meter whose radio was busy would skip
// it, and counted: no meter ever sends a backlog. The stick goes to the
// meter that has waited longest (since its first slot not served), ties in
// file order, so no meter is starved by faster ones. A priority queue keeps
// the next meter at hand: the cost per telegram grows with the logarithm of
// the meters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <queue>
#include <string>
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
        uint64_t skipped;  // the meter's slots skipped since its last telegram
    };
    Entry next();

    // Without running it: the most telegrams of the run that can have gone
    // out `atMs` after its start, counted up to `cap`. Exact in "turns"; in
    // "each" the fewer of what the gap lets the stick send from the
    // earliest offset on and the meters' slots begun by then (a meter sends
    // at most once a slot).
    uint64_t mostBy(uint64_t atMs, uint64_t cap) const;
    // A time before which the `n`th telegram (from 1) cannot go out: exact
    // in "turns"; in "each" the earliest offset and the gap before each
    // telegram after the first.
    uint64_t earliestMs(uint64_t n) const;
    bool exact() const { return mode_ == ScheduleMode::Turns; }

private:
    struct Due {
        uint64_t sinceMs;  // the meter's first slot not served
        size_t meter;
        bool operator>(const Due& o) const { return sinceMs != o.sinceMs ? sinceMs > o.sinceMs : meter > o.meter; }
    };

    ScheduleMode mode_;
    size_t meters_;
    uint64_t intervalMs_, gapMs_;
    uint64_t sent_ = 0, lastMs_ = 0;
    uint64_t firstMs_ = UINT64_MAX;  // "each": the earliest offset
    std::vector<uint64_t> meterIntervalMs_, meterOffsetMs_;
    std::vector<uint64_t> slot_;  // per meter: the index of its first slot not served
    std::priority_queue<Due, std::vector<Due>, std::greater<Due>> due_;
};

// In "each", when the meters' slots add up to more telegrams a second than
// the gap lets the stick send, one line that says so: "the meters ask for
// 16.7 telegrams a second, the gap of 0.1 s allows 10: slots are skipped".
// Empty when the stick keeps up, and in "turns".
std::string scheduleOverload(const Rig& rig, double intervalOverride = 0);

// The tables of ell-ctr meters whose schedule and clock make a meter send
// more than 16 telegrams in one meter minute, with the most it sends in
// one: the ELL's session number (the meter minute and a 4-bit counter)
// repeats, and with it the AES-CTR keystream. A meter sends every
// interval x meters (turns) or every its interval (each), times the clock's
// speed, in meter seconds.
std::vector<std::pair<size_t, double>> sessionReuse(const Rig& rig, double intervalOverride = 0);

}  // namespace vdx
