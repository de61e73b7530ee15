// Looks at LarkSpool's windows from outside, as the end-to-end tests need:
//   probe window TEXT   geometry and state of the visible top-level window whose title contains TEXT
//   probe foreground    title of the foreground window
//   probe screen        size of the primary screen
//   probe wait TEXT S   waits up to S seconds for such a window; exit code 1 if none came
//   probe checkbox TEXT state of the check box in that window
//   probe menu          whether a popup menu is open
//   probe sysmenu TEXT  opens that window's system menu as Alt+Space does, which a window manager
//                       may keep for itself
//   probe run LINE      starts a command line, waits for it and prints the seconds it took
//   probe quit TEXT CODE  posts WM_QUIT with the exit code to the thread of that window
//   probe endsession TEXT tells that window that the session ends, as a log-off does, and prints
//                         its answer to the question whether it may end
//   probe progress TEXT S watches the progress bar of that window for up to S seconds, until it has
//                         shown and gone again: a line "bar=VISIBLE MARQUEE POSITION MAXIMUM" at
//                         each change
// Output is one "key=value" per line, for the shell.
#include "find_window.h"

#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

void PrintTitle(const char* key, HWND window)
{
    wchar_t title[512] = L"";
    if (window != nullptr) {
        ::GetWindowTextW(window, title, 512);
    }
    std::printf("%s=%ls\n", key, title);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc >= 2 && std::wcscmp(argv[1], L"screen") == 0) {
        std::printf("width=%d\nheight=%d\n", ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN));
        return 0;
    }
    if (argc >= 2 && std::wcscmp(argv[1], L"foreground") == 0) {
        PrintTitle("foreground", ::GetForegroundWindow());
        return 0;
    }
    if (argc >= 3 && std::wcscmp(argv[1], L"run") == 0) {
        std::wstring line = argv[2];
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        LARGE_INTEGER frequency{};
        LARGE_INTEGER start{};
        LARGE_INTEGER end{};
        ::QueryPerformanceFrequency(&frequency);
        ::QueryPerformanceCounter(&start);
        if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
            return 1;
        }
        ::WaitForSingleObject(process.hProcess, INFINITE);
        ::QueryPerformanceCounter(&end);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
        std::printf("seconds=%.3f\n",
                    static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart));
        return 0;
    }
    if (argc >= 2 && std::wcscmp(argv[1], L"menu") == 0) {
        HWND menu = ::FindWindowW(L"#32768", nullptr);
        std::printf("menu=%d\n", menu != nullptr && ::IsWindowVisible(menu) ? 1 : 0);
        return 0;
    }
    if (argc >= 3 && std::wcscmp(argv[1], L"sysmenu") == 0) {
        HWND window = e2e::FindWindowWithTitle(argv[2]);
        return window != nullptr && ::PostMessageW(window, WM_SYSCOMMAND, SC_KEYMENU, L' ') ? 0 : 1;
    }
    if (argc >= 3 && std::wcscmp(argv[1], L"checkbox") == 0) {
        HWND window = e2e::FindWindowWithTitle(argv[2]);
        HWND check = window != nullptr ? ::FindWindowExW(window, nullptr, L"BUTTON", nullptr) : nullptr;
        if (check == nullptr) {
            return 1;
        }
        std::printf("checked=%d\n", static_cast<int>(::SendMessageW(check, BM_GETCHECK, 0, 0)));
        return 0;
    }
    if (argc >= 4 && std::wcscmp(argv[1], L"wait") == 0) {
        const int tenths = _wtoi(argv[3]) * 10;
        for (int i = 0; i < tenths; ++i) {
            if (e2e::FindWindowWithTitle(argv[2]) != nullptr) {
                return 0;
            }
            ::Sleep(100);
        }
        return 1;
    }
    if (argc >= 4 && std::wcscmp(argv[1], L"quit") == 0) {
        HWND window = e2e::FindWindowWithTitle(argv[2]);
        const DWORD thread = window != nullptr ? ::GetWindowThreadProcessId(window, nullptr) : 0;
        if (thread == 0 || !::PostThreadMessageW(thread, WM_QUIT, static_cast<WPARAM>(_wtoi(argv[3])), 0)) {
            return 1;
        }
        return 0;
    }
    if (argc >= 3 && std::wcscmp(argv[1], L"endsession") == 0) {
        HWND window = e2e::FindWindowWithTitle(argv[2]);
        if (window == nullptr) {
            return 1;
        }
        DWORD_PTR mayEnd = 0;
        ::SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 5000, &mayEnd);
        std::printf("query=%d\n", mayEnd != 0 ? 1 : 0);
        std::fflush(stdout);
        // The program may end while it handles this: no answer comes then.
        ::SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 5000, nullptr);
        return 0;
    }
    if (argc >= 4 && std::wcscmp(argv[1], L"progress") == 0) {
        HWND window = e2e::FindWindowWithTitle(argv[2]);
        HWND bar = window != nullptr ? ::FindWindowExW(window, nullptr, L"msctls_progress32", nullptr) : nullptr;
        if (bar == nullptr) {
            return 1;
        }
        std::string last;
        bool shown = false;
        for (int i = 0; i < _wtoi(argv[3]) * 20; ++i) {
            const bool visible = ::IsWindowVisible(bar) != FALSE;
            const bool marquee = (::GetWindowLongPtrW(bar, GWL_STYLE) & PBS_MARQUEE) != 0;
            char line[96];
            std::snprintf(line, sizeof line, "bar=%d %d %ld %ld\n", visible ? 1 : 0, marquee ? 1 : 0,
                          static_cast<long>(::SendMessageW(bar, PBM_GETPOS, 0, 0)),
                          static_cast<long>(::SendMessageW(bar, PBM_GETRANGE, FALSE, 0)));
            if (line != last) {
                std::fputs(line, stdout);
                std::fflush(stdout);
                last = line;
            }
            shown = shown || visible;
            if (shown && !visible) {
                break;
            }
            ::Sleep(50);
        }
        return 0;
    }
    if (argc >= 3 && std::wcscmp(argv[1], L"window") == 0) {
        HWND window = e2e::FindWindowWithTitle(argv[2]);
        if (window == nullptr) {
            std::printf("found=0\n");
            return 1;
        }
        RECT outer{};
        RECT client{};
        ::GetWindowRect(window, &outer);
        ::GetClientRect(window, &client);
        POINT origin{0, 0};
        ::ClientToScreen(window, &origin);
        const LONG_PTR exStyle = ::GetWindowLongPtrW(window, GWL_EXSTYLE);
        std::printf("found=1\nleft=%ld\ntop=%ld\nwidth=%ld\nheight=%ld\n", outer.left, outer.top,
                    outer.right - outer.left, outer.bottom - outer.top);
        std::printf("client_x=%ld\nclient_y=%ld\nclient_width=%ld\nclient_height=%ld\n", origin.x, origin.y,
                    client.right, client.bottom);
        std::printf("topmost=%d\nenabled=%d\ntoolwindow=%d\n", (exStyle & WS_EX_TOPMOST) != 0 ? 1 : 0,
                    ::IsWindowEnabled(window) ? 1 : 0, (exStyle & WS_EX_TOOLWINDOW) != 0 ? 1 : 0);
        PrintTitle("title", window);
        PrintTitle("owner", ::GetWindow(window, GW_OWNER));
        return 0;
    }
    if (argc >= 3 && std::wcscmp(argv[1], L"says") == 0) { // a message box's words
        HWND window = e2e::FindWindowWithTitle(argv[2]);
        if (window == nullptr) {
            return 1;
        }
        for (HWND child = ::FindWindowExW(window, nullptr, L"Static", nullptr); child != nullptr;
             child = ::FindWindowExW(window, child, L"Static", nullptr)) {
            PrintTitle("static", child);
        }
        return 0;
    }
    std::fprintf(stderr, "usage: probe window TEXT | foreground | screen | wait TEXT SECONDS | checkbox TEXT | menu | "
                         "run LINE | quit TEXT CODE | endsession TEXT | says TEXT | progress TEXT SECONDS\n");
    return 2;
}
