// Telegrams a correct receiver must refuse or flag, on demand: what each
// fault kind changes, and which telegrams of a meter get one.
//
//   kind            what is sent                                    a correct receiver
//   bad-mac         mode 7, one bit of the 8-byte MAC flipped       refuses it: authentication fails
//   wrong-key       modes 5, 7: built under the meter key with      refuses it: MAC fails (7), no 2F 2F
//                   its last byte XOR 0x01                          after decryption (5)
//   replay          modes 5, 7: the meter's previous telegram       drops it as a duplicate or replay
//                   again; access number and counter stay
//   counter-rewind  mode 7: a fresh telegram whose message counter  refuses it: the counter went back
//                   is one below the last one a receiver accepted
//                   (a telegram whose MAC held)
//   truncated       all: the telegram frame without its last 16     refuses or flags it; never crashes
//                   bytes, framed correctly for the stick
//   bad-records     all: valid security, a reserved DIF (0x3F) and   flags a malformed telegram and
//                   a record that announces more bytes than remain  keeps running
//   bad-crc         radio output with CRCs only: the first block's  drops it at the link layer
//                   CRC high byte inverted
//   fuzz            all: the 80-byte block mutated after its 2F 2F,  must not crash or hang; decodes
//                   then secured correctly                          what it can
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "telegram/frames.h"

namespace vdx {

enum class FaultKind : uint8_t { None, BadMac, WrongKey, Replay, CounterRewind, Truncated, BadRecords, BadCrc, Fuzz };

// "bad-mac", ...; "" for None.
const char* faultName(FaultKind kind);
// The kind of a name; None when there is no such kind.
FaultKind faultKindOf(const std::string& name);

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

// Why `rule` cannot be used for a meter of security `securityName` ("plain",
// "mode 5", "mode 7") when telegrams go to `output` ("stick", "radio",
// "radio-crc"), or when it falls only on telegrams where its kind can never
// apply (a replay only at telegram 1, a counter rewind only at 1 and 2);
// empty when it can.
std::string faultProblem(const FaultRule& rule, const std::string& securityName, const std::string& output);

// The fuzz mutations of an 80-byte block after its 2F 2F: one to four bit
// flips, byte changes and record-length changes (a DIF's data field code),
// reproducible from the seed, the meter and the telegram number. The block
// stays 80 bytes and starts with 2F 2F.
void fuzzBlock(uint8_t block[kPayloadSize], uint64_t seed, size_t meter, uint64_t number);

// The bad-records block: the fixed layout with a reserved DIF (0x3F) at
// offset 57 and, at offset 71, a record (DIF 07, VIF 13) that announces eight
// data bytes where seven remain.
void badRecordsBlock(uint8_t block[kPayloadSize]);
constexpr int kReservedDifOffset = 57;

}  // namespace vdx
