#pragma once

// UTF-8 (the SDK's text) to and from UTF-16 (the system's), and error codes.

#include <string>
#include <system_error>

namespace sdk::os::win32 {

std::wstring wideOf(const std::string& text);
std::string utf8Of(const std::wstring& text);
std::string utf8Of(const wchar_t* text, std::size_t length);

// A system error (GetLastError, WSAGetLastError) in generic terms, so that
// std::errc compares as on every system.
std::error_code genericError(unsigned long code);
// The system's own text for a system error.
std::string errorText(unsigned long code);

// Forward slashes, as the SDK joins and splits paths; the system takes both.
std::string withForwardSlashes(std::string path);

} // namespace sdk::os::win32
