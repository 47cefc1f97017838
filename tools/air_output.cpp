#include "tools/air_output.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>

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

}  // namespace

double captureCentre(const IqSettings& s) { return s.centreHz > 0 ? s.centreHz : radioMode(s.mode).channelHz; }

double burstOffset(const IqSettings& s, RadioMode mode) {
    return radioMode(mode).channelHz - captureCentre(s) + s.freqOffsetHz;
}

std::string captureProblem(const IqSettings& s, RadioMode mode) {
    const RadioModeInfo& m = radioMode(mode);
    if (s.format == FrameFormat::B && m.syncB == 0)
        return std::string("mode ") + m.label + " sends frame format A only";
    const double offset = burstOffset(s, mode), half = s.modem.sampleRate / 2.0;
    if (bandReachHz(m, offset) < half) return "";
    return std::string("mode ") + m.label + " at " + megahertz(m.channelHz + s.freqOffsetHz) + " MHz lies " +
           hertz(offset) + " Hz from the capture's centre, " + megahertz(captureCentre(s)) +
           " MHz: |offset| + deviation + chip rate / 2 = " + hertz(std::fabs(offset)) + " + " + hertz(m.deviationHz) +
           " + " + hertz(m.chipRate / 2.0) + " = " + hertz(bandReachHz(m, offset)) +
           " Hz is not below half the sample rate, " + hertz(half) + " Hz";
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
        return !ec || (*error = "cannot write " + s_.dir + ": " + ec.message(), false);
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
        if (!writer_->gap(s_.gapMs)) return *error = error_, false;
    }
    const bool ok = writer_->burst(telegramChips(t, mode, s_.format),
                                   burstShape(radioMode(mode), burstOffset(s_, mode)), first, last) &&
                    writer_->gap(s_.gapMs);
    *first -= fileStart_, *last -= fileStart_;
    if (!ok) return *error = error_, false;
    return s_.dir.empty() || closeFile(error);
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
    return false;
}

}  // namespace vdx
