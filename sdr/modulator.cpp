#include "sdr/modulator.h"

#include <algorithm>
#include <cstring>

namespace vdx {
namespace {

constexpr double kTwoPi = 6.283185307179586476925286766559;
constexpr int kTableBits = 12;
constexpr int kPhaseShift = 32 - kTableBits;
constexpr int kShapePlaces = 64;  // frequency steps per chip: the top 6 bits of the chip clock's fraction
constexpr size_t kWriterBytes = 1 << 18;

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

// One sample in each format, held to the format's range (only noise can
// reach its edges); 16-bit and float little-endian. biased() takes values
// with kBias added, which rounds half up as it truncates (the carrier table
// holds them so, for the noisy samples); exact() rounds to nearest in
// double precision, for the table of clean samples (the bytes captures
// have always had).
int truncated(float v, float low, float high) { return static_cast<int>(std::min(std::max(v, low), high)); }
int nearest(double v, double low, double high) { return static_cast<int>(std::clamp(std::nearbyint(v), low, high)); }
template <IqFormat F>
struct Out;
template <>
struct Out<IqFormat::Cu8> {  // centred on 127.5
    static constexpr size_t kBytes = 2;
    static constexpr float kBias = 128;
    static uint8_t one(float v) { return static_cast<uint8_t>(truncated(v, 0.5f, 255.5f)); }
    static void biased(uint8_t* o, float i, float q) { o[0] = one(i), o[1] = one(q); }
    static void exact(uint8_t* o, double i, double q) {
        o[0] = static_cast<uint8_t>(nearest(i + 127.5, 0, 255)),
        o[1] = static_cast<uint8_t>(nearest(q + 127.5, 0, 255));
    }
};
template <>
struct Out<IqFormat::Cs8> {
    static constexpr size_t kBytes = 2;
    static constexpr float kBias = 128.5f;
    static uint8_t one(float v) { return static_cast<uint8_t>(truncated(v, 0.5f, 255.5f) - 128); }
    static void biased(uint8_t* o, float i, float q) { o[0] = one(i), o[1] = one(q); }
    static void exact(uint8_t* o, double i, double q) {
        o[0] = static_cast<uint8_t>(nearest(i, -128, 127)), o[1] = static_cast<uint8_t>(nearest(q, -128, 127));
    }
};
template <>
struct Out<IqFormat::Cs16> {
    static constexpr size_t kBytes = 4;
    static constexpr float kBias = 32768.5f;
    static void two(uint8_t* o, int v) {
        const auto x = static_cast<uint16_t>(v);
        o[0] = static_cast<uint8_t>(x & 0xFF), o[1] = static_cast<uint8_t>(x >> 8);
    }
    static void biased(uint8_t* o, float i, float q) {
        two(o, truncated(i, 0.5f, 65535.5f) - 32768), two(o + 2, truncated(q, 0.5f, 65535.5f) - 32768);
    }
    static void exact(uint8_t* o, double i, double q) {
        two(o, nearest(i, -32768, 32767)), two(o + 2, nearest(q, -32768, 32767));
    }
};
template <>
struct Out<IqFormat::Cf32> {  // the hosts built for are little-endian
    static constexpr size_t kBytes = 8;
    static constexpr float kBias = 0;
    static void biased(uint8_t* o, float i, float q) { std::memcpy(o, &i, 4), std::memcpy(o + 4, &q, 4); }
    static void exact(uint8_t* o, double i, double q) { biased(o, static_cast<float>(i), static_cast<float>(q)); }
};

// The clean sample of each carrier phase in the output format, and the
// carrier as biased I and Q values to which noise is added.
template <IqFormat F>
void fillTables(std::vector<uint8_t>* clean, std::vector<float>* carrier, double amplitude) {
    const PhaseTable& t = table();
    clean->resize((size_t{1} << kTableBits) * Out<F>::kBytes);
    carrier->resize(size_t{2} << kTableBits);
    for (size_t k = 0; k < (size_t{1} << kTableBits); ++k) {
        Out<F>::exact(clean->data() + k * Out<F>::kBytes, amplitude * t.cosine[k], amplitude * t.sine[k]);
        (*carrier)[2 * k] = static_cast<float>(amplitude) * t.cosine[k] + Out<F>::kBias;
        (*carrier)[2 * k + 1] = static_cast<float>(amplitude) * t.sine[k] + Out<F>::kBias;
    }
}

float fullScale(IqFormat f) {
    switch (f) {
        case IqFormat::Cu8:
        case IqFormat::Cs8:
            return 127;
        case IqFormat::Cs16:
            return 32767;
        default:
            return 1;
    }
}

// The phase step per sample of a frequency, 2^32 a turn.
uint32_t step(double hz, uint32_t sampleRate) {
    return static_cast<uint32_t>(static_cast<int64_t>(std::llround(hz / sampleRate * 4294967296.0)));
}

// The frequency pulse of one chip through the Gaussian filter, at `t` chips
// from its centre: 1 inside a long run of equal chips.
double gaussianPulse(double t, double bt) {
    const double k = 3.14159265358979323846 * bt * std::sqrt(2 / std::log(2.0));
    return 0.5 * (std::erf(k * (t + 0.5)) - std::erf(k * (t - 0.5)));
}

}  // namespace

size_t iqSampleBytes(IqFormat format) { return format == IqFormat::Cs16 ? 4 : format == IqFormat::Cf32 ? 8 : 2; }

BurstShape burstShape(const RadioModeInfo& mode, double offsetHz) {
    return BurstShape{mode.chipRate, mode.deviationHz, mode.gaussianBt, offsetHz};
}

bool validSampleRate(uint64_t hz) { return hz % 1000 == 0 && hz >= 100000 && hz <= 10000000; }

// I = A cos(phase) + sigma n past +-1 (full scale 1, A = kAmplitudeShare),
// averaged over the carrier's phase.
double clippedShare(double snrDb) {
    if (std::isinf(snrDb)) return 0;
    const double sigma = kAmplitudeShare / std::sqrt(2 * std::pow(10.0, snrDb / 10));
    constexpr int kPhases = 1024;
    double share = 0;
    for (int k = 0; k < kPhases; ++k) {
        const double i = kAmplitudeShare * std::cos(kTwoPi * (k + 0.5) / kPhases);
        share += std::erfc((1 - i) / (sigma * std::sqrt(2.0))) / 2 + std::erfc((1 + i) / (sigma * std::sqrt(2.0))) / 2;
    }
    return share / kPhases;
}

IqModulator::IqModulator(const IqOptions& options) : o_(options), noise_(options.seed) {
    amplitude_ = static_cast<float>(kAmplitudeShare * (o_.fullScale > 0 ? o_.fullScale : fullScale(o_.format)));
    // noise power 2 sigma^2 = signal power A^2 / 10^(SNR/10)
    noiseSigma_ =
        std::isinf(o_.snrDb) ? 0 : static_cast<float>(amplitude_ / std::sqrt(2 * std::pow(10.0, o_.snrDb / 10)));
    switch (o_.format) {
        case IqFormat::Cu8:
            fillTables<IqFormat::Cu8>(&clean_, &carrier_, amplitude_);
            break;
        case IqFormat::Cs8:
            fillTables<IqFormat::Cs8>(&clean_, &carrier_, amplitude_);
            break;
        case IqFormat::Cs16:
            fillTables<IqFormat::Cs16>(&clean_, &carrier_, amplitude_);
            break;
        case IqFormat::Cf32:
            fillTables<IqFormat::Cf32>(&clean_, &carrier_, amplitude_);
            break;
    }
}

void IqModulator::beginGap(uint64_t samples) {
    patterns_.clear();
    n_ = burstEnd_ = 0;
    gapLeft_ = samples;
}

// The chip clock's step is rounded up, so that a whole number of samples
// per chip stays exact (24 x 1/12 is 2 chips, not 1.99999...) for bursts
// of millions of chips.
void IqModulator::beginBurst(const std::vector<uint8_t>& chips, const BurstShape& shape) {
    gapLeft_ = 0;
    const double chipsPerSample = shape.chipRate * (1 + o_.clockPpm * 1e-6) / o_.sampleRate;
    chipStep_ = std::max<uint64_t>(1, static_cast<uint64_t>(std::ceil(chipsPerSample * 4294967296.0)));
    n_ = 0, clock_ = 0;
    // the first sample whose chip is past the last: ceil(chips x 2^32 / step)
    burstEnd_ = ((static_cast<uint64_t>(chips.size()) << 32) + chipStep_ - 1) / chipStep_;
    patterns_.resize(chips.size());
    for (size_t c = 0; c < chips.size(); ++c)  // the neighbours of the first and last chip repeat them
        patterns_[c] = static_cast<uint8_t>((chips[c > 0 ? c - 1 : 0] & 1) << 2 | (chips[c] & 1) << 1 |
                                            (chips[c + 1 < chips.size() ? c + 1 : c] & 1));
    stepTable(shape);
}

// 2-FSK: this chip's frequency throughout. GFSK: the frequency at each of
// 64 places in the chip from the Gaussian-filtered pulses of this chip and
// its neighbours; chips farther away add less than 1e-4 of the deviation
// at BT 0.5.
void IqModulator::stepTable(const BurstShape& shape) {
    steps_.resize(8 * kShapePlaces);
    for (int pattern = 0; pattern < 8; ++pattern)
        for (int place = 0; place < kShapePlaces; ++place) {
            double f = (pattern & 2) ? 1 : -1;
            if (shape.gaussianBt > 0) {
                const double t = (place + 0.5) / kShapePlaces - 0.5;  // from the chip's centre
                f = 0;
                for (int j = -1; j <= 1; ++j)
                    f += ((pattern >> (1 - j)) & 1 ? 1 : -1) * gaussianPulse(t - j, shape.gaussianBt);
            }
            steps_[pattern * kShapePlaces + place] = step(f * shape.deviationHz + shape.offsetHz, o_.sampleRate);
        }
}

uint64_t IqModulator::pending() const { return gapLeft_ + (burstEnd_ - n_); }

size_t IqModulator::render(uint8_t* out, size_t max) {
    const bool noisy = noiseSigma_ > 0;
    switch (o_.format) {  // once per piece, not per sample
        case IqFormat::Cu8:
            return noisy ? renderAs<IqFormat::Cu8, true>(out, max) : renderAs<IqFormat::Cu8, false>(out, max);
        case IqFormat::Cs8:
            return noisy ? renderAs<IqFormat::Cs8, true>(out, max) : renderAs<IqFormat::Cs8, false>(out, max);
        case IqFormat::Cs16:
            return noisy ? renderAs<IqFormat::Cs16, true>(out, max) : renderAs<IqFormat::Cs16, false>(out, max);
        case IqFormat::Cf32:
            return noisy ? renderAs<IqFormat::Cf32, true>(out, max) : renderAs<IqFormat::Cf32, false>(out, max);
    }
    return 0;
}

template <IqFormat F, bool kNoisy>
size_t IqModulator::renderAs(uint8_t* out, size_t max) {
    const size_t gap = static_cast<size_t>(std::min<uint64_t>(gapLeft_, max));
    gapRun<F, kNoisy>(out, gap);
    gapLeft_ -= gap;
    const size_t burst = static_cast<size_t>(std::min<uint64_t>(burstEnd_ - n_, max - gap));
    burstRun<F, kNoisy>(out + gap * Out<F>::kBytes, burst);
    n_ += burst;
    samples_ += gap + burst;
    return gap + burst;
}

// The next `n` samples of the burst: the carrier's phase moves by the step
// of each sample's chip pattern and place.
template <IqFormat F, bool kNoisy>
void IqModulator::burstRun(uint8_t* out, size_t n) {
    constexpr size_t kBytes = Out<F>::kBytes;
    // locals (`out` too, by value): stores through `out` may alias anything
    uint32_t phase = phase_;
    uint64_t clock = clock_;
    const uint64_t chipStep = chipStep_;
    const uint8_t* patterns = patterns_.data();
    const uint32_t* steps = steps_.data();
    const auto next = [&] {
        phase += steps[patterns[clock >> 32] << 6 | ((clock >> 26) & 63)];
        clock += chipStep;
        return phase >> kPhaseShift;
    };
    if (kNoisy) {
        const float* carrier = carrier_.data();
        GaussianSource g = noise_;
        const float sigma = noiseSigma_;
        for (size_t i = 0; i < n; ++i, out += kBytes) {
            const uint32_t k = next();
            float ni, nq;
            g.pair(&ni, &nq);
            Out<F>::biased(out, carrier[2 * k] + sigma * ni, carrier[2 * k + 1] + sigma * nq);
        }
        noise_ = g;
    } else {
        const uint8_t* clean = clean_.data();
        for (size_t i = 0; i < n; ++i, out += kBytes) std::memcpy(out, clean + next() * kBytes, kBytes);
    }
    phase_ = phase, clock_ = clock;
}

template <IqFormat F, bool kNoisy>
void IqModulator::gapRun(uint8_t* out, size_t n) {
    constexpr size_t kBytes = Out<F>::kBytes;
    if (kNoisy) {
        GaussianSource g = noise_;
        const float sigma = noiseSigma_;
        for (size_t i = 0; i < n; ++i, out += kBytes) {
            float ni, nq;
            g.pair(&ni, &nq);
            Out<F>::biased(out, Out<F>::kBias + sigma * ni, Out<F>::kBias + sigma * nq);
        }
        noise_ = g;
        return;
    }
    uint8_t zero[kBytes];  // silence: every byte alike (0x80 in cu8, else 0)
    Out<F>::biased(zero, Out<F>::kBias, Out<F>::kBias);
    std::memset(out, zero[0], n * kBytes);
}

IqWriter::IqWriter(const IqOptions& options, std::function<bool(const uint8_t*, size_t)> sink)
    : modulator_(options), sink_(std::move(sink)), buffer_(kWriterBytes) {}

bool IqWriter::drain() {
    const size_t room = buffer_.size() / iqSampleBytes(modulator_.options().format);
    while (size_t n = modulator_.render(buffer_.data(), room))
        if (!sink_(buffer_.data(), n * iqSampleBytes(modulator_.options().format))) return false;
    return true;
}

bool IqWriter::gap(double ms) {
    modulator_.beginGap(static_cast<uint64_t>(std::llround(ms / 1000 * modulator_.options().sampleRate)));
    return drain();
}

bool IqWriter::burst(const std::vector<uint8_t>& chips, const BurstShape& shape, uint64_t* first, uint64_t* last) {
    *first = modulator_.samples();
    modulator_.beginBurst(chips, shape);
    const bool ok = drain();
    *last = modulator_.samples() - 1;
    return ok;
}

}  // namespace vdx
