// EN 13757-3 data records: what a record says (DIF and DIFEs, VIF and
// VIFEs, read from the tables in telegram/record_tables.h) and where its
// value comes from, and the encoder that writes one.
//
//   DIF    bit 7 extension, bit 6 storage number bit 0, bits 4-5 function,
//          bits 0-3 data field
//   DIFE   bit 7 extension, bit 6 subunit bit n, bits 4-5 tariff bits 2n..2n+1,
//          bits 0-3 storage number bits 4n+1..4n+4 (n = 0 for the first DIFE)
//   VIF    bit 7 extension, bits 0-6 the code; 0xFB and 0xFD name the
//          extension table whose code follows
//   VIFE   bit 7 extension; a combinable VIFE modifies the quantity
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "telegram/record_tables.h"

namespace vdx {

enum class Function : uint8_t { Instantaneous, Maximum, Minimum, Error };

// Where a record's value comes from.
enum class Source : uint8_t {
    Constant,               // `constant`, `constantTime` or `text`
    Register,               // a register integrated over meter time, rounded down
    Due,                    // that register at the due date
    Time,                   // the meter time
    DueDate,                // the first day of the meter time's month, 00:00
    Rate,                   // the register's rate (flow, power, rate)
    FlowTemperature,        // constant, or a daily swing
    ReturnTemperature,      //
    TemperatureDifference,  // flow less return
    ErrorFlags,             // the flags of the last event
    BatteryDays,            // remaining battery days
    Fabrication,            // the fabrication number
};
// The registers a meter keeps, each with its rate: volume and the
// uncorrected volume (flow, m3/h), energy (power, kW), exported energy
// (power_export, kW), allocator units (rate, units/h).
enum class Register : uint8_t { Volume, VolumeUncorrected, Energy, EnergyExport, Units };

// Bounds of EN 13757-3: at most ten DIFEs and ten VIFEs.
constexpr int kMaxDifes = 10;
constexpr int kMaxVifes = 10;
constexpr size_t kMaxText = 0xBF;  // LVAR 0x00-0xBF: that many characters

struct DataRecord {
    uint8_t header[2 + kMaxDifes + kMaxVifes] = {};  // DIF, DIFEs, VIF (0xFB/0xFD + code), VIFEs
    uint8_t headerSize = 0, difSize = 0;
    uint8_t dataField = 0;  // DIF bits 0-3
    Function function = Function::Instantaneous;
    uint64_t storage = 0;
    uint32_t tariff = 0, subunit = 0;
    const VifRow* row = nullptr;        // nullptr: a code the tables do not name
    int exponent = 0;                   // a count of the data field is 10^exponent in the row's unit
    const VifeRow* modifier = nullptr;  // the first combinable VIFE the tables name
    Source source = Source::Constant;
    Register reg = Register::Volume;
    double constant = 0;
    // an integer constant (a TOML integer or "0x..."), already a count of
    // 10^exponent, kept exact: it never passes through `constant`
    bool exactCount = false;
    bool countUnsigned = false;  // `count` holds the bits of a value above INT64_MAX
    int64_t count = 0;
    int64_t constantTime = 0;  // a constant date (for date rows)
    int unitShift = 0;         // a constant written in 10^unitShift of the row's unit (GJ: 9 for J)
    bool weekday = true;       // type I: the day of the week in the hour byte (else 0, not given)
    std::string text;          // a constant text (variable-length field)
};

// A record described by its quantity, as a rig or profile writes it.
struct RecordRequest {
    std::string quantity, unit, modifier;
    int digits = 0;     // BCD: 2, 4, 6, 8 or 12
    int bits = 0;       // integer: 8, 16, 24, 32, 48 or 64
    bool real = false;  // 32-bit real
    bool text = false;  // variable-length text
    int decimals = 0;   // the value's resolution is 10^-decimals of the unit
    uint64_t storage = 0;
    uint32_t tariff = 0, subunit = 0;
    Function function = Function::Instantaneous;
};

// Fills `record`'s coding (not its source) from a request; false with what
// is wrong: an unknown quantity, no VIF for the unit at that resolution, a
// data field the quantity cannot take, storage, tariff or subunit beyond ten
// DIFEs.
// A unit with another prefix (Wh, MWh, kJ, MJ, GJ, l, t, W, MW, l/h) is
// converted to the tables' (kWh, J, m3, kg, kW, m3/h): a constant is then
// written in it (record->unitShift), the decimals count in it.
bool describeRecord(const RecordRequest& request, DataRecord* record, std::string* error);
// The unit names a quantity takes, for messages and listings: "kWh, Wh, MWh, J, kJ, MJ, GJ".
std::string unitNames(const std::string& quantity);

// Fills `record`'s coding from raw DIF and VIF bytes (DIF and its DIFEs; VIF,
// an extension table's code and VIFEs), written as hexadecimal; false with
// what is wrong (bad hex, an extension chain that does not end where the
// bytes do, special functions, ...).
bool rawRecord(const std::string& difHex, const std::string& vifHex, DataRecord* record, std::string* error);

// The name of a value source ("register", "due", "time", "due-date",
// "rate", "flow-temperature", "return-temperature",
// "temperature-difference", "error-flags", "battery-days",
// "fabrication"); false for another name.
bool sourceOf(const std::string& name, Source* source);
// The register a record counts: volume in m3 (uncorrected: the uncorrected
// volume), energy in kWh (backward: exported energy) and hca units; false
// for other quantities. And the register whose rate a record gives: volume
// flow in m3/h, power in kW (backward: exported power).
bool registerOf(const DataRecord& record, Register* reg);
bool rateRegisterOf(const DataRecord& record, Register* reg);
bool registerNamed(const std::string& name, Register* reg);

// What an encoded record says: a number (`count` of 10^exponent in integer
// and BCD fields, `real` in a real field), a meter time, a text or nothing.
struct RecordValue {
    enum Kind : uint8_t { Number, Time, Text, Nothing } kind = Number;
    int64_t count = 0;
    double real = 0;
    int64_t time = 0;
    bool countUnsigned = false;  // `count` holds the bits of a value above INT64_MAX
    bool outOfRange = false;     // a number that no 64-bit count holds (or not finite): never encoded
};

// Bytes of the record's data field (variable length: its LVAR byte too).
size_t dataSize(const DataRecord& record);
inline size_t recordSize(const DataRecord& record) { return record.headerSize + dataSize(record); }

// Writes the record, header and data, to `out` (recordSize bytes). False,
// writing nothing, when the value does not fit the data field (a negative
// or too large BCD or integer, a real that is not finite or beyond a 32-bit
// float, a date outside 2000-2099, text too long).
bool encodeRecord(const DataRecord& record, const RecordValue& value, uint8_t* out, std::string* error = nullptr);

// The value in the unit of the row: count x 10^exponent, the real, or 0.
double numericValue(const DataRecord& record, const RecordValue& value);

// The count of 10^exponent that a constant `magnitude` (negative when
// `negative`) in the row's unit makes, exactly: multiplied by 10^-exponent
// (refused on overflow) or divided by 10^exponent, rounded half away from
// zero. False when it passes the 64-bit range (-2^63 to 2^64 - 1).
bool exactCount(uint64_t magnitude, bool negative, int exponent, DataRecord* record);

// 10^n, exactly for 0 <= n <= 22 (n from -22 to 22).
double powerOfTen(int n);

// What a date record holds of `t`: the day (type G), the minute (type F)
// or the second (type I).
int64_t encodedTime(const DataRecord& record, int64_t t);

}  // namespace vdx
