// The monitor's own decoder of EN 13757-3 data records, written as a
// receiver's would be and independent of the program's tables and encoder:
// DIF and DIFEs (data field, function, storage, tariff, subunit), VIF with
// its decimal exponent and unit (primary, 0xFB and 0xFD extensions), VIFEs,
// and the value (integers, BCD, real, text, dates of types G, F and I);
// manufacturer-specific data (DIF 0F, 1F) by its length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vstick {

struct DecodedRecord {
    std::string quantity;                 // "volume", "date-time", ...; "unknown" for a VIF not known here
    std::string unit;                     // "m3", "kWh", "C", ... (Wh and W are given as kWh and kW)
    std::string vif;                      // the VIF bytes as hexadecimal
    std::vector<std::string> extensions;  // named VIFEs ("backward"), others as "VIFE 1D"
    uint64_t storage = 0;
    uint32_t tariff = 0, subunit = 0;
    int function = 0;  // 0 instantaneous, 1 maximum, 2 minimum, 3 value during error
    enum Kind { Number, Flags, Identifier, Date, DateTime, Text, Nothing, Manufacturer } kind = Number;
    double value = 0;  // numbers in `unit`; flags and identifiers as they are
    int exponent = 0;  // the VIF's decimal exponent
    int decimals = 0;  // of a number, from the VIF's exponent
    size_t size = 0;   // bytes of the data field; of manufacturer data, those after its DIF
    enum Field { Integer, Bcd, Real, Other } field = Other;
    uint64_t integer = 0;      // an integer field as sent (type B: two's complement of `size` bytes)
    bool moreRecords = false;  // manufacturer data of DIF 1F: more records in the next telegram
    std::string text;          // dates as 2026-04-01 or 2026-04-01T00:30:00Z, text, BCD identifiers
};

// Decodes the records of a (decrypted) block; 2F is fill. False where they
// stop parsing (a reserved DIF, a record that runs past the end, invalid BCD
// or a date that cannot be), with its offset in `badAt`; the records before
// it are in `out`. Manufacturer data (DIF 0F or 1F) ends the records: it is
// the last one in `out`, its bytes to the end of the block. With
// `format`, each record's DIF, DIFEs, VIF and VIFEs are appended to it (the
// format a compact frame refers to).
bool decodeRecords(const uint8_t* block, size_t n, std::vector<DecodedRecord>* out, size_t* badAt,
                   std::vector<uint8_t>* format = nullptr);

// Bytes of the data field a DIF announces (0 for variable length, which its
// first data byte tells, and for special functions).
size_t dataFieldSize(uint8_t dif);

// "volume 123.456 m3 (storage 1)", "date 2026-04-01 (storage 1)",
// "error-flags 0x0000", "volume 0.003 m3 (backward)", "volume 1.5 m3" (a
// real, to the digits it holds), "manufacturer-data 3 bytes (more records
// follow)".
std::string describeRecord(const DecodedRecord& r);

}  // namespace vstick
