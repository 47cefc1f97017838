#include "config/rig.h"

#define TOML_EXCEPTIONS 0
#include <toml++/toml.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <set>

#include "config/config.h"
#include "config/fault_spec.h"
#include "config/rig_text.h"
#include "telegram/readings.h"

namespace vdx {
namespace {

// One problem, with where it is: the first one found ends the reading.
struct RigError {
    std::string text;
};

class Reader {
public:
    Reader(std::string name, Rig* rig) : name_(std::move(name)), rig_(rig) {}

    bool read(const toml::table& root) {
        allowKeys(root, {"readings", "stick", "schedule", "clock", "meter"});
        bool live = false;
        if (const toml::node* n = root.get("readings")) live = readingsChoice(*n);
        if (const toml::node* n = root.get("stick")) rig_->stick = text(*n, "a serial number or a port");
        if (const toml::node* n = root.get("schedule")) schedule(table(*n));
        if (const toml::node* n = root.get("clock")) clock(table(*n));
        const toml::node* meters = root.get("meter");
        if (meters == nullptr || !meters->is_array_of_tables() || meters->as_array()->empty())
            fail(meters != nullptr ? *meters : static_cast<const toml::node&>(root),
                 "a rig needs at least one [[meter]] table");
        const toml::array& list = *meters->as_array();
        if (list.size() > kMaxRigMeters) fail(list, "more than " + std::to_string(kMaxRigMeters) + " meters");
        rig_->meters.reserve(list.size());
        for (const toml::node& m : list) meter(*m.as_table(), live);
        const bool clockShown =
            std::any_of(rig_->meters.begin(), rig_->meters.end(), [](const SimMeter& m) { return m.live; });
        if (const toml::node* n = root.get("clock"); n != nullptr && !clockShown)
            noEffect(*n->as_table(), {"start", "speed"},
                     "with readings = \"fixed\" on every meter (the fixed block carries its own date; readings = "
                     "\"live\" uses the clock)");
        return true;
    }

    [[noreturn]] void fail(const toml::node& at, const std::string& what) { fail(at.source(), what); }
    [[noreturn]] void fail(const toml::source_region& at, const std::string& what) {
        throw RigError{name_ + ":" + std::to_string(at.begin.line) + ":" + std::to_string(at.begin.column) + ": " +
                       what};
    }

private:
    void allowKeys(const toml::table& t, std::initializer_list<const char*> keys) {
        for (auto&& [key, node] : t) {
            bool known = false;
            for (const char* k : keys) known = known || key.str() == k;
            if (!known) fail(key.source(), "unknown key \"" + std::string(key.str()) + "\"");
        }
    }

    const toml::table& table(const toml::node& n) {
        if (!n.is_table()) fail(n, "expected a table");
        return *n.as_table();
    }

    std::string text(const toml::node& n, const char* what) {
        if (!n.is_string()) fail(n, std::string("expected a string: ") + what);
        return *n.value<std::string>();
    }

    double number(const toml::node& n, double min, double max, const char* what) {
        if (!n.is_number()) fail(n, std::string("expected a number: ") + what);
        const double v = *n.value<double>();
        if (!(v >= min && v <= max))
            fail(n, std::string(what) + " must be from " + shortNumber(min) + " to " + shortNumber(max));
        return v;
    }

    int64_t whole(const toml::node& n, int64_t min, int64_t max, const char* what) {
        if (!n.is_integer()) fail(n, std::string("expected a whole number: ") + what);
        const int64_t v = *n.value<int64_t>();
        if (v < min || v > max)
            fail(n, std::string(what) + " must be from " + std::to_string(min) + " to " + std::to_string(max));
        return v;
    }

    // A time span the schedule counts in whole milliseconds: one that is
    // not would be rounded without a word.
    double milliseconds(const toml::node& n, double min, double max, const char* what) {
        const double v = number(n, min, max, what);
        if (std::fabs(v * 1000 - std::round(v * 1000)) > 1e-6)
            fail(n, std::string(what) + " must be whole milliseconds (the schedule counts milliseconds)");
        return v;
    }

    static std::string shortNumber(double v) {
        char s[32];
        std::snprintf(s, sizeof s, "%g", v);
        return s;
    }

    int64_t time(const toml::node& n) {
        if (n.is_date_time()) {
            const toml::date_time dt = *n.value<toml::date_time>();
            if (!dt.offset) fail(n, "a time needs its offset from UTC (Z)");
            if (dt.time.nanosecond != 0) fail(n, "a time in whole seconds (the meter clock counts seconds)");
            const int64_t t =
                unixTime(dt.date.year, dt.date.month, dt.date.day, dt.time.hour, dt.time.minute, dt.time.second) -
                int64_t(dt.offset->minutes) * 60;
            if (civilTime(t).year < 2000 || civilTime(t).year > 2099) fail(n, "a time from 2000 to 2099");
            return t;
        }
        int64_t t = 0;
        if (!n.is_string() || !parseMeterTime(*n.value<std::string>(), &t))
            fail(n, "a time such as \"2026-01-31T23:50:00Z\", from 2000 to 2099");
        return t;
    }

