#include "tools/virtual_stick/compact_formats.h"

#include "tools/virtual_stick/record_decoder.h"

namespace vstick {

uint16_t en13757Crc(const uint8_t* data, size_t n) {
    unsigned reg = 0;
    for (size_t i = 0; i < n; ++i)
        for (int bit = 7; bit >= 0; --bit) {
            const bool feedback = (((data[i] >> bit) & 1) != 0) != ((reg & 0x8000) != 0);
            reg = ((reg << 1) & 0xFFFF) ^ (feedback ? 0x3D65 : 0);
        }
    return static_cast<uint16_t>(reg ^ 0xFFFF);
}

namespace {

std::string key(const uint8_t meter[8]) { return std::string(reinterpret_cast<const char*>(meter), 8); }

// One record's DIF/VIF bytes from `format[*f]` on (DIFEs while bit 7 is
// set; VIF, an extension table's code after FB or FD, VIFEs while bit 7 is
// set); false when the format ends inside them.
bool headerEnd(const std::vector<uint8_t>& format, size_t* f) {
    const auto next = [&](uint8_t* b) { return *f < format.size() && (*b = format[(*f)++], true); };
    uint8_t b = 0;
    if (!next(&b)) return false;
    while (b & 0x80)
        if (!next(&b)) return false;
    if (!next(&b)) return false;
    if ((b == 0xFB || b == 0xFD) && !next(&b)) return false;
    while (b & 0x80)
        if (!next(&b)) return false;
    return true;
}

}  // namespace

void FormatStore::learn(const uint8_t meter[8], const std::vector<uint8_t>& format) {
    formats_[{key(meter), en13757Crc(format.data(), format.size())}] = format;
}

const std::vector<uint8_t>* FormatStore::find(const uint8_t meter[8], uint16_t signature) const {
    const auto f = formats_.find({key(meter), signature});
    return f != formats_.end() ? &f->second : nullptr;
}

bool expandCompact(const std::vector<uint8_t>& format, const uint8_t* data, size_t n, std::vector<uint8_t>* full,
                   size_t* used) {
    size_t f = 0, d = 0;
    while (f < format.size()) {
        const size_t start = f;
        if (!headerEnd(format, &f)) return false;
        full->insert(full->end(), format.begin() + static_cast<long>(start), format.begin() + static_cast<long>(f));
        size_t size = dataFieldSize(format[start]);
        if ((format[start] & 0x0F) == 0x0D) size = d < n ? 1 + data[d] : 1;  // LVAR and its characters
        if (d + size > n) return false;
        full->insert(full->end(), data + d, data + d + size);
        d += size;
    }
    *used = d;
    return true;
}

}  // namespace vstick
