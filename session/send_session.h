// A sending session without a window, for verdanox-send: the schedule of a
// rig run through a send path, the USB RF stick's (the discovery, link,
// send loop and frames of the window program) unless another is given,
// woken by a blocking wait on the platform clock instead of a toolkit's
// timers.
#pragma once

#include <csignal>
#include <functional>
#include <memory>
#include <string>

#include "session/rig_run.h"
#include "session/send_path.h"

namespace vdx {

class SendSession {
public:
    // Lines for the user about the stick or SDR (it stopped taking
    // telegrams, it is back), as the window's stderr lines.
    std::function<void(const std::string& line)> tell;
    // Every telegram the run built, sent or not, with what the schedule
    // and the faults said about it.
    std::function<void(const RigRun::Planned& planned)> report;

    SendSession();                         // through the stick
    explicit SendSession(SendPath& path);  // through another path
    ~SendSession();                        // closes the stick, once

    // Finds and opens the stick (as verdanox does) or the path's device;
    // false with the reason.
    bool open(std::string* why);
    // Sends the run's telegrams at their times after its start (the first
    // at once unless every meter has an offset), until `telegrams` went out
    // or were held (0: no end), `stop` is set (by a signal handler) or the
    // next telegram's meter time would pass the last a telegram can carry;
    // between telegrams it drains what the stick sends.
    void run(RigRun& run, long telegrams, const volatile std::sig_atomic_t& stop);

    unsigned delivered() const { return delivered_; }
    unsigned lost() const { return lost_; }
    unsigned held() const { return held_; }  // for the duty cycle
    unsigned busy() const { return busy_; }  // skipped: the transmitter was still sending
    // The run ended before a telegram past the meters' last time (the
    // run's endProblem() says which).
    bool reachedEnd() const { return reachedEnd_; }

private:
    std::unique_ptr<SendPath> stick_;
    SendPath* path_;
    unsigned delivered_ = 0, lost_ = 0, held_ = 0, busy_ = 0;
    bool reachedEnd_ = false;
};

}  // namespace vdx
