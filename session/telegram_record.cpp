#include "session/telegram_record.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <nlohmann/json.hpp>

#include "session/startup.h"
#include "telegram/frames.h"

namespace vdx {

namespace {

// M (2), ID (4, BCD low byte first), version, type
AddressName addressName(const uint8_t* a) {
    AddressName n;
    char letters[4];
    manufacturerLetters(a, letters);
    n.manufacturer = letters;
    const uint8_t id[4] = {a[5], a[4], a[3], a[2]};
    n.id = hexText(id, 4);
    n.version = a[6];
    n.type = a[7];
    return n;
}

}  // namespace

TelegramRecord telegramRecord(const SentTelegram& t, const std::string& time) {
    TelegramRecord r;
    r.time = time;
    r.meter = t.meter;
    const AddressName meter = addressName(t.viaConverter ? t.meterAddress : t.addressFrame + 3);
    r.manufacturer = meter.manufacturer, r.id = meter.id, r.version = meter.version, r.type = meter.type;
    r.viaConverter = t.viaConverter;
    if (t.viaConverter) r.converter = addressName(t.addressFrame + 3);
    r.compact = t.compact;
    r.formatKnown = t.formatKnown;
    r.signature = t.signature;
    r.sessionNumber = t.sessionNumber;
    r.sessionReused = t.sessionReused;
    r.aflCounter = t.aflCounter;
    r.lengthError = t.lengthError;
    r.access = t.accessNumber;
    r.security = t.security;
    r.counter = t.messageCounter;
    r.readings = t.readings;
    r.gasReadings = t.gasReadings;
    r.meterTime = t.meterTime;
    r.header = t.header;
    r.status = t.status;
    r.records = t.records;
    r.fault = t.fault;
    r.faultSeed = t.faultSeed;
    if (t.fault == FaultKind::Fuzz) r.block = hexText(t.block, t.blockSize);
    r.written = t.delivered;
    r.addressFrame = hexText(t.addressFrame, kAddressFrameSize);
    r.telegramFrame = hexText(t.telegramFrame, stickFrameSize(t.telegramFrame));
    return r;
}

std::string textLine(const TelegramRecord& r) {
    const bool mode7 = r.security == Security::Mode7;
    char text[320], via[64] = "";
    const bool fault = r.fault != FaultKind::None;
    const std::string skipped = r.skipped > 0 ? ", " + std::to_string(r.skipped) + " slots skipped" : "";
    if (r.viaConverter)
        std::snprintf(via, sizeof via, " via %s %s v%02X t%02X", r.converter.manufacturer.c_str(),
                      r.converter.id.c_str(), r.converter.version, r.converter.type);
    std::snprintf(text, sizeof text, "%s meter %d: %s %s v%02X t%02X%s, access %u, %s%s%s%s%s%s%s, %s", r.time.c_str(),
                  r.meter, r.manufacturer.c_str(), r.id.c_str(), r.version, r.type, via, r.access,
                  securityName(r.security), r.compact ? ", compact" : "", mode7 ? ", counter " : "",
                  mode7 ? std::to_string(r.counter).c_str() : "", fault ? ", fault " : "", faultName(r.fault),
                  skipped.c_str(),
                  r.written    ? "sent"
                  : r.air.held ? "held for duty cycle"
                  : r.air.busy ? "skipped, transmitter busy"
                               : "NOT SENT");
    return text;
}

namespace {

nlohmann::ordered_json readingsJson(const Readings& r) {
    nlohmann::ordered_json j;
    j["meter_time"] = isoTime(r.time);
    j["volume"] = r.volumeLitres / 1000.0;
    j["volume_uncorrected"] = r.volumeUncorrectedLitres / 1000.0;
    j["due_date"] = isoTime(r.dueDate);
    j["due_volume"] = r.dueVolumeLitres / 1000.0;
    j["due_volume_uncorrected"] = r.dueVolumeUncorrectedLitres / 1000.0;
    j["error_flags"] = r.errorFlags;
    j["battery_days"] = r.batteryDays;
    char fabrication[16];
    std::snprintf(fabrication, sizeof fabrication, "%08u", static_cast<unsigned>(r.fabrication % 100000000));
    j["fabrication"] = fabrication;
    return j;
}

void addAir(const AirFacts& a, nlohmann::ordered_json* j) {
    (*j)["radio"] = a.radio;
    (*j)["channel_hz"] = std::llround(a.channelHz);
    (*j)["air_ms"] = std::round(a.airMs * 1000) / 1000;
    (*j)["held"] = a.held;
    (*j)["transmitter_busy"] = a.busy;
    if (a.clock == AirFacts::Clock::None) (*j)["burst_time"] = nullptr;
    if (a.clock == AirFacts::Clock::Host) (*j)["burst_time"] = "host";
    if (a.clock != AirFacts::Clock::Stream) return;
    (*j)["burst_time"] = "stream";
    (*j)["stream_time_ns"] = a.streamNs;
}

// A decimal number's sign, its digits without leading and trailing zeros
// and the power of ten of the last: "-12.50" and "-1.25e+1" are "-125e-1".
std::string canonicalDecimal(const std::string& text) {
    const bool negative = !text.empty() && text[0] == '-';
    std::string digits;
    int exponent = 0;
    bool point = false;
    size_t i = negative ? 1 : 0;
    for (; i < text.size() && text[i] != 'e' && text[i] != 'E'; ++i) {
        if (text[i] == '.') {
            point = true;
        } else {
            digits += text[i];
            exponent -= point ? 1 : 0;
        }
    }
    if (i < text.size()) exponent += std::atoi(text.c_str() + i + 1);
    const size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) return "0";
    digits.erase(0, first);
    for (; digits.back() == '0'; ++exponent) digits.pop_back();
    return (negative ? "-" : "") + digits + "e" + std::to_string(exponent);
}

// A count of 10^exponent as JSON, exactly. A double prints every count
// below 10^15 exactly (15 significant digits survive a double), so those
// keep the plain value. A larger whole number is a JSON integer; one with
// decimals (or past 64 bits) is the nearest double, and where that does not
// print the same decimal, "exact" gives it as a string.
void exactCount(const RecordReading& r, nlohmann::ordered_json* j) {
    const bool negative = !r.countUnsigned && r.count < 0;
    const uint64_t magnitude = negative ? ~static_cast<uint64_t>(r.count) + 1 : static_cast<uint64_t>(r.count);
    if (magnitude < 1000000000000000u) return;
    std::string digits = std::to_string(magnitude);
    if (r.exponent >= 0) {
        uint64_t whole = magnitude;
        int e = 0;
        for (; e < r.exponent && whole <= UINT64_MAX / 10; ++e) whole *= 10;
        if (e == r.exponent && !negative) return void((*j)["value"] = whole);
        if (e == r.exponent && whole <= uint64_t(1) << 63)
            return void((*j)["value"] = static_cast<int64_t>(~whole + 1));
        digits.append(static_cast<size_t>(r.exponent), '0');
    } else {
        const size_t point = static_cast<size_t>(-r.exponent);
        if (digits.size() <= point) digits.insert(0, point + 1 - digits.size(), '0');
        digits.insert(digits.size() - point, ".");
    }
    const std::string exact = (negative ? "-" : "") + digits;
    double nearest = 0;  // rounded once, from the decimal (the count's double and a division would round twice)
    std::from_chars(exact.data(), exact.data() + exact.size(), nearest);
    (*j)["value"] = nearest;
    if (canonicalDecimal((*j)["value"].dump()) != canonicalDecimal(exact)) (*j)["exact"] = exact;
}

nlohmann::ordered_json recordJson(const RecordReading& r) {
    nlohmann::ordered_json j;
    j["quantity"] = r.quantity;
    j["unit"] = r.unit;
    if (r.modifier != nullptr) j["modifier"] = r.modifier;
    j["storage"] = r.storage;
    j["tariff"] = r.tariff;
    j["subunit"] = r.subunit;
    j["function"] = kFunctionNames[static_cast<int>(r.function)];
    switch (r.kind) {
        case RecordValue::Number:
            j["value"] = r.number;
            if (r.counted) exactCount(r, &j);
            break;
        case RecordValue::Time:
            j["value"] = r.dateOnly ? isoTime(r.time).substr(0, 10) : isoTime(r.time);
            break;
        case RecordValue::Text:
            j["value"] = r.text;
            break;
        case RecordValue::Nothing:
            j["value"] = nullptr;
            break;
    }
    return j;
}

nlohmann::ordered_json statusJson(const TelegramRecord& r) {
    if (r.header == HeaderForm::None) return nullptr;
    nlohmann::ordered_json bits = nlohmann::ordered_json::array();
    const std::string names = statusNames(r.status);
    for (size_t start = 0, end; start < names.size(); start = end + 1) {
        end = names.find(',', start);
        if (end == std::string::npos) end = names.size();
        bits.push_back(names.substr(start, end - start));
    }
    return {{"byte", r.status}, {"bits", bits}};
}

nlohmann::ordered_json addressJson(const AddressName& a) {
    return {{"manufacturer", a.manufacturer}, {"id", a.id}, {"version", a.version}, {"type", a.type}};
}

std::string hex16(uint16_t v) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", v);
    return text;
}

