// One sent telegram as a record of fields, collected once and rendered
// either as the text line or as one JSON object, so the two cannot drift.
#pragma once

#include <cstdint>
#include <string>

#include "telegram/send_cycle.h"

namespace vdx {

struct TelegramRecord {
    std::string time;  // UTC, to the millisecond
    int meter = 0;
    std::string manufacturer;  // three letters
    std::string id;            // identification number, 8 digits
    unsigned version = 0, type = 0, access = 0;
    bool encrypted = false;
    uint32_t counter = 0;  // mode 7 only
    bool written = false;
    std::string addressFrame, telegramFrame;  // upper-case hexadecimal
};

// The record of `t`, stamped with `time`.
TelegramRecord telegramRecord(const SentTelegram& t, const std::string& time);

// "2026-12-08T09:30:00.123Z meter 0: VDX 12345670 v01 t03, access 0, mode 7, counter 0, sent"
std::string textLine(const TelegramRecord& r);
// {"time":...,"meter":0,"manufacturer":"VDX","id":"12345670","version":1,"type":3,"access":0,
//  "counter":0,"mode":"mode 7","written":true,"frames":["01...","44..."]}; counter null when plain
std::string jsonLine(const TelegramRecord& r);

// The current UTC time as 2026-12-08T09:30:00.123Z.
std::string utcTimestamp();

}  // namespace vdx
