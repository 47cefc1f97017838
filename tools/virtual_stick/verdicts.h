// What the monitor concludes about each telegram from its bytes alone, as a
// receiver would: the checks a correct receiver makes (authentication,
// decryption, replays, counters, length, records), and their counts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vstick {

// The telegrams a meter sent before, to recognise a replay (the same bytes
// again) and a message counter that went back.
class MeterHistory {
public:
    // True when `telegram` is this meter's last telegram again.
    bool isReplay(const uint8_t address[8], const std::vector<uint8_t>& telegram) const;
    // The highest counter seen before (false when none).
    bool lastCounter(const uint8_t address[8], uint32_t* counter) const;
    void remember(const uint8_t address[8], const std::vector<uint8_t>& telegram);
    void rememberCounter(const uint8_t address[8], uint32_t counter);

private:
    struct Seen {
        std::vector<uint8_t> last;
        bool haveCounter = false;
        uint32_t counter = 0;
    };
    std::map<std::string, Seen> seen_;
};

// Counts per verdict ("ok", "MAC FAILED", "wrong key", "replay", "counter
// went back", "truncated", "malformed records", ...), in the order first seen.
class VerdictCounts {
public:
    void count(const std::string& verdict);
    unsigned operator[](const std::string& verdict) const;
    // "10 ok, 1 MAC FAILED, 1 replay"; "none" before the first telegram.
    std::string summary() const;

private:
    std::vector<std::pair<std::string, unsigned>> counts_;
};

}  // namespace vstick
