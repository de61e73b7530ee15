// Guards for changing a control: its own notifications not reported back meanwhile, its drawing
// held until the change is done.
#pragma once

#include <windows.h>

#include <utility>

namespace platform::win32 {

// Sets a flag for the time of a change the window's own notifications would report back.
class Quiet {
public:
    explicit Quiet(bool& flag) noexcept : flag_(flag), old_(std::exchange(flag, true)) {}
    ~Quiet() { flag_ = old_; }
    Quiet(const Quiet&) = delete;
    Quiet& operator=(const Quiet&) = delete;

private:
    bool& flag_;
    bool old_;
};

// Stops a control drawing while it changes much, then draws it once.
class NoRedraw {
public:
    NoRedraw(HWND window, bool active) noexcept : window_(active ? window : nullptr)
    {
        if (window_ != nullptr) {
            ::SendMessageW(window_, WM_SETREDRAW, FALSE, 0);
        }
    }
    ~NoRedraw()
    {
        if (window_ != nullptr) {
            ::SendMessageW(window_, WM_SETREDRAW, TRUE, 0);
            ::InvalidateRect(window_, nullptr, TRUE);
        }
    }
    NoRedraw(const NoRedraw&) = delete;
    NoRedraw& operator=(const NoRedraw&) = delete;

private:
    HWND window_;
};

} // namespace platform::win32
