// Google Benchmark: building telegrams and one whole send tick, with an
// OpenSSL-based build of the same encrypted frame as the yardstick.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "config/profiles.h"
#include "sdr/modulator.h"
#include "session/rig_run.h"
#include "telegram/frames.h"
#include "telegram/send_cycle.h"
#include "tests/fixtures.h"
#include "tools/oracle/openssl_aes.h"

namespace {

using testfix::kKey;

vdx::MeterRecord meter() { return testfix::exampleMeter(); }

void BM_PlainTelegram(benchmark::State& state) {
    vdx::MeterRecord m = meter();
    uint8_t frame[vdx::kPlainTelegramSize];
    for (auto _ : state) {
        vdx::buildPlainTelegram(m, frame);
        benchmark::DoNotOptimize(frame);
    }
}
BENCHMARK(BM_PlainTelegram);

void BM_EncryptedTelegram(benchmark::State& state) {
    vdx::MeterRecord m = meter();
    uint8_t frame[vdx::kEncryptedTelegramSize];
    for (auto _ : state) {
        vdx::buildEncryptedTelegram(m, kKey, frame);
        benchmark::DoNotOptimize(frame);
    }
}
BENCHMARK(BM_EncryptedTelegram);

// The same frame with OpenSSL's AES-CBC and CMAC (EVP, fresh contexts per call).
void BM_EncryptedTelegramOpenSsl(benchmark::State& state) {
    vdx::MeterRecord m = meter();
    uint8_t frame[vdx::kEncryptedTelegramSize];
    const uint8_t zeroIv[16] = {0};
    // header bytes from one build of the program's own; the loop refills
    // only what changes per telegram (access numbers and message counter)
    vdx::MeterRecord first = m;
    vdx::buildEncryptedTelegram(first, kKey, frame);
    for (auto _ : state) {
        const uint32_t c = m.messageCounter;
        frame[6] = frame[33] = m.accessNumber;
        for (int i = 0; i < 4; ++i) frame[12 + i] = static_cast<uint8_t>(c >> (8 * i));
        uint8_t block[16] = {0,
                             uint8_t(c),
                             uint8_t(c >> 8),
                             uint8_t(c >> 16),
                             uint8_t(c >> 24),
                             m.identNumber[0],
                             m.identNumber[1],
                             m.identNumber[2],
                             m.identNumber[3],
                             7,
                             7,
                             7,
                             7,
                             7,
                             7,
                             7};
        uint8_t kenc[16], kmac[16], tag[16], macInput[99];
        oracle::cmac(kKey, block, 16, kenc);
        block[0] = 1;
        oracle::cmac(kKey, block, 16, kmac);
        oracle::cbcEncrypt(kenc, zeroIv, vdx::applicationPayload, 80, frame + 38);
        std::memcpy(macInput, frame + 11, 5);
        std::memcpy(macInput + 5, frame + 24, 94);
        oracle::cmac(kmac, macInput, 99, tag);
        std::memcpy(frame + 16, tag, 8);
        m.messageCounter++;
        m.accessNumber++;
        benchmark::DoNotOptimize(frame);
    }
}
BENCHMARK(BM_EncryptedTelegramOpenSsl);

void BM_WholeTickNullWriter(benchmark::State& state) {
    static uint8_t keys[vdx::kMeterCount][16];
    const vdx::FrameWriter nullWriter = [](const uint8_t*) { return 1; };
    const vdx::CountDisplay noDisplay = [](int, const char*) {};
    vdx::startSending(noDisplay);
    for (auto _ : state) vdx::sendTick(true, keys, nullWriter, noDisplay);
}
BENCHMARK(BM_WholeTickNullWriter);

// A rig's next telegram (schedule, meter clock, live readings, mode 5 or 7)
// with 10 and with 10,000 meters: the priority queue keeps the cost per
// telegram from growing with the meters.
vdx::Rig rigOf(int meters, vdx::Security security, vdx::ScheduleMode mode) {
    vdx::Rig rig;
    rig.schedule = mode;
    rig.startNow = false;
    rig.start = vdx::unixTime(2026, 1, 31, 23, 50);
    for (int i = 0; i < meters; ++i) {
        vdx::SimMeter m;
        m.record = testfix::exampleMeter();
        m.record.identNumber[0] = static_cast<uint8_t>(i);
        m.record.identNumber[1] = static_cast<uint8_t>(i >> 8);
        std::memcpy(m.key, kKey, 16);
        m.security = security;
        m.live = true;
        m.readings.flow = 0.3;
        rig.meters.push_back(m);
        rig.meterInterval.push_back(0);
        rig.meterOffset.push_back(0.001 * i);
    }
    return rig;
}

void BM_RigNextTelegram(benchmark::State& state) {
    const auto security = state.range(1) == 5 ? vdx::Security::Mode5 : vdx::Security::Mode7;
    const auto mode = state.range(2) ? vdx::ScheduleMode::Each : vdx::ScheduleMode::Turns;
    vdx::RigRun run(rigOf(static_cast<int>(state.range(0)), security, mode), 0, 0);
    for (auto _ : state) benchmark::DoNotOptimize(run.next());
}
BENCHMARK(BM_RigNextTelegram)->Args({10, 7, 0})->Args({10000, 7, 0})->Args({10, 5, 1})->Args({10000, 5, 1});

// A telegram of each profile, in mode 7 with the profile's header and
// readings that move.
void BM_ProfileTelegram(benchmark::State& state, const char* profile) {
    vdx::SimMeter m;
    m.record = testfix::exampleMeter();
    std::memcpy(m.key, kKey, 16);
    m.live = true;
    m.profile = vdx::builtInProfile(profile);
    m.header = m.profile->header;
    m.readings.start = vdx::unixTime(2026, 3, 31, 23);
    m.readings.flow = 0.12, m.readings.power = 3.2, m.readings.rate = 0.5, m.readings.powerExport = 0.4;
    m.readings.flowTemperature = {50, 70};
    m.readings.returnTemperature = {35, 35};
    vdx::SentTelegram t;
    int64_t time = vdx::unixTime(2026, 4, 1);
    for (auto _ : state) {
        vdx::buildMeterTelegram(m, 0, time += 60, &t);
        benchmark::DoNotOptimize(t.telegramFrame);
    }
}
BENCHMARK_CAPTURE(BM_ProfileTelegram, gas_fixed, "gas-fixed");
BENCHMARK_CAPTURE(BM_ProfileTelegram, gas, "gas");
BENCHMARK_CAPTURE(BM_ProfileTelegram, water, "water");
BENCHMARK_CAPTURE(BM_ProfileTelegram, warm_water, "warm-water");
BENCHMARK_CAPTURE(BM_ProfileTelegram, heat, "heat");
BENCHMARK_CAPTURE(BM_ProfileTelegram, heat_cost_allocator, "heat-cost-allocator");
BENCHMARK_CAPTURE(BM_ProfileTelegram, electricity, "electricity");

// The window's ten meters as the example rig says them (mode 7, the fixed
// block, turns): the next telegram.
void BM_TenMeterRigFile(benchmark::State& state) {
    vdx::Rig rig;
    std::string error;
    if (!vdx::readRig(VDX_SOURCE_DIR "/examples/rigs/ten-meters.toml", &rig, &error))
        return state.SkipWithError(error.c_str());
    vdx::RigRun run(rig, 0, 0);
    for (auto _ : state) benchmark::DoNotOptimize(run.next());
}
BENCHMARK(BM_TenMeterRigFile);

// Loading a rig of a million meters in a process of its own (so that its
// peak memory is its own): the file read, the RigRun ready, the first
// telegram built. "load_s" (wall time), "cpu_s" (the child's user and
// system time, which a busy machine does not inflate) and "peak_MB" (the
// child's peak resident set).
void loadInChild(benchmark::State& state, const std::string& text) {
    const std::string path = "/tmp/verdanox-bench-rig.toml";
    std::ofstream(path, std::ios::binary) << text;
    for (auto _ : state) {
        int pipeFd[2];
        if (pipe(pipeFd) != 0) return state.SkipWithError("no pipe");
        const pid_t child = fork();
        if (child == 0) {
            const auto t0 = std::chrono::steady_clock::now();
            vdx::Rig rig;
            std::string error;
            double figures[3] = {-1, 0, 0};
            if (vdx::readRig(path, &rig, &error)) {
                vdx::RigRun run(std::move(rig), 0, vdx::unixTime(2026, 4, 1));
                benchmark::DoNotOptimize(run.next());
                figures[0] = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            }
            rusage usage{};
            getrusage(RUSAGE_SELF, &usage);
            figures[1] = usage.ru_maxrss / 1024.0;
            figures[2] = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
            if (write(pipeFd[1], figures, sizeof figures) != sizeof figures) _exit(1);
            _exit(0);
        }
        double figures[3] = {-1, 0, 0};
        close(pipeFd[1]);
        const bool read = ::read(pipeFd[0], figures, sizeof figures) == sizeof figures;
        close(pipeFd[0]);
        waitpid(child, nullptr, 0);
        if (!read || figures[0] < 0) return state.SkipWithError("the rig did not load");
        state.SetIterationTime(figures[0]);
        state.counters["load_s"] = figures[0];
        state.counters["peak_MB"] = figures[1];
        state.counters["cpu_s"] = figures[2];
    }
    std::remove(path.c_str());
}

// One table: count = 1000000, keys derived.
void BM_LoadCountedMillion(benchmark::State& state) {
    loadInChild(state,
                "[[meter]]\naddress = \"9858000000100107\"\ncount = 1000000\nkey_derivation = "
                "\"00112233445566778899AABBCCDDEEFF\"\nprofile = \"water\"\nflow = 0.02\n");
}
BENCHMARK(BM_LoadCountedMillion)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// A million [[meter]] tables as generate-rig.py writes them (mode 7, keys,
// volumes and flows).
void BM_LoadListedMillion(benchmark::State& state) {
    std::string text = "readings = \"live\"\n\n[schedule]\nmode = \"turns\"\ninterval = 5\n";
    char meter[256];
    for (unsigned i = 0; i < 1000000; ++i) {
        const unsigned id = 10000000 + i;
        std::snprintf(meter, sizeof meter,
                      "\n[[meter]]\naddress = \"9858%02u%02u%02u%02u0103\"\nkey = \"%08X%08X%08X%08X\"\nsecurity = "
                      "\"mode7\"\nvolume = %u.%03u\nflow = 0.%03u\n",
                      id % 100, id / 100 % 100, id / 10000 % 100, id / 1000000, i * 2654435761u, i, ~i, i * 7u,
                      i % 5000, i % 1000, i % 1000);
        text += meter;
    }
    loadInChild(state, text);
}
BENCHMARK(BM_LoadListedMillion)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// One second of I/Q samples at 1.2 MHz in cu8 (2.4 MB), rendered into a
// buffer in the capture writer's 256 KiB pieces: T1 (100,000 chips) clean
// and at 15 dB, N (GFSK, 4,800 chips) clean; next to a memcpy of the same
// bytes, the limit. "x_real_time" is seconds of signal per second; the
// aim: 300 clean, 100 with noise.
constexpr size_t kPiece = 1 << 17;  // samples: 256 KiB of cu8

void BM_IqOneSecondAt1200k(benchmark::State& state) {
    const vdx::RadioModeInfo& mode = vdx::radioMode(state.range(1) ? vdx::RadioMode::N : vdx::RadioMode::T1);
    std::vector<uint8_t> chips(mode.chipRate);
    for (size_t i = 0; i < chips.size(); ++i) chips[i] = static_cast<uint8_t>((i * 7 / 3) & 1);
    vdx::IqOptions o;
    o.snrDb = state.range(0) ? 15.0 : INFINITY;
    vdx::IqModulator m(o);
    std::vector<uint8_t> piece(kPiece * 2);
    for (auto _ : state) {
        m.beginBurst(chips, vdx::burstShape(mode, 0));
        while (m.render(piece.data(), kPiece) > 0) benchmark::DoNotOptimize(piece.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 * o.sampleRate);
    state.counters["x_real_time"] = benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_IqOneSecondAt1200k)->Args({0, 0})->Args({1, 0})->Args({0, 1})->Unit(benchmark::kMillisecond);

void BM_MemcpyOneSecondAt1200k(benchmark::State& state) {
    std::vector<uint8_t> from(2 * 1200000, 0x80), piece(kPiece * 2);
    for (auto _ : state)
        for (size_t at = 0; at < from.size(); at += piece.size()) {
            std::memcpy(piece.data(), from.data() + at, std::min(piece.size(), from.size() - at));
            benchmark::DoNotOptimize(piece.data());
        }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 * 1200000);
    state.counters["x_real_time"] = benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_MemcpyOneSecondAt1200k)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
