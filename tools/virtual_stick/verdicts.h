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
// again), an access number again over new content, a message counter that
// went back, and an ELL session number again over new content.
class MeterHistory {
public:
    // True when `telegram` is this meter's last telegram again.
    bool isReplay(const uint8_t address[8], const std::vector<uint8_t>& telegram) const;
    // True when the meter's last telegram had access number `access` too.
    bool sameAccess(const uint8_t address[8], uint8_t access) const;
    // The highest counter seen before (false when none).
    bool lastCounter(const uint8_t address[8], uint32_t* counter) const;
    void remember(const uint8_t address[8], const std::vector<uint8_t>& telegram, uint8_t access);
    void rememberCounter(const uint8_t address[8], uint32_t counter);
    // True when the ELL of the meter at link address `address` used the
    // counter block of `cc` and session number `sn` before over another
    // encrypted payload (`n` bytes at `payload`): the same AES-CTR keystream
    // over other plain text. Remembers this one. Each meter keeps its last
    // kSessionsKept counter blocks, 256 bytes: its session counter has 4
    // bits, so a meter that sends more than 16 telegrams in one minute meets
    // the repeat within them.
    static constexpr size_t kSessionsKept = 16;
    bool sessionReused(const uint8_t address[8], uint8_t cc, uint32_t sn, const uint8_t* payload, size_t n);

private:
    struct Session {
        uint64_t payloadHash;  // FNV-1a
        uint32_t sn;
        uint8_t cc;
    };
    struct Seen {
        std::vector<uint8_t> last;
        uint8_t access = 0;
        bool haveCounter = false;
        uint32_t counter = 0;
        std::vector<Session> sessions;  // the last kSessionsKept, oldest overwritten first
        size_t nextSession = 0;
    };
    std::map<std::string, Seen> seen_;
};

// Counts per verdict ("ok", "MAC FAILED", "wrong key", "replay", "counter
// went back", "truncated", "malformed records", "no 2F 2F", "AFL counter
// mismatch", "unknown CI", "duplicate access", "format unknown", "compact CRC
// FAILED", "payload CRC FAILED", "session number repeated", "length
// mismatch", "CRC FAILED", ...), in
// the order first seen.
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
