#include "platform/win32/form_window.h"

#include "platform/win32/accessible.h"
#include "platform/win32/os_win32.h"
#include "platform/win32/picture.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cwctype>

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
    shown.rows = shownRows != now.rows ? now.rows : std::move(shownRows);
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

// The dialog font, 8 points, at the window's DPI.
Font FormWindow::CreateFont() const
{
    Font font(::CreateFontW(-::MulDiv(8, static_cast<int>(dpi_), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                            DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                            DEFAULT_PITCH | FF_DONTCARE, runtime_.FontFace().c_str()));
    if (!font) {
        ThrowLastError(L"Creating the font for", form.layout().name);
    }
    return font;
}

// Names come in every script: they are shown in the system's message font; the dialog font stays
// with the layouts' own texts.
Font FormWindow::CreateNamesFont() const
{
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (!::SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi_)) {
        ThrowLastError(L"Reading the message font for", form.layout().name);
    }
    const std::wstring& face = runtime_.NamesFace(metrics.lfMessageFont);
    face.copy(metrics.lfMessageFont.lfFaceName, LF_FACESIZE - 1);
    metrics.lfMessageFont.lfFaceName[std::min<std::size_t>(face.size(), LF_FACESIZE - 1)] = L'\0';
    Font font(::CreateFontIndirectW(&metrics.lfMessageFont));
    if (!font) {
        ThrowLastError(L"Creating the font for", form.layout().name);
    }
    return font;
}

// Not shared: drawn for this size, and destroyed by the window that uses it.
Icon FormWindow::LoadIcon(int width, int height) const
{
    return Icon(static_cast<HICON>(
        ::LoadImageW(instance_, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON, width, height, LR_DEFAULTCOLOR)));
}

// The title bar's and the task bar's icons at the window's DPI. The old ones go only once the
// window holds the new ones.
void FormWindow::SetIcons()
{
    Icon big = LoadIcon(::GetSystemMetricsForDpi(SM_CXICON, dpi_), ::GetSystemMetricsForDpi(SM_CYICON, dpi_));
    Icon little = LoadIcon(::GetSystemMetricsForDpi(SM_CXSMICON, dpi_), ::GetSystemMetricsForDpi(SM_CYSMICON, dpi_));
    if (!big || !little) {
        return; // the class's icons stay
    }
    ::SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big.get()));
    ::SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(little.get()));
    bigIcon_ = std::move(big);
    smallIcon_ = std::move(little);
}

void FormWindow::CreateMenus()
{
    for (const MenuItem& item : form.layout().menus) {
        if (item.parent.empty()) {
            menus_[item.name] = Menu(::CreatePopupMenu());
            continue;
        }
        const UINT command = kFirstMenuCommand + static_cast<UINT>(menuCommands_.size());
        menuCommands_.push_back(item.name);
        if (!::AppendMenuW(menus_.at(item.parent).get(), MF_STRING, command, item.caption.c_str())) {
            ThrowLastError(L"Creating the menu item", item.name);
        }
        if (!form.layout().systemMenu.empty() && item.parent == form.layout().systemMenu) {
            const HMENU system = ::GetSystemMenu(hwnd(), FALSE);
            const UINT systemCommand = kSystemCommandStep * static_cast<UINT>(systemCommands_.size() + 1);
            if ((systemCommands_.empty() && !::AppendMenuW(system, MF_SEPARATOR, 0, nullptr)) ||
                !::AppendMenuW(system, MF_STRING, systemCommand, item.caption.c_str())) {
                ThrowLastError(L"Creating the system menu item", item.name);
            }
            systemCommands_.push_back(item.name);
        }
    }
}

HMENU FormWindow::MenuFor(const std::wstring& menu) const
{
    return menus_.at(menu).get();
}

void FormWindow::CreateToolTips()
{
    if (std::exchange(toolTipsMade_, true)) {
        return;
    }
    const auto& controls = form.layout().controls;
    for (std::size_t i = 0; i < controls.size(); ++i) {
        if (controls[i].toolTip.empty()) {
            continue;
        }
        if (!toolTip_) {
            runtime_.LoadCommonControls();
            // Not owned by the form: under Wine an owned topmost tooltip keeps its owner out of
            // the topmost band. The form destroys it itself.
            toolTip_.reset(::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, 0, 0, 0,
                                             0, nullptr, nullptr, nullptr, nullptr));
            if (!toolTip_) {
                ThrowLastError(L"Creating the tooltips of", form.layout().name);
            }
        }
        TOOLINFOW tool{};
        tool.cbSize = TTTOOLINFOW_V2_SIZE; // understood by every version of the common controls
        tool.hwnd = hwnd();
        toolTipTexts_.push_back(controls[i].toolTip); // the tooltip control wants writable text
        tool.lpszText = toolTipTexts_.back().data();
        if (children_[i] != nullptr) {
            tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
            tool.uId = reinterpret_cast<UINT_PTR>(children_[i]);
        } else {
            tool.uFlags = 0; // Handle passes the mouse on: see there
            tool.uId = i;
            tool.rect = PixelRect(controls[i]);
        }
        ::SendMessageW(toolTip_.get(), TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
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

// The windowless controls' tooltips cover them where they are now.
void FormWindow::UpdateToolRects()
{
    if (!toolTip_) {
        return;
    }
    const auto& controls = form.controls();
    for (std::size_t i = 0; i < controls.size(); ++i) {
        if (!controls[i].toolTip.empty() && children_[i] == nullptr) {
            TOOLINFOW tool{};
            tool.cbSize = TTTOOLINFOW_V2_SIZE;
            tool.hwnd = hwnd();
            tool.uId = i;
            tool.rect = PixelRect(controls[i]);
            ::SendMessageW(toolTip_.get(), TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&tool));
        }
    }
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
    const std::wstring& menu = form.layout().contextMenu;
    if (menu.empty()) {
        return;
    }
    HWND focus = ::GetFocus();
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
    args.shift = (::GetKeyState(VK_SHIFT) < 0 ? 1 : 0) | (::GetKeyState(VK_CONTROL) < 0 ? 2 : 0) |
                 (::GetKeyState(VK_MENU) < 0 ? 4 : 0);
    Dispatch(L"Form", L"KeyDown", args);
    return true;
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
