// verdanox-frames' radio outputs: a telegram as the frame on the air, with
// the CRC blocks of frame format A or B (and the bad-crc fault), and as I/Q
// samples of that frame in mode T1 or C1.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "sdr/chips.h"
#include "sdr/modulator.h"
#include "telegram/send_cycle.h"

namespace vdx {

// The radio frame of `t` with its CRCs in `format`; for a bad-crc telegram
// the high byte of the first CRC inverted.
std::vector<uint8_t> airFrame(const SentTelegram& t, FrameFormat format);

struct IqSettings {
    IqOptions modem;
    RadioMode mode = RadioMode::T1;
    FrameFormat format = FrameFormat::A;
    std::string path;  // "-": standard output
    double gapMs = 5;  // before, between and after the telegrams
};

// Writes the capture: a gap, then each telegram's burst and a gap.
class IqFile {
public:
    // False with the reason when the file cannot be written.
    bool open(const IqSettings& settings, std::string* error);
    // The telegram's burst and the gap after it; its first and last sample.
    bool add(const SentTelegram& t, uint64_t* first, uint64_t* last);
    // Flushes and closes; false when writing failed.
    bool close();

private:
    IqSettings s_;
    FILE* file_ = nullptr;
    bool failed_ = false;
    std::unique_ptr<IqModulator> modulator_;
};

}  // namespace vdx
