#include "telegram/compact.h"

#include <cstring>

#include "crypto/byte_order.h"
#include "telegram/radio.h"

namespace vdx {
namespace {

// Where record `i`'s data starts in the records and how many bytes it has.
size_t dataAt(const ApplicationLayer& a, size_t i) { return a.recordAt[i] + a.headerSize[i]; }
size_t dataBytes(const ApplicationLayer& a, size_t i) {
    const size_t end = i + 1 < a.count ? a.recordAt[i + 1] : a.size;
    return end - dataAt(a, i);
}

}  // namespace

uint16_t formatSignature(const ApplicationLayer& a) {
    uint8_t format[kMaxBlockSize];
    size_t n = 0;
    for (size_t i = 0; i < a.count; ++i) {
        std::memcpy(format + n, a.records + a.recordAt[i], a.headerSize[i]);
        n += a.headerSize[i];
    }
    return wmbusCrc(format, n);
}

uint16_t fullFrameCrc(const ApplicationLayer& a) {
    const size_t from = a.count > 0 ? a.recordAt[0] : 0;
    return wmbusCrc(a.records + from, a.size - from);
}

void describeFormat(ApplicationLayer* a) {
    a->signature = formatSignature(*a);
    a->fullCrc = fullFrameCrc(*a);
}

size_t compactSize(const ApplicationLayer& a) {
    size_t n = 4;
    for (size_t i = 0; i < a.count; ++i) n += dataBytes(a, i);
    return n;
}

void writeCompact(const ApplicationLayer& a, uint8_t* out) {
    putLe16(out, a.signature);
    putLe16(out + 2, a.fullCrc);
    size_t p = 4;
    for (size_t i = 0; i < a.count; ++i) {
        std::memcpy(out + p, a.records + dataAt(a, i), dataBytes(a, i));
        p += dataBytes(a, i);
    }
}

}  // namespace vdx
