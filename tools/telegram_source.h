// Where the tools' telegrams come from: the window's VDXconfig.txt (ten
// meters, mode 7 or plain, in turns) or a rig file.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "config/rig.h"
#include "telegram/faults.h"

namespace vdx {

struct SourceOptions {
    const char* config = nullptr;         // a VDXconfig.txt; nullptr: the one here
    const char* rig = nullptr;            // a rig file instead
    bool plain = false;                   // --config only: plain telegrams
    double interval = 5;                  // --config: between telegrams
    std::vector<FaultRule> faults;        // --fault: for every meter that can take it, after a rig's own
    std::vector<std::string> faultTexts;  // each as given, for messages
    std::string output = "stick";         // where the telegrams go: "stick", "radio", "radio-crc"
    // Why a fault cannot apply to meter `meter` of `rig` beyond its security
    // and the output (the radio mode it is captured in, say); empty when it
    // can. Optional; asked of the rig's faults and the --fault rules alike.
    std::function<std::string(const FaultRule&, const Rig&, size_t meter)> meterFaultProblem;
};

// The options verdanox-send and verdanox-frames share: -c/--config,
// -r/--rig, -i/--interval (into `interval`), -p/--plain and -F/--fault. 1
// when `code` was one of them, 0 when not, -1 with `problem` when its value
// is wrong.
int sourceOption(int code, const char* arg, SourceOptions* o, double* interval, std::string* problem);

// Loads the configuration or the rig into `rig`, telling the user on
// stderr what went wrong. A fault written on a meter in the rig must apply
// to it; a --fault rule is added to every meter that can take it, and one
// line on stderr names the meters it leaves out and why. 0 when loaded;
// otherwise the exit status: 1 for a file that cannot be read, 2 for a rig
// file that is not right, options that do not go together, a rig's fault
// that cannot apply to its meter or a --fault that no meter can take.
int loadTelegramSource(const char* program, const SourceOptions& options, Rig* rig);

// "meter 2 (9858825634120103)" for one meter, "meters 0-4, 7" for more:
// the meters of the rig's tables `tables`, those of a table with count = N
// one by one.
std::string meterList(const std::vector<size_t>& tables, const Rig& rig);

// One line for the ell-ctr meters of `rig` that send more than 16
// telegrams in one meter minute (session/schedule.h: sessionReuse): which,
// how many a minute, and that their keystream repeats; empty when none do.
// The rig is not refused: the telegrams are marked in the JSON.
std::string sessionReuseLine(const Rig& rig, double intervalOverride);

// The meters a command-line choice for every meter leaves out, grouped by
// why, in meter order; added by their table in the rig.
class LeftOut {
public:
    void add(const std::string& why, size_t meter);
    bool empty() const { return groups_.empty(); }
    // One line: "CHOICE leaves out meter 0 (...): why; meters 2-3: why" when
    // `taken` meters took it; "CHOICE: why" or "CHOICE applies to no meter:
    // ..." when none did. Empty when nothing was left out.
    std::string text(const std::string& choice, size_t taken, const Rig& rig) const;

private:
    std::vector<std::pair<std::string, std::vector<size_t>>> groups_;
};

}  // namespace vdx
