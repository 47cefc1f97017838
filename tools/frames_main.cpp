// verdanox-frames: prints the stick frames that the send cycle hands to the
// stick, one per line in upper-case hexadecimal, without a stick; or the
// telegrams as receivers read them: radio frames, rtl_wmbus lines,
// simulation-file lines and I/Q captures of every radio mode.
#include <getopt.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "session/rig_run.h"
#include "session/startup.h"
#include "session/telegram_record.h"
#include "telegram/radio.h"
#include "tools/air_options.h"
#include "tools/air_output.h"
#include "tools/cli.h"
#include "tools/frame_lines.h"
#include "tools/run_summary.h"
#include "tools/telegram_source.h"

namespace {

const char kUsage[] =
    "usage: verdanox-frames [--config FILE | --rig FILE] [--ticks N] [--plain] [--interval SECONDS]\n"
    "                       [--format stick|radio|radio-crc|rtlwmbus|telegram-lines|iq] [--frame-format a|b]\n"
    "                       [--mode s1|s2|t1|r2|c1|f|n] [--fault SPEC]... [--json]\n"
    "                       [--output FILE | --output-dir DIR] [--sample-rate HZ] [--iq-format cu8|cs8|cs16|cf32]\n"
    "                       [--centre HZ] [--snr DB] [--freq-offset HZ] [--clock-ppm PPM] [--seed S] [--gap-ms MS]\n"
    "       verdanox-frames --help | --version\n";

const char kHelp[] =
    "Reads the meter configuration as Verdanox does (\"VDXconfig.txt\" in the\n"
    "current directory unless --config names another file), or a rig file,\n"
    "and prints the first N telegrams in the order they would be sent, without\n"
    "a stick: every stick frame, one per line, in upper-case hexadecimal; or\n"
    "each telegram as a receiver sees it (--format); or, with --json, one JSON\n"
    "object per telegram with its time after the run's start, security mode,\n"
    "data records and frames.\n\n"
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
    "                     verdanox-send, bad-crc with --format radio-crc or\n"
    "                     iq, length-mismatch with any output but stick, and\n"
    "                     bad-3of6 (T1), short-preamble and bad-sync with\n"
    "                     --format iq\n"
    "  -j, --json         one JSON object per telegram (with --format stick or\n"
    "                     iq); in a capture also where the telegram lies and\n"
    "                     how it was sent (frame format, sample format, SNR,\n"
    "                     offset, chip-rate error, the frame with its CRCs)\n"
    "  -f, --format F     stick (default): the address frame and the telegram\n"
    "                     frame as handed to the stick; radio: one line per\n"
    "                     telegram, L, C, M and A fields, then the rest of the\n"
    "                     telegram; radio-crc: the same with the CRC blocks of\n"
    "                     EN 13757-4; rtlwmbus: rtl_wmbus's lines\n"
    "                     (T1;1;1;TIME;97;148;ID;0xFRAME, T1, C1 or S1 from\n"
    "                     --mode); telegram-lines: telegram=|FRAME|+SECONDS;\n"
    "                     iq: the samples an SDR would record\n"
    "  --frame-format a|b CRC blocks of frame format A (default) or B, in\n"
    "                     radio-crc and iq: meters of a mode without B (S, T,\n"
    "                     R2) send A, named once on stderr\n"
    "  -m, --mode M       the radio mode of meters whose rig names none, with\n"
    "                     its channel, chip rate, coding, deviation, preamble\n"
    "                     pairs 01 and synchronisation chips (EN 13757-4):\n"
    "                     s1  868.3 MHz, 32.768 kcps Manchester, +-50 kHz, 279,\n"
    "                         000111011010010110, format A\n"
    "                     s2  the same with 15 preamble pairs\n"
    "                     t1  868.95 MHz, 100 kcps 3-out-of-6, +-50 kHz, 19,\n"
    "                         0000111101, format A (default)\n"
    "                     r2  868.33 MHz, 4.8 kcps Manchester, +-6 kHz, 39,\n"
    "                         000111011010010110, format A\n"
    "                     c1  868.95 MHz, 100 kcps NRZ, +-45 kHz, 16, 54 3D 54 CD\n"
    "                         (format A) or 54 3D 54 3D (B)\n"
    "                     f   433.82 MHz, 2.4 kcps NRZ, +-5.5 kHz, 39, F6 8D (A)\n"
    "                         or F6 72 (B)\n"
    "                     n   169.40625 MHz (channel 1a), 4.8 kcps NRZ, GFSK BT\n"
    "                         0.5, +-2.4 kHz, 8, F6 8D (A) or F6 72 (B)\n"
    "  -o, --output FILE  where the iq samples go (- for standard output)\n"
    "  --output-dir DIR   instead, one capture per telegram, named as rtl_433\n"
    "                     names its test files (g001_868.95M_1200k.cu8), with\n"
    "                     our JSON record of the telegram beside it\n"
    "                     (g001_...json); a folder of its own: one that holds\n"
    "                     g001_... files already is refused\n"
    "  --sample-rate HZ   whole kilohertz from 100000 to 10000000 (default\n"
    "                     1200000) that hold every channel: |its offset from\n"
    "                     the centre| + deviation + chip rate / 2 below half\n"
    "                     the sample rate\n"
    "  --iq-format F      cu8 (default), cs8, cs16 or cf32 interleaved I/Q\n"
    "  --centre HZ        the capture's centre frequency (default: the\n"
    "                     channel of --mode); each meter's channel must lie\n"
    "                     in the sampled band\n"
    "  --snr DB           white noise: signal power over noise power across\n"
    "                     the whole sampled bandwidth (default: none); cu8,\n"
    "                     cs8 and cs16 from 2.7 dB (below, noise would clip at\n"
    "                     full scale), cf32 any\n"
    "  --freq-offset HZ   every carrier off its channel's centre\n"
    "  --clock-ppm PPM    chip-rate error\n"
    "  --seed S           of the noise (default 1; with --snr)\n"
    "  --gap-ms MS        silence or noise around each telegram (default 5;\n"
    "                     rtl_433 22.11 misses telegrams less than 1 ms apart)\n"
    "  -h, --help         print this text\n"
    "  -V, --version      print the version\n\n"
    "Exit status: 0 on success, 1 when the --config or --rig file cannot be read\n"
    "or an output cannot be written, 2 on a bad option, a rig file that is not\n"
    "right, a fault or frame format that no meter can take, an option the\n"
    "output does not use, a channel outside the sampled band or a meter time\n"
    "that would pass 2099-12-31 23:59:59.\n";

const char kProgram[] = "verdanox-frames";

int usageError(const std::string& what) { return vdx::usageError(kProgram, what, kUsage); }

using vdx::LineFormat;

struct Options {
    vdx::SourceOptions source;
    double interval = 0;  // 0: the default or the rig's
    long ticks = 10;
    bool json = false;
    LineFormat format = LineFormat::Stick;
    vdx::IqSettings iq;
    std::vector<int> given;  // the air options on the command line
};

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
                                      {"output-dir", required_argument, nullptr, vdx::kOptOutputDir},
                                      {"mode", required_argument, nullptr, 'm'},
                                      {"frame-format", required_argument, nullptr, 'B'},
                                      {"sample-rate", required_argument, nullptr, 'R'},
                                      {"iq-format", required_argument, nullptr, 'Q'},
                                      {"snr", required_argument, nullptr, 'S'},
                                      {"freq-offset", required_argument, nullptr, 'O'},
                                      {"centre", required_argument, nullptr, vdx::kOptCentre},
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
        if (const int taken = vdx::airOption(c, optarg, &o->iq, &problem)) {
            if (taken < 0) return usageError(problem);
            o->given.push_back(c);
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
                if (!vdx::parseLineFormat(optarg, &o->format))
                    return usageError("--format needs stick, radio, radio-crc, rtlwmbus, telegram-lines or iq");
                break;
            default:
                return vdx::sharedOption(c, kProgram, kUsage, kHelp, optopt, argv[optind - 1], kShort);
        }
    }
    if (const int status = vdx::noArgumentsLeft(optind, argc, argv, kProgram, kUsage)) return status;
    const bool iq = o->format == LineFormat::Iq;
    if (iq != (!o->iq.path.empty() || !o->iq.dir.empty()))
        return usageError("--format iq and --output FILE or --output-dir DIR go together");
    if (!o->iq.path.empty() && !o->iq.dir.empty()) return usageError("--output and --output-dir do not go together");
    if (o->json && (o->iq.path == "-" || (!o->iq.path.empty() && vdx::isStandardOutput(o->iq.path))))
        return usageError("--json does not go with --output " + o->iq.path + ": it is standard output");
    if (const std::string no = vdx::airChoiceProblem(o->given, o->format, o->json, o->iq); !no.empty())
        return vdx::tell(kProgram, no), 2;
    return 0;
}

