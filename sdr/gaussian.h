// White Gaussian noise, cheap enough to add to every sample of a capture:
// standard normal deviates from a table of the inverse normal distribution
// (4096 bins, linear within a bin) with the two outer bins drawn exactly
// from the tails, fed by SplitMix64. Reproducible from the seed.
#pragma once

#include <cstdint>

namespace vdx {

class GaussianSource {
public:
    explicit GaussianSource(uint64_t seed);

    // One deviate of mean 0 and variance 1.
    float next() {
        if (!haveSpare_) {
            spareBits_ = random();
            haveSpare_ = true;
            return deviate(static_cast<uint32_t>(spareBits_));
        }
        haveSpare_ = false;
        return deviate(static_cast<uint32_t>(spareBits_ >> 32));
    }
    // Two at once, from one draw of 64 bits (the stream of next() aside).
    void pair(float* a, float* b) {
        const uint64_t r = random();
        *a = deviate(static_cast<uint32_t>(r));
        *b = deviate(static_cast<uint32_t>(r >> 32));
    }

private:
    static constexpr int kBinBits = 12;

    uint64_t random() {  // SplitMix64
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // The top bits choose the bin, the rest the place in it.
    float deviate(uint32_t r) {
        const uint32_t bin = r >> (32 - kBinBits);
        if (bin - 1 >= (1u << kBinBits) - 2) return tail(r, bin == 0);
        return bins_[bin].start + bins_[bin].width * static_cast<float>(r & ((1u << (32 - kBinBits)) - 1));
    }
    // Once in 2048: a deviate beyond the outer edges, drawn from its own
    // stream seeded by `r`, so that the state here stays in registers.
    static float tail(uint32_t r, bool lower);

    struct Bin {
        float start;  // the bin's lower edge
        float width;  // its width per unit of the low bits
    };
    const Bin* bins_;
    uint64_t state_;
    uint64_t spareBits_ = 0;
    bool haveSpare_ = false;
};

}  // namespace vdx
