#include "tools/sdr_options.h"

#include "tools/cli.h"

namespace vdx {
namespace {

enum : int { kSdr = 0x200, kRate, kGain, kPpm, kAntenna, kList, kDuty, kOverride };

}  // namespace

const option kSdrOptions[] = {{"sdr", required_argument, nullptr, kSdr},
                              {"sdr-rate", required_argument, nullptr, kRate},
                              {"tx-gain", required_argument, nullptr, kGain},
                              {"ppm", required_argument, nullptr, kPpm},
                              {"sdr-antenna", required_argument, nullptr, kAntenna},
                              {"list-sdr", no_argument, nullptr, kList},
                              {"duty-cycle", required_argument, nullptr, kDuty},
                              {"duty-cycle-override", no_argument, nullptr, kOverride},
                              {"mode", required_argument, nullptr, 'm'},
                              {"frame-format", required_argument, nullptr, 'B'}};

int sdrOption(int code, const char* arg, SdrCommand* o, std::string* problem) {
    SdrSettings& s = o->settings;
    const std::string a = arg != nullptr ? arg : "";
    bool ok = true;
    switch (code) {
        case kSdr:
            o->use = true, s.request.args = a;
            ok = !a.empty() || (*problem = "--sdr needs SoapySDR device arguments such as driver=hackrf", false);
            break;
        case kRate:
            ok = parseDecimal(arg, 10000, kMostSampleRateHz, &s.request.rateHz) ||
                 (*problem = "--sdr-rate needs hertz from 10000 to 200000000", false);
            break;
        case kGain:
            s.request.gainSet = true;
            ok = parseDecimal(arg, -100, 200, &s.request.gainDb) ||
                 (*problem = "--tx-gain needs decibels from -100 to 200", false);
            break;
        case kPpm:
            ok = parseDecimal(arg, -1000, 1000, &s.request.ppm) ||
                 (*problem = "--ppm needs parts per million from -1000 to 1000", false);
            break;
        case kAntenna:
            s.request.antenna = a;
            ok = !a.empty() || (*problem = "--sdr-antenna needs the name of an antenna (--list-sdr lists them)", false);
            break;
        case kList:
            o->list = true;
            break;
        case kDuty:
            o->dutySet = true;
            ok = (parseDecimal(arg, 0, 100, &s.dutyPercent) && s.dutyPercent > 0) ||
                 (*problem = "--duty-cycle needs a share of the hour in percent, above 0 and at most 100", false);
            break;
        case kOverride:
            s.dutyOverride = true;
            break;
        case 'm':
            ok = parseRadioMode(a, &s.mode) || (*problem = "--mode needs " + radioModeNames(), false);
            break;
        case 'B':
            s.format = a == "b" ? FrameFormat::B : FrameFormat::A;
            ok = a == "a" || a == "b" || (*problem = "--frame-format needs a or b", false);
            break;
        default:
            return 0;
    }
    o->settingsGiven = o->settingsGiven || (code != kSdr && code != kList);
    return ok ? 1 : -1;
}

std::string sdrConflict(const SdrCommand& o, bool stickChosen) {
    if (o.list && (o.use || o.settingsGiven)) return "--list-sdr goes alone";
    if (o.settingsGiven && !o.use)
        return "--sdr-rate, --tx-gain, --ppm, --sdr-antenna, --duty-cycle, --mode and --frame-format go with --sdr";
    if (o.use && stickChosen) return "--sdr and --stick do not go together";
    if (o.settings.dutyOverride && !o.dutySet) return "--duty-cycle-override goes with --duty-cycle PERCENT";
    return "";
}

}  // namespace vdx
