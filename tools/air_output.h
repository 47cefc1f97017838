// verdanox-frames' radio outputs: a telegram as the frame on the air, with
// the CRC blocks of frame format A or B (and the bad-crc fault), and as I/Q
// samples of that frame in its meter's radio mode, in one capture or in one
// capture per telegram named as rtl_433 names its test files.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "sdr/modulator.h"
#include "session/air_burst.h"
#include "telegram/send_cycle.h"

namespace vdx {

struct IqSettings {
    IqOptions modem;
    RadioMode mode = RadioMode::T1;  // of meters that do not name their own
    FrameFormat format = FrameFormat::A;
    std::string path;         // "-": standard output
    std::string dir;          // or one capture per telegram in this folder
    double gapMs = 5;         // before, between and after the telegrams
    double centreHz = 0;      // of the capture; 0: the channel of `mode`
    double freqOffsetHz = 0;  // every carrier's error
};

// The capture's centre frequency.
double captureCentre(const IqSettings& s);
// Where a burst of `mode` lies from the capture's centre.
double burstOffset(const IqSettings& s, RadioMode mode);
// Why telegrams of `mode` cannot go into the capture (a channel that does
// not fit in the sampled band, with the numbers); empty when they can.
std::string captureProblem(const IqSettings& s, RadioMode mode);
// The frame format a meter of `mode` sends when `asked` is: A where the
// mode has no format B.
FrameFormat sentFormat(RadioMode mode, FrameFormat asked);
// A telegram's place in the capture and how it was sent, as one JSON
// object: "radio", "channel_hz" (the channel's nominal centre),
// "centre_hz", "sample_rate", "first_sample", "last_sample", "file" (with a
// folder), "frame_format" ("a" or "b", as sent), "iq_format", "snr_db"
// (null: no noise) and "seed" (with noise), "freq_offset_hz" (the carrier
// from its channel), "clock_ppm" and "air_frame" (the frame with its CRCs,
// as sent, hexadecimal).
std::string captureJson(const IqSettings& s, RadioMode mode, const SentTelegram& t, uint64_t first, uint64_t last,
                        const std::string& file);
// "g007_868.95M_1200k.cu8": telegram `number` (from 1) as rtl_433 names a
// capture, with the centre, the sample rate and the format; `extension`
// replaces the format's (".json").
std::string captureName(const IqSettings& s, uint64_t number, const char* extension = nullptr);

// Writes the capture: a gap, then each telegram's burst and a gap; with a
// folder, a file per telegram, each a gap, the burst and a gap.
class IqFile {
public:
    // False with the reason when the file cannot be written, or when the
    // folder already holds a capture named as these are (g001_...): files
    // of another run would mix with these, each beside a record that does
    // not describe it.
    bool open(const IqSettings& settings, std::string* error);
    // The telegram's burst in `mode` and the gap after it; its first and
    // last sample in its file, and with a folder the file's name. A file of
    // the folder that could not be written whole is removed.
    bool add(const SentTelegram& t, RadioMode mode, uint64_t* first, uint64_t* last, std::string* file,
             std::string* error);
    // Flushes and closes; false with the reason when writing failed.
    bool close(std::string* error);

private:
    bool openFile(const std::string& path, std::string* error);
    bool closeFile(std::string* error);

    IqSettings s_;
    FILE* file_ = nullptr;
    std::string path_;   // of the file being written
    std::string error_;  // why writing failed
    uint64_t fileStart_ = 0, count_ = 0;
    std::unique_ptr<IqWriter> writer_;
};

// Writes `text` to `path`; false with the reason, and no file left.
bool writeTextFile(const std::string& path, const std::string& text, std::string* error);

}  // namespace vdx
