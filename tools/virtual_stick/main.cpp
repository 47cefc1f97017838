// verdanox-virtual-stick: runs a program (by default Verdanox) with a mocked
// USB RF stick, CDC vendor 10C4 product 0003, made with umockdev. The program
// finds the stick through its real sysfs and serial code; this tool holds the
// pseudo-terminal's other end, acts as the stick and prints one line per
// telegram received.
#include <fcntl.h>
#include <glib-unix.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "config/rig.h"
#include "session/startup.h"
#include "tools/cli.h"
#include "tools/virtual_stick/monitor.h"
#include "tools/virtual_stick/options.h"
#include "tools/virtual_stick/usb_stick.h"

namespace {

struct Stick {
    vstick::Options options;
    GPid child = 0;
    vstick::TelegramMonitor* monitor = nullptr;
    vstick::UsbStick* usb = nullptr;
    FILE* frames = nullptr;
    int framesError = 0;  // errno of the first failed write of the --frames file
    int master = -1;      // the pseudo-terminal's stick end while plugged in
    std::string slavePath;
    bool unpluggedOnce = false;
    int inotify = -1, inotifyWatch = -1;
    guint masterWatch = 0;
    GMainLoop* loop = nullptr;
    int exitStatus = 0;
    bool childDone = false;
    int busyFd = -1;
    bool grabbing = false;
    int closes = 0;
    unsigned replies = 0;
    std::vector<uint8_t> trickle;  // what --reply slow still has to send
    std::mt19937 rng{12345};
};

std::string timestamp();

// One line to stdout after the time of day; a failed write is kept, with
// its reason, for the end.
void say(const std::string& text) { vdx::putLine(timestamp() + " " + text); }

std::string timestamp() {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    tm t;
    localtime_r(&ts.tv_sec, &t);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03ld", t.tm_hour, t.tm_min, t.tm_sec, ts.tv_nsec / 1000000);
    return buf;
}

void writeAll(int fd, const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t w = write(fd, bytes.data() + done, bytes.size() - done);
        if (w <= 0) return;
        done += static_cast<size_t>(w);
    }
}

// --reply slow: the next 100 bytes of the trickling frame, every 50 ms.
gboolean trickleOn(gpointer data) {
    Stick& s = *static_cast<Stick*>(data);
    if (s.master < 0 || s.trickle.empty()) return G_SOURCE_REMOVE;
    const size_t n = std::min<size_t>(100, s.trickle.size());
    writeAll(s.master, std::vector<uint8_t>(s.trickle.begin(), s.trickle.begin() + static_cast<long>(n)));
    s.trickle.erase(s.trickle.begin(), s.trickle.begin() + static_cast<long>(n));
    return s.trickle.empty() ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
}

// The stick's answer to a telegram, as --reply asks.
void reply(Stick& s) {
    std::string mode = s.options.reply;
    if (mode == "none") return;
    if (mode == "slow") {
        const bool idle = s.trickle.empty();
        s.trickle.insert(s.trickle.end(), {0x81, 4000 & 0xFF, 4000 >> 8});
        s.trickle.resize(s.trickle.size() + 4000, 0xA5);
        if (idle) g_timeout_add(50, trickleOn, &s);
        return;
    }
    static const char* const kMixed[] = {"ack", "big", "garbage"};
    if (mode == "mixed") mode = kMixed[s.replies % 3];
    ++s.replies;
    std::vector<uint8_t> bytes;
    if (mode == "ack") {
        bytes = {0x80, 0x01, 0x00, 0x00};
    } else if (mode == "big") {
        bytes = {0x81, 600 & 0xFF, 600 >> 8};
        bytes.resize(603, 0xA5);
    } else {
        bytes.resize(37);
        for (auto& b : bytes) b = static_cast<uint8_t>(s.rng());
    }
    writeAll(s.master, bytes);
}

gboolean onMaster(gint fd, GIOCondition, gpointer data);

// Hands received bytes to the monitor: its lines to stdout, the raw frames
// to the --frames file.
void feedMonitor(Stick& s, const uint8_t* bytes, size_t n) {
    for (const std::string& line : s.monitor->feed(bytes, n)) say(line);
    for (const std::string& frame : s.monitor->takeRawFrames())
        if (s.frames != nullptr && s.framesError == 0 && std::fprintf(s.frames, "%s\n", frame.c_str()) < 0)
            s.framesError = errno;
    if (s.frames != nullptr && s.framesError == 0 && std::fflush(s.frames) != 0) s.framesError = errno;
}

