#include "telegram/profile.h"

#include <cstring>

namespace vdx {
namespace {

MeterProfile makeGasFixed() {
    // DIF, VIF, source, register: as the window's block lays them out
    static const struct {
        const char *dif, *vif;
        Source source;
        Register reg;
    } kRecords[] = {
        {"46", "6D", Source::DueDate, Register::Volume},
        {"4C", "13", Source::Due, Register::Volume},
        {"4C", "933A", Source::Due, Register::VolumeUncorrected},
        {"06", "6D", Source::Time, Register::Volume},
        {"0C", "13", Source::Register, Register::Volume},
        {"0C", "933A", Source::Register, Register::VolumeUncorrected},
        {"04", "FD971D", Source::ErrorFlags, Register::Volume},
        {"0A", "FD74", Source::BatteryDays, Register::Volume},
        {"01", "FD1F", Source::Constant, Register::Volume},
        {"01", "FD1A", Source::Constant, Register::Volume},
        {"0C", "78", Source::Fabrication, Register::Volume},
    };
    MeterProfile p;
    p.name = "gas-fixed";
    p.fillAlways = p.gasReadings = true;
    for (const auto& r : kRecords) {
        DataRecord s;
        rawRecord(r.dif, r.vif, &s, nullptr);
        s.source = r.source;
        s.reg = r.reg;
        s.weekday = r.source != Source::DueDate;  // the window's block sends its due date without it
        p.records.push_back(s);
    }
    return p;
}

}  // namespace

const MeterProfile& gasFixedProfile() {
    static const MeterProfile profile = makeGasFixed();
    return profile;
}

namespace {

// The values a record takes from `m` that do not roll over, in its unit.
std::vector<double> extremes(const DataRecord& s, const ReadingsModel& m) {
    const double flowLow = m.flowTemperature.low, flowHigh = m.flowTemperature.high;
    const double returnLow = m.returnTemperature.low, returnHigh = m.returnTemperature.high;
    double start = 0, rate = 0;
    switch (s.source) {
        case Source::Rate:
            rate = s.reg == Register::Energy         ? m.power
                   : s.reg == Register::EnergyExport ? m.powerExport
                   : s.reg == Register::Units        ? m.rate
                                                     : m.flow;
            return {rate};
        case Source::FlowTemperature:
            return {flowLow, flowHigh};
        case Source::ReturnTemperature:
            return {returnLow, returnHigh};
        case Source::TemperatureDifference:
            return {flowLow - returnHigh, flowHigh - returnLow};
        case Source::Fabrication:
            return {static_cast<double>(m.fabrication)};
        case Source::ErrorFlags: {
            std::vector<double> flags = {static_cast<double>(m.errorFlags)};
            for (const auto& e : m.events) flags.push_back(e.second);
            return flags;
        }
        default:
            (void)start;
            return {};
    }
}

}  // namespace

std::string recordsProblem(const std::vector<DataRecord>& records, const ReadingsModel& model) {
    for (size_t i = 0; i < records.size(); ++i) {
        const std::vector<double> values = extremes(records[i], model);
        if (values.empty()) continue;
        DataRecord constant = records[i];
        constant.source = Source::Constant;
        for (double v : values) {
            constant.constant = v;
            uint8_t bytes[64];
            std::string why;
            if (!encodeRecord(constant, recordValue(constant, ReadingsModel(), Moment()), bytes, &why))
                return "record " + std::to_string(i + 1) + " (" +
                       (records[i].row != nullptr ? records[i].row->quantity : "unknown") + "): " + why;
        }
    }
    return "";
}

size_t recordsSize(const std::vector<DataRecord>& records) {
    size_t n = 0;
    for (const DataRecord& s : records) n += recordSize(s);
    return n;
}

bool encodeRecords(const std::vector<DataRecord>& records, const ReadingsModel& model, const Moment& at,
                   ApplicationLayer* a, std::vector<RecordReading>* readings, std::string* error) {
    a->size = a->count = 0;
    if (records.size() > kMaxRecords || recordsSize(records) > kMaxBlockSize) {
        if (error != nullptr) *error = "more than " + std::to_string(kMaxBlockSize) + " bytes of records";
        return false;
    }
    if (readings != nullptr) readings->resize(records.size());
    bool all = true;
    for (size_t i = 0; i < records.size(); ++i) {
        const DataRecord& s = records[i];
        RecordValue v = recordValue(s, model, at);
        std::string why;
        uint8_t* out = a->records + a->size;
        if (!encodeRecord(s, v, out, &why)) {
            // a value the rig did not foresee (a date past 2099): the record
            // goes out with its data field zero, as a meter without it sends
            // it, and its value is null in the log
            if (all && error != nullptr) *error = "record " + std::to_string(i + 1) + ": " + why;
            all = false;
            std::memcpy(out, s.header, s.headerSize);
            std::memset(out + s.headerSize, 0, dataSize(s));
            v.kind = RecordValue::Nothing;
        }
        a->headerSize[a->count] = s.headerSize;
        a->recordAt[a->count++] = static_cast<uint16_t>(a->size);
        a->size += recordSize(s);
        if (readings == nullptr) continue;
        RecordReading& r = (*readings)[i];
        r.quantity = s.row != nullptr ? s.row->quantity : "unknown";
        r.unit = s.row != nullptr ? s.row->unit : "";
        r.modifier = s.modifier != nullptr ? s.modifier->name : nullptr;
        r.storage = s.storage, r.tariff = s.tariff, r.subunit = s.subunit, r.function = s.function;
        r.kind = v.kind;
        r.number = numericValue(s, v);
        const DataKind kind = kDataFields[s.dataField].kind;
        r.counted = v.kind == RecordValue::Number && (kind == DataKind::Integer || kind == DataKind::Bcd);
        r.count = v.count, r.countUnsigned = v.countUnsigned, r.exponent = s.exponent;
        r.time = v.kind == RecordValue::Time ? encodedTime(s, v.time) : 0;
        r.dateOnly = s.row != nullptr && s.row->type == ValueType::Date;
        if (v.kind == RecordValue::Text) r.text = s.text;
    }
    return all;
}

}  // namespace vdx
