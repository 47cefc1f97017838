// The transmit side of an SDR as the send path sees it: a stream of complex
// samples at one centre frequency and sample rate, written a burst at a
// time, each burst's first sample given a time on the device's own clock
// where it has one. It knows samples and times, not telegrams. A SoapySDR
// device stands behind it in the programs, a fake in the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "sdr/modulator.h"

namespace vdx {

// What the user asked of the device (verdanox-send --sdr and its options).
struct TxRequest {
    std::string args;      // SoapySDR device arguments: "driver=hackrf"
    double rateHz = 0;     // 0: the lowest the device offers at or above `needHz`
    double needHz = 0;     // what the bursts need (see sampleRateNeed)
    double centreHz = 0;   // where the stream is tuned
    bool gainSet = false;  // else the lowest the device offers
    double gainDb = 0;     // overall TX gain
    double ppm = 0;        // the device's frequency correction
    std::string antenna;   // empty: the device's default
};

// What the device was set to, for the start-up line.
struct TxSetup {
    std::string device;  // its driver and hardware, as it names them
    double rateHz = 0, centreHz = 0, gainDb = 0, gainMinDb = 0, gainMaxDb = 0;
    std::string antenna;
    IqFormat format = IqFormat::Cf32;  // of the stream: see openSoapyTx
    double fullScale = 0;              // the native format's full scale as the device reports it; 0: the usual
    std::string nativeFormat;          // as SoapySDR names it: "CS16"
    bool streamTime = false;           // bursts carry a time on the device's clock
    bool ppmByTuning = false;          // no correction in the device: the tuned frequency carries it
    std::string key;                   // for the duty-cycle account: "HackRF-SERIAL", the driver alone without one
};

// The highest sample rate verdanox-send uses, given (--sdr-rate) or chosen:
// a rig whose channels need more cannot share one stream.
constexpr double kMostSampleRateHz = 200e6;
// Samples a write takes where the device's stream names no size (an MTU of
// 0), as many as SoapySDR's own default.
constexpr size_t kDefaultWriteSamples = 1024;

// The full scale the modulator may use in `format`: `reported` where it
// lies within the format's range (CS16 up to 32768, CS8 up to 128, CF32 up
// to 1), else the format's usual one (32767, 127, 1).
double usableFullScale(IqFormat format, double reported);

class TxDevice {
public:
    virtual ~TxDevice() = default;
    virtual const TxSetup& setup() const = 0;
    // The device's clock now, in nanoseconds (only where setup().streamTime).
    virtual int64_t streamTimeNs() = 0;
    // Writes `n` samples of the stream's format; `first`: they start a burst
    // (at `timeNs` where `timed`), `last`: they end it. False, with the
    // device's reason, when it did not take them all.
    virtual bool write(const uint8_t* samples, size_t n, bool first, bool last, bool timed, int64_t timeNs,
                       std::string* why) = 0;
    // Samples one write takes best.
    virtual size_t writeSize() const = 0;
};

// Opens a device for a request; nullptr with the reason when it cannot.
// `quiet`: while a lost device is looked for again, the library's own log
// lines are not shown.
using TxOpener = std::function<std::unique_ptr<TxDevice>(const TxRequest&, bool quiet, std::string* why)>;

// The sample rate a burst `reachHz` from the centre (|offset| + deviation +
// chip rate / 2) needs at a chip rate: 1.25 x twice the reach, room for the
// device's filters to pass the signal whole, and at least 8 samples a chip,
// so that a chip edge falls within an eighth of a chip of its time.
double sampleRateNeed(double reachHz, double chipRate);

// A piece of the device's sample rates: from `low` to `high` (equal for a
// single rate).
struct RateRange {
    double low, high;
};
// The lowest rate of `ranges` at or above `need`; 0 when none is.
double lowestRateAtLeast(const RateRange* ranges, size_t n, double need);

// Sends the chips as one burst: renders them with `modulator` (its format
// the stream's) a write at a time into `buffer` and hands each write to the
// device, the first with the time where `timed`. False with the reason.
bool transmitBurst(TxDevice& device, IqModulator& modulator, const std::vector<uint8_t>& chips, const BurstShape& shape,
                   bool timed, int64_t timeNs, std::vector<uint8_t>* buffer, std::string* why);

// The SoapySDR devices: opened for a request (the stream set up and
// active), and listed with their transmit ranges for --list-sdr. A build
// without SoapySDR (Windows) says so instead.
std::unique_ptr<TxDevice> openSoapyTx(const TxRequest& request, bool quiet, std::string* why);
// One paragraph per device found, or empty with `why` when none is.
std::string listSoapyDevices(std::string* why);

}  // namespace vdx
