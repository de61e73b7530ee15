// The read-only text box: a window of the runtime's own that keeps its text as lines, so that
// text appended at the end costs only its new lines however long the text already is.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace platform::win32 {

inline constexpr wchar_t kTextViewClass[] = L"LarkSpoolTextView";

// Adds wParam characters at lParam (const wchar_t*) to the end of the text.
inline constexpr UINT kTextViewAppend = WM_USER + 1;
// How many characters the view was given since its text was last set (lines may end in LF alone,
// which WM_GETTEXT answers as CR LF).
inline constexpr UINT kTextViewGivenLength = WM_USER + 2;

// Registers the window class for the module; harmless when it already is.
void RegisterTextView(HINSTANCE instance);
bool IsTextView(HWND window);
// Brings the view from showing `before` to showing `now`: appends when `now` extends it.
void SyncTextView(HWND view, const std::wstring& now, const std::wstring& before);

} // namespace platform::win32
