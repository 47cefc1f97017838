#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "session/startup.h"

namespace vdx {
namespace {

bool unconnected(DWORD which) {
    const HANDLE h = GetStdHandle(which);
    return h == nullptr || h == INVALID_HANDLE_VALUE;
}

}  // namespace

void prepareProcess() {
    SetDllDirectoryA("");  // the current folder leaves the DLL search path
    // A console program has its console already. A GUI program started from
    // cmd or PowerShell borrows its parent's for the streams that have
    // nowhere to go; streams the caller redirected stay where they are.
    if (GetConsoleWindow() != nullptr) return;
    const bool out = unconnected(STD_OUTPUT_HANDLE), err = unconnected(STD_ERROR_HANDLE);
    if ((out || err) && AttachConsole(ATTACH_PARENT_PROCESS)) {
        if (out) std::freopen("CONOUT$", "w", stdout);
        if (err) std::freopen("CONOUT$", "w", stderr);
    }
}

void binaryStandardOutput() { _setmode(_fileno(stdout), _O_BINARY); }

}  // namespace vdx
