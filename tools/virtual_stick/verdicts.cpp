#include "tools/virtual_stick/verdicts.h"

namespace vstick {
namespace {

std::string key(const uint8_t address[8]) { return std::string(reinterpret_cast<const char*>(address), 8); }

}  // namespace

bool MeterHistory::isReplay(const uint8_t address[8], const std::vector<uint8_t>& telegram) const {
    const auto s = seen_.find(key(address));
    return s != seen_.end() && s->second.last == telegram;
}

bool MeterHistory::sameAccess(const uint8_t address[8], uint8_t access) const {
    const auto s = seen_.find(key(address));
    return s != seen_.end() && s->second.access == access;
}

bool MeterHistory::lastCounter(const uint8_t address[8], uint32_t* counter) const {
    const auto s = seen_.find(key(address));
    if (s == seen_.end() || !s->second.haveCounter) return false;
    *counter = s->second.counter;
    return true;
}

void MeterHistory::remember(const uint8_t address[8], const std::vector<uint8_t>& telegram, uint8_t access) {
    Seen& s = seen_[key(address)];
    s.last = telegram;
    s.access = access;
}

void MeterHistory::rememberCounter(const uint8_t address[8], uint32_t counter) {
    Seen& s = seen_[key(address)];
    if (!s.haveCounter || counter > s.counter) s.counter = counter;
    s.haveCounter = true;
}

bool MeterHistory::sessionReused(const uint8_t address[8], uint8_t cc, uint32_t sn, const uint8_t* payload, size_t n) {
    uint64_t hash = 14695981039346656037u;
    for (size_t i = 0; i < n; ++i) hash = (hash ^ payload[i]) * 1099511628211u;
    Seen& s = seen_[key(address)];
    bool reused = false;
    for (const Session& e : s.sessions) reused = reused || (e.sn == sn && e.cc == cc && e.payloadHash != hash);
    const Session now{hash, sn, cc};
    if (s.sessions.size() < kSessionsKept)
        s.sessions.push_back(now);
    else
        s.sessions[s.nextSession] = now;
    s.nextSession = (s.nextSession + 1) % kSessionsKept;
    return reused;
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
