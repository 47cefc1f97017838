#include "session/duty_cycle.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace vdx {

// ERC Recommendation 70-03 annex 1 (non-specific short range devices), the
// rows in the bands of the wireless M-Bus modes, as ETSI EN 300 220-2 takes
// them; each allows listen-before-talk with adaptive frequency agility
// instead of the duty cycle, which a transmit-only SDR does not do:
//
//   sub-band               e.r.p.    duty cycle   wireless M-Bus modes
//   169.400-169.475 MHz    500 mW    1 %          N (channels 1a-3b, 0)
//   433.050-434.790 MHz    10 mW     10 %         F
//   863.000-865.000 MHz    25 mW     0.1 %        -
//   865.000-868.000 MHz    25 mW     1 %          -
//   868.000-868.600 MHz    25 mW     1 %          S1, S2, R2
//   868.700-869.200 MHz    25 mW     0.1 %        T1, C1
//   869.400-869.650 MHz    500 mW    10 %         -
//   869.700-870.000 MHz    25 mW     1 %          - (5 mW: no limit)
//
// 868.6-868.7 and 869.2-869.4 MHz belong to other applications (alarms)
// and are in no row: a signal that reaches into them is in no sub-band.
const SubBand kSubBands[] = {
    {169.4e6, 169.475e6, 1, "500 mW"}, {433.05e6, 434.79e6, 10, "10 mW"}, {863.0e6, 865.0e6, 0.1, "25 mW"},
    {865.0e6, 868.0e6, 1, "25 mW"},    {868.0e6, 868.6e6, 1, "25 mW"},    {868.7e6, 869.2e6, 0.1, "25 mW"},
    {869.4e6, 869.65e6, 10, "500 mW"}, {869.7e6, 870.0e6, 1, "25 mW"},
};
const size_t kSubBandCount = sizeof kSubBands / sizeof kSubBands[0];

const SubBand* subBandOf(double lowHz, double highHz) {
    for (const SubBand& b : kSubBands)
        if (lowHz >= b.lowHz && highHz <= b.highHz) return &b;
    return nullptr;
}

namespace {

std::string decimal(double v, const char* format = "%.3g") {
    char text[32];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

}  // namespace

std::string bandName(const SubBand& b) {
    return decimal(b.lowHz / 1e6, "%.6g") + "-" + decimal(b.highHz / 1e6, "%.6g") + " MHz";
}

double DutyCycle::limitPercent(const SubBand& band) const {
    if (percent_ <= 0) return band.percent;
    return override_ ? percent_ : std::min(percent_, band.percent);
}

DutyCycle::Band& DutyCycle::of(const SubBand& band) {
    bands_.resize(kSubBandCount);
    return bands_[static_cast<size_t>(&band - kSubBands)];
}

int64_t DutyCycle::usedUs(const SubBand& band, int64_t atUs) {
    Band& b = of(band);
    const int64_t from = atUs - kHourUs;
    while (!b.bursts.empty() && b.bursts.front().end <= from) {
        b.total -= b.bursts.front().end - b.bursts.front().start;
        b.bursts.pop_front();
    }
    // the bursts follow each other: only the first can reach into the hour
    return b.total - (b.bursts.empty() ? 0 : std::max<int64_t>(0, from - b.bursts.front().start));
}

bool DutyCycle::allows(const SubBand& band, int64_t startUs, int64_t airUs) {
    const auto limit = static_cast<int64_t>(std::floor(limitPercent(band) / 100 * kHourUs));
    return usedUs(band, startUs + airUs) + airUs <= limit;
}

void DutyCycle::add(const SubBand& band, int64_t startUs, int64_t airUs) {
    Band& b = of(band);
    b.bursts.push_back({startUs, startUs + airUs});
    b.total += airUs;
}

namespace {

const char kAccountHeader[] = "verdanox duty-cycle account 1";

}  // namespace

std::string DutyCycle::save(int64_t nowUs, int64_t offsetUs) {
    std::string text = std::string(kAccountHeader) + "\n";
    for (size_t i = 0; i < kSubBandCount; ++i) {
        usedUs(kSubBands[i], nowUs);  // drops the bursts that left the hour
        for (const Burst& b : of(kSubBands[i]).bursts)
            text += std::to_string(std::llround(kSubBands[i].lowHz)) + " " + std::to_string(b.start + offsetUs) + " " +
                    std::to_string(b.end + offsetUs) + "\n";
    }
    return text;
}

bool DutyCycle::read(const std::string& text, int64_t nowUs, int64_t offsetUs, DutyCycle* into, size_t* badLine,
                     size_t* future) {
    std::istringstream in(text);
    std::string line;
    std::vector<int64_t> lastStart(kSubBandCount, INT64_MIN);
    size_t ahead = 0;
    for (size_t n = 1; std::getline(in, line); ++n) {
        *badLine = n;
        if (!line.empty() && line.back() == '\r') line.pop_back();  // a file saved with CR LF
        if (n == 1) {
            if (line != kAccountHeader) return false;
            continue;
        }
        long long low = 0, start = 0, end = 0;
        char rest = 0;
        if (std::sscanf(line.c_str(), "%lld %lld %lld %c", &low, &start, &end, &rest) != 3) return false;
        const SubBand* band = nullptr;
        for (size_t i = 0; i < kSubBandCount; ++i)
            if (std::llround(kSubBands[i].lowHz) == low) band = &kSubBands[i];
        // a burst is shorter than an hour, and the bursts of a band follow
        // each other; times this far from 1970 (2^61 us, 73000 years) are
        // no account, and moving them by the clocks' offset cannot overflow
        if (band == nullptr || end <= start || end - start > kHourUs || start < -(INT64_MAX / 4) || end > INT64_MAX / 4)
            return false;
        int64_t& last = lastStart[static_cast<size_t>(band - kSubBands)];
        if (start < last) return false;
        last = start;
        if (start - offsetUs > nowUs + kFutureToleranceUs)
            ++ahead;
        else if (end - offsetUs > nowUs - kHourUs)
            into->add(*band, start - offsetUs, end - start);
    }
    if (text.empty()) return *badLine = 1, false;
    if (future != nullptr) *future = ahead;
    return true;
}

bool DutyCycle::load(const std::string& text, int64_t nowUs, int64_t offsetUs, size_t* badLine, size_t* future) {
    DutyCycle account(percent_, override_);
    if (!read(text, nowUs, offsetUs, &account, badLine, future)) return false;
    bands_ = std::move(account.bands_);
    return true;
}

bool DutyCycle::merge(const std::string& text, int64_t nowUs, int64_t offsetUs, size_t* future) {
    DutyCycle other(percent_, override_);
    size_t bad = 0;
    if (!read(text, nowUs, offsetUs, &other, &bad, future)) return false;
    for (size_t i = 0; i < kSubBandCount; ++i) {
        Band& mine = of(kSubBands[i]);
        const Band& theirs = other.of(kSubBands[i]);
        if (theirs.bursts.empty()) continue;
        std::vector<Burst> all(mine.bursts.begin(), mine.bursts.end());
        all.insert(all.end(), theirs.bursts.begin(), theirs.bursts.end());
        std::sort(all.begin(), all.end());
        all.erase(std::unique(all.begin(), all.end()), all.end());
        // two runs' bursts may overlap in time: each is counted whole,
        // which can only count more time on air than was used
        mine.bursts.assign(all.begin(), all.end());
        mine.total = 0;
        for (const Burst& b : all) mine.total += b.end - b.start;
    }
    return true;
}

AccountFile readAccountFile(const std::string& path, std::string* text, std::string* problem) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);  // follows links
    if (status.type() == std::filesystem::file_type::not_found) return AccountFile::Missing;
    if (error) return *problem = "cannot be read (" + error.message() + ")", AccountFile::Unreadable;
    if (status.type() != std::filesystem::file_type::regular)
        return *problem = "is not a regular file", AccountFile::Unreadable;
    const auto tooLarge = [problem] {
        *problem = "is larger than " + std::to_string(kMostAccountBytes >> 20) +
                   " MiB, more than any sub-band's limit leaves in an hour";
        return AccountFile::Unreadable;
    };
    const uintmax_t size = std::filesystem::file_size(path, error);
    if (!error && size > kMostAccountBytes) return tooLarge();
    std::ifstream in(path, std::ios::binary);
    if (!in) return *problem = "cannot be opened", AccountFile::Unreadable;
    // at most one byte past the bound: a file that grew since is refused too
    text->clear();
    char chunk[65536];
    while (text->size() <= kMostAccountBytes && in.read(chunk, sizeof chunk).gcount() > 0)
        text->append(chunk, static_cast<size_t>(in.gcount()));
    if (text->size() > kMostAccountBytes) return text->clear(), tooLarge();
    if (in.bad()) return *problem = "cannot be read", AccountFile::Unreadable;
    return AccountFile::Read;
}

