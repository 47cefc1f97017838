#include "session/sdr_path.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>

#include "link/platform.h"
#include "session/air_burst.h"
#include "telegram/sim_meter.h"

namespace vdx {
namespace {

std::string num(double v, const char* format = "%g") {
    char text[48];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

constexpr size_t kAirTables = 4096;

// Milliseconds on the air of the telegrams of table `i`'s meters in their
// mode (its first meter's first, without faults).
double meterAirMs(const Rig& rig, size_t i, RadioMode mode, FrameFormat format) {
    SimMeter copy = rig.meters[i];
    SentTelegram t;
    buildMeterTelegram(copy, static_cast<int>(i), rig.start, &t);
    return airMs(telegramChips(t, mode, format).size(), mode);
}

}  // namespace

SdrPath::SdrPath(const SdrSettings& settings, TxOpener opener) : s_(settings), opener_(std::move(opener)) {}
SdrPath::~SdrPath() = default;

bool SdrPath::plan(Rig& rig, double intervalOverride, std::string* why) {
    duty_ = DutyCycle(s_.dutyPercent, s_.dutyOverride);
    if (rig.meters.empty()) return *why = "no meter to send for", false;
    index_ = std::make_unique<MeterIndex>(rig);
    modes_.resize(rig.meters.size());
    bool used[7] = {};
    double low = INFINITY, high = -INFINITY;
    for (size_t i = 0; i < rig.meters.size(); ++i) {
        modes_[i] = i < rig.meterRadio.size() && rig.meterRadio[i] ? *rig.meterRadio[i] : s_.mode;
        used[static_cast<int>(modes_[i])] = true;
        for (const FaultRule& r : rig.meters[i].faults)
            if (r.kind == FaultKind::BadThreeOfSix && radioMode(modes_[i]).coding != Coding::ThreeOutOfSix)
                return *why = "meter table " + std::to_string(i + 1) + ": bad-3of6 needs mode t1 (mode " +
                              radioMode(modes_[i]).label + " has no 3-out-of-6 code)",
                       false;
        low = std::min(low, radioMode(modes_[i]).channelHz), high = std::max(high, radioMode(modes_[i]).channelHz);
    }
    const double centre = (low + high) / 2;
    double need = 0, chipRate = 0;
    const SubBand* loosest = nullptr;  // the used sub-band with the highest limit
    for (const RadioModeInfo& m : kRadioModes) {
        if (!used[static_cast<int>(m.mode)]) continue;
        if (s_.format == FrameFormat::B && m.syncB == 0)
            return *why = std::string("mode ") + m.label + " sends frame format A only", false;
        const double reach = bandReachHz(m, m.channelHz - centre), half = m.deviationHz + m.chipRate / 2.0;
        reachHz_ = std::max(reachHz_, reach), need = std::max(need, sampleRateNeed(reach, m.chipRate));
        chipRate = std::max<double>(chipRate, m.chipRate);
        const SubBand* band = bands_[static_cast<int>(m.mode)] = subBandOf(m.channelHz - half, m.channelHz + half);
        if (band == nullptr)
            return *why = std::string("mode ") + m.label + " at " + num(m.channelHz / 1e6) +
                          " MHz lies in no sub-band of the duty-cycle table",
                   false;
        if (loosest == nullptr || band->percent > loosest->percent) loosest = band;
    }
    // a lower --duty-cycle applies to the sub-bands whose limit it is below;
    // one that lowers none only raises, which takes the override
    if (s_.dutyPercent > loosest->percent && !s_.dutyOverride)
        return *why = "--duty-cycle " + num(s_.dutyPercent) + " is above the " + num(loosest->percent) + " % that " +
                      bandName(*loosest) + " allows: only with --duty-cycle-override",
               false;
    if (need > kMostSampleRateHz)
        return *why = "the meters' channels lie " + num((high - low) / 1e6) + " MHz apart (" + num(low / 1e6) + " to " +
                      num(high / 1e6) + " MHz): one stream would need " + num(need / 1e6, "%.6g") +
                      " MHz of sample rate, at most " + num(kMostSampleRateHz / 1e6) +
                      " MHz is used; send them in separate runs",
               false;
    if (s_.request.rateHz > 0 && s_.request.rateHz <= 2 * reachHz_)
        return *why = "--sdr-rate " + num(s_.request.rateHz, "%.0f") + " is too low: the meters' signals reach " +
                      num(reachHz_, "%.0f") + " Hz from the centre, " + num(centre / 1e6) +
                      " MHz (|offset| + deviation + chip rate / 2), which must stay below half the sample rate",
               false;
    notes_.clear(), warnings_.clear();
    if (s_.request.rateHz > 0 && s_.request.rateHz < 8 * chipRate)
        warnings_.push_back("warning: --sdr-rate " + num(s_.request.rateHz, "%.0f") + " gives " +
                            num(s_.request.rateHz / chipRate, "%.3g") +
                            " samples a chip at the meters' fastest chip rate (" + num(chipRate, "%.0f") +
                            " chips a second): receivers' decoders need several, the default rate gives at least 8");
    s_.request.centreHz = centre, s_.request.needHz = need;

    planDuty(rig, intervalOverride, used);
    return true;
}

// The gap the longest burst needs in "each"; in "turns" a word where a
// burst outlasts the interval. What the meters ask of each sub-band (the
// air time per security mode and radio mode), and the override's warnings
// for the sub-bands it raises.
void SdrPath::planDuty(Rig& rig, double intervalOverride, const bool used[7]) {
    // each table's air time from one telegram of its first meter; past
    // kAirTables tables of one radio mode (a listed rig of a million
    // meters) the mean of those of its mode, so that a mode first met late
    // in the rig is measured all the same
    std::vector<double> air(rig.meters.size());
    double airSum[7] = {}, longest = 0;
    size_t measured[7] = {};
    for (size_t i = 0; i < rig.meters.size(); ++i) {
        const int m = static_cast<int>(modes_[i]);
        air[i] = measured[m] < kAirTables ? meterAirMs(rig, i, modes_[i], s_.format) : airSum[m] / kAirTables;
        if (measured[m] < kAirTables) airSum[m] += air[i], ++measured[m];
        longest = std::max(longest, air[i]);
    }
    // the transmitter sends one burst at a time: where the schedule let two
    // meters' telegrams follow closer than a burst, the second would be
    // skipped as busy at the same place in every round, and a meter could
    // never reach the air; in "each" the gap keeps them apart instead, and
    // the schedule chooses the meter that waited longest
    gapLine_.clear();
    const double leastGapMs = std::ceil(longest - 1e-9) + kBusyToleranceUs / 1000.0;
    if (rig.schedule == ScheduleMode::Each && std::llround(rig.gap * 1000) < leastGapMs) {
        gapLine_ = "the gap of " + num(rig.gap) + " s leaves no room for the longest burst, " + num(longest, "%.3g") +
                   " ms on the air: telegrams go at least " + num(leastGapMs) + " ms apart on the SDR (the burst and " +
                   num(kBusyToleranceUs / 1000.0) + " ms)";
        rig.gap = leastGapMs / 1000;
    }
    const double spacing = intervalOverride > 0 ? intervalOverride : rig.interval;
    if (rig.schedule == ScheduleMode::Turns && longest > spacing * 1000)
        notes_.push_back("a burst of " + num(longest, "%.3g") + " ms is longer than the " + num(spacing) +
                         " s between telegrams, and one transmitter sends one burst at a time: a telegram whose "
                         "burst cannot leave within " +
                         num(kBusyToleranceUs / 1000.0) +
                         " ms of its time, the transmitter still sending the one before, is skipped");
    std::map<const SubBand*, double> asked;
    for (size_t i = 0; i < rig.meters.size(); ++i)
        asked[bands_[static_cast<int>(modes_[i])]] +=
            rig.meters[i].count * telegramsPerHour(rig, i, intervalOverride) * air[i] / 36000;
    asked_.clear();
    for (size_t b = 0; b < kSubBandCount; ++b) {
        const SubBand& band = kSubBands[b];
        if (asked.count(&band) == 0) continue;
        std::string modes;
        for (const RadioModeInfo& m : kRadioModes)
            if (used[static_cast<int>(m.mode)] && bands_[static_cast<int>(m.mode)] == &band)
                modes += (modes.empty() ? "" : ", ") + std::string(m.label);
        asked_.push_back({&band, modes, asked[&band]});
        if (duty_.limitPercent(band) > band.percent)
            warnings_.push_back("warning: --duty-cycle-override: " + num(duty_.limitPercent(band)) + " % in " +
                                bandName(band) + ", where ETSI EN 300 220 allows " + num(band.percent) +
                                " %: transmit only into a cable with attenuation or a shielded box");
    }
}

std::vector<std::string> SdrPath::startLines() const {
    std::vector<std::string> lines;
    if (device_ != nullptr) {
        const TxSetup& d = device_->setup();
        const bool native = d.nativeFormat == (d.format == IqFormat::Cs16  ? "CS16"
                                               : d.format == IqFormat::Cs8 ? "CS8"
                                                                           : "CF32");
        lines.push_back(
            "SDR " + d.device + " (" + s_.request.args + "): " + num(d.centreHz / 1e6) + " MHz" +
            (d.ppmByTuning ? " (tuned " + num(s_.request.ppm) + " ppm off for the correction)" : "") + ", " +
            num(d.rateHz / 1e6) + " MHz sample rate, gain " + num(d.gainDb) + " dB (" + num(d.gainMinDb) + " to " +
            num(d.gainMaxDb) + "), antenna " + (d.antenna.empty() ? "-" : d.antenna) + ", " +
            (native ? "native " : "") +
            (d.format == IqFormat::Cs16  ? "CS16"
             : d.format == IqFormat::Cs8 ? "CS8"
                                         : "CF32") +
            " samples" + (native ? "" : " (which the device takes besides its native " + d.nativeFormat + ")") +
            ", bursts on the " + (d.streamTime ? "stream's clock" : "host's clock (the device has no stream time)"));
    }
    if (!scaleLine_.empty()) lines.push_back(scaleLine_);
    if (!accountLine_.empty()) lines.push_back(accountLine_);
    DutyCycle account = duty_;
    const int64_t nowUs = static_cast<int64_t>(linkPlatform().monotonicMs()) * 1000;
    for (const BandAsk& a : asked_)
        lines.push_back("duty cycle in " +
                        dutyCycleLine(*a.band, a.modes, a.percent, duty_, account.usedUs(*a.band, nowUs)));
    lines.insert(lines.end(), notes_.begin(), notes_.end());
    lines.insert(lines.end(), warnings_.begin(), warnings_.end());
    return lines;
}

int64_t SdrPath::wallOffsetUs() const {
    const int64_t wall =
        s_.wallUs
            ? s_.wallUs()
            : std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
                  .count();
    return wall - static_cast<int64_t>(linkPlatform().monotonicMs()) * 1000;
}

// The transmitter's account of earlier runs, from its file: a missing file
// is an empty account, one that cannot be read is said and taken as empty,
// bursts that start in the future are said and left out.
void SdrPath::loadAccount() {
    accountRead_ = true;
    const std::string directory = dutyStateDirectory();
    if (directory.empty()) {
        accountLine_ = "the duty-cycle account covers only this run: neither $XDG_STATE_HOME nor $HOME is set";
        return;
    }
    const std::string& key = device_->setup().key;
    accountFile_ = dutyStateFile(directory, key.empty() ? s_.request.args : key);
    offsetUs_ = wallOffsetUs();
    std::string text, problem;
    const AccountFile read = readAccountFile(accountFile_, &text, &problem);
    if (read == AccountFile::Missing) return;
    size_t bad = 0, future = 0;
    const int64_t nowUs = static_cast<int64_t>(linkPlatform().monotonicMs()) * 1000;
    if (read == AccountFile::Read && !duty_.load(text, nowUs, offsetUs_, &bad, &future))
        problem = "cannot be read (line " + std::to_string(bad) + ")";
    if (!problem.empty())
        accountLine_ =
            "the duty-cycle account " + accountFile_ + " " + problem + ": it is taken as empty and written anew";
    else if (future > 0)
        accountLine_ = "the duty-cycle account " + accountFile_ + " holds " + std::to_string(future) +
                       (future == 1 ? " burst that starts" : " bursts that start") +
                       " after now (the clock was set back since?): left out";
}

// Another run on the same transmitter may have saved bursts since: they
// join this run's account (a burst both hold counted once), so that
// neither run's time on air is lost and each sees the other's.
void SdrPath::mergeAccount() {
    std::string text, problem;
    if (readAccountFile(accountFile_, &text, &problem) != AccountFile::Read) return;
    duty_.merge(text, static_cast<int64_t>(linkPlatform().monotonicMs()) * 1000, offsetUs_);
}

// Written to a file of its own and renamed over the account, so that a run
// stopped while it writes leaves the old account whole. Two runs saving at
// one moment take turns: a directory beside the account is made by one of
// them only (on every file system, Windows too), and only the run that made
// it removes it. During the run a save never waits for the lock (the
// bursts would leave late): it is tried again at the next save; at the end
// the run waits up to kLockMs, then saves without it rather than lose its
// time on air. A lock older than kStaleLockMs was left by a run that was
// killed while saving (a save takes milliseconds) and is taken over.
void SdrPath::saveAccount(bool atEnd) {
    if (accountFile_.empty() || accountUnwritable_) return;
    const std::filesystem::path lock = accountFile_ + ".lock";
    std::error_code error;
    std::filesystem::create_directories(lock.parent_path(), error);
    bool mine = takeLock(lock);
    for (uint64_t waited = 0; !mine && atEnd && waited < kLockMs; waited += 5)
        linkPlatform().sleepMs(5), mine = takeLock(lock);
    if (!mine && !atEnd) {
        savedMs_ = linkPlatform().monotonicMs(), saved_ = true;  // again after kSaveEveryMs
        return;
    }
    saveLocked();
    if (mine) std::filesystem::remove(lock, error);
}

bool SdrPath::takeLock(const std::filesystem::path& lock) {
    std::error_code error;
    if (std::filesystem::create_directory(lock, error)) return true;
    if (!std::filesystem::is_directory(lock, error)) return false;  // a file of that name is not ours to remove
    const auto age = std::filesystem::file_time_type::clock::now() - std::filesystem::last_write_time(lock, error);
    if (error || age < std::chrono::milliseconds(kStaleLockMs)) return false;
    std::filesystem::remove(lock, error);  // empty, as a run leaves it
    return std::filesystem::create_directory(lock, error);
}

void SdrPath::saveLocked() {
    mergeAccount();
    const uint64_t nowMs = linkPlatform().monotonicMs();
    savedMs_ = nowMs, saved_ = true, unsaved_ = false;
    const std::string text = duty_.save(static_cast<int64_t>(nowMs) * 1000, offsetUs_);
    // a name of this run's own: two runs on one device must not write one
    // temporary file together (the last to finish then holds the account)
    const std::string temporary = accountFile_ + ".new" + std::to_string(std::random_device{}() & 0xFFFFFF);
    std::FILE* f = std::fopen(temporary.c_str(), "wb");
    bool ok = f != nullptr && std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = (f != nullptr && std::fclose(f) == 0) && ok;
    std::error_code renamed;
    if (ok) std::filesystem::rename(temporary, accountFile_, renamed);  // replaces the old account, on Windows too
    ok = ok && !renamed;
    if (ok) return;
    std::remove(temporary.c_str());
    accountUnwritable_ = true;
    if (tell)
        tell("the duty-cycle account cannot be written to " + accountFile_ +
             ": later runs do not see this run's time on air");
}

void SdrPath::finish() {
    if (unsaved_) saveAccount(true);
}

bool SdrPath::start(std::unique_ptr<TxDevice> device, std::string* why) {
    if (device == nullptr) return false;
    const TxSetup& d = device->setup();
    if (2 * reachHz_ >= d.rateHz)
        return *why = "the SDR runs at " + num(d.rateHz, "%.0f") + " Hz, too slow for signals that reach " +
                      num(reachHz_, "%.0f") + " Hz from the centre",
               false;
    IqOptions o;
    o.sampleRate = static_cast<uint32_t>(std::llround(d.rateHz));
    o.format = d.format;
    o.fullScale = usableFullScale(d.format, d.fullScale);
    if (d.fullScale != 0 && o.fullScale != d.fullScale && scaleLine_.empty())
        scaleLine_ = "the SDR gives its stream a full scale of " + num(d.fullScale) +
                     ", outside what its samples hold: " + num(o.fullScale) + " is used";
    modulator_ = std::make_unique<IqModulator>(o);
    streamTime_ = d.streamTime;
    anchorMs_ = 0, freeNs_ = 0;  // a device opened again has a clock of its own
    device_ = std::move(device);
    if (!accountRead_) loadAccount();
    return true;
}

bool SdrPath::open(std::string* why) { return start(opener_(s_.request, false, why), why); }

void SdrPath::waitUntil(uint64_t deadlineMs, const volatile std::sig_atomic_t& stop) {
    LinkPlatform& platform = linkPlatform();
    for (uint64_t now = platform.monotonicMs(); !stop && now < deadlineMs; now = platform.monotonicMs())
        platform.sleepMs(static_cast<uint32_t>(std::min<uint64_t>(deadlineMs - now, 100)));
}

RadioMode SdrPath::modeOf(int meter) const {
    size_t table = 0;
    uint32_t index = 0;
    index_->locate(static_cast<size_t>(meter), &table, &index);
    return modes_[table];
}

bool SdrPath::transmit(RigRun::Planned& p, const std::vector<uint8_t>& chips, uint64_t dueMs, std::string* why) {
    const RadioModeInfo& m = radioMode(modeOf(p.telegram.meter));
    int64_t timeNs = 0;
    if (streamTime_) {  // the time the stream's clock will show when the burst is due
        const uint64_t nowMs = linkPlatform().monotonicMs();
        const int64_t nowNs = device_->streamTimeNs();
        const auto on = [&](int64_t anchorNs, uint64_t anchorMs) {
            return anchorNs + (static_cast<int64_t>(dueMs) - static_cast<int64_t>(anchorMs)) * 1000000;
        };
        if (anchorMs_ == 0 || std::llabs(on(anchorNs_, anchorMs_) - on(nowNs, nowMs)) > kMostDriftNs)
            anchorNs_ = nowNs, anchorMs_ = nowMs;
        timeNs = std::max(on(anchorNs_, anchorMs_), nowNs + static_cast<int64_t>(kLeastAheadMs) * 1000000);
        // never before the last burst has left (send() skips a telegram
        // that would leave more than kBusyToleranceUs late)
        if (freeNs_ != 0) timeNs = std::max(timeNs, freeNs_ + 1000000);  // a millisecond between them
        freeNs_ = timeNs + std::llround(p.air.airMs * 1e6);
        p.air.streamNs = timeNs;
    }
    p.air.clock = streamTime_ ? AirFacts::Clock::Stream : AirFacts::Clock::Host;
    return transmitBurst(*device_, *modulator_, chips, burstShape(m, m.channelHz - s_.request.centreHz), streamTime_,
                         timeNs, &buffer_, why);
}

void SdrPath::lose(const std::string& why) {
    device_.reset();
    if (lost_) return;
    lost_ = true;
    if (tell) tell("SDR " + s_.request.args + " not responding (" + why + "): telegrams are not being sent");
}

SendResult SdrPath::send(RigRun::Planned& p, uint64_t dueMs) {
    const RadioMode mode = modeOf(p.telegram.meter);
    const std::vector<uint8_t> chips = telegramChips(p.telegram, mode, s_.format);
    p.air.radio = radioMode(mode).name;
    p.air.channelHz = radioMode(mode).channelHz;
    p.air.airMs = airMs(chips.size(), mode);
    const SendResult result = sendBurst(p, chips, mode, dueMs);
    // the record's time is the burst's on the air, not its hand-over
    p.air.leadMs = static_cast<int64_t>(dueMs) - static_cast<int64_t>(linkPlatform().monotonicMs());
    return result;
}

SendResult SdrPath::sendBurst(RigRun::Planned& p, const std::vector<uint8_t>& chips, RadioMode mode, uint64_t dueMs) {
    const SubBand& band = *bands_[static_cast<int>(mode)];
    int64_t startUs = static_cast<int64_t>(dueMs) * 1000;
    const int64_t airUs = std::llround(p.air.airMs * 1000);
    // the transmitter sends one burst at a time: a telegram that cannot
    // leave on time is skipped, as a meter whose radio is busy skips it
    if (startUs + kBusyToleranceUs < freeUs_) return p.air.busy = true, SendResult::Busy;
    if (!duty_.allows(band, startUs, airUs)) return p.air.held = true, SendResult::Held;
    std::string why;
    if (device_ == nullptr && !start(opener_(s_.request, true, &why), &why)) return SendResult::NotSent;
    startUs = std::max(startUs, freeUs_);
    duty_.add(band, startUs, airUs);  // a burst that fails may have gone out in part
    freeUs_ = startUs + airUs + 1000, unsaved_ = true;
    const bool sent = transmit(p, chips, dueMs, &why);
    if (!saved_ || linkPlatform().monotonicMs() >= savedMs_ + kSaveEveryMs) saveAccount();
    if (!sent) return lose("the transmit stream failed: " + why), SendResult::NotSent;
    if (lost_ && tell) tell("SDR " + s_.request.args + " is back: telegrams are being sent again");
    lost_ = false;
    p.telegram.delivered = true;
    return SendResult::Sent;
}

}  // namespace vdx
