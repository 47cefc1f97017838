#include "sdr/modulator.h"

#include <algorithm>

namespace vdx {
namespace {

constexpr double kTwoPi = 6.283185307179586476925286766559;
constexpr int kTableBits = 12;
constexpr size_t kBufferBytes = 1 << 16;

// cos and sin of the carrier phase, 4096 steps a turn (spurs far below any
// noise a receiver test uses)
struct PhaseTable {
    float cosine[1 << kTableBits], sine[1 << kTableBits];
    PhaseTable() {
        for (int k = 0; k < (1 << kTableBits); ++k) {
            cosine[k] = static_cast<float>(std::cos(kTwoPi * k / (1 << kTableBits)));
            sine[k] = static_cast<float>(std::sin(kTwoPi * k / (1 << kTableBits)));
        }
    }
};
const PhaseTable& table() {
    static const PhaseTable t;
    return t;
}

uint64_t splitmix(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// The phase step per sample of a frequency, 2^32 a turn.
uint32_t step(double hz, uint32_t sampleRate) {
    return static_cast<uint32_t>(static_cast<int64_t>(std::llround(hz / sampleRate * 4294967296.0)));
}

}  // namespace

bool validSampleRate(uint64_t hz) { return hz % 100000 == 0 && hz >= 400000 && hz <= 10000000; }

IqModulator::IqModulator(const IqOptions& options, std::function<bool(const uint8_t*, size_t)> sink)
    : o_(options), sink_(std::move(sink)), rng_(options.seed) {
    fullScale_ = o_.format == IqFormat::Cs16 ? 32767 : 127;
    amplitude_ = kAmplitudeShare * fullScale_;
    // noise power 2 sigma^2 = signal power A^2 / 10^(SNR/10)
    noiseSigma_ = std::isinf(o_.snrDb) ? 0 : amplitude_ / std::sqrt(2 * std::pow(10.0, o_.snrDb / 10));
    buffer_.reserve(kBufferBytes + 8);
    table();
}

double IqModulator::gaussian() {  // Box-Muller, two values a draw
    if (haveSpare_) return haveSpare_ = false, spare_;
    const double u1 = ((splitmix(rng_) >> 11) + 1) * 0x1.0p-53, u2 = (splitmix(rng_) >> 11) * 0x1.0p-53;
    const double r = std::sqrt(-2 * std::log(u1));
    spare_ = r * std::sin(kTwoPi * u2);
    haveSpare_ = true;
    return r * std::cos(kTwoPi * u2);
}

// One sample, noise added, rounded and held to the format's range (only
// noise can reach its edges).
void IqModulator::put(double i, double q) {
    if (noiseSigma_ > 0) i += noiseSigma_ * gaussian(), q += noiseSigma_ * gaussian();
    switch (o_.format) {
        case IqFormat::Cu8:  // centred on 127.5
            buffer_.push_back(static_cast<uint8_t>(std::clamp(std::nearbyint(i + 127.5), 0.0, 255.0)));
            buffer_.push_back(static_cast<uint8_t>(std::clamp(std::nearbyint(q + 127.5), 0.0, 255.0)));
            break;
        case IqFormat::Cs8:
            buffer_.push_back(static_cast<uint8_t>(static_cast<int8_t>(std::clamp(std::nearbyint(i), -128.0, 127.0))));
            buffer_.push_back(static_cast<uint8_t>(static_cast<int8_t>(std::clamp(std::nearbyint(q), -128.0, 127.0))));
            break;
        case IqFormat::Cs16:  // little-endian
            for (double x : {i, q}) {
                const auto v =
                    static_cast<uint16_t>(static_cast<int16_t>(std::clamp(std::nearbyint(x), -32768.0, 32767.0)));
                buffer_.push_back(static_cast<uint8_t>(v & 0xFF));
                buffer_.push_back(static_cast<uint8_t>(v >> 8));
            }
            break;
    }
    ++samples_;
}

bool IqModulator::flush() {
    const bool ok = buffer_.empty() || sink_(buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok;
}

bool IqModulator::gap(double ms) {
    const uint64_t n = static_cast<uint64_t>(std::llround(ms / 1000 * o_.sampleRate));
    for (uint64_t k = 0; k < n; ++k) {
        put(0, 0);
        if (buffer_.size() >= kBufferBytes && !flush()) return false;
    }
    return flush();
}

bool IqModulator::burst(const std::vector<uint8_t>& chips, uint64_t* first, uint64_t* last) {
    const PhaseTable& t = table();
    const uint32_t up = step(kDeviationHz + o_.freqOffsetHz, o_.sampleRate);
    const uint32_t down = step(-kDeviationHz + o_.freqOffsetHz, o_.sampleRate);
    const double chipsPerSample = kChipRate * (1 + o_.clockPpm * 1e-6) / o_.sampleRate;
    *first = samples_;
    // the chip of sample n is n x chipsPerSample, rounded down; the nudge
    // keeps a whole number of samples per chip exact (24 x 1/12 is 2)
    for (uint64_t n = 0, chip = 0; chip < chips.size();
         ++n, chip = static_cast<uint64_t>(static_cast<double>(n) * chipsPerSample + 1e-9)) {
        phase_ += chips[chip] ? up : down;
        const uint32_t k = phase_ >> (32 - kTableBits);
        put(amplitude_ * t.cosine[k], amplitude_ * t.sine[k]);
        if (buffer_.size() >= kBufferBytes && !flush()) return false;
    }
    *last = samples_ - 1;
    return flush();
}

}  // namespace vdx
