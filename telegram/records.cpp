#include "telegram/records.h"

#include <cctype>
#include <cstring>

namespace vdx {
namespace {

bool fail(std::string* error, const std::string& what) {
    if (error != nullptr) *error = what;
    return false;
}

bool hexBytes(const std::string& hex, std::vector<uint8_t>* out) {
    if (hex.empty() || hex.size() % 2 != 0) return false;
    for (size_t i = 0; i < hex.size(); i += 2) {
        if (!std::isxdigit(static_cast<unsigned char>(hex[i])) ||
            !std::isxdigit(static_cast<unsigned char>(hex[i + 1])))
            return false;
        out->push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return true;
}

// The data field code of a request: one of digits, bits, real and text;
// dates default to types G (date) and F (date and time).
bool dataFieldOf(const RecordRequest& r, ValueType type, uint8_t* code, std::string* error) {
    const int given = (r.digits != 0) + (r.bits != 0) + r.real + r.text;
    if (given > 1) return fail(error, "give one of digits, bits and type");
    static const int kDigits[][2] = {{2, 0x9}, {4, 0xA}, {6, 0xB}, {8, 0xC}, {12, 0xE}};
    static const int kBits[][2] = {{8, 0x1}, {16, 0x2}, {24, 0x3}, {32, 0x4}, {48, 0x6}, {64, 0x7}};
    *code = 0xFF;
    for (const auto& d : kDigits)
        if (r.digits == d[0]) *code = static_cast<uint8_t>(d[1]);
    for (const auto& b : kBits)
        if (r.bits == b[0]) *code = static_cast<uint8_t>(b[1]);
    if (r.real) *code = 0x5;
    if (r.text) *code = 0xD;
    if (given == 0 && type == ValueType::Date) *code = 0x2;
    if (given == 0 && type == ValueType::DateTime) *code = 0x4;
    if (*code != 0xFF) return true;
    if (r.digits != 0) return fail(error, "digits must be 2, 4, 6, 8 or 12");
    if (r.bits != 0) return fail(error, "bits must be 8, 16, 24, 32, 48 or 64");
    return fail(error, "give digits, bits or type");
}

// Whether a data field suits what the VIF's value is.
bool suits(ValueType type, uint8_t field, std::string* error) {
    const DataKind kind = kDataFields[field].kind;
    const uint8_t size = kDataFields[field].size;
    switch (type) {
        case ValueType::Date:
            if (kind == DataKind::Integer && size == 2) return true;
            return fail(error, "a date takes 16 bits (type G)");
        case ValueType::DateTime:
            if (kind == DataKind::Integer && (size == 4 || size == 6)) return true;
            return fail(error, "a date and time takes 32 bits (type F) or 48 bits (type I)");
        case ValueType::Bits:
            if (kind == DataKind::Integer) return true;
            return fail(error, "a bit field takes an integer data field");
        case ValueType::Text:
        case ValueType::Identifier:
            if (kind == DataKind::Integer || kind == DataKind::Bcd || kind == DataKind::Variable) return true;
            return fail(error, "an identifier takes an integer, BCD or text data field");
        case ValueType::Number:
            if (kind == DataKind::Integer || kind == DataKind::Bcd || kind == DataKind::Real) return true;
            return fail(error, "a number takes an integer, BCD or real data field");
    }
    return false;
}

// DIF and the fewest DIFEs that hold storage, tariff and subunit.
bool writeDif(DataRecord* s, std::string* error) {
    int difes = 0;
    while (difes < kMaxDifes &&
           ((s->storage >> (1 + 4 * difes)) != 0 || (s->tariff >> (2 * difes)) != 0 || (s->subunit >> difes) != 0))
        ++difes;
    if ((s->storage >> (1 + 4 * difes)) != 0 || (s->tariff >> (2 * difes)) != 0 || (s->subunit >> difes) != 0)
        return fail(error, "storage, tariff or subunit beyond what ten DIFEs hold");
    uint8_t* p = s->header;
    *p = static_cast<uint8_t>(s->dataField | static_cast<int>(s->function) << 4 | (s->storage & 1) << 6 |
                              (difes > 0 ? 0x80 : 0));
    for (int n = 0; n < difes; ++n)
        p[1 + n] = static_cast<uint8_t>(((s->storage >> (1 + 4 * n)) & 0x0F) | ((s->tariff >> (2 * n)) & 3) << 4 |
                                        ((s->subunit >> n) & 1) << 6 | (n + 1 < difes ? 0x80 : 0));
    s->difSize = static_cast<uint8_t>(1 + difes);
    return true;
}

// Reads DIF and DIFEs back into the record's fields.
bool readDif(const std::vector<uint8_t>& b, DataRecord* s, std::string* error) {
    if (b.size() > 1 + static_cast<size_t>(kMaxDifes)) return fail(error, "dif: more than ten DIFEs");
    for (size_t i = 0; i < b.size(); ++i)
        if (((b[i] & 0x80) != 0) != (i + 1 < b.size()))
            return fail(error, "dif: the extension bits must chain exactly these bytes");
    s->dataField = b[0] & 0x0F;
    if (s->dataField == 0x0F) return fail(error, "dif: special functions (x F) are not data records");
    if (s->dataField == 0x08) return fail(error, "dif: a selection for readout is not a data record");
    s->function = static_cast<Function>((b[0] >> 4) & 3);
    s->storage = (b[0] >> 6) & 1;
    for (size_t n = 0; n + 1 < b.size(); ++n) {
        s->storage |= static_cast<uint64_t>(b[n + 1] & 0x0F) << (1 + 4 * n);
        s->tariff |= static_cast<uint32_t>((b[n + 1] >> 4) & 3) << (2 * n);
        s->subunit |= static_cast<uint32_t>((b[n + 1] >> 6) & 1) << n;
    }
    std::memcpy(s->header, b.data(), b.size());
    s->difSize = static_cast<uint8_t>(b.size());
    return true;
}

// Units written with another prefix than the tables': the table's unit and
// the power of ten between them.
struct UnitAlias {
    const char *name, *unit;
    int shift;
};
const UnitAlias kUnitAliases[] = {{"Wh", "kWh", -3}, {"MWh", "kWh", 3},  {"kJ", "J", 3}, {"MJ", "J", 6},
                                  {"GJ", "J", 9},    {"l", "m3", -3},    {"t", "kg", 3}, {"W", "kW", -3},
                                  {"MW", "kW", 3},   {"l/h", "m3/h", -3}};

}  // namespace

std::string unitNames(const std::string& quantity) {
    size_t count = 0;
    const VifRow* rows = vifRows(&count);
    std::string names;
    const auto add = [&](const std::string& u) {
        if (!u.empty() && (" " + names + ",").find(" " + u + ",") == std::string::npos)
            names += (names.empty() ? "" : ", ") + u;
    };
    for (size_t i = 0; i < count; ++i) {
        if (quantity != rows[i].quantity) continue;
        add(rows[i].unit);
        for (const UnitAlias& a : kUnitAliases)
            if (std::string(rows[i].unit) == a.unit) add(a.name);
    }
    return names;
}

bool describeRecord(const RecordRequest& r, DataRecord* s, std::string* error) {
    size_t count = 0;
    const VifRow* rows = vifRows(&count);
    std::string unit = r.unit;
    int decimals = r.decimals;
    s->unitShift = 0;
    for (const UnitAlias& a : kUnitAliases)
        if (unit == a.name) unit = a.unit, decimals -= a.shift, s->unitShift = a.shift;
    const VifRow* named = nullptr;
    for (size_t i = 0; i < count && named == nullptr; ++i)
        if (r.quantity == rows[i].quantity && (unit.empty() || unit == rows[i].unit)) named = &rows[i];
    if (named == nullptr) {
        const std::string names = unitNames(r.quantity);
        return fail(error, "no VIF writes \"" + r.quantity + "\"" + (unit.empty() ? "" : " in " + r.unit) +
                               (names.empty() ? "" : " (its units: " + names + ")"));
    }
    if (unit.empty()) unit = named->unit;
    uint8_t code = 0;
    const VifRow* row = findVifRow(r.quantity, unit, -decimals, &code);
    if (row == nullptr)
        return fail(error, "no VIF writes " + r.quantity + (unit.empty() ? "" : " in " + r.unit) + " with " +
                               std::to_string(r.decimals) + " decimals");
    s->row = row;
    s->exponent = -decimals;
    if (!dataFieldOf(r, row->type, &s->dataField, error) || !suits(row->type, s->dataField, error)) return false;
    s->function = r.function;
    s->storage = r.storage;
    s->tariff = r.tariff;
    s->subunit = r.subunit;
    if (!writeDif(s, error)) return false;
    s->modifier = nullptr;
    if (!r.modifier.empty() && (s->modifier = findVife(r.modifier)) == nullptr)
        return fail(error, "unknown modifier \"" + r.modifier + "\"");
    uint8_t* p = s->header + s->difSize;
    size_t n = 0;
    if (row->table != kPrimary) p[n++] = row->table;  // 0xFB or 0xFD: the code follows
    p[n++] = static_cast<uint8_t>(code | (s->modifier != nullptr ? 0x80 : 0));
    if (s->modifier != nullptr) p[n++] = s->modifier->code;
    s->headerSize = static_cast<uint8_t>(s->difSize + n);
    return true;
}

bool rawRecord(const std::string& difHex, const std::string& vifHex, DataRecord* s, std::string* error) {
    std::vector<uint8_t> dif, vif;
    if (!hexBytes(difHex, &dif)) return fail(error, "dif: hexadecimal digit pairs");
    if (!hexBytes(vifHex, &vif)) return fail(error, "vif: hexadecimal digit pairs");
    if (!readDif(dif, s, error)) return false;
    const bool extension = vif[0] == 0xFB || vif[0] == 0xFD;
    const size_t codeAt = extension ? 1 : 0;
    if ((vif[0] & 0x7F) == 0x7C) return fail(error, "vif: plain-text units (7C) are not supported");
    if (vif.size() <= codeAt || vif.size() > codeAt + 1 + kMaxVifes)
        return fail(error, "vif: 1 to 11 bytes after FB or FD");
    for (size_t i = codeAt; i < vif.size(); ++i)
        if (((vif[i] & 0x80) != 0) != (i + 1 < vif.size()))
            return fail(error, "vif: the extension bits must chain exactly these bytes");
    const uint8_t table = extension ? vif[0] : uint8_t(kPrimary), code = vif[codeAt] & 0x7F;
    s->row = findVifRow(table, code);
    s->exponent = s->row != nullptr ? s->row->exponent + (code - s->row->first) : 0;
    s->modifier = nullptr;
    for (size_t i = codeAt + 1; i < vif.size() && s->modifier == nullptr; ++i) s->modifier = findVife(vif[i] & 0x7F);
    if (s->row != nullptr && !suits(s->row->type, s->dataField, error)) return false;
    if (s->row == nullptr && kDataFields[s->dataField].kind == DataKind::Variable)
        return fail(error, "variable-length data needs a VIF the tables name");
    std::memcpy(s->header + s->difSize, vif.data(), vif.size());
    s->headerSize = static_cast<uint8_t>(s->difSize + vif.size());
    return true;
}

bool sourceOf(const std::string& name, Source* source) {
    static const char* const kNames[] = {"",
                                         "register",
                                         "due",
                                         "time",
                                         "due-date",
                                         "rate",
                                         "flow-temperature",
                                         "return-temperature",
                                         "temperature-difference",
                                         "error-flags",
                                         "battery-days",
                                         "fabrication"};
    for (size_t i = 1; i < sizeof kNames / sizeof kNames[0]; ++i)
        if (name == kNames[i]) return *source = static_cast<Source>(i), true;
    return false;
}

bool registerOf(const DataRecord& s, Register* reg) {
    if (s.row == nullptr) return false;
    const std::string q = s.row->quantity, unit = s.row->unit;
    const bool backward = s.modifier != nullptr && s.modifier->code == 0x3C;
    const bool uncorrected = s.modifier != nullptr && s.modifier->code == 0x3A;
    if (q == "volume" && unit == "m3" && !backward)
        return *reg = uncorrected ? Register::VolumeUncorrected : Register::Volume, true;
    if (q == "energy" && unit == "kWh") return *reg = backward ? Register::EnergyExport : Register::Energy, true;
    if (q == "hca") return *reg = Register::Units, true;
    return false;
}

bool rateRegisterOf(const DataRecord& s, Register* reg) {
    if (s.row == nullptr) return false;
    const std::string q = s.row->quantity, unit = s.row->unit;
    const bool backward = s.modifier != nullptr && s.modifier->code == 0x3C;
    if (q == "volume-flow" && unit == "m3/h" && !backward) return *reg = Register::Volume, true;
    if (q == "power" && unit == "kW") return *reg = backward ? Register::EnergyExport : Register::Energy, true;
    return false;
}

bool registerNamed(const std::string& name, Register* reg) {
    static const char* const kNames[] = {"volume", "volume_uncorrected", "energy", "energy_export", "units"};
    for (size_t i = 0; i < 5; ++i)
        if (name == kNames[i]) return *reg = static_cast<Register>(i), true;
    return false;
}

}  // namespace vdx
