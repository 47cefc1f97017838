#include "tools/air_output.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include "session/startup.h"
#include "telegram/radio.h"

namespace vdx {

std::vector<uint8_t> airFrame(const SentTelegram& t, FrameFormat format) {
    const std::vector<uint8_t> plain = radioFrame(t.addressFrame, t.telegramFrame);
    std::vector<uint8_t> frame = format == FrameFormat::A ? withFormatACrcs(plain) : withFormatBCrcs(plain);
    // the first CRC ends the first block (A) or the second block (B)
    const size_t firstCrc = format == FrameFormat::A ? 10 : std::min<size_t>(plain.size(), 125);
    if (t.fault == FaultKind::BadCrc) frame[firstCrc] ^= 0xFF;
    return frame;
}

bool IqFile::open(const IqSettings& settings, std::string* error) {
    s_ = settings;
    if (s_.path == "-") binaryStandardOutput();
    file_ = s_.path == "-" ? stdout : std::fopen(s_.path.c_str(), "wb");
    if (file_ == nullptr) return *error = "cannot write " + s_.path + ": " + std::strerror(errno), false;
    modulator_ = std::make_unique<IqModulator>(s_.modem, [this](const uint8_t* data, size_t n) {
        failed_ = failed_ || std::fwrite(data, 1, n, file_) != n;
        return !failed_;
    });
    return modulator_->gap(s_.gapMs);
}

bool IqFile::add(const SentTelegram& t, uint64_t* first, uint64_t* last) {
    return modulator_->burst(frameChips(airFrame(t, s_.format), s_.mode, s_.format), first, last) &&
           modulator_->gap(s_.gapMs);
}

bool IqFile::close() {
    const bool ok = !failed_ && std::fflush(file_) == 0;
    if (file_ != stdout) std::fclose(file_);
    file_ = nullptr;
    return ok;
}

}  // namespace vdx
