#include "tools/frame_lines.h"

#include <cstring>
#include <vector>

#include "session/startup.h"
#include "session/telegram_record.h"
#include "telegram/frames.h"
#include "telegram/radio.h"
#include "telegram/readings.h"
#include "tools/air_output.h"

namespace vdx {
namespace {

const char* const kNames[] = {"stick", "radio", "radio-crc", "iq", "rtlwmbus", "telegram-lines"};

std::string hexLine(const std::vector<uint8_t>& bytes) { return hexText(bytes.data(), bytes.size()) + "\n"; }

// 2026-01-31 23:50:00.000
std::string receiverTime(int64_t ms) {
    const int64_t seconds = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    const CivilTime c = civilTime(seconds);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", c.year, c.month, c.day, c.hour, c.minute,
                  c.second, static_cast<int>(ms - seconds * 1000));
    return text;
}

}  // namespace

const char* lineFormatName(LineFormat f) { return kNames[static_cast<int>(f)]; }

bool parseLineFormat(const char* text, LineFormat* out) {
    for (int f = 0; f < static_cast<int>(sizeof kNames / sizeof kNames[0]); ++f)
        if (std::strcmp(text, kNames[f]) == 0) return *out = static_cast<LineFormat>(f), true;
    return false;
}

bool rtlwmbusMode(RadioMode mode) { return mode == RadioMode::T1 || mode == RadioMode::C1 || mode == RadioMode::S1; }

std::string telegramLines(const SentTelegram& t, LineFormat format, const LineContext& c) {
    switch (format) {
        case LineFormat::Stick:
            return hexText(t.addressFrame, kAddressFrameSize) + "\n" +
                   hexText(t.telegramFrame, stickFrameSize(t.telegramFrame)) + "\n";
        case LineFormat::RadioCrc:
            return hexLine(airFrame(t, c.frameFormat));
        case LineFormat::Rtlwmbus: {
            // the link layer's identification number, as a receiver reads it
            const uint8_t* a = t.addressFrame + 3;
            const uint8_t id[4] = {a[5], a[4], a[3], a[2]};
            return std::string(radioMode(c.mode).label) + ";1;1;" + receiverTime(c.timeMs) + ";97;148;" +
                   hexText(id, 4) + ";0x" + hexLine(radioFrameOf(t));
        }
        case LineFormat::TelegramLines: {
            const std::vector<uint8_t> frame = radioFrameOf(t);
            return "telegram=|" + hexText(frame.data(), frame.size()) + "|+" + std::to_string(c.offsetMs / 1000) + "\n";
        }
        default:
            return hexLine(radioFrameOf(t));
    }
}

}  // namespace vdx
