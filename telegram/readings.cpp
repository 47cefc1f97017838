#include "telegram/readings.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "crypto/byte_order.h"

namespace vdx {
namespace {

// Where the values lie in the fixed block (see applicationPayload).
enum Offset {
    kDueDate = 4,
    kDueVolume = 12,
    kDueVolumeUncorrected = 19,
    kDateTime = 25,
    kVolume = 33,
    kVolumeUncorrected = 40,
    kErrorFlags = 48,
    kBattery = 55,
    kFabrication = 67,
};

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

void putBcd(uint8_t* p, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i, value /= 100) p[i] = static_cast<uint8_t>((value % 10) | (value / 10 % 10) << 4);
}

// Type I date and time (EN 13757-3): second, minute, hour with the day of
// the week in bits 5-7, day with the year's low three bits, month with its
// high four bits, and the week (0: not given).
void putTypeI(uint8_t* p, int64_t t, bool withWeekday) {
    const CivilTime c = civilTime(t);
    const int year = c.year - 2000;
    p[0] = static_cast<uint8_t>(c.second);
    p[1] = static_cast<uint8_t>(c.minute);
    p[2] = static_cast<uint8_t>(c.hour | (withWeekday ? c.weekday << 5 : 0));
    p[3] = static_cast<uint8_t>(c.day | (year & 7) << 5);
    p[4] = static_cast<uint8_t>(c.month | (year >> 3) << 4);
    p[5] = 0;
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

void buildReadingsBlock(const Readings& r, uint8_t block[kPayloadSize]) {
    std::memcpy(block, applicationPayload, kPayloadSize);
    putTypeI(block + kDueDate, r.dueDate, false);  // day-of-week bits 0, as in the fixed block
    putBcd(block + kDueVolume, r.dueVolumeLitres, 4);
    putBcd(block + kDueVolumeUncorrected, r.dueVolumeUncorrectedLitres, 4);
    putTypeI(block + kDateTime, r.time, true);
    putBcd(block + kVolume, r.volumeLitres, 4);
    putBcd(block + kVolumeUncorrected, r.volumeUncorrectedLitres, 4);
    putLe32(block + kErrorFlags, r.errorFlags);
    putBcd(block + kBattery, std::min<uint32_t>(r.batteryDays, 9999), 2);
    putBcd(block + kFabrication, r.fabrication, 4);
}

}  // namespace vdx
