// A sending session without a window, for verdanox-send: the discovery,
// link, send loop and frames of the window program, woken by a blocking
// wait on the platform clock instead of a toolkit's timers.
#pragma once

#include <csignal>
#include <functional>
#include <string>

#include "session/rig_run.h"
#include "session/send_loop.h"
#include "telegram/send_cycle.h"

namespace vdx {

class SendSession {
public:
    // Lines for the user about the stick (it stopped taking telegrams, it is
    // back), as the window's stderr lines.
    std::function<void(const std::string& line)> tell;
    // Every telegram the cycle built, sent or not.
    std::function<void(const SentTelegram& telegram)> report;

    ~SendSession();  // closes the link, once

    // Finds and opens the stick as verdanox does; false with the reason.
    bool open(std::string* why);
    // Sends the run's telegrams at their times, the first at once, until
    // `telegrams` went out (0: no end) or `stop` is set (by a signal
    // handler); between telegrams it drains what the stick sends.
    void run(RigRun& run, long telegrams, const volatile std::sig_atomic_t& stop);

    unsigned delivered() const { return delivered_; }
    unsigned lost() const { return lost_; }

private:
    SendLoop loop_;
    unsigned delivered_ = 0, lost_ = 0;
};

}  // namespace vdx
