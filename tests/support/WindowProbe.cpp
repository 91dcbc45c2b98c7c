// window-probe (a Windows program, run under Wine by the window tests):
// what Windows itself says about a program's window, which X cannot tell.
//
//   window-probe window TITLE [SECONDS]
//     waits for the top-level window of that exact title and prints
//       client W H        its client area (GetClientRect)
//       frame W H         its whole window (GetWindowRect)
//       adjusted W H      the window a client of that size needs with the
//                         window's styles (AdjustWindowRectEx: Windows' metrics)
//       origin X Y        the client area's top-left inside the window
//       screen X Y        the client area's top-left on the screen
//       caption H         SM_CYCAPTION
//       centred DX DY     the window's centre minus the work area's centre
//       dpi N             the window's DPI (96 at 100%)
//   window-probe children TITLE [SECONDS]
//     prints "child CLASS X Y W H TEXT" for each visible control of that
//     window, in its client coordinates, and after each control with text
//     "needs TW TH": the extent of its text in the font Windows gives
//     controls at the window's DPI (the message font), which a control must
//     hold for its text not to be cut
//   window-probe box CAPTION [SECONDS]
//     waits for the message box of that caption and prints
//       text ...          its message text, a line for each part shown apart
//   window-probe icons EXE
//     prints "icon W H" for each image of the executable's first icon group
//     (the one Explorer shows) and "icons N", the number of groups.
// (A window's icon is not asked for: under Wine WM_GETICON from another
// process answers null; X's _NET_WM_ICON shows it instead.)
// The probe is DPI aware: it sees the windows' real pixels at any scale.
// Exits 1 with a message when the window never appears.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

HWND waitForWindow(const wchar_t* className, const std::wstring& title, int seconds) {
    // One look at least: SECONDS 0 asks whether the window is there now.
    for (int i = 0;; ++i) {
        if (HWND window = FindWindowW(className, title.c_str()); window && IsWindowVisible(window))
            return window;
        if (i >= seconds * 10)
            return nullptr;
        Sleep(100);
    }
}

std::wstring wide(const char* text) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring result(length > 0 ? length - 1 : 0, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, result.data(), length);
    return result;
}

std::string narrow(const std::wstring& text) {
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string result(length > 0 ? length - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, result.data(), length, nullptr, nullptr);
    return result;
}

int describeWindow(HWND window) {
    RECT client{};
    RECT frame{};
    GetClientRect(window, &client);
    GetWindowRect(window, &frame);
    std::printf("client %ld %ld\n", client.right, client.bottom);
    std::printf("frame %ld %ld\n", frame.right - frame.left, frame.bottom - frame.top);

    RECT adjusted = client;
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
    AdjustWindowRectEx(&adjusted, style, GetMenu(window) != nullptr, exStyle);
    std::printf("adjusted %ld %ld\n", adjusted.right - adjusted.left,
                adjusted.bottom - adjusted.top);

    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    std::printf("origin %ld %ld\n", origin.x - frame.left, origin.y - frame.top);
    std::printf("screen %ld %ld\n", origin.x, origin.y);
    std::printf("caption %d\n", GetSystemMetrics(SM_CYCAPTION));

    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    std::printf("centred %ld %ld\n", (frame.left + frame.right) / 2 - (work.left + work.right) / 2,
                (frame.top + frame.bottom) / 2 - (work.top + work.bottom) / 2);
    std::printf("dpi %u\n", GetDpiForWindow(window));

    return 0;
}

// The size of one line of text in the message font at that DPI (a
// control's font belongs to its process: it cannot be asked for from here).
SIZE textExtent(const wchar_t* text, UINT dpi) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi);
    HDC screen = GetDC(nullptr);
    HFONT font = CreateFontIndirectW(&metrics.lfMessageFont);
    HGDIOBJ previous = SelectObject(screen, font);
    SIZE extent{};
    GetTextExtentPoint32W(screen, text, lstrlenW(text), &extent);
    SelectObject(screen, previous);
    DeleteObject(font);
    ReleaseDC(nullptr, screen);
    return extent;
}

