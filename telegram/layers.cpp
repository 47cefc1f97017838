#include "telegram/layers.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "crypto/byte_order.h"
#include "telegram/security.h"

namespace vdx {
namespace {

constexpr uint8_t kFill = 0x2F;
constexpr size_t kEllSize = 3;                 // CI, CC, ACC
constexpr size_t kAflSize = 17;                // CI, AFLL, FCL (2), MCL, MC (4), MAC (8)
constexpr uint8_t kOverlong[] = {0x07, 0x13};  // 64-bit integer of volume: eight data bytes

bool encrypted(Security s) { return s != Security::None; }

size_t roundUp16(size_t n) { return (n + 15) / 16 * 16; }

size_t headerSize(const TransportLayer& t, Security s) {
    if (t.form == HeaderForm::None) return 1;
    return 1 + (t.form == HeaderForm::Long ? 8 : 0) + 4 + (s == Security::Mode7 ? 1 : 0);
}

// bad-records' closing record: DIF 07, VIF 13 and at most seven bytes,
// where the block (filled) ends.
void appendOverlong(Block* b, bool filled) {
    if (!filled) {
        std::memcpy(b->bytes + b->size, kOverlong, 2);
        std::memset(b->bytes + b->size + 2, kFill, 7);
        b->size += 9;
        return;
    }
    size_t end = roundUp16(b->size);
    if (end - b->size < 2) end += 16;
    const size_t at = end - std::min<size_t>(end - b->size, 9);
    std::memset(b->bytes + b->size, kFill, end - b->size);
    std::memcpy(b->bytes + at, kOverlong, 2);
    b->size = end;
}

const char* const kApplicationStatus[] = {"", "busy", "error", "alarm"};
const char* const kStatusBits[] = {"power-low", "permanent-error", "temporary-error"};

}  // namespace

std::string statusNames(uint8_t status) {
    std::string names = kApplicationStatus[status & 3];
    for (int b = 2; b < 8; ++b) {
        if ((status & (1 << b)) == 0) continue;
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", 1 << b);
        names += (names.empty() ? "" : ",") + std::string(b < 5 ? kStatusBits[b - 2] : hex);
    }
    return names;
}

bool statusBits(const std::string& name, uint8_t* bits) {
    for (int i = 1; i < 4; ++i)
        if (name == kApplicationStatus[i]) return *bits = static_cast<uint8_t>(i), true;
    for (int b = 0; b < 3; ++b)
        if (name == kStatusBits[b]) return *bits = static_cast<uint8_t>(4 << b), true;
    return false;
}

uint8_t transportCi(const TransportLayer& t) {
    if (t.ci != 0) return t.ci;
    return t.form == HeaderForm::None ? 0x78 : t.form == HeaderForm::Short ? 0x7A : 0x72;
}

size_t blockSize(const ApplicationLayer& a, Security s) {
    const bool filled = encrypted(s) || a.fillAlways;
    size_t n = (filled ? 2 : 0) + a.size;
    if (a.overlongRecord) return filled ? roundUp16(n) + (roundUp16(n) - n < 2 ? 16 : 0) : n + 9;
    return filled ? roundUp16(n) : n;
}

void buildBlock(const ApplicationLayer& a, Security s, Block* b) {
    const bool filled = encrypted(s) || a.fillAlways;
    b->checkSize = filled ? 2 : 0;
    std::memset(b->bytes, kFill, b->checkSize);
    const size_t room = sizeof b->bytes - 16 - b->checkSize;
    const size_t n = std::min(a.size, room);
    std::memcpy(b->bytes + b->checkSize, a.records, n);
    b->size = b->checkSize + n;
    b->records = a.count;
    for (size_t i = 0; i < a.count; ++i) b->difAt[i] = static_cast<uint16_t>(b->checkSize + a.recordAt[i]);
    if (a.reservedDifRecord >= 0 && static_cast<size_t>(a.reservedDifRecord) < a.count)
        b->bytes[b->difAt[a.reservedDifRecord]] = 0x3F;  // a special function EN 13757-3 reserves
    if (a.overlongRecord) return appendOverlong(b, filled);
    if (!filled) return;
    const size_t end = roundUp16(b->size);
    std::memset(b->bytes + b->size, kFill, end - b->size);
    b->size = end;
}

size_t telegramFrameSize(const Telegram& t, size_t block) {
    return 3 + 1 + (t.ell.present ? kEllSize : 0) + (t.afl.present ? kAflSize : 0) +
           headerSize(t.transport, t.security) + block;
}

namespace {

void writeAddressFrame(const LinkLayer& link, uint8_t a[11]) {
    a[0] = 0x01, a[1] = 8, a[2] = 0;
    std::memcpy(a + 3, link.manufacturer, 2);
    std::memcpy(a + 5, link.id, 4);
    a[9] = link.version, a[10] = link.type;
}

// The AFL at `f`; the MAC left zero for the securing to fill.
void writeAfl(const AflLayer& afl, uint8_t* f) {
    f[0] = 0x90, f[1] = kAflSize - 2;
    putLe16(f + 2, afl.fcl);
    f[4] = afl.mcl;
    putLe32(f + 5, afl.counter);
    std::memset(f + 9, 0, 8);
}

// The transport layer at `f`; its size.
size_t writeTransport(const TransportLayer& tr, Security security, size_t blockSize, uint8_t* f) {
    size_t p = 0;
    f[p++] = transportCi(tr);
    if (tr.form == HeaderForm::Long) {
        std::memcpy(f + p, tr.id, 4), std::memcpy(f + p + 4, tr.manufacturer, 2);
        f[p + 6] = tr.version, f[p + 7] = tr.type, p += 8;
    }
    if (tr.form == HeaderForm::None) return p;
    const unsigned mode = security == Security::Mode5 ? 5 : security == Security::Mode7 ? 7 : 0;
    const unsigned blocks = encrypted(security) ? static_cast<unsigned>(blockSize / 16) : 0;
    f[p] = tr.access, f[p + 1] = tr.status;
    putLe16(f + p + 2, static_cast<uint16_t>(mode << 8 | blocks << 4));  // configuration word
    p += 4;
    if (security == Security::Mode7) f[p++] = tr.cfe;
    return p;
}

}  // namespace

bool encodeTelegram(const Telegram& t, const Block& b, EncodedTelegram* out) {
    const size_t n = telegramFrameSize(t, b.size);
    if (n > kMaxTelegramFrameSize || (encrypted(t.security) && (b.size > kMaxBlockSize || b.size % 16 != 0)) ||
        (encrypted(t.security) && t.transport.form == HeaderForm::None))
        return false;
    writeAddressFrame(t.link, out->addressFrame);
    uint8_t* f = out->frame;
    f[0] = 0x44;
    putLe16(f + 1, static_cast<uint16_t>(n - 3));
    f[3] = t.link.c;
    size_t p = 4, mclAt = 0;
    if (t.ell.present) f[p] = 0x8C, f[p + 1] = t.ell.cc, f[p + 2] = t.ell.access, p += kEllSize;
    out->macAt = 0;
    if (t.afl.present) writeAfl(t.afl, f + p), mclAt = p + 4, out->macAt = p + 9, p += kAflSize;
    const size_t tplAt = p;
    p += writeTransport(t.transport, t.security, b.size, f + p);
    out->blockAt = p;
    std::memcpy(f + p, b.bytes, b.size);
    out->size = n;

    // M, ID, version and type of the meter: the long header's, else the link layer's
    const TransportLayer& tr = t.transport;
    const bool own = tr.form == HeaderForm::Long;
    uint8_t address[8];
    std::memcpy(address, own ? tr.manufacturer : t.link.manufacturer, 2);
    std::memcpy(address + 2, own ? tr.id : t.link.id, 4);
    address[6] = own ? tr.version : t.link.version;
    address[7] = own ? tr.type : t.link.type;
    if (t.security == Security::Mode5) mode5Encrypt(t.key, address, tr.access, f + out->blockAt, b.size);
    if (t.security == Security::Mode7 && t.afl.present)
        mode7Secure(t.key, address + 2, t.afl.counter, f, n, mclAt, out->macAt, tplAt, out->blockAt);
    return true;
}

}  // namespace vdx
