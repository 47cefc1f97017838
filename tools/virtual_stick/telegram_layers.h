// The monitor's reading of a telegram frame (stick command 0x44) into its
// layers, as a receiver parses the radio frame after its L, M and A fields:
// the ELL (CI 8C), the AFL (CI 90), the transport layer (CI 72 long, 7A
// short, 78 none) with its configuration word, and where the application
// block lies. Written apart from the program's own encoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vstick {

struct TelegramLayers {
    uint8_t c = 0;
    bool ell = false;
    uint8_t cc = 0, ellAccess = 0;
    bool afl = false;
    uint8_t aflLength = 0, mcl = 0;
    uint16_t fcl = 0;
    uint32_t counter = 0;
    size_t mclAt = 0, macAt = 0;
    uint8_t ci = 0;
    size_t tplAt = 0;
    enum { None, Short, Long } header = None;
    const uint8_t* meter = nullptr;  // long header: ID (4), M (2), version, type
    uint8_t access = 0, status = 0;
    uint16_t cf = 0;
    uint8_t cfe = 0;
    int mode = 0;       // configuration word bits 8-12: 0, 5 or 7
    size_t blocks = 0;  // encrypted 16-byte blocks (bits 4-7)
    size_t blockAt = 0;
};

// False with why when the frame is not a telegram these layers describe
// (an unknown CI, a mode other than 0, 5 and 7, a header cut short).
bool readLayers(const std::vector<uint8_t>& frame, TelegramLayers* t, std::string* why);

// "power-low, temporary-error" for the status byte's bits (EN 13757-3, OMS).
std::string statusText(uint8_t status);

}  // namespace vstick