const char* headerName(HeaderForm h) {
    return h == HeaderForm::Long ? "long" : h == HeaderForm::Short ? "short" : "none";
}

}  // namespace

std::string jsonLine(const TelegramRecord& r) {
    nlohmann::ordered_json j;
    if (!r.time.empty()) j["time"] = r.time;
    if (r.offset >= 0) j["offset"] = r.offset;
    j["meter"] = r.meter;
    j["manufacturer"] = r.manufacturer;
    j["id"] = r.id;
    j["version"] = r.version;
    j["type"] = r.type;
    if (r.viaConverter) j["converter"] = addressJson(r.converter);
    j["access"] = r.access;
    j["counter"] = r.security == Security::Mode7 ? nlohmann::ordered_json(r.counter) : nlohmann::ordered_json(nullptr);
    if (r.security == Security::Mode7 && r.aflCounter != r.counter) j["afl_counter"] = r.aflCounter;
    j["mode"] = securityName(r.security);
    if (r.security == Security::EllCtr)
        j["session"] = {{"number", r.sessionNumber},
                        {"time", (r.sessionNumber >> 4) & 0x1FFFFFF},
                        {"counter", r.sessionNumber & 0x0F}};
    if (r.security == Security::EllCtr && r.sessionReused) j["session_reused"] = true;
    if (!r.time.empty()) j["written"] = r.written;
    j["frames"] = {r.addressFrame, r.telegramFrame};
    if (r.gasReadings)
        j["readings"] = readingsJson(r.readings);  // with its meter time
    else
        j["meter_time"] = isoTime(r.meterTime);
    j["header"] = headerName(r.header);
    j["status"] = statusJson(r);
    if (r.formatKnown) j["frame"] = r.compact ? "compact" : "full", j["signature"] = hex16(r.signature);
    nlohmann::ordered_json records = nlohmann::ordered_json::array();
    for (const RecordReading& x : r.records) records.push_back(recordJson(x));
    j["records"] = records;
    j["fault"] = r.fault != FaultKind::None ? nlohmann::ordered_json(faultName(r.fault)) : nullptr;
    if (r.fault == FaultKind::Fuzz) j["fuzz"] = {{"seed", r.faultSeed}, {"block", r.block}};
    if (r.lengthError != 0) j["l_field_error"] = r.lengthError;
    j["skipped"] = r.skipped;
    if (r.air.radio != nullptr) addAir(r.air, &j);
    return j.dump();
}

std::string isoTime(int64_t t) {
    const CivilTime c = civilTime(t);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", c.year, c.month, c.day, c.hour, c.minute,
                  c.second);
    return text;
}

std::string utcTimestamp(int64_t laterMs) {
    const auto now = std::chrono::system_clock::now() + std::chrono::milliseconds(laterMs);
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const long ms =
        static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    const std::tm utc = *std::gmtime(&seconds);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, ms);
    return text;
}

}  // namespace vdx
