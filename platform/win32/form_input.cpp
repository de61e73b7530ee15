// The form's input: files dropped, the mouse, activation, keys and access keys, the focus cues
// and the context menu, each passed on to the form's events.
#include "platform/win32/form_window.h"

#include "platform/win32/accessible.h"
#include "platform/win32/os_win32.h"

#include <shellapi.h>

#include <algorithm>
#include <cwctype>

namespace platform::win32 {

void FormWindow::AcceptDroppedFiles()
{
    if (!form.HasHandler(L"Form", L"DropFile")) {
        return;
    }
    try {
        shell32_ = LoadSystemLibrary(L"shell32.dll");
        LibraryFunction<decltype(&::DragAcceptFiles)>(shell32_, "DragAcceptFiles")(hwnd(), TRUE);
    } catch (const Failure&) {
        shell32_.reset(); // a convenience: the form works without it
    }
}

// The first file dropped; Windows hands over the drop's memory, which DragFinish gives back.
void FormWindow::OnDropFiles(WPARAM drop)
{
    if (!shell32_) {
        return;
    }
    const auto query = LibraryFunction<decltype(&::DragQueryFileW)>(shell32_, "DragQueryFileW");
    const auto finish = LibraryFunction<decltype(&::DragFinish)>(shell32_, "DragFinish");
    const auto handle = reinterpret_cast<HDROP>(drop);
    EventArgs args;
    const UINT length = query(handle, 0, nullptr, 0);
    args.path.resize(length + 1);
    args.path.resize(query(handle, 0, args.path.data(), length + 1));
    finish(handle);
    if (!args.path.empty()) {
        Dispatch(L"Form", L"DropFile", args);
    }
}

void FormWindow::Dispatch(std::wstring_view control, std::wstring_view event, EventArgs& args)
{
    form.Fire(control, event, args);
    runtime_.SyncAll();
}

void FormWindow::Dispatch(std::wstring_view control, std::wstring_view event)
{
    EventArgs args;
    Dispatch(control, event, args);
}

int FormWindow::HitTest(POINT point) const
{
    const auto& controls = form.controls();
    for (std::size_t i = controls.size(); i-- > 0;) {
        if (IsPainted(controls[i]) && controls[i].visible) {
            const RECT rect = PixelRect(controls[i]);
            if (::PtInRect(&rect, point)) {
                return static_cast<int>(i);
            }
        }
    }
    return -1;
}

// A message without a control window (Enter and Esc through the dialog manager) is about no
// control, though the windowless controls have null entries.
int FormWindow::ChildIndex(HWND child) const
{
    if (child == nullptr) {
        return -1;
    }
    const auto found = std::find(children_.begin(), children_.end(), child);
    return found == children_.end() ? -1 : static_cast<int>(found - children_.begin());
}

// Mouse-move events carry the buttons held down, mouse-down events the button pressed.
EventArgs FormWindow::MouseArgs(UINT message, WPARAM wParam, LPARAM lParam) const
{
    EventArgs args;
    if (message == WM_MOUSEMOVE) {
        args.button = ((wParam & MK_LBUTTON) != 0 ? 1 : 0) | ((wParam & MK_RBUTTON) != 0 ? 2 : 0) |
                      ((wParam & MK_MBUTTON) != 0 ? 4 : 0);
    } else {
        args.button = message == WM_LBUTTONDOWN ? 1 : message == WM_RBUTTONDOWN ? 2 : 4;
    }
    args.shift = ((wParam & MK_SHIFT) != 0 ? 1 : 0) | ((wParam & MK_CONTROL) != 0 ? 2 : 0) |
                 (::GetKeyState(VK_MENU) < 0 ? 4 : 0);
    args.x = Twips(static_cast<short>(LOWORD(lParam)));
    args.y = Twips(static_cast<short>(HIWORD(lParam)));
    return args;
}

// Form_Activate runs when the window becomes the program's active window after another of the
// program's windows (or for the first time), not when the user comes back from another program.
void FormWindow::OnActivate(WPARAM wParam)
{
    if (LOWORD(wParam) == WA_INACTIVE || !shown) {
        return;
    }
    if (runtime_.lastActive == &form) {
        return;
    }
    runtime_.lastActive = &form;
    Dispatch(L"Form", L"Activate");
}

void FormWindow::ShowCues(bool focus, bool accessKeys)
{
    const bool newFocus = focus && !showFocus_;
    if (!newFocus && accessKeys == showAccessKeys_) {
        return;
    }
    showFocus_ = showFocus_ || focus;
    showAccessKeys_ = accessKeys;
    // The system's own controls follow the window's state; the form's painting follows its flags.
    const WORD hidden = (showFocus_ ? 0 : UISF_HIDEFOCUS) | (showAccessKeys_ ? 0 : UISF_HIDEACCEL);
    const WORD visible = (showFocus_ ? UISF_HIDEFOCUS : 0) | (showAccessKeys_ ? UISF_HIDEACCEL : 0);
    if (visible != 0) {
        ::SendMessageW(hwnd(), WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, visible), 0);
    }
    if (hidden != 0) {
        ::SendMessageW(hwnd(), WM_CHANGEUISTATE, MAKEWPARAM(UIS_SET, hidden), 0);
    }
    const auto& controls = form.controls();
    for (std::size_t i = 0; i < children_.size() && i < controls.size(); ++i) {
        if (children_[i] != nullptr && controls[i].command) {
            ::InvalidateRect(children_[i], nullptr, FALSE);
        } else if (children_[i] != nullptr && controls[i].accessKey != 0) {
            ::SetWindowTextW(children_[i], WindowTextOf(controls[i], showAccessKeys_).c_str());
        }
    }
}

