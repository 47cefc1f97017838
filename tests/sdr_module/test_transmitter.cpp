// A SoapySDR module for the tests, loaded through SOAPY_SDR_PLUGIN_PATH:
// driver "vdxtest", a transmitter that writes the samples it is given, in
// the stream's format, to `path` (each burst between 2 ms of silence, so
// that a receiver reading the file finds the bursts apart) and a line
// per burst to `path`.log: its number, the time it was given on the
// stream's clock, when it arrived on that clock and on the wall clock
// (milliseconds since 1970), its first sample in the file, its length and
// the writes it took. Device arguments:
//   path=FILE      where the samples go (none: they are dropped)
//   format=CS16    the native stream format (CS16, CS8, CF32, CS12, ...)
//   formats=F:G    the formats the stream takes (default: the native one
//                  and CF32, as drivers that convert)
//   scale=32767    its full scale
//   rate=1.2e6     its lowest sample rate (the others: 2 to 10 MHz)
//   mtu=8192       the samples a write takes best
//   time=1         whether the stream has a clock for timed bursts
//   fail=3-4       bursts 3 to 4 of the process fail with a stream error
//   correction=1   whether it corrects its frequency itself
#include <SoapySDR/Device.hpp>
#include <SoapySDR/Errors.hpp>
#include <SoapySDR/Formats.hpp>
#include <SoapySDR/Registry.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using SoapySDR::Kwargs;

int burstsSeen = 0;  // in the process: a failure outlives the device the program makes again

long long clockNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string arg(const Kwargs& a, const char* key, const char* fallback) {
    const auto it = a.find(key);
    return it != a.end() ? it->second : fallback;
}

class TestTransmitter : public SoapySDR::Device {
public:
    explicit TestTransmitter(const Kwargs& a)
        : path_(arg(a, "path", "")),
          native_(arg(a, "format", SOAPY_SDR_CS16)),
          scale_(std::stod(arg(a, "scale", "32767"))),
          timed_(arg(a, "time", "1") == "1"),
          correction_(arg(a, "correction", "1") == "1"),
          lowestRate_(std::stod(arg(a, "rate", "1.2e6"))),
          mtu_(std::stoul(arg(a, "mtu", "8192"))) {
        const std::string formats = arg(a, "formats", (native_ + ":" + SOAPY_SDR_CF32).c_str()) + ":";
        for (size_t at = 0, end; (end = formats.find(':', at)) != std::string::npos; at = end + 1)
            formats_.push_back(formats.substr(at, end - at));
        const std::string fail = arg(a, "fail", "0-0");
        failFrom_ = std::stoi(fail.substr(0, fail.find('-')));
        failTo_ = std::stoi(fail.substr(fail.find('-') + 1));
    }
    ~TestTransmitter() override { closeFiles(); }

    std::string getDriverKey() const override { return "vdxtest"; }
    std::string getHardwareKey() const override { return "Verdanox test transmitter"; }
    size_t getNumChannels(const int direction) const override { return direction == SOAPY_SDR_TX ? 1 : 0; }

    std::vector<std::string> getStreamFormats(const int, const size_t) const override { return formats_; }
    std::string getNativeStreamFormat(const int, const size_t, double& fullScale) const override {
        fullScale = scale_;
        return native_;
    }
    SoapySDR::Stream* setupStream(const int direction, const std::string& format, const std::vector<size_t>&,
                                  const Kwargs&) override {
        if (direction != SOAPY_SDR_TX || std::find(formats_.begin(), formats_.end(), format) == formats_.end())
            throw std::runtime_error("vdxtest: no such stream: " + format);
        format_ = format;
        bytes_ = SoapySDR::formatToSize(format);
        return reinterpret_cast<SoapySDR::Stream*>(this);
    }
    void closeStream(SoapySDR::Stream*) override { closeFiles(); }
    size_t getStreamMTU(SoapySDR::Stream*) const override { return mtu_; }
    int activateStream(SoapySDR::Stream*, const int, const long long, const size_t) override {
        if (!path_.empty()) out_ = std::fopen(path_.c_str(), "ab"), log_ = std::fopen((path_ + ".log").c_str(), "a");
        if (!path_.empty() && (out_ == nullptr || log_ == nullptr)) return SOAPY_SDR_STREAM_ERROR;
        if (out_ != nullptr) std::fseek(out_, 0, SEEK_END), written_ = std::ftell(out_) / static_cast<long>(bytes_);
        if (log_ != nullptr)
            std::fprintf(log_, "setup %s rate=%.0f centre=%.0f gain=%g antenna=%s correction=%g\n", format_.c_str(),
                         rate_, frequency_, gain_, antenna_.c_str(), correctionPpm_);
        return 0;
    }
    int writeStream(SoapySDR::Stream*, const void* const* buffs, const size_t n, int& flags, const long long timeNs,
                    const long) override;

