#include "ui/clsOnTop.h"

namespace ui {

// The result is not looked at: a stale handle simply leaves the window where it is.
void clsOnTop::MakeTopMost(const platform::WindowHandle& hWnd)
{
    os_.SetWindowPos(hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void clsOnTop::MakeNormal(const platform::WindowHandle& hWnd)
{
    os_.SetWindowPos(hWnd, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

} // namespace ui
