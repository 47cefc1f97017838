#include "telegram/faults.h"

#include <algorithm>

namespace vdx {
namespace {

const char* const kNames[] = {"",
                              "bad-mac",
                              "wrong-key",
                              "replay",
                              "counter-rewind",
                              "truncated",
                              "bad-records",
                              "bad-crc",
                              "fuzz",
                              "bad-3of6",
                              "short-preamble",
                              "bad-sync",
                              "no-2f2f",
                              "afl-counter-mismatch",
                              "length-mismatch",
                              "wrong-ci",
                              "duplicate-access",
                              "compact-unknown",
                              "compact-bad-crc",
                              "ell-bad-crc"};
static_assert(sizeof kNames / sizeof kNames[0] == kFaultKinds, "a name for every kind");

// SplitMix64: a small, well-mixed, reproducible stream.
uint64_t mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

uint64_t draw(uint64_t seed, uint64_t salt, size_t meter, uint64_t number) {
    return mix(mix(mix(seed ^ salt) ^ meter) ^ number);
}

// How many telegrams a kind needs before it at least: a replay one to
// repeat, a counter rewind two (counters 0 and 1: one to go below).
uint64_t needsBefore(FaultKind kind) {
    if (kind == FaultKind::Replay || kind == FaultKind::DuplicateAccess) return 1;
    return kind == FaultKind::CounterRewind ? 2 : 0;
}

// Why the kind suits no meter of this security (or compact frames), or
// cannot reach this output; empty when it can.
std::string kindProblem(FaultKind kind, const FaultTarget& t, const std::string& output) {
    const std::string name = faultName(kind), a = (t.security == "ell-ctr" ? "(an " : "(a ") + t.security + " meter ";
    const bool compact = t.compactEvery != 0 || t.compactAfter != 0;
    switch (kind) {
        case FaultKind::BadMac:
        case FaultKind::CounterRewind:
        case FaultKind::AflCounterMismatch:
            if (t.security != "mode 7") return name + " needs mode 7 " + a + "has no MAC or counter)";
            break;
        case FaultKind::WrongKey:
        case FaultKind::Replay:
            if (t.security == "plain") return name + " needs mode 5, mode 7 or ell-ctr (a plain meter has no key)";
            break;
        case FaultKind::No2f2f:  // a MAC that verifies shows the key was right
            if (t.security != "mode 7") return name + " needs mode 7 " + a + "has no MAC to show the key is right)";
            break;
        case FaultKind::EllBadCrc:
            if (t.security != "ell-ctr") return name + " needs security ell-ctr " + a + "has no ELL payload CRC)";
            break;
        case FaultKind::DuplicateAccess:
            if (!t.access)
                return name + " needs an access number (a meter without a transport header or an ELL has none)";
            break;
        case FaultKind::CompactUnknown:
        case FaultKind::CompactBadCrc:
            if (!compact) return name + " needs compact frames (compact = { every = N } or { after = N } on the meter)";
            break;
        case FaultKind::BadCrc:
            if (output == "stick")  // also verdanox-send's output, which has no --format
                return name + " needs verdanox-frames --format radio-crc or iq (a stick computes the CRCs itself)";
            if (output != "radio-crc" && output != "iq")
                return name + " needs --format radio-crc or iq (no CRCs in this output)";
            break;
        case FaultKind::LengthMismatch:
            if (output == "stick")
                return name +
                       " needs a radio output of verdanox-frames (--format radio, radio-crc, rtlwmbus, "
                       "telegram-lines or iq): a stick writes the L-field itself";
            break;
        case FaultKind::BadThreeOfSix:
        case FaultKind::ShortPreamble:
        case FaultKind::BadSync:
            if (output != "iq")
                return name + " needs an I/Q capture (verdanox-frames --format iq): it is a fault of the air interface";
            break;
        default:
            break;
    }
    return "";
}

uint64_t gcd(uint64_t a, uint64_t b) { return b == 0 ? a : gcd(b, a % b); }

// Whether some multiple of `every` is a full frame: with `after` full
// frames first, `every` itself must be one; with a full frame every E
// telegrams (numbers 1 mod E), some k x every is 1 mod E when every and E
// have no common divisor. (Compact frames fall on some multiple of every
// `every`, as E is at least 2.)
bool everyMeetsFull(uint32_t every, const FaultTarget& t) {
    return t.compactEvery != 0 ? gcd(every, t.compactEvery) == 1 : every <= t.compactAfter;
}

// Why the rule's telegram numbers (`at`, or the multiples of `every`) meet
// only frames the kind cannot change: full frames for the compact faults,
// compact ones for bad-records; empty when one of them can take it.
std::string frameProblem(const FaultRule& rule, const FaultTarget& t) {
    const bool compactKind = rule.kind == FaultKind::CompactUnknown || rule.kind == FaultKind::CompactBadCrc;
    if ((!compactKind && rule.kind != FaultKind::BadRecords) || (t.compactEvery == 0 && t.compactAfter == 0) ||
        rule.probability > 0)
        return "";
    if (rule.every != 0)
        return compactKind || everyMeetsFull(rule.every, t)
                   ? ""
                   : std::string(faultName(rule.kind)) +
                         " cannot change any telegram of every = " + std::to_string(rule.every) +
                         ": each is a compact frame (no DIF/VIF bytes)";
    if (rule.at.empty()) return "";
    for (uint64_t n : rule.at)
        if (compactFrameNumber(t.compactEvery, t.compactAfter, n) == compactKind) return "";
    const std::string frames = compactKind ? "full frame" : "compact frame (no DIF/VIF bytes)";
    if (rule.at.size() == 1)
        return std::string(faultName(rule.kind)) + " cannot change telegram " + std::to_string(rule.at[0]) +
               ": it is a " + frames;
    return std::string(faultName(rule.kind)) + " cannot change telegrams " + std::to_string(rule.at[0]) +
           ", ...: each is a " + frames;
}

}  // namespace

const char* faultName(FaultKind kind) { return kNames[static_cast<int>(kind)]; }

std::string faultNames() {
    std::string names;
    for (int k = 1; k < kFaultKinds; ++k) names += (k > 1 ? ", " : "") + std::string(kNames[k]);
    return names;
}

bool compactFrameNumber(uint32_t every, uint32_t after, uint64_t number) {
    if (number == 0) return false;  // a telegram without a number (the window's) is a full frame
    if (every != 0) return (number - 1) % every != 0;
    return after != 0 && number > after;
}

FaultKind faultKindOf(const std::string& name) {
    for (int k = 1; k < static_cast<int>(sizeof kNames / sizeof kNames[0]); ++k)
        if (name == kNames[k]) return static_cast<FaultKind>(k);
    return FaultKind::None;
}

bool faultFalls(const FaultRule& r, size_t meter, uint64_t number) {
    return (r.every != 0 && number % r.every == 0) || std::find(r.at.begin(), r.at.end(), number) != r.at.end() ||
           (r.probability > 0 && (draw(r.seed, 0x70726F62, meter, number) >> 11) * 0x1.0p-53 < r.probability);
}

std::string faultProblem(const FaultRule& rule, const FaultTarget& target, const std::string& output) {
    const std::string name = faultName(rule.kind), kind = kindProblem(rule.kind, target, output);
    if (!kind.empty()) return kind;
    // a rule that falls on later telegrams applies where it can, telegram
    // by telegram; one that can never fall on such a telegram is refused
    const uint64_t before = needsBefore(rule.kind);
    if (before > 0 && rule.every == 0 && rule.probability == 0 && !rule.at.empty() &&
        std::all_of(rule.at.begin(), rule.at.end(), [&](uint64_t n) { return n <= before; }))
        return name + " needs " + (before == 1 ? "a telegram" : "two telegrams") + " of the meter before it (from " +
               std::to_string(before + 1) + " on)";
    return frameProblem(rule, target);
}

void fuzzBlock(Block* block, uint64_t seed, size_t meter, uint64_t number) {
    if (block->size <= block->checkSize) return;
    uint64_t state = draw(seed, 0x66757A7A, meter, number);
    const auto next = [&state] { return state = mix(state); };
    uint8_t* b = block->bytes;
    for (uint64_t n = 1 + next() % 4; n > 0; --n) {
        const uint64_t r = next();
        const size_t at = block->checkSize + static_cast<size_t>((r >> 8) % (block->size - block->checkSize));
        switch (block->records == 0 ? r % 2 : r % 3) {
            case 0:  // a bit flip
                b[at] ^= static_cast<uint8_t>(1u << ((r >> 40) % 8));
                break;
            case 1:  // a byte change
                b[at] = static_cast<uint8_t>(r >> 32);
                break;
            default: {  // a record-length change: another data field code
                const size_t dif = block->difAt[(r >> 16) % block->records];
                b[dif] = static_cast<uint8_t>((b[dif] & 0xF0) | ((r >> 48) & 0x0F));
            }
        }
    }
}

void badRecords(ApplicationLayer* a) {
    a->reservedDifRecord = a->count >= 3 ? static_cast<int>(a->count) - 3 : 0;
    a->overlongRecord = true;
}

}  // namespace vdx
