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
#include "tools/run_summary.h"
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
    "                          readings, schedule, clock, stick\n"
    "  -s, --stick SERIAL|PORT use only this stick (serial number, or port such\n"
    "                          as /dev/ttyACM1), also when it comes back\n"
    "  -i, --interval SECONDS  between telegrams in whole milliseconds (default\n"
    "                          5, at least 0.1; with a rig: its interval, every\n"
    "                          meter's in \"each\")\n"
    "  -n, --ticks N           stop after N telegrams (default: until stopped)\n"
    "  -p, --plain             plain telegrams instead of security mode 7\n"
    "                          (not with --rig)\n"
    "  -F, --fault SPEC        telegrams a receiver must refuse, for every meter\n"
    "                          that can take them (repeatable; the first that\n"
    "                          falls on a telegram and can apply wins): bad-mac,\n"
    "                          wrong-key, replay, counter-rewind,\n"
    "                          truncated, bad-records, fuzz, on every Nth\n"
    "                          telegram of a meter, at its telegrams N, M, ...\n"
    "                          or with probability P (seed S); alone: on every\n"
    "                          telegram\n"
    "  -j, --json              one JSON object per telegram instead of a line,\n"
    "                          with its security mode and readings\n"
    "  -q, --quiet             nothing per telegram\n"
    "  -h, --help              print this text\n"
    "  -V, --version           print the version\n\n"
    "Exit status: 0 when every telegram was written, 1 when the --config or\n"
    "--rig file cannot be read, no stick was found or it could not be opened,\n"
    "or standard output cannot be written, 2 on a bad option, a rig file that\n"
    "is not right, a fault that cannot apply or a meter time that would pass\n"
    "2099-12-31 23:59:59, 3 when some telegrams could not be written.\n";

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
    static const char kShort[] = ":c:r:s:i:n:pF:jqhV";
    for (int c; (c = getopt_long(argc, argv, kShort, kOptions, nullptr)) != -1;) {
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
                return vdx::sharedOption(c, kProgram, kUsage, kHelp, optopt, argv[optind - 1], kShort);
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
    // before any long work (a large rig loads for seconds): Ctrl+C or SIGTERM
    // then ends the run at the next step with its summary
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);

    if (options.interval > 0) options.source.interval = options.interval;
    vdx::Rig rig;
    if (const int status = vdx::loadTelegramSource(kProgram, options.source, &rig)) return status;
    const double intervalOverride = options.source.rig != nullptr ? options.interval : 0;
    if (const std::string busy = vdx::scheduleOverload(rig, intervalOverride); !busy.empty()) vdx::tell(kProgram, busy);
    vdx::chooseStick(options.stick != nullptr ? options.stick : rig.stick);
    vdx::RigRun run(std::move(rig), intervalOverride, std::time(nullptr));
    if (const std::string end = run.lengthProblem(static_cast<uint64_t>(options.telegrams)); !end.empty())
        return vdx::tell(kProgram, end), 2;

    if (stopRequested) return vdx::tell(kProgram, "stopped: 0 telegrams sent, 0 not sent"), 0;

    vdx::SendSession session;
    std::string why;
    if (!session.open(&why)) {
        vdx::tell(kProgram, why);
        return 1;
    }
    session.tell = [](const std::string& line) { vdx::tell(kProgram, line); };
    vdx::RunSummary summary;
    bool logLost = false;  // the log of what was sent cannot be written: the run ends
    session.report = [&options, &summary, &logLost](const vdx::RigRun::Planned& p) {
        summary.count(p, p.telegram.delivered);
        if (options.quiet) return;
        vdx::TelegramRecord record = vdx::telegramRecord(p.telegram, vdx::utcTimestamp());
        record.skipped = p.skipped;
        if (!vdx::putLine(options.json ? vdx::jsonLine(record) : vdx::textLine(record))) {
            logLost = true;
            stopRequested = 1;
        }
    };
    session.run(run, options.telegrams, stopRequested);
    const bool stopped = stopRequested && !logLost;
    vdx::tell(kProgram, std::string(stopped ? "stopped: " : "") + std::to_string(session.delivered()) +
                            " telegrams sent, " + std::to_string(session.lost()) + " not sent" + summary.text());
    if (!vdx::finishOutput(kProgram)) return 1;
    if (session.reachedEnd()) return vdx::tell(kProgram, "stopped: " + run.endProblem()), 2;
    return session.lost() > 0 ? 3 : 0;
}
