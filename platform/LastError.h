#pragma once

// The calling thread's last-error code, Windows style: the loader and the
// library binding report failures as a null result and a code here.

#include <cstdint>

std::uint32_t lastError();
void setLastError(std::uint32_t code);

// The Windows error values the loader reports.
constexpr std::uint32_t errorOutOfMemory = 14;     // ERROR_OUTOFMEMORY
constexpr std::uint32_t errorModNotFound = 126;    // ERROR_MOD_NOT_FOUND
constexpr std::uint32_t errorProcNotFound = 127;   // ERROR_PROC_NOT_FOUND
constexpr std::uint32_t errorBadExeFormat = 193;   // ERROR_BAD_EXE_FORMAT
constexpr std::uint32_t errorInvalidAddress = 487; // ERROR_INVALID_ADDRESS
constexpr std::uint32_t errorDllInitFailed = 1114; // ERROR_DLL_INIT_FAILED
