// Data records as rig and profile files write them, one inline table each:
//
//   { quantity = "volume", unit = "m3", digits = 8, decimals = 3, value = "register" }
//   { quantity = "date", storage = 1, value = "due-date" }
//   { dif = "04", vif = "FD17", value = "0x00000000" }
//
// By quantity: quantity, unit (default the quantity's first), modifier
// ("uncorrected", "backward", ...), one of digits (BCD: 2 to 12), bits
// (integer: 8 to 64) and type ("real", "text"), decimals, storage, tariff,
// subunit, function ("instantaneous", "maximum", "minimum", "error"). Raw:
// dif and vif in hexadecimal (DIFEs and VIFEs included). Both: value (a
// source name, a number, "0x..." or a date for a date record), register
// (whose register, due or rate: "volume", "volume_uncorrected", "energy",
// "energy_export", "units"; default from the quantity), text (type text),
// weekday (type I date and time: false sends the day of the week as 0, not
// given; by default every type I date carries it).
#pragma once

#include <vector>

#include "config/toml_fields.h"
#include "telegram/records.h"

namespace vdx {

// The records of `list` (an array of tables); throws TomlError. A list of
// more than kMaxRecords, or whose records pass kMaxBlockSize bytes, is
// refused before the rest is read.
// "more than 120 records, more than fit one telegram".
std::string tooManyRecords();
std::vector<DataRecord> readRecords(const toml::node& list, const TomlFields& fields);

}  // namespace vdx
