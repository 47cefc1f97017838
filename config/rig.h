// Rig files: a TOML description of any number of simulated meters, each with
// its own address, key, security mode, profile (records and header),
// readings and sending interval, and of how they send (schedule, meter
// clock, stick). Read with toml++, a large file a [[meter]] table at a time
// (config/rig_pieces.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sdr/radio_modes.h"
#include "telegram/sim_meter.h"

namespace vdx {

// How the meters take turns on the stick.
enum class ScheduleMode { Turns, Each };

struct Rig {
    // One per [[meter]] table, in file order; a table with count = N stands
    // for N meters (SimMeter::count), numbered in file order from 0.
    std::vector<SimMeter> meters;
    std::vector<double> meterInterval;  // per table, "each": seconds; 0: the schedule's interval
    // per table, "each": seconds from the run's start to each of its meters'
    // first telegram; < 0 (offset not given): spread evenly over the
    // interval, the table's first meter at 0
    std::vector<double> meterOffset;
    // per table, the mode its meters send in, in I/Q captures (radio =
    // "s1"); none: the tool's --mode. May be shorter than `meters`.
    std::vector<std::optional<RadioMode>> meterRadio;
    ScheduleMode schedule = ScheduleMode::Turns;
    double interval = 5.0;  // turns: between telegrams; each: every meter's default
    double gap = 0.1;       // each: least time between two telegrams on the stick
    bool startNow = true;   // the meters' clock starts at the current UTC time
    int64_t start = 0;      // else at this meter time (seconds since 1970, UTC), at the run's start
    double speed = 1.0;     // meter seconds per real second
    std::string stick;      // serial number or port of the stick to use; empty: any

    // All the meters of all tables.
    size_t meterCount() const;
};

// Where each meter of a rig lies, built once from its tables' counts.
class MeterIndex {
public:
    explicit MeterIndex(const Rig& rig);
    size_t size() const { return size_; }
    // Meter `meter`'s table and its place there (from 0).
    void locate(size_t meter, size_t* table, uint32_t* index) const;

private:
    std::vector<size_t> first_;  // per table: its first meter; empty when every table is one meter
    size_t size_ = 0;
};

// The interval (seconds) and offset of meter `index` of table `table`, as
// the "each" schedule uses them (`interval` the rig's, or an override).
double meterIntervalOf(const Rig& rig, size_t table, double interval);
double meterOffsetOf(const Rig& rig, size_t table, uint32_t index, double interval);

// Bounds the reader holds a rig to, so that a file cannot make a run that
// never sends or that exhausts memory.
constexpr size_t kMaxRigMeters = 1000000;  // all tables' meters together
constexpr double kMinInterval = 0.01;      // seconds: the schedule counts whole milliseconds
constexpr double kMaxInterval = 31536000;  // a year
constexpr double kMaxSpeed = 1000000;      // meter seconds per real second

// Reads the rig file at `path`. False with one message, and `rig`
// untouched: "cannot read FILE: reason" for a file that cannot be read (a
// directory, say), else "FILE:LINE:COLUMN: what is wrong" (unknown key, bad
// hex, wrong length, duplicate address, a time that does not parse or has
// fractional seconds, mode5 or mode7 without a key, an interval out of range
// or not in whole milliseconds, a setting that would have no effect, nesting
// too deep, records that do not fit a telegram, ...).
bool readRig(const std::string& path, Rig* rig, std::string* error);

// The same for TOML text; `name` stands for the file in messages, and a
// profile file a meter names is looked for beside it.
bool parseRig(const std::string& text, const std::string& name, Rig* rig, std::string* error);

// "2026-01-31T23:50:00Z" (or with an offset such as +01:00 or -05:30) as
// seconds since 1970 UTC; the years 2000 to 2099, which the telegrams' dates
// can hold. Strict RFC 3339 with whole seconds: each field unsigned digits of
// its exact width, the offset Z, +HH:MM or -HH:MM.
bool parseMeterTime(const std::string& text, int64_t* t);

}  // namespace vdx
