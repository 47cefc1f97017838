// The tables of EN 13757-3 that data records are made of, as data: the
// DIF's data field codes and functions, the primary VIF table with its
// decimal exponents, the 0xFB and 0xFD extension tables and the combinable
// VIFEs. The record encoder, the rig reader's messages and the tests read
// the same rows; the virtual stick's monitor keeps tables of its own.
#pragma once

#include <cstdint>
#include <string>

namespace vdx {

// DIF bits 0-3.
enum class DataKind : uint8_t { None, Integer, Bcd, Real, Variable, Selection, Special };
struct DataFieldRow {
    uint8_t code;
    DataKind kind;
    uint8_t size;  // bytes; 0 for none, selection, variable length and special functions
    const char* name;
};
extern const DataFieldRow kDataFields[16];

// DIF bits 4-5.
extern const char* const kFunctionNames[4];  // "instantaneous", "maximum", "minimum", "error"

// What a value of a VIF is: a number in its unit, a bit field, a date (type
// G), a date and time (type F or I), an identifier such as a fabrication
// number, or text.
enum class ValueType : uint8_t { Number, Bits, Date, DateTime, Identifier, Text };

// One row of a VIF table: the codes first .. first + span - 1 mean
// `quantity` in `unit` times 10^(code - first + exponent). Units are the
// ones readings are given in (kWh, kW, m3, m3/h, C, K, units, ...): the
// Wh rows of EN 13757-3 appear here with their exponent shifted by 3.
enum VifTable : uint8_t { kPrimary = 0x00, kExtensionFb = 0xFB, kExtensionFd = 0xFD };
struct VifRow {
    uint8_t table;
    uint8_t first, span;
    int8_t exponent;
    const char* quantity;
    const char* unit;
    ValueType type;
};

// The row of code `code` (extension bit clear) of `table`, or nullptr.
const VifRow* findVifRow(uint8_t table, uint8_t code);
// The row that writes `quantity` in `unit` at 10^exponent, and its code;
// the primary table first, then 0xFB, then 0xFD. Nullptr when none does.
const VifRow* findVifRow(const std::string& quantity, const std::string& unit, int exponent, uint8_t* code);
// Every row, for listings: `count` rows from `rows`.
const VifRow* vifRows(size_t* count);

// Combinable VIFEs (EN 13757-3, the orthogonal VIF extensions) that a
// profile may name: "uncorrected" 0x3A, "forward" 0x3B, "backward" 0x3C, ...
struct VifeRow {
    uint8_t code;
    const char* name;
};
const VifeRow* findVife(uint8_t code);
const VifeRow* findVife(const std::string& name);

}  // namespace vdx
