// verdanox-frames: prints the stick frames that the send cycle hands to the
// stick, one per line in upper-case hexadecimal, without a stick.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/config.h"
#include "session/configuration.h"
#include "session/startup.h"
#include "telegram/frames.h"
#include "telegram/radio.h"
#include "telegram/send_cycle.h"

namespace {

const char kUsage[] =
    "usage: verdanox-frames [--config FILE] [--ticks N] [--plain] [--format stick|radio|radio-crc]\n"
    "                       [--help] [--version]\n";

const char kHelp[] =
    "Reads the meter configuration as Verdanox does (\"VDXconfig.txt\" in the\n"
    "current directory unless --config names another file), presses Start and\n"
    "runs N send ticks, printing every stick frame written, one per line, in\n"
    "upper-case hexadecimal; or, with --format radio, each telegram as the\n"
    "wireless M-Bus frame a receiver passes to its decoder.\n\n"
    "  --config FILE  configuration file to read\n"
    "  --ticks N      number of send ticks (default 10)\n"
    "  --plain        send plain telegrams instead of security mode 7\n"
    "  --format F     stick (default): the address frame and the telegram frame\n"
    "                 as handed to the stick; radio: one line per telegram, L,\n"
    "                 C, M and A fields, then the rest of the telegram;\n"
    "                 radio-crc: the same in frame format A with the CRC blocks\n"
    "                 of EN 13757-4\n"
    "  --help         print this text\n"
    "  --version      print the version\n";

int usageError(const char* what) {
    std::fprintf(stderr, "verdanox-frames: %s\n%s", what, kUsage);
    return 2;
}

bool parseCount(const char* text, long* out) {
    if (text == nullptr || *text < '0' || *text > '9') return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < 0 || v > 100000000L) return false;
    *out = v;
    return true;
}

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

}  // namespace

int main(int argc, char** argv) {
    vdx::prepareProcess();
    const char* config = nullptr;
    long ticks = 10;
    bool plain = false;
    Format format = Format::Stick;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--version") == 0) {
            std::printf("verdanox-frames %s\n", vdx::kVersion);
            return 0;
        } else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            return 0;
        } else if (std::strcmp(arg, "--plain") == 0) {
            plain = true;
        } else if (std::strcmp(arg, "--config") == 0) {
            if (i + 1 >= argc) return usageError("--config needs a file name");
            config = argv[++i];
        } else if (std::strcmp(arg, "--format") == 0) {
            if (!parseFormat(i + 1 < argc ? argv[i + 1] : nullptr, &format))
                return usageError("--format needs stick, radio or radio-crc");
            ++i;
        } else if (std::strcmp(arg, "--ticks") == 0) {
            if (!parseCount(i + 1 < argc ? argv[i + 1] : nullptr, &ticks))
                return usageError("--ticks needs a whole number from 0 to 100000000");
            ++i;
        } else {
            return usageError((std::string("unknown option ") + arg).c_str());
        }
    }

    // as the program: without the default file every address and key is
    // zero; a file named on the command line must be readable
    std::string problem;
    if (!vdx::loadConfiguration(config, &problem)) {
        vdx::tell("verdanox-frames", problem);
        if (config != nullptr) return 1;
    }

    const auto noDisplay = [](int, const char*) {};
    vdx::startSending(noDisplay);
    const vdx::FrameWriter print = printer(format);
    for (long t = 0; t < ticks; ++t) vdx::sendTick(!plain, vdx::keyTable, print, noDisplay);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
