// The SDR transmitters SoapySDR finds, through its C++ API (Debian's
// libsoapysdr-dev). Every call that can throw is caught here: a device that
// fails says why, it never ends the program.
#include <SoapySDR/Device.hpp>
#include <SoapySDR/Errors.hpp>
#include <SoapySDR/Formats.hpp>
#include <SoapySDR/Logger.hpp>
#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "sdr/tx_device.h"

namespace vdx {
namespace {

bool logQuiet = false;

extern "C" void onSoapyLog(const SoapySDRLogLevel level, const char* message) {
    if (!logQuiet && level <= SOAPY_SDR_WARNING) std::fprintf(stderr, "SoapySDR: %s\n", message);
}

void installLog() {
    static const bool installed = [] {
        SoapySDR::registerLogHandler(onSoapyLog);
        return true;
    }();
    (void)installed;
}

std::string number(double v, const char* format = "%g") {
    char text[48];
    std::snprintf(text, sizeof text, format, v);
    return text;
}
std::string mhz(double hz) { return number(hz / 1e6) + " MHz"; }

std::vector<RateRange> rateRanges(const SoapySDR::Device& d) {
    std::vector<RateRange> out;
    for (const SoapySDR::Range& r : d.getSampleRateRange(SOAPY_SDR_TX, 0)) out.push_back({r.minimum(), r.maximum()});
    if (out.empty())
        for (double r : d.listSampleRates(SOAPY_SDR_TX, 0)) out.push_back({r, r});
    return out;
}

std::string rangesText(const std::vector<RateRange>& ranges) {
    std::string text;
    for (const RateRange& r : ranges)
        text += (text.empty() ? "" : ", ") + (r.low == r.high ? mhz(r.low) : mhz(r.low) + " to " + mhz(r.high));
    return text;
}

// The stream format, of those the device lists, that the modulator renders
// itself: the native one where it is CS16, CS8 or CF32, else CS16, CS8,
// CF32 in that order (SoapySDR converts nothing itself: a driver takes only
// the formats it lists). False when it lists none of them.
bool streamFormat(const std::string& native, const std::vector<std::string>& listed, IqFormat* format) {
    const std::pair<const char*, IqFormat> ours[] = {
        {SOAPY_SDR_CS16, IqFormat::Cs16}, {SOAPY_SDR_CS8, IqFormat::Cs8}, {SOAPY_SDR_CF32, IqFormat::Cf32}};
    for (const auto& [name, f] : ours)
        if (native == name) return *format = f, true;
    for (const auto& [name, f] : ours)
        if (std::find(listed.begin(), listed.end(), name) != listed.end()) return *format = f, true;
    return false;
}

const char* formatName(IqFormat f) {
    return f == IqFormat::Cs16 ? SOAPY_SDR_CS16 : f == IqFormat::Cs8 ? SOAPY_SDR_CS8 : SOAPY_SDR_CF32;
}

class SoapyTx : public TxDevice {
public:
    explicit SoapyTx(SoapySDR::Device* d) : d_(d) {}
    ~SoapyTx() override {
        try {
            if (stream_ != nullptr) d_->deactivateStream(stream_), d_->closeStream(stream_);
            SoapySDR::Device::unmake(d_);
        } catch (const std::exception&) {  // a device that is gone may throw while it is let go
        }
    }
    bool configure(const TxRequest& q, std::string* why);
    const TxSetup& setup() const override { return s_; }
    int64_t streamTimeNs() override {
        try {
            return d_->getHardwareTime();
        } catch (const std::exception&) {
            return 0;
        }
    }
    size_t writeSize() const override { return mtu_; }
    bool write(const uint8_t* samples, size_t n, bool first, bool last, bool timed, int64_t timeNs,
               std::string* why) override;

private:
    bool tune(const TxRequest& q, std::string* why);
    bool startStream(std::string* why);

