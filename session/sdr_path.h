// verdanox-send through a transmit-capable SDR: each telegram modulated in
// its meter's radio mode and written to the device's transmit stream as
// one burst at its channel, timed on the stream's clock where the device
// has one; held back where the sub-band's duty cycle would be exceeded; a
// device that fails is reported, let go and opened again, as a lost stick.
#pragma once

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
};

class SdrPath : public SendPath {
public:
    SdrPath(const SdrSettings& settings, TxOpener opener);
    ~SdrPath() override;

    // Takes the rig's meters: each one's mode, the stream's centre between
    // their channels, the sample rate they need, the sub-band of each mode
    // and what the meters ask of it. False with the reason: a channel in no
    // sub-band, a --sdr-rate too low, a --duty-cycle above a sub-band's
    // limit without the override.
    bool plan(const Rig& rig, double intervalOverride, std::string* why);
    // After open(): what the device was set to, a line per sub-band, and
    // the override's warning.
    std::vector<std::string> startLines() const;

    bool open(std::string* why) override;
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

private:
    RadioMode modeOf(int meter) const;
    void planDuty(const Rig& rig, double intervalOverride, const bool used[7]);
    bool start(std::unique_ptr<TxDevice> device, std::string* why);
    bool transmit(RigRun::Planned& p, const std::vector<uint8_t>& chips, uint64_t dueMs, std::string* why);
    void lose(const std::string& why);

    SdrSettings s_;
    TxOpener opener_;
    std::unique_ptr<TxDevice> device_;
    std::unique_ptr<IqModulator> modulator_;
    std::vector<uint8_t> buffer_;
    std::vector<RadioMode> modes_;  // per meter table
    std::unique_ptr<MeterIndex> index_;
    const SubBand* bands_[7] = {};  // per radio mode used
    double reachHz_ = 0;            // the farthest a mode's signal reaches from the centre
    std::vector<std::string> dutyLines_;
    DutyCycle duty_;
    bool streamTime_ = false, lost_ = false;
    // the stream's clock against the platform's, taken anew where they drift apart
    int64_t anchorNs_ = 0;
    uint64_t anchorMs_ = 0;
    int64_t freeNs_ = 0;  // when the last burst given a time leaves the air; 0: none yet
};

}  // namespace vdx
