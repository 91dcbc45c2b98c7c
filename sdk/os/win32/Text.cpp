#include "sdk/os/win32/Text.h"

#include <winsock2.h> // before the other system headers

#include <windows.h>

#include <algorithm>

namespace sdk::os::win32 {

std::wstring wideOf(const std::string& text) {
    if (text.empty())
        return {};
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(std::max(size, 0)), L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                            size);
    return wide;
}

std::string utf8Of(const wchar_t* text, std::size_t length) {
    if (length == 0)
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                         nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(std::max(size, 0)), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), narrow.data(), size,
                            nullptr, nullptr);
    return narrow;
}

std::string utf8Of(const std::wstring& text) {
    return utf8Of(text.data(), text.size());
}

std::error_code genericError(unsigned long code) {
    using std::errc;
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return std::make_error_code(errc::no_such_file_or_directory);
    case ERROR_ACCESS_DENIED:
    case WSAEACCES:
        return std::make_error_code(errc::permission_denied);
    case ERROR_FILENAME_EXCED_RANGE:
        return std::make_error_code(errc::filename_too_long);
    case ERROR_TOO_MANY_OPEN_FILES:
    case WSAEMFILE:
        return std::make_error_code(errc::too_many_files_open);
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_NO_SYSTEM_RESOURCES:
    case WSAENOBUFS:
        return std::make_error_code(errc::not_enough_memory);
    case ERROR_SEM_TIMEOUT:
    case WAIT_TIMEOUT:
    case WSAETIMEDOUT:
        return std::make_error_code(errc::timed_out);
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
        return std::make_error_code(errc::file_exists);
    case WSAEWOULDBLOCK:
    case ERROR_PIPE_BUSY:
        return std::make_error_code(errc::resource_unavailable_try_again);
    case WSAEADDRINUSE:
        return std::make_error_code(errc::address_in_use);
    case WSAECONNREFUSED:
        return std::make_error_code(errc::connection_refused);
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
    case ERROR_PIPE_NOT_CONNECTED:
        return std::make_error_code(errc::broken_pipe);
    default:
        return std::make_error_code(errc::io_error);
    }
}

std::string errorText(unsigned long code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = length > 0 ? utf8Of(text, length) : std::string();
    if (text)
        LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    if (message.empty())
        message = "system error " + std::to_string(code);
    return message;
}

std::string withForwardSlashes(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

} // namespace sdk::os::win32
