// Complex baseband samples of what an SDR records while a wireless M-Bus
// transmitter sends chips: continuous-phase 2-FSK at 100 kchip/s with
// +-50 kHz deviation (chip 1 the higher frequency), centred on the channel,
// with the receiver-test impairments white Gaussian noise, a frequency
// offset and a chip-rate error; written as rtl_sdr's unsigned 8-bit,
// HackRF's signed 8-bit or signed 16-bit interleaved I/Q.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

namespace vdx {

enum class IqFormat { Cu8, Cs8, Cs16 };

struct IqOptions {
    uint32_t sampleRate = 1200000;  // a whole multiple of 100 kHz, 400 kHz to 10 MHz
    IqFormat format = IqFormat::Cu8;
    double snrDb = INFINITY;  // signal power over noise power across the sampled band; infinite: no noise
    double freqOffsetHz = 0;
    double clockPpm = 0;  // chip-rate error
    uint64_t seed = 1;    // of the noise
};

constexpr uint32_t kChipRate = 100000;
constexpr double kDeviationHz = 50000;
// The signal's amplitude: half the sample format's full scale, so that the
// clean signal never clips and noise has room.
constexpr double kAmplitudeShare = 0.5;

class IqModulator {
public:
    // `sink` takes each piece of samples as bytes; false ends the writing.
    IqModulator(const IqOptions& options, std::function<bool(const uint8_t*, size_t)> sink);

    // Silence (or noise) for `ms` milliseconds.
    bool gap(double ms);
    // The chips as one burst; its first and last sample index in the file.
    bool burst(const std::vector<uint8_t>& chips, uint64_t* first, uint64_t* last);

    uint64_t samples() const { return samples_; }

private:
    void put(double i, double q);
    bool flush();
    double gaussian();

    IqOptions o_;
    std::function<bool(const uint8_t*, size_t)> sink_;
    double amplitude_, noiseSigma_, fullScale_;
    uint32_t phase_ = 0;  // of the carrier, 2^32 a turn
    uint64_t samples_ = 0;
    uint64_t rng_;
    bool haveSpare_ = false;
    double spare_ = 0;
    std::vector<uint8_t> buffer_;
};

// True for a sample rate the modulator takes.
bool validSampleRate(uint64_t hz);

}  // namespace vdx
