#include "platform/win32/taskbar.h"

#include "platform/win32/os_win32.h"

#include <algorithm>

namespace platform::win32 {

namespace {

bool HasButton(HWND window)
{
    const LONG_PTR exStyle = ::GetWindowLongPtrW(window, GWL_EXSTYLE);
    if ((exStyle & WS_EX_APPWINDOW) != 0) {
        return true;
    }
    return ::GetWindow(window, GW_OWNER) == nullptr && (exStyle & WS_EX_TOOLWINDOW) == 0;
}

} // namespace

HWND TaskbarButtonOf(HWND window)
{
    if (window == nullptr) {
        return nullptr;
    }
    if (HasButton(window)) {
        return window;
    }
    HWND root = ::GetAncestor(window, GA_ROOTOWNER);
    return root != nullptr && HasButton(root) ? root : nullptr;
}

bool Taskbar::Available()
{
    if (std::exchange(tried_, true)) {
        return list_.get() != nullptr;
    }
    try {
        Library ole32 = LoadSystemLibrary(L"ole32.dll");
        com_.emplace(
            LibraryFunction<decltype(&::CoInitializeEx)>(ole32, "CoInitializeEx")(nullptr, COINIT_APARTMENTTHREADED),
            LibraryFunction<decltype(&::CoUninitialize)>(ole32, "CoUninitialize"), L"the taskbar");
        const auto create = LibraryFunction<decltype(&::CoCreateInstance)>(ole32, "CoCreateInstance");
        ole32_ = std::move(ole32);
        // A system without the taskbar's progress (before Windows 7, a shell of another kind)
        // makes no object: the window's own bar shows the progress alone.
        if (FAILED(create(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, __uuidof(ITaskbarList3),
                          reinterpret_cast<void**>(list_.put()))) ||
            FAILED(list_->HrInit())) {
            list_.reset();
            com_.reset();
        }
    } catch (const Failure&) {
        com_.reset(); // no COM on this thread: the window's bar alone, as above
    }
    return list_.get() != nullptr;
}

void Taskbar::Show(HWND window, bool shown, int done, int total)
{
    HWND button = TaskbarButtonOf(window);
    if (button == nullptr || (!shown && !tried_) || !Available()) {
        return;
    }
    const HRESULT result = !shown       ? list_->SetProgressState(button, TBPF_NOPROGRESS)
                           : total <= 0 ? list_->SetProgressState(button, TBPF_INDETERMINATE)
                                        : list_->SetProgressValue(button, static_cast<ULONGLONG>(std::max(done, 0)),
                                                                  static_cast<ULONGLONG>(total));
    if (FAILED(result)) {
        // The button only repeats what the window's bar shows: a shell that stopped answering
        // (restarted, or one that lacks this part) must not end the work or the program. The
        // taskbar is left alone for the rest of the run, and the window's bar goes on.
        list_.reset();
    }
}

} // namespace platform::win32