// Watches the stick's end of the port and, by inotify on the program's end,
// the program's opens and closes.
void watchPort(Stick& s) {
    s.master = s.usb->master();
    s.slavePath = s.usb->slavePath();
    s.masterWatch = g_unix_fd_add(s.master, G_IO_IN, onMaster, &s);
    if (s.inotify < 0) return;
    if (s.inotifyWatch >= 0) inotify_rm_watch(s.inotify, s.inotifyWatch);
    s.inotifyWatch = inotify_add_watch(s.inotify, s.slavePath.c_str(), IN_OPEN | IN_CLOSE);
}

gboolean replug(gpointer data) {
    Stick& s = *static_cast<Stick*>(data);
    std::string error;
    if (!s.usb->plugIn(&error)) {
        std::fprintf(stderr, "verdanox-virtual-stick: cannot plug the stick in again: %s\n", error.c_str());
        return G_SOURCE_REMOVE;
    }
    watchPort(s);
    say("stick plugged in again on " + s.usb->tty() + " (" + s.slavePath + ")");
    return G_SOURCE_REMOVE;
}

void unplug(Stick& s) {
    say("stick pulled out");
    if (s.masterWatch != 0) g_source_remove(s.masterWatch);
    s.masterWatch = 0;
    s.usb->unplug();
    s.master = -1;
    s.unpluggedOnce = true;
    s.trickle.clear();
    if (s.options.replugAfter >= 0) g_timeout_add_seconds(static_cast<guint>(s.options.replugAfter), replug, &s);
}

gboolean watchAgain(gpointer data) {
    Stick& s = *static_cast<Stick*>(data);
    if (s.master >= 0) s.masterWatch = g_unix_fd_add(s.master, G_IO_IN, onMaster, &s);
    return G_SOURCE_REMOVE;
}

gboolean onMaster(gint fd, GIOCondition, gpointer data) {
    Stick& s = *static_cast<Stick*>(data);
    uint8_t buf[4096];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) {
        // no program has the port open (EIO): look again shortly
        s.masterWatch = 0;
        g_timeout_add(5, watchAgain, &s);
        return G_SOURCE_REMOVE;
    }
    const unsigned before = s.monitor->telegrams();
    feedMonitor(s, buf, static_cast<size_t>(n));
    for (unsigned t = before; t < s.monitor->telegrams(); ++t) reply(s);
    if (s.options.unplugAfter >= 0 && !s.unpluggedOnce && s.monitor->telegrams() >= s.options.unplugAfter) {
        unplug(s);
        return G_SOURCE_REMOVE;
    }
    return G_SOURCE_CONTINUE;
}

// Takes the port (opens and locks it) once the program's discovery has let
// go of it; true when it holds it.
bool takePort(Stick& s) {
    const int f = open(s.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (f >= 0 && flock(f, LOCK_EX | LOCK_NB) == 0) {
        s.busyFd = f;
        s.grabbing = false;
        say("port held by the virtual stick");
        return true;
    }
    if (f >= 0) close(f);
    return false;
}

gboolean grabPort(gpointer data) {
    Stick& s = *static_cast<Stick*>(data);
    return s.busyFd >= 0 || takePort(s) ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
}

// --busy: discovery's test-open unlocks the port and lifts its exclusive
// mode (TIOCNXCL) before it closes it. Taking the port right there, while
// the program waits for that ioctl, wins every race against the program's
// real open that follows.
void onProgramIoctl(Stick& s, unsigned long request) {
    if (request == TIOCNXCL && s.options.busy && s.busyFd < 0 && takePort(s)) s.grabbing = true;
}

// Another stick of --serial given more than once: it takes telegrams and
// prints them after "stick SERIAL:"; it answers nothing and stays plugged in.
struct ExtraStick {
    std::unique_ptr<vstick::UsbStick> usb;
    std::unique_ptr<vstick::TelegramMonitor> monitor;
};

gboolean onExtraMaster(gint fd, GIOCondition, gpointer data);

gboolean watchExtraAgain(gpointer data) {
    ExtraStick& e = *static_cast<ExtraStick*>(data);
    g_unix_fd_add(e.usb->master(), G_IO_IN, onExtraMaster, &e);
    return G_SOURCE_REMOVE;
}

gboolean onExtraMaster(gint fd, GIOCondition, gpointer data) {
    ExtraStick& e = *static_cast<ExtraStick*>(data);
    uint8_t buf[4096];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) {  // no program has the port open (EIO): look again shortly
        g_timeout_add(5, watchExtraAgain, &e);
        return G_SOURCE_REMOVE;
    }
    for (const std::string& line : e.monitor->feed(buf, static_cast<size_t>(n)))
        say("stick " + e.usb->serial() + ": " + line);
    e.monitor->takeRawFrames();
    return G_SOURCE_CONTINUE;
}

