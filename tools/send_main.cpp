// verdanox-send: the telegrams of the simulated meters through the USB RF
// stick, without a window, for test rigs: the ten meters of VDXconfig.txt or
// the meters of a rig file; sending starts at once, one line (or JSON
// object) per telegram on stdout, a summary on stderr at the end.
#include <getopt.h>

#include <climits>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <string>

#include "config/fault_spec.h"
#include "link/link.h"
#include "session/rig_run.h"
#include "session/send_session.h"
#include "session/startup.h"
#include "session/telegram_record.h"
#include "tools/cli.h"
#include "tools/telegram_source.h"

namespace {

const char kProgram[] = "verdanox-send";

const char kUsage[] =
    "usage: verdanox-send [--config FILE | --rig FILE] [--stick SERIAL|PORT] [--interval SECONDS] [--ticks N]\n"
    "                     [--plain] [--fault KIND[:every=N|:at=N,M|:probability=P][:seed=S]]... [--json]\n"
    "                     [--quiet]\n"
    "       verdanox-send --help | --version\n";

const char kHelp[] =
    "Finds the USB RF stick as verdanox does and sends the telegrams of the\n"
    "simulated meters, starting at once, until N telegrams went out or it is\n"
    "interrupted (Ctrl+C, SIGTERM): the ten meters of VDXconfig.txt in turn, or\n"
    "the meters of a rig file on its schedule. What the stick sends back is\n"
    "drained; a stick that is pulled out is used again when it comes back.\n\n"
    "  -c, --config FILE       configuration file (default VDXconfig.txt here)\n"
    "  -r, --rig FILE          a rig file (TOML): meters, security modes,\n"
    "                          profiles, records, counts, schedule, clock,\n"
    "                          stick\n"
    "  -s, --stick SERIAL|PORT use only this stick (serial number, or port such\n"
    "                          as /dev/ttyACM1), also when it comes back\n"
    "  -i, --interval SECONDS  between telegrams (default 5, at least 0.1; with\n"
    "                          a rig: its interval, every meter's in \"each\")\n"
    "  -n, --ticks N           stop after N telegrams (default: until stopped)\n"
    "  -p, --plain             plain telegrams instead of security mode 7\n"
    "                          (not with --rig)\n"
    "  -F, --fault SPEC        telegrams a receiver must refuse, for every meter\n"
    "                          (repeatable; the first that falls on a telegram\n"
    "                          wins): bad-mac, wrong-key, replay, counter-rewind,\n"
    "                          truncated, bad-records, fuzz, on every Nth\n"
    "                          telegram of a meter, at its telegrams N, M, ...\n"
    "                          or with probability P (seed S); alone: on every\n"
    "                          telegram\n"
    "  -j, --json              one JSON object per telegram instead of a line,\n"
    "                          with its security mode and data records\n"
    "  -q, --quiet             nothing per telegram\n"
    "  -h, --help              print this text\n"
    "  -V, --version           print the version\n\n"
    "Exit status: 0 when every telegram was written, 1 when the --config or\n"
    "--rig file cannot be read or no stick was found or it could not be opened,\n"
    "2 on a bad option, a rig file that is not right or a fault that cannot\n"
    "apply, 3 when some telegrams could not be written.\n";

volatile std::sig_atomic_t stopRequested = 0;
extern "C" void onStopSignal(int) { stopRequested = 1; }

int usageError(const std::string& what) { return vdx::usageError(kProgram, what, kUsage); }

struct Options {
    vdx::SourceOptions source;
    const char* stick = nullptr;
    double interval = 0;  // 0: the default or the rig's
    long telegrams = 0;   // 0: until stopped
    bool json = false, quiet = false;
};

// 0 to go on, otherwise the exit status (-1: done, status 0).
int parse(int argc, char** argv, Options* o) {
    static const option kOptions[] = {
        {"config", required_argument, nullptr, 'c'}, {"rig", required_argument, nullptr, 'r'},
        {"stick", required_argument, nullptr, 's'},  {"interval", required_argument, nullptr, 'i'},
        {"ticks", required_argument, nullptr, 'n'},  {"plain", no_argument, nullptr, 'p'},
        {"fault", required_argument, nullptr, 'F'},  {"json", no_argument, nullptr, 'j'},
        {"quiet", no_argument, nullptr, 'q'},        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},      {nullptr, 0, nullptr, 0}};
    opterr = 0;
    std::string problem;
    for (int c; (c = getopt_long(argc, argv, ":c:r:s:i:n:pF:jqhV", kOptions, nullptr)) != -1;) {
        if (const int taken = vdx::sourceOption(c, optarg, &o->source, &o->interval, &problem)) {
            if (taken < 0) return usageError(problem);
            continue;
        }
        switch (c) {
            case 's':
                if (*optarg == '\0') return usageError("--stick needs a serial number or a port");
                o->stick = optarg;
                break;
            case 'n':
                if (!vdx::parseWhole(optarg, 1, LONG_MAX, &o->telegrams))
                    return usageError("--ticks needs a whole number of at least 1");
                break;
            case 'j':
                o->json = true;
                break;
            case 'q':
                o->quiet = true;
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
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // a rig reads each telegram as it goes out
    Options options;
    if (const int status = parse(argc, argv, &options)) return status < 0 ? 0 : status;

    if (options.interval > 0) options.source.interval = options.interval;
    vdx::Rig rig;
    if (const int status = vdx::loadTelegramSource(kProgram, options.source, &rig)) return status;
    vdx::chooseStick(options.stick != nullptr ? options.stick : rig.stick);

    vdx::SendSession session;
    std::string why;
    if (!session.open(&why)) {
        vdx::tell(kProgram, why);
        return 1;
    }
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    session.tell = [](const std::string& line) { vdx::tell(kProgram, line); };
    unsigned faultsSent[16] = {};
    session.report = [&options, &faultsSent](const vdx::SentTelegram& t) {
        if (t.delivered) ++faultsSent[static_cast<int>(t.fault)];
        if (options.quiet) return;
        const vdx::TelegramRecord record = vdx::telegramRecord(t, vdx::utcTimestamp());
        std::printf("%s\n", (options.json ? vdx::jsonLine(record) : vdx::textLine(record)).c_str());
    };
    vdx::RigRun run(std::move(rig), options.source.rig != nullptr ? options.interval : 0, std::time(nullptr));
    session.run(run, options.telegrams, stopRequested);
    // a fault telegram that was written counts as sent: it went on the air
    std::string faults;
    for (int k = 1; k < 16; ++k)
        if (faultsSent[k] != 0)
            faults += (faults.empty() ? "; faults sent: " : ", ") +
                      std::string(vdx::faultName(static_cast<vdx::FaultKind>(k))) + " " + std::to_string(faultsSent[k]);
    vdx::tell(kProgram, std::string(stopRequested ? "stopped: " : "") + std::to_string(session.delivered()) +
                            " telegrams sent, " + std::to_string(session.lost()) + " not sent" + faults);
    return session.lost() > 0 ? 3 : 0;
}
