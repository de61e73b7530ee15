// The progress a taskbar button shows (ITaskbarList3), for the forms' progress bars.
#pragma once

#include "platform/win32/com.h"
#include "platform/win32/handles.h"

#include <shobjidl.h>

#include <optional>

namespace platform::win32 {

// The window whose taskbar button stands for `window`, by the shell's rules: the window itself
// or its root owner, whichever is unowned and no tool window, or asks for a button. Null when
// neither has one.
HWND TaskbarButtonOf(HWND window);

// COM and the taskbar's object are made with the first progress shown: most runs show none.
class Taskbar {
public:
    Taskbar() = default;
    ~Taskbar() = default;
    Taskbar(const Taskbar&) = delete;
    Taskbar& operator=(const Taskbar&) = delete;

    // The button of `window` shows `done` of `total`, or work without a count (`total` 0), or,
    // when not `shown`, nothing.
    void Show(HWND window, bool shown, int done, int total);
    // Whether the system has the taskbar's progress; asked once.
    bool Available();

private:
    bool tried_ = false;
    Library ole32_;
    std::optional<ComStarted> com_;
    ComPtr<ITaskbarList3> list_; // last: released before COM ends
};

} // namespace platform::win32
