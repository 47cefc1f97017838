// verdanox-frames: prints the stick frames that the send cycle hands to the
// stick, one per line in upper-case hexadecimal, without a stick.
#include <getopt.h>

#include <cstdio>
#include <string>
#include <vector>

#include "config/config.h"
#include "session/configuration.h"
#include "session/startup.h"
#include "telegram/frames.h"
#include "telegram/radio.h"
#include "telegram/send_cycle.h"
#include "tools/cli.h"

namespace {

const char kUsage[] =
    "usage: verdanox-frames [--config FILE] [--ticks N] [--plain] [--format stick|radio|radio-crc]\n"
    "       verdanox-frames --help | --version\n";

const char kHelp[] =
    "Reads the meter configuration as Verdanox does (\"VDXconfig.txt\" in the\n"
    "current directory unless --config names another file), presses Start and\n"
    "runs N send ticks, printing every stick frame written, one per line, in\n"
    "upper-case hexadecimal; or, with --format radio, each telegram as the\n"
    "wireless M-Bus frame a receiver passes to its decoder.\n\n"
    "  -c, --config FILE  configuration file to read\n"
    "  -n, --ticks N      number of send ticks (default 10)\n"
    "  -p, --plain        send plain telegrams instead of security mode 7\n"
    "  -f, --format F     stick (default): the address frame and the telegram\n"
    "                     frame as handed to the stick; radio: one line per\n"
    "                     telegram, L, C, M and A fields, then the rest of the\n"
    "                     telegram; radio-crc: the same in frame format A with\n"
    "                     the CRC blocks of EN 13757-4\n"
    "  -h, --help         print this text\n"
    "  -V, --version      print the version\n\n"
    "Exit status: 0 on success, 1 when the --config file cannot be read or\n"
    "standard output cannot be written, 2 on a bad option.\n";

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

// The writer of the send cycle: prints each frame, or keeps the address
// frame until its telegram comes and prints the radio frame of the two.
vdx::FrameWriter printer(Format format) {
    return [format, address = std::vector<uint8_t>()](const uint8_t* frame) mutable {
        const unsigned size = vdx::stickFrameSize(frame);
        if (format == Format::Stick) {
            printHex(frame, size);
        } else if (frame[0] == 0x01) {
            address.assign(frame, frame + size);
        } else {
            std::vector<uint8_t> radio = vdx::radioFrame(address.data(), frame);
            if (format == Format::RadioCrc) radio = vdx::withFormatACrcs(radio);
            printHex(radio.data(), radio.size());
        }
        return 1;
    };
}

struct Options {
    const char* config = nullptr;  // VDXconfig.txt here
    long ticks = 10;
    bool plain = false;
    Format format = Format::Stick;
};

// 0 to go on, otherwise the exit status (-1: done, status 0).
int parse(int argc, char** argv, Options* o) {
    static const option kOptions[] = {{"config", required_argument, nullptr, 'c'},
                                      {"ticks", required_argument, nullptr, 'n'},
                                      {"plain", no_argument, nullptr, 'p'},
                                      {"format", required_argument, nullptr, 'f'},
                                      {"help", no_argument, nullptr, 'h'},
                                      {"version", no_argument, nullptr, 'V'},
                                      {nullptr, 0, nullptr, 0}};
    opterr = 0;
    for (int c; (c = getopt_long(argc, argv, ":c:n:pf:hV", kOptions, nullptr)) != -1;) {
        switch (c) {
            case 'c':
                o->config = optarg;
                break;
            case 'n':
                if (!vdx::parseWhole(optarg, 0, 100000000L, &o->ticks))
                    return usageError("--ticks needs a whole number from 0 to 100000000");
                break;
            case 'p':
                o->plain = true;
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
    std::string problem;
    if (!vdx::loadConfiguration(o.config, &problem)) {
        vdx::tell(kProgram, problem);
        if (o.config != nullptr) return 1;
    }

    const auto noDisplay = [](int, const char*) {};
    vdx::startSending(noDisplay);
    const vdx::FrameWriter print = printer(o.format);
    for (long t = 0; t < o.ticks; ++t) vdx::sendTick(!o.plain, vdx::keyTable, print, noDisplay);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
