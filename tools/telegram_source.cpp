#include "tools/telegram_source.h"

#include <algorithm>

#include "config/fault_spec.h"
#include "session/configuration.h"
#include "session/startup.h"
#include "session/telegram_record.h"
#include "tools/cli.h"

namespace vdx {

int sourceOption(int code, const char* arg, SourceOptions* o, double* interval, std::string* problem) {
    FaultRule rule;
    switch (code) {
        case 'c':
            o->config = arg;
            return 1;
        case 'r':
            o->rig = arg;
            return 1;
        case 'p':
            o->plain = true;
            return 1;
        case 'i':
            if (parseDecimal(arg, 0.1, 86400, interval)) return 1;
            *problem = "--interval needs seconds from 0.1 to 86400";
            return -1;
        case 'F':
            if (!parseFaultSpec(arg, &rule, problem)) return *problem = "--fault " + *problem, -1;
            o->faults.push_back(rule);
            o->faultTexts.emplace_back(arg);
            return 1;
    }
    return 0;
}

namespace {

int loadMeters(const char* program, const SourceOptions& o, Rig* rig) {
    std::string problem;
    if (o.rig == nullptr) {
        if (!loadConfiguration(o.config, &problem)) {
            tell(program, problem);
            if (o.config != nullptr) return 1;
        }
        *rig = configurationRig(o.plain, o.interval);
        return 0;
    }
    if (o.config != nullptr) return tell(program, "--rig and --config do not go together"), 2;
    if (o.plain) return tell(program, "--plain does not go with --rig: the rig says each meter's security"), 2;
    if (!readRig(o.rig, rig, &problem)) {
        tell(program, problem);
        return problem.rfind("cannot read ", 0) == 0 ? 1 : 2;
    }
    return 0;
}

// "meter 2 (9858825634120103)" for one meter, "meters 0-4, 7" for more:
// the meters of `tables`, those of a table with count = N one by one.
std::string meterList(const std::vector<size_t>& tables, const Rig& rig) {
    std::vector<size_t> first(rig.meters.size());
    for (size_t i = 0, n = 0; i < rig.meters.size(); n += rig.meters[i++].count) first[i] = n;
    std::vector<std::pair<size_t, size_t>> ranges;
    for (size_t t : tables) {
        const size_t lo = first[t], hi = lo + rig.meters[t].count - 1;
        if (!ranges.empty() && ranges.back().second + 1 == lo)
            ranges.back().second = hi;
        else
            ranges.emplace_back(lo, hi);
    }
    const std::string address = hexText(rig.meters[tables[0]].record.manufacturer, 8);
    if (tables.size() == 1 && rig.meters[tables[0]].count == 1)
        return "meter " + std::to_string(first[tables[0]]) + " (" + address + ")";
    std::string text = "meters ";
    for (size_t i = 0; i < ranges.size(); ++i)
        text += (i > 0 ? ", " : "") + std::to_string(ranges[i].first) +
                (ranges[i].second > ranges[i].first ? "-" + std::to_string(ranges[i].second) : "");
    return tables.size() == 1 ? text + " (" + address + " on)" : text;
}

// Adds a --fault rule to the meters that can take it. 0, or 2 when none
// can; either way one line tells which meters were left out and why.
int addCommandLineFault(const char* program, const FaultRule& rule, const std::string& spec, const std::string& output,
                        Rig* rig) {
    std::vector<std::pair<std::string, std::vector<size_t>>> left;  // why, and which meters, in meter order
    size_t taken = 0;
    for (size_t i = 0; i < rig->meters.size(); ++i) {
        SimMeter& m = rig->meters[i];
        const std::string problem = faultProblem(rule, securityName(m.security), output);
        if (problem.empty()) {
            m.faults.push_back(rule), ++taken;
            continue;
        }
        auto group = std::find_if(left.begin(), left.end(), [&](const auto& g) { return g.first == problem; });
        if (group == left.end()) group = left.insert(left.end(), {problem, {}});
        group->second.push_back(i);
    }
    if (left.empty()) return 0;
    if (taken == 0 && left.size() == 1) return tell(program, "--fault " + spec + ": " + left[0].first), 2;
    std::string text = "--fault " + spec + (taken == 0 ? " applies to no meter: " : " leaves out ");
    for (size_t g = 0; g < left.size(); ++g)
        text += (g > 0 ? "; " : "") + meterList(left[g].second, *rig) + ": " + left[g].first;
    tell(program, text);
    return taken == 0 ? 2 : 0;
}

}  // namespace

int loadTelegramSource(const char* program, const SourceOptions& o, Rig* rig) {
    if (const int status = loadMeters(program, o, rig)) return status;
    for (size_t i = 0; i < rig->meters.size(); ++i) {
        for (const FaultRule& r : rig->meters[i].faults) {
            const std::string problem = faultProblem(r, securityName(rig->meters[i].security), o.output);
            if (problem.empty()) continue;
            tell(program, meterList({i}, *rig) + ": " + problem);
            return 2;
        }
    }
    for (size_t k = 0; k < o.faults.size(); ++k) {
        const std::string spec = k < o.faultTexts.size() ? o.faultTexts[k] : faultName(o.faults[k].kind);
        if (const int status = addCommandLineFault(program, o.faults[k], spec, o.output, rig)) return status;
    }
    return 0;
}

}  // namespace vdx
