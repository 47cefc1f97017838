// Compact frames as a receiver reads them (EN 13757-3), written apart from
// the program's encoder: the formats learnt from full frames, per meter and
// format signature, and a compact frame's data put back into full records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace vstick {

// The EN 13757-4 CRC, bit by bit: polynomial x^16 + x^13 + x^12 + x^11 +
// x^10 + x^8 + x^6 + x^5 + x^2 + 1, register starting at zero, complemented.
uint16_t en13757Crc(const uint8_t* data, size_t n);

// The formats (DIF, DIFE, VIF and VIFE bytes of a full frame's records)
// each meter announced, by their signature, the CRC of those bytes.
class FormatStore {
public:
    // Remembers a full frame's format for the meter (M, ID, version, type).
    void learn(const uint8_t meter[8], const std::vector<uint8_t>& format);
    // The format of `signature` the meter announced; nullptr when none.
    const std::vector<uint8_t>* find(const uint8_t meter[8], uint16_t signature) const;

private:
    std::map<std::pair<std::string, uint16_t>, std::vector<uint8_t>> formats_;
};

// The full records of a compact frame's `n` data bytes under `format`:
// each record's DIF/VIF bytes, then as many data bytes as its DIF says (a
// variable-length field as its first byte says). False when the format's
// bytes do not chain or the data end first; `used` the data bytes taken.
bool expandCompact(const std::vector<uint8_t>& format, const uint8_t* data, size_t n, std::vector<uint8_t>* full,
                   size_t* used);

}  // namespace vstick
