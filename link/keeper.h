// Keeps the stick link in use over a long run. A telegram whose frames did
// not both reach the stick, or a hang-up seen by the receive poll, means the
// link is lost: it is closed at once, so that the system can give a stick
// that comes back its name again. While it is lost, every send tick tries,
// quietly, to find and open the stick again with the rules of start-up.
// The user hears of it twice: when the trouble starts and when it ends.
#pragma once

#include <functional>
#include <string>

namespace vdx {

// The line that tells the user on stderr that telegrams cannot be sent.
extern const char kStickTroubleText[];

class LinkKeeper {
public:
    // Runs before the keeper closes the link, so that whoever watches its
    // descriptor stops first.
    std::function<void()> beforeClose;
    // A line for the user: the trouble started, or it is over.
    std::function<void(const std::string&line)> troubleStarted, troubleEnded;

    // At the start of a send tick: one quiet attempt to reopen a lost link.
    void tickStarting();
    // At the end of a send tick. `sent`: a telegram was due (sending on);
    // `delivered`: both its frames were written whole.
    void tickDone(bool sent, bool delivered);
    // The receive poll saw the device go away.
    void hungUp();

    bool lost() const { return lost_; }

private:
    void lose();

    bool lost_ = false;
};

}  // namespace vdx
