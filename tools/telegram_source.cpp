#include "tools/telegram_source.h"

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

}  // namespace

int loadTelegramSource(const char* program, const SourceOptions& o, Rig* rig) {
    if (const int status = loadMeters(program, o, rig)) return status;
    for (size_t i = 0, first = 0; i < rig->meters.size(); first += rig->meters[i++].count) {
        SimMeter& m = rig->meters[i];
        m.faults.insert(m.faults.end(), o.faults.begin(), o.faults.end());
        for (const FaultRule& r : m.faults) {
            const std::string problem = faultProblem(r, securityName(m.security), o.output);
            if (problem.empty()) continue;
            const std::string who =
                m.count == 1 ? "meter " + std::to_string(first)
                             : "meters " + std::to_string(first) + " to " + std::to_string(first + m.count - 1);
            tell(program, who + " (" + hexText(m.record.manufacturer, 8) + "): " + problem);
            return 2;
        }
    }
    return 0;
}

}  // namespace vdx
