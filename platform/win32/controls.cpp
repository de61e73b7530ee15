// The form's real child windows: made, placed and kept up to date with the form's data (the check
// boxes, options, combo boxes, text boxes and progress bars here; the lists in list_view.cpp), and
// what they report back.
#include "platform/win32/form_window.h"

#include "platform/win32/accessible.h"
#include "platform/win32/control_guards.h"
#include "platform/win32/os_win32.h"

#include <algorithm>
#include <limits>

namespace platform::win32 {

void FormWindow::CreateChildren(HINSTANCE instance)
{
    const auto& controls = form.layout().controls;
    children_.assign(controls.size(), nullptr);
    childProcs_.assign(controls.size(), nullptr);
    // Child windows take the focus in the order of their tab index.
    std::vector<std::size_t> order(controls.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return controls[a].tabIndex < controls[b].tabIndex; });
    for (std::size_t i : order) {
        const Control& control = controls[i];
        anchored_ = anchored_ || control.anchor != 0;
        const wchar_t* windowClass = nullptr;
        DWORD style = WS_CHILD | WS_TABSTOP | (control.visible ? WS_VISIBLE : 0);
        DWORD exStyle = 0;
        if (control.kind == ControlKind::CheckBox) {
            windowClass = L"BUTTON";
            style |= BS_AUTOCHECKBOX;
        } else if (control.kind == ControlKind::Option) {
            windowClass = L"BUTTON";
            style |= BS_AUTORADIOBUTTON | (control.group ? WS_GROUP : 0);
        } else if (control.kind == ControlKind::ComboBox) {
            windowClass = L"COMBOBOX";
            style |= CBS_DROPDOWNLIST | WS_VSCROLL;
        } else if (control.kind == ControlKind::Label && control.command) {
            // Owner-drawn buttons that look exactly like the painted labels.
            windowClass = kCommandClass;
            style |= BS_OWNERDRAW;
        } else if (control.kind == ControlKind::Picture && !IsWindowless(control)) {
            windowClass = kCommandClass;
            style = (style & ~WS_TABSTOP) | BS_OWNERDRAW;
        } else if (control.kind == ControlKind::Label && !IsWindowless(control)) {
            windowClass = L"STATIC";
            style = (style & ~WS_TABSTOP) | SS_OWNERDRAW | SS_NOTIFY;
        } else if (control.kind == ControlKind::TextBox && control.readOnly) {
            // Steps and messages, wrapped at the box's width.
            windowClass = L"EDIT";
            style |= ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY | WS_VSCROLL;
            exStyle = WS_EX_CLIENTEDGE;
        } else if (control.kind == ControlKind::TextBox) {
            windowClass = L"EDIT";
            style |= control.multiLine
                         ? ES_MULTILINE | ES_AUTOHSCROLL | ES_AUTOVSCROLL | ES_WANTRETURN | WS_HSCROLL | WS_VSCROLL
                         : ES_AUTOHSCROLL;
            exStyle = WS_EX_CLIENTEDGE;
        } else if (control.kind == ControlKind::ProgressBar) {
            runtime_.LoadCommonControls();
            windowClass = PROGRESS_CLASSW;
            style &= ~WS_TABSTOP;
        } else if (control.kind == ControlKind::ListView) {
            runtime_.LoadCommonControls();
            windowClass = WC_LISTVIEWW;
            // The list asks for the texts of the rows in view only: a thousand rows cost nothing
            // until they are scrolled to.
            style |= LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS | (control.multiSelect ? 0 : LVS_SINGLESEL);
            exStyle = WS_EX_CLIENTEDGE;
        } else {
            continue;
        }
        HWND child =
            ::CreateWindowExW(exStyle, windowClass, WindowTextOf(control, false).c_str(), style, 0, 0, 0, 0, hwnd(),
                              reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kFirstChildId + i)), instance, nullptr);
        if (child == nullptr) {
            ThrowLastError(L"Creating the control", control.name);
        }
        children_[i] = child;
        ::SetWindowLongPtrW(child, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        childProcs_[i] = reinterpret_cast<WNDPROC>(
            ::SetWindowLongPtrW(child, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&FormWindow::ChildProc)));
        if (control.kind == ControlKind::CheckBox || control.kind == ControlKind::Option) {
            ::SendMessageW(child, BM_SETCHECK, static_cast<WPARAM>(control.value), 0);
        } else if (control.kind == ControlKind::ComboBox) {
            for (const std::wstring& item : control.items) {
                ::SendMessageW(child, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
            }
            ::SendMessageW(child, CB_SETCURSEL, static_cast<WPARAM>(control.value), 0);
        } else if (control.kind == ControlKind::TextBox) {
            ::SendMessageW(child, EM_SETLIMITTEXT, 0, 0); // no limit: appended texts may be long
        } else if (control.kind == ControlKind::ListView) {
            const LPARAM exStyles = LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER;
            ::SendMessageW(child, LVM_SETEXTENDEDLISTVIEWSTYLE, exStyles, exStyles);
            for (std::size_t column = 0; column < control.columns.size(); ++column) {
                std::wstring caption = control.columns[column].caption;
                LVCOLUMNW heading{};
                heading.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
                heading.pszText = caption.data();
                heading.cx = Pixels(control.columns[column].width);
                heading.iSubItem = static_cast<int>(column);
                ::SendMessageW(child, LVM_INSERTCOLUMNW, column, reinterpret_cast<LPARAM>(&heading));
            }
            SetListColors(child, control);
            SetSortArrow(child, control);
            // The window starts empty; shown_ says it shows the layout's rows.
            SyncList(child, shown_[i], Control{});
        } else if (control.kind == ControlKind::ProgressBar) {
            SyncProgress(child, control, control, true);
        }
    }
    PlaceChildren();
    UpdateTabStops();
}

