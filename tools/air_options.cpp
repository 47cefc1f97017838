#include "tools/air_options.h"

#include <climits>

#include "tools/cli.h"

namespace vdx {
namespace {

bool iqFormat(const std::string& a, IqFormat* f) {
    const char* const names[] = {"cu8", "cs8", "cs16", "cf32"};
    for (int i = 0; i < 4; ++i)
        if (a == names[i]) return *f = static_cast<IqFormat>(i), true;
    return false;
}

}  // namespace

int airOption(int code, const char* arg, IqSettings* iq, std::string* problem) {
    long whole = 0;
    const std::string a = arg != nullptr ? arg : "";
    bool ok = true;
    switch (code) {
        case 'o':
            iq->path = a;
            ok = !a.empty() || (*problem = "--output needs a file name, or - for standard output", false);
            break;
        case kOptOutputDir:
            iq->dir = a;
            ok = !a.empty() || (*problem = "--output-dir needs a folder", false);
            break;
        case 'm':
            ok = parseRadioMode(a, &iq->mode) || (*problem = "--mode needs " + radioModeNames(), false);
            break;
        case 'B':
            iq->format = a == "b" ? FrameFormat::B : FrameFormat::A;
            ok = a == "a" || a == "b" || (*problem = "--frame-format needs a or b", false);
            break;
        case 'R':
            ok = (parseWhole(arg, 100000, 10000000, &whole) && validSampleRate(whole)) ||
                 (*problem = "--sample-rate needs whole kilohertz from 100000 to 10000000 Hz", false);
            if (ok) iq->modem.sampleRate = static_cast<uint32_t>(whole);
            break;
        case 'Q':
            ok = iqFormat(a, &iq->modem.format) || (*problem = "--iq-format needs cu8, cs8, cs16 or cf32", false);
            break;
        case 'S':
            ok = parseDecimal(arg, -50, 100, &iq->modem.snrDb) ||
                 (*problem = "--snr needs decibels from -50 to 100", false);
            break;
        case 'O':
            ok = parseDecimal(arg, -200000, 200000, &iq->freqOffsetHz) ||
                 (*problem = "--freq-offset needs hertz from -200000 to 200000", false);
            break;
        case kOptCentre:
            ok = parseDecimal(arg, 1e6, 6e9, &iq->centreHz) ||
                 (*problem = "--centre needs hertz from 1000000 to 6000000000", false);
            break;
        case 'P':
            ok = parseDecimal(arg, -10000, 10000, &iq->modem.clockPpm) ||
                 (*problem = "--clock-ppm needs parts per million from -10000 to 10000", false);
            break;
        case 'e':
            ok = parseWhole(arg, 0, LONG_MAX, &whole) || (*problem = "--seed needs a whole number", false);
            if (ok) iq->modem.seed = static_cast<uint64_t>(whole);
            break;
        case 'G':
            ok = parseDecimal(arg, 0, 60000, &iq->gapMs) ||
                 (*problem = "--gap-ms needs milliseconds up to 60000", false);
            break;
        default:
            return 0;
    }
    return ok ? 1 : -1;
}

}  // namespace vdx
