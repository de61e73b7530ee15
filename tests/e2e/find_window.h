// The end-to-end helpers find LarkSpool's windows by a part of their title.
#pragma once

#include <windows.h>

#include <cwchar>

namespace e2e {

// The first visible top-level window whose title contains the text, or null.
inline HWND FindWindowWithTitle(const wchar_t* text)
{
    struct Search {
        const wchar_t* text;
        HWND found;
    } search{text, nullptr};
    ::EnumWindows(
        [](HWND window, LPARAM lParam) -> BOOL {
            auto* searching = reinterpret_cast<Search*>(lParam);
            wchar_t title[512] = L"";
            ::GetWindowTextW(window, title, 512);
            if (::IsWindowVisible(window) && std::wcsstr(title, searching->text) != nullptr) {
                searching->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

} // namespace e2e