void FormWindow::PlaceChildren()
{
    const auto& controls = form.controls();
    for (std::size_t i = 0; i < children_.size(); ++i) {
        if (children_[i] != nullptr) {
            const RECT rect = PixelRect(controls[i]);
            ::SetWindowPos(children_[i], nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                           SWP_NOZORDER | SWP_NOACTIVATE);
            const bool names = controls[i].kind == ControlKind::ListView || controls[i].kind == ControlKind::TextBox;
            ::SendMessageW(children_[i], WM_SETFONT, reinterpret_cast<WPARAM>((names ? namesFont_ : font_).get()),
                           TRUE);
            if (controls[i].kind == ControlKind::ListView) {
                for (std::size_t column = 0; column < controls[i].columns.size(); ++column) {
                    ::SendMessageW(children_[i], LVM_SETCOLUMNWIDTH, column, Pixels(controls[i].columns[column].width));
                }
            }
        }
    }
}

// Anchored controls follow the client area; the others keep the layout's place.
void FormWindow::FollowClientSize(SIZE client)
{
    if (client.cx == client_.cx && client.cy == client_.cy) {
        return;
    }
    client_ = client;
    UpdateTabStops();
    if (!anchored_) {
        return;
    }
    const auto& controls = form.controls();
    for (std::size_t i = 0; i < children_.size() && i < controls.size(); ++i) {
        if (children_[i] != nullptr && controls[i].anchor != 0) {
            const RECT rect = PixelRect(controls[i]);
            ::SetWindowPos(children_[i], nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                           SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
    UpdateToolRects();
}

void FormWindow::SyncChild(HWND child, Control& now, const Control& before, bool captionChanged)
{
    if (now.kind == ControlKind::ProgressBar) {
        SyncProgress(child, now, before, false);
    }
    if (now.kind == ControlKind::ListView) {
        SyncList(child, now, before);
        if (now.backColor != before.backColor || now.foreColor != before.foreColor) {
            SetListColors(child, now);
        }
        if (now.sortColumn != before.sortColumn || now.sortDescending != before.sortDescending) {
            SetSortArrow(child, now);
        }
    } else if (captionChanged) {
        const Quiet quiet(syncing_);
        if (now.kind == ControlKind::TextBox) {
            SyncText(child, now.caption, before.caption);
        } else {
            ::SetWindowTextW(child, WindowTextOf(now, showAccessKeys_).c_str());
        }
        if (IsPainted(now)) {
            const RECT rect = PixelRect(now);
            ::SetWindowPos(child, nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                           SWP_NOZORDER | SWP_NOACTIVATE);
            ::InvalidateRect(child, nullptr, FALSE);
        }
    }
    if (now.kind == ControlKind::TextBox && now.readOnly != before.readOnly) {
        ::SendMessageW(child, EM_SETREADONLY, now.readOnly ? TRUE : FALSE, 0);
    }
    if (now.value != before.value && now.kind == ControlKind::ComboBox) {
        ::SendMessageW(child, CB_SETCURSEL, static_cast<WPARAM>(now.value), 0);
    } else if (now.value != before.value && (now.kind == ControlKind::CheckBox || now.kind == ControlKind::Option)) {
        ::SendMessageW(child, BM_SETCHECK, static_cast<WPARAM>(now.value), 0);
    }
    if (now.visible != before.visible) {
        ::ShowWindow(child, now.visible ? SW_SHOWNA : SW_HIDE);
        UpdateTabStops();
    }
    if (now.backColor != before.backColor || now.foreColor != before.foreColor) {
        ::InvalidateRect(child, nullptr, TRUE);
    }
}

// A text that grows at its end gets only the new part: a long text is not set anew for each
// piece. The reader's place and selection stay.
void FormWindow::SyncText(HWND edit, const std::wstring& now, const std::wstring& before)
{
    const bool appended = now.size() > before.size() && now.compare(0, before.size(), before) == 0 &&
                          static_cast<std::size_t>(::GetWindowTextLengthW(edit)) == before.size();
    if (!appended) {
        ::SetWindowTextW(edit, now.c_str());
        return;
    }
    DWORD start = 0;
    DWORD end = 0;
    ::SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    const LRESULT firstLine = ::SendMessageW(edit, EM_GETFIRSTVISIBLELINE, 0, 0);
    const NoRedraw noRedraw(edit, ::IsWindowVisible(edit) != FALSE);
    ::SendMessageW(edit, EM_SETSEL, before.size(), static_cast<LPARAM>(before.size()));
    ::SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(now.c_str() + before.size()));
    ::SendMessageW(edit, EM_SETSEL, start, end);
    const LRESULT scrolled = ::SendMessageW(edit, EM_GETFIRSTVISIBLELINE, 0, 0);
    if (scrolled != firstLine) {
        ::SendMessageW(edit, EM_LINESCROLL, 0, firstLine - scrolled);
    }
}

// Work without a count runs as a marquee, which Windows animates from common controls 6 on; an
// older version shows the bar empty, which says nothing false either. The marquee's timer runs
// only while the bar shows.
void FormWindow::SyncProgress(HWND bar, const Control& now, const Control& before, bool fresh)
{
    const bool marquee = now.maximum <= 0;
    const bool wasMarquee = before.maximum <= 0;
    if (fresh || marquee != wasMarquee) {
        const LONG_PTR style = ::GetWindowLongPtrW(bar, GWL_STYLE);
        ::SetWindowLongPtrW(bar, GWL_STYLE, marquee ? style | PBS_MARQUEE : style & ~LONG_PTR{PBS_MARQUEE});
    }
    const bool running = marquee && now.visible;
    if (fresh || running != (wasMarquee && before.visible)) {
        ::SendMessageW(bar, PBM_SETMARQUEE, running ? TRUE : FALSE, 0);
    }
    if (!marquee && (fresh || wasMarquee || now.maximum != before.maximum || now.value != before.value)) {
        ::SendMessageW(bar, PBM_SETRANGE32, 0, now.maximum);
        ::SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(std::clamp(now.value, 0, now.maximum)), 0);
    }
    // The button of the window tells the same, also while the window is behind others.
    const bool changed =
        now.visible != before.visible || (now.visible && (now.value != before.value || now.maximum != before.maximum));
    if (now.taskbar && (changed || (fresh && now.visible))) {
        runtime_.taskbar.Show(hwnd(), now.visible, now.value, now.maximum);
    }
}

bool FormWindow::OnChildCommand(HWND child, WORD code)
{
    const int index = ChildIndex(child);
    if (index < 0) {
        return false;
    }
    const auto at = static_cast<std::size_t>(index);
    Control& control = form.controls()[at];
    if (control.kind == ControlKind::CheckBox && code == BN_CLICKED) {
        control.value = static_cast<int>(::SendMessageW(child, BM_GETCHECK, 0, 0));
        shown_[at].value = control.value;
        Dispatch(control.name, L"Click");
    } else if (control.kind == ControlKind::Option && code == BN_CLICKED) {
        // Choosing one unchecks the others of its group.
        for (std::size_t i = 0; i < children_.size(); ++i) {
            if (children_[i] != nullptr && form.controls()[i].kind == ControlKind::Option) {
                form.controls()[i].value = ::SendMessageW(children_[i], BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
                shown_[i].value = form.controls()[i].value;
            }
        }
        Dispatch(control.name, L"Click");
    } else if (control.kind == ControlKind::ComboBox && code == CBN_SELCHANGE) {
        control.value = static_cast<int>(::SendMessageW(child, CB_GETCURSEL, 0, 0));
        shown_[at].value = control.value;
        Dispatch(control.name, L"Click");
    } else if ((control.command || control.kind == ControlKind::Picture) && code == BN_CLICKED) {
        Dispatch(control.name, L"Click");
    } else if (control.kind == ControlKind::TextBox && code == EN_CHANGE && !syncing_) {
        const int length = ::GetWindowTextLengthW(child);
        std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
        ::GetWindowTextW(child, text.data(), length + 1);
        text.resize(static_cast<std::size_t>(length));
        control.caption = text;
        shown_[at].caption = text;
    }
    return true;
}

LRESULT CALLBACK FormWindow::ChildProc(HWND child, UINT message, WPARAM wParam, LPARAM lParam) noexcept
{
    auto* self = reinterpret_cast<FormWindow*>(::GetWindowLongPtrW(child, GWLP_USERDATA));
    const int index = self != nullptr ? self->ChildIndex(child) : -1;
    if (index < 0) {
        return ::DefWindowProcW(child, message, wParam, lParam);
    }
    WNDPROC original = self->childProcs_[static_cast<std::size_t>(index)];
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(child, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
        ::SetWindowLongPtrW(child, GWLP_USERDATA, 0);
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

// The child controls report mouse moves and presses like the painted controls, and F5 and
// Delete as the form's keys. Esc, and where the form takes keys Enter but in a text box one can type in, go
// from a text box to the dialog manager, which gives them to the form as IDCANCEL and IDOK.
LRESULT FormWindow::HandleChild(HWND child, WNDPROC original, UINT message, WPARAM wParam, LPARAM lParam)
{
    const int index = ChildIndex(child);
    if (index >= 0) {
        const Control& control = form.controls()[static_cast<std::size_t>(index)];
        if (message == WM_MOUSEMOVE) {
            CreateToolTips();
            EventArgs args = MouseArgs(message, wParam, lParam);
            Dispatch(control.name, L"MouseMove", args);
        } else if (message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN || message == WM_MBUTTONDOWN) {
            EventArgs args = MouseArgs(message, wParam, lParam);
            Dispatch(control.name, L"MouseDown", args);
        } else if (message == WM_KEYDOWN &&
                   (((wParam == VK_F5 || wParam == VK_DELETE) && FireKey(static_cast<int>(wParam))) ||
                    (control.kind == ControlKind::ListView && MoveInList(child, wParam)))) {
            return 0;
        } else if (message == WM_KEYDOWN && control.kind == ControlKind::ListView && (wParam == 'A' || wParam == 'C') &&
                   ::GetKeyState(VK_CONTROL) < 0 && ::GetKeyState(VK_MENU) >= 0 && ::GetKeyState(VK_SHIFT) >= 0 &&
                   form.HasHandler(control.name, L"KeyDown")) {
            EventArgs args;
            args.keyCode = static_cast<int>(wParam);
            args.shift = vbCtrlMask;
            Dispatch(control.name, L"KeyDown", args);
            return 0;
        } else if (message == WM_GETOBJECT) {
            if (const std::optional<LRESULT> answer =
                    runtime_.accessibility.Answer(child, RoleOf(control), wParam, lParam)) {
                return *answer;
            }
        } else if (message == WM_CONTEXTMENU && lParam == -1 && !MenuOf(control).empty()) {
            ContextMenuAtFocus(); // the focused control's menu, else the form's
            return 0;
        } else if (message == WM_CONTEXTMENU && control.kind == ControlKind::ListView && !MenuOf(control).empty()) {
            // A list selects the row under the pointer before it asks for its menu.
            runtime_.PopupMenuAt(*this, MenuOf(control),
                                 POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))});
            return 0;
        } else if (message == WM_SETCURSOR && control.crossCursor) {
            ::SetCursor(::LoadCursorW(nullptr, IDC_CROSS));
            return TRUE;
        } else if (control.command && message == WM_GETDLGCODE) {
            // Enter reaches the focused command label, which it clicks, as Space does.
            const auto* key = reinterpret_cast<const MSG*>(lParam);
            const LRESULT code = ::CallWindowProcW(original, child, message, wParam, lParam);
            const bool enter = key != nullptr && key->message == WM_KEYDOWN && key->wParam == VK_RETURN;
            return enter ? code | DLGC_WANTMESSAGE : code;
        } else if (control.command && message == WM_KEYDOWN && wParam == VK_RETURN) {
            Dispatch(control.name, L"Click");
            return 0;
        } else if (message == WM_GETDLGCODE && control.kind == ControlKind::TextBox) {
            // Tab leaves a text box for the next control.
            const auto* key = reinterpret_cast<const MSG*>(lParam);
            const bool down = key != nullptr && key->message == WM_KEYDOWN;
            const bool enter =
                down && key->wParam == VK_RETURN && control.readOnly && form.HasHandler(L"Form", L"KeyDown");
            const bool tab = down && key->wParam == VK_TAB;
            // A text box one can type in would close the window on Esc itself.
            const bool escape = down && key->wParam == VK_ESCAPE;
            LRESULT code = ::CallWindowProcW(original, child, message, wParam, lParam);
            if (tab) {
                code &= ~(DLGC_WANTALLKEYS | DLGC_WANTTAB);
            }
            if (enter) {
                code &= ~DLGC_WANTALLKEYS;
            }
            if (escape) {
                code &= ~(DLGC_WANTALLKEYS | DLGC_WANTMESSAGE);
            }
            return code;
        }
    }
    return ::CallWindowProcW(original, child, message, wParam, lParam);
}

} // namespace platform::win32
