#include "session/air_burst.h"

#include <algorithm>

#include "telegram/radio.h"

namespace vdx {

std::vector<uint8_t> radioFrameOf(const SentTelegram& t) {
    std::vector<uint8_t> frame = radioFrame(t.addressFrame, t.telegramFrame);
    frame[0] = static_cast<uint8_t>(frame[0] + t.lengthError);
    return frame;
}

std::vector<uint8_t> airFrame(const SentTelegram& t, FrameFormat format) {
    const std::vector<uint8_t> plain = radioFrame(t.addressFrame, t.telegramFrame);
    std::vector<uint8_t> frame = format == FrameFormat::A ? withFormatACrcs(plain) : withFormatBCrcs(plain);
    // the first CRC ends the first block (A) or the second block (B)
    const size_t firstCrc = format == FrameFormat::A ? 10 : std::min<size_t>(plain.size(), 125);
    if (t.lengthError != 0) {  // the L-field the block's CRC covers
        frame[0] = static_cast<uint8_t>(frame[0] + t.lengthError);
        const uint16_t crc = wmbusCrc(frame.data(), firstCrc);
        frame[firstCrc] = static_cast<uint8_t>(crc >> 8), frame[firstCrc + 1] = static_cast<uint8_t>(crc);
    }
    if (t.fault == FaultKind::BadCrc) frame[firstCrc] ^= 0xFF;
    return frame;
}

AirFault airFault(FaultKind kind) {
    switch (kind) {
        case FaultKind::BadThreeOfSix:
            return AirFault::BadCodeWord;
        case FaultKind::ShortPreamble:
            return AirFault::ShortPreamble;
        case FaultKind::BadSync:
            return AirFault::BadSync;
        default:
            return AirFault::None;
    }
}

std::vector<uint8_t> telegramChips(const SentTelegram& t, RadioMode mode, FrameFormat format) {
    const FrameFormat f = radioMode(mode).syncB != 0 ? format : FrameFormat::A;
    return frameChips(airFrame(t, f), mode, f, airFault(t.fault));
}

double airMs(size_t chips, RadioMode mode) { return 1000.0 * static_cast<double>(chips) / radioMode(mode).chipRate; }

}  // namespace vdx