// The sticks of --serial after the first, plugged in; false after telling
// why one could not be.
bool plugInExtraSticks(const std::vector<std::string>& serials, UMockdevTestbed* testbed,
                       const std::vector<vstick::MeterKey>& keys, std::vector<std::unique_ptr<ExtraStick>>* extras) {
    for (size_t i = 1; i < serials.size(); ++i) {
        extras->push_back(std::make_unique<ExtraStick>());
        ExtraStick& e = *extras->back();
        e.usb = std::make_unique<vstick::UsbStick>(serials[i], testbed, static_cast<int>(i));
        e.monitor = std::make_unique<vstick::TelegramMonitor>(keys);
        std::string error;
        if (!e.usb->plugIn(&error)) return std::fprintf(stderr, "verdanox-virtual-stick: %s\n", error.c_str()), false;
        say("virtual RF stick " + e.usb->serial() + " on " + e.usb->tty() + " (" + e.usb->slavePath() + ")");
    }
    return true;
}

// The meters' addresses and keys: from the rig file, or from the
// configuration read strictly on its own. 0, else the exit status: 1 for a
// rig or a --config file that cannot be read (without --config a missing
// VDXconfig.txt is only told: its telegrams go unchecked), 2 for a rig file
// that is not right.
int loadKeys(const vstick::Options& options, std::vector<vstick::MeterKey>* keys) {
    if (!options.rig.empty()) {
        vdx::Rig rig;
        std::string error;
        if (!vdx::readRig(options.rig, &rig, &error)) {
            std::fprintf(stderr, "verdanox-virtual-stick: %s\n", error.c_str());
            return error.rfind("cannot read ", 0) == 0 ? 1 : 2;
        }
        *keys = vstick::rigMeterKeys(rig);
        return 0;
    }
    std::vector<std::string> problems;
    const bool read = vstick::loadMeterKeys(options.config.c_str(), keys, &problems);
    if (!read && !options.configGiven) problems.back() += " (telegrams cannot be checked)";
    for (const std::string& p : problems) std::fprintf(stderr, "verdanox-virtual-stick: %s\n", p.c_str());
    return read || !options.configGiven ? 0 : 1;
}

// Ctrl+C or SIGTERM: the program under test ends first (it closes the port,
// which still needs this side to answer its ioctls), then this tool.
gboolean onStopSignal(gpointer data) {
    Stick& s = *static_cast<Stick*>(data);
    if (s.child > 0) kill(s.child, SIGTERM);
    return G_SOURCE_CONTINUE;
}

// Reports each open and close of the port by the program (inotify on the
// pseudo-terminal's device node), so that tests can count them from outside.
// With --busy the first close, discovery's test-open, makes the stick take
// the port.
gboolean onPortEvent(gint fd, GIOCondition, gpointer data) {
    Stick& s = *static_cast<Stick*>(data);
    alignas(inotify_event) char buf[4096];
    const ssize_t n = read(fd, buf, sizeof buf);
    for (ssize_t i = 0; i < n;) {
        const inotify_event* e = reinterpret_cast<const inotify_event*>(buf + i);
        i += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        if (s.busyFd >= 0 || s.grabbing) continue;  // the stick's own open
        if (e->mask & IN_OPEN) say("port opened by the program");
        if (e->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
            say("port closed by the program");
            if (s.options.busy && ++s.closes == 1) {
                s.grabbing = true;
                g_timeout_add(1, grabPort, &s);
            }
        }
    }
    return G_SOURCE_CONTINUE;
}

void onChildExit(GPid, gint status, gpointer data) {
    Stick& s = *static_cast<Stick*>(data);
    s.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    s.childDone = true;
    if (s.master >= 0) {  // what is still queued
        uint8_t buf[4096];
        for (ssize_t n; (n = read(s.master, buf, sizeof buf)) > 0;) feedMonitor(s, buf, static_cast<size_t>(n));
    }
    say("verdicts: " + s.monitor->verdicts().summary());
    say("program ended with status " + std::to_string(s.exitStatus));
    g_main_loop_quit(s.loop);
}

// libumockdev and the program it tests both need the preload library.
void reexecUnderWrapper(char** argv) {
    std::string asan = getenv("ASAN_OPTIONS") != nullptr ? getenv("ASAN_OPTIONS") : "";
    setenv("ASAN_OPTIONS", (asan.empty() ? "" : asan + ":").append("verify_asan_link_order=0").c_str(), 1);
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return;
    self[n] = '\0';
    std::vector<char*> args = {const_cast<char*>("umockdev-wrapper"), self};
    for (char** a = argv + 1; *a != nullptr; ++a) args.push_back(*a);
    args.push_back(nullptr);
    execvp("umockdev-wrapper", args.data());
    std::fprintf(stderr, "verdanox-virtual-stick: cannot run umockdev-wrapper: %s\n", std::strerror(errno));
    std::exit(1);
}

