// The form's real child windows: the check box and the text box.
#include "platform/win32/form_window.h"

#include "platform/win32/os_win32.h"

#include <algorithm>

namespace platform::win32 {

void FormWindow::CreateChildren(HINSTANCE instance)
{
    const auto& controls = form.layout().controls;
    children_.assign(controls.size(), nullptr);
    // Child windows take the focus in the order of their tab index.
    std::vector<std::size_t> order(controls.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return controls[a].tabIndex < controls[b].tabIndex; });
    for (std::size_t i : order) {
        const Control& control = controls[i];
        const wchar_t* windowClass = nullptr;
        DWORD style = WS_CHILD | WS_TABSTOP | (control.visible ? WS_VISIBLE : 0);
        DWORD exStyle = 0;
        if (control.kind == ControlKind::CheckBox) {
            windowClass = L"BUTTON";
            style |= BS_AUTOCHECKBOX;
        } else if (control.kind == ControlKind::TextBox) {
            windowClass = L"EDIT";
            style |= ES_MULTILINE | ES_AUTOHSCROLL | ES_AUTOVSCROLL | ES_WANTRETURN | WS_HSCROLL | WS_VSCROLL;
            exStyle = WS_EX_CLIENTEDGE;
        } else {
            continue;
        }
        HWND child =
            ::CreateWindowExW(exStyle, windowClass, control.caption.c_str(), style, 0, 0, 0, 0, hwnd(),
                              reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kFirstChildId + i)), instance, nullptr);
        if (child == nullptr) {
            ThrowLastError(L"Creating the control", control.name);
        }
        ::SetPropW(child, kChildProcProperty,
                   reinterpret_cast<HANDLE>(
                       ::SetWindowLongPtrW(child, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&FormWindow::ChildProc))));
        ::SetPropW(child, kFormProperty, this);
        if (control.kind == ControlKind::CheckBox) {
            ::SendMessageW(child, BM_SETCHECK, static_cast<WPARAM>(control.value), 0);
        }
        children_[i] = child;
    }
    PlaceChildren();
}

void FormWindow::PlaceChildren()
{
    const auto& controls = form.controls();
    for (std::size_t i = 0; i < children_.size(); ++i) {
        if (children_[i] != nullptr) {
            const RECT rect = PixelRect(controls[i]);
            ::SetWindowPos(children_[i], nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                           SWP_NOZORDER | SWP_NOACTIVATE);
            ::SendMessageW(children_[i], WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), TRUE);
        }
    }
}

LRESULT CALLBACK FormWindow::ChildProc(HWND child, UINT message, WPARAM wParam, LPARAM lParam) noexcept
{
    auto* self = static_cast<FormWindow*>(::GetPropW(child, kFormProperty));
    auto original = reinterpret_cast<WNDPROC>(::GetPropW(child, kChildProcProperty));
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(child, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
        ::RemovePropW(child, kFormProperty);
        ::RemovePropW(child, kChildProcProperty);
        return ::CallWindowProcW(original, child, message, wParam, lParam);
    }
    try {
        const Win32Runtime::Busy busy(self->runtime_);
        return self->HandleChild(child, original, message, wParam, lParam);
    } catch (...) {
        ::FatalAppExitW(0, L"LarkSpool failed inside the window runtime.");
        return 0;
    }
}

// The check box and the text box report mouse moves and presses like the painted controls.
LRESULT FormWindow::HandleChild(HWND child, WNDPROC original, UINT message, WPARAM wParam, LPARAM lParam)
{
    const int index = ChildIndex(child);
    if (index >= 0) {
        const std::wstring& name = form.controls()[static_cast<std::size_t>(index)].name;
        if (message == WM_MOUSEMOVE) {
            EventArgs args = MouseArgs(message, wParam, lParam);
            Dispatch(name, L"MouseMove", args);
        } else if (message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN || message == WM_MBUTTONDOWN) {
            EventArgs args = MouseArgs(message, wParam, lParam);
            Dispatch(name, L"MouseDown", args);
        }
    }
    return ::CallWindowProcW(original, child, message, wParam, lParam);
}

} // namespace platform::win32
