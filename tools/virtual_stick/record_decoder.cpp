#include "tools/virtual_stick/record_decoder.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vstick {
namespace {

using Kind = DecodedRecord::Kind;

struct Meaning {
    const char* quantity;
    const char* unit;
    int exponent;
    Kind kind;
};

const char* const kTimeUnits[4] = {"s", "min", "h", "d"};
const Meaning kUnknown = {"unknown", "", 0, Kind::Number};

// The primary VIF (extension bit cleared): quantity, unit, exponent.
Meaning primaryVif(uint8_t c) {
    const int n = c & 7, m = c & 3;
    if (c < 0x08) return {"energy", "kWh", n - 6, Kind::Number};  // 10^(n-3) Wh
    if (c < 0x10) return {"energy", "J", n, Kind::Number};
    if (c < 0x18) return {"volume", "m3", n - 6, Kind::Number};
    if (c < 0x20) return {"mass", "kg", n - 3, Kind::Number};
    if (c < 0x24) return {"on-time", kTimeUnits[m], 0, Kind::Number};
    if (c < 0x28) return {"operating-time", kTimeUnits[m], 0, Kind::Number};
    if (c < 0x30) return {"power", "kW", n - 6, Kind::Number};  // 10^(n-3) W
    if (c < 0x38) return {"power", "J/h", n, Kind::Number};
    if (c < 0x40) return {"volume-flow", "m3/h", n - 6, Kind::Number};
    if (c < 0x48) return {"volume-flow", "m3/min", n - 7, Kind::Number};
    if (c < 0x50) return {"volume-flow", "m3/s", n - 9, Kind::Number};
    if (c < 0x58) return {"mass-flow", "kg/h", n - 3, Kind::Number};
    if (c < 0x5C) return {"flow-temperature", "C", m - 3, Kind::Number};
    if (c < 0x60) return {"return-temperature", "C", m - 3, Kind::Number};
    if (c < 0x64) return {"temperature-difference", "K", m - 3, Kind::Number};
    if (c < 0x68) return {"external-temperature", "C", m - 3, Kind::Number};
    if (c < 0x6C) return {"pressure", "bar", m - 3, Kind::Number};
    if (c == 0x6C) return {"date", "", 0, Kind::Date};
    if (c == 0x6D) return {"date-time", "", 0, Kind::DateTime};
    if (c == 0x6E) return {"hca", "units", 0, Kind::Number};
    if (c >= 0x70 && c < 0x74) return {"averaging-duration", kTimeUnits[m], 0, Kind::Number};
    if (c >= 0x74 && c < 0x78) return {"actuality-duration", kTimeUnits[m], 0, Kind::Number};
    if (c == 0x78) return {"fabrication-number", "", 0, Kind::Identifier};
    if (c == 0x79) return {"enhanced-identification", "", 0, Kind::Identifier};
    if (c == 0x7A) return {"bus-address", "", 0, Kind::Identifier};
    return kUnknown;
}

// The first extension table (after 0xFB).
Meaning extensionFb(uint8_t c) {
    const int n = c & 1, m = c & 3;
    if (c < 0x02) return {"energy", "kWh", n + 2, Kind::Number};  // 10^(n-1) MWh
    if (c == 0x08 || c == 0x09) return {"energy", "GJ", n - 1, Kind::Number};
    if (c == 0x10 || c == 0x11) return {"volume", "m3", n + 2, Kind::Number};
    if (c == 0x18 || c == 0x19) return {"mass", "kg", n + 5, Kind::Number};
    if (c == 0x28 || c == 0x29) return {"power", "kW", n + 2, Kind::Number};  // 10^(n-1) MW
    if (c == 0x30 || c == 0x31) return {"power", "GJ/h", n - 1, Kind::Number};
    if (c >= 0x58 && c < 0x5C) return {"flow-temperature", "F", m - 3, Kind::Number};
    if (c >= 0x5C && c < 0x60) return {"return-temperature", "F", m - 3, Kind::Number};
    if (c >= 0x60 && c < 0x64) return {"temperature-difference", "F", m - 3, Kind::Number};
    if (c >= 0x64 && c < 0x68) return {"external-temperature", "F", m - 3, Kind::Number};
    return kUnknown;
}

// The second extension table (after 0xFD).
Meaning extensionFd(uint8_t c) {
    static const char* const kIds[] = {"medium",           "manufacturer",      "parameter-set",
                                       "model-version",    "hardware-version",  "firmware-version",
                                       "software-version", "customer-location", "customer"};
    if (c < 0x04) return {"credit", "currency", (c & 3) - 3, Kind::Number};
    if (c < 0x08) return {"debit", "currency", (c & 3) - 3, Kind::Number};
    if (c == 0x08) return {"access-number", "", 0, Kind::Number};
    if (c >= 0x09 && c <= 0x11) return {kIds[c - 0x09], "", 0, Kind::Identifier};
    if (c == 0x17) return {"error-flags", "", 0, Kind::Flags};
    if (c == 0x18) return {"error-mask", "", 0, Kind::Flags};
    if (c == 0x1A) return {"digital-output", "", 0, Kind::Flags};
    if (c == 0x1B) return {"digital-input", "", 0, Kind::Flags};
    if (c >= 0x40 && c < 0x50) return {"voltage", "V", (c & 15) - 9, Kind::Number};
    if (c >= 0x50 && c < 0x60) return {"current", "A", (c & 15) - 12, Kind::Number};
    if (c == 0x71) return {"rf-level", "dBm", 0, Kind::Number};
    if (c == 0x74) return {"battery-days", "days", 0, Kind::Number};  // remaining battery lifetime
    return kUnknown;
}

std::string vifeName(uint8_t c) {
    switch (c) {
        case 0x3A:
            return "uncorrected";
        case 0x3B:
            return "forward";
        case 0x3C:
            return "backward";
        case 0x39:
            return "start-of";
    }
    static const char* const kPer[] = {"per-second", "per-minute", "per-hour", "per-day",
                                       "per-week",   "per-month",  "per-year"};
    if (c >= 0x20 && c <= 0x26) return kPer[c - 0x20];
    char s[16];
    std::snprintf(s, sizeof s, "VIFE %02X", c);
    return s;
}

std::string hex(const uint8_t* p, size_t n) {
    std::string s;
    char b[4];
    for (size_t i = 0; i < n; ++i) std::snprintf(b, sizeof b, "%02X", p[i]), s += b;
    return s;
}

std::string isoDate(int year, int month, int day) {
    char s[16];
    std::snprintf(s, sizeof s, "%04d-%02d-%02d", year, month, day);
    return s;
}

// Dates of types G (2 bytes), F (4) and I (6); false for one that cannot be.
bool decodeDate(const uint8_t* b, size_t size, std::string* text) {
    const uint8_t* d = b + (size == 2 ? 0 : size == 4 ? 2 : 3);  // day and month bytes
    const int year = ((d[0] & 0xE0) >> 5) | ((d[1] & 0xF0) >> 1);
    const int day = d[0] & 0x1F, month = d[1] & 0x0F;
    int full = 2000 + year, hour = 0, minute = 0, second = 0;
    if (size == 4) {
        minute = b[0] & 0x3F, hour = b[1] & 0x1F;
        const int hundred = (b[1] >> 5) & 3;  // 1900 + 100 x hundred year + year; 0: 20xx here
        if (hundred != 0) full = 1900 + 100 * hundred + year;
    } else if (size == 6) {
        second = b[0] & 0x3F, minute = b[1] & 0x3F, hour = b[2] & 0x1F;
    }
    if (day < 1 || day > 31 || month < 1 || month > 12 || hour > 23 || minute > 59 || second > 59) return false;
    *text = isoDate(full, month, day);
    if (size == 2) return true;
    char t[16];
    std::snprintf(t, sizeof t, "T%02d:%02d:%02dZ", hour, minute, second);
    *text += t;
    return true;
}

// BCD low byte first; a top nibble F makes it negative. False for another
// digit above 9.
bool decodeBcd(const uint8_t* b, size_t size, double* value, std::string* digits) {
    bool negative = false;
    digits->clear();
    for (size_t i = size; i-- > 0;) {
        for (int shift : {4, 0}) {
            const int d = (b[i] >> shift) & 0x0F;
            if (i == size - 1 && shift == 4 && d == 0x0F) {
                negative = true;
                continue;
            }
            if (d > 9) return false;
            *digits += static_cast<char>('0' + d);
        }
    }
    *value = std::strtod(digits->c_str(), nullptr) * (negative ? -1 : 1);
    return true;
}

// `size` bytes of two's complement, sign-extended.
int64_t signedInteger(uint64_t u, size_t size) {
    if (size < 8 && (u >> (8 * size - 1)) != 0) u |= ~uint64_t(0) << (8 * size);
    int64_t v;
    std::memcpy(&v, &u, sizeof v);
    return v;
}

// The value of one record's data field; false when it cannot be read.
bool decodeValue(uint8_t dif, const uint8_t* d, size_t size, DecodedRecord* r) {
    const int code = dif & 0x0F;
    if (code == 0x0) return r->kind = Kind::Nothing, true;
    if (code == 0xD) {
        r->text.assign(d + 1, d + 1 + d[0]);  // characters last first
        r->text.assign(r->text.rbegin(), r->text.rend());
        return r->kind = Kind::Text, true;
    }
    if (r->kind == Kind::Date || r->kind == Kind::DateTime)
        return (code == 0x2 || code == 0x4 || code == 0x6) && decodeDate(d, size, &r->text);
    if (code >= 0x9) return r->field = DecodedRecord::Bcd, decodeBcd(d, size, &r->value, &r->text);
    uint64_t u = 0;
    for (size_t i = size; i-- > 0;) u = u << 8 | d[i];
    r->integer = u;
    if (code == 0x5) {
        const uint32_t bits = static_cast<uint32_t>(u);
        float f;
        std::memcpy(&f, &bits, 4);
        r->value = f;
        return r->field = DecodedRecord::Real, true;
    }
    // type B is two's complement at every length, 64 bits included; bit
    // fields and identifiers are read unsigned
    r->field = DecodedRecord::Integer;
    r->value = r->kind == Kind::Number ? static_cast<double>(signedInteger(u, size)) : static_cast<double>(u);
    return true;
}

}  // namespace

