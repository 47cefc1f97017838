// One [[meter]] table of a rig file: who the meter is (address, count, key,
// security), what it sends (profile, header, records), what drives its
// readings, its events and faults, and when it sends.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "config/fault_spec.h"
#include "config/profiles.h"
#include "config/record_reader.h"
#include "config/rig_reader.h"
#include "crypto/byte_order.h"

namespace vdx {
namespace {

std::string hexOf(const uint8_t* b, size_t n) {
    std::string s;
    char two[3];
    for (size_t i = 0; i < n; ++i) std::snprintf(two, sizeof two, "%02X", b[i]), s += two;
    return s;
}

uint64_t addressKey(const uint8_t a[8]) {
    uint64_t k = 0;
    for (int i = 0; i < 8; ++i) k = k << 8 | a[i];
    return k;
}

// Whether a record of `records` reads the driver `key` (volume, flow, ...).
bool reads(const std::vector<DataRecord>& records, std::string_view key) {
    const auto counts = [](const DataRecord& s, Register r) {
        return (s.source == Source::Register || s.source == Source::Due) && s.reg == r;
    };
    const auto rates = [](const DataRecord& s, Register r) { return s.source == Source::Rate && s.reg == r; };
    for (const DataRecord& s : records) {
        const bool difference = s.source == Source::TemperatureDifference;
        if ((key == "volume" && counts(s, Register::Volume)) ||
            (key == "volume_uncorrected" && counts(s, Register::VolumeUncorrected)) ||
            (key == "flow" &&
             (counts(s, Register::Volume) || counts(s, Register::VolumeUncorrected) || rates(s, Register::Volume))) ||
            (key == "energy" && counts(s, Register::Energy)) ||
            (key == "power" && (counts(s, Register::Energy) || rates(s, Register::Energy))) ||
            (key == "energy_export" && counts(s, Register::EnergyExport)) ||
            (key == "power_export" && (counts(s, Register::EnergyExport) || rates(s, Register::EnergyExport))) ||
            (key == "units" && counts(s, Register::Units)) ||
            (key == "rate" && (counts(s, Register::Units) || rates(s, Register::Units))) ||
            (key == "flow_temperature" && (s.source == Source::FlowTemperature || difference)) ||
            (key == "return_temperature" && (s.source == Source::ReturnTemperature || difference)) ||
            (key == "battery_days" && s.source == Source::BatteryDays) ||
            (key == "fabrication" && s.source == Source::Fabrication) ||
            (key == "error_flags" && s.source == Source::ErrorFlags))
            return true;
    }
    return false;
}

// "meter 3 (9858...)" or "meters 3 to 1002 (9858... on)" for messages.
std::string meterNames(const SimMeter& m, size_t first) {
    const std::string address = hexOf(m.record.manufacturer, 8);
    if (m.count == 1) return "meter " + std::to_string(first) + " (" + address + ")";
    return "meters " + std::to_string(first) + " to " + std::to_string(first + m.count - 1) + " (" + address + " on)";
}

}  // namespace

void RigReader::meter(const toml::table& t, const toml::source_position* addressAt) {
    // clang-format off
    const TableKeys k = allowedKeys(t, {
        "address", "key", "key_derivation", "security", "count", "interval", "offset", "readings", "profile",
        "header", "records", "volume", "volume_uncorrected", "flow", "energy", "energy_export", "power",
        "power_export", "units", "rate", "flow_temperature", "return_temperature", "battery_days", "fabrication",
        "error_flags", "events", "faults", "radio", "compact", "converter"});
    // clang-format on
    SimMeter m;
    uint32_t count = 1;
    identity(t, k, &m, &count);
    profile(k, &m);
    frames(k, &m);
    drivers(k, &m);
    if (const toml::node* n = k.get("faults")) faults(*n, &m.faults);
    double interval = 0, offset = -1;
    if (const toml::node* n = k.get("interval")) interval = milliseconds(*n, kMinInterval, kMaxInterval, "interval");
    if (const toml::node* n = k.get("offset")) offset = milliseconds(*n, 0, kMaxInterval, "offset");
    check(t, k, m);

    // all is well: the meter joins the rig
    firstMeter_.push_back(meters_);
    toml::source_position at = k.get("address")->source().begin;
    if (addressAt != nullptr) at = *addressAt;
    at.line += static_cast<toml::source_index>(addressAt != nullptr ? 0 : lineOffset());
    addressAt_.push_back(at);
    uint8_t address[8];
    for (uint32_t i = 0; i < count; ++i) {
        meterAddress(m, i, address);
        addresses_.emplace_back(addressKey(address), meters_ + i);
    }
    meters_ += count;
    rig_->meters.push_back(std::move(m));
    rig_->meterInterval.push_back(interval);
    rig_->meterOffset.push_back(offset);
    rig_->meterRadio.push_back(radio(k));
}

// radio = "s1": the mode the meter sends in, in I/Q captures.
std::optional<RadioMode> RigReader::radio(const TableKeys& k) {
    const toml::node* n = k.get("radio");
    if (n == nullptr) return std::nullopt;
    RadioMode mode;
    if (!parseRadioMode(text(*n, "a radio mode"), &mode)) fail(*n, "radio must be " + radioModeNames());
    return mode;
}

// address, count, key or key_derivation, security
void RigReader::identity(const toml::table& t, const TableKeys& k, SimMeter* m, uint32_t* count) {
    const toml::node* address = k.get("address");
    if (address == nullptr) fail(t, "a meter needs its address (16 hexadecimal digits)");
    hex(*address, kAddressSize, m->record.manufacturer, "address");
    if (const toml::node* n = k.get("count")) {
        *count = static_cast<uint32_t>(whole(*n, 1, kMaxRigMeters, "count"));
        uint8_t last[8];
        if (!meterAddress(*m, *count - 1, last))
            fail(*n, "count = " + std::to_string(*count) +
                         ": the identification numbers would pass 99999999 (or the address's is not BCD)");
    }
    if (meters_ + *count > kMaxRigMeters) fail(t, "more than " + std::to_string(kMaxRigMeters) + " meters");
    m->count = *count;
    const toml::node* key = k.get("key");
    const toml::node* derived = k.get("key_derivation");
    if (key != nullptr && derived != nullptr) fail(*derived, "key_derivation goes instead of key, not with it");
    if (key != nullptr) hex(*key, 16, m->key, "key");
    if (derived != nullptr) hex(*derived, 16, m->key, "key_derivation"), m->deriveKeys = true;
    const bool keyed = key != nullptr || derived != nullptr;
    m->security = keyed ? Security::Mode7 : Security::None;
    if (const toml::node* n = k.get("security")) {
        const std::string v = text(*n, "\"none\", \"mode5\", \"mode7\" or \"ell-ctr\"");
        if (v == "none")
            m->security = Security::None;
        else if (v == "mode5" || v == "mode7")
            m->security = v == "mode5" ? Security::Mode5 : Security::Mode7;
        else if (v == "ell-ctr")
            m->security = Security::EllCtr;
        else
            fail(*n, "security must be \"none\", \"mode5\", \"mode7\" or \"ell-ctr\"");
        if (m->security != Security::None && !keyed) fail(*n, v + " needs the meter's key");
        if (m->security == Security::None && keyed)
            fail(key != nullptr ? *key : *derived,
                 std::string(key != nullptr ? "key" : "key_derivation") +
                     " has no effect with security = \"none\" (a plain meter has no key)");
    }
}

std::shared_ptr<const MeterProfile> RigReader::namedProfile(const toml::node& n) {
    const std::string v = text(n, "a profile name or file");
    const bool file = v.size() > 5 && v.compare(v.size() - 5, 5, ".toml") == 0;
    if (!file) {
        auto p = builtInProfile(v);
        if (p == nullptr) fail(n, "unknown profile \"" + v + "\" (" + builtInProfileNames() + ", or a .toml file)");
        return p;
    }
    const size_t slash = name().find_last_of("/\\");
    const bool absolute = v[0] == '/' || v[0] == '\\' || (v.size() > 1 && v[1] == ':');
    const std::string path = absolute || slash == std::string::npos ? v : name().substr(0, slash + 1) + v;
    auto& cached = profiles_[path];
    if (cached == nullptr) {
        auto p = std::make_shared<MeterProfile>();
        std::string error;
        if (!readProfile(path, p.get(), &error)) fail(n, "profile: " + error);
        cached = p;
    }
    return cached;
}

// profile, header, records; the readings they go with
void RigReader::profile(const TableKeys& k, SimMeter* m) {
    const toml::node* named = k.get("profile");
    const toml::node* own = k.get("records");
    std::shared_ptr<const MeterProfile> p = named != nullptr ? namedProfile(*named)
                                            : own == nullptr ? builtInProfile(defaultProfileName(m->record.deviceType))
                                                             : nullptr;
    if (own != nullptr) {
        auto mine = std::make_shared<MeterProfile>();
        if (p != nullptr) *mine = *p;
        mine->name = p != nullptr ? p->name + " and records" : "records";
        mine->gasReadings = false;
        for (DataRecord& s : readRecords(*own, *this)) mine->records.push_back(std::move(s));
        if (recordsSize(mine->records) > kMaxBlockSize)  // and so more than kMaxRecords
            fail(*own, "the records take " + std::to_string(recordsSize(mine->records)) + " bytes, more than " +
                           std::to_string(kMaxBlockSize) + " fit one telegram");
        p = mine;
    }
    m->profile = p;
    m->header = p->header;
    if (const toml::node* n = k.get("header")) {
        const std::string v = text(*n, "\"long\", \"short\" or \"none\"");
        if (v != "long" && v != "short" && v != "none") fail(*n, "header must be \"long\", \"short\" or \"none\"");
        m->header = v == "long" ? HeaderForm::Long : v == "short" ? HeaderForm::Short : HeaderForm::None;
    }
    // readings: the meter's choice, else the rig's, else live unless the
    // meter sends the window's gas block
    m->live = readingsGiven_ ? liveByDefault_ : !p->gasReadings;
    if (const toml::node* n = k.get("readings")) m->live = readingsChoice(*n);
    if (!p->gasReadings) m->readings.errorFlags = 0;
}

Swing RigReader::swing(const toml::node& n, const char* what) {
    if (n.is_number()) {
        const double v = number(n, -100, 200, what);
        return {v, v};
    }
    const toml::array* a = n.as_array();
    if (a == nullptr || a->size() != 2)
        fail(n, std::string(what) + " must be degrees Celsius, or [low, high] for a daily swing");
    const double low = number(*a->get(0), -100, 200, what), high = number(*a->get(1), -100, 200, what);
    if (low > high) fail(n, std::string(what) + ": [low, high] with low at most high");
    return {low, high};
}

// What drives the readings: registers at the clock's start and their
// rates, temperatures, battery days, fabrication number, error flags,
// events.
void RigReader::drivers(const TableKeys& k, SimMeter* m) {
    ReadingsModel& r = m->readings;
    const struct {
        std::string_view key;
        double* value;
        double max;
    } numbers[] = {{"volume", &r.volume, 1e9},
                   {"volume_uncorrected", &r.volumeUncorrected, 1e9},
                   {"flow", &r.flow, 1e6},
                   {"energy", &r.energy, 1e9},
                   {"energy_export", &r.energyExport, 1e9},
                   {"power", &r.power, 1e6},
                   {"power_export", &r.powerExport, 1e6},
                   {"units", &r.units, 1e9},
                   {"rate", &r.rate, 1e6}};
    for (const auto& d : numbers)
        if (const toml::node* n = k.get(d.key)) *d.value = number(*n, 0, d.max, d.key.data());
    if (const toml::node* n = k.get("flow_temperature")) r.flowTemperature = swing(*n, "flow_temperature");
    if (const toml::node* n = k.get("return_temperature")) r.returnTemperature = swing(*n, "return_temperature");
    if (const toml::node* n = k.get("battery_days"))
        r.batteryDays = static_cast<uint32_t>(whole(*n, 0, 9999, "battery_days"));
    if (const toml::node* n = k.get("fabrication")) {
        const std::string v = text(*n, "8 digits");
        if (v.size() != 8 || v.find_first_not_of("0123456789") != std::string::npos)
            fail(*n, "fabrication must be 8 digits");
        r.fabrication = static_cast<uint32_t>(std::stoul(v));
    }
    if (const toml::node* n = k.get("error_flags"))
        r.errorFlags = static_cast<uint32_t>(whole(*n, 0, 0xFFFFFFFF, "error_flags"));
    if (const toml::node* n = k.get("events")) events(*n, &r);
}

// What the meter's telegram can carry: a header where security needs one,
// a status byte where there is a header, all of it in one stick frame,
// every value in its record's field.
void RigReader::check(const toml::table& t, const TableKeys& k, const SimMeter& m) {
    const toml::node* header = k.get("header");
    const toml::node* security = k.get("security");
    const toml::node& at = header != nullptr ? *header : security != nullptr ? *security : t;
    const bool blocks = m.security == Security::Mode5 || m.security == Security::Mode7;
    if (m.header == HeaderForm::None && blocks)
        fail(at, "header = \"none\" does not go with mode 5 or 7: their configuration word is in the header");
    if (m.header == HeaderForm::None && !m.readings.statusEvents.empty())
        fail(*k.get("events"), "status events need a transport header (header = \"none\" has no status byte)");
    const size_t size = meterTelegramSize(m);
    if (size == 0)  // the encoder found no room: only an encrypted block can overflow before the frame does
        fail(t, meterNames(m, meters_) + ": its records with their 2F 2F, padded to whole 16-byte blocks, make an " +
                    "encrypted block of more than " + std::to_string(kMaxBlockSize) + " bytes, the most a telegram " +
                    "can carry");
    else if (size > kMaxTelegramFrameSize)
        fail(t, meterNames(m, meters_) + ": its records make a telegram of " + std::to_string(size) +
                    " bytes where the stick takes one of at most " + std::to_string(kMaxTelegramFrameSize) +
                    (blocks ? " (and at most " + std::to_string(kMaxBlockSize) + " bytes encrypted)" : ""));
    // a driver no record reads would be read and then ignored, as would
    // any with the window's fixed block
    if (!m.live)
        noEffect(
            k,
            {"volume", "volume_uncorrected", "flow", "energy", "energy_export", "power", "power_export", "units",
             "rate", "flow_temperature", "return_temperature", "battery_days", "fabrication", "error_flags", "events"},
            "with readings = \"fixed\" (the fixed block goes out as it is; readings = \"live\" uses it)");
    if (rig_->schedule == ScheduleMode::Turns)
        noEffect(k, {"interval", "offset"}, "in schedule mode \"turns\" (mode = \"each\" uses it)");
    const MeterProfile& p = profileOf(m);
    for (std::string_view key :
         {"volume", "volume_uncorrected", "flow", "energy", "power", "energy_export", "power_export", "units", "rate",
          "flow_temperature", "return_temperature", "battery_days", "fabrication", "error_flags"})
        if (const toml::node* n = k.get(key); n != nullptr && m.live && !reads(p.records, key))
            fail(*n, std::string(key) + " has no effect: no record of this meter reads it (profile " + p.name + ")");
    if (m.live && !m.readings.events.empty() && !reads(p.records, "error_flags"))
        fail(*k.get("events"),
             "error_flags in events have no effect: no record of this meter reads them (profile " + p.name + ")");
    const std::string problem = m.live ? recordsProblem(p.records, m.readings) : "";
    if (!problem.empty()) fail(t, meterNames(m, meters_) + ": " + problem);
}

}  // namespace vdx
