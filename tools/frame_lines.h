// verdanox-frames' text outputs, one telegram at a time: the stick frames,
// the radio frame without or with its CRCs, and the line formats receivers
// read (rtl_wmbus's lines on standard input, simulation files'
// telegram=|HEX| lines).
#pragma once

#include <cstdint>
#include <string>

#include "sdr/radio_modes.h"
#include "telegram/send_cycle.h"

namespace vdx {

enum class LineFormat { Stick, Radio, RadioCrc, Iq, Rtlwmbus, TelegramLines };

// "stick", "radio", "radio-crc", "iq", "rtlwmbus", "telegram-lines"
const char* lineFormatName(LineFormat f);
bool parseLineFormat(const char* text, LineFormat* out);

// Where a telegram's line takes its time and mode from.
struct LineContext {
    FrameFormat frameFormat = FrameFormat::A;  // radio-crc
    RadioMode mode = RadioMode::T1;            // rtlwmbus: T1, C1 or S1
    int64_t timeMs = 0;                        // rtlwmbus: UTC, ms since 1970
    uint64_t offsetMs = 0;                     // telegram-lines: after the first telegram
};

// The telegram's lines in `format` (not iq), each ending in a newline:
//   stick           the address frame and the telegram frame, hexadecimal
//   radio           the frame from the L-field, without CRCs
//   radio-crc       the same with the CRC blocks of the frame format
//   rtlwmbus        T1;1;1;2026-01-31 23:50:00.000;97;148;12345678;0x7B44...
//                   (mode, CRC and coding good, time, two fixed signal
//                   strengths, identification number, the radio frame)
//   telegram-lines  telegram=|7B44...|+5 (the radio frame, whole seconds
//                   after the first telegram)
std::string telegramLines(const SentTelegram& t, LineFormat format, const LineContext& context);

// True for the modes rtl_wmbus prints lines of (T1, C1, S1).
bool rtlwmbusMode(RadioMode mode);

}  // namespace vdx
