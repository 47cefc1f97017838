// The virtual stick's telegram monitor: splits the byte stream the program
// writes into stick frames and describes each telegram in one line: its
// layers, its security (mode 5 and mode 7 checked and decrypted with
// OpenSSL, independently of the program's own cryptography) and its data
// records, decoded by the monitor's own record decoder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/rig.h"
#include "tools/virtual_stick/record_decoder.h"
#include "tools/virtual_stick/verdicts.h"

namespace vstick {

struct TelegramLayers;

struct MeterKey {
    uint8_t address[8];
    uint8_t key[16];
    int keyLine;    // the key's line in the configuration file, from 1
    bool keyValid;  // that line held exactly 32 hexadecimal digits
};

class TelegramMonitor {
public:
    explicit TelegramMonitor(std::vector<MeterKey> keys);

    // Feeds received bytes; returns one line per completed telegram frame
    // (and per frame it does not know), without time stamps.
    std::vector<std::string> feed(const uint8_t* data, size_t n);
    // Every complete frame seen so far, as upper-case hex, in order.
    std::vector<std::string> takeRawFrames();
    // Telegram frames seen.
    unsigned telegrams() const { return telegrams_; }
    // How many telegrams got each verdict.
    const VerdictCounts& verdicts() const { return verdicts_; }
    // The records of the last telegram described (none when they could not
    // be read).
    const std::vector<DecodedRecord>& records() const { return records_; }

private:
    std::string describe(const std::vector<uint8_t>& frame);
    std::string describeTelegram(const std::vector<uint8_t>& frame, const TelegramLayers& t);
    std::string describeMode7(const std::vector<uint8_t>& frame, const TelegramLayers& t, const uint8_t* meter);
    std::string describeMode5(const std::vector<uint8_t>& frame, const TelegramLayers& t, const uint8_t* meter);
    // The verdict on a decrypted (or plain) block: its records, or where they
    // stop parsing.
    std::string describeBlock(const uint8_t* block, size_t n);
    // Counts a verdict; a replay counts as one whatever else it shows.
    void count(const std::string& verdict);
    const MeterKey* keyFor(const uint8_t* address) const;

    std::vector<MeterKey> keys_;
    std::vector<uint8_t> pending_;
    std::vector<std::string> raw_;
    uint8_t address_[8] = {};
    bool haveAddress_ = false;
    unsigned telegrams_ = 0;
    MeterHistory history_;
    bool replay_ = false;  // the telegram being described repeats its meter's last one
    VerdictCounts verdicts_;
    std::vector<DecodedRecord> records_;
};

// The meters' addresses and keys as written in the configuration file at
// `path`, read strictly and without the program's reader, so that a key the
// program reads differently shows up as a failed MAC: lines 1 to 10 must be
// 16 hexadecimal digits, lines 11 to 20 32 digits, each line as written (a
// CR before its LF is allowed). A meter whose address line is not valid is
// left out. Each problem is described in `problems`, one line each. False,
// with "cannot read PATH: reason", when `path` is not a regular file that
// can be read; only its first kMostConfigBytes are looked at.
constexpr size_t kMostConfigBytes = 65536;  // 20 lines of 255 characters fit many times over
bool loadMeterKeys(const char* path, std::vector<MeterKey>* keys, std::vector<std::string>* problems);

// The addresses and keys of a rig's meters, each meter of a table with
// count = N its own (a meter without a key has none).
std::vector<MeterKey> rigMeterKeys(const vdx::Rig& rig);

// A wireless M-Bus frame as a receiver hands it to its decoder (L, C, M, A,
// then the rest of the telegram), with the CRC blocks of frame format A or
// without, turned back into the stick frames that make the stick send it:
// the address frame and the telegram frame, appended to `stream`. False,
// with the reason, when L or a block's CRC does not match.
bool radioToStickFrames(const std::vector<uint8_t>& radio, bool formatA, std::vector<uint8_t>* stream,
                        std::string* error);

}  // namespace vstick
