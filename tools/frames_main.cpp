// verdanox-frames: prints the stick frames that the send cycle hands to the
// stick, one per line in upper-case hexadecimal, without a stick.
#include <getopt.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "config/fault_spec.h"
#include "session/rig_run.h"
#include "session/startup.h"
#include "session/telegram_record.h"
#include "telegram/frames.h"
#include "telegram/radio.h"
#include "tools/air_output.h"
#include "tools/cli.h"
#include "tools/run_summary.h"
#include "tools/telegram_source.h"

namespace {

const char kUsage[] =
    "usage: verdanox-frames [--config FILE | --rig FILE] [--ticks N] [--plain] [--interval SECONDS]\n"
    "                       [--format stick|radio|radio-crc|iq] [--frame-format a|b] [--fault SPEC]... [--json]\n"
    "                       [--output FILE --mode t1|c1 --sample-rate HZ --iq-format cu8|cs8|cs16 --snr DB\n"
    "                        --freq-offset HZ --clock-ppm PPM --seed S --gap-ms MS]\n"
    "       verdanox-frames --help | --version\n";

const char kHelp[] =
    "Reads the meter configuration as Verdanox does (\"VDXconfig.txt\" in the\n"
    "current directory unless --config names another file), or a rig file,\n"
    "and prints the first N telegrams in the order they would be sent, without\n"
    "a stick: every stick frame, one per line, in upper-case hexadecimal; or,\n"
    "with --format radio, each telegram as the wireless M-Bus frame a receiver\n"
    "passes to its decoder; or, with --json, one JSON object per telegram with\n"
    "its time after the run's start, security mode, readings and frames.\n\n"
    "  -c, --config FILE  configuration file to read\n"
    "  -r, --rig FILE     a rig file (TOML) instead\n"
    "  -n, --ticks N      number of telegrams (default 10)\n"
    "  -p, --plain        plain telegrams instead of security mode 7 (not with\n"
    "                     --rig)\n"
    "  -i, --interval S   seconds between telegrams, whole milliseconds\n"
    "                     (default 5; with a rig: its interval, every meter's\n"
    "                     in \"each\")\n"
    "  -F, --fault SPEC   KIND[:every=N|:at=N,M|:probability=P][:seed=S]:\n"
    "                     telegrams a receiver must refuse, for every meter\n"
    "                     that can take them (repeatable); the kinds of\n"
    "                     verdanox-send, and\n"
    "                     bad-crc with --format radio-crc or iq\n"
    "  -j, --json         one JSON object per telegram\n"
    "  -f, --format F     stick (default): the address frame and the telegram\n"
    "                     frame as handed to the stick; radio: one line per\n"
    "                     telegram, L, C, M and A fields, then the rest of the\n"
    "                     telegram; radio-crc: the same with the CRC blocks of\n"
    "                     EN 13757-4; iq: the samples an SDR would record, to\n"
    "                     the --output file\n"
    "  --frame-format a|b CRC blocks of frame format A (default) or B\n"
    "  -o, --output FILE  where the iq samples go (- for standard output)\n"
    "  --mode t1|c1       T1 (3-out-of-6, format A; default) or C1 (NRZ)\n"
    "  --sample-rate HZ   a multiple of 100000 from 400000 to 10000000\n"
    "                     (default 1200000)\n"
    "  --iq-format F      cu8 (default), cs8 or cs16 interleaved I/Q\n"
    "  --snr DB           white noise: signal power over noise power across\n"
    "                     the whole sampled bandwidth (default: none)\n"
    "  --freq-offset HZ   the carrier off the channel's centre\n"
    "  --clock-ppm PPM    chip-rate error\n"
    "  --seed S           of the noise (default 1)\n"
    "  --gap-ms MS        silence or noise around each telegram (default 5)\n"
    "  -h, --help         print this text\n"
    "  -V, --version      print the version\n\n"
    "Exit status: 0 on success, 1 when the --config or --rig file cannot be read\n"
    "or standard output cannot be written, 2 on a bad option, a rig file that is\n"
    "not right, a fault that cannot apply or a meter time that would pass\n"
    "2099-12-31 23:59:59.\n";

const char kProgram[] = "verdanox-frames";

int usageError(const std::string& what) { return vdx::usageError(kProgram, what, kUsage); }

bool printHex(const uint8_t* data, size_t size) { return vdx::putLine(vdx::hexText(data, size)); }

enum class Format { Stick, Radio, RadioCrc, Iq };
const char* const kFormats[] = {"stick", "radio", "radio-crc", "iq"};

bool parseFormat(const char* text, Format* out) {
    for (int f = 0; f < 4; ++f)
        if (std::strcmp(text, kFormats[f]) == 0) return *out = static_cast<Format>(f), true;
    return false;
}

// One telegram in the chosen format: its two stick frames, or the radio
// frame a receiver passes to its decoder, without or with its CRCs. False
// when standard output failed.
bool printTelegram(const vdx::SentTelegram& t, Format format, vdx::FrameFormat frameFormat) {
    if (format == Format::Stick)
        return printHex(t.addressFrame, vdx::kAddressFrameSize) &&
               printHex(t.telegramFrame, vdx::stickFrameSize(t.telegramFrame));
    const std::vector<uint8_t> radio =
        format == Format::Radio ? vdx::radioFrame(t.addressFrame, t.telegramFrame) : vdx::airFrame(t, frameFormat);
    return printHex(radio.data(), radio.size());
}

struct Options {
    vdx::SourceOptions source;
    double interval = 0;  // 0: the default or the rig's
    long ticks = 10;
    bool json = false;
    Format format = Format::Stick;
    vdx::IqSettings iq;
};

// The options of --format iq and --frame-format; false with the problem.
bool parseAirOption(int c, const char* arg, vdx::IqSettings* iq, std::string* problem) {
    long whole = 0;
    double v = 0;
    const std::string a = arg;
    switch (c) {
        case 'o':
            iq->path = a;
            return !a.empty() || (*problem = "--output needs a file name, or - for standard output", false);
        case 'm':
            iq->mode = a == "c1" ? vdx::RadioMode::C1 : vdx::RadioMode::T1;
            return a == "t1" || a == "c1" || (*problem = "--mode needs t1 or c1", false);
        case 'B':
            iq->format = a == "b" ? vdx::FrameFormat::B : vdx::FrameFormat::A;
            return a == "a" || a == "b" || (*problem = "--frame-format needs a or b", false);
        case 'R':
            if (!vdx::parseWhole(arg, 400000, 10000000, &whole) || !vdx::validSampleRate(whole))
                return *problem = "--sample-rate needs a whole multiple of 100000 from 400000 to 10000000", false;
            iq->modem.sampleRate = static_cast<uint32_t>(whole);
            return true;
        case 'Q':
            iq->modem.format = a == "cs8" ? vdx::IqFormat::Cs8 : a == "cs16" ? vdx::IqFormat::Cs16 : vdx::IqFormat::Cu8;
            return a == "cu8" || a == "cs8" || a == "cs16" || (*problem = "--iq-format needs cu8, cs8 or cs16", false);
        case 'S':
            return vdx::parseDecimal(arg, -50, 100, &iq->modem.snrDb) ||
                   (*problem = "--snr needs decibels from -50 to 100", false);
        case 'O':
            return vdx::parseDecimal(arg, -200000, 200000, &iq->modem.freqOffsetHz) ||
                   (*problem = "--freq-offset needs hertz from -200000 to 200000", false);
        case 'P':
            return vdx::parseDecimal(arg, -10000, 10000, &iq->modem.clockPpm) ||
                   (*problem = "--clock-ppm needs parts per million from -10000 to 10000", false);
        case 'e':
            if (!vdx::parseWhole(arg, 0, LONG_MAX, &whole)) return *problem = "--seed needs a whole number", false;
            iq->modem.seed = static_cast<uint64_t>(whole);
            return true;
        case 'G':
            if (!vdx::parseDecimal(arg, 0, 60000, &v))
                return *problem = "--gap-ms needs milliseconds up to 60000", false;
            iq->gapMs = v;
            return true;
    }
    return *problem = "?", false;
}

// 0 to go on, otherwise the exit status (-1: done, status 0).
int parse(int argc, char** argv, Options* o) {
    static const option kOptions[] = {{"config", required_argument, nullptr, 'c'},
                                      {"rig", required_argument, nullptr, 'r'},
                                      {"interval", required_argument, nullptr, 'i'},
                                      {"ticks", required_argument, nullptr, 'n'},
                                      {"plain", no_argument, nullptr, 'p'},
                                      {"json", no_argument, nullptr, 'j'},
                                      {"fault", required_argument, nullptr, 'F'},
                                      {"output", required_argument, nullptr, 'o'},
                                      {"mode", required_argument, nullptr, 'm'},
                                      {"frame-format", required_argument, nullptr, 'B'},
                                      {"sample-rate", required_argument, nullptr, 'R'},
                                      {"iq-format", required_argument, nullptr, 'Q'},
                                      {"snr", required_argument, nullptr, 'S'},
                                      {"freq-offset", required_argument, nullptr, 'O'},
                                      {"clock-ppm", required_argument, nullptr, 'P'},
                                      {"seed", required_argument, nullptr, 'e'},
                                      {"gap-ms", required_argument, nullptr, 'G'},
                                      {"format", required_argument, nullptr, 'f'},
                                      {"help", no_argument, nullptr, 'h'},
                                      {"version", no_argument, nullptr, 'V'},
                                      {nullptr, 0, nullptr, 0}};
    opterr = 0;
    std::string problem;
    static const char kShort[] = ":c:r:i:n:pjF:f:o:m:B:R:Q:S:O:P:e:G:hV";
    for (int c; (c = getopt_long(argc, argv, kShort, kOptions, nullptr)) != -1;) {
        if (const int taken = vdx::sourceOption(c, optarg, &o->source, &o->interval, &problem)) {
            if (taken < 0) return usageError(problem);
            continue;
        }
        switch (c) {
            case 'j':
                o->json = true;
                break;
            case 'n':
                if (!vdx::parseWhole(optarg, 0, 100000000L, &o->ticks))
                    return usageError("--ticks needs a whole number from 0 to 100000000");
                break;
            case 'f':
                if (!parseFormat(optarg, &o->format)) return usageError("--format needs stick, radio, radio-crc or iq");
                break;
            case 'o':
            case 'm':
            case 'B':
            case 'R':
            case 'Q':
            case 'S':
            case 'O':
            case 'P':
            case 'e':
            case 'G': {
                std::string problem;
                if (!parseAirOption(c, optarg, &o->iq, &problem)) return usageError(problem);
                break;
            }
            default:
                return vdx::sharedOption(c, kProgram, kUsage, kHelp, optopt, argv[optind - 1], kShort);
        }
    }
    if (const int status = vdx::noArgumentsLeft(optind, argc, argv, kProgram, kUsage)) return status;
    if ((o->format == Format::Iq) != !o->iq.path.empty())
        return usageError("--format iq and --output FILE go together");
    if (o->format == Format::Iq && o->iq.mode == vdx::RadioMode::T1 && o->iq.format == vdx::FrameFormat::B)
        return usageError("mode T1 sends frame format A only");
    if (o->json && o->iq.path == "-") return usageError("--json does not go with --output -");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    vdx::prepareProcess();
    Options o;
    if (const int status = parse(argc, argv, &o)) return status < 0 ? 0 : status;

    // as the program: without the default file every address and key is
    // zero; a file named on the command line must be readable
    if (o.interval > 0) o.source.interval = o.interval;
    o.source.output = kFormats[static_cast<int>(o.format)];
    vdx::Rig rig;
    if (const int status = vdx::loadTelegramSource(kProgram, o.source, &rig)) return status;
    const double intervalOverride = o.source.rig != nullptr ? o.interval : 0;
    if (const std::string busy = vdx::scheduleOverload(rig, intervalOverride); !busy.empty()) vdx::tell(kProgram, busy);
    vdx::RigRun run(std::move(rig), intervalOverride, std::time(nullptr));
    if (const std::string end = run.lengthProblem(static_cast<uint64_t>(o.ticks)); !end.empty())
        return vdx::tell(kProgram, end), 2;
    vdx::RunSummary summary;
    vdx::IqFile iq;
    std::string problem;
    if (o.format == Format::Iq && !iq.open(o.iq, &problem)) return vdx::tell(kProgram, problem), 1;
    for (long t = 0; t < o.ticks; ++t) {
        const vdx::RigRun::Planned p = run.next();
        if (p.pastEnd) return vdx::tell(kProgram, run.endProblem()), 2;
        summary.count(p, false);  // printed, not sent: only what could not apply and the skipped slots
        uint64_t first = 0, last = 0;
        if (o.format == Format::Iq && !iq.add(p.telegram, &first, &last)) break;
        if (!o.json) {
            if (o.format != Format::Iq && !printTelegram(p.telegram, o.format, o.iq.format)) break;
            continue;
        }
        vdx::TelegramRecord record = vdx::telegramRecord(p.telegram, "");
        record.offset = p.atMs / 1000.0;
        record.skipped = p.skipped;
        std::string line = vdx::jsonLine(record);
        if (o.format == Format::Iq)  // where the telegram lies in the capture
            line.insert(line.size() - 1,
                        ",\"first_sample\":" + std::to_string(first) + ",\"last_sample\":" + std::to_string(last));
        if (!vdx::putLine(line)) break;
    }
    const bool written = o.format != Format::Iq || iq.close();
    if (!written) vdx::tell(kProgram, "cannot write " + o.iq.path);
    if (const std::string counts = summary.text(); !counts.empty()) vdx::tell(kProgram, counts.substr(2));
    return vdx::finishOutput(kProgram) && written ? 0 : 1;
}
