// What the meters of one kind send: a list of data records with their value
// sources, the transport header form and the fill. Profiles are data
// (examples/profiles/*.toml, read by config/profiles); the window's gas
// meter is also built in, as it needs no file.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "telegram/layers.h"
#include "telegram/meter_values.h"
#include "telegram/records.h"

namespace vdx {

struct MeterProfile {
    std::string name;
    std::vector<DataRecord> records;
    HeaderForm header = HeaderForm::Long;
    bool fillAlways = false;   // 2F 2F and fill in plain telegrams too
    bool gasReadings = false;  // the window's gas layout: the JSON log carries its readings too
};

// gas-fixed: the window's 80-byte block (long header, 2F 2F and fill always,
// the volumes and times of telegram/readings.h).
const MeterProfile& gasFixedProfile();

// One record as sent, for the JSON log: what the tables say it is and its
// value in the row's unit (numbers), as a meter time (dates; `dateOnly`
// for type G) or as text.
struct RecordReading {
    const char* quantity = "";  // "unknown" for a VIF the tables do not name
    const char* unit = "";
    const char* modifier = nullptr;
    uint64_t storage = 0;
    uint32_t tariff = 0, subunit = 0;
    Function function = Function::Instantaneous;
    RecordValue::Kind kind = RecordValue::Number;
    double number = 0;
    // an integer or BCD field's count of 10^exponent, for its exact decimal
    bool counted = false, countUnsigned = false;
    int64_t count = 0;
    int exponent = 0;
    int64_t time = 0;
    bool dateOnly = false;
    std::string text;
};

// Encodes `records` at `at` into `application` (records, their positions)
// and, when `readings` is given, what each says. False when they do not fit
// kMaxBlockSize bytes or kMaxRecords records (nothing is encoded then), or a
// value does not fit its data field (`error` says which record; it goes out
// with its data field zero, and says nothing in `readings`).
bool encodeRecords(const std::vector<DataRecord>& records, const ReadingsModel& model, const Moment& at,
                   ApplicationLayer* application, std::vector<RecordReading>* readings, std::string* error = nullptr);

// The bytes the records take.
size_t recordsSize(const std::vector<DataRecord>& records);

// Where a meter's drivers give a value its record cannot hold (a rate or a
// temperature past its field, error flags wider than it, ...): "record 5
// (volume-flow): 40000 does not fit a 16-bit signed integer"; empty when
// all fit. Registers roll over where their field ends, and so always fit.
std::string recordsProblem(const std::vector<DataRecord>& records, const ReadingsModel& model);

}  // namespace vdx