    bool readingsChoice(const toml::node& n) {
        const std::string v = text(n, "\"fixed\" or \"live\"");
        if (v != "fixed" && v != "live") fail(n, "readings must be \"fixed\" or \"live\"");
        return v == "live";
    }

    void hex(const toml::node& n, size_t bytes, uint8_t* out, const char* what) {
        const std::string v = text(n, what);
        if (v.size() != 2 * bytes)
            fail(n, std::string(what) + ": wrong length, " + std::to_string(2 * bytes) + " hexadecimal digits");
        for (char c : v)
            if (!std::isxdigit(static_cast<unsigned char>(c)))
                fail(n, std::string(what) + ": bad hex digit '" + std::string(1, c) + "'");
        hexToBytes(v.c_str(), out, bytes);
    }

    void schedule(const toml::table& t) {
        allowKeys(t, {"mode", "interval", "gap"});
        if (const toml::node* n = t.get("mode")) {
            const std::string v = text(*n, "\"turns\" or \"each\"");
            if (v != "turns" && v != "each") fail(*n, "schedule mode must be \"turns\" or \"each\"");
            rig_->schedule = v == "each" ? ScheduleMode::Each : ScheduleMode::Turns;
        }
        if (const toml::node* n = t.get("interval"))
            rig_->interval = milliseconds(*n, kMinInterval, kMaxInterval, "interval");
        if (const toml::node* n = t.get("gap")) rig_->gap = milliseconds(*n, 0, 3600, "gap");
        if (rig_->schedule == ScheduleMode::Turns) noEffectInTurns(t, {"gap"});
    }

    // Settings that would be read and then ignored are refused: a rig says
    // what is sent, never more.
    void noEffect(const toml::table& t, std::initializer_list<const char*> keys, const std::string& why) {
        for (const char* k : keys)
            if (const toml::node* n = t.get(k)) fail(*n, std::string(k) + " has no effect " + why);
    }
    void noEffectInTurns(const toml::table& t, std::initializer_list<const char*> keys) {
        noEffect(t, keys, "in schedule mode \"turns\" (mode = \"each\" uses it)");
    }

    void clock(const toml::table& t) {
        allowKeys(t, {"start", "speed"});
        if (const toml::node* n = t.get("start");
            n != nullptr && !(n->is_string() && *n->value<std::string>() == "now")) {
            rig_->startNow = false;
            rig_->start = time(*n);
        }
        if (const toml::node* n = t.get("speed")) rig_->speed = number(*n, 1e-6, kMaxSpeed, "speed");
    }

    void meter(const toml::table& t, bool liveByDefault) {
        allowKeys(t, {"address", "key", "security", "interval", "offset", "readings", "volume", "volume_uncorrected",
                      "flow", "battery_days", "fabrication", "error_flags", "events", "faults"});
        SimMeter m;
        const toml::node* address = t.get("address");
        if (address == nullptr) fail(t, "a meter needs its address (16 hexadecimal digits)");
        hex(*address, kAddressSize, m.record.manufacturer, "address");
        const std::string key(reinterpret_cast<const char*>(m.record.manufacturer), kAddressSize);
        if (!addresses_.insert(key).second) fail(*address, "duplicate address " + *address->value<std::string>());
        const toml::node* k = t.get("key");
        if (k != nullptr) hex(*k, 16, m.key, "key");
        m.security = k != nullptr ? Security::Mode7 : Security::None;
        if (const toml::node* n = t.get("security")) {
            const std::string v = text(*n, "\"none\", \"mode5\" or \"mode7\"");
            if (v == "none")
                m.security = Security::None;
            else if (v == "mode5" || v == "mode7")
                m.security = v == "mode5" ? Security::Mode5 : Security::Mode7;
            else
                fail(*n, "security must be \"none\", \"mode5\" or \"mode7\"");
            if (m.security != Security::None && k == nullptr) fail(*n, v + " needs the meter's key");
        }
        m.live = liveByDefault;
        if (const toml::node* n = t.get("readings")) m.live = readingsChoice(*n);
        if (!m.live)
            noEffect(t,
                     {"volume", "volume_uncorrected", "flow", "battery_days", "fabrication", "error_flags", "events"},
                     "with readings = \"fixed\" (the fixed block goes out as it is; readings = \"live\" uses it)");
        if (rig_->schedule == ScheduleMode::Turns) noEffectInTurns(t, {"interval", "offset"});
        ReadingsModel& r = m.readings;
        if (const toml::node* n = t.get("volume")) r.volume = number(*n, 0, 99999.999, "volume");
        if (const toml::node* n = t.get("volume_uncorrected"))
            r.volumeUncorrected = number(*n, 0, 99999.999, "volume_uncorrected");
        if (const toml::node* n = t.get("flow")) r.flow = number(*n, 0, 1e6, "flow");
        if (const toml::node* n = t.get("battery_days"))
            r.batteryDays = static_cast<uint32_t>(whole(*n, 0, 9999, "battery_days"));
        if (const toml::node* n = t.get("fabrication")) r.fabrication = fabrication(*n);
        if (const toml::node* n = t.get("error_flags"))
            r.errorFlags = static_cast<uint32_t>(whole(*n, 0, 0xFFFFFFFF, "error_flags"));
        if (const toml::node* n = t.get("events")) events(*n, &r);
        if (const toml::node* n = t.get("faults")) faults(*n, &m.faults);
        double interval = 0, offset = 0;
        if (const toml::node* n = t.get("interval"))
            interval = milliseconds(*n, kMinInterval, kMaxInterval, "interval");
        if (const toml::node* n = t.get("offset")) offset = milliseconds(*n, 0, kMaxInterval, "offset");
        rig_->meters.push_back(m);
        rig_->meterInterval.push_back(interval);
        rig_->meterOffset.push_back(offset);
    }

