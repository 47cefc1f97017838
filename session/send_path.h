// Where verdanox-send's telegrams go: the USB RF stick (through the send
// loop) or an SDR's transmit stream. The session keeps the schedule; a path
// sends, waits between telegrams and tells the user when it is lost and
// when it is back.
#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <string>

#include "session/rig_run.h"

namespace vdx {

// Held: for the duty cycle; Busy: skipped, the transmitter still sending
// the burst before
enum class SendResult { Sent, NotSent, Held, Busy };

class SendPath {
public:
    // Lines for the user: the path stopped taking telegrams, it is back.
    std::function<void(const std::string& line)> tell;

    virtual ~SendPath() = default;
    // Finds and opens the device; false with the reason.
    virtual bool open(std::string* why) = 0;
    // How long before its time a telegram is handed over: a path that puts
    // a time on its bursts takes them early.
    virtual uint64_t leadMs() const { return 0; }
    // Until the platform clock reaches `deadlineMs` or `stop` is set.
    virtual void waitUntil(uint64_t deadlineMs, const volatile std::sig_atomic_t& stop) = 0;
    // Sends the telegram due at `dueMs` on the platform clock, marking it
    // delivered when it went out; a lost device is looked for again first.
    virtual SendResult send(RigRun::Planned& p, uint64_t dueMs) = 0;
    // The run is over: what the path keeps between runs is saved.
    virtual void finish() {}
};

}  // namespace vdx
