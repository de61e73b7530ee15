#include "platform/win32/form_window.h"

#include "platform/win32/accessible.h"
#include "platform/win32/os_win32.h"
#include "platform/win32/picture.h"

#include <commctrl.h>

#include <algorithm>

namespace platform::win32 {

namespace {

// What the window shows now becomes what it showed. A long text or list is copied only when it
// changed: it is compared after each event, copying it each time would cost more.
void Remember(Control& shown, Control& now, bool captionChanged)
{
    std::wstring nowCaption = std::move(now.caption);
    std::wstring shownCaption = std::move(shown.caption);
    auto nowRows = std::move(now.rows);
    auto shownRows = std::move(shown.rows);
    shown = now;
    now.caption = std::move(nowCaption);
    now.rows = std::move(nowRows);
    // Into the memory the old text had: fresh memory for a text of megabytes costs tens of
    // milliseconds under Wine. A growing text's copy grows when three quarters full, not when
    // full, so that it does not grow on the same event as the form's own text, which doubles then.
    if (captionChanged) {
        if (now.caption.size() > shownCaption.capacity() / 4 * 3) {
            shownCaption.clear(); // nothing to carry over
            shownCaption.reserve(2 * now.caption.size());
        }
        shownCaption.assign(now.caption);
    }
    shown.caption = std::move(shownCaption);
    // A list whose form counts its changes is read from the form: no copy to keep.
    if (now.rowsVersion == 0) {
        shown.rows = shownRows != now.rows ? now.rows : std::move(shownRows);
    }
}

} // namespace

FormWindow::FormWindow(Win32Runtime& runtime, Form& shownForm, HINSTANCE instance, HWND owner)
    : form(shownForm), runtime_(runtime), instance_(instance), shown_(shownForm.layout().controls)
{
    const bool tool = form.layout().frame == Frame::SizableToolWindow;
    const DWORD style = (tool ? WS_CAPTION | WS_SYSMENU | WS_THICKFRAME : WS_OVERLAPPEDWINDOW) | WS_CLIPCHILDREN;
    const DWORD exStyle = tool ? WS_EX_TOOLWINDOW : 0;
    // Proc takes the window into window_ as it is created.
    if (::CreateWindowExW(exStyle, kWindowClass, form.layout().caption.c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                          100, 100, owner, nullptr, instance, this) == nullptr) {
        ThrowLastError(L"Creating the window", form.layout().name);
    }
    shownCaption_ = form.layout().caption;
    dpi_ = ::GetDpiForWindow(hwnd());
    client_ = ClientPixels();
    font_ = CreateFont();
    namesFont_ = CreateNamesFont();
    SetIcons();
    OnColorsChanged();
    CreateChildren(instance);
    // Focus rectangles and access keys stay hidden until the keyboard is used, as on Windows by
    // default. (Wine's default is to show them always: the windows look the same under both.)
    ::SendMessageW(hwnd(), WM_CHANGEUISTATE, MAKEWPARAM(UIS_SET, UISF_HIDEFOCUS | UISF_HIDEACCEL), 0);
    CreateMenus();
    AcceptDroppedFiles();
    // The forms here carry at most one picture.
    const auto& controls = form.layout().controls;
    const auto picture = std::find_if(controls.begin(), controls.end(), [](const Control& control) {
        return control.kind == ControlKind::Picture && control.picture != 0;
    });
    if (picture != controls.end()) {
        pictureLoad_ = std::make_unique<PictureLoad>(instance, picture->picture);
    }
    const SIZE outer = OuterPixels();
    ::SetWindowPos(hwnd(), nullptr, 0, 0, outer.cx, outer.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

FormWindow::~FormWindow() = default;

void FormWindow::TakePicture()
{
    if (pictureLoad_) {
        const std::unique_ptr<PictureLoad> load = std::move(pictureLoad_);
        picture_ = load->Take(pictureSize_);
    }
}

SIZE FormWindow::OuterPixels() const
{
    const SIZE client = ClientPixels();
    RECT rect{0, 0, client.cx, client.cy};
    ::AdjustWindowRectExForDpi(&rect, static_cast<DWORD>(::GetWindowLongPtrW(hwnd(), GWL_STYLE)), FALSE,
                               static_cast<DWORD>(::GetWindowLongPtrW(hwnd(), GWL_EXSTYLE)), dpi_);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

RECT FormWindow::PixelRect(const Control& control) const
{
    RECT rect{Pixels(control.left), Pixels(control.top), Pixels(control.left + control.width),
              Pixels(control.top + control.height)};
    if (control.kind == ControlKind::Label && control.autoSize) {
        WindowDc dc(hwnd());
        const Selection font(dc.get(), font_.get());
        RECT text{0, 0, 0, 0};
        ::DrawTextW(dc.get(), control.caption.c_str(), static_cast<int>(control.caption.size()), &text,
                    DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
        rect.right = rect.left + text.right;
        rect.bottom = rect.top + text.bottom;
    }
    if (control.anchor != 0) {
        // The layout's place plus what the client area has grown since.
        const SIZE layout = ClientPixels();
        const LONG grownX = client_.cx - layout.cx;
        const LONG grownY = client_.cy - layout.cy;
        LONG width = rect.right - rect.left;
        LONG height = rect.bottom - rect.top;
        width += (control.anchor & kAnchorWidth) != 0 ? grownX : 0;
        height += (control.anchor & kAnchorHeight) != 0 ? grownY : 0;
        rect.top += (control.anchor & kAnchorBottom) != 0 ? grownY : 0;
        rect.left += (control.anchor & kAnchorRight) != 0 ? grownX : 0;
        rect.right = rect.left + std::max(width, LONG{0});
        rect.bottom = rect.top + std::max(height, LONG{0});
    }
    return rect;
}

void FormWindow::Center()
{
    RECT window{};
    ::GetWindowRect(hwnd(), &window);
    HMONITOR monitor = ::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    ::GetMonitorInfoW(monitor, &info);
    const LONG width = window.right - window.left;
    const LONG height = window.bottom - window.top;
    const LONG x = info.rcMonitor.left + (info.rcMonitor.right - info.rcMonitor.left - width) / 2;
    const LONG y = info.rcMonitor.top + (info.rcMonitor.bottom - info.rcMonitor.top - height) / 2;
    ::SetWindowPos(hwnd(), nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void FormWindow::FocusFirst()
{
    if (HWND first = ChildOf(FirstFocus(form.layout(), form.controls())); first != nullptr) {
        ::SetFocus(first);
    }
}

// Tab passes over what lies outside the client area, such as a text box below it.
void FormWindow::UpdateTabStops()
{
    const auto& controls = form.controls();
    const int width = static_cast<int>(Twips(client_.cx));
    const int height = static_cast<int>(Twips(client_.cy));
    for (std::size_t i = 0; i < children_.size() && i < controls.size(); ++i) {
        if (children_[i] == nullptr) {
            continue;
        }
        const LONG_PTR style = ::GetWindowLongPtrW(children_[i], GWL_STYLE);
        const LONG_PTR wanted =
            TabStop(form.layout(), controls[i], width, height) ? style | WS_TABSTOP : style & ~LONG_PTR{WS_TABSTOP};
        if (wanted != style) {
            ::SetWindowLongPtrW(children_[i], GWL_STYLE, wanted);
        }
    }
}

void FormWindow::Sync()
{
    if (!alive()) {
        return;
    }
    if (form.Caption != shownCaption_) {
        ::SetWindowTextW(hwnd(), form.Caption.c_str());
        shownCaption_ = form.Caption;
    }
    auto& controls = form.controls();
    for (std::size_t i = 0; i < controls.size(); ++i) {
        Control& now = controls[i];
        Control& before = shown_[i];
        const bool captionChanged = now.caption != before.caption;
        if (IsWindowless(now)) {
            if (captionChanged || now.backColor != before.backColor || now.foreColor != before.foreColor ||
                now.visible != before.visible) {
                const RECT oldRect = PixelRect(before);
                const RECT newRect = PixelRect(now);
                ::InvalidateRect(hwnd(), &oldRect, TRUE);
                ::InvalidateRect(hwnd(), &newRect, TRUE);
            }
        } else if (now.kind == ControlKind::Timer) {
            const UINT_PTR id = i + 1;
            if (now.enabled && now.interval > 0 && (!before.enabled || now.interval != before.interval)) {
                ::SetTimer(hwnd(), id, static_cast<UINT>(now.interval), nullptr);
            } else if (!now.enabled && before.enabled) {
                ::KillTimer(hwnd(), id);
            }
        } else if (HWND child = children_[i]; child != nullptr) {
            SyncChild(child, now, before, captionChanged);
        }
        Remember(before, now, captionChanged);
    }
}

void FormWindow::OnDpiChanged(UINT dpi, const RECT& suggested)
{
    dpi_ = dpi;
    // The controls use the old font until they are given the new one.
    Font old = std::exchange(font_, CreateFont());
    Font oldNames = std::exchange(namesFont_, CreateNamesFont());
    PlaceChildren();
    old.reset();
    oldNames.reset();
    SetIcons();
    UpdateToolRects();
    ::SetWindowPos(hwnd(), nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                   suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    // The layout's pixels changed: anchored controls are placed anew even if the client area kept
    // its size.
    RECT client{};
    ::GetClientRect(hwnd(), &client);
    client_ = {};
    FollowClientSize({client.right, client.bottom});
    ::InvalidateRect(hwnd(), nullptr, TRUE);
}

LRESULT CALLBACK FormWindow::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept
{
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        static_cast<FormWindow*>(create->lpCreateParams)->window_.reset(window);
    }
    auto* self = reinterpret_cast<FormWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) {
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
    try {
        const Win32Runtime::Busy busy(self->runtime_);
        return self->Handle(message, wParam, lParam);
    } catch (...) {
        // Handlers report their own failures; this is the runtime failing.
        ::FatalAppExitW(0, L"LarkSpool failed inside the window runtime.");
        return 0;
    }
}

LRESULT FormWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    // What the tooltips' own subclass would pass on; that subclass would look the window's
    // properties up for every message, which under Wine asks the server each time.
    const bool mouse = message == WM_MOUSEMOVE || message == WM_LBUTTONDOWN || message == WM_LBUTTONUP ||
                       message == WM_MBUTTONDOWN || message == WM_MBUTTONUP || message == WM_RBUTTONDOWN ||
                       message == WM_RBUTTONUP;
    if (mouse) {
        CreateToolTips();
    }
    if (mouse && toolTip_) {
        MSG relayed{hwnd(), message, wParam, lParam, 0, {}};
        ::SendMessageW(toolTip_.get(), TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&relayed));
    }
    switch (message) {
    case WM_ERASEBKGND: {
        RECT client{};
        ::GetClientRect(hwnd(), &client);
        ::FillRect(reinterpret_cast<HDC>(wParam), &client, BrushOf(FormBack()));
        return 1;
    }
    case WM_DRAWITEM:
        OnDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_CONTEXTMENU:
        // From the keyboard: the mouse's right button has its own MouseDown events.
        if (lParam == -1) {
            ContextMenuAtFocus();
            return 0;
        }
        break;
    case WM_EXITMENULOOP:
        // Alt alone opens the window's menu, whose loop takes Alt's release: the access keys
        // hide when it closes.
        ShowCues(false, ::GetKeyState(VK_MENU) < 0);
        break;
    case WM_SYSCOLORCHANGE:
    case WM_SETTINGCHANGE:
    case WM_THEMECHANGED:
        OnColorsChanged();
        break;
    case WM_PAINT: {
        const PaintDc dc(hwnd());
        Paint(dc.get());
        return 0;
    }
    case WM_MOUSEMOVE: {
        const POINT point{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        const int hit = HitTest(point);
        EventArgs args = MouseArgs(message, wParam, lParam);
        Dispatch(hit < 0 ? L"Form" : form.controls()[static_cast<std::size_t>(hit)].name, L"MouseMove", args);
        return 0;
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN: {
        const POINT point{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        const int hit = HitTest(point);
        if (message == WM_LBUTTONDOWN) {
            pressed_ = hit;
            ::SetCapture(hwnd());
        }
        EventArgs args = MouseArgs(message, wParam, lParam);
        Dispatch(hit < 0 ? L"Form" : form.controls()[static_cast<std::size_t>(hit)].name, L"MouseDown", args);
        return 0;
    }
    case WM_LBUTTONUP: {
        const POINT point{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        const int pressed = std::exchange(pressed_, -1);
        ::ReleaseCapture();
        // A click is a press and a release on the same control.
        if (pressed >= 0 && HitTest(point) == pressed) {
            Dispatch(form.controls()[static_cast<std::size_t>(pressed)].name, L"Click");
        }
        return 0;
    }
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT && reinterpret_cast<HWND>(wParam) == hwnd()) {
            POINT point{};
            ::GetCursorPos(&point);
            ::ScreenToClient(hwnd(), &point);
            const int hit = HitTest(point);
            const bool cross = hit >= 0 && form.controls()[static_cast<std::size_t>(hit)].crossCursor;
            ::SetCursor(::LoadCursorW(nullptr, cross ? IDC_CROSS : IDC_ARROW));
            return TRUE;
        }
        break;
    case WM_SYSCOMMAND: {
        const std::size_t item = (wParam & 0xFFF0) / kSystemCommandStep;
        if (item >= 1 && item <= systemCommands_.size()) {
            Dispatch(systemCommands_[item - 1], L"Click");
            return 0;
        }
        break;
    }
    case WM_COMMAND: {
        const UINT id = LOWORD(wParam);
        if (lParam == 0 && HIWORD(wParam) == 0 && id >= kFirstMenuCommand &&
            id < kFirstMenuCommand + menuCommands_.size()) {
            Dispatch(menuCommands_[id - kFirstMenuCommand], L"Click");
            return 0;
        }
        // Enter and Esc through the dialog manager, with no control window.
        if (lParam == 0 && HIWORD(wParam) == BN_CLICKED && (id == IDOK || id == IDCANCEL) &&
            FireKey(id == IDOK ? vbKeyReturn : vbKeyEscape)) {
            return 0;
        }
        if (OnChildCommand(reinterpret_cast<HWND>(lParam), HIWORD(wParam))) {
            return 0;
        }
        break;
    }
    case WM_NOTIFY:
        if (const std::optional<LRESULT> result = OnNotify(*reinterpret_cast<NMHDR*>(lParam))) {
            return *result;
        }
        break;
    case WM_DROPFILES:
        OnDropFiles(wParam);
        return 0;
    case DM_GETDEFID:
        // The dialog manager's Enter, where the focused control takes none, clicks the default command.
        if (HWND command = ChildOf(form.layout().defaultCommand); command != nullptr && ::IsWindowVisible(command)) {
            return MAKELRESULT(::GetDlgCtrlID(command), DC_HASDEFID);
        }
        return 0;
    case WM_KEYDOWN:
        if ((wParam == VK_F5 || wParam == VK_DELETE) && FireKey(static_cast<int>(wParam))) {
            return 0;
        }
        break;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
        return ControlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_TIMER: {
        const std::size_t index = wParam - 1;
        const auto& controls = form.controls();
        if (index < controls.size() && controls[index].kind == ControlKind::Timer && controls[index].enabled) {
            Dispatch(controls[index].name, L"Timer");
        }
        return 0;
    }
    case WM_ACTIVATE: {
        OnActivate(wParam);
        if (!alive()) {
            return 0;
        }
        const bool active = LOWORD(wParam) != WA_INACTIVE;
        if (!active) {
            HWND focus = ::GetFocus();
            focus_ = focus != nullptr && ::IsChild(hwnd(), focus) ? focus : nullptr;
        }
        // The default gives the focus to the window itself; the control that had it gets it back.
        const LRESULT result = ::DefWindowProcW(hwnd(), message, wParam, lParam);
        if (active && HIWORD(wParam) == 0 && focus_ != nullptr && ::IsChild(hwnd(), focus_)) {
            ::SetFocus(focus_);
        }
        return result;
    }
    case WM_SIZE:
        if (wParam != SIZE_MINIMIZED) {
            FollowClientSize({LOWORD(lParam), HIWORD(lParam)});
        }
        if (shown) {
            Dispatch(L"Form", L"Resize");
        }
        return 0;
    case WM_DPICHANGED:
        OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_QUERYENDSESSION:
        // A window that gave Windows a reason to wait asks it not to end the session yet.
        return EndOfSessionBlocked(hwnd()) ? FALSE : TRUE;
    case WM_ENDSESSION:
        // The session ends once this returns, whatever the form's Unload decides.
        if (wParam != FALSE) {
            EventArgs args;
            args.unloadMode = vbAppWindows;
            Dispatch(L"Form", L"Unload", args);
        }
        return 0;
    case WM_CLOSE: {
        EventArgs args;
        Dispatch(L"Form", L"Unload", args);
        if (alive() && args.cancel == 0) {
            runtime_.Unload(form);
        }
        return 0;
    }
    case WM_DESTROY:
        for (std::size_t i = 0; i < shown_.size(); ++i) {
            ::KillTimer(hwnd(), i + 1);
            // The owner's button would go on showing the work of a window that has gone.
            if (shown_[i].kind == ControlKind::ProgressBar && shown_[i].taskbar && shown_[i].visible) {
                runtime_.taskbar.Show(hwnd(), false, 0, 0);
            }
        }
        toolTip_.reset();
        break;
    case WM_NCDESTROY:
        ::SetWindowLongPtrW(hwnd(), GWLP_USERDATA, 0);
        window_.release();
        return 0;
    default:
        break;
    }
    return ::DefWindowProcW(hwnd(), message, wParam, lParam);
}

} // namespace platform::win32