size_t dataFieldSize(uint8_t dif) {
    static const size_t kSizes[16] = {0, 1, 2, 3, 4, 4, 6, 8, 0, 1, 2, 3, 4, 0, 6, 0};
    return kSizes[dif & 0x0F];
}

namespace {

// DIF and DIFEs from `p[*i]` on: function, storage, tariff, subunit.
bool readDif(const uint8_t* p, size_t n, size_t* i, DecodedRecord* r) {
    const uint8_t dif = p[(*i)++];
    r->function = (dif >> 4) & 3;
    r->storage = (dif >> 6) & 1;
    for (int k = 0, e = dif; e & 0x80; ++k) {
        if (*i >= n || k >= 10) return false;
        e = p[(*i)++];
        r->storage |= static_cast<uint64_t>(e & 0x0F) << (1 + 4 * k);
        r->tariff |= static_cast<uint32_t>((e >> 4) & 3) << (2 * k);
        r->subunit |= static_cast<uint32_t>((e >> 6) & 1) << k;
    }
    return true;
}

// VIF (with an extension table's code) and VIFEs from `p[*i]` on.
bool readVif(const uint8_t* p, size_t n, size_t* i, DecodedRecord* r, Meaning* m) {
    const size_t at = *i;
    if (*i >= n) return false;
    uint8_t vif = p[(*i)++];
    *m = primaryVif(vif & 0x7F);
    if (vif == 0xFB || vif == 0xFD) {
        if (*i >= n) return false;
        const uint8_t code = p[(*i)++];
        *m = vif == 0xFB ? extensionFb(code & 0x7F) : extensionFd(code & 0x7F);
        vif = code;
    } else if ((vif & 0x7F) >= 0x7B) {
        *m = kUnknown;  // plain-text units, any VIF, manufacturer specific
    }
    for (uint8_t e = vif; e & 0x80;) {
        if (*i >= n || r->extensions.size() >= 10) return false;
        e = p[(*i)++];
        r->extensions.push_back(vifeName(e & 0x7F));
    }
    r->vif = hex(p + at, *i - at);
    r->quantity = m->quantity, r->unit = m->unit, r->kind = m->kind;
    r->exponent = m->exponent, r->decimals = m->exponent < 0 ? -m->exponent : 0;
    return true;
}

}  // namespace

