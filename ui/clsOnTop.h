// Moves a top-level window into or out of the topmost band of the desktop's stacking order,
// keeping its position and size.
#pragma once

#include "platform/os.h"

namespace ui {

class clsOnTop {
public:
    explicit clsOnTop(platform::Os& os) : os_(os) {}

    void MakeTopMost(const platform::WindowHandle& hWnd);
    void MakeNormal(const platform::WindowHandle& hWnd);

    static constexpr platform::WindowHandle HWND_TOPMOST = -1;
    static constexpr platform::WindowHandle HWND_NOTOPMOST = -2;
    static constexpr unsigned SWP_NOSIZE = 0x0001;
    static constexpr unsigned SWP_NOMOVE = 0x0002;

private:
    platform::Os& os_;
};

} // namespace ui