    bool hasHardwareTime(const std::string&) const override { return timed_; }
    long long getHardwareTime(const std::string&) const override { return clockNs(); }

    std::vector<std::string> listAntennas(const int, const size_t) const override { return {"TX", "CABLE"}; }
    void setAntenna(const int, const size_t, const std::string& name) override { antenna_ = name; }
    std::string getAntenna(const int, const size_t) const override { return antenna_; }
    bool hasFrequencyCorrection(const int, const size_t) const override { return correction_; }
    void setFrequencyCorrection(const int, const size_t, const double ppm) override { correctionPpm_ = ppm; }
    void setGain(const int, const size_t, const double dB) override { gain_ = dB; }
    double getGain(const int, const size_t) const override { return gain_; }
    SoapySDR::Range getGainRange(const int, const size_t) const override { return SoapySDR::Range(0, 40); }
    void setFrequency(const int, const size_t, const double hz, const Kwargs&) override { frequency_ = hz; }
    double getFrequency(const int, const size_t) const override { return frequency_; }
    SoapySDR::RangeList getFrequencyRange(const int, const size_t) const override {
        return {SoapySDR::Range(1e6, 6e9)};
    }
    void setSampleRate(const int, const size_t, const double rate) override { rate_ = rate; }
    double getSampleRate(const int, const size_t) const override { return rate_; }
    SoapySDR::RangeList getSampleRateRange(const int, const size_t) const override {
        return {SoapySDR::Range(lowestRate_, lowestRate_), SoapySDR::Range(2e6, 10e6)};
    }

private:
    void silence() {
        const std::vector<char> zeros(static_cast<size_t>(rate_ / 500) * bytes_, 0);
        if (out_ != nullptr) std::fwrite(zeros.data(), 1, zeros.size(), out_);
        written_ += static_cast<long long>(zeros.size() / bytes_);
    }
    void closeFiles() {
        if (out_ != nullptr) std::fclose(out_);
        if (log_ != nullptr) std::fclose(log_);
        out_ = log_ = nullptr;
    }

    std::string path_, native_, format_ = SOAPY_SDR_CF32, antenna_ = "TX";
    double scale_, rate_ = 1.2e6, frequency_ = 0, gain_ = 10, correctionPpm_ = 0;
    bool timed_, correction_, inBurst_ = false;
    double lowestRate_;
    size_t mtu_;
    std::vector<std::string> formats_;
    int failFrom_ = 0, failTo_ = 0, writes_ = 0;
    size_t bytes_ = 8;
    long long first_ = 0, written_ = 0;  // the burst's first sample in the file, the file's samples
    FILE *out_ = nullptr, *log_ = nullptr;
};

int TestTransmitter::writeStream(SoapySDR::Stream*, const void* const* buffs, const size_t n, int& flags,
                                 const long long timeNs, const long) {
    if (!inBurst_) {
        const int number = ++burstsSeen;
        if (number >= failFrom_ && number <= failTo_) return SOAPY_SDR_STREAM_ERROR;
        const long long arrived = clockNs();
        silence();
        const long long wallMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
                .count();
        if (log_ != nullptr)
            std::fprintf(log_, "burst %d %s time_ns=%lld arrived_ns=%lld wall_ms=%lld first=%lld", number,
                         (flags & SOAPY_SDR_HAS_TIME) ? "timed" : "untimed", (flags & SOAPY_SDR_HAS_TIME) ? timeNs : 0,
                         arrived, wallMs, written_);
        inBurst_ = true, first_ = written_, writes_ = 0;
    }
    ++writes_;
    if (out_ != nullptr) std::fwrite(buffs[0], bytes_, n, out_);
    written_ += static_cast<long long>(n);
    if (flags & SOAPY_SDR_END_BURST) {
        if (log_ != nullptr)
            std::fprintf(log_, " samples=%lld writes=%d\n", written_ - first_, writes_), std::fflush(log_);
        silence();
        if (out_ != nullptr) std::fflush(out_);
        inBurst_ = false;
    }
    flags = 0;
    return static_cast<int>(n);
}

SoapySDR::KwargsList find(const Kwargs& a) {
    if (a.count("driver") != 0 && a.at("driver") != "vdxtest") return {};
    return {{{"driver", "vdxtest"}, {"label", "Verdanox test transmitter"}, {"serial", "0001"}}};
}

SoapySDR::Device* make(const Kwargs& a) { return new TestTransmitter(a); }

const SoapySDR::Registry registration("vdxtest", &find, &make, SOAPY_SDR_ABI_VERSION);

}  // namespace
