#include "tools/virtual_stick/verdicts.h"

namespace vstick {
namespace {

std::string key(const uint8_t address[8]) { return std::string(reinterpret_cast<const char*>(address), 8); }

// Data field sizes by the DIF's low nibble; -1: variable length (LVAR).
int fieldSize(uint8_t dif) {
    static const int kSizes[16] = {0, 1, 2, 3, 4, 4, 6, 8, 0, 1, 2, 3, 4, -1, 6, 6};
    return kSizes[dif & 0x0F];
}

}  // namespace

int malformedRecordOffset(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n;) {
        const size_t start = i;
        const uint8_t dif = p[i++];
        if (dif == 0x2F) continue;                                 // fill
        if (dif == 0x0F || dif == 0x1F) return -1;                 // manufacturer data to the end
        if ((dif & 0x0F) == 0x0F) return static_cast<int>(start);  // a reserved special function
        for (uint8_t e = dif; e & 0x80;) {                         // DIFEs
            if (i >= n) return static_cast<int>(start);
            e = p[i++];
        }
        if (i >= n) return static_cast<int>(start);
        uint8_t vif = p[i++];
        if ((vif & 0x7F) == 0x7C) {  // plain-text VIF: its length, then the text
            if (i >= n || i + 1 + p[i] > n) return static_cast<int>(start);
            i += 1 + p[i];
        }
        for (uint8_t e = vif; e & 0x80;) {  // VIFEs (after FB and FD too)
            if (i >= n) return static_cast<int>(start);
            e = p[i++];
        }
        int size = fieldSize(dif);
        if (size < 0) {  // LVAR: 0x00 to 0xBF a text of that many characters
            if (i >= n || p[i] > 0xBF) return static_cast<int>(start);
            size = 1 + p[i];
        }
        if (i + static_cast<size_t>(size) > n) return static_cast<int>(start);
        i += static_cast<size_t>(size);
    }
    return -1;
}

bool MeterHistory::isReplay(const uint8_t address[8], const std::vector<uint8_t>& telegram) const {
    const auto s = seen_.find(key(address));
    return s != seen_.end() && s->second.last == telegram;
}

bool MeterHistory::lastCounter(const uint8_t address[8], uint32_t* counter) const {
    const auto s = seen_.find(key(address));
    if (s == seen_.end() || !s->second.haveCounter) return false;
    *counter = s->second.counter;
    return true;
}

void MeterHistory::remember(const uint8_t address[8], const std::vector<uint8_t>& telegram) {
    seen_[key(address)].last = telegram;
}

void MeterHistory::rememberCounter(const uint8_t address[8], uint32_t counter) {
    Seen& s = seen_[key(address)];
    if (!s.haveCounter || counter > s.counter) s.counter = counter;
    s.haveCounter = true;
}

void VerdictCounts::count(const std::string& verdict) {
    for (auto& c : counts_)
        if (c.first == verdict) return void(++c.second);
    counts_.emplace_back(verdict, 1);
}

unsigned VerdictCounts::operator[](const std::string& verdict) const {
    for (const auto& c : counts_)
        if (c.first == verdict) return c.second;
    return 0;
}

std::string VerdictCounts::summary() const {
    std::string s;
    for (const auto& c : counts_) s += (s.empty() ? "" : ", ") + std::to_string(c.second) + " " + c.first;
    return s.empty() ? "none" : s;
}

}  // namespace vstick
