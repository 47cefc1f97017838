#include "session/send_session.h"

#include "link/link.h"
#include "session/send_loop.h"

namespace vdx {
namespace {

// The USB RF stick, through the window's send loop.
class StickPath : public SendPath {
public:
    StickPath() {
        loop_.troubleStarted = loop_.troubleEnded = [this](const std::string& line) {
            if (tell) tell(line);
        };
    }
    ~StickPath() override { closeStick(); }
    bool open(std::string* why) override {
        if (findStick() == 0) return *why = explainStickNotFound(), false;
        if (openStick() == 0) return *why = explainOpenFailure(), false;
        return true;
    }
    void waitUntil(uint64_t deadlineMs, const volatile std::sig_atomic_t& stop) override {
        loop_.drainUntil(deadlineMs, stop);
    }
    SendResult send(RigRun::Planned& p, uint64_t) override {
        return loop_.send(p.telegram) ? SendResult::Sent : SendResult::NotSent;
    }

private:
    SendLoop loop_;
};

}  // namespace

SendSession::SendSession() : stick_(std::make_unique<StickPath>()), path_(stick_.get()) {}
SendSession::SendSession(SendPath& path) : path_(&path) {}
SendSession::~SendSession() = default;

bool SendSession::open(std::string* why) { return path_->open(why); }

void SendSession::run(RigRun& run, long telegrams, const volatile std::sig_atomic_t& stop) {
    path_->tell = [this](const std::string& line) {
        if (tell) tell(line);
    };
    // a path that takes its telegrams early starts the schedule that much later
    const uint64_t start = linkPlatform().monotonicMs() + path_->leadMs();
    for (long sent = 0; !stop && (telegrams == 0 || sent < telegrams); ++sent) {
        RigRun::Planned p = run.next();
        if (p.pastEnd) {
            reachedEnd_ = true;
            break;
        }
        const uint64_t due = start + p.atMs, lead = path_->leadMs();
        path_->waitUntil(due > lead ? due - lead : 0, stop);
        if (stop) break;
        const SendResult result = path_->send(p, due);
        ++(result == SendResult::Sent   ? delivered_
           : result == SendResult::Held ? held_
           : result == SendResult::Busy ? busy_
                                        : lost_);
        if (report) report(p);
    }
    path_->finish();
}

}  // namespace vdx
