// Rig files: a TOML description of any number of simulated meters, each with
// its own address, key, security mode, readings and sending interval, and of
// how they send (schedule, meter clock, stick). Read with toml++.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "telegram/sim_meter.h"

namespace vdx {

// How the meters take turns on the stick.
enum class ScheduleMode { Turns, Each };

struct Rig {
    std::vector<SimMeter> meters;       // in file order
    std::vector<double> meterInterval;  // "each": seconds; 0: the schedule's interval
    std::vector<double> meterOffset;    // "each": seconds from the run's start to a meter's first telegram
    ScheduleMode schedule = ScheduleMode::Turns;
    double interval = 5.0;  // turns: between telegrams; each: every meter's default
    double gap = 0.1;       // each: least time between two telegrams on the stick
    bool startNow = true;   // the meters' clock starts at the current UTC time
    int64_t start = 0;      // else at this meter time (seconds since 1970, UTC), at the run's start
    double speed = 1.0;     // meter seconds per real second
    std::string stick;      // serial number or port of the stick to use; empty: any
};

// Bounds the reader holds a rig to, so that a file cannot make a run that
// never sends or that exhausts memory.
constexpr size_t kMaxRigMeters = 1000000;
constexpr double kMinInterval = 0.01;      // seconds: the schedule counts whole milliseconds
constexpr double kMaxInterval = 31536000;  // a year
constexpr double kMaxSpeed = 1000000;      // meter seconds per real second

// Reads the rig file at `path`. False with one message, and `rig`
// untouched: "cannot read FILE: reason" for a file that cannot be read (a
// directory, say), else "FILE:LINE:COLUMN: what is wrong" (unknown key, bad
// hex, wrong length, duplicate address, a time that does not parse or has
// fractional seconds, mode5 or mode7 without a key, an interval out of range
// or not in whole milliseconds, a setting that would have no effect, nesting
// too deep, ...).
bool readRig(const std::string& path, Rig* rig, std::string* error);

// The same for TOML text; `name` stands for the file in messages.
bool parseRig(const std::string& text, const std::string& name, Rig* rig, std::string* error);

// "2026-01-31T23:50:00Z" (or with an offset such as +01:00 or -05:30) as
// seconds since 1970 UTC; the years 2000 to 2099, which the telegrams' dates
// can hold. Strict RFC 3339 with whole seconds: each field unsigned digits of
// its exact width, the offset Z, +HH:MM or -HH:MM.
bool parseMeterTime(const std::string& text, int64_t* t);

}  // namespace vdx
