#include "telegram/readings.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "telegram/profile.h"

namespace vdx {
namespace {

constexpr int64_t kDay = 86400;
constexpr uint32_t kRegisterLitres = 100000000;  // 8 BCD digits

// Days since 1970-01-01 of a civil date, and back (H. Hinnant's algorithms).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int* year, int* month, int* day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    *year = static_cast<int>(yoe + era * 400 + (*month <= 2));
}

// m3 at `start` plus flow over `hours`, in whole litres rounded down; the
// millionth of a litre absorbs binary fractions such as 0.735 * 1000.
uint32_t litres(double m3, double flow, double hours) {
    const double l = std::floor(m3 * 1000 + flow * 1000 * hours + 1e-6);
    return l <= 0 ? 0 : static_cast<uint32_t>(std::fmod(l, kRegisterLitres));
}

}  // namespace

CivilTime civilTime(int64_t t) {
    const int64_t days = (t >= 0 ? t : t - (kDay - 1)) / kDay;
    const int64_t s = t - days * kDay;
    CivilTime c{};
    civilFromDays(days, &c.year, &c.month, &c.day);
    c.hour = static_cast<int>(s / 3600);
    c.minute = static_cast<int>(s / 60 % 60);
    c.second = static_cast<int>(s % 60);
    c.weekday = static_cast<int>(((days % 7) + 7 + 3) % 7) + 1;  // 1970-01-01 was a Thursday
    return c;
}

int64_t unixTime(int year, int month, int day, int hour, int minute, int second) {
    return daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * kDay + hour * 3600 +
           minute * 60 + second;
}

Readings fixedReadings() {
    Readings r;
    r.time = unixTime(2022, 4, 9, 10, 0, 16);
    r.volumeLitres = r.dueVolumeLitres = 126;
    r.volumeUncorrectedLitres = r.dueVolumeUncorrectedLitres = 735;
    r.dueDate = unixTime(2022, 4, 9, 10);
    r.errorFlags = 0x00419199;
    r.batteryDays = 0;
    r.fabrication = 88011718;
    return r;
}

Readings readingsAt(const ReadingsModel& m, int64_t t) {
    Readings r;
    r.time = t;
    const double hours = static_cast<double>(t - m.start) / 3600;
    r.volumeLitres = litres(m.volume, m.flow, hours);
    r.volumeUncorrectedLitres = litres(m.volumeUncorrected, m.flow, hours);
    const CivilTime c = civilTime(t);
    r.dueDate = unixTime(c.year, c.month, 1);
    const double dueHours = r.dueDate < m.start ? 0 : static_cast<double>(r.dueDate - m.start) / 3600;
    r.dueVolumeLitres = litres(m.volume, m.flow, dueHours);
    r.dueVolumeUncorrectedLitres = litres(m.volumeUncorrected, m.flow, dueHours);
    r.errorFlags = m.errorFlags;
    for (const auto& e : m.events)
        if (e.first <= t) r.errorFlags = e.second;
    const int64_t days = t > m.start ? (t - m.start) / kDay : 0;
    r.batteryDays = static_cast<uint32_t>(std::max<int64_t>(0, static_cast<int64_t>(m.batteryDays) - days));
    r.fabrication = m.fabrication;
    return r;
}

// The gas-fixed records with the values of `r`: counts of litres for the
// volumes, the times as they are, the battery days held at 9999.
void buildReadingsBlock(const Readings& r, uint8_t block[kPayloadSize]) {
    const MeterProfile& gas = gasFixedProfile();
    ApplicationLayer a;
    a.fillAlways = true;
    for (const DataRecord& s : gas.records) {
        RecordValue v;
        const bool uncorrected = s.reg == Register::VolumeUncorrected;
        switch (s.source) {
            case Source::Time:
            case Source::DueDate:
                v.kind = RecordValue::Time;
                v.time = s.source == Source::Time ? r.time : r.dueDate;
                break;
            case Source::Register:
                v.count = uncorrected ? r.volumeUncorrectedLitres : r.volumeLitres;
                break;
            case Source::Due:
                v.count = uncorrected ? r.dueVolumeUncorrectedLitres : r.dueVolumeLitres;
                break;
            case Source::ErrorFlags:
                v.count = r.errorFlags;
                break;
            case Source::BatteryDays:
                v.count = std::min<uint32_t>(r.batteryDays, 9999);
                break;
            case Source::Fabrication:
                v.count = r.fabrication % 100000000;
                break;
            default:
                break;
        }
        a.recordAt[a.count++] = static_cast<uint16_t>(a.size);
        encodeRecord(s, v, a.records + a.size);
        a.size += recordSize(s);
    }
    Block b;
    buildBlock(a, Security::None, &b);
    std::memcpy(block, b.bytes, kPayloadSize);
}

}  // namespace vdx