bool decodeRecords(const uint8_t* p, size_t n, std::vector<DecodedRecord>* out, size_t* badAt,
                   std::vector<uint8_t>* format) {
    for (size_t i = 0; i < n;) {
        *badAt = i;
        const uint8_t dif = p[i];
        if (dif == 0x2F) {  // fill
            ++i;
            continue;
        }
        if (dif == 0x0F || dif == 0x1F) {  // manufacturer data to the end
            DecodedRecord r;
            r.quantity = "manufacturer-data", r.unit = "bytes", r.kind = Kind::Manufacturer;
            r.size = n - i - 1, r.value = static_cast<double>(r.size), r.moreRecords = dif == 0x1F;
            r.text = hex(p + i + 1, r.size);
            out->push_back(r);
            return true;
        }
        if ((dif & 0x0F) == 0x0F || (dif & 0x0F) == 0x08) return false;  // special functions, selection
        DecodedRecord r;
        Meaning m = kUnknown;
        const size_t start = i;
        if (!readDif(p, n, &i, &r) || !readVif(p, n, &i, &r, &m)) return false;
        if (format != nullptr) format->insert(format->end(), p + start, p + i);
        size_t size = dataFieldSize(dif);
        if ((dif & 0x0F) == 0x0D) {
            if (i >= n || p[i] > 0xBF) return false;  // only text (LVAR 00-BF) is read here
            size = 1 + p[i];
        }
        r.size = size;
        if (i + size > n || !decodeValue(dif, p + i, size, &r)) return false;
        if (r.kind == Kind::Number) r.value *= std::pow(10.0, m.exponent);
        i += size;
        out->push_back(r);
    }
    return true;
}

