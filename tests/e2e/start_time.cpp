// Measures a program's start: from its process start until a visible window with the title
// appears, in seconds; then ends the program.
//   start_time PROGRAM TITLE
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

struct Search {
    const wchar_t* title;
    DWORD process;
    bool found;
};

BOOL CALLBACK Match(HWND window, LPARAM lParam)
{
    auto* search = reinterpret_cast<Search*>(lParam);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    wchar_t title[256] = L"";
    ::GetWindowTextW(window, title, 256);
    if (owner == search->process && ::IsWindowVisible(window) && std::wcsstr(title, search->title) != nullptr) {
        search->found = true;
        return FALSE;
    }
    return TRUE;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: start_time PROGRAM TITLE\n");
        return 2;
    }
    std::wstring line = L"\"" + std::wstring(argv[1]) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    LARGE_INTEGER frequency{}, begin{}, now{};
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&begin);
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
        return 1;
    }
    Search search{argv[2], started.dwProcessId, false};
    for (int i = 0; i < 30000 && !search.found; ++i) {
        ::EnumWindows(&Match, reinterpret_cast<LPARAM>(&search));
        if (!search.found) {
            ::Sleep(1);
        }
    }
    ::QueryPerformanceCounter(&now);
    ::TerminateProcess(started.hProcess, 0);
    ::WaitForSingleObject(started.hProcess, 5000);
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    std::printf("%.4f\n", static_cast<double>(now.QuadPart - begin.QuadPart) / static_cast<double>(frequency.QuadPart));
    return search.found ? 0 : 1;
}
