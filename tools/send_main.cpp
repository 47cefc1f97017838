// verdanox-send: the telegrams of the ten simulated meters through the USB RF
// stick, without a window, for test rigs: sending starts at once, one line
// (or JSON object) per telegram on stdout, a summary on stderr at the end.
#include <getopt.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "config/config.h"
#include "session/configuration.h"
#include "session/send_session.h"
#include "session/startup.h"
#include "telegram/frames.h"

namespace {

const char kProgram[] = "verdanox-send";

const char kUsage[] =
    "usage: verdanox-send [--config FILE] [--interval SECONDS] [--ticks N] [--plain] [--json] [--quiet]\n"
    "       verdanox-send --help | --version\n";

const char kHelp[] =
    "Finds the USB RF stick as verdanox does and sends the telegrams of the ten\n"
    "simulated meters, meters in turn, starting at once, until N telegrams went\n"
    "out or it is interrupted (Ctrl+C, SIGTERM). What the stick sends back is\n"
    "drained; a stick that is pulled out is used again when it comes back.\n\n"
    "  -c, --config FILE       configuration file (default VDXconfig.txt here)\n"
    "  -i, --interval SECONDS  between telegrams (default 5, at least 0.1)\n"
    "  -n, --ticks N           stop after N telegrams (default: until stopped)\n"
    "  -p, --plain             plain telegrams instead of security mode 7\n"
    "  -j, --json              one JSON object per telegram instead of a line\n"
    "  -q, --quiet             nothing per telegram\n"
    "  -h, --help              print this text\n"
    "  -V, --version           print the version\n\n"
    "Exit status: 0 when every telegram was written, 1 when no stick was found\n"
    "or it could not be opened, 2 on a bad option, 3 when some telegrams could\n"
    "not be written.\n";

volatile std::sig_atomic_t stopRequested = 0;
extern "C" void onStopSignal(int) { stopRequested = 1; }

int usageError(const std::string& what) {
    std::fprintf(stderr, "%s: %s\n%s", kProgram, what.c_str(), kUsage);
    return 2;
}

// UTC, to the millisecond: 2026-12-08T09:30:00.123Z
std::string timestamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const long ms =
        static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", std::gmtime(&seconds));
    return text + std::string(".") + std::to_string(1000 + ms).substr(1) + "Z";
}

// One telegram as a line or as a JSON object, from its frames.
std::string describe(const vdx::SentTelegram& t, bool json) {
    const uint8_t* a = t.addressFrame + 3;  // M (2), ID (4, BCD low byte first), version, type
    const uint8_t* f = t.telegramFrame;
    char letters[4];
    vdx::manufacturerLetters(a, letters);
    char id[9];
    std::snprintf(id, sizeof id, "%02X%02X%02X%02X", a[5], a[4], a[3], a[2]);
    const unsigned access = t.encrypted ? f[6] : f[13];
    const unsigned long counter = f[12] | f[13] << 8 | f[14] << 16 | static_cast<unsigned long>(f[15]) << 24;
    char text[512];
    if (json) {
        std::snprintf(text, sizeof text,
                      "{\"time\":\"%s\",\"meter\":%d,\"manufacturer\":\"%s\",\"id\":\"%s\",\"version\":%u,"
                      "\"type\":%u,\"access\":%u,\"counter\":%s,\"mode\":\"%s\",\"written\":%s,\"frames\":[\"%s\",",
                      timestamp().c_str(), t.meter, letters, id, a[6], a[7], access,
                      t.encrypted ? std::to_string(counter).c_str() : "null", t.encrypted ? "mode 7" : "plain",
                      t.delivered ? "true" : "false", vdx::hexText(t.addressFrame, 11).c_str());
        return text + ("\"" + vdx::hexText(f, vdx::stickFrameSize(f)) + "\"]}");
    }
    std::snprintf(text, sizeof text, "%s meter %d: %s %s v%02X t%02X, access %u, %s%s, %s", timestamp().c_str(),
                  t.meter, letters, id, a[6], a[7], access, t.encrypted ? "mode 7, counter " : "plain",
                  t.encrypted ? std::to_string(counter).c_str() : "", t.delivered ? "sent" : "NOT SENT");
    return text;
}

struct Options {
    const char* config = nullptr;  // VDXconfig.txt here
    bool json = false, quiet = false;
    vdx::SendPlan plan;
};

// 0 to go on, otherwise the exit status.
int parse(int argc, char** argv, Options* o) {
    static const option kOptions[] = {{"config", required_argument, nullptr, 'c'},
                                      {"interval", required_argument, nullptr, 'i'},
                                      {"ticks", required_argument, nullptr, 'n'},
                                      {"plain", no_argument, nullptr, 'p'},
                                      {"json", no_argument, nullptr, 'j'},
                                      {"quiet", no_argument, nullptr, 'q'},
                                      {"help", no_argument, nullptr, 'h'},
                                      {"version", no_argument, nullptr, 'V'},
                                      {nullptr, 0, nullptr, 0}};
    opterr = 0;
    for (int c; (c = getopt_long(argc, argv, ":c:i:n:pjqhV", kOptions, nullptr)) != -1;) {
        char* end = nullptr;
        switch (c) {
            case 'c':
                o->config = optarg;
                break;
            case 'i':
                o->plan.intervalSeconds = std::strtod(optarg, &end);
                if (*optarg == '\0' || *end != '\0' || !(o->plan.intervalSeconds >= 0.1) ||
                    o->plan.intervalSeconds > 86400)
                    return usageError("--interval needs seconds from 0.1 to 86400");
                break;
            case 'n':
                o->plan.telegrams = std::strtol(optarg, &end, 10);
                if (*optarg == '\0' || *end != '\0' || o->plan.telegrams < 1)
                    return usageError("--ticks needs a whole number of at least 1");
                break;
            case 'p':
                o->plan.plain = true;
                break;
            case 'j':
                o->json = true;
                break;
            case 'q':
                o->quiet = true;
                break;
            case 'h':
                std::fputs(kUsage, stdout);
                std::fputs(kHelp, stdout);
                return -1;
            case 'V':
                std::printf("%s %s\n", kProgram, vdx::kVersion);
                return -1;
            case ':':
                return usageError(std::string(argv[optind - 1]) + " needs a value");
            default:
                return usageError(std::string("unknown option ") + argv[optind - 1]);
        }
    }
    if (optind < argc) return usageError(std::string("unexpected argument ") + argv[optind]);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    vdx::prepareProcess();
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // a rig reads each telegram as it goes out
    Options options;
    if (const int status = parse(argc, argv, &options)) return status < 0 ? 0 : status;

    std::string problem;
    if (!vdx::loadConfiguration(options.config, &problem)) {
        vdx::tell(kProgram, problem);
        if (options.config != nullptr) return 1;
    }

    vdx::SendSession session;
    std::string why;
    if (!session.open(&why)) {
        vdx::tell(kProgram, why);
        return 1;
    }
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    session.tell = [](const std::string& line) { vdx::tell(kProgram, line); };
    session.report = [&options](const vdx::SentTelegram& t) {
        if (!options.quiet) std::printf("%s\n", describe(t, options.json).c_str());
    };
    session.run(options.plan, stopRequested);
    vdx::tell(kProgram, std::string(stopRequested ? "stopped: " : "") + std::to_string(session.delivered()) +
                            " telegrams sent, " + std::to_string(session.lost()) + " not sent");
    return session.lost() > 0 ? 3 : 0;
}
