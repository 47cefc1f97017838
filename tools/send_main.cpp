// verdanox-send: the telegrams of the simulated meters through the USB RF
// stick, without a window, for test rigs: the ten meters of VDXconfig.txt or
// the meters of a rig file; sending starts at once, one line (or JSON
// object) per telegram on stdout, a summary on stderr at the end.
#include <getopt.h>

#include <climits>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "config/fault_spec.h"
#include "link/link.h"
#include "session/rig_run.h"
#include "session/send_session.h"
#include "session/startup.h"
#include "session/telegram_record.h"
#include "tools/cli.h"
#include "tools/run_summary.h"
#include "tools/sdr_options.h"
#include "tools/telegram_source.h"

namespace {

const char kProgram[] = "verdanox-send";

const char kUsage[] =
    "usage: verdanox-send [--config FILE | --rig FILE] [--stick SERIAL|PORT] [--interval SECONDS] [--ticks N]\n"
    "                     [--plain] [--fault KIND[:every=N|:at=N,M|:probability=P][:seed=S]]... [--json]\n"
    "                     [--quiet]\n"
    "       verdanox-send --sdr ARGS [--sdr-rate HZ] [--tx-gain DB] [--ppm PPM] [--sdr-antenna NAME]\n"
    "                     [--mode s1|s2|t1|r2|c1|f|n] [--frame-format a|b]\n"
    "                     [--duty-cycle PERCENT [--duty-cycle-override]] [the options above but --stick]\n"
    "       verdanox-send --list-sdr | --help | --version\n";

const char kHelp[] =
    "Finds the USB RF stick as verdanox does and sends the telegrams of the\n"
    "simulated meters, starting at once, until N telegrams went out or it is\n"
    "interrupted (Ctrl+C, SIGTERM): the ten meters of VDXconfig.txt in turn, or\n"
    "the meters of a rig file on its schedule. What the stick sends back is\n"
    "drained; a stick that is pulled out is used again when it comes back.\n\n"
    "  -c, --config FILE       configuration file (default VDXconfig.txt here)\n"
    "  -r, --rig FILE          a rig file (TOML): meters, security modes,\n"
    "                          profiles, records, compact frames, converters,\n"
    "                          counts, schedule, clock, stick\n"
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
    "                          wrong-key, replay, counter-rewind, truncated,\n"
    "                          bad-records, fuzz, no-2f2f, afl-counter-mismatch,\n"
    "                          wrong-ci, duplicate-access, compact-unknown,\n"
    "                          compact-bad-crc, ell-bad-crc, on every Nth\n"
    "                          telegram of a meter, at its telegrams N, M, ...\n"
    "                          or with probability P (seed S); alone: on every\n"
    "                          telegram\n"
    "  -j, --json              one JSON object per telegram instead of a line,\n"
    "                          with its security mode and data records\n"
    "  -q, --quiet             nothing per telegram\n\n"
    "Through a transmit-capable SDR (SoapySDR) instead of the stick:\n"
    "  --sdr ARGS              the device, as SoapySDR arguments (driver=hackrf,\n"
    "                          driver=lime,serial=...): each telegram modulated\n"
    "                          in its meter's radio mode, one burst at its\n"
    "                          channel, timed on the stream's clock where the\n"
    "                          device has one; nothing between bursts\n"
    "  --sdr-rate HZ           sample rate (default: the lowest the device\n"
    "                          offers from 2.5 x the signal's reach from the\n"
    "                          centre and 8 samples a chip)\n"
    "  --tx-gain DB            overall transmit gain (default: the lowest)\n"
    "  --ppm PPM               the device's frequency correction\n"
    "  --sdr-antenna NAME      the transmit antenna port\n"
    "  -m, --mode M            radio mode of meters whose rig names none: s1,\n"
    "                          s2, t1 (default), r2, c1, f or n, as\n"
    "                          verdanox-frames --help lists them\n"
    "  --frame-format a|b      frame format B for modes C1, F and N\n"
    "  --duty-cycle PERCENT    a lower limit of time on air per hour, where it\n"
    "                          is below a sub-band's (ERC Rec 70-03: 1 % in\n"
    "                          868.0-868.6 MHz, 0.1 % in 868.7-869.2 MHz, ...);\n"
    "                          telegrams past the limit are held back and\n"
    "                          counted; the account is kept per device across\n"
    "                          runs in $XDG_STATE_HOME/verdanox\n"
    "  --duty-cycle-override   lets a --duty-cycle raise the bands whose limit\n"
    "                          is below it, with a warning: only into a cable\n"
    "                          or shielded box\n"
    "  --list-sdr              the devices SoapySDR finds, with their transmit\n"
    "                          ranges\n\n"
    "  -h, --help              print this text\n"
    "  -V, --version           print the version\n\n"
    "Exit status: 0 when every telegram was written, held for the duty\n"
    "cycle or skipped while the SDR was busy, 1 when the --config or --rig file cannot be read, no stick or SDR\n"
    "was found or it could not be opened or set up, or standard output cannot\n"
    "be written, 2 on a bad option, a rig file that\n"
    "is not right, a fault that cannot apply, a channel in no sub-band or a\n"
    "meter time that would pass 2099-12-31 23:59:59, 3 when some telegrams\n"
    "could not be written.\n";

volatile std::sig_atomic_t stopRequested = 0;
extern "C" void onStopSignal(int) { stopRequested = 1; }

int usageError(const std::string& what) { return vdx::usageError(kProgram, what, kUsage); }

struct Options {
    vdx::SourceOptions source;
    const char* stick = nullptr;
    double interval = 0;  // 0: the default or the rig's
    long telegrams = 0;   // 0: until stopped
    bool json = false, quiet = false;
    vdx::SdrCommand sdr;
};

// 0 to go on, otherwise the exit status (-1: done, status 0).
int parse(int argc, char** argv, Options* o) {
    std::vector<option> options = {
        {"config", required_argument, nullptr, 'c'}, {"rig", required_argument, nullptr, 'r'},
        {"stick", required_argument, nullptr, 's'},  {"interval", required_argument, nullptr, 'i'},
        {"ticks", required_argument, nullptr, 'n'},  {"plain", no_argument, nullptr, 'p'},
        {"fault", required_argument, nullptr, 'F'},  {"json", no_argument, nullptr, 'j'},
        {"quiet", no_argument, nullptr, 'q'},        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'}};
    options.insert(options.end(), vdx::kSdrOptions, vdx::kSdrOptions + vdx::kSdrOptionCount);
    options.push_back({nullptr, 0, nullptr, 0});
    opterr = 0;
    std::string problem;
    static const char kShort[] = ":c:r:s:i:n:pF:jqhVm:B:";
    for (int c; (c = getopt_long(argc, argv, kShort, options.data(), nullptr)) != -1;) {
        if (const int taken = vdx::sourceOption(c, optarg, &o->source, &o->interval, &problem)) {
            if (taken < 0) return usageError(problem);
            continue;
        }
        if (const int taken = vdx::sdrOption(c, optarg, &o->sdr, &problem)) {
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
    if (const int status = vdx::noArgumentsLeft(optind, argc, argv, kProgram, kUsage)) return status;
    const std::string conflict = vdx::sdrConflict(o->sdr, o->stick != nullptr);
    if (!conflict.empty()) return usageError(conflict);
    if (o->sdr.use) o->source.output = "iq";  // the CRCs and the air are ours: every fault kind applies
    return 0;
}

// --list-sdr: the devices on stdout; 1 when there are none.
int listSdr() {
    std::string why;
    const std::string text = vdx::listSoapyDevices(&why);
    if (text.empty()) return vdx::tell(kProgram, why), 1;
    return vdx::putText(text) && vdx::finishOutput(kProgram) ? 0 : 1;
}

// The stick sends in its own mode: a rig's radio = "s1" is said once to
// take no effect here.
void tellRadioUnused(const vdx::Rig& rig) {
    std::vector<size_t> named;
    for (size_t i = 0; i < rig.meterRadio.size() && i < rig.meters.size(); ++i)
        if (rig.meterRadio[i]) named.push_back(i);
    if (named.empty()) return;
    vdx::tell(kProgram, vdx::meterList(named, rig) + (named.size() == 1 ? " names" : " name") +
                            " a radio mode, which the stick does not take: it sends in its own mode (the radio mode "
                            "takes effect in I/Q captures, verdanox-frames --format iq)");
}

}  // namespace

int main(int argc, char** argv) {
    vdx::prepareProcess();
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // a rig reads each telegram as it goes out
    Options options;
    if (const int status = parse(argc, argv, &options)) return status < 0 ? 0 : status;
    if (options.sdr.list) return listSdr();
    // before any long work (a large rig loads for seconds): Ctrl+C or SIGTERM
    // then ends the run at the next step with its summary
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);

    if (options.interval > 0) options.source.interval = options.interval;
    vdx::Rig rig;
    if (const int status = vdx::loadTelegramSource(kProgram, options.source, &rig)) return status;
    if (!options.sdr.use) tellRadioUnused(rig);  // an SDR sends each meter in its own mode
    const double intervalOverride = options.source.rig != nullptr ? options.interval : 0;
    std::unique_ptr<vdx::SdrPath> sdr;
    std::string why;
    if (options.sdr.use) {  // before the schedule's lines: it may raise the gap
        sdr = std::make_unique<vdx::SdrPath>(options.sdr.settings, vdx::openSoapyTx);
        if (!sdr->plan(rig, intervalOverride, &why)) return vdx::tell(kProgram, why), 2;
        if (!sdr->gapLine().empty()) vdx::tell(kProgram, sdr->gapLine());
    } else {
        vdx::chooseStick(options.stick != nullptr ? options.stick : rig.stick);
    }
    if (const std::string busy = vdx::scheduleOverload(rig, intervalOverride); !busy.empty()) vdx::tell(kProgram, busy);
    if (const std::string reuse = vdx::sessionReuseLine(rig, intervalOverride); !reuse.empty())
        vdx::tell(kProgram, reuse);
    vdx::RigRun run(std::move(rig), intervalOverride, std::time(nullptr));
    if (const std::string end = run.lengthProblem(static_cast<uint64_t>(options.telegrams)); !end.empty())
        return vdx::tell(kProgram, end), 2;

    if (stopRequested) return vdx::tell(kProgram, "stopped: 0 telegrams sent, 0 not sent"), 0;

    auto made = sdr != nullptr ? std::make_unique<vdx::SendSession>(*sdr) : std::make_unique<vdx::SendSession>();
    vdx::SendSession& session = *made;
    if (!session.open(&why)) {
        vdx::tell(kProgram, sdr != nullptr ? "cannot use SDR " + options.sdr.settings.request.args + ": " + why : why);
        return 1;
    }
    if (sdr != nullptr)
        for (const std::string& line : sdr->startLines()) vdx::tell(kProgram, line);
    session.tell = [](const std::string& line) { vdx::tell(kProgram, line); };
    vdx::RunSummary summary;
    bool logLost = false;  // the log of what was sent cannot be written: the run ends
    session.report = [&options, &summary, &logLost](const vdx::RigRun::Planned& p) {
        summary.count(p, p.telegram.delivered);
        if (options.quiet) return;
        // an SDR's burst: the time it is on the air, not its hand-over
        vdx::TelegramRecord record = vdx::telegramRecord(p.telegram, vdx::utcTimestamp(p.air.leadMs));
        record.skipped = p.skipped;
        record.air = p.air;
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