// Why telegrams of `mode` cannot go to the output: a channel outside the
// capture's band, rtl_wmbus lines of a mode rtl_wmbus does not print; empty
// when they can.
std::string modeProblem(vdx::RadioMode mode, const Options& o) {
    if (o.format == LineFormat::Iq) return vdx::captureProblem(o.iq, mode);
    if (o.format == LineFormat::Rtlwmbus && !vdx::rtlwmbusMode(mode))
        return std::string("--format rtlwmbus takes modes t1, c1 and s1 (the lines rtl_wmbus prints), not ") +
               vdx::radioMode(mode).name;
    return "";
}

// Every meter's mode checked against the output, and --frame-format b
// given to the meters whose mode has it. 0, or 2 after saying why.
int checkModes(const vdx::Rig& rig, const Options& o) {
    for (size_t i = 0; i < rig.meters.size(); ++i) {
        const std::string problem = modeProblem(vdx::meterMode(rig, i, o.iq.mode), o);
        if (problem.empty()) continue;
        const bool ofMeter = i < rig.meterRadio.size() && rig.meterRadio[i];  // its own radio, not --mode
        vdx::tell(kProgram, ofMeter ? vdx::meterList({i}, rig) + ": " + problem : problem);
        return 2;
    }
    std::string leftOut;
    const bool formatTaken = vdx::frameFormatChoice(rig, o.iq, &leftOut);
    if (!leftOut.empty()) vdx::tell(kProgram, leftOut);
    return formatTaken ? 0 : 2;
}

