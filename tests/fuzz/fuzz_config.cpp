// libFuzzer target: arbitrary bytes as the configuration file, through the
// file reader, the key table and the meter address conversion.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "config/config.h"
#include "session/configuration.h"
#include "telegram/meter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // a RAM-backed file keeps the run fast; the reader takes a path
    static char path[64] = {0};
    if (path[0] == '\0')
        std::snprintf(path, sizeof path, "%s/vdx-fuzz-%d.txt", access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp",
                      static_cast<int>(getpid()));
    FILE* f = std::fopen(path, "wb");
    if (f == nullptr) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    vdx::resetConfig();
    vdx::loadConfiguration(path, nullptr);
    for (int m = 0; m < vdx::kMeterCount; ++m) {
        if (std::strlen(vdx::configLines[m]) > 255) __builtin_trap();
    }
    return 0;
}
