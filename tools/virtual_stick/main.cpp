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
#include <umockdev.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "tools/virtual_stick/monitor.h"

namespace {

const char kUsage[] =
    "usage: verdanox-virtual-stick [--config FILE] [--frames FILE] [--reply MODE] [--unplug-after N]\n"
    "                              [--busy] [--serial SERIAL] [--] [COMMAND [ARG...]]\n";

const char kHelp[] =
    "Starts COMMAND (default: the Verdanox program of this build) with a virtual\n"
    "USB RF stick attached, and prints every telegram the program sends to it.\n\n"
    "  --config FILE      meter addresses and keys to check telegrams with\n"
    "                     (default VDXconfig.txt in the current directory)\n"
    "  --frames FILE      also write every frame received, one hex line each\n"
    "  --reply MODE       answer each telegram: none (default), ack (a short\n"
    "                     frame), big (a frame of 600 payload bytes), garbage\n"
    "                     (random bytes), mixed (all three in turn)\n"
    "  --unplug-after N   pull the stick out after N telegrams\n"
    "  --busy             hold the port after the program's discovery, so that\n"
    "                     opening it fails\n"
    "  --serial SERIAL    the stick's USB serial number (default VX00010042)\n";

struct Options {
    std::string config = "VDXconfig.txt";
    std::string framesPath;
    std::string reply = "none";
    long unplugAfter = -1;
    bool busy = false;
    std::string serial = "VX00010042";
    std::vector<std::string> command;
};

struct Stick {
    Options options;
    vstick::TelegramMonitor* monitor = nullptr;
    FILE* frames = nullptr;
    int master = -1;
    std::string slavePath;
    guint masterWatch = 0;
    GMainLoop* loop = nullptr;
    int exitStatus = 0;
    bool childDone = false;
    int busyFd = -1;
    bool grabbing = false;
    int closes = 0;
    unsigned replies = 0;
    std::mt19937 rng{12345};
};

int usageError(const std::string& what) {
    std::fprintf(stderr, "verdanox-virtual-stick: %s\n%s", what.c_str(), kUsage);
    return 2;
}

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

// The stick's answer to a telegram, as --reply asks.
void reply(Stick& s) {
    std::string mode = s.options.reply;
    if (mode == "none") return;
    if (mode == "mixed") mode = (const char*[]){"ack", "big", "garbage"}[s.replies % 3];
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

void unplug(Stick& s) {
    std::printf("%s stick pulled out\n", timestamp().c_str());
    if (s.masterWatch != 0) g_source_remove(s.masterWatch);
    s.masterWatch = 0;
    close(s.master);
    s.master = -1;
}

gboolean onMaster(gint fd, GIOCondition, gpointer data);

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
    for (const std::string& line : s.monitor->feed(buf, static_cast<size_t>(n)))
        std::printf("%s %s\n", timestamp().c_str(), line.c_str());
    for (const std::string& frame : s.monitor->takeRawFrames())
        if (s.frames != nullptr) std::fprintf(s.frames, "%s\n", frame.c_str());
    if (s.frames != nullptr) std::fflush(s.frames);
    for (unsigned t = before; t < s.monitor->telegrams(); ++t) reply(s);
    if (s.options.unplugAfter >= 0 && s.monitor->telegrams() >= s.options.unplugAfter) {
        unplug(s);
        return G_SOURCE_REMOVE;
    }
    return G_SOURCE_CONTINUE;
}

// Takes the port once the program's discovery has let go of it.
gboolean grabPort(gpointer data) {
    Stick& s = *static_cast<Stick*>(data);
    const int f = open(s.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (f >= 0 && flock(f, LOCK_EX | LOCK_NB) == 0) {
        s.busyFd = f;
        s.grabbing = false;
        std::printf("%s port held by the virtual stick\n", timestamp().c_str());
        return G_SOURCE_REMOVE;
    }
    if (f >= 0) close(f);
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
        if (e->mask & IN_OPEN) std::printf("%s port opened by the program\n", timestamp().c_str());
        if (e->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
            std::printf("%s port closed by the program\n", timestamp().c_str());
            if (s.options.busy && ++s.closes == 1) {
                s.grabbing = true;
                g_timeout_add(1, grabPort, &s);
            }
        }
    }
    return G_SOURCE_CONTINUE;
}

// ioctls on the mocked tty reach this process; run them on the program's
// own pseudo-terminal descriptor and hand back the result.
gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer) {
    int err = 0;
    GError* error = nullptr;
    const gint result = umockdev_ioctl_client_execute(client, &err, &error);
    if (error != nullptr) g_error_free(error);
    umockdev_ioctl_client_complete(client, result, err);
    return TRUE;
}

void onChildExit(GPid, gint status, gpointer data) {
    Stick& s = *static_cast<Stick*>(data);
    s.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    s.childDone = true;
    if (s.master >= 0) {  // what is still queued
        uint8_t buf[4096];
        ssize_t n;
        while ((n = read(s.master, buf, sizeof buf)) > 0)
            for (const std::string& line : s.monitor->feed(buf, static_cast<size_t>(n)))
                std::printf("%s %s\n", timestamp().c_str(), line.c_str());
        for (const std::string& frame : s.monitor->takeRawFrames())
            if (s.frames != nullptr) std::fprintf(s.frames, "%s\n", frame.c_str());
    }
    std::printf("%s program ended with status %d\n", timestamp().c_str(), s.exitStatus);
    g_main_loop_quit(s.loop);
}

