#include "tools/virtual_stick/verdicts.h"

namespace vstick {
namespace {

std::string key(const uint8_t address[8]) { return std::string(reinterpret_cast<const char*>(address), 8); }

}  // namespace

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
