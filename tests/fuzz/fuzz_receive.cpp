// The receive poll against whatever a stick may send: arbitrary bytes in
// arbitrary chunks over fake time, through the scripted platform, with short,
// failing and lying reads and an unplug, on both transports. After each run
// of the poll:
//  - fake time passed is within the poll's one deadline;
//  - at most one frame's bytes were taken (header + announced length);
//  - a frame that was complete in the queue was taken exactly, as a frame;
//  - after a dropped frame the queue is emptied, within the bound: what one
//    run could not drop in time is dropped by the next runs, and none of
//    them takes a frame before the queue ran dry, so the first frame taken
//    again starts on a frame boundary.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "link/link.h"
#include "tests/fake_platform.h"

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

class Input {
public:
    Input(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
    bool empty() const { return p_ == end_; }
    uint8_t byte() { return p_ < end_ ? *p_++ : 0; }
    uint32_t word() { return byte() | byte() << 8 | byte() << 16 | static_cast<uint32_t>(byte()) << 24; }

private:
    const uint8_t* p_;
    const uint8_t* end_;
};

uint32_t frameSize(const std::deque<uint8_t>& q) { return 3u + q[1] + 256u * q[2]; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    FakePlatform fake;
    vdx::resetLinkState();
    vdx::setLinkPlatform(&fake);
    const uint8_t knobs = in.byte();
    const bool ftdi = knobs & 1;
    vdx::linkState.transportKind = ftdi ? vdx::TransportKind::Ftdi : vdx::TransportKind::ComPort;
    vdx::linkState.comHandle = vdx::linkState.ftdiHandle = 7;
    if (knobs & 2) fake.readLimit = 1 + in.byte() % 64;
    if (knobs & 4) fake.failPattern = in.word();
    if (knobs & 8) fake.queueLie = 1 + in.byte() % 8;
    if (knobs & 16) fake.hangUpAt = 10u * in.byte();
    const bool reliable = fake.failPattern == 0;

    // the rest: chunks of (gap in ms, length, bytes) arriving over time
    uint64_t t = 0;
    while (!in.empty()) {
        t += in.byte();
        std::vector<uint8_t> chunk(in.byte());
        for (uint8_t& b : chunk) b = in.byte();
        fake.arrivals.insert({t, chunk});
    }

    bool resyncing = false;  // a drop left bytes queued
    for (int polls = 0, stuck = 0; polls < 4096 && stuck < 3; ++polls) {
        fake.deliver();
        const uint64_t start = fake.clock;
        const bool whole = fake.rx.size() >= 3 && fake.rx.size() >= frameSize(fake.rx);
        const size_t queued = fake.rx.size(), expected = whole ? frameSize(fake.rx) : 0;
        const bool dependable = reliable && !fake.gone();
        fake.delivered.clear();
        const vdx::ReceiveResult r = vdx::receivePoll();

        require(fake.clock - start <= vdx::kReadWaitBoundMs);
        const std::vector<uint8_t>& took = fake.delivered;
        if (took.size() >= 3) require(took.size() <= 3u + took[1] + 256u * took[2] || r == vdx::ReceiveResult::Dropped);
        if (r == vdx::ReceiveResult::Frame) require(took.size() >= 3 && took.size() == 3u + took[1] + 256u * took[2]);
        if (resyncing) require(r != vdx::ReceiveResult::Frame);
        if (whole && dependable && !resyncing) {
            require(r == vdx::ReceiveResult::Frame);
            require(took.size() == expected && fake.rx.size() == queued - expected);
        }
        if (r == vdx::ReceiveResult::Dropped && reliable && !fake.gone()) resyncing = !fake.rx.empty();
        if (r == vdx::ReceiveResult::Idle) resyncing = false;

        // a driver that keeps announcing bytes it never delivers: no progress
        stuck = took.empty() && fake.rx.size() == queued && fake.clock == start ? stuck + 1 : 0;
        if (r == vdx::ReceiveResult::HungUp) break;
        if (r == vdx::ReceiveResult::Idle) {
            if (fake.arrivals.empty()) break;
            fake.clock = std::max(fake.clock, fake.arrivals.begin()->first);  // the loop wakes on input
        }
    }
    vdx::setLinkPlatform(nullptr);
    vdx::resetLinkState();
    return 0;
}