namespace {

// A type B integer times 10^exponent, exactly (a double holds 53 bits).
std::string integerText(const DecodedRecord& r) {
    const int64_t v = signedInteger(r.integer, r.size);
    const uint64_t magnitude = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    std::string digits = std::to_string(magnitude);
    if (r.exponent > 0 && magnitude != 0) digits.append(static_cast<size_t>(r.exponent), '0');
    if (r.exponent < 0) {
        const size_t decimals = static_cast<size_t>(-r.exponent);
        if (digits.size() <= decimals) digits.insert(0, decimals + 1 - digits.size(), '0');
        digits.insert(digits.size() - decimals, ".");
    }
    return (v < 0 ? "-" : "") + digits;
}

// A 32-bit real times 10^exponent with the fewest decimals that give the
// same float back: 1.5 stays 1.5 and 0.1 is 0.1 whatever the VIF's
// resolution. 64 decimals reach below the smallest float times 10^-9.
std::string realText(const DecodedRecord& r) {
    char value[128];
    if (!std::isfinite(r.value)) return std::snprintf(value, sizeof value, "%g", r.value), value;
    const uint32_t bits = static_cast<uint32_t>(r.integer);
    float sent;
    std::memcpy(&sent, &bits, 4);
    const double scale = std::pow(10.0, -r.exponent);
    for (int decimals = 0; decimals <= 64; ++decimals) {
        std::snprintf(value, sizeof value, "%.*f", decimals, r.value);
        const double back = std::strtod(value, nullptr) * scale;
        if (std::fabs(back) <= FLT_MAX && static_cast<float>(back) == sent) break;
    }
    return value;
}

// The value as text: integers and BCD at the VIF's resolution, reals to
// their digits, flags in hex at the field's width, identifiers' digits,
// dates, quoted text, the length of manufacturer data.
std::string valueText(const DecodedRecord& r) {
    char value[64] = "";
    const bool number = r.kind == Kind::Number || r.kind == Kind::Flags || r.kind == Kind::Identifier;
    if (number && r.field == DecodedRecord::Real) return realText(r);
    switch (r.kind) {
        case Kind::Number:
            if (r.field == DecodedRecord::Integer) return integerText(r);
            std::snprintf(value, sizeof value, "%.*f", r.decimals, r.value);
            return value;
        case Kind::Flags:
            if (r.field == DecodedRecord::Bcd) return r.text;
            std::snprintf(value, sizeof value, "0x%0*llX", static_cast<int>(2 * r.size),
                          static_cast<unsigned long long>(r.integer));
            return value;
        case Kind::Identifier:
            if (!r.text.empty()) return r.text;
            std::snprintf(value, sizeof value, "%llu", static_cast<unsigned long long>(r.integer));
            return value;
        case Kind::Manufacturer:
            return std::to_string(r.size);
        case Kind::Date:
        case Kind::DateTime:
            return r.text.size() > 10 ? r.text.substr(0, 10) + " " + r.text.substr(11, 8) : r.text;
        case Kind::Text:
            return "\"" + r.text + "\"";
        case Kind::Nothing:
            break;
    }
    return "";
}

}  // namespace

std::string describeRecord(const DecodedRecord& r) {
    std::string s = r.quantity == "unknown" ? "VIF " + r.vif : r.quantity;
    const std::string value = valueText(r);
    if (!value.empty()) s += " " + value;
    if (!r.unit.empty()) s += " " + r.unit;
    std::vector<std::string> notes = r.extensions;
    static const char* const kFunctions[] = {"", "maximum", "minimum", "during error"};
    if (r.storage != 0) notes.push_back("storage " + std::to_string(r.storage));
    if (r.tariff != 0) notes.push_back("tariff " + std::to_string(r.tariff));
    if (r.subunit != 0) notes.push_back("subunit " + std::to_string(r.subunit));
    if (r.function != 0) notes.push_back(kFunctions[r.function]);
    if (r.moreRecords) notes.push_back("more records follow");
    for (size_t k = 0; k < notes.size(); ++k)
        s += (k == 0 ? " (" : ", ") + notes[k] + (k + 1 == notes.size() ? ")" : "");
    return s;
}

}  // namespace vstick
