// Loading FTD2XX.dll without ever searching the current folder.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace vdx {

// The system calls the choice needs, so that a test can play Windows 7.
struct DllLoadCalls {
    std::function<HMODULE(const char* name, DWORD flags)> loadEx;  // LoadLibraryExA
    std::function<DWORD()> lastError;                              // GetLastError
    std::function<std::string()> systemFolder;                     // GetSystemDirectoryA
    std::function<std::string()> programPath;                      // GetModuleFileNameA(nullptr)
};

// The calls of this system.
DllLoadCalls systemDllLoadCalls();

// FTD2XX.dll from the system folder (where FTDI's driver puts it) or the
// program's own folder, never from the current folder, which is wherever the
// user keeps VDXconfig.txt. Where the search flags are not known (Windows 7
// without KB2533623 answers ERROR_INVALID_PARAMETER), the same two places by
// full path. nullptr when there is none.
HMODULE loadFtd2xx(const DllLoadCalls& calls);

}  // namespace vdx