// The Verdanox program of this build; once installed, the one beside this
// tool; else whatever "verdanox" the PATH finds.
std::string defaultProgram() {
    if (access(VDX_DEFAULT_PROGRAM, X_OK) == 0) return VDX_DEFAULT_PROGRAM;
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        self[n] = '\0';
        std::string sibling = self;
        sibling = sibling.substr(0, sibling.rfind('/') + 1) + "verdanox";
        if (access(sibling.c_str(), X_OK) == 0) return sibling;
    }
    return "verdanox";
}

bool parse(int argc, char** argv, Options* o, int* exitCode) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            *exitCode = 0;
            return false;
        } else if (arg == "--busy") {
            o->busy = true;
        } else if (arg == "--config" || arg == "--frames" || arg == "--reply" || arg == "--serial" ||
                   arg == "--unplug-after") {
            if (!hasValue) return *exitCode = usageError(arg + " needs a value"), false;
            const std::string v = argv[++i];
            if (arg == "--config") o->config = v;
            if (arg == "--frames") o->framesPath = v;
            if (arg == "--serial") o->serial = v;
            if (arg == "--reply") {
                if (v != "none" && v != "ack" && v != "big" && v != "garbage" && v != "mixed")
                    return *exitCode = usageError("unknown reply mode " + v), false;
                o->reply = v;
            }
            if (arg == "--unplug-after") {
                char* end = nullptr;
                o->unplugAfter = std::strtol(v.c_str(), &end, 10);
                if (v.empty() || *end != '\0' || o->unplugAfter < 0)
                    return *exitCode = usageError("--unplug-after needs a whole number"), false;
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

std::string deviceDescription(const std::string& serial) {
    return "P: /devices/pci0000:00/0000:00:14.0/usb1/1-1\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
           "A: idVendor=10c4\nA: idProduct=0003\nA: serial=" +
           serial +
           "\n"
           "A: product=Virtual RF stick (Verdanox)\nA: manufacturer=Verdanox\n\n"
           "P: /devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n"
           "A: bInterfaceClass=02\n\n"
           "P: /devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/tty/ttyACM0\nN: ttyACM0\nE: SUBSYSTEM=tty\n"
           "E: DEVNAME=/dev/ttyACM0\nA: dev=166:0\nL: device=../../../1-1:1.0\n";
}

}  // namespace

int main(int argc, char** argv) {
    Stick s;
    int exitCode = 0;
    if (!parse(argc, argv, &s.options, &exitCode)) return exitCode;
    const char* preload = getenv("LD_PRELOAD");
    if (preload == nullptr || std::strstr(preload, "umockdev-preload") == nullptr) reexecUnderWrapper(argv);
    setvbuf(stdout, nullptr, _IOLBF, 0);
    signal(SIGPIPE, SIG_IGN);

    vstick::TelegramMonitor monitor(vstick::loadMeterKeys(s.options.config.c_str()));
    s.monitor = &monitor;
    if (!s.options.framesPath.empty() && (s.frames = std::fopen(s.options.framesPath.c_str(), "w")) == nullptr) {
        std::fprintf(stderr, "verdanox-virtual-stick: cannot write %s: %s\n", s.options.framesPath.c_str(),
                     std::strerror(errno));
        return 1;
    }

    UMockdevTestbed* testbed = umockdev_testbed_new();
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed, deviceDescription(s.options.serial).c_str(), &error)) {
        std::fprintf(stderr, "verdanox-virtual-stick: %s\n", error->message);
        return 1;
    }
    UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(onIoctl), nullptr);
    if (!umockdev_testbed_attach_ioctl(testbed, "/dev/ttyACM0", handler, &error)) {
        std::fprintf(stderr, "verdanox-virtual-stick: %s\n", error->message);
        return 1;
    }
    s.master = umockdev_testbed_get_dev_fd(testbed, "/dev/ttyACM0");
    if (s.master < 0) return std::fprintf(stderr, "verdanox-virtual-stick: no pseudo-terminal\n"), 1;
    fcntl(s.master, F_SETFD, FD_CLOEXEC);
    fcntl(s.master, F_SETFL, fcntl(s.master, F_GETFL) | O_NONBLOCK);
    s.slavePath = ptsname(s.master) != nullptr ? ptsname(s.master) : "";
    termios raw;
    if (tcgetattr(s.master, &raw) == 0) {
        cfmakeraw(&raw);
        tcsetattr(s.master, TCSANOW, &raw);
    }
    std::printf("%s virtual RF stick %s on /dev/ttyACM0 (%s)\n", timestamp().c_str(), s.options.serial.c_str(),
                s.slavePath.c_str());

    std::vector<char*> args;
    for (std::string& a : s.options.command) args.push_back(&a[0]);
    args.push_back(nullptr);
    GPid pid = 0;
    if (!g_spawn_async(nullptr, args.data(), nullptr,
                       GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_CHILD_INHERITS_STDIN),
                       nullptr, nullptr, &pid, &error)) {
        std::fprintf(stderr, "verdanox-virtual-stick: cannot start %s: %s\n", args[0], error->message);
        return 127;
    }
    s.loop = g_main_loop_new(nullptr, FALSE);
    s.masterWatch = g_unix_fd_add(s.master, G_IO_IN, onMaster, &s);
    g_child_watch_add(pid, onChildExit, &s);
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch >= 0 && inotify_add_watch(watch, s.slavePath.c_str(), IN_OPEN | IN_CLOSE) >= 0)
        g_unix_fd_add(watch, G_IO_IN, onPortEvent, &s);
    g_main_loop_run(s.loop);

    if (s.frames != nullptr) std::fclose(s.frames);
    if (s.busyFd >= 0) close(s.busyFd);
    g_main_loop_unref(s.loop);
    g_object_unref(handler);
    g_object_unref(testbed);
    return s.exitStatus;
}