// Alt and a letter: the control of that access key is clicked, as the dialog manager would, but
// also where its window text does not show the key.
bool FormWindow::AccessKey(wchar_t key)
{
    const auto& controls = form.controls();
    for (std::size_t i = 0; i < children_.size() && i < controls.size(); ++i) {
        const Control& control = controls[i];
        if (children_[i] != nullptr && control.accessKey != 0 && control.visible &&
            std::towupper(control.accessKey) == std::towupper(key) && ::IsWindowEnabled(children_[i])) {
            ::SendMessageW(children_[i], BM_CLICK, 0, 0);
            return true;
        }
    }
    return false;
}

HWND FormWindow::ChildOf(std::wstring_view control) const
{
    const auto& controls = form.controls();
    for (std::size_t i = 0; i < children_.size() && i < controls.size(); ++i) {
        if (controls[i].name == control) {
            return children_[i];
        }
    }
    return nullptr;
}

void FormWindow::ContextMenuAtFocus()
{
    HWND focus = ::GetFocus();
    const int focused = ChildIndex(focus);
    const std::wstring menu =
        focused >= 0 ? MenuOf(form.controls()[static_cast<std::size_t>(focused)]) : form.layout().contextMenu;
    if (menu.empty()) {
        return;
    }
    RECT rect{};
    if (focus != nullptr && ::IsChild(hwnd(), focus)) {
        ::GetWindowRect(focus, &rect);
    } else {
        ::GetClientRect(hwnd(), &rect);
        ::MapWindowPoints(hwnd(), nullptr, reinterpret_cast<POINT*>(&rect), 2);
        rect.bottom = rect.top;
    }
    runtime_.PopupMenuAt(*this, menu, POINT{rect.left, rect.bottom});
}

bool FormWindow::FireKey(int keyCode)
{
    if (!form.HasHandler(L"Form", L"KeyDown")) {
        return false;
    }
    EventArgs args;
    args.keyCode = keyCode;
    if (const int focused = ChildIndex(::GetFocus()); focused >= 0) {
        args.control = form.controls()[static_cast<std::size_t>(focused)].name;
    }
    args.shift = (::GetKeyState(VK_SHIFT) < 0 ? 1 : 0) | (::GetKeyState(VK_CONTROL) < 0 ? 2 : 0) |
                 (::GetKeyState(VK_MENU) < 0 ? 4 : 0);
    Dispatch(L"Form", L"KeyDown", args);
    return true;
}

} // namespace platform::win32