// The JSON record of a telegram; in a capture with where it lies and how
// it was sent.
std::string jsonRecord(const vdx::RigRun::Planned& p, const Options& o, vdx::RadioMode mode, uint64_t first,
                       uint64_t last, const std::string& file) {
    vdx::TelegramRecord record = vdx::telegramRecord(p.telegram, "");
    record.offset = p.atMs / 1000.0;
    record.skipped = p.skipped;
    std::string line = vdx::jsonLine(record);
    if (o.format != LineFormat::Iq) return line;
    const std::string capture = vdx::captureJson(o.iq, mode, p.telegram, first, last, file);
    return line.insert(line.size() - 1, "," + capture.substr(1, capture.size() - 2));
}

}  // namespace

int main(int argc, char** argv) {
    vdx::prepareProcess();
    Options o;
    if (const int status = parse(argc, argv, &o)) return status < 0 ? 0 : status;

    // as the program: without the default file every address and key is
    // zero; a file named on the command line must be readable
    if (o.interval > 0) o.source.interval = o.interval;
    o.source.output = vdx::lineFormatName(o.format);
    o.source.meterFaultProblem = [&o](const vdx::FaultRule& r, const vdx::Rig& rig, size_t meter) {
        return vdx::modeFaultProblem(r, rig, meter, o.iq.mode);
    };
    vdx::Rig rig;
    if (const int status = vdx::loadTelegramSource(kProgram, o.source, &rig)) return status;
    // frame format B's L-field counts its CRCs: the longest telegrams do not fit
    const bool formatB =
        o.iq.format == vdx::FrameFormat::B && (o.format == LineFormat::RadioCrc || o.format == LineFormat::Iq);
    for (size_t i = 0; formatB && i < rig.meters.size(); ++i)
        if (vdx::meterTelegramSize(rig.meters[i]) > vdx::kMaxFormatBTelegramFrameSize)
            return vdx::tell(kProgram, "meter table " + std::to_string(i + 1) + ": its telegrams of " +
                                           std::to_string(vdx::meterTelegramSize(rig.meters[i])) +
                                           " bytes do not fit frame format B (at most " +
                                           std::to_string(vdx::kMaxFormatBTelegramFrameSize) + ")"),
                   2;
    const double intervalOverride = o.source.rig != nullptr ? o.interval : 0;
    if (const std::string busy = vdx::scheduleOverload(rig, intervalOverride); !busy.empty()) vdx::tell(kProgram, busy);
    if (const std::string reuse = vdx::sessionReuseLine(rig, intervalOverride); !reuse.empty())
        vdx::tell(kProgram, reuse);
    vdx::RigRun run(std::move(rig), intervalOverride, std::time(nullptr));
    if (const int status = checkModes(run.rig(), o)) return status;
    if (const std::string end = run.lengthProblem(static_cast<uint64_t>(o.ticks)); !end.empty())
        return vdx::tell(kProgram, end), 2;
    vdx::RunSummary summary;
    const bool iq = o.format == LineFormat::Iq;
    vdx::IqFile capture;
    std::string problem;
    if (iq && !capture.open(o.iq, &problem)) return vdx::tell(kProgram, problem), 1;
    bool ok = true;
    for (long t = 0; t < o.ticks && ok; ++t) {
        const vdx::RigRun::Planned p = run.next();
        if (p.pastEnd) return vdx::tell(kProgram, run.endProblem()), 2;
        summary.count(p, false);  // printed, not sent: only what could not apply and the skipped slots
        const vdx::RadioMode mode =
            vdx::meterMode(run.rig(), run.tableOf(static_cast<size_t>(p.telegram.meter)), o.iq.mode);
        uint64_t first = 0, last = 0;
        std::string file;
        if (iq && !capture.add(p.telegram, mode, &first, &last, &file, &problem)) break;
        if (!file.empty()) {  // the ground truth beside the capture; neither without the other
            const std::string truth = o.iq.dir + "/" + vdx::captureName(o.iq, static_cast<uint64_t>(t) + 1, ".json");
            ok = vdx::writeTextFile(truth, jsonRecord(p, o, mode, first, last, file) + "\n", &problem);
            if (!ok) std::remove((o.iq.dir + "/" + file).c_str());
        }
        if (o.json) {
            ok = ok && vdx::putLine(jsonRecord(p, o, mode, first, last, file));
        } else if (!iq) {
            const vdx::LineContext context{vdx::sentFormat(mode, o.iq.format), mode,
                                           run.rig().start * 1000 + static_cast<int64_t>(p.atMs), p.atMs};
            ok = ok && vdx::putText(vdx::telegramLines(p.telegram, o.format, context));
        }
    }
    ok = ok && problem.empty();
    if (iq && !capture.close(&problem)) ok = false;
    if (!problem.empty()) vdx::tell(kProgram, problem);
    if (const std::string counts = summary.text(); !counts.empty()) vdx::tell(kProgram, counts.substr(2));
    return vdx::finishOutput(kProgram) && ok ? 0 : 1;
}