    SoapySDR::Device* d_;
    SoapySDR::Stream* stream_ = nullptr;
    size_t mtu_ = kDefaultWriteSamples;
    TxSetup s_;
};

bool SoapyTx::tune(const TxRequest& q, std::string* why) {
    const std::vector<RateRange> rates = rateRanges(*d_);
    s_.rateHz = q.rateHz > 0 ? q.rateHz : lowestRateAtLeast(rates.data(), rates.size(), q.needHz);
    if (s_.rateHz > kMostSampleRateHz) s_.rateHz = 0;  // only above the cap
    const bool offered = std::any_of(rates.begin(), rates.end(),
                                     [&](const RateRange& r) { return s_.rateHz >= r.low && s_.rateHz <= r.high; });
    if (s_.rateHz == 0 || !offered)
        return *why = (q.rateHz > 0
                           ? "the SDR does not offer " + mhz(q.rateHz)
                           : "the SDR offers no sample rate from " + mhz(q.needHz) + " to " + mhz(kMostSampleRateHz)) +
                      " (it offers " + rangesText(rates) + ")",
               false;
    d_->setSampleRate(SOAPY_SDR_TX, 0, s_.rateHz);
    s_.rateHz = d_->getSampleRate(SOAPY_SDR_TX, 0);
    const SoapySDR::RangeList f = d_->getFrequencyRange(SOAPY_SDR_TX, 0);
    if (!f.empty() && std::none_of(f.begin(), f.end(), [&](const SoapySDR::Range& r) {
            return q.centreHz >= r.minimum() && q.centreHz <= r.maximum();
        }))
        return *why = "the SDR does not transmit at " + mhz(q.centreHz) + " (" + mhz(f.front().minimum()) + " to " +
                      mhz(f.back().maximum()) + ")",
               false;
    s_.centreHz = q.centreHz;
    double tuned = q.centreHz;
    if (q.ppm != 0 && d_->hasFrequencyCorrection(SOAPY_SDR_TX, 0))
        d_->setFrequencyCorrection(SOAPY_SDR_TX, 0, q.ppm);
    else if (q.ppm != 0)  // an oscillator `ppm` fast sends every frequency that much high
        tuned = q.centreHz / (1 + q.ppm * 1e-6), s_.ppmByTuning = true;
    d_->setFrequency(SOAPY_SDR_TX, 0, tuned);
    const SoapySDR::Range g = d_->getGainRange(SOAPY_SDR_TX, 0);
    s_.gainMinDb = g.minimum(), s_.gainMaxDb = g.maximum();
    if (q.gainSet && (q.gainDb < g.minimum() || q.gainDb > g.maximum()))
        return *why = "--tx-gain " + number(q.gainDb) + " dB is outside the SDR's " + number(g.minimum()) + " to " +
                      number(g.maximum()) + " dB",
               false;
    d_->setGain(SOAPY_SDR_TX, 0, q.gainSet ? q.gainDb : g.minimum());
    s_.gainDb = d_->getGain(SOAPY_SDR_TX, 0);
    return true;
}

bool SoapyTx::startStream(std::string* why) {
    double nativeScale = 0;
    s_.nativeFormat = d_->getNativeStreamFormat(SOAPY_SDR_TX, 0, nativeScale);
    std::vector<std::string> listed = d_->getStreamFormats(SOAPY_SDR_TX, 0);
    if (!streamFormat(s_.nativeFormat, listed, &s_.format)) {
        if (std::find(listed.begin(), listed.end(), s_.nativeFormat) == listed.end()) listed.push_back(s_.nativeFormat);
        std::string offered;
        for (const std::string& f : listed) offered += (offered.empty() ? "" : ", ") + f;
        return *why = "the SDR's transmit stream takes none of CS16, CS8 and CF32 (it offers " + offered + ")", false;
    }
    // the native format's full scale as the device reports it; another
    // format's the usual one (SdrPath checks it against the format's range)
    s_.fullScale = formatName(s_.format) == s_.nativeFormat ? nativeScale : 0;
    stream_ = d_->setupStream(SOAPY_SDR_TX, formatName(s_.format), {0});
    if (const int r = d_->activateStream(stream_); r != 0)
        return *why = std::string("the SDR's transmit stream does not start: ") + SoapySDR::errToStr(r), false;
    const size_t mtu = d_->getStreamMTU(stream_);
    mtu_ = mtu > 0 ? mtu : kDefaultWriteSamples;
    s_.streamTime = d_->hasHardwareTime();
    return true;
}

bool SoapyTx::configure(const TxRequest& q, std::string* why) {
    if (d_->getNumChannels(SOAPY_SDR_TX) == 0) return *why = "the SDR has no transmitter", false;
    s_.device = d_->getDriverKey() + " " + d_->getHardwareKey();
    // the transmitter's name for its duty-cycle account: the driver and the
    // serial number the device reports (its hardware information, else what
    // enumerating the arguments found: the device make() took is the first
    // of those), never the argument text, so that "driver=hackrf" and
    // "hackrf,serial=..." share one account; without a serial number the
    // driver's devices share one, which keeps to the limit all the same
    std::string serial;
    const SoapySDR::Kwargs info = d_->getHardwareInfo();
    if (info.count("serial") != 0) serial = info.at("serial");
    if (serial.empty()) {
        try {
            const SoapySDR::KwargsList found = SoapySDR::Device::enumerate(q.args);
            if (!found.empty() && found.front().count("serial") != 0) serial = found.front().at("serial");
        } catch (const std::exception&) {  // no serial number then
        }
    }
    const std::string driver = d_->getDriverKey();
    s_.key = (driver.empty() ? "sdr" : driver) + (serial.empty() ? "" : "-" + serial);
    if (!q.antenna.empty()) {
        const std::vector<std::string> names = d_->listAntennas(SOAPY_SDR_TX, 0);
        if (std::find(names.begin(), names.end(), q.antenna) == names.end()) {
            std::string list;
            for (const std::string& n : names) list += (list.empty() ? "" : ", ") + n;
            return *why = "the SDR has no antenna " + q.antenna + " (it has " + list + ")", false;
        }
        d_->setAntenna(SOAPY_SDR_TX, 0, q.antenna);
    }
    s_.antenna = d_->getAntenna(SOAPY_SDR_TX, 0);
    return tune(q, why) && startStream(why);
}

bool SoapyTx::write(const uint8_t* samples, size_t n, bool first, bool last, bool timed, int64_t timeNs,
                    std::string* why) {
    const size_t bytes = iqSampleBytes(s_.format);
    (void)first;
    for (size_t done = 0; done < n;) {
        const void* buffers[1] = {samples + done * bytes};
        int flags = (timed && done == 0 ? SOAPY_SDR_HAS_TIME : 0) | (last ? SOAPY_SDR_END_BURST : 0);
        int r = 0;
        try {
            r = d_->writeStream(stream_, buffers, n - done, flags, timeNs, 1000000);
        } catch (const std::exception& e) {
            return *why = e.what(), false;
        }
        if (r <= 0) return *why = r == 0 ? "the SDR took no samples for a second" : SoapySDR::errToStr(r), false;
        done += static_cast<size_t>(r);
    }
    return true;
}

}  // namespace

std::unique_ptr<TxDevice> openSoapyTx(const TxRequest& request, bool quiet, std::string* why) {
    installLog();
    logQuiet = quiet;
    std::unique_ptr<SoapyTx> device;
    try {
        device = std::make_unique<SoapyTx>(SoapySDR::Device::make(request.args));
        if (!device->configure(request, why)) device.reset();
    } catch (const std::exception& e) {
        const std::string what = e.what();
        *why = what.find("no match") != std::string::npos
                   ? "SoapySDR finds no such device (--list-sdr lists the ones it finds)"
                   : what;
        device.reset();
    }
    logQuiet = false;
    return device;
}

namespace {

std::string transmitRanges(SoapySDR::Device& d) {
    const size_t channels = d.getNumChannels(SOAPY_SDR_TX);
    if (channels == 0) return "  no transmitter\n";
    std::string text = "  transmit: " + std::to_string(channels) + (channels == 1 ? " channel" : " channels");
    for (const SoapySDR::Range& r : d.getFrequencyRange(SOAPY_SDR_TX, 0))
        text += "; " + mhz(r.minimum()) + " to " + mhz(r.maximum());
    text += "\n  sample rates " + rangesText(rateRanges(d));
    const SoapySDR::Range g = d.getGainRange(SOAPY_SDR_TX, 0);
    text += "; gain " + number(g.minimum()) + " to " + number(g.maximum()) + " dB; antennas";
    for (const std::string& a : d.listAntennas(SOAPY_SDR_TX, 0)) text += " " + a;
    double fullScale = 0;
    const std::string native = d.getNativeStreamFormat(SOAPY_SDR_TX, 0, fullScale);
    return text + "\n  native format " + native + " (full scale " + number(fullScale) + "); " +
           (d.hasHardwareTime() ? "bursts on the stream's time" : "no stream time: bursts on the host's clock") + "\n";
}

}  // namespace

std::string listSoapyDevices(std::string* why) {
    installLog();
    std::string text;
    try {
        for (const SoapySDR::Kwargs& args : SoapySDR::Device::enumerate()) {
            text += SoapySDR::KwargsToString(args) + "\n";
            try {
                SoapySDR::Device* d = SoapySDR::Device::make(args);
                text += transmitRanges(*d);
                SoapySDR::Device::unmake(d);
            } catch (const std::exception& e) {
                text += std::string("  cannot be opened: ") + e.what() + "\n";
            }
        }
    } catch (const std::exception& e) {
        return *why = e.what(), "";
    }
    if (text.empty()) *why = "SoapySDR found no SDR (its modules: libsoapysdr's soapysdr-module-* packages)";
    return text;
}

}  // namespace vdx
