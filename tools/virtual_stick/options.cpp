#include "tools/virtual_stick/options.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "session/startup.h"

namespace vstick {
namespace {

const char kUsage[] =
    "usage: verdanox-virtual-stick [--config FILE] [--frames FILE] [--reply MODE] [--unplug-after N]\n"
    "                              [--replug-after-seconds S] [--busy] [--serial SERIAL] [--]\n"
    "                              [COMMAND [ARG...]]\n"
    "       verdanox-virtual-stick --help | --version\n";

const char kHelp[] =
    "Starts COMMAND (default: the Verdanox program of this build) with a virtual\n"
    "USB RF stick attached, and prints every telegram the program sends to it.\n\n"
    "  --config FILE      meter addresses and keys to check telegrams with\n"
    "                     (default VDXconfig.txt in the current directory)\n"
    "  --frames FILE      also write every frame received, one hex line each\n"
    "  --reply MODE       answer each telegram: none (default), ack (a short\n"
    "                     frame), big (a frame of 600 payload bytes), garbage\n"
    "                     (random bytes), mixed (all three in turn), slow (a\n"
    "                     frame that announces 4000 bytes and trickles them in,\n"
    "                     100 bytes every 50 ms)\n"
    "  --unplug-after N   pull the stick out after N telegrams\n"
    "  --replug-after-seconds S\n"
    "                     plug it in again S seconds after that\n"
    "  --busy             hold the port after the program's discovery, so that\n"
    "                     opening it fails\n"
    "  --serial SERIAL    the stick's USB serial number (default VX00010042)\n";

int usageError(const std::string& what) {
    std::fprintf(stderr, "verdanox-virtual-stick: %s\n%s", what.c_str(), kUsage);
    return 2;
}

// The Verdanox program beside this tool (an installed pair), else the one of
// the build this tool belongs to, else whatever "verdanox" the PATH finds.
std::string defaultProgram() {
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        self[n] = '\0';
        std::string sibling = self;
        sibling = sibling.substr(0, sibling.rfind('/') + 1) + "verdanox";
        if (access(sibling.c_str(), X_OK) == 0) return sibling;
    }
    if (access(VDX_DEFAULT_PROGRAM, X_OK) == 0) return VDX_DEFAULT_PROGRAM;
    return "verdanox";
}

}  // namespace

bool parseOptions(int argc, char** argv, Options* o, int* exitCode) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--version") {
            std::printf("verdanox-virtual-stick %s\n", vdx::kVersion);
            *exitCode = 0;
            return false;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            *exitCode = 0;
            return false;
        } else if (arg == "--busy") {
            o->busy = true;
        } else if (arg == "--config" || arg == "--frames" || arg == "--reply" || arg == "--serial" ||
                   arg == "--unplug-after" || arg == "--replug-after-seconds") {
            if (!hasValue) return *exitCode = usageError(arg + " needs a value"), false;
            const std::string v = argv[++i];
            if (arg == "--config") o->config = v;
            if (arg == "--frames") o->framesPath = v;
            if (arg == "--serial") o->serial = v;
            if (arg == "--reply") {
                if (v != "none" && v != "ack" && v != "big" && v != "garbage" && v != "mixed" && v != "slow")
                    return *exitCode = usageError("unknown reply mode " + v), false;
                o->reply = v;
            }
            if (arg == "--unplug-after" || arg == "--replug-after-seconds") {
                char* end = nullptr;
                long& n = arg == "--unplug-after" ? o->unplugAfter : o->replugAfter;
                n = std::strtol(v.c_str(), &end, 10);
                if (v.empty() || *end != '\0' || n < 0)
                    return *exitCode = usageError(arg + " needs a whole number"), false;
            }
        } else if (arg == "--") {
            for (++i; i < argc; ++i) o->command.emplace_back(argv[i]);
        } else if (arg.rfind("--", 0) == 0) {
            return *exitCode = usageError("unknown option " + arg), false;
        } else {
            for (; i < argc; ++i) o->command.emplace_back(argv[i]);
        }
    }
    if (o->command.empty()) o->command.emplace_back(defaultProgram());
    return true;
}

}  // namespace vstick