BOOL CALLBACK describeChild(HWND child, LPARAM param) {
    if (!IsWindowVisible(child))
        return TRUE;
    wchar_t className[64] = {};
    wchar_t text[256] = {};
    GetClassNameW(child, className, 64);
    GetWindowTextW(child, text, 256);
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, reinterpret_cast<HWND>(param), reinterpret_cast<POINT*>(&rect), 2);
    std::printf("child %s %ld %ld %ld %ld %s\n", narrow(className).c_str(), rect.left, rect.top,
                rect.right - rect.left, rect.bottom - rect.top, narrow(text).c_str());
    if (text[0] != L'\0') {
        const SIZE extent = textExtent(text, GetDpiForWindow(child));
        std::printf("needs %ld %ld\n", extent.cx, extent.cy);
    }
    return TRUE;
}

// The message text: the box's static controls with text (a classic message
// box's 0xFFFF, or the content of Wine's task dialog, which shows a message
// of several paragraphs as a main instruction and the rest below it).
BOOL CALLBACK findMessage(HWND child, LPARAM param) {
    wchar_t className[16] = {};
    GetClassNameW(child, className, 16);
    wchar_t text[1024] = {};
    if (lstrcmpiW(className, L"Static") != 0 || GetWindowTextW(child, text, 1024) == 0)
        return TRUE;
    std::printf("text %s\n", narrow(text).c_str());
    ++*reinterpret_cast<int*>(param);
    return TRUE;
}

int describeBox(HWND box) {
    int texts = 0;
    EnumChildWindows(box, findMessage, reinterpret_cast<LPARAM>(&texts));
    if (texts == 0)
        std::printf("text \n");
    return 0;
}

BOOL CALLBACK countGroup(HMODULE module, LPCWSTR, LPWSTR name, LONG_PTR param) {
    auto* groups = reinterpret_cast<int*>(param);
    if ((*groups)++ != 0)
        return TRUE;
    // The first group: its entries, as the icon directory lists them.
    HRSRC found = FindResourceW(module, name, MAKEINTRESOURCEW(14)); // RT_GROUP_ICON
    const auto* directory = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
    const DWORD size = SizeofResource(module, found);
    if (!directory || size < 6)
        return TRUE;
    const unsigned count = directory[4] | directory[5] << 8;
    for (unsigned i = 0; i < count && 6 + (i + 1) * 14 <= size; ++i) {
        const BYTE* entry = directory + 6 + i * 14;
        std::printf("icon %d %d\n", entry[0] ? entry[0] : 256, entry[1] ? entry[1] : 256);
    }
    return TRUE;
}

int describeIcons(const std::wstring& path) {
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) {
        std::fprintf(stderr, "window-probe: cannot open %s\n", narrow(path).c_str());
        return 1;
    }
    int groups = 0;
    EnumResourceNamesW(module, MAKEINTRESOURCEW(14), countGroup,
                       reinterpret_cast<LONG_PTR>(&groups));
    std::printf("icons %d\n", groups);
    FreeLibrary(module);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: window-probe window|children TITLE [SECONDS] | box CAPTION [SECONDS]"
                     " | icons EXE\n");
        return 2;
    }
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    const std::string what = argv[1];
    const std::wstring name = wide(argv[2]);
    const int seconds = argc > 3 ? std::atoi(argv[3]) : 15;
    int result = 2;
    if (what == "icons") {
        result = describeIcons(name);
    } else if (what == "window" || what == "box" || what == "children") {
        // A message box is a dialog of the class "#32770".
        HWND window = waitForWindow(what == "box" ? L"#32770" : nullptr, name, seconds);
        if (!window) {
            std::fprintf(stderr, "window-probe: no window '%s' within %ds\n", argv[2], seconds);
            return 1;
        }
        if (what == "children") {
            EnumChildWindows(window, describeChild, reinterpret_cast<LPARAM>(window));
            result = 0;
        } else {
            result = what == "box" ? describeBox(window) : describeWindow(window);
        }
    }
    std::fflush(stdout);
    return result;
}
