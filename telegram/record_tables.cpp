#include "telegram/record_tables.h"

#include <iterator>

namespace vdx {

// EN 13757-3, coding of the data field (DIF bits 0-3).
const DataFieldRow kDataFields[16] = {
    {0x0, DataKind::None, 0, "no data"},
    {0x1, DataKind::Integer, 1, "8-bit integer"},
    {0x2, DataKind::Integer, 2, "16-bit integer"},
    {0x3, DataKind::Integer, 3, "24-bit integer"},
    {0x4, DataKind::Integer, 4, "32-bit integer"},
    {0x5, DataKind::Real, 4, "32-bit real"},
    {0x6, DataKind::Integer, 6, "48-bit integer"},
    {0x7, DataKind::Integer, 8, "64-bit integer"},
    {0x8, DataKind::Selection, 0, "selection for readout"},
    {0x9, DataKind::Bcd, 1, "2-digit BCD"},
    {0xA, DataKind::Bcd, 2, "4-digit BCD"},
    {0xB, DataKind::Bcd, 3, "6-digit BCD"},
    {0xC, DataKind::Bcd, 4, "8-digit BCD"},
    {0xD, DataKind::Variable, 0, "variable length"},
    {0xE, DataKind::Bcd, 6, "12-digit BCD"},
    {0xF, DataKind::Special, 0, "special function"},
};

const char* const kFunctionNames[4] = {"instantaneous", "maximum", "minimum", "error"};

namespace {

constexpr ValueType N = ValueType::Number, B = ValueType::Bits, Id = ValueType::Identifier;

// table, first code, span, exponent, quantity, unit, type
const VifRow kRows[] = {
    // primary VIFs (EN 13757-3, table of primary VIF codes)
    {kPrimary, 0x00, 8, -6, "energy", "kWh", N},  // 10^(n-3) Wh
    {kPrimary, 0x08, 8, 0, "energy", "J", N},
    {kPrimary, 0x10, 8, -6, "volume", "m3", N},
    {kPrimary, 0x18, 8, -3, "mass", "kg", N},
    {kPrimary, 0x20, 1, 0, "on-time", "s", N},
    {kPrimary, 0x21, 1, 0, "on-time", "min", N},
    {kPrimary, 0x22, 1, 0, "on-time", "h", N},
    {kPrimary, 0x23, 1, 0, "on-time", "d", N},
    {kPrimary, 0x24, 1, 0, "operating-time", "s", N},
    {kPrimary, 0x25, 1, 0, "operating-time", "min", N},
    {kPrimary, 0x26, 1, 0, "operating-time", "h", N},
    {kPrimary, 0x27, 1, 0, "operating-time", "d", N},
    {kPrimary, 0x28, 8, -6, "power", "kW", N},  // 10^(n-3) W
    {kPrimary, 0x30, 8, 0, "power", "J/h", N},
    {kPrimary, 0x38, 8, -6, "volume-flow", "m3/h", N},
    {kPrimary, 0x40, 8, -7, "volume-flow", "m3/min", N},
    {kPrimary, 0x48, 8, -9, "volume-flow", "m3/s", N},
    {kPrimary, 0x50, 8, -3, "mass-flow", "kg/h", N},
    {kPrimary, 0x58, 4, -3, "flow-temperature", "C", N},
    {kPrimary, 0x5C, 4, -3, "return-temperature", "C", N},
    {kPrimary, 0x60, 4, -3, "temperature-difference", "K", N},
    {kPrimary, 0x64, 4, -3, "external-temperature", "C", N},
    {kPrimary, 0x68, 4, -3, "pressure", "bar", N},
    {kPrimary, 0x6C, 1, 0, "date", "", ValueType::Date},
    {kPrimary, 0x6D, 1, 0, "date-time", "", ValueType::DateTime},
    {kPrimary, 0x6E, 1, 0, "hca", "units", N},
    {kPrimary, 0x70, 1, 0, "averaging-duration", "s", N},
    {kPrimary, 0x71, 1, 0, "averaging-duration", "min", N},
    {kPrimary, 0x72, 1, 0, "averaging-duration", "h", N},
    {kPrimary, 0x73, 1, 0, "averaging-duration", "d", N},
    {kPrimary, 0x74, 1, 0, "actuality-duration", "s", N},
    {kPrimary, 0x75, 1, 0, "actuality-duration", "min", N},
    {kPrimary, 0x76, 1, 0, "actuality-duration", "h", N},
    {kPrimary, 0x77, 1, 0, "actuality-duration", "d", N},
    {kPrimary, 0x78, 1, 0, "fabrication-number", "", Id},
    {kPrimary, 0x79, 1, 0, "enhanced-identification", "", Id},
    {kPrimary, 0x7A, 1, 0, "bus-address", "", Id},
    // first extension table, after 0xFB
    {kExtensionFb, 0x00, 2, 2, "energy", "kWh", N},  // 10^(n-1) MWh
    {kExtensionFb, 0x08, 2, -1, "energy", "GJ", N},
    {kExtensionFb, 0x10, 2, 2, "volume", "m3", N},
    {kExtensionFb, 0x18, 2, 5, "mass", "kg", N},  // 10^(n+2) t
    {kExtensionFb, 0x21, 1, -1, "volume", "ft3", N},
    {kExtensionFb, 0x22, 2, -1, "volume", "gal", N},
    {kExtensionFb, 0x24, 1, -3, "volume-flow", "gal/min", N},
    {kExtensionFb, 0x25, 1, 0, "volume-flow", "gal/min", N},
    {kExtensionFb, 0x26, 1, 0, "volume-flow", "gal/h", N},
    {kExtensionFb, 0x28, 2, 2, "power", "kW", N},  // 10^(n-1) MW
    {kExtensionFb, 0x30, 2, -1, "power", "GJ/h", N},
    {kExtensionFb, 0x58, 4, -3, "flow-temperature", "F", N},
    {kExtensionFb, 0x5C, 4, -3, "return-temperature", "F", N},
    {kExtensionFb, 0x60, 4, -3, "temperature-difference", "F", N},
    {kExtensionFb, 0x64, 4, -3, "external-temperature", "F", N},
    {kExtensionFb, 0x70, 4, -3, "temperature-limit", "F", N},
    {kExtensionFb, 0x74, 4, -3, "temperature-limit", "C", N},
    {kExtensionFb, 0x78, 8, -6, "cumulative-maximum-power", "kW", N},
    // second extension table, after 0xFD
    {kExtensionFd, 0x00, 4, -3, "credit", "currency", N},
    {kExtensionFd, 0x04, 4, -3, "debit", "currency", N},
    {kExtensionFd, 0x08, 1, 0, "access-number", "", N},
    {kExtensionFd, 0x09, 1, 0, "medium", "", Id},
    {kExtensionFd, 0x0A, 1, 0, "manufacturer", "", Id},
    {kExtensionFd, 0x0B, 1, 0, "parameter-set", "", Id},
    {kExtensionFd, 0x0C, 1, 0, "model-version", "", Id},
    {kExtensionFd, 0x0D, 1, 0, "hardware-version", "", Id},
    {kExtensionFd, 0x0E, 1, 0, "firmware-version", "", Id},
    {kExtensionFd, 0x0F, 1, 0, "software-version", "", Id},
    {kExtensionFd, 0x10, 1, 0, "customer-location", "", Id},
    {kExtensionFd, 0x11, 1, 0, "customer", "", Id},
    {kExtensionFd, 0x12, 4, 0, "access-code", "", Id},
    {kExtensionFd, 0x16, 1, 0, "password", "", Id},
    {kExtensionFd, 0x17, 1, 0, "error-flags", "", B},
    {kExtensionFd, 0x18, 1, 0, "error-mask", "", B},
    {kExtensionFd, 0x1A, 1, 0, "digital-output", "", B},
    {kExtensionFd, 0x1B, 1, 0, "digital-input", "", B},
    {kExtensionFd, 0x1C, 1, 0, "baud-rate", "Bd", N},
    {kExtensionFd, 0x1D, 1, 0, "response-delay", "bit times", N},
    {kExtensionFd, 0x1E, 1, 0, "retry", "", N},
    {kExtensionFd, 0x20, 1, 0, "first-storage-number", "", N},
    {kExtensionFd, 0x21, 1, 0, "last-storage-number", "", N},
    {kExtensionFd, 0x22, 1, 0, "storage-block-size", "", N},
    {kExtensionFd, 0x24, 1, 0, "storage-interval", "s", N},
    {kExtensionFd, 0x25, 1, 0, "storage-interval", "min", N},
    {kExtensionFd, 0x26, 1, 0, "storage-interval", "h", N},
    {kExtensionFd, 0x27, 1, 0, "storage-interval", "d", N},
    {kExtensionFd, 0x28, 1, 0, "storage-interval", "months", N},
    {kExtensionFd, 0x29, 1, 0, "storage-interval", "years", N},
    {kExtensionFd, 0x2C, 1, 0, "since-last-readout", "s", N},
    {kExtensionFd, 0x2D, 1, 0, "since-last-readout", "min", N},
    {kExtensionFd, 0x2E, 1, 0, "since-last-readout", "h", N},
    {kExtensionFd, 0x2F, 1, 0, "since-last-readout", "d", N},
    {kExtensionFd, 0x30, 1, 0, "tariff-start", "", ValueType::DateTime},
    {kExtensionFd, 0x31, 1, 0, "tariff-duration", "min", N},
    {kExtensionFd, 0x32, 1, 0, "tariff-duration", "h", N},
    {kExtensionFd, 0x33, 1, 0, "tariff-duration", "d", N},
    {kExtensionFd, 0x34, 1, 0, "tariff-period", "s", N},
    {kExtensionFd, 0x35, 1, 0, "tariff-period", "min", N},
    {kExtensionFd, 0x36, 1, 0, "tariff-period", "h", N},
    {kExtensionFd, 0x37, 1, 0, "tariff-period", "d", N},
    {kExtensionFd, 0x38, 1, 0, "tariff-period", "months", N},
    {kExtensionFd, 0x39, 1, 0, "tariff-period", "years", N},
    {kExtensionFd, 0x3A, 1, 0, "dimensionless", "", N},
    {kExtensionFd, 0x40, 16, -9, "voltage", "V", N},
    {kExtensionFd, 0x50, 16, -12, "current", "A", N},
    {kExtensionFd, 0x60, 1, 0, "reset-counter", "", N},
    {kExtensionFd, 0x61, 1, 0, "cumulation-counter", "", N},
    {kExtensionFd, 0x62, 1, 0, "control-signal", "", B},
    {kExtensionFd, 0x63, 1, 0, "day-of-week", "", N},
    {kExtensionFd, 0x64, 1, 0, "week-number", "", N},
    {kExtensionFd, 0x65, 1, 0, "day-change", "", N},
    {kExtensionFd, 0x66, 1, 0, "parameter-activation", "", B},
    {kExtensionFd, 0x67, 1, 0, "supplier-information", "", Id},
    {kExtensionFd, 0x68, 1, 0, "since-last-cumulation", "h", N},
    {kExtensionFd, 0x69, 1, 0, "since-last-cumulation", "d", N},
    {kExtensionFd, 0x6A, 1, 0, "since-last-cumulation", "months", N},
    {kExtensionFd, 0x6B, 1, 0, "since-last-cumulation", "years", N},
    {kExtensionFd, 0x6C, 1, 0, "battery-operating-time", "h", N},
    {kExtensionFd, 0x6D, 1, 0, "battery-operating-time", "d", N},
    {kExtensionFd, 0x6E, 1, 0, "battery-operating-time", "months", N},
    {kExtensionFd, 0x6F, 1, 0, "battery-operating-time", "years", N},
    {kExtensionFd, 0x70, 1, 0, "battery-change", "", ValueType::DateTime},
    {kExtensionFd, 0x71, 1, 0, "rf-level", "dBm", N},
    {kExtensionFd, 0x72, 1, 0, "daylight-saving", "", B},
    {kExtensionFd, 0x73, 1, 0, "listening-window", "", B},
    {kExtensionFd, 0x74, 1, 0, "battery-days", "days", N},  // remaining battery lifetime
    {kExtensionFd, 0x75, 1, 0, "meter-stops", "", N},
};

// Combinable (orthogonal) VIFEs.
const VifeRow kVifes[] = {
    {0x20, "per-second"},  {0x21, "per-minute"}, {0x22, "per-hour"}, {0x23, "per-day"},
    {0x24, "per-week"},    {0x25, "per-month"},  {0x26, "per-year"}, {0x39, "start-of"},
    {0x3A, "uncorrected"}, {0x3B, "forward"},    {0x3C, "backward"},
};

}  // namespace

const VifRow* findVifRow(uint8_t table, uint8_t code) {
    for (const VifRow& r : kRows)
        if (r.table == table && code >= r.first && code < r.first + r.span) return &r;
    return nullptr;
}

const VifRow* findVifRow(const std::string& quantity, const std::string& unit, int exponent, uint8_t* code) {
    for (uint8_t table : {kPrimary, kExtensionFb, kExtensionFd})
        for (const VifRow& r : kRows) {
            const int n = exponent - r.exponent;
            if (r.table != table || quantity != r.quantity || unit != r.unit || n < 0 || n >= r.span) continue;
            *code = static_cast<uint8_t>(r.first + n);
            return &r;
        }
    return nullptr;
}

const VifRow* vifRows(size_t* count) {
    *count = std::size(kRows);
    return kRows;
}

const VifeRow* findVife(uint8_t code) {
    for (const VifeRow& v : kVifes)
        if (v.code == code) return &v;
    return nullptr;
}

const VifeRow* findVife(const std::string& name) {
    for (const VifeRow& v : kVifes)
        if (name == v.name) return &v;
    return nullptr;
}

}  // namespace vdx
