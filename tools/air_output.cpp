#include "tools/air_output.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>

#include "session/startup.h"

namespace vdx {
namespace {

// Hertz as megahertz without trailing zeros: 868.95, 169.40625.
std::string megahertz(double hz) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", hz / 1e6);
    std::string s = text;
    s.erase(s.find_last_not_of('0') + 1);
    if (s.back() == '.') s.pop_back();
    return s;
}

std::string hertz(double hz) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", hz);
    return text;
}

const char* extension(IqFormat f) {
    switch (f) {
        case IqFormat::Cs8:
            return ".cs8";
        case IqFormat::Cs16:
            return ".cs16";
        case IqFormat::Cf32:
            return ".cf32";
        default:
            return ".cu8";
    }
}

// The first file of `dir` (by name) named as a capture or its record:
// g, digits, underscore.
std::string earlierCapture(const std::string& dir, std::error_code* ec) {
    std::string first;
    for (std::filesystem::directory_iterator it(dir, *ec), end; !*ec && it != end; it.increment(*ec)) {
        const std::string name = it->path().filename().string();
        const size_t digits = name.find_first_not_of("0123456789", 1);
        if (name.size() > 2 && name[0] == 'g' && digits > 1 && digits != std::string::npos && name[digits] == '_' &&
            (first.empty() || name < first))
            first = name;
    }
    return first;
}

}  // namespace

double captureCentre(const IqSettings& s) { return s.centreHz > 0 ? s.centreHz : radioMode(s.mode).channelHz; }

double burstOffset(const IqSettings& s, RadioMode mode) {
    return radioMode(mode).channelHz - captureCentre(s) + s.freqOffsetHz;
}

std::string captureProblem(const IqSettings& s, RadioMode mode) {
    const RadioModeInfo& m = radioMode(mode);
    const double offset = burstOffset(s, mode), half = s.modem.sampleRate / 2.0;
    if (bandReachHz(m, offset) < half) return "";
    return std::string("mode ") + m.label + " at " + megahertz(m.channelHz + s.freqOffsetHz) + " MHz lies " +
           hertz(offset) + " Hz from the capture's centre, " + megahertz(captureCentre(s)) +
           " MHz: |offset| + deviation + chip rate / 2 = " + hertz(std::fabs(offset)) + " + " + hertz(m.deviationHz) +
           " + " + hertz(m.chipRate / 2.0) + " = " + hertz(bandReachHz(m, offset)) +
           " Hz is not below half the sample rate, " + hertz(half) + " Hz";
}

FrameFormat sentFormat(RadioMode mode, FrameFormat asked) {
    return radioMode(mode).syncB != 0 ? asked : FrameFormat::A;
}

std::string captureJson(const IqSettings& s, RadioMode mode, const SentTelegram& t, uint64_t first, uint64_t last,
                        const std::string& file) {
    const FrameFormat format = sentFormat(mode, s.format);
    const std::vector<uint8_t> air = airFrame(t, format);
    nlohmann::ordered_json j;
    j["radio"] = radioMode(mode).name;
    j["channel_hz"] = std::llround(radioMode(mode).channelHz);
    j["centre_hz"] = std::llround(captureCentre(s));
    j["sample_rate"] = s.modem.sampleRate;
    j["first_sample"] = first;
    j["last_sample"] = last;
    if (!file.empty()) j["file"] = file;
    j["frame_format"] = format == FrameFormat::A ? "a" : "b";
    j["iq_format"] = extension(s.modem.format) + 1;
    j["snr_db"] = std::isinf(s.modem.snrDb) ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(s.modem.snrDb);
    if (!std::isinf(s.modem.snrDb)) j["seed"] = s.modem.seed;
    j["freq_offset_hz"] = s.freqOffsetHz;
    j["clock_ppm"] = s.modem.clockPpm;
    j["air_frame"] = hexText(air.data(), air.size());
    return j.dump();
}

std::string captureName(const IqSettings& s, uint64_t number, const char* ext) {
    char n[24];
    std::snprintf(n, sizeof n, "g%03llu_", static_cast<unsigned long long>(number));
    return n + megahertz(captureCentre(s)) + "M_" + std::to_string(s.modem.sampleRate / 1000) + "k" +
           (ext != nullptr ? ext : extension(s.modem.format));
}

bool IqFile::open(const IqSettings& settings, std::string* error) {
    s_ = settings;
    writer_ = std::make_unique<IqWriter>(s_.modem, [this](const uint8_t* data, size_t n) {
        if (std::fwrite(data, 1, n, file_) == n) return true;
        error_ = "cannot write " + path_ + ": " + std::strerror(errno);
        return false;
    });
    if (!s_.dir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(s_.dir, ec);
        if (ec) return *error = "cannot write " + s_.dir + ": " + ec.message(), false;
        const std::string earlier = earlierCapture(s_.dir, &ec);
        if (ec) return *error = "cannot read " + s_.dir + ": " + ec.message(), false;
        return earlier.empty() || (*error = "cannot write " + s_.dir + ": it holds " + earlier +
                                            " of an earlier run (a corpus goes into a folder of its own)",
                                   false);
    }
    if (!openFile(s_.path, error)) return false;
    return writer_->gap(s_.gapMs) || (*error = error_, false);
}

bool IqFile::openFile(const std::string& path, std::string* error) {
    if (path == "-") binaryStandardOutput();
    file_ = path == "-" ? stdout : std::fopen(path.c_str(), "wb");
    path_ = path == "-" ? "standard output" : path;
    if (file_ == nullptr) return *error = "cannot write " + path + ": " + std::strerror(errno), false;
    fileStart_ = writer_->samples();
    return true;
}

bool IqFile::closeFile(std::string* error) {
    if (file_ == nullptr) return true;
    bool ok = error_.empty();
    if (ok && std::fflush(file_) != 0) error_ = "cannot write " + path_ + ": " + std::strerror(errno), ok = false;
    if (file_ != stdout && std::fclose(file_) != 0 && ok)
        error_ = "cannot write " + path_ + ": " + std::strerror(errno), ok = false;
    file_ = nullptr;
    return ok || (*error = error_, false);
}

bool IqFile::add(const SentTelegram& t, RadioMode mode, uint64_t* first, uint64_t* last, std::string* file,
                 std::string* error) {
    if (!s_.dir.empty()) {
        *file = captureName(s_, ++count_);
        if (!openFile(s_.dir + "/" + *file, error)) return false;
    }
    const bool ok = (s_.dir.empty() || writer_->gap(s_.gapMs)) &&
                    writer_->burst(telegramChips(t, mode, s_.format),
                                   burstShape(radioMode(mode), burstOffset(s_, mode)), first, last) &&
                    writer_->gap(s_.gapMs);
    *first -= fileStart_, *last -= fileStart_;
    if (s_.dir.empty()) return ok || (*error = error_, false);
    if (closeFile(error) && ok) return true;
    *error = error_;             // the first failure
    std::remove(path_.c_str());  // no part of a capture among the whole ones
    return false;
}

bool IqFile::close(std::string* error) { return closeFile(error); }

bool writeTextFile(const std::string& path, const std::string& text, std::string* error) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return *error = "cannot write " + path + ": " + std::strerror(errno), false;
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size() && std::fflush(f) == 0;
    const int reason = errno;
    const bool closed = std::fclose(f) == 0;
    if (written && closed) return true;
    *error = "cannot write " + path + ": " + std::strerror(written ? errno : reason);
    std::remove(path.c_str());
    return false;
}

}  // namespace vdx
