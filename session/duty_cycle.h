// The duty-cycle rules of the SRD bands a meter's radio modes use (ETSI EN
// 300 220, ERC Recommendation 70-03 annex 1, non-specific short range
// devices): a transmitter's time on air per hour is limited per sub-band,
// and an account over a sliding hour holds a telegram back rather than
// exceed the limit. Only an SDR's transmissions are counted: a stick keeps
// its own account, the virtual stick and captures send nothing on the air.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "config/rig.h"

namespace vdx {

struct SubBand {
    double lowHz, highHz;
    double percent;     // of each hour on the air
    const char* power;  // the e.r.p. the row allows, for the user
};
extern const SubBand kSubBands[];
extern const size_t kSubBandCount;

// The sub-band that holds a signal from `lowHz` to `highHz` whole; nullptr
// where no row of the table does.
const SubBand* subBandOf(double lowHz, double highHz);
// "868.7-869.2 MHz"
std::string bandName(const SubBand& band);

constexpr int64_t kHourUs = 3600000000;

// The account of one transmitter: per sub-band, the bursts of the last
// hour. Times in microseconds on one clock.
class DutyCycle {
public:
    // `percent` > 0: the limit in every sub-band instead of its own where
    // it is lower; with `override` also where it is higher.
    explicit DutyCycle(double percent = 0, bool override = false) : percent_(percent), override_(override) {}

    double limitPercent(const SubBand& band) const;
    // True when a burst of `airUs` from `startUs` keeps the sub-band's time
    // on air in the hour up to the burst's end within its limit.
    bool allows(const SubBand& band, int64_t startUs, int64_t airUs);
    // Counts the burst.
    void add(const SubBand& band, int64_t startUs, int64_t airUs);
    // Microseconds on air in the hour up to `atUs`.
    int64_t usedUs(const SubBand& band, int64_t atUs);

    // The account as text, to be read by load() in a later run: a line per
    // burst still in the hour at `nowUs`, "LOWHZ START END", its times moved
    // by `offsetUs` (onto the wall clock, microseconds since 1970).
    std::string save(int64_t nowUs, int64_t offsetUs);
    // Takes the bursts of a saved account, moved back by `offsetUs`, those
    // that left the hour before `nowUs` dropped. False, the account left
    // as it was and `badLine` the first line that is not right (1: the
    // header), when the text is not an account.
    bool load(const std::string& text, int64_t nowUs, int64_t offsetUs, size_t* badLine);

private:
    struct Burst {
        int64_t start, end;
    };
    struct Band {
        std::deque<Burst> bursts;
        int64_t total = 0;  // of their lengths
    };
    Band& of(const SubBand& band);

    double percent_;
    bool override_;
    std::vector<Band> bands_;
};

// What a rig's meters ask of the air: telegrams an hour of each meter of
// table `table` (its interval; in "turns" the interval shared by all; in
// "each" no more than the gap lets through).
double telegramsPerHour(const Rig& rig, size_t table, double intervalOverride);

// The start-up line of a sub-band: "868.7-869.2 MHz (T1): the meters ask
// for 2 % of the time on air (72 s an hour), the band allows 0.1 % (3.6 s),
// 0.0352 s of it used in the last hour: telegrams past it are held back".
std::string dutyCycleLine(const SubBand& band, const std::string& modes, double askedPercent, const DutyCycle& d,
                          int64_t usedUs);

// Where the duty-cycle accounts of the transmitters live between runs:
// $XDG_STATE_HOME/verdanox (where it is an absolute path), else
// $HOME/.local/state/verdanox; empty where neither is set.
std::string dutyStateDirectory();
// The file of the transmitter named `key` ("hackrf-SERIAL" or its device
// arguments) in `directory`: "duty-" and the key, each character other
// than a letter, digit, '.', '-' or '_' as '_', cut to 120 characters.
std::string dutyStateFile(const std::string& directory, const std::string& key);

}  // namespace vdx