std::string dutyStateDirectory() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && std::filesystem::path(state).is_absolute()) return std::string(state) + "/verdanox";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') return std::string(home) + "/.local/state/verdanox";
    return "";
}

std::string dutyStateFile(const std::string& directory, const std::string& key) {
    std::string name = "duty-" + key.substr(0, 120);
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_') c = '_';
    return directory + "/" + name;
}

double telegramsPerHour(const Rig& rig, size_t table, double intervalOverride) {
    const size_t meters = rig.meterCount();
    if (meters == 0) return 0;
    const double interval = intervalOverride > 0 ? intervalOverride : rig.interval;
    if (rig.schedule == ScheduleMode::Turns) return 3600 / interval / static_cast<double>(meters);
    double asked = 0;  // a second, all meters
    for (size_t t = 0; t < rig.meters.size(); ++t)
        asked += rig.meters[t].count / (intervalOverride > 0 ? intervalOverride : meterIntervalOf(rig, t, interval));
    const double share = rig.gap > 0 ? std::min(1.0, 1 / rig.gap / asked) : 1;
    return 3600 / (intervalOverride > 0 ? intervalOverride : meterIntervalOf(rig, table, interval)) * share;
}

std::string dutyCycleLine(const SubBand& band, const std::string& modes, double askedPercent, const DutyCycle& d,
                          int64_t usedUs) {
    const double limit = d.limitPercent(band);
    std::string line = bandName(band) + " (" + modes + "): the meters ask for " + decimal(askedPercent) +
                       " % of the time on air (" + decimal(askedPercent * 36) + " s an hour), ";
    line += limit == band.percent ? "the band allows " + decimal(limit) + " % (" + decimal(limit * 36) + " s)"
                                  : "--duty-cycle allows " + decimal(limit) + " % (" + decimal(limit * 36) +
                                        " s), the band " + decimal(band.percent) + " %";
    line += ", " + decimal(static_cast<double>(usedUs) / 1e6) + " s of it used in the last hour";
    return line + (askedPercent > limit ? ": telegrams past it are held back" : "");
}

}  // namespace vdx
