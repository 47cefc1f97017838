// verdanox-send through a transmit-capable SDR: each telegram modulated in
// its meter's radio mode and written to the device's transmit stream as
// one burst at its channel, timed on the stream's clock where the device
// has one; held back where the sub-band's duty cycle would be exceeded; a
// device that fails is reported, let go and opened again, as a lost stick.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sdr/tx_device.h"
#include "session/duty_cycle.h"
#include "session/send_path.h"

namespace vdx {

struct SdrSettings {
    TxRequest request;               // the device, its rate, gain, correction, antenna
    RadioMode mode = RadioMode::T1;  // of meters whose rig names none
    FrameFormat format = FrameFormat::A;
    double dutyPercent = 0;  // --duty-cycle; 0: each sub-band's own limit
    bool dutyOverride = false;
    // The wall clock in microseconds since 1970, for the duty-cycle account
    // kept between runs (empty: the system's).
    std::function<int64_t()> wallUs;
};

class SdrPath : public SendPath {
public:
    SdrPath(const SdrSettings& settings, TxOpener opener);
    ~SdrPath() override;

    // Takes the rig's meters: each one's mode, the stream's centre between
    // their channels, the sample rate they need, the sub-band of each mode
    // and what the meters ask of it. In "each" the rig's gap is raised to
    // the longest burst and kBusyToleranceUs, so that the schedule, not the
    // busy transmitter, chooses who sends (gapLine() says so). False with
    // the reason: a channel in no sub-band, channels too far apart for one
    // stream, a --sdr-rate too low, a --duty-cycle above every sub-band's
    // limit without the override.
    bool plan(Rig& rig, double intervalOverride, std::string* why);
    // After plan(), where it raised the gap: "the gap of 0.001 s leaves no
    // room for the longest burst, 17.6 ms: telegrams go at least 23 ms
    // apart on the SDR"; else empty.
    const std::string& gapLine() const { return gapLine_; }
    // After open(): what the device was set to, a line per sub-band with
    // what earlier runs used of it, what cannot leave on time, and the
    // warnings.
    std::vector<std::string> startLines() const;

    bool open(std::string* why) override;
    void finish() override;
    uint64_t leadMs() const override { return streamTime_ ? kLeadMs : 0; }
    void waitUntil(uint64_t deadlineMs, const volatile std::sig_atomic_t& stop) override;
    SendResult send(RigRun::Planned& p, uint64_t dueMs) override;

    // A timed burst is handed over this long before its time, and never
    // given a time less than kLeastAheadMs ahead of the stream's clock.
    static constexpr uint64_t kLeadMs = 100;
    static constexpr uint64_t kLeastAheadMs = 5;
    // The stream's clock is read against the platform's (whole milliseconds)
    // once, so that bursts keep the schedule's spacing to the nanosecond, and
    // again when the two have drifted apart by more than this.
    static constexpr int64_t kMostDriftNs = 2000000;
    // A burst leaves at most this late behind its schedule, after the one
    // before it and a millisecond's gap; a telegram that would leave later
    // (the transmitter still sending) is skipped.
    static constexpr int64_t kBusyToleranceUs = 5000;
    // The duty-cycle account is saved after a burst at most this often, and
    // at the end of the run.
    static constexpr uint64_t kSaveEveryMs = 1000;
    // The last save waits at most this long for another run's to end (it
    // takes a few milliseconds), then goes ahead; a lock older than
    // kStaleLockMs was left by a run killed while saving.
    static constexpr uint64_t kLockMs = 500;
    static constexpr uint64_t kStaleLockMs = 10000;

private:
    RadioMode modeOf(int meter) const;
    void planDuty(Rig& rig, double intervalOverride, const bool used[7]);
    bool start(std::unique_ptr<TxDevice> device, std::string* why);
    bool transmit(RigRun::Planned& p, const std::vector<uint8_t>& chips, uint64_t dueMs, std::string* why);
    void lose(const std::string& why);
    SendResult sendBurst(RigRun::Planned& p, const std::vector<uint8_t>& chips, RadioMode mode, uint64_t dueMs);
    void loadAccount();
    void saveAccount(bool atEnd = false);
    static bool takeLock(const std::filesystem::path& lock);
    void saveLocked();
    int64_t wallOffsetUs() const;
    void mergeAccount();

    SdrSettings s_;
    TxOpener opener_;
    std::unique_ptr<TxDevice> device_;
    std::unique_ptr<IqModulator> modulator_;
    std::vector<uint8_t> buffer_;
    std::vector<RadioMode> modes_;  // per meter table
    std::unique_ptr<MeterIndex> index_;
    const SubBand* bands_[7] = {};  // per radio mode used
    double reachHz_ = 0;            // the farthest a mode's signal reaches from the centre
    struct BandAsk {
        const SubBand* band;
        std::string modes;
        double percent;
    };
    std::vector<BandAsk> asked_;
    std::vector<std::string> notes_, warnings_;  // said at the start, after the sub-bands' lines
    std::string gapLine_;
    DutyCycle duty_;
    std::string accountFile_, accountLine_;  // where the account is kept; what was wrong with it
    bool accountRead_ = false, accountUnwritable_ = false, saved_ = false, unsaved_ = false;
    uint64_t savedMs_ = 0;  // the account was last saved
    // the wall clock against the platform's, taken once when the account is
    // read, so that this run's bursts read back from the file are the same
    int64_t offsetUs_ = 0;
    int64_t freeUs_ = 0;  // on the platform clock, when the transmitter is free again
    bool streamTime_ = false, lost_ = false;
    // the stream's clock against the platform's, taken anew where they drift apart
    int64_t anchorNs_ = 0;
    uint64_t anchorMs_ = 0;
    int64_t freeNs_ = 0;  // when the last burst given a time leaves the air; 0: none yet
    std::string scaleLine_;
};

}  // namespace vdx
