#include "sdk/os/Process.h"

#include "sdk/os/win32/Text.h"

#include <windows.h>

#include <chrono>
#include <thread>

namespace sdk::os {

namespace {

std::string directoryOf(const std::string& path) {
    const std::string forward = win32::withForwardSlashes(path);
    const auto slash = forward.rfind('/');
    return slash == std::string::npos ? "." : forward.substr(0, slash);
}

std::optional<std::string> moduleDirectory(HMODULE module) {
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size())
        return std::nullopt;
    path.resize(length);
    return directoryOf(win32::utf8Of(path));
}

// One argument as CommandLineToArgvW reads it back: quoted, with the
// backslashes before a quote doubled.
std::wstring quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return argument;
    std::wstring text = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        text.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        text += c;
    }
    text.append(backslashes * 2, L'\\');
    return text + L"\"";
}

HANDLE processOf(const OwnedHandle& handle) {
    return reinterpret_cast<HANDLE>(handle.get());
}

BOOL CALLBACK askToClose(HWND window, LPARAM processId) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == static_cast<DWORD>(processId))
        PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

} // namespace

ProcessId currentProcessId() {
    return GetCurrentProcessId();
}

bool isExecutable(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(win32::wideOf(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// A copy mapped from memory by the program's own loader is no module of the
// system's: it has no file, and the folder is the program's alone.
std::optional<std::string> libraryDirectory() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&libraryDirectory), &module))
        return std::nullopt;
    return moduleDirectory(module);
}

std::optional<std::string> programDirectory() {
    return moduleDirectory(nullptr);
}

StartedProcess startProcess(const std::string& program, const std::vector<std::string>& arguments) {
    const std::wstring path = win32::wideOf(program);
    std::wstring commandLine = quoted(path);
    for (const auto& argument : arguments)
        commandLine += L" " + quoted(win32::wideOf(argument));

    // Only the standard output and error go to the window, as on every
    // system; its standard input reads nothing.
    HANDLE inherited[2] = {};
    DWORD count = 0;
    for (const DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        HANDLE handle = GetStdHandle(which);
        if (handle && handle != INVALID_HANDLE_VALUE &&
            SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT) &&
            (count == 0 || inherited[0] != handle))
            inherited[count++] = handle;
    }
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<unsigned char> listBytes(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listBytes.data());
    const bool listed =
        count > 0 && InitializeProcThreadAttributeList(list, 1, 0, &size) &&
        UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                  count * sizeof(HANDLE), nullptr, nullptr);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    if (listed) {
        startup.lpAttributeList = list;
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        startup.StartupInfo.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    }
    PROCESS_INFORMATION started{};
    const BOOL ok = CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr,
                                   listed ? TRUE : FALSE, listed ? EXTENDED_STARTUPINFO_PRESENT : 0,
                                   nullptr, nullptr, &startup.StartupInfo, &started);
    const DWORD error = GetLastError();
    if (listed)
        DeleteProcThreadAttributeList(list);
    if (!ok)
        return {nullptr, win32::errorText(error) + " (system error " + std::to_string(error) + ")"};
    CloseHandle(started.hThread);
    return {std::make_unique<ChildProcess>(started.dwProcessId,
                                           reinterpret_cast<Handle>(started.hProcess)),
            {}};
}

bool ChildProcess::running() {
    if (reaped || !process.valid())
        return false;
    reaped = WaitForSingleObject(processOf(process), 0) != WAIT_TIMEOUT;
    return !reaped;
}

// Asked to end by closing its windows, as a person would; ended after a
// second if it has not.
ChildProcess::~ChildProcess() {
    if (!running())
        return;
    EnumWindows(askToClose, static_cast<LPARAM>(pid));
    if (WaitForSingleObject(processOf(process), 1000) == WAIT_TIMEOUT) {
        TerminateProcess(processOf(process), 1);
        WaitForSingleObject(processOf(process), INFINITE);
    }
}

} // namespace sdk::os
