#include "tools/air_options.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

#include "tools/cli.h"
#include "tools/telegram_source.h"

namespace vdx {
namespace {

bool iqFormat(const std::string& a, IqFormat* f) {
    const char* const names[] = {"cu8", "cs8", "cs16", "cf32"};
    for (int i = 0; i < 4; ++i)
        if (a == names[i]) return *f = static_cast<IqFormat>(i), true;
    return false;
}

// Which outputs each air option takes effect in.
constexpr unsigned bit(LineFormat f) { return 1u << static_cast<int>(f); }
constexpr unsigned kIq = bit(LineFormat::Iq);
const struct {
    int code;
    const char* name;
    unsigned formats;
    const char* where;
} kTakesEffect[] = {
    {'o', "--output", kIq, "--format iq"},
    {kOptOutputDir, "--output-dir", kIq, "--format iq"},
    {'m', "--mode", kIq | bit(LineFormat::RadioCrc) | bit(LineFormat::Rtlwmbus), "--format iq, radio-crc or rtlwmbus"},
    {'B', "--frame-format", kIq | bit(LineFormat::RadioCrc), "--format iq or radio-crc"},
    {'R', "--sample-rate", kIq, "--format iq"},
    {'Q', "--iq-format", kIq, "--format iq"},
    {'S', "--snr", kIq, "--format iq"},
    {'O', "--freq-offset", kIq, "--format iq"},
    {kOptCentre, "--centre", kIq, "--format iq"},
    {'P', "--clock-ppm", kIq, "--format iq"},
    {'e', "--seed", kIq, "--format iq and --snr (it seeds the noise)"},
    {'G', "--gap-ms", kIq, "--format iq"},
};

// The lowest SNR whose noise clips at most kMaxClippedShare, to a tenth of
// a decibel, rounded up.
double lowestUnclippedSnr() {
    double low = -50, high = 100;
    while (high - low > 0.01) ((clippedShare((low + high) / 2) > kMaxClippedShare) ? low : high) = (low + high) / 2;
    return std::ceil(high * 10) / 10;
}

}  // namespace

std::string airChoiceProblem(const std::vector<int>& given, LineFormat format, bool json, const IqSettings& iq) {
    const bool noise = std::find(given.begin(), given.end(), 'S') != given.end();
    for (const int code : given)
        for (const auto& o : kTakesEffect)
            if (o.code == code && (!(o.formats & bit(format)) || (code == 'e' && !noise)))
                return std::string(o.name) + " takes effect only with " + o.where;
    if (json && format != LineFormat::Stick && format != LineFormat::Iq)
        return std::string("--json does not go with --format ") + lineFormatName(format) +
               ": its records would replace the lines";
    const double share =
        format == LineFormat::Iq && iq.modem.format != IqFormat::Cf32 ? clippedShare(iq.modem.snrDb) : 0;
    if (share <= kMaxClippedShare) return "";
    static const char* const kNames[] = {"cu8", "cs8", "cs16", "cf32"};
    char text[320];
    std::snprintf(text, sizeof text,
                  "--snr %g in %s: the noise would clip %.1f %% of the I and Q values at full scale and the capture "
                  "would hold less noise than asked; cu8, cs8 and cs16 take %.1f dB and above (at most %g %% "
                  "clipped), cf32 any SNR",
                  iq.modem.snrDb, kNames[static_cast<int>(iq.modem.format)], 100 * share, lowestUnclippedSnr(),
                  100 * kMaxClippedShare);
    return text;
}

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

RadioMode meterMode(const Rig& rig, size_t meter, RadioMode fallback) {
    return meter < rig.meterRadio.size() && rig.meterRadio[meter] ? *rig.meterRadio[meter] : fallback;
}

bool frameFormatChoice(const Rig& rig, const IqSettings& iq, std::string* leftOut) {
    leftOut->clear();
    if (iq.format != FrameFormat::B) return true;
    LeftOut left;
    size_t taken = 0;
    for (size_t i = 0; i < rig.meters.size(); ++i) {
        const RadioMode mode = meterMode(rig, i, iq.mode);
        if (sentFormat(mode, FrameFormat::B) == FrameFormat::B)
            ++taken;
        else
            left.add(std::string("mode ") + radioMode(mode).label + " sends frame format A only", i);
    }
    *leftOut = left.text("--frame-format b", taken, rig);
    return taken > 0;
}

std::string modeFaultProblem(const FaultRule& r, const Rig& rig, size_t meter, RadioMode fallback) {
    const RadioModeInfo& m = radioMode(meterMode(rig, meter, fallback));
    if (r.kind != FaultKind::BadThreeOfSix || m.coding == Coding::ThreeOutOfSix) return "";
    return std::string("bad-3of6 needs mode t1 (mode ") + m.label + " has no 3-out-of-6 code)";
}

}  // namespace vdx
