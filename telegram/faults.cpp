#include "telegram/faults.h"

#include <algorithm>

namespace vdx {
namespace {

const char* const kNames[] = {
    "",        "bad-mac", "wrong-key", "replay",         "counter-rewind", "truncated", "bad-records",
    "bad-crc", "fuzz",    "bad-3of6",  "short-preamble", "bad-sync"};

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
    return kind == FaultKind::Replay ? 1 : kind == FaultKind::CounterRewind ? 2 : 0;
}

}  // namespace

const char* faultName(FaultKind kind) { return kNames[static_cast<int>(kind)]; }

FaultKind faultKindOf(const std::string& name) {
    for (int k = 1; k < static_cast<int>(sizeof kNames / sizeof kNames[0]); ++k)
        if (name == kNames[k]) return static_cast<FaultKind>(k);
    return FaultKind::None;
}

bool faultFalls(const FaultRule& r, size_t meter, uint64_t number) {
    return (r.every != 0 && number % r.every == 0) || std::find(r.at.begin(), r.at.end(), number) != r.at.end() ||
           (r.probability > 0 && (draw(r.seed, 0x70726F62, meter, number) >> 11) * 0x1.0p-53 < r.probability);
}

std::string faultProblem(const FaultRule& rule, const std::string& security, const std::string& output) {
    const std::string name = faultName(rule.kind);
    switch (rule.kind) {
        case FaultKind::BadMac:
        case FaultKind::CounterRewind:
            if (security != "mode 7") return name + " needs mode 7 (a " + security + " meter has no MAC or counter)";
            break;
        case FaultKind::WrongKey:
        case FaultKind::Replay:
            if (security == "plain") return name + " needs mode 5 or mode 7 (a plain meter has no key)";
            break;
        case FaultKind::BadCrc:
            if (output == "stick")  // also verdanox-send's output, which has no --format
                return name + " needs verdanox-frames --format radio-crc or iq (a stick computes the CRCs itself)";
            if (output != "radio-crc" && output != "iq")
                return name + " needs --format radio-crc or iq (no CRCs in this output)";
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
    // a rule that falls on later telegrams applies where it can, telegram
    // by telegram; one that can never fall on such a telegram is refused
    const uint64_t before = needsBefore(rule.kind);
    if (before > 0 && rule.every == 0 && rule.probability == 0 && !rule.at.empty() &&
        std::all_of(rule.at.begin(), rule.at.end(), [&](uint64_t n) { return n <= before; }))
        return name + " needs " + (before == 1 ? "a telegram" : "two telegrams") + " of the meter before it (from " +
               std::to_string(before + 1) + " on)";
    return "";
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
