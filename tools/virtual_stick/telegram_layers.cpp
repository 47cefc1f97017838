#include "tools/virtual_stick/telegram_layers.h"

namespace vstick {

bool readLayers(const std::vector<uint8_t>& f, TelegramLayers* t, std::string* why) {
    const size_t n = f.size();
    size_t p = 4;
    if (n < 5) return *why = "no CI-field", false;
    t->c = f[3];
    if (f[p] == 0x8C) {  // ELL, short form: CC, ACC
        if (p + 3 > n) return *why = "ELL cut short", false;
        t->ell = true, t->cc = f[p + 1], t->ellAccess = f[p + 2], p += 3;
    }
    if (p < n && f[p] == 0x90) {  // AFL: length, FCL, MCL, counter, MAC
        if (p + 2 > n || p + 2 + f[p + 1] > n || f[p + 1] < 15) return *why = "AFL cut short", false;
        t->afl = true, t->aflLength = f[p + 1];
        t->fcl = static_cast<uint16_t>(f[p + 2] | f[p + 3] << 8);
        t->mcl = f[p + 4], t->mclAt = p + 4;
        t->counter = f[p + 5] | f[p + 6] << 8 | f[p + 7] << 16 | static_cast<uint32_t>(f[p + 8]) << 24;
        t->macAt = p + 9;
        p += 2 + f[p + 1];
    }
    if (p >= n) return *why = "no transport layer", false;
    t->ci = f[p], t->tplAt = p++;
    if (t->ci == 0x72)
        t->header = TelegramLayers::Long;
    else if (t->ci == 0x7A)
        t->header = TelegramLayers::Short;
    else if (t->ci != 0x78)
        return *why = "CI " + std::to_string(t->ci) + " unknown", false;
    if (t->header == TelegramLayers::Long) {
        if (p + 8 > n) return *why = "header cut short", false;
        t->meter = f.data() + p, p += 8;
    }
    if (t->header != TelegramLayers::None) {
        if (p + 4 > n) return *why = "header cut short", false;
        t->access = f[p], t->status = f[p + 1];
        t->cf = static_cast<uint16_t>(f[p + 2] | f[p + 3] << 8), p += 4;
        t->mode = (t->cf >> 8) & 0x1F;
        t->blocks = (t->cf >> 4) & 0x0F;
        if (t->mode == 7) {
            if (p >= n) return *why = "header cut short", false;
            t->cfe = f[p++];
        }
        if (t->mode != 0 && t->mode != 5 && t->mode != 7)
            return *why = "security mode " + std::to_string(t->mode), false;
    }
    t->blockAt = p;
    return true;
}

std::string statusText(uint8_t s) {
    static const char* const kApplication[] = {"", "busy", "error", "alarm"};
    static const char* const kBits[] = {"power-low",         "permanent-error",   "temporary-error",
                                        "manufacturer 0x20", "manufacturer 0x40", "manufacturer 0x80"};
    std::string text = kApplication[s & 3];
    for (int b = 2; b < 8; ++b)
        if (s & (1 << b)) text += (text.empty() ? "" : ", ") + std::string(kBits[b - 2]);
    return text;
}

}  // namespace vstick
