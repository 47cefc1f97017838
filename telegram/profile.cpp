#include "telegram/profile.h"

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
        RecordSpec s;
        rawRecord(r.dif, r.vif, &s, nullptr);
        s.source = r.source;
        s.reg = r.reg;
        p.records.push_back(s);
    }
    return p;
}

}  // namespace

const MeterProfile& gasFixedProfile() {
    static const MeterProfile profile = makeGasFixed();
    return profile;
}

size_t recordsSize(const std::vector<RecordSpec>& records) {
    size_t n = 0;
    for (const RecordSpec& s : records) n += recordSize(s);
    return n;
}

bool encodeRecords(const std::vector<RecordSpec>& records, const ReadingsModel& model, const Moment& at,
                   ApplicationLayer* a, std::vector<RecordReading>* readings, std::string* error) {
    a->size = a->count = 0;
    if (records.size() > kMaxRecords || recordsSize(records) > kMaxBlockSize) {
        if (error != nullptr) *error = "more than " + std::to_string(kMaxBlockSize) + " bytes of records";
        return false;
    }
    if (readings != nullptr) readings->resize(records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        const RecordSpec& s = records[i];
        const RecordValue v = recordValue(s, model, at);
        std::string why;
        if (!encodeRecord(s, v, a->records + a->size, &why)) {
            if (error != nullptr) *error = "record " + std::to_string(i + 1) + ": " + why;
            return false;
        }
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
        r.time = v.kind == RecordValue::Time ? encodedTime(s, v.time) : 0;
        r.dateOnly = s.row != nullptr && s.row->type == ValueType::Date;
        if (v.kind == RecordValue::Text) r.text = s.text;
    }
    return true;
}

}  // namespace vdx
