// Telegrams a correct receiver must refuse or flag, on demand: what each
// fault kind changes (a layer's field before encoding, or the finished
// bytes after it), and which telegrams of a meter get one.
//
//   kind            what is sent                                    a correct receiver
//   bad-mac         mode 7: the AFL's MAC with the lowest bit of    refuses it: authentication fails
//                   its first byte flipped, after encoding
//   wrong-key       modes 5, 7: built under the meter key with      refuses it: MAC fails (7), no 2F 2F
//                   its last byte XOR 0x01                          after decryption (5)
//   replay          modes 5, 7: the meter's previous telegram       drops it as a duplicate or replay
//                   again; access number and counter stay
//   counter-rewind  mode 7: a fresh telegram whose AFL message      refuses it: the counter went back
//                   counter is one below the last one a receiver
//                   accepted (a telegram whose MAC held)
//   truncated       all: the finished telegram frame without its    refuses or flags it; never crashes
//                   last 16 bytes, framed correctly for the stick
//   bad-records     all: valid security; in the application layer  flags a malformed telegram and
//                   the third record from the end gets a reserved   keeps running
//                   DIF (0x3F), and the block ends in a record that
//                   announces more bytes than remain
//   bad-crc         radio output with CRCs only: the first block's  drops it at the link layer
//                   CRC high byte inverted
//   fuzz            all: the application block mutated after its    must not crash or hang; decodes
//                   2F 2F, then secured correctly                   what it can
//   no-2f2f         mode 7: the right key and MAC, but the block    refuses it: the decrypted block does
//                   left without its leading 2F 2F                  not start with 2F 2F
//   afl-counter-    mode 7: the AFL says the message counter plus   refuses it: the MAC fails under the
//   mismatch        one; keys and MAC are the counter's             keys of the counter it was given
//   length-mismatch radio outputs: the L-field one too long (odd    drops it: L does not match what
//                   telegram numbers) or too short (even ones,      follows (or a CRC fails)
//                   and frames that cannot grow), the CRCs right
//                   for the bytes sent
//   wrong-ci        all: the transport layer's CI is 0xA0, which    does not decode it, names the CI;
//                   no decoder knows (manufacturer specific)        never guesses a layout
//   duplicate-      all: the access number of the meter's last      keeps it: new content under an old
//   access          telegram again, with new content (and in mode   access number is no duplicate
//                   7 a new counter); the meter's access number
//                   does not advance for it
//   compact-unknown compact frames: a compact frame whose format    does not decode it until a full
//                   signature no full frame announced               frame of that format came
//   compact-bad-crc compact frames: the full frame's CRC in a       drops its values: the frame it
//                   compact frame with its lowest bit flipped       rebuilds does not match
//   ell-bad-crc     ell-ctr: the ELL's payload CRC (encrypted)      drops it: the decrypted payload's
//                   with its lowest bit flipped                     CRC fails
//
// and at the air interface, in I/Q captures only:
//   bad-3of6        T1: one 6-chip code word (the middle byte's     drops it: a chip sequence that is no
//                   high nibble) is 111000, no 3-out-of-6 word      code word is a coding error
//   short-preamble  half the mode's fewest preamble pairs           may miss it (the transmitter is out
//                                                                   of the standard); never takes a wrong
//                                                                   frame from it
//   bad-sync        one chip of the synchronisation word inverted   does not synchronise: the telegram
//                                                                   is lost
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "telegram/layers.h"

namespace vdx {

enum class FaultKind : uint8_t {
    None,
    BadMac,
    WrongKey,
    Replay,
    CounterRewind,
    Truncated,
    BadRecords,
    BadCrc,
    Fuzz,
    BadThreeOfSix,
    ShortPreamble,
    BadSync,
    No2f2f,
    AflCounterMismatch,
    LengthMismatch,
    WrongCi,
    DuplicateAccess,
    CompactUnknown,
    CompactBadCrc,
    EllBadCrc
};
constexpr int kFaultKinds = static_cast<int>(FaultKind::EllBadCrc) + 1;  // None included

// "bad-mac", ...; "" for None.
const char* faultName(FaultKind kind);
// The kind of a name; None when there is no such kind.
FaultKind faultKindOf(const std::string& name);
// Every kind's name: "bad-mac, wrong-key, ..., ell-bad-crc".
std::string faultNames();

// The CI-field wrong-ci puts where the transport layer belongs: one of the
// manufacturer-specific CIs of EN 13757-3 (0xA0-0xB7), whose layout no
// decoder knows.
constexpr uint8_t kUnknownCi = 0xA0;

// Which telegrams of a meter (counted from 1) get a fault: every `every`th,
// the numbers in `at`, or each with `probability`, drawn reproducibly from
// `seed`, the meter's position and the telegram number. `seed` also drives
// the fuzz mutations.
struct FaultRule {
    FaultKind kind = FaultKind::None;
    uint32_t every = 0;
    std::vector<uint64_t> at;
    double probability = 0;
    uint64_t seed = 0;
};

// True when `rule` falls on telegram `number` of meter `meter`. Whether its
// kind can apply to that telegram (a replay needs one before it, a counter
// rewind a lower counter) is the caller's to decide, from what the meter
// sent.
bool faultFalls(const FaultRule& rule, size_t meter, uint64_t number);

// Whether telegram `number` (from 1) of a meter that sends a full frame
// every `every` telegrams (the first of each run), or `after` full frames
// and compact ones ever after, is a compact frame; never with both 0, nor
// for number 0 (a telegram built without a number).
bool compactFrameNumber(uint32_t every, uint32_t after, uint64_t number);

// What decides whether a fault kind suits a meter: its security ("plain",
// "mode 5", "mode 7", "ell-ctr") and its compact frames.
struct FaultTarget {
    std::string security;
    uint32_t compactEvery = 0, compactAfter = 0;
    bool access = true;  // an access number: a transport header or an ELL carries one
};

// Why `rule` cannot be used for `target` when telegrams go to `output`
// ("stick", "radio", "radio-crc", "iq", ...), or when it falls only on
// telegrams where its kind can never apply (a replay only at telegram 1, a
// counter rewind only at 1 and 2, a compact-frame fault only at full
// frames, bad-records only at compact ones, by `at` or by an `every` whose
// multiples all fall there); empty when it can. Whether the
// meter's radio mode has the 3-out-of-6 code is the capture's to check.
std::string faultProblem(const FaultRule& rule, const FaultTarget& target, const std::string& output);
inline std::string faultProblem(const FaultRule& rule, const std::string& securityName, const std::string& output) {
    return faultProblem(rule, FaultTarget{securityName}, output);
}

// The fuzz mutations of an application block after its 2F 2F check: one
// to four bit flips, byte changes and record-length changes (a record's DIF
// gets another data field code), reproducible from the seed, the meter and
// the telegram number. The block keeps its size and its check.
void fuzzBlock(Block* block, uint64_t seed, size_t meter, uint64_t number);

// The application layer's fields bad-records sets.
void badRecords(ApplicationLayer* application);

}  // namespace vdx
