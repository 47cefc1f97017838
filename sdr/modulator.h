// Complex baseband samples of what an SDR records (or sends) while a
// wireless M-Bus transmitter sends chips: continuous-phase 2-FSK or GFSK at
// the mode's chip rate and deviation (chip 1 the higher frequency), the
// carrier where the channel lies from the centre, with the receiver-test
// impairments white Gaussian noise and a chip-rate error; as rtl_sdr's
// unsigned 8-bit, HackRF's signed 8-bit, signed 16-bit or 32-bit float
// interleaved I/Q (the last two as SDR transmit streams take them).
//
// The modulator renders into the caller's buffer, a piece at a time, so a
// capture writer and a transmit stream both take the samples where they
// need them without a copy.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

#include "sdr/gaussian.h"
#include "sdr/radio_modes.h"

namespace vdx {

enum class IqFormat : uint8_t { Cu8, Cs8, Cs16, Cf32 };

// Bytes of one complex sample: 2, 2, 4, 8.
size_t iqSampleBytes(IqFormat format);

struct IqOptions {
    uint32_t sampleRate = 1200000;
    IqFormat format = IqFormat::Cu8;
    double snrDb = INFINITY;  // signal power over noise power across the sampled band; infinite: no noise
    double clockPpm = 0;      // chip-rate error
    uint64_t seed = 1;        // of the noise
    double fullScale = 0;     // of the samples (an SDR's 12-bit CS16: 2048); 0: the format's own
};

// How a burst is sent: its mode's chip rate, deviation and pulse shape, and
// the carrier's distance from the centre of the samples.
struct BurstShape {
    uint32_t chipRate = 100000;
    double deviationHz = 50000;
    double gaussianBt = 0;  // 0: 2-FSK
    double offsetHz = 0;
};
BurstShape burstShape(const RadioModeInfo& mode, double offsetHz);

// The signal's amplitude: half the sample format's full scale, so that the
// clean signal never clips and noise has room.
constexpr double kAmplitudeShare = 0.5;

// The share of I and Q values of a burst that white noise at `snrDb` drives
// past the full scale of an integer sample format (the signal at
// kAmplitudeShare of it): those values clip, and the capture holds less
// noise than asked (at -10 dB, 39 % of them: -6.4 dB delivered).
double clippedShare(double snrDb);

class IqModulator {
public:
    explicit IqModulator(const IqOptions& options);

    // What the next samples hold: silence (or noise) of `samples`, or the
    // chips (fewer than 2^31) as one burst. Either drops what an earlier one
    // had left.
    void beginGap(uint64_t samples);
    void beginBurst(const std::vector<uint8_t>& chips, const BurstShape& shape);
    // Samples still to render of what was begun.
    uint64_t pending() const;
    // Writes up to `max` samples (max x iqSampleBytes bytes) to `out`; the
    // number written, 0 once what was begun is done.
    size_t render(uint8_t* out, size_t max);
    // Samples rendered since construction.
    uint64_t samples() const { return samples_; }
    const IqOptions& options() const { return o_; }

private:
    template <IqFormat F, bool kNoisy>
    size_t renderAs(uint8_t* out, size_t max);
    template <IqFormat F, bool kNoisy>
    void burstRun(uint8_t* out, size_t n);
    template <IqFormat F, bool kNoisy>
    void gapRun(uint8_t* out, size_t n);
    void stepTable(const BurstShape& shape);

    IqOptions o_;
    float amplitude_, noiseSigma_;
    std::vector<uint8_t> clean_;  // a sample of each carrier phase in the output format
    std::vector<float> carrier_;  // its I and Q, biased for the format (see Out<>)
    GaussianSource noise_;
    uint32_t phase_ = 0;  // of the carrier, 2^32 a turn
    uint64_t samples_ = 0, gapLeft_ = 0;
    // The burst on a chip clock of 2^32 a chip: sample n lies in chip
    // (n x chipStep_) >> 32 at place ((n x chipStep_) >> 26) & 63 of it.
    // Each chip's pattern (the previous, this and the next chip as bits 2,
    // 1 and 0) and its place choose the carrier's phase step.
    std::vector<uint8_t> patterns_;
    std::vector<uint32_t> steps_;  // 8 patterns x 64 places
    uint64_t chipStep_ = 0, clock_ = 0;
    uint64_t n_ = 0, burstEnd_ = 0;  // sample within the burst, and its length
};

// A capture through a sink of bytes: gaps in milliseconds and bursts, each
// rendered through one buffer and handed to the sink as it fills.
class IqWriter {
public:
    // `sink` takes each piece of samples as bytes; false ends the writing.
    IqWriter(const IqOptions& options, std::function<bool(const uint8_t*, size_t)> sink);

    bool gap(double ms);
    // The chips as one burst; its first and last sample index in the file.
    bool burst(const std::vector<uint8_t>& chips, const BurstShape& shape, uint64_t* first, uint64_t* last);
    uint64_t samples() const { return modulator_.samples(); }

private:
    bool drain();

    IqModulator modulator_;
    std::function<bool(const uint8_t*, size_t)> sink_;
    std::vector<uint8_t> buffer_;
};

// True for a sample rate the tools offer: whole kilohertz from 100 kHz to
// 10 MHz, as rtl_433 names captures (250k, 1024k); samples per chip need
// not be whole. Whether a mode's signal fits is bandReachHz's to say.
bool validSampleRate(uint64_t hz);

}  // namespace vdx
