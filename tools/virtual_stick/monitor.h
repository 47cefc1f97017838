// The virtual stick's telegram monitor: splits the byte stream the program
// writes into stick frames and describes each telegram in one line: its
// meter (and a radio converter's address where the link layer carries
// another), its layers, its security (mode 5, mode 7 and the ELL's AES-CTR
// checked and decrypted with OpenSSL, independently of the program's own
// cryptography), its data records, decoded by the monitor's own record
// decoder, and compact frames, decoded with the format a full frame of the
// same meter announced.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "config/rig.h"
#include "tools/virtual_stick/compact_formats.h"
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
    // A radio frame as a receiver hands it on (L, C, M, A, ...; with frame
    // format A's CRC blocks or without): the line of the telegram it
    // carries, or why it cannot be read ("CRC FAILED" for a block's CRC,
    // "length mismatch" for an L-field that does not match what follows).
    std::string feedRadio(const std::vector<uint8_t>& radio, bool formatA);
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
    std::string describeRead(const std::vector<uint8_t>& frame, const TelegramLayers& t);
    std::string describeUnread(const std::vector<uint8_t>& frame, const TelegramLayers& t);
    // A mode-7 MAC that fails with the AFL's counter but verifies with a
    // neighbouring one: the line's end, counted; empty otherwise.
    std::string counterMismatch(const std::vector<uint8_t>& frame, const TelegramLayers& t, const uint8_t* key);
    // Its meter and layers; `ell` tells the ELL's decryption, for a
    // transport layer read from a decrypted ELL payload.
    std::string describeTelegram(const std::vector<uint8_t>& frame, const TelegramLayers& t,
                                 const std::string& ell = "");
    std::string describeMode7(const std::vector<uint8_t>& frame, const TelegramLayers& t);
    std::string describeMode5(const std::vector<uint8_t>& frame, const TelegramLayers& t);
    std::string describeEll(const std::vector<uint8_t>& frame, const TelegramLayers& t);
    // The verdict on a decrypted (or plain) block: its records, or where they
    // stop parsing; a compact one (after `check` bytes of 2F 2F) decoded
    // with its meter's format.
    std::string describeBlock(const uint8_t* block, size_t n, bool compact = false, size_t check = 0);
    std::string describeCompact(const uint8_t* block, size_t n);
    // Counts a verdict; a replay counts as one whatever else it shows, then
    // a repeated ELL session number (a keystream used twice), then a
    // duplicate access number where all else is ok.
    void count(const std::string& verdict);
    const MeterKey* keyFor(const uint8_t* address) const;

    std::vector<MeterKey> keys_;
    std::vector<uint8_t> pending_;
    std::vector<std::string> raw_;
    uint8_t address_[8] = {};  // the link layer's, from the address frame
    bool haveAddress_ = false;
    uint8_t meter_[8] = {};  // the telegram's meter: the long header's address, else the link layer's
    unsigned telegrams_ = 0;
    MeterHistory history_;
    FormatStore formats_;
    bool replay_ = false;           // the telegram being described repeats its meter's last one
    bool duplicateAccess_ = false;  // ... or has its access number over other bytes
    bool sessionReused_ = false;    // ... or its ELL's counter block over another payload
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
// count = N its own (a meter without a key has none); a meter behind a
// converter by its own address, which its long header carries.
std::vector<MeterKey> rigMeterKeys(const vdx::Rig& rig);

// Reads radio frames, one a line, as verdanox-frames prints them (--format
// radio, radio-crc with `formatA`, rtlwmbus: the part after ";0x",
// telegram-lines: between the bars) from `path` ("-": standard input), and
// writes the monitor's line for each, then its verdicts, through `say`.
// False with why when the file cannot be read.
bool monitorRadioLines(const std::string& path, bool formatA, TelegramMonitor& monitor,
                       const std::function<void(const std::string&)>& say, std::string* error);

// A wireless M-Bus frame as a receiver hands it to its decoder (L, C, M, A,
// then the rest of the telegram), with the CRC blocks of frame format A or
// without, turned back into the stick frames that make the stick send it:
// the address frame and the telegram frame, appended to `stream`. False,
// with the reason, when L or a block's CRC does not match.
bool radioToStickFrames(const std::vector<uint8_t>& radio, bool formatA, std::vector<uint8_t>* stream,
                        std::string* error);

}  // namespace vstick
