#include <algorithm>

#include "sdr/tx_device.h"

namespace vdx {

double sampleRateNeed(double reachHz, double chipRate) { return std::max(2.5 * reachHz, 8 * chipRate); }

double usableFullScale(IqFormat format, double reported) {
    const double most = format == IqFormat::Cs16 ? 32768 : format == IqFormat::Cs8 ? 128 : 1;
    const double usual = format == IqFormat::Cs16 ? 32767 : format == IqFormat::Cs8 ? 127 : 1;
    return reported > 0 && reported <= most ? reported : usual;  // NaN too takes the usual
}

double lowestRateAtLeast(const RateRange* ranges, size_t n, double need) {
    double best = 0;
    for (size_t i = 0; i < n; ++i) {
        if (ranges[i].high < need) continue;
        const double r = std::max(ranges[i].low, need);
        if (best == 0 || r < best) best = r;
    }
    return best;
}

bool transmitBurst(TxDevice& device, IqModulator& modulator, const std::vector<uint8_t>& chips, const BurstShape& shape,
                   bool timed, int64_t timeNs, std::vector<uint8_t>* buffer, std::string* why) {
    const size_t room = std::max<size_t>(device.writeSize(), 1);
    buffer->resize(room * iqSampleBytes(modulator.options().format));
    modulator.beginBurst(chips, shape);
    // the samples go straight from the modulator into the buffer the
    // device takes: no conversion, no second copy
    for (bool first = true; modulator.pending() > 0; first = false) {
        const size_t n = modulator.render(buffer->data(), room);
        if (!device.write(buffer->data(), n, first, modulator.pending() == 0, timed && first, timeNs, why))
            return false;
    }
    return true;
}

}  // namespace vdx
