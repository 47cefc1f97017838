// The value sources of data records: what a meter's registers, rates,
// temperatures, flags and clock say at one meter time, at the resolution of
// the record that carries them.
#pragma once

#include <cstdint>

#include "telegram/readings.h"
#include "telegram/records.h"

namespace vdx {

// One meter time as the value sources read it.
struct Moment {
    int64_t time = 0;
    int64_t dueDate = 0;  // the first day of the time's month, 00:00:00
    double hours = 0;     // meter hours since the model's start
    double dueHours = 0;  // ... at the due date; negative when it lies before the start
    bool frozen = false;  // the window's fixed block: no time passes, no event applies
};

// The meter at time `t`.
Moment momentAt(const ReadingsModel& model, int64_t t);
// The window's fixed moment: 2022-04-09 10:00:16, due date 2022-04-09
// 10:00:00, every register at its start value.
Moment fixedMoment();

// The value of `record` at `at`: registers as counts of the record's
// resolution rounded down (rolling over where the data field ends, as a
// meter's counter does), rates and temperatures rounded to it, the battery
// days held at what the field holds, dates and times as meter times.
RecordValue recordValue(const DataRecord& record, const ReadingsModel& model, const Moment& at);

// The transport header's status byte at `at`.
uint8_t statusAt(const ReadingsModel& model, const Moment& at);
// The error flags at `at`.
uint32_t errorFlagsAt(const ReadingsModel& model, const Moment& at);

// A temperature of `swing` at meter time `t`, degrees Celsius.
double temperatureAt(const Swing& swing, int64_t t);

}  // namespace vdx
