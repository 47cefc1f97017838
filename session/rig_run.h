// A run of a rig: the telegrams of its meters in schedule order, each built
// at the meter time it goes out with.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "config/rig.h"
#include "session/schedule.h"
#include "session/telegram_record.h"
#include "telegram/send_cycle.h"
#include "telegram/sim_meter.h"

namespace vdx {

// The last meter time a telegram can carry: its date records (EN 13757-3
// types F and I) hold the years 2000 to 2099.
constexpr int64_t kLastMeterTime = 4102444799;  // 2099-12-31T23:59:59Z

class RigRun {
public:
    // `intervalOverride` as for Schedule; `now` (seconds since 1970, UTC) is
    // the meters' time at the run's start when the rig's clock starts
    // "now". The meters' counters start at 0, as after Start in the window.
    // Every meter of a table with count = N has its own address and
    // counters; its telegrams are numbered, in the JSON, as in the file.
    RigRun(Rig rig, double intervalOverride, int64_t now);

    struct Planned {
        uint64_t atMs = 0;     // after the run's start
        uint64_t skipped = 0;  // the meter's slots skipped since its last telegram
        // the fault of the meter's first rule that fell on this telegram
        // and could not apply (a replay of a first telegram, a counter
        // rewind with no lower counter, a compact-frame fault on a full
        // frame): the telegram goes out with the next rule that falls on it
        // and can apply, else without a fault; or a duplicate access number
        // that would have repeated the last telegram's bytes
        FaultKind notApplied = FaultKind::None;
        // the telegram's meter time would pass kLastMeterTime (where a
        // meter's live readings carry it): nothing was built, and
        // endProblem() says why
        bool pastEnd = false;
        SentTelegram telegram;
        AirFacts air;  // how an SDR sent it
    };
    // The next telegram, built, with the fault of the meter's first rule
    // that falls on it and can apply; the meter's counters move on (not
    // for a replay).
    Planned next();

    // Where the run's length is known, before the first next(), without
    // running it: what the first of its `telegrams` telegrams past
    // kLastMeterTime would carry, or empty. Exact in "turns"; in "each",
    // where the schedule decides at run time, it names the first telegram
    // that cannot go out in time however the meters' slots fall (the gap
    // and the slots bound how fast telegrams go out), and an empty answer
    // leaves it to next() to find the end, as in a run without one.
    std::string lengthProblem(uint64_t telegrams) const;
    // After next() gave a telegram past the end: "telegram N would carry
    // meter time 2100-01-01T00:00:05Z, past 2099-12-31T23:59:59Z, ...".
    const std::string& endProblem() const { return endProblem_; }

    const Rig& rig() const { return rig_; }
    // The table of meter `meter` (of all, from 0).
    size_t tableOf(size_t meter) const {
        size_t table = 0;
        uint32_t index = 0;
        index_.locate(meter, &table, &index);
        return table;
    }

private:
    // The key of meter `meter` of table `m`: the table's, or derived from it.
    const uint8_t* keyOf(size_t meter, const SimMeter& m);
    // The meters' time `atMs` after the start; false when it would pass
    // kLastMeterTime (checked before any conversion, so nothing overflows).
    bool meterTimeAt(double atMs, int64_t* t) const;
    // `exact`: the telegram goes out `atMs` after the start, else not before
    std::string pastEnd(uint64_t telegram, uint64_t atMs, bool exact) const;

    Rig rig_;
    MeterIndex index_;
    Schedule schedule_;
    uint64_t planned_ = 0;
    bool clockShown_ = false;  // some meter's readings carry its time
    // per meter: its address and counters (sendCount: the telegrams built)
    std::vector<MeterRecord> state_;
    std::vector<std::array<uint8_t, 16>> keys_;  // derived keys, once made
    std::vector<bool> keyMade_;
    std::unordered_map<size_t, MeterHistory> history_;  // for meters whose faults look back
    // per meter, where some are ell-ctr: the session time (meter minute) of
    // its last telegram and how many it sent in that minute; past 16 the
    // 4-bit session counter repeats a session number
    std::vector<std::pair<uint32_t, uint32_t>> sessionRun_;
    std::string endProblem_;
};

}  // namespace vdx
