// Writing a record's data field: integers (EN 13757-3 type B, signed; bit
// fields and identifiers unsigned), BCD (type A), 32-bit real (type H),
// variable-length text and the dates of types G, F and I.
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "telegram/readings.h"
#include "telegram/records.h"

namespace vdx {
namespace {

constexpr int64_t kDay = 86400;

bool fail(std::string* error, const std::string& what) {
    if (error != nullptr) *error = what;
    return false;
}

// Type G (date): day, then the year's low three bits; month, then its high
// four bits. Years are 2000 + 0..99.
void putTypeG(uint8_t* p, const CivilTime& c) {
    const int year = c.year - 2000;
    p[0] = static_cast<uint8_t>(c.day | (year & 7) << 5);
    p[1] = static_cast<uint8_t>(c.month | (year >> 3) << 4);
}

// Type F (date and time): minute; hour with the hundred year (1: 20xx) in
// bits 5-6; then the date as in type G. Invalid and summer-time bits 0.
void putTypeF(uint8_t* p, const CivilTime& c) {
    p[0] = static_cast<uint8_t>(c.minute);
    p[1] = static_cast<uint8_t>(c.hour | 1 << 5);
    putTypeG(p + 2, c);
}

// Type I (date and time): second, minute, hour with the day of the week in
// bits 5-7 (1 Monday to 7 Sunday, for every date: the meter time, the due
// date and constants alike; 0, not given, only in the window's gas block's
// due date), the date as in type G, the week (0: not given).
void putTypeI(uint8_t* p, const CivilTime& c, bool weekday) {
    p[0] = static_cast<uint8_t>(c.second);
    p[1] = static_cast<uint8_t>(c.minute);
    p[2] = static_cast<uint8_t>(c.hour | (weekday ? c.weekday << 5 : 0));
    putTypeG(p + 3, c);
    p[5] = 0;
}

bool putDate(uint8_t* p, size_t size, int64_t t, bool weekday, std::string* error) {
    const CivilTime c = civilTime(t);
    if (c.year < 2000 || c.year > 2099) return fail(error, "a date from 2000 to 2099");
    if (size == 2) putTypeG(p, c);
    if (size == 4) putTypeF(p, c);
    if (size == 6) putTypeI(p, c, weekday);
    return size == 2 || size == 4 || size == 6 || fail(error, "no date type of this size");
}

// The largest double that rounds to a finite float: halfway between FLT_MAX
// and 2^128 rounds to even, 2^128, infinity. So 3.4028235e38, FLT_MAX's
// shortest spelling (a little above it), is a 32-bit real still.
constexpr double kLargestFloat = 3.4028235677973362e38;

// `v` as the float it rounds to, within kLargestFloat (converting a double
// beyond FLT_MAX is undefined in C++ even where IEEE says FLT_MAX)
float toFloat(double v) {
    if (std::fabs(v) > FLT_MAX) return v > 0 ? FLT_MAX : -FLT_MAX;
    return static_cast<float>(v);
}

// The count as a decimal number: above INT64_MAX where `wide` says so.
std::string countText(int64_t v, bool wide) {
    return wide ? std::to_string(static_cast<uint64_t>(v)) : std::to_string(v);
}

std::string numberText(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", v);
    return text;
}

// EN 13757-3 type B: two's complement of the field's width; bit fields and
// identifiers unsigned, the whole 64 bits included.
bool putInteger(uint8_t* p, size_t size, int64_t v, bool wide, bool unsignedField, std::string* error) {
    const int bits = static_cast<int>(8 * size);
    const bool fits = wide ? unsignedField && bits == 64 : true;
    const int64_t low = unsignedField ? 0 : bits == 64 ? INT64_MIN : -(int64_t(1) << (bits - 1));
    const int64_t high = bits == 64      ? INT64_MAX
                         : unsignedField ? (int64_t(1) << bits) - 1
                                         : (int64_t(1) << (bits - 1)) - 1;
    if (!fits || (!wide && (v < low || v > high)))
        return fail(error, countText(v, wide) + " does not fit " + (bits == 8 ? "an " : "a ") + std::to_string(bits) +
                               "-bit " + (unsignedField ? "unsigned" : "signed") + " integer");
    const uint64_t u = static_cast<uint64_t>(v);
    for (size_t i = 0; i < size; ++i) p[i] = static_cast<uint8_t>(u >> (8 * i));
    return true;
}

bool putBcd(uint8_t* p, size_t size, int64_t v, bool wide, std::string* error) {
    int64_t max = 1;
    for (size_t i = 0; i < size; ++i) max *= 100;
    if (wide || v < 0 || v >= max)
        return fail(error, countText(v, wide) + " does not fit " + std::to_string(2 * size) + " BCD digits");
    for (size_t i = 0; i < size; ++i, v /= 100) p[i] = static_cast<uint8_t>((v % 10) | (v / 10 % 10) << 4);
    return true;
}

}  // namespace

size_t dataSize(const DataRecord& s) {
    return kDataFields[s.dataField].kind == DataKind::Variable ? 1 + s.text.size() : kDataFields[s.dataField].size;
}

namespace {

// The data field of a fixed size (not variable length) into `data`.
bool writeData(const DataRecord& s, const RecordValue& v, uint8_t* data, std::string* error) {
    const DataFieldRow& field = kDataFields[s.dataField];
    if (v.outOfRange && v.kind == RecordValue::Number &&
        (field.kind == DataKind::Integer || field.kind == DataKind::Bcd))
        return fail(error, std::isfinite(v.real) ? numberText(v.real) + " does not fit a 64-bit integer"
                                                 : std::string("an integer or BCD field takes a finite number"));
    switch (field.kind) {
        case DataKind::Integer: {
            if (v.kind == RecordValue::Time) return putDate(data, field.size, v.time, s.weekday, error);
            const bool unsignedField =
                s.row == nullptr || s.row->type == ValueType::Bits || s.row->type == ValueType::Identifier;
            // an unnamed VIF takes both readings of its bytes
            const int64_t count = s.row == nullptr && v.count < 0 && field.size < 8
                                      ? v.count + (int64_t(1) << (8 * field.size))
                                      : v.count;
            return putInteger(data, field.size, count, v.countUnsigned, unsignedField, error);
        }
        case DataKind::Bcd:
            return putBcd(data, field.size, v.count, v.countUnsigned, error);
        case DataKind::Real: {
            // checked before the conversion: a double beyond float is undefined there
            if (!std::isfinite(v.real)) return fail(error, "a 32-bit real takes a finite number");
            if (std::fabs(v.real) > kLargestFloat)
                return fail(error, numberText(v.real) + " does not fit a 32-bit real");
            const float f = toFloat(v.real);
            uint32_t bits;
            std::memcpy(&bits, &f, 4);
            for (int i = 0; i < 4; ++i) data[i] = static_cast<uint8_t>(bits >> (8 * i));
            return true;
        }
        default:
            return true;
    }
}

}  // namespace

bool encodeRecord(const DataRecord& s, const RecordValue& v, uint8_t* out, std::string* error) {
    const DataFieldRow& field = kDataFields[s.dataField];
    uint8_t data[8];
    if (!writeData(s, v, data, error)) return false;
    if (field.kind == DataKind::Variable && s.text.size() > kMaxText)
        return fail(error, "text longer than 191 characters");
    std::memcpy(out, s.header, s.headerSize);
    uint8_t* d = out + s.headerSize;
    if (field.kind == DataKind::Variable) {
        // LVAR, then the characters last first, as multi-byte values go
        d[0] = static_cast<uint8_t>(s.text.size());
        for (size_t i = 0; i < s.text.size(); ++i) d[1 + i] = static_cast<uint8_t>(s.text[s.text.size() - 1 - i]);
    } else {
        std::memcpy(d, data, field.size);
    }
    return true;
}

double numericValue(const DataRecord& s, const RecordValue& v) {
    if (v.kind != RecordValue::Number) return 0;
    // a real holds what a count would: units of 10^exponent
    const double units = kDataFields[s.dataField].kind == DataKind::Real ? toFloat(v.real)
                         : v.countUnsigned ? static_cast<double>(static_cast<uint64_t>(v.count))
                                           : static_cast<double>(v.count);
    // divided by an exact power of ten, so that 123456 x 10^-3 is 123.456
    return s.exponent < 0 ? units / powerOfTen(-s.exponent) : units * powerOfTen(s.exponent);
}

bool exactCount(uint64_t magnitude, bool negative, int exponent, DataRecord* s) {
    for (int e = exponent; e < 0; ++e) {
        if (magnitude > UINT64_MAX / 10) return false;
        magnitude *= 10;
    }
    if (exponent > 0) {  // one division, so that 149 at 10^2 is 1, not 2
        uint64_t unit = 1;
        for (int e = 0; e < exponent && unit <= UINT64_MAX / 10; ++e) unit *= 10;
        magnitude = exponent > 19 ? 0 : magnitude / unit + (magnitude % unit >= unit - unit / 2);
    }
    if (negative && magnitude > uint64_t(1) << 63) return false;
    s->exactCount = true;
    s->countUnsigned = !negative && magnitude > uint64_t(INT64_MAX);
    // two's complement: -2^63 is its own negation
    s->count = static_cast<int64_t>(negative ? ~magnitude + 1 : magnitude);
    return true;
}

double powerOfTen(int n) {
    static const double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                     1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (n < -22 || n > 22) return std::pow(10.0, n);
    return n >= 0 ? kPowers[n] : 1 / kPowers[-n];
}

int64_t encodedTime(const DataRecord& s, int64_t t) {
    const int64_t unit = kDataFields[s.dataField].size == 2 ? kDay : kDataFields[s.dataField].size == 4 ? 60 : 1;
    return (t >= 0 ? t : t - (unit - 1)) / unit * unit;
}

}  // namespace vdx
