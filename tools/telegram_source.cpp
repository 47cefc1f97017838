#include "tools/telegram_source.h"

#include <algorithm>
#include <cmath>

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
        case 'i':  // the schedule counts whole milliseconds
            if (parseDecimal(arg, 0.1, 86400, interval) &&
                std::fabs(*interval * 1000 - std::round(*interval * 1000)) < 1e-6)
                return 1;
            *problem = "--interval needs seconds from 0.1 to 86400, in whole milliseconds";
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

// "meter 2 (9858825634120103)" for one meter, "meters 0-4, 7" for more.
std::string meterList(const std::vector<size_t>& meters, const Rig& rig) {
    if (meters.size() == 1)
        return "meter " + std::to_string(meters[0]) + " (" + hexText(rig.meters[meters[0]].record.manufacturer, 8) +
               ")";
    std::string text = "meters ";
    for (size_t i = 0; i < meters.size();) {
        size_t j = i;
        while (j + 1 < meters.size() && meters[j + 1] == meters[j] + 1) ++j;
        text += (i > 0 ? ", " : "") + std::to_string(meters[i]) + (j > i ? "-" + std::to_string(meters[j]) : "");
        i = j + 1;
    }
    return text;
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
