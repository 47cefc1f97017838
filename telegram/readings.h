// What drives a meter's readings (registers and their rates, temperatures,
// events) and the readings of the window's gas meter at a meter time, in
// the layout of its fixed 80-byte block: every record at the same offset
// with the same DIF/VIF and fill, so a receiver that decodes the fixed
// block decodes these; only the values change.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "telegram/frames.h"

namespace vdx {

// A temperature in degrees Celsius: constant (low == high), or a daily
// swing from `low` at 04:00 to `high` at 16:00 of meter time (a cosine).
struct Swing {
    double low = 0, high = 0;
};

// Meter times are whole seconds since 1970-01-01 00:00:00 UTC. Date records
// hold the years 2000 to 2099.
struct ReadingsModel {
    int64_t start = 0;                 // meter time at the first telegram
    double volume = 0.126;             // m3 at `start`
    double volumeUncorrected = 0.735;  // m3 at `start`
    double flow = 0;                   // m3 per hour of meter time, both volumes
    uint32_t batteryDays = 0;          // at `start`
    uint32_t fabrication = 88011718;   // 8 digits
    uint32_t errorFlags = 0x00419199;
    // (time, error flags) in time order: the flags from that time on
    std::vector<std::pair<int64_t, uint32_t>> events;
    double energy = 0, energyExport = 0;  // kWh at `start`
    double power = 0, powerExport = 0;    // kW, driving them
    double units = 0, rate = 0;           // allocator units at `start`, units per hour
    Swing flowTemperature, returnTemperature;
    uint8_t status = 0;  // the transport header's status byte
    // (time, status byte) in time order: the status from that time on
    std::vector<std::pair<int64_t, uint8_t>> statusEvents;
};

struct Readings {
    int64_t time = 0;  // meter time T
    uint32_t volumeLitres = 0, volumeUncorrectedLitres = 0;
    int64_t dueDate = 0;  // the first day of T's month, 00:00:00
    uint32_t dueVolumeLitres = 0, dueVolumeUncorrectedLitres = 0;
    uint32_t errorFlags = 0;
    uint32_t batteryDays = 0;
    uint32_t fabrication = 0;
};

// What the fixed block says: 2022-04-09 10:00:16, 0.126 and 0.735 m3, due
// date 2022-04-09 10:00:00 with the same volumes, flags 0x00419199, battery
// 0 days, fabrication number 88011718.
Readings fixedReadings();

// The readings at meter time `t`: volumes of start + flow x (t - start),
// in whole litres rounded down (an 8-digit register rolls over at 10^8
// litres as a meter's does); the due date and its volumes (the start values
// when the due date lies before `start`); the flags of the last event at or
// before `t`; the battery days less whole days since `start`, never below 0.
Readings readingsAt(const ReadingsModel& model, int64_t t);

// The 80-byte block of `r`.
void buildReadingsBlock(const Readings& r, uint8_t block[kPayloadSize]);

// Calendar helpers (proleptic Gregorian, UTC).
struct CivilTime {
    int year, month, day, hour, minute, second;
    int weekday;  // 1 Monday .. 7 Sunday
};
CivilTime civilTime(int64_t t);
int64_t unixTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

}  // namespace vdx
