// verdanox-bench-receive: the real window's receive poll on a pseudo-terminal
// that plays the stick, under a real event loop (run it under Xvfb). A
// thread answers like a stick and times, for every frame it writes, how long
// until the window's poll has taken it off the link; the window's poll
// handler is timed too. Prints the median and 99th percentile drain
// latency, the longest single poll, and the CPU the process used.
//   verdanox-bench-receive MODE SECONDS
// MODE: quiet (nothing sent: idle cost), ack (a 4-byte frame every 20 ms),
// burst (five 603-byte frames at once every 100 ms), mixed (ack, a 603-byte
// frame and 37 random bytes in turn every 100 ms), slow (a frame that
// announces 4000 bytes and trickles in at 100 bytes per 50 ms).
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/VerdanoxWindow.h"
#include "link/link.h"

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<unsigned> framesTaken{0};
std::atomic<bool> stopping{false};
std::vector<double> pollMs;  // GUI thread only

double msSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

// The window with its receive poll timed, whichever way the poll is woken.
class MeasuredWindow : public vdx::VerdanoxWindow {
    FXDECLARE(MeasuredWindow)
    MeasuredWindow() {}

public:
    explicit MeasuredWindow(FXApp* app) : VerdanoxWindow(app) {}
    long onMeasuredPoll(FXObject* sender, FXSelector sel, void* data) {
        const uint32_t before = vdx::bytesAvailable();
        const Clock::time_point t0 = Clock::now();
        const long r = VerdanoxWindow::onReceivePoll(sender, sel, data);
        pollMs.push_back(msSince(t0));
        if (vdx::bytesAvailable() < before) ++framesTaken;
        return r;
    }
};

FXDEFMAP(MeasuredWindow)
MeasuredWindowMap[] = {
    FXMAPFUNC(SEL_TIMEOUT, vdx::VerdanoxWindow::ID_RECEIVE_POLL, MeasuredWindow::onMeasuredPoll),
    FXMAPFUNC(SEL_IO_READ, vdx::VerdanoxWindow::ID_RECEIVE_POLL, MeasuredWindow::onMeasuredPoll),
};
FXIMPLEMENT(MeasuredWindow, vdx::VerdanoxWindow, MeasuredWindowMap, ARRAYNUMBER(MeasuredWindowMap))

void writeAll(int fd, const std::vector<uint8_t>& bytes) {
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t w = write(fd, bytes.data() + done, bytes.size() - done);
        if (w <= 0) return;
        done += static_cast<size_t>(w);
    }
}

std::vector<uint8_t> frame(uint8_t command, size_t n, uint8_t fill) {
    std::vector<uint8_t> f = {command, static_cast<uint8_t>(n & 0xFF), static_cast<uint8_t>(n >> 8)};
    f.resize(n + 3, fill);
    return f;
}

// Writes one frame and waits until the poll has taken it; the latency in ms.
double timedFrame(int master, const std::vector<uint8_t>& f) {
    const unsigned before = framesTaken;
    const Clock::time_point t0 = Clock::now();
    writeAll(master, f);
    while (framesTaken == before && !stopping) std::this_thread::sleep_for(std::chrono::microseconds(10));
    return msSince(t0);
}

void stick(int master, std::string mode, std::vector<double>* latency) {
    prctl(PR_SET_TIMERSLACK, 1UL);  // the 10 us naps of the latency probe stay short
    std::mt19937 rng(12345);
    unsigned turn = 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // the first poll comes after 1 s
    while (!stopping) {
        if (mode == "ack") {
            latency->push_back(timedFrame(master, {0x80, 0x01, 0x00, 0x00}));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        } else if (mode == "burst") {
            std::vector<uint8_t> five;
            for (int i = 0; i < 5; ++i) {
                const std::vector<uint8_t> f = frame(0x81, 600, static_cast<uint8_t>(0xA0 + i));
                five.insert(five.end(), f.begin(), f.end());
            }
            writeAll(master, five);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        } else if (mode == "mixed") {
            std::vector<uint8_t> f;
            if (turn % 3 == 0) f = {0x80, 0x01, 0x00, 0x00};
            if (turn % 3 == 1) f = frame(0x81, 600, 0xA5);
            if (turn % 3 == 2)
                for (int i = 0; i < 37; ++i) f.push_back(static_cast<uint8_t>(rng()));
            ++turn;
            writeAll(master, f);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        } else if (mode == "slow") {
            const std::vector<uint8_t> f = frame(0x81, 4000, 0xA5);
            for (size_t i = 0; i < f.size() && !stopping; i += 100) {
                writeAll(master, std::vector<uint8_t>(f.begin() + static_cast<long>(i),
                                                      f.begin() + static_cast<long>(std::min(i + 100, f.size()))));
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

double cpuSeconds() {
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "quiet";
    const double seconds = argc > 2 ? std::atof(argv[2]) : 10;
    int master = -1, slave = -1;
    char name[256];
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return std::perror("openpty"), 1;
    termios raw;
    tcgetattr(master, &raw);
    cfmakeraw(&raw);
    tcsetattr(master, TCSANOW, &raw);
    tcsetattr(slave, TCSANOW, &raw);

    // the stick as discovery would have recorded it
    vdx::linkState.transportKind = vdx::TransportKind::ComPort;
    vdx::linkState.stickFound = 1;
    const std::string port = name;
    port.copy(vdx::linkState.portName, sizeof vdx::linkState.portName - 1);
    if (vdx::openStick() != 1) return std::fprintf(stderr, "cannot open %s\n", name), 1;

    FXApp app("Verdanox bench", "www.verdanox.example");
    app.init(argc, argv);
    new MeasuredWindow(&app);
    app.create();
    std::vector<double> latency;
    std::thread player(stick, master, mode, &latency);
    const double cpu0 = cpuSeconds();
    const Clock::time_point t0 = Clock::now();
    app.addTimeout(&app, FXApp::ID_QUIT, static_cast<FXuint>(seconds * 1000));
    app.run();
    stopping = true;
    const double cpu = cpuSeconds() - cpu0, wall = msSince(t0) / 1000;
    player.join();

    std::printf("%s: %.1f s, CPU %.3f %% of a core, %zu polls, longest poll %.2f ms", mode.c_str(), wall,
                100 * cpu / wall, pollMs.size(), pollMs.empty() ? 0 : *std::max_element(pollMs.begin(), pollMs.end()));
    if (!latency.empty())
        std::printf(", drain latency median %.3f ms, p99 %.3f ms over %zu frames", percentile(latency, 0.5),
                    percentile(latency, 0.99), latency.size());
    std::printf(", %u frames taken\n", framesTaken.load());
    return 0;
}
