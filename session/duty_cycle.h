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
    // that left the hour before `nowUs` dropped, and those that start more
    // than kFutureToleranceUs after it (the clock was set back since they
    // were written, or the file was made up: a burst cannot have been sent
    // yet), counted in `future`. False, the account left as it was and
    // `badLine` the first line that is not right (1: the header), when the
    // text is not an account.
    bool load(const std::string& text, int64_t nowUs, int64_t offsetUs, size_t* badLine, size_t* future = nullptr);
    // As load(), but the bursts read are added to the account's own, a
    // burst in both counted once: another run on the same transmitter
    // saved them.
    bool merge(const std::string& text, int64_t nowUs, int64_t offsetUs, size_t* future = nullptr);

    // A running transmitter hands a burst to its device up to a tenth of a
    // second before the burst's time and counts it at once, so an account
    // another run is writing holds times that far ahead of now; past this
    // a burst lies in the future.
    static constexpr int64_t kFutureToleranceUs = 1000000;

private:
    struct Burst {
        int64_t start, end;
        bool operator<(const Burst& o) const { return start != o.start ? start < o.start : end < o.end; }
        bool operator==(const Burst& o) const { return start == o.start && end == o.end; }
    };
    struct Band {
        std::deque<Burst> bursts;
        int64_t total = 0;  // of their lengths
    };
    Band& of(const SubBand& band);
    static bool read(const std::string& text, int64_t nowUs, int64_t offsetUs, DutyCycle* into, size_t* badLine,
                     size_t* future);

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

// The most an account file may hold: 1 MiB. A burst is a line of at most
// 44 bytes, and within each sub-band's limit even the shortest frame (12
// bytes: 1.6 ms on the air in C1, 7.9 ms in S2, 79 ms in F, 27 ms in N)
// leaves fewer than 13,000 bursts in an hour in all the sub-bands
// together, about 560 kB. Only --duty-cycle-override far above the limits
// writes more; such a file is said and taken as empty.
constexpr uintmax_t kMostAccountBytes = 1 << 20;

// Reads an account file: only a regular file (after symbolic links) of at
// most kMostAccountBytes, so that a device, a FIFO or a stray large file
// never blocks or fills the memory. Missing: no file (an empty account);
// Unreadable with what is wrong: "is not a regular file".
enum class AccountFile { Missing, Read, Unreadable };
AccountFile readAccountFile(const std::string& path, std::string* text, std::string* problem);

// Where the duty-cycle accounts of the transmitters live between runs:
// $XDG_STATE_HOME/verdanox (where it is an absolute path), else
// $HOME/.local/state/verdanox; empty where neither is set.
std::string dutyStateDirectory();
// The file of the transmitter named `key` ("HackRF-SERIAL", or the driver
// alone where the device reports no serial number) in `directory`: "duty-" and the key, each character other
// than a letter, digit, '.', '-' or '_' as '_', cut to 120 characters.
std::string dutyStateFile(const std::string& directory, const std::string& key);

}  // namespace vdx
