// One sent telegram as a record of fields, collected once and rendered
// either as the text line or as one JSON object, so the two cannot drift.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "telegram/send_cycle.h"

namespace vdx {

// How an SDR sent a telegram; `radio` stays null where a stick sent it.
struct AirFacts {
    const char* radio = nullptr;  // the mode's name: "t1"
    double channelHz = 0, airMs = 0;
    enum class Clock : uint8_t { None, Stream, Host };
    Clock clock = Clock::None;  // the time its burst was given: on the stream's clock or the host's
    int64_t streamNs = 0;       // the stream time given
    bool held = false;          // held back for the duty cycle
    bool busy = false;          // skipped: the transmitter was still sending the burst before
    int64_t leadMs = 0;         // it was handed over this long before its time on the air
};

// A meter's or a converter's address as the record names it.
struct AddressName {
    std::string manufacturer;  // three letters
    std::string id;            // identification number, 8 digits
    unsigned version = 0, type = 0;
};

struct TelegramRecord {
    std::string time;      // UTC, to the millisecond; empty where nothing was sent
    double offset = -1;    // seconds after the run's start; < 0: not given
    uint64_t skipped = 0;  // the meter's schedule slots skipped since its last telegram
    int meter = 0;
    std::string manufacturer;  // three letters
    std::string id;            // identification number, 8 digits
    unsigned version = 0, type = 0, access = 0;
    Security security = Security::None;
    uint32_t counter = 0;  // mode 7 only
    bool written = false;
    std::string addressFrame, telegramFrame;  // upper-case hexadecimal
    Readings readings;                        // what the window's gas block says
    bool gasReadings = true;                  // `readings` describes the block
    int64_t meterTime = 0;
    HeaderForm header = HeaderForm::Long;
    uint8_t status = 0;                  // the transport header's status byte
    std::vector<RecordReading> records;  // what each data record says
    FaultKind fault = FaultKind::None;
    uint64_t faultSeed = 0;  // fuzz
    std::string block;       // fuzz: the mutated application block, hexadecimal
    bool compact = false;    // a compact frame
    bool formatKnown = false;
    uint16_t signature = 0;  // the format signature (where known)
    bool viaConverter = false;
    AddressName converter;       // the radio converter in the link layer (the fields above: the meter)
    uint32_t sessionNumber = 0;  // ell-ctr
    bool sessionReused = false;  // ... the same as a telegram of the meter before
    uint32_t aflCounter = 0;     // mode 7: the AFL's counter as sent
    int lengthError = 0;         // length-mismatch: the radio frame's L-field this far off
    AirFacts air;
};

// The record of `t`, stamped with `time`.
TelegramRecord telegramRecord(const SentTelegram& t, const std::string& time);

// "2026-12-08T09:30:00.123Z meter 0: VDX 12345670 v01 t03, access 0, mode 7, counter 0, sent"
// (" via VDX 12345678 v01 t37" after the meter behind a converter, ", compact"
// after the mode for a compact frame, ", 3 slots skipped" before "sent"
// where the schedule skipped some; "held for duty cycle" instead of "NOT
// SENT" where an SDR held it back)
std::string textLine(const TelegramRecord& r);
// {"time":...,"meter":0,"manufacturer":"VDX","id":"12345670","version":1,"type":3,"access":0,
//  "counter":0,"mode":"mode 7","written":true,"frames":["01...","44..."],
//  "readings":{"meter_time":...} (else "meter_time":...),"header":"long","status":{"byte":4,"bits":["power-low"]},
//  "records":[{"quantity":"volume","unit":"m3","storage":0,"tariff":0,"subunit":0,
//  "function":"instantaneous","value":123.456},...],"fault":null,"skipped":0}; for fuzz
//  also "fuzz":{"seed":S,"block":"2F2F..."}; "frame":"full"|"compact" with
//  "signature":"0x1A2B" before "records" where the format is known; behind a converter
//  "converter":{"manufacturer":...,"id":...,"version":...,"type":55} (the meter's own
//  address in "manufacturer" ... "type"); for ell-ctr "session":{"number":N,"time":
//  minutes,"counter":C} after "mode", and "session_reused":true where the meter sent that
//  session number before (more than 16 telegrams in one meter minute); "afl_counter" where the AFL's differs from
//  "counter"; "l_field_error" (1 or -1) for length-mismatch; counter null unless mode 7; "time" and
// "written" only for sent telegrams, "offset" only where given; "readings" only for
// the window's gas layout; "status" null without a transport header; dates as
// "2026-04-01" (type G) or "2026-04-01T00:00:00Z", a record that says nothing null;
// through an SDR also "radio", "channel_hz", "air_ms", "held" and "burst_time"
// ("stream" with "stream_time_ns", "host", or null when no burst went out)
std::string jsonLine(const TelegramRecord& r);

// A meter time (seconds since 1970, UTC) as 2026-01-31T23:50:00Z.
std::string isoTime(int64_t t);
// The current UTC time as 2026-12-08T09:30:00.123Z.
std::string utcTimestamp(int64_t laterMs = 0);

}  // namespace vdx
