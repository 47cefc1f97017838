#include "sdr/gaussian.h"

#include <cmath>

namespace vdx {
namespace {

constexpr int kBins = 4096;  // 2^12: the top 12 of 32 random bits pick the bin
constexpr int kLowBits = 20;

double normalCdf(double z) { return 0.5 * std::erfc(-z / std::sqrt(2.0)); }
double normalPdf(double z) { return std::exp(-0.5 * z * z) / std::sqrt(2 * 3.14159265358979323846); }

// The bin edges z_k with P(Z < z_k) = k / 4096, k = 1 .. 4095; the upper
// half by Newton's method, each from the edge below it (the distribution
// function is concave there, so every step stays below the root).
struct InverseNormalTable {
    float bins[kBins][2];  // start, width
    double edge[kBins + 1];
    InverseNormalTable() {
        edge[kBins / 2] = 0;
        for (int k = kBins / 2 + 1; k < kBins; ++k) {
            const double p = static_cast<double>(k) / kBins;
            double z = edge[k - 1];
            for (int i = 0; i < 50; ++i) {
                const double step = (p - normalCdf(z)) / normalPdf(z);
                z += step;
                if (step < 1e-13) break;
            }
            edge[k] = z;
            edge[kBins - k] = -z;
        }
        const double unit = 1.0 / (1u << kLowBits);
        for (int k = 1; k < kBins - 1; ++k) {
            bins[k][0] = static_cast<float>(edge[k]);
            bins[k][1] = static_cast<float>((edge[k + 1] - edge[k]) * unit);
        }
        bins[0][0] = bins[0][1] = bins[kBins - 1][0] = bins[kBins - 1][1] = 0;
    }
};

const InverseNormalTable& table() {
    static const InverseNormalTable t;
    return t;
}

}  // namespace

GaussianSource::GaussianSource(uint64_t seed) : bins_(reinterpret_cast<const Bin*>(table().bins)), state_(seed) {}

// Beyond the outer edge x0 (3.37): Marsaglia's exact method, x0 + x with
// x exponential of rate x0, kept with probability exp(-x^2 / 2).
float GaussianSource::tail(uint32_t r, bool lower) {
    const double x0 = table().edge[kBins - 1];
    uint64_t state = r;
    const auto random = [&state] {  // SplitMix64
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    };
    for (;;) {
        const double u1 = ((random() >> 11) + 1) * 0x1.0p-53, u2 = ((random() >> 11) + 1) * 0x1.0p-53;
        const double x = -std::log(u1) / x0, y = -std::log(u2);
        if (2 * y > x * x) return static_cast<float>(lower ? -(x0 + x) : x0 + x);
    }
}

}  // namespace vdx
