#include "tools/virtual_stick/monitor.h"

#include <algorithm>
#include <cstring>

#include "session/startup.h"
#include "tools/virtual_stick/monitor_text.h"

namespace vstick {

// The keys in address order, so that a rig of a million meters is looked up
// at once; where an address comes twice the first one counts.
TelegramMonitor::TelegramMonitor(std::vector<MeterKey> keys) : keys_(std::move(keys)) {
    std::stable_sort(keys_.begin(), keys_.end(),
                     [](const MeterKey& a, const MeterKey& b) { return std::memcmp(a.address, b.address, 8) < 0; });
}

const MeterKey* TelegramMonitor::keyFor(const uint8_t* address) const {
    const auto k = std::lower_bound(keys_.begin(), keys_.end(), address, [](const MeterKey& a, const uint8_t* b) {
        return std::memcmp(a.address, b, 8) < 0;
    });
    return k != keys_.end() && std::memcmp(k->address, address, 8) == 0 ? &*k : nullptr;
}

std::vector<std::string> TelegramMonitor::feed(const uint8_t* data, size_t n) {
    pending_.insert(pending_.end(), data, data + n);
    std::vector<std::string> lines;
    while (pending_.size() >= 3) {
        const size_t size = 3u + pending_[1] + 256u * pending_[2];
        if (pending_.size() < size) break;
        std::vector<uint8_t> frame(pending_.begin(), pending_.begin() + static_cast<long>(size));
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(size));
        raw_.push_back(vdx::hexText(frame.data(), frame.size()));
        std::string line = describe(frame);
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> TelegramMonitor::takeRawFrames() {
    std::vector<std::string> out;
    out.swap(raw_);
    return out;
}

std::string TelegramMonitor::describe(const std::vector<uint8_t>& f) {
    if (f[0] == 0x01 && f.size() == 11) {
        std::memcpy(address_, f.data() + 3, 8);
        haveAddress_ = true;
        return "";
    }
    if (f[0] != 0x44 || f.size() < 5) return format("frame: command %02X, %zu payload bytes", f[0], f.size() - 3);
    ++telegrams_;
    records_.clear();
    replay_ = duplicateAccess_ = sessionReused_ = false;
    TelegramLayers t;
    std::string why;
    const bool read = readLayers(f, &t, &why);
    // the meter: the long header's address (a converter's telegram carries
    // the meter's own there), else the link layer's
    std::memcpy(meter_, address_, 8);
    if (read && t.header == TelegramLayers::Long) {
        std::memcpy(meter_, t.meter + 4, 2), std::memcpy(meter_ + 2, t.meter, 4);
        meter_[6] = t.meter[6], meter_[7] = t.meter[7];
    }
    std::string line = read ? describeRead(f, t) : describeUnread(f, t);
    if (!haveAddress_) line += ", NO ADDRESS FRAME BEFORE IT";
    haveAddress_ = false;
    return line;
}

// A telegram whose layers could not be read: a CI no decoder knows where
// the transport layer belongs, or what is not understood.
std::string TelegramMonitor::describeUnread(const std::vector<uint8_t>& f, const TelegramLayers& t) {
    if (haveAddress_ && t.ell) history_.remember(meter_, f, t.ellAccess);  // the ELL was read
    if (!t.unknownCi) {
        count("not understood");
        return format("telegram: C %02X CI %02X, %zu bytes, not understood", f[3], f[4], f.size());
    }
    count("unknown CI");
    return meterName(meter_) + (t.ell ? format(", access %u", t.ellAccess) : "") +
           format(", CI %02X where the transport layer belongs: unknown, not decoded", t.ci);
}

// A telegram whose layers were read: the same bytes again are decoded as
// usual and told (and counted) as a replay; the same access number over
// other bytes is told as such.
std::string TelegramMonitor::describeRead(const std::vector<uint8_t>& f, const TelegramLayers& t) {
    replay_ = haveAddress_ && history_.isReplay(meter_, f);
    const bool access = t.header != TelegramLayers::None || t.ell;  // no access number without either
    duplicateAccess_ =
        access && haveAddress_ && !replay_ && history_.sameAccess(meter_, static_cast<uint8_t>(accessOf(t)));
    // AES-CTR's counter block again (same link address, CC and session
    // number) over another payload: its keystream over two plain texts
    sessionReused_ =
        t.ellSession && t.sessionNumber >> 29 == 1 && haveAddress_ &&
        history_.sessionReused(address_, t.cc, t.sessionNumber, f.data() + t.payloadAt, f.size() - t.payloadAt) &&
        !replay_;
    const size_t expected = t.blockAt + 16 * t.blocks;
    std::string line;
    if (!t.ellSession && f.size() < expected) {
        count("truncated");
        line = format("telegram: C %02X CI %02X, truncated: %zu of %zu bytes", f[3], f[4], f.size(), expected);
    } else {
        line = t.ellSession ? describeEll(f, t) : describeTelegram(f, t);
    }
    if (replay_) line += format(", replay of access %u", accessOf(t));
    if (duplicateAccess_) line += format(", access %u again with other content", accessOf(t));
    if (sessionReused_) line += ", session number repeated: keystream reused";
    if (haveAddress_) history_.remember(meter_, f, static_cast<uint8_t>(accessOf(t)));
    return line;
}

std::string TelegramMonitor::describeTelegram(const std::vector<uint8_t>& f, const TelegramLayers& t,
                                              const std::string& ell) {
    std::string line = meterName(meter_);
    if (std::memcmp(meter_, address_, 8) != 0) line += " via " + meterName(address_);
    if (t.header != TelegramLayers::None || t.ell) line += format(", access %u", accessOf(t));
    if (t.header == TelegramLayers::Short) line += ", short header";
    if (t.header == TelegramLayers::None) line += ", no header";
    if (t.status != 0) line += format(", status %02X (%s)", t.status, statusText(t.status).c_str());
    if (t.mode == 5) return line + ell + describeMode5(f, t);
    if (t.mode == 7) return line + ell + describeMode7(f, t);
    line += ell.empty() ? ", plain" : ell;
    if (t.cf != 0) line += format(", configuration %04X", t.cf);
    return line + ", " + describeBlock(f.data() + t.blockAt, f.size() - t.blockAt, t.compact);
}

void TelegramMonitor::count(const std::string& verdict) {
    verdicts_.count(replay_                               ? "replay"
                    : sessionReused_                      ? "session number repeated"
                    : duplicateAccess_ && verdict == "ok" ? "duplicate access"
                                                          : verdict);
}

std::string TelegramMonitor::describeBlock(const uint8_t* block, size_t n, bool compact, size_t check) {
    if (compact) return describeCompact(block + check, n - check);
    size_t bad = 0;
    std::vector<uint8_t> format;
    if (!decodeRecords(block, n, &records_, &bad, &format)) {
        count("malformed records");
        return vstick::format("malformed records at offset %zu", bad);
    }
    formats_.learn(meter_, format);  // what a compact frame of this meter may refer to
    count("ok");
    std::string text;
    for (const DecodedRecord& r : records_) text += (text.empty() ? "" : ", ") + describeRecord(r);
    return text.empty() ? "no records" : text;
}

// A compact frame: the format signature, the full frame's CRC, the data;
// decoded only with a format a full frame of the same meter announced, and
// only when the records rebuilt from it match the CRC.
std::string TelegramMonitor::describeCompact(const uint8_t* p, size_t n) {
    if (n < 4) return count("malformed records"), "compact frame cut short";
    const unsigned signature = p[0] | p[1] << 8, crc = p[2] | p[3] << 8;
    const std::vector<uint8_t>* known = formats_.find(meter_, static_cast<uint16_t>(signature));
    if (known == nullptr) {
        count("format unknown");
        return format("compact frame of format %04X, which no full frame of this meter announced: not decoded",
                      signature);
    }
    std::vector<uint8_t> full;
    size_t used = 0;
    if (!expandCompact(*known, p + 4, n - 4, &full, &used) ||
        std::any_of(p + 4 + used, p + n, [](uint8_t b) { return b != 0x2F; })) {
        count("malformed records");
        return format("compact frame of format %04X: its data do not fit the format", signature);
    }
    const unsigned computed = en13757Crc(full.data(), full.size());
    if (computed != crc) {
        count("compact CRC FAILED");
        return format("compact frame of format %04X, full-frame CRC FAILED (got %04X, computed %04X): not decoded",
                      signature, crc, computed);
    }
    return format("compact frame (format %04X), ", signature) + describeBlock(full.data(), full.size());
}

std::string TelegramMonitor::feedRadio(const std::vector<uint8_t>& radio, bool formatA) {
    std::vector<uint8_t> stream;
    std::string error;
    if (radioToStickFrames(radio, formatA, &stream, &error)) {
        const std::vector<std::string> lines = feed(stream.data(), stream.size());
        return lines.empty() ? "" : lines.back();
    }
    ++telegrams_;
    replay_ = duplicateAccess_ = sessionReused_ = false;
    count(error.rfind("CRC", 0) == 0       ? "CRC FAILED"
          : error.rfind("L-field", 0) == 0 ? "length mismatch"
                                           : "not understood");
    return "radio frame: " + error;
}

}  // namespace vstick
