// verdanox-frames: prints the stick frames that the send cycle hands to the
// stick, one per line in upper-case hexadecimal, without a stick.
#include <getopt.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "config/fault_spec.h"
#include "session/rig_run.h"
#include "session/startup.h"
#include "session/telegram_record.h"
#include "telegram/frames.h"
#include "telegram/radio.h"
#include "tools/cli.h"
#include "tools/telegram_source.h"

namespace {

const char kUsage[] =
    "usage: verdanox-frames [--config FILE | --rig FILE] [--ticks N] [--plain] [--interval SECONDS]\n"
    "                       [--format stick|radio|radio-crc] [--fault SPEC]... [--json]\n"
    "       verdanox-frames --help | --version\n";

const char kHelp[] =
    "Reads the meter configuration as Verdanox does (\"VDXconfig.txt\" in the\n"
    "current directory unless --config names another file), or a rig file,\n"
    "and prints the first N telegrams in the order they would be sent, without\n"
    "a stick: every stick frame, one per line, in upper-case hexadecimal; or,\n"
    "with --format radio, each telegram as the wireless M-Bus frame a receiver\n"
    "passes to its decoder; or, with --json, one JSON object per telegram with\n"
    "its time after the first, security mode, readings and frames.\n\n"
    "  -c, --config FILE  configuration file to read\n"
    "  -r, --rig FILE     a rig file (TOML) instead\n"
    "  -n, --ticks N      number of telegrams (default 10)\n"
    "  -p, --plain        plain telegrams instead of security mode 7 (not with\n"
    "                     --rig)\n"
    "  -i, --interval S   seconds between telegrams (default 5; with a rig: its\n"
    "                     interval, every meter's in \"each\")\n"
    "  -F, --fault SPEC   KIND[:every=N|:at=N,M|:probability=P][:seed=S]:\n"
    "                     telegrams a receiver must refuse, for every meter\n"
    "                     (repeatable); the kinds of verdanox-send, and\n"
    "                     bad-crc with --format radio-crc\n"
    "  -j, --json         one JSON object per telegram\n"
    "  -f, --format F     stick (default): the address frame and the telegram\n"
    "                     frame as handed to the stick; radio: one line per\n"
    "                     telegram, L, C, M and A fields, then the rest of the\n"
    "                     telegram; radio-crc: the same in frame format A with\n"
    "                     the CRC blocks of EN 13757-4\n"
    "  -h, --help         print this text\n"
    "  -V, --version      print the version\n\n"
    "Exit status: 0 on success, 1 when the --config or --rig file cannot be read\n"
    "or standard output cannot be written, 2 on a bad option, a rig file that is\n"
    "not right or a fault that cannot apply.\n";

const char kProgram[] = "verdanox-frames";

int usageError(const std::string& what) { return vdx::usageError(kProgram, what, kUsage); }

void printHex(const uint8_t* data, size_t size) { std::printf("%s\n", vdx::hexText(data, size).c_str()); }

enum class Format { Stick, Radio, RadioCrc };

bool parseFormat(const char* text, Format* out) {
    if (text == nullptr) return false;
    const std::string f = text;
    if (f == "stick")
        *out = Format::Stick;
    else if (f == "radio")
        *out = Format::Radio;
    else if (f == "radio-crc")
        *out = Format::RadioCrc;
    else
        return false;
    return true;
}

// One telegram in the chosen format: its two stick frames, or the radio
// frame a receiver passes to its decoder.
void printTelegram(const vdx::SentTelegram& t, Format format) {
    if (format == Format::Stick) {
        printHex(t.addressFrame, vdx::kAddressFrameSize);
        printHex(t.telegramFrame, vdx::stickFrameSize(t.telegramFrame));
        return;
    }
    std::vector<uint8_t> radio = vdx::radioFrame(t.addressFrame, t.telegramFrame);
    if (format == Format::RadioCrc) radio = vdx::withFormatACrcs(radio);
    if (t.fault == vdx::FaultKind::BadCrc) radio[10] ^= 0xFF;  // the first block's CRC, high byte
    printHex(radio.data(), radio.size());
}

struct Options {
    vdx::SourceOptions source;
    double interval = 0;  // 0: the default or the rig's
    long ticks = 10;
    bool json = false;
    Format format = Format::Stick;
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
                                      {"format", required_argument, nullptr, 'f'},
                                      {"help", no_argument, nullptr, 'h'},
                                      {"version", no_argument, nullptr, 'V'},
                                      {nullptr, 0, nullptr, 0}};
    opterr = 0;
    for (int c; (c = getopt_long(argc, argv, ":c:r:i:n:pjF:f:hV", kOptions, nullptr)) != -1;) {
        switch (c) {
            case 'c':
                o->source.config = optarg;
                break;
            case 'r':
                o->source.rig = optarg;
                break;
            case 'i':
                if (!vdx::parseDecimal(optarg, 0.1, 86400, &o->interval))
                    return usageError("--interval needs seconds from 0.1 to 86400");
                break;
            case 'j':
                o->json = true;
                break;
            case 'F': {
                vdx::FaultRule rule;
                std::string problem;
                if (!vdx::parseFaultSpec(optarg, &rule, &problem)) return usageError("--fault " + problem);
                o->source.faults.push_back(rule);
                break;
            }
            case 'n':
                if (!vdx::parseWhole(optarg, 0, 100000000L, &o->ticks))
                    return usageError("--ticks needs a whole number from 0 to 100000000");
                break;
            case 'p':
                o->source.plain = true;
                break;
            case 'f':
                if (!parseFormat(optarg, &o->format)) return usageError("--format needs stick, radio or radio-crc");
                break;
            default:
                return vdx::sharedOption(c, kProgram, kUsage, kHelp, argv[optind - 1]);
        }
    }
    return vdx::noArgumentsLeft(optind, argc, argv, kProgram, kUsage);
}

}  // namespace

int main(int argc, char** argv) {
    vdx::prepareProcess();
    Options o;
    if (const int status = parse(argc, argv, &o)) return status < 0 ? 0 : status;

    // as the program: without the default file every address and key is
    // zero; a file named on the command line must be readable
    if (o.interval > 0) o.source.interval = o.interval;
    static const char* const kOutputs[] = {"stick", "radio", "radio-crc"};
    o.source.output = kOutputs[static_cast<int>(o.format)];
    vdx::Rig rig;
    if (const int status = vdx::loadTelegramSource(kProgram, o.source, &rig)) return status;
    vdx::RigRun run(std::move(rig), o.source.rig != nullptr ? o.interval : 0, std::time(nullptr));
    for (long t = 0; t < o.ticks; ++t) {
        const vdx::RigRun::Planned p = run.next();
        if (!o.json) {
            printTelegram(p.telegram, o.format);
            continue;
        }
        vdx::TelegramRecord record = vdx::telegramRecord(p.telegram, "");
        record.offset = p.atMs / 1000.0;
        std::printf("%s\n", vdx::jsonLine(record).c_str());
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
