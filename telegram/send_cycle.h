// Start, Stop and one tick of the five-second send cycle, independent of the
// window that hosts the timer and of the transport behind the frame writer.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "telegram/faults.h"
#include "telegram/frames.h"
#include "telegram/meter.h"
#include "telegram/profile.h"
#include "telegram/readings.h"

namespace vdx {

// Writes one complete stick frame; 1 on success, 0 on failure. The cycle does
// not look at the result.
using FrameWriter = std::function<int(const uint8_t* frame)>;
// Shows `text` in the count field of meter `meter`.
using CountDisplay = std::function<void(int meter, const char* text)>;

// What one tick sent, for front ends that report every telegram: the facts
// the builders used, so that nobody has to read them back from the bytes.
struct SentTelegram {
    int meter = 0;
    Security security = Security::None;
    bool delivered = false;       // both frames written whole
    uint8_t accessNumber = 0;     // the telegram's access number
    uint32_t messageCounter = 0;  // its message counter (mode 7)
    uint8_t addressFrame[kAddressFrameSize] = {};
    uint8_t telegramFrame[kMaxTelegramFrameSize] = {};  // stickFrameSize() bytes used
    Readings readings = fixedReadings();                // what the window's gas block says
    FaultKind fault = FaultKind::None;
    uint64_t faultSeed = 0;                  // fuzz: the seed of the mutations
    uint8_t block[kMaxBlockSize + 16] = {};  // the application block before it was secured
    size_t blockSize = kPayloadSize;
    HeaderForm header = HeaderForm::Long;  // the transport header's form
    uint8_t status = 0;                    // its status byte (none without a header)
    bool gasReadings = true;               // `readings` describes the block (the window's gas layout)
    int64_t meterTime = 0;
    std::vector<RecordReading> records;      // what each data record says (rig meters)
    bool compact = false;                    // a compact frame (EN 13757-3)
    bool formatKnown = false;                // `signature` was computed (rig meters)
    uint16_t signature = 0;                  // the format signature it announces or carries
    bool viaConverter = false;               // the address frame holds a radio converter's address
    uint8_t meterAddress[8] = {};            // ... and this the meter's own (M, ID, version, type)
    uint32_t sessionNumber = 0;              // ell-ctr: the ELL's session number
    bool sessionReused = false;              // ... one the meter sent before (its keystream again)
    uint32_t aflCounter = 0;                 // mode 7: the AFL's counter as sent
    int lengthError = 0;                     // length-mismatch: how far the radio frame's L-field is off
    FaultKind notApplied = FaultKind::None;  // a fault that fell on it and could not apply
};

// Start: every meter's sendCount, accessNumber and messageCounter to 0 and its
// count shown as "0"; then currentMeter = 0 and sending on.
void startSending(const CountDisplay& show);

// Stop: sending off; counters and currentMeter stay.
void stopSending();

// One send tick: with sending on, sends the current meter's
// address frame and its plain or encrypted telegram (meterKeys[currentMeter]),
// shows its count and moves to the next meter. The telegram counts as sent
// only when both frames were written whole; the access number and message
// counter advance either way, so a receiver sees gaps where telegrams were
// lost. True when the telegram went out. With sending off it does nothing
// and returns false. The caller re-arms its timer.
// `sent`, when given, receives what the tick built and whether it went out.
bool sendTick(bool encryptionOn, const uint8_t (*meterKeys)[16], const FrameWriter& write, const CountDisplay& show,
              SentTelegram* sent = nullptr);

}  // namespace vdx