// --radio, --radio-crc: the monitor alone, on radio frames from a file.
int checkRadioFile(const vstick::Options& options) {
    std::vector<vstick::MeterKey> keys;
    if (const int status = loadKeys(options, &keys)) return status;
    vstick::TelegramMonitor monitor(keys);
    std::string error;
    const bool read = vstick::monitorRadioLines(options.radio, options.radioCrc, monitor, vdx::putLine, &error);
    if (!read) std::fprintf(stderr, "verdanox-virtual-stick: %s\n", error.c_str());
    return vdx::finishOutput("verdanox-virtual-stick") && read ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    vdx::prepareProcess();
    Stick s;
    int exitCode = 0;
    if (!vstick::parseOptions(argc, argv, &s.options, &exitCode)) return exitCode;
    if (!s.options.radio.empty()) return checkRadioFile(s.options);
    const char* preload = getenv("LD_PRELOAD");
    if (preload == nullptr || std::strstr(preload, "umockdev-preload") == nullptr) reexecUnderWrapper(argv);
    setvbuf(stdout, nullptr, _IOLBF, 0);
    signal(SIGPIPE, SIG_IGN);

    std::vector<vstick::MeterKey> keys;
    if (const int status = loadKeys(s.options, &keys)) return status;
    vstick::TelegramMonitor monitor(keys);
    s.monitor = &monitor;
    if (!s.options.framesPath.empty() && (s.frames = std::fopen(s.options.framesPath.c_str(), "w")) == nullptr) {
        std::fprintf(stderr, "verdanox-virtual-stick: cannot write %s: %s\n", s.options.framesPath.c_str(),
                     std::strerror(errno));
        return 1;
    }

    UMockdevTestbed* testbed = umockdev_testbed_new();
    vstick::UsbStick usb(s.options.serials[0], testbed, 0);
    s.usb = &usb;
    std::string error;
    if (!usb.plugIn(&error)) return std::fprintf(stderr, "verdanox-virtual-stick: %s\n", error.c_str()), 1;
    usb.afterIoctl = [&s](unsigned long request) { onProgramIoctl(s, request); };
    s.slavePath = usb.slavePath();
    say("virtual RF stick " + usb.serial() + " on " + usb.tty() + " (" + s.slavePath + ")");
    std::vector<std::unique_ptr<ExtraStick>> extras;
    if (!plugInExtraSticks(s.options.serials, testbed, keys, &extras)) return 1;

    std::vector<char*> args;
    for (std::string& a : s.options.command) args.push_back(&a[0]);
    args.push_back(nullptr);
    // the watches first: a program may open the port as soon as it starts
    s.loop = g_main_loop_new(nullptr, FALSE);
    s.inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (s.inotify >= 0) g_unix_fd_add(s.inotify, G_IO_IN, onPortEvent, &s);
    watchPort(s);
    for (auto& e : extras) g_unix_fd_add(e->usb->master(), G_IO_IN, onExtraMaster, e.get());
    GPid pid = 0;
    GError* spawnError = nullptr;
    if (!g_spawn_async(nullptr, args.data(), nullptr,
                       GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_CHILD_INHERITS_STDIN),
                       nullptr, nullptr, &pid, &spawnError)) {
        std::fprintf(stderr, "verdanox-virtual-stick: cannot start %s: %s\n", args[0], spawnError->message);
        return 127;
    }
    s.child = pid;
    g_child_watch_add(pid, onChildExit, &s);
    g_unix_signal_add(SIGINT, onStopSignal, &s);
    g_unix_signal_add(SIGTERM, onStopSignal, &s);
    g_main_loop_run(s.loop);

    if (s.frames != nullptr && std::fclose(s.frames) != 0 && s.framesError == 0) s.framesError = errno;
    if (s.busyFd >= 0) close(s.busyFd);
    g_main_loop_unref(s.loop);
    g_object_unref(testbed);
    // what this tool could not write ends it with status 1, whatever the
    // program's status was
    bool written = vdx::finishOutput("verdanox-virtual-stick");
    if (s.framesError != 0)
        std::fprintf(stderr, "verdanox-virtual-stick: cannot write %s: %s\n", s.options.framesPath.c_str(),
                     std::strerror(s.framesError)),
            written = false;
    return written ? s.exitStatus : 1;
}
