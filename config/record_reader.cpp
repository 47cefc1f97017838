#include "config/record_reader.h"

#include <algorithm>
#include <cmath>

#include "config/rig.h"
#include "telegram/meter_values.h"

namespace vdx {
namespace {

bool isDate(const DataRecord& s) {
    return s.row != nullptr && (s.row->type == ValueType::Date || s.row->type == ValueType::DateTime);
}

Function functionOf(const TomlFields& f, const toml::node& n) {
    const std::string v = f.text(n, "a function");
    for (int i = 0; i < 4; ++i)
        if (v == kFunctionNames[i]) return static_cast<Function>(i);
    f.fail(n, "function must be \"instantaneous\", \"maximum\", \"minimum\" or \"error\"");
}

// The coding of a record written by its quantity.
void byQuantity(const TomlFields& f, const toml::table& t, DataRecord* s) {
    RecordRequest r;
    r.quantity = f.text(*t.get("quantity"), "a quantity such as \"volume\"");
    if (const toml::node* n = t.get("unit")) r.unit = f.text(*n, "a unit such as \"m3\"");
    if (const toml::node* n = t.get("modifier")) r.modifier = f.text(*n, "a modifier such as \"backward\"");
    if (const toml::node* n = t.get("digits")) r.digits = static_cast<int>(f.whole(*n, 1, 12, "digits"));
    if (const toml::node* n = t.get("bits")) r.bits = static_cast<int>(f.whole(*n, 1, 64, "bits"));
    if (const toml::node* n = t.get("type")) {
        const std::string v = f.text(*n, "\"real\" or \"text\"");
        if (v != "real" && v != "text") f.fail(*n, "type must be \"real\" or \"text\"");
        r.real = v == "real", r.text = v == "text";
    }
    if (const toml::node* n = t.get("decimals")) r.decimals = static_cast<int>(f.whole(*n, -12, 12, "decimals"));
    const toml::node* storage = t.get("storage");
    if (storage != nullptr) r.storage = static_cast<uint64_t>(f.whole(*storage, 0, 0xFFFFFFFF, "storage"));
    const toml::node* value = t.get("value");
    if (storage == nullptr && value != nullptr && value->is_string() && *value->value<std::string>() == "due")
        r.storage = 1;  // the value at the due date is storage 1 unless said otherwise
    if (const toml::node* n = t.get("tariff")) r.tariff = static_cast<uint32_t>(f.whole(*n, 0, 0xFFFFF, "tariff"));
    if (const toml::node* n = t.get("subunit")) r.subunit = static_cast<uint32_t>(f.whole(*n, 0, 1023, "subunit"));
    if (const toml::node* n = t.get("function")) r.function = functionOf(f, *n);
    std::string error;
    if (!describeRecord(r, s, &error)) f.fail(t, error);
}

void byBytes(const TomlFields& f, const toml::table& t, DataRecord* s) {
    const toml::node* dif = t.get("dif");
    const toml::node* vif = t.get("vif");
    if (vif == nullptr) f.fail(t, "a record with dif needs its vif");
    for (const char* k : {"quantity", "unit", "modifier", "digits", "bits", "type", "decimals", "storage", "tariff",
                          "subunit", "function"})
        if (const toml::node* n = t.get(k)) f.fail(*n, std::string(k) + " does not go with dif and vif");
    std::string error;
    if (!rawRecord(f.text(*dif, "hexadecimal DIF bytes"), f.text(*vif, "hexadecimal VIF bytes"), s, &error))
        f.fail(error.rfind("vif", 0) == 0 ? *vif : *dif, error);
}

void registerFor(const TomlFields& f, const toml::table& t, const toml::node& value, DataRecord* s) {
    if (const toml::node* n = t.get("register")) {
        if (!registerNamed(f.text(*n, "a register"), &s->reg))
            f.fail(*n,
                   "register must be \"volume\", \"volume_uncorrected\", \"energy\", \"energy_export\" or \"units\"");
        return;
    }
    const bool found = s->source == Source::Rate ? rateRegisterOf(*s, &s->reg) : registerOf(*s, &s->reg);
    if (!found) f.fail(value, "no register goes with this quantity: give register = \"volume\", \"energy\", ...");
}

// The value source or constant of a record.
void valueOf(const TomlFields& f, const toml::table& t, DataRecord* s) {
    const toml::node* value = t.get("value");
    const bool text = kDataFields[s->dataField].kind == DataKind::Variable;
    if (text) {
        if (value != nullptr) f.fail(*value, "a text record takes text = \"...\", not value");
        const toml::node* n = t.get("text");
        if (n == nullptr) f.fail(t, "a text record needs its text");
        s->text = f.text(*n, "a text");
        if (s->text.size() > kMaxText) f.fail(*n, "a text of at most 191 characters");
        return;
    }
    if (const toml::node* n = t.get("text")) f.fail(*n, "text goes with type = \"text\"");
    if (value == nullptr) f.fail(t, "a record needs its value (a source such as \"register\", or a constant)");
    // integers stay exact: a TOML integer or "0x..." up to 16 digits
    bool integer = false, negative = false;
    uint64_t magnitude = 0;
    if (value->is_integer()) {
        const int64_t i = *value->value<int64_t>();
        integer = true, negative = i < 0;
        magnitude = negative ? ~static_cast<uint64_t>(i) + 1 : static_cast<uint64_t>(i);
        s->constant = static_cast<double>(i);
    } else if (value->is_number()) {
        s->constant = *value->value<double>();
        if (!std::isfinite(s->constant)) f.fail(*value, "a constant must be a finite number");
        // a whole number written as a float is a count like an integer's
        // (1e19 fills an unsigned 64-bit field); 2^64 and beyond fit none
        const double whole = std::fabs(s->constant);
        if (whole < 18446744073709551616.0 && std::floor(whole) == whole)
            integer = true, negative = s->constant < 0, magnitude = static_cast<uint64_t>(whole);
    } else {
        const std::string v = f.text(*value, "a value source or a constant");
        int64_t time = 0;
        if (sourceOf(v, &s->source)) {
        } else if (v.size() > 2 && v.compare(0, 2, "0x") == 0 &&
                   v.find_first_not_of("0123456789abcdefABCDEF", 2) == std::string::npos) {
            const size_t first = std::min(v.find_first_not_of('0', 2), v.size() - 1);  // leading zeros add nothing
            if (v.size() - first > 16) f.fail(*value, "\"" + v + "\" has more than 16 hexadecimal digits (64 bits)");
            integer = true, magnitude = std::stoull(v.substr(first), nullptr, 16);
            s->constant = static_cast<double>(magnitude);
        } else if (isDate(*s) && (parseMeterTime(v.size() == 10 ? v + "T00:00:00Z" : v, &time))) {
            s->constantTime = time;
        } else {
            f.fail(*value, "unknown value \"" + v + "\"");
        }
    }
    const bool timeSource = s->source == Source::Time || s->source == Source::DueDate;
    if (isDate(*s) && !timeSource && !(s->source == Source::Constant && s->constantTime != 0))
        f.fail(*value, "a date record takes value = \"time\", \"due-date\" or a date");
    if (!isDate(*s) && timeSource) f.fail(*value, "a time goes into a date or date-time record");
    if (s->source == Source::Register || s->source == Source::Due || s->source == Source::Rate)
        registerFor(f, t, *value, s);
    else if (const toml::node* n = t.get("register"))
        f.fail(*n, "register goes with value = \"register\", \"due\" or \"rate\"");
    const DataKind kind = kDataFields[s->dataField].kind;
    s->constant *= powerOfTen(s->unitShift);  // GJ into J, l into m3, ...
    if (integer && (kind == DataKind::Integer || kind == DataKind::Bcd) &&
        !exactCount(magnitude, negative, s->exponent - s->unitShift, s))
        f.fail(*value, (negative ? "-" : "") + std::to_string(magnitude) +
                           (s->exponent < 0 ? " with " + std::to_string(-s->exponent) + " decimals" : "") +
                           " does not fit a 64-bit integer");
    std::string error;
    uint8_t bytes[64];
    if (s->source == Source::Constant && !encodeRecord(*s, recordValue(*s, ReadingsModel(), Moment()), bytes, &error))
        f.fail(*value, error);
}

}  // namespace

std::string tooManyRecords() {
    return "more than " + std::to_string(kMaxRecords) + " records, more than fit one telegram";
}

std::vector<DataRecord> readRecords(const toml::node& list, const TomlFields& f) {
    if (!list.is_array()) f.fail(list, "records must be a list of { quantity = ..., value = ... } tables");
    // refused before any element is read: a record takes two bytes at
    // least, so no more than kMaxRecords fit one telegram's kMaxBlockSize
    const toml::array& array = *list.as_array();
    if (array.size() > kMaxRecords) f.fail(list, tooManyRecords());
    std::vector<DataRecord> records;
    size_t size = 0;
    for (const toml::node& n : array) {
        const toml::table& t = f.table(n);
        f.allowKeys(t, {"quantity", "unit", "modifier", "digits", "bits", "type", "decimals", "storage", "tariff",
                        "subunit", "function", "dif", "vif", "value", "register", "text", "weekday"});
        DataRecord s;
        if (t.get("dif") != nullptr)
            byBytes(f, t, &s);
        else if (t.get("quantity") != nullptr)
            byQuantity(f, t, &s);
        else
            f.fail(t, "a record needs its quantity, or dif and vif");
        valueOf(f, t, &s);
        if (const toml::node* w = t.get("weekday")) {
            if (!w->is_boolean()) f.fail(*w, "weekday is true or false");
            if (!isDate(s) || kDataFields[s.dataField].size != 6)
                f.fail(*w, "weekday goes with a type I date and time (48 bits)");
            s.weekday = *w->value<bool>();
        }
        if ((size += recordSize(s)) > kMaxBlockSize)
            f.fail(n, "the records take more than " + std::to_string(kMaxBlockSize) +
                          " bytes from here on, more than fit one telegram");
        records.push_back(std::move(s));
    }
    return records;
}

}  // namespace vdx
