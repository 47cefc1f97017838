// A rig meter's events (error flags and the status byte from a meter time
// on) and its faults.
#include <algorithm>
#include <utility>
#include <vector>

#include "config/fault_spec.h"
#include "config/rig_reader.h"

namespace vdx {

// events = [ { at = TIME, error_flags = N }, { at = TIME, status = ["power-low", 0x20] } ]
void RigReader::events(const toml::node& n, ReadingsModel* r) {
    if (!n.is_array()) fail(n, "events must be a list of { at = TIME, error_flags = N, status = [...] }");
    std::vector<std::pair<int64_t, const toml::node*>> times;
    for (const toml::node& e : *n.as_array()) {
        const toml::table& t = table(e);
        allowKeys(t, {"at", "error_flags", "status"});
        const toml::node* at = t.get("at");
        const toml::node* flags = t.get("error_flags");
        const toml::node* status = t.get("status");
        if (at == nullptr || (flags == nullptr && status == nullptr))
            fail(e, "an event needs \"at\" and \"error_flags\" or \"status\"");
        const int64_t when = time(*at);
        times.emplace_back(when, at);
        if (flags != nullptr)
            r->events.emplace_back(when, static_cast<uint32_t>(whole(*flags, 0, 0xFFFFFFFF, "error_flags")));
        if (status == nullptr) continue;
        if (!status->is_array()) fail(*status, "status must be a list such as [\"power-low\", 0x20]");
        uint8_t byte = 0;
        int codes = 0;  // busy, error and alarm are the values 1-3 of one 2-bit code (bits 0-1)
        for (const toml::node& s : *status->as_array()) {
            uint8_t bits = 0;
            if (s.is_integer())
                bits = static_cast<uint8_t>(whole(s, 0, 255, "a status bit"));
            else if (!statusBits(text(s, "a status bit"), &bits))
                fail(s,
                     "status bits are \"busy\", \"error\", \"alarm\", \"power-low\", \"permanent-error\", "
                     "\"temporary-error\" or a number such as 0x20");
            if ((bits & 0x03) != 0 && ++codes > 1)
                fail(s,
                     "busy, error and alarm are one application status code (bits 0-1, EN 13757-3), not flags: "
                     "give at most one");
            byte |= bits;
        }
        r->statusEvents.emplace_back(when, byte);
    }
    const auto byTime = [](const auto& a, const auto& b) { return a.first < b.first; };
    std::stable_sort(times.begin(), times.end(), byTime);
    for (size_t i = 1; i < times.size(); ++i)
        if (times[i].first == times[i - 1].first)
            fail(*times[i].second, "two events at the same time: write them as one (error_flags and status together)");
    std::stable_sort(r->events.begin(), r->events.end(), byTime);
    std::stable_sort(r->statusEvents.begin(), r->statusEvents.end(), byTime);
}

// faults = [ { kind = "bad-mac", every = 10 }, { kind = "replay", at = [3, 7] },
//            { kind = "fuzz", probability = 0.2, seed = 42 } ]
void RigReader::faults(const toml::node& n, std::vector<FaultRule>* rules) {
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

}  // namespace vdx