    uint32_t fabrication(const toml::node& n) {
        const std::string v = text(n, "8 digits");
        if (v.size() != 8 || v.find_first_not_of("0123456789") != std::string::npos)
            fail(n, "fabrication must be 8 digits");
        return static_cast<uint32_t>(std::stoul(v));
    }

    void events(const toml::node& n, ReadingsModel* r) {
        if (!n.is_array()) fail(n, "events must be a list of { at = TIME, error_flags = N }");
        for (const toml::node& e : *n.as_array()) {
            const toml::table& t = table(e);
            allowKeys(t, {"at", "error_flags"});
            const toml::node* at = t.get("at");
            const toml::node* flags = t.get("error_flags");
            if (at == nullptr || flags == nullptr) fail(e, "an event needs \"at\" and \"error_flags\"");
            r->events.emplace_back(time(*at), static_cast<uint32_t>(whole(*flags, 0, 0xFFFFFFFF, "error_flags")));
        }
        std::stable_sort(r->events.begin(), r->events.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
    }

    // faults = [ { kind = "bad-mac", every = 10 }, { kind = "replay", at = [3, 7] },
    //            { kind = "fuzz", probability = 0.2, seed = 42 } ]
    void faults(const toml::node& n, std::vector<FaultRule>* rules) {
        if (!n.is_array()) fail(n, "faults must be a list of { kind = ..., every | at | probability, seed }");
        for (const toml::node& f : *n.as_array()) {
            const toml::table& t = table(f);
            allowKeys(t, {"kind", "every", "at", "probability", "seed"});
            FaultRule r;
            r.seed = 1;
            const toml::node* kind = t.get("kind");
            if (kind == nullptr) fail(f, "a fault needs its kind");
            r.kind = faultKindOf(text(*kind, "a fault kind"));
            if (r.kind == FaultKind::None) fail(*kind, "unknown fault kind \"" + *kind->value<std::string>() + "\"");
            int ways = 0;
            if (const toml::node* e = t.get("every"))
                r.every = static_cast<uint32_t>(whole(*e, 1, 0xFFFFFFFF, "every")), ++ways;
            if (const toml::node* a = t.get("at")) {
                if (!a->is_array()) fail(*a, "at must be a list of telegram numbers");
                for (const toml::node& x : *a->as_array())
                    r.at.push_back(static_cast<uint64_t>(whole(x, 1, INT64_MAX, "a telegram number")));
                ++ways;
            }
            if (const toml::node* p = t.get("probability")) r.probability = number(*p, 1e-9, 1, "probability"), ++ways;
            if (const toml::node* sd = t.get("seed")) r.seed = static_cast<uint64_t>(whole(*sd, 0, INT64_MAX, "seed"));
            const std::string problem = faultRuleProblem(r, ways);
            if (!problem.empty()) fail(f, problem);
            if (ways == 0) r.every = 1;
            rules->push_back(r);
        }
    }

    std::string name_;
    Rig* rig_;
    std::set<std::string> addresses_;
};

}  // namespace

bool parseRig(const std::string& original, const std::string& name, Rig* rig, std::string* error) {
    std::string text = original;
    if (!checkTomlText(&text, name, error)) return false;
    toml::parse_result parsed = toml::parse(text, name);
    if (!parsed) {
        const toml::parse_error& e = parsed.error();
        *error = name + ":" + std::to_string(e.source().begin.line) + ":" + std::to_string(e.source().begin.column) +
                 ": " + std::string(e.description());
        return false;
    }
    Rig result;
    try {
        Reader(name, &result).read(parsed.table());
    } catch (const RigError& e) {
        *error = e.text;
        return false;
    }
    *rig = std::move(result);
    return true;
}

bool readRig(const std::string& path, Rig* rig, std::string* error) {
    std::string text;
    return readRigText(path, &text, error) && parseRig(text, path, rig, error);
}

}  // namespace vdx
