// End-to-end driver for the virtual stick: discovers and opens the stick
// through the real Linux backend, sends N ticks of telegrams without the five
// second wait, runs the receive poll in between, and closes the link.
//   stick_driver TICKS [--plain]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "config/config.h"
#include "link/link.h"
#include "telegram/send_cycle.h"

int main(int argc, char** argv) {
    setbuf(stdout, nullptr);
    const int ticks = argc > 1 ? std::atoi(argv[1]) : 3;
    const bool plain = argc > 2 && std::strcmp(argv[2], "--plain") == 0;
    vdx::readConfigFile();
    vdx::loadKeyTable();
    for (int m = 0; m < vdx::kMeterCount; ++m) vdx::loadMeterAddress(m);
    if (vdx::findStick() != 1) return std::puts("driver: no stick"), 3;
    std::printf("driver: stick %s, %s, %s\n", vdx::getStickId(), vdx::getStickType(), vdx::linkState.portName);
    if (vdx::openStick() != 1) return std::puts("driver: cannot open"), 4;

    int written = 0;
    const vdx::FrameWriter write = [&written](const uint8_t* f) { return written += vdx::writeFrame(f), 1; };
    vdx::startSending([](int, const char*) {});
    for (int t = 0; t < ticks; ++t) {
        vdx::sendTick(!plain, vdx::keyTable, write, [](int, const char*) {});
        const timespec pause = {0, 20 * 1000 * 1000};
        for (int p = 0; p < 10; ++p, nanosleep(&pause, nullptr)) vdx::receivePoll();
    }
    std::printf("driver: %d of %d frames written\n", written, 2 * ticks);
    vdx::closeStick();
    return written == 2 * ticks ? 0 : 5;
}
