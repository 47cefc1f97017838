#include "tools/telegram_source.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "config/fault_spec.h"
#include "session/configuration.h"
#include "session/schedule.h"
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

// Why `rule` cannot apply to meter `i`: its security, the output, and what
// the tool adds; empty when it can.
std::string problemFor(const SourceOptions& o, const FaultRule& rule, const Rig& rig, size_t i) {
    std::string problem = faultProblem(rule, faultTarget(rig.meters[i]), o.output);
    if (problem.empty() && o.meterFaultProblem) problem = o.meterFaultProblem(rule, rig, i);
    return problem;
}

// Adds a --fault rule to the meters that can take it. 0, or 2 when none
// can; either way one line tells which meters were left out and why.
int addCommandLineFault(const char* program, const FaultRule& rule, const std::string& spec, const SourceOptions& o,
                        Rig* rig) {
    LeftOut left;
    size_t taken = 0;
    for (size_t i = 0; i < rig->meters.size(); ++i) {
        const std::string problem = problemFor(o, rule, *rig, i);
        if (problem.empty())
            rig->meters[i].faults.push_back(rule), ++taken;
        else
            left.add(problem, i);
    }
    if (left.empty()) return 0;
    tell(program, left.text("--fault " + spec, taken, *rig));
    return taken == 0 ? 2 : 0;
}

}  // namespace

std::string sessionReuseLine(const Rig& rig, double intervalOverride) {
    const auto tables = sessionReuse(rig, intervalOverride);
    if (tables.empty()) return "";
    std::string text = "ell-ctr ";
    for (size_t i = 0; i < tables.size(); ++i) {
        char rate[32];
        std::snprintf(rate, sizeof rate, "%.0f", tables[i].second);
        text += (i > 0 ? "; " : "") + meterList({tables[i].first}, rig) + ": up to " + rate +
                " telegrams in one meter minute";
    }
    return text +
           ". A real meter sends at most 16 (its ELL session number is the minute and a 4-bit counter): the session "
           "numbers and the AES-CTR keystream repeat (\"session_reused\" in the JSON)";
}

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

void LeftOut::add(const std::string& why, size_t meter) {
    auto group = std::find_if(groups_.begin(), groups_.end(), [&](const auto& g) { return g.first == why; });
    if (group == groups_.end()) group = groups_.insert(groups_.end(), {why, {}});
    group->second.push_back(meter);
}

std::string LeftOut::text(const std::string& choice, size_t taken, const Rig& rig) const {
    if (groups_.empty()) return "";
    if (taken == 0 && groups_.size() == 1) return choice + ": " + groups_[0].first;
    std::string text = choice + (taken == 0 ? " applies to no meter: " : " leaves out ");
    for (size_t g = 0; g < groups_.size(); ++g)
        text += (g > 0 ? "; " : "") + meterList(groups_[g].second, rig) + ": " + groups_[g].first;
    return text;
}

int loadTelegramSource(const char* program, const SourceOptions& o, Rig* rig) {
    if (const int status = loadMeters(program, o, rig)) return status;
    for (size_t i = 0; i < rig->meters.size(); ++i) {
        for (const FaultRule& r : rig->meters[i].faults) {
            const std::string problem = problemFor(o, r, *rig, i);
            if (problem.empty()) continue;
            tell(program, meterList({i}, *rig) + ": " + problem);
            return 2;
        }
    }
    for (size_t k = 0; k < o.faults.size(); ++k) {
        const std::string spec = k < o.faultTexts.size() ? o.faultTexts[k] : faultName(o.faults[k].kind);
        if (const int status = addCommandLineFault(program, o.faults[k], spec, o, rig)) return status;
    }
    return 0;
}

}  // namespace vdx
