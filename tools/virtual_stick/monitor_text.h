// What the monitor's files share to write their lines: printf-style text,
// a meter's name, the access number a telegram shows.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

#include "telegram/frames.h"
#include "tools/virtual_stick/telegram_layers.h"

namespace vstick {

inline std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
inline std::string format(const char* fmt, ...) {
    char buf[256];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, args);
    va_end(args);
    return buf;
}

// "VDX 12345670 v01 t03" from M, ID, version, type (radio order).
inline std::string meterName(const uint8_t* a) {
    char letters[4];
    vdx::manufacturerLetters(a, letters);
    return letters + format(" %02X%02X%02X%02X v%02X t%02X", a[5], a[4], a[3], a[2], a[6], a[7]);
}

// The access number a telegram shows: its transport header's, else its ELL's.
inline unsigned accessOf(const TelegramLayers& t) { return t.header != TelegramLayers::None ? t.access : t.ellAccess; }

}  // namespace vstick
