#include "telegram/meter_values.h"

#include <algorithm>
#include <cmath>

namespace vdx {
namespace {

constexpr int64_t kDay = 86400;
constexpr double kPi = 3.14159265358979323846;

// 10^n for the record resolutions (exact for |n| <= 22).
double power10(int n) { return powerOfTen(n); }

// The largest count + 1 a data field holds, where a register rolls over:
// 10^digits for BCD, 2^(bits-1) for a signed integer.
double rollover(const DataRecord& s) {
    const DataFieldRow& f = kDataFields[s.dataField];
    return f.kind == DataKind::Bcd ? powerOfTen(2 * f.size) : std::ldexp(1.0, 8 * f.size - 1);
}

// start + rate x hours in counts of 1/scale, rounded down; the millionth
// of a count absorbs binary fractions such as 0.735 x 1000.
int64_t registerCount(double start, double rate, double hours, double scale, double top) {
    const double c = std::floor(start * scale + rate * scale * hours + 1e-6);
    return c <= 0 ? 0 : static_cast<int64_t>(std::fmod(c, top));
}

void registerOf(const ReadingsModel& m, Register r, double* start, double* rate) {
    switch (r) {
        case Register::Volume:
            *start = m.volume, *rate = m.flow;
            return;
        case Register::VolumeUncorrected:
            *start = m.volumeUncorrected, *rate = m.flow;
            return;
        case Register::Energy:
            *start = m.energy, *rate = m.power;
            return;
        case Register::EnergyExport:
            *start = m.energyExport, *rate = m.powerExport;
            return;
        case Register::Units:
            *start = m.units, *rate = m.rate;
            return;
    }
}

int64_t maxCount(const DataRecord& s) {
    const DataFieldRow& f = kDataFields[s.dataField];
    if (f.kind == DataKind::Bcd) return static_cast<int64_t>(powerOfTen(2 * f.size)) - 1;
    return f.size >= 8 ? INT64_MAX : (int64_t(1) << (8 * f.size - 1)) - 1;
}

}  // namespace

Moment momentAt(const ReadingsModel& m, int64_t t) {
    Moment at;
    at.time = t;
    at.hours = static_cast<double>(t - m.start) / 3600;
    const CivilTime c = civilTime(t);
    at.dueDate = unixTime(c.year, c.month, 1);
    // before the start, the register is worked back by its rate (and held
    // at 0 where that would go below)
    at.dueHours = static_cast<double>(at.dueDate - m.start) / 3600;
    return at;
}

Moment fixedMoment() {
    Moment at;
    at.time = unixTime(2022, 4, 9, 10, 0, 16);
    at.dueDate = unixTime(2022, 4, 9, 10);
    at.frozen = true;
    return at;
}

double temperatureAt(const Swing& s, int64_t t) {
    if (s.low == s.high) return s.low;
    const double day = static_cast<double>(((t % kDay) + kDay) % kDay) / kDay;
    return s.low + (s.high - s.low) * (1 - std::cos(2 * kPi * (day - 4.0 / 24))) / 2;
}

uint32_t errorFlagsAt(const ReadingsModel& m, const Moment& at) {
    uint32_t flags = m.errorFlags;
    if (!at.frozen)
        for (const auto& e : m.events)
            if (e.first <= at.time) flags = e.second;
    return flags;
}

uint8_t statusAt(const ReadingsModel& m, const Moment& at) {
    uint8_t status = m.status;
    if (!at.frozen)
        for (const auto& e : m.statusEvents)
            if (e.first <= at.time) status = e.second;
    return status;
}

namespace {

// A register or its value at the due date, in counts of the record (a real
// field holds them unrounded).
RecordValue registerValue(const DataRecord& s, const ReadingsModel& m, const Moment& at) {
    RecordValue v;
    double start = 0, rate = 0;
    registerOf(m, s.reg, &start, &rate);
    const double scale = power10(-s.exponent);
    const double hours = s.source == Source::Due ? at.dueHours : at.hours;
    if (kDataFields[s.dataField].kind == DataKind::Real)
        v.real = std::max(0.0, start + rate * hours) * scale;
    else
        v.count = registerCount(start, rate, hours, scale, rollover(s));
    return v;
}

// The value, in the row's unit, of the sources that are rounded to the
// record's resolution.
double roundedValue(const DataRecord& s, const ReadingsModel& m, const Moment& at) {
    double start = 0, rate = 0;
    switch (s.source) {
        case Source::Rate:
            registerOf(m, s.reg, &start, &rate);
            return rate;
        case Source::FlowTemperature:
            return temperatureAt(m.flowTemperature, at.time);
        case Source::ReturnTemperature:
            return temperatureAt(m.returnTemperature, at.time);
        case Source::TemperatureDifference:
            return temperatureAt(m.flowTemperature, at.time) - temperatureAt(m.returnTemperature, at.time);
        default:
            return s.constant;
    }
}

}  // namespace

RecordValue recordValue(const DataRecord& s, const ReadingsModel& m, const Moment& at) {
    RecordValue v;
    const DataKind kind = kDataFields[s.dataField].kind;
    switch (s.source) {
        case Source::Time:
        case Source::DueDate:
            v.kind = RecordValue::Time;
            v.time = s.source == Source::Time ? at.time : at.dueDate;
            return v;
        case Source::Register:
        case Source::Due:
            return registerValue(s, m, at);
        case Source::ErrorFlags:
            v.count = errorFlagsAt(m, at);
            return v;
        case Source::BatteryDays: {
            const int64_t days = !at.frozen && at.time > m.start ? (at.time - m.start) / kDay : 0;
            v.count = std::min(std::max<int64_t>(0, int64_t(m.batteryDays) - days), maxCount(s));
            return v;
        }
        case Source::Fabrication:
            v.count = m.fabrication;
            return v;
        case Source::Constant:
            if (s.row != nullptr && (s.row->type == ValueType::Date || s.row->type == ValueType::DateTime)) {
                v.kind = RecordValue::Time;
                v.time = s.constantTime;
                return v;
            }
            if (kind == DataKind::Variable) return v.kind = RecordValue::Text, v;
            if (kind == DataKind::None) return v.kind = RecordValue::Nothing, v;
            break;
        default:
            break;
    }
    const double scale = power10(-s.exponent), value = roundedValue(s, m, at);
    v.real = value * scale;
    if (s.source == Source::Constant && s.exactCount) {
        v.count = s.count, v.countUnsigned = s.countUnsigned;
        return v;
    }
    // checked before converting: a double outside int64 is undefined there
    v.outOfRange = !(v.real > -9223372036854775808.0 && v.real < 9223372036854775808.0);
    v.count = v.outOfRange ? 0 : std::llround(v.real);
    return v;
}

}  // namespace vdx
