#include "platform/win32/forms_win32.h"

#include "platform/win32/handles.h"
#include "platform/win32/os_win32.h"

#include <commctrl.h>
#include <wincodec.h>

#include <algorithm>
#include <cwchar>
#include <deque>
#include <map>

namespace platform::win32 {

namespace {

constexpr wchar_t kWindowClass[] = L"LarkSpoolForm";
constexpr wchar_t kFormProperty[] = L"LarkSpool.FormWindow";
constexpr wchar_t kChildProcProperty[] = L"LarkSpool.ChildProc";
constexpr int kIconResource = 1;
constexpr UINT kFirstChildId = 100;
constexpr UINT kFirstMenuCommand = 1000;
constexpr int kTwipsPerInch = 1440;
constexpr wchar_t kDialogFace[] = L"MS Shell Dlg";
constexpr wchar_t kClassicFace[] = L"MS Sans Serif";
constexpr wchar_t kClassicTwinFace[] = L"Microsoft Sans Serif";

COLORREF Resolve(Color color)
{
    return (color & 0x80000000u) != 0 ? ::GetSysColor(static_cast<int>(color & 0xFFu)) : color;
}

bool IsWindowless(const Control& control)
{
    return control.kind == ControlKind::Label || control.kind == ControlKind::Picture;
}

// Holds one COM interface and releases it.
template <typename T> class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr()
    {
        if (p_ != nullptr) {
            p_->Release();
        }
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    T* operator->() const noexcept { return p_; }
    T* get() const noexcept { return p_; }
    T** put() noexcept { return &p_; }

private:
    T* p_ = nullptr;
};

void Check(HRESULT result, const wchar_t* operation)
{
    if (FAILED(result)) {
        throw Failure(operation, L"the picture", ErrorText(static_cast<DWORD>(result)));
    }
}

// Decodes a JPEG kept as a resource into a 32-bit bitmap.
Bitmap LoadPicture(HINSTANCE instance, int resource, SIZE& size)
{
    HRSRC found = ::FindResourceW(instance, MAKEINTRESOURCEW(resource), MAKEINTRESOURCEW(10)); // RT_RCDATA
    HGLOBAL loaded = found != nullptr ? ::LoadResource(instance, found) : nullptr;
    if (loaded == nullptr) {
        ThrowLastError(L"Loading", L"the picture resource");
    }
    auto* data = static_cast<BYTE*>(::LockResource(loaded));
    const DWORD length = ::SizeofResource(instance, found);

    ComPtr<IWICImagingFactory> factory;
    Check(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                             reinterpret_cast<void**>(factory.put())),
          L"Starting the decoder for");
    ComPtr<IWICStream> stream;
    Check(factory->CreateStream(stream.put()), L"Reading");
    Check(stream->InitializeFromMemory(data, length), L"Reading");
    ComPtr<IWICBitmapDecoder> decoder;
    Check(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnLoad, decoder.put()),
          L"Decoding");
    ComPtr<IWICBitmapFrameDecode> frame;
    Check(decoder->GetFrame(0, frame.put()), L"Decoding");
    ComPtr<IWICFormatConverter> converter;
    Check(factory->CreateFormatConverter(converter.put()), L"Converting");
    Check(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppBGR, WICBitmapDitherTypeNone, nullptr, 0.0,
                                WICBitmapPaletteTypeCustom),
          L"Converting");
    UINT width = 0;
    UINT height = 0;
    Check(converter->GetSize(&width, &height), L"Measuring");

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = static_cast<LONG>(width);
    info.bmiHeader.biHeight = -static_cast<LONG>(height); // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    Bitmap bitmap(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap) {
        ThrowLastError(L"Creating", L"the picture's bitmap");
    }
    Check(converter->CopyPixels(nullptr, width * 4, width * height * 4, static_cast<BYTE*>(bits)), L"Copying");
    size = {static_cast<LONG>(width), static_cast<LONG>(height)};
    return bitmap;
}

bool Installed(HDC dc, const wchar_t* face)
{
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    std::wcsncpy(wanted.lfFaceName, face, LF_FACESIZE - 1);
    bool found = false;
    ::EnumFontFamiliesExW(
        dc, &wanted,
        [](const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM note) -> int {
            *reinterpret_cast<bool*>(note) = true;
            return 0;
        },
        reinterpret_cast<LPARAM>(&found), 0);
    return found;
}

} // namespace

// Runtime code under way. A window unloaded meanwhile is freed only when the outermost such call
// returns: until then one of its handlers may still be running.
class Win32Runtime::Busy {
public:
    explicit Busy(Win32Runtime& runtime) noexcept : runtime_(runtime) { ++runtime_.busy_; }
    ~Busy()
    {
        if (--runtime_.busy_ == 0) {
            runtime_.FreeUnloaded();
        }
    }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

private:
    Win32Runtime& runtime_;
};

// One loaded form's window. Handlers change the form's data; Sync brings the window up to date.
class FormWindow {
public:
    FormWindow(Win32Runtime& runtime, Form& shownForm, HINSTANCE instance);
    ~FormWindow();
    FormWindow(const FormWindow&) = delete;
    FormWindow& operator=(const FormWindow&) = delete;

    Form& form;
    bool modal = false;
    bool shown = false;

    HWND hwnd() const noexcept { return window_.get(); }
    bool alive() const noexcept { return static_cast<bool>(window_); }
    void Sync();
    void Center();
    void FocusFirst();
    RECT PixelRect(const Control& control) const;
    void Dispatch(std::wstring_view control, std::wstring_view event, EventArgs& args);
    void Dispatch(std::wstring_view control, std::wstring_view event);
    HMENU MenuFor(const std::wstring& menu) const;

    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;

private:
    static LRESULT CALLBACK ChildProc(HWND child, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleChild(HWND child, WNDPROC original, UINT message, WPARAM wParam, LPARAM lParam);

    int Pixels(int twips) const { return ::MulDiv(twips, static_cast<int>(dpi_), kTwipsPerInch); }
    float Twips(int pixels) const { return static_cast<float>(pixels) * kTwipsPerInch / static_cast<float>(dpi_); }
    SIZE ClientPixels() const { return {Pixels(form.layout().clientWidth), Pixels(form.layout().clientHeight)}; }
    SIZE OuterPixels() const;
    Font CreateFont() const;
    Icon LoadIcon(int width, int height) const;
    void SetIcons();
    void CreateChildren(HINSTANCE instance);
    void CreateMenus();
    void CreateToolTips();
    void PlaceChildren();
    void Paint(HDC dc);
    void PaintLabel(HDC dc, const Control& label);
    int HitTest(POINT point) const;
    int ChildIndex(HWND child) const;
    EventArgs MouseArgs(UINT message, WPARAM wParam, LPARAM lParam) const;
    HBRUSH BrushFor(Color color);
    LRESULT ControlColor(HDC dc, HWND child);
    void OnActivate(WPARAM wParam);
    void OnDpiChanged(UINT dpi, const RECT& suggested);

    Win32Runtime& runtime_;
    HINSTANCE instance_;
    UINT dpi_ = 96;
    Font font_;
    Icon bigIcon_;
    Icon smallIcon_;
    std::vector<HWND> children_; // by control; null for windowless controls
    HWND focus_ = nullptr;       // the control that had the focus when the window was left
    std::deque<std::wstring> toolTipTexts_;
    Window toolTip_;
    std::map<std::wstring, Menu> menus_;
    std::vector<std::wstring> menuCommands_; // item names by command
    Bitmap picture_;
    SIZE pictureSize_{};
    std::map<Color, Brush> brushes_;
    std::vector<Control> shown_; // what the window shows now
    std::wstring shownCaption_;
    int pressed_ = -1;
    // Last, so destroyed first, also when the constructor fails: the window's messages still find
    // everything they use, and the window takes its pointer to this object with it.
    Window window_;
};

FormWindow::FormWindow(Win32Runtime& runtime, Form& shownForm, HINSTANCE instance)
    : form(shownForm), runtime_(runtime), instance_(instance), shown_(shownForm.layout().controls)
{
    const bool tool = form.layout().frame == Frame::SizableToolWindow;
    const DWORD style = (tool ? WS_CAPTION | WS_SYSMENU | WS_THICKFRAME : WS_OVERLAPPEDWINDOW) | WS_CLIPCHILDREN;
    const DWORD exStyle = tool ? WS_EX_TOOLWINDOW : 0;
    // Proc takes the window into window_ as it is created.
    if (::CreateWindowExW(exStyle, kWindowClass, form.layout().caption.c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                          100, 100, nullptr, nullptr, instance, this) == nullptr) {
        ThrowLastError(L"Creating the window", form.layout().name);
    }
    shownCaption_ = form.layout().caption;
    dpi_ = ::GetDpiForWindow(hwnd());
    font_ = CreateFont();
    SetIcons();
    CreateChildren(instance);
    CreateMenus();
    CreateToolTips();
    // The forms here carry at most one picture.
    const auto& controls = form.layout().controls;
    const auto picture = std::find_if(controls.begin(), controls.end(), [](const Control& control) {
        return control.kind == ControlKind::Picture && control.picture != 0;
    });
    if (picture != controls.end()) {
        picture_ = LoadPicture(instance, picture->picture, pictureSize_);
    }
    const SIZE outer = OuterPixels();
    ::SetWindowPos(hwnd(), nullptr, 0, 0, outer.cx, outer.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

FormWindow::~FormWindow() = default;

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
    }
}

HMENU FormWindow::MenuFor(const std::wstring& menu) const
{
    return menus_.at(menu).get();
}

void FormWindow::CreateToolTips()
{
    const auto& controls = form.layout().controls;
    for (std::size_t i = 0; i < controls.size(); ++i) {
        if (controls[i].toolTip.empty()) {
            continue;
        }
        if (!toolTip_) {
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
            tool.uFlags = TTF_SUBCLASS;
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

// The focus goes to the control with the lowest tab index that takes it.
void FormWindow::FocusFirst()
{
    HWND first = ::GetNextDlgTabItem(hwnd(), nullptr, FALSE);
    if (first != nullptr) {
        ::SetFocus(first);
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
    const auto& controls = form.controls();
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const Control& now = controls[i];
        const Control& before = shown_[i];
        if (IsWindowless(now)) {
            if (now.caption != before.caption || now.backColor != before.backColor ||
                now.foreColor != before.foreColor || now.visible != before.visible) {
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
            if (now.caption != before.caption) {
                ::SetWindowTextW(child, now.caption.c_str());
            }
            if (now.value != before.value) {
                ::SendMessageW(child, BM_SETCHECK, static_cast<WPARAM>(now.value), 0);
            }
            if (now.visible != before.visible) {
                ::ShowWindow(child, now.visible ? SW_SHOWNA : SW_HIDE);
            }
            if (now.backColor != before.backColor || now.foreColor != before.foreColor) {
                ::InvalidateRect(child, nullptr, TRUE);
            }
        }
    }
    shown_ = controls;
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
        if (IsWindowless(controls[i]) && controls[i].visible) {
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

HBRUSH FormWindow::BrushFor(Color color)
{
    Brush& brush = brushes_[color];
    if (!brush) {
        brush.reset(::CreateSolidBrush(Resolve(color)));
    }
    return brush.get();
}

void FormWindow::Paint(HDC dc)
{
    const auto& controls = form.controls();
    for (const Control& control : controls) {
        if (!control.visible) {
            continue;
        }
        if (control.kind == ControlKind::Label) {
            PaintLabel(dc, control);
        } else if (control.kind == ControlKind::Picture && picture_) {
            const RECT rect = PixelRect(control);
            MemoryDc memory(::CreateCompatibleDC(dc));
            const Selection bitmap(memory.get(), picture_.get());
            ::SetStretchBltMode(dc, HALFTONE);
            ::SetBrushOrgEx(dc, 0, 0, nullptr);
            ::StretchBlt(dc, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, memory.get(), 0, 0,
                         pictureSize_.cx, pictureSize_.cy, SRCCOPY);
        }
    }
}

void FormWindow::PaintLabel(HDC dc, const Control& label)
{
    RECT rect = PixelRect(label);
    if (!label.transparent) {
        ::FillRect(dc, &rect, BrushFor(label.backColor));
    }
    if (label.border) {
        ::FrameRect(dc, &rect, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
        ::InflateRect(&rect, -1, -1);
    }
    const Selection font(dc, font_.get());
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, Resolve(label.foreColor));
    UINT format = DT_NOPREFIX | (label.centered ? DT_CENTER : DT_LEFT);
    format |= label.autoSize ? DT_SINGLELINE : DT_WORDBREAK;
    ::DrawTextW(dc, label.caption.c_str(), static_cast<int>(label.caption.size()), &rect, format);
}

LRESULT FormWindow::ControlColor(HDC dc, HWND child)
{
    const int index = ChildIndex(child);
    if (index < 0) {
        return reinterpret_cast<LRESULT>(BrushFor(form.layout().backColor));
    }
    const Control& control = form.controls()[static_cast<std::size_t>(index)];
    ::SetTextColor(dc, Resolve(control.foreColor));
    ::SetBkColor(dc, Resolve(control.backColor));
    return reinterpret_cast<LRESULT>(BrushFor(control.backColor));
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
    PlaceChildren();
    old.reset();
    SetIcons();
    if (toolTip_) {
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
    ::SetWindowPos(hwnd(), nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                   suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
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

LRESULT FormWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ERASEBKGND: {
        RECT client{};
        ::GetClientRect(hwnd(), &client);
        ::FillRect(reinterpret_cast<HDC>(wParam), &client, BrushFor(form.layout().backColor));
        return 1;
    }
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
    case WM_COMMAND: {
        const UINT id = LOWORD(wParam);
        if (lParam == 0 && HIWORD(wParam) == 0 && id >= kFirstMenuCommand &&
            id < kFirstMenuCommand + menuCommands_.size()) {
            Dispatch(menuCommands_[id - kFirstMenuCommand], L"Click");
            return 0;
        }
        const int index = ChildIndex(reinterpret_cast<HWND>(lParam));
        if (index >= 0) {
            Control& control = form.controls()[static_cast<std::size_t>(index)];
            if (control.kind == ControlKind::CheckBox && HIWORD(wParam) == BN_CLICKED) {
                control.value = static_cast<int>(::SendMessageW(children_[index], BM_GETCHECK, 0, 0));
                shown_[static_cast<std::size_t>(index)].value = control.value;
                Dispatch(control.name, L"Click");
            } else if (control.kind == ControlKind::TextBox && HIWORD(wParam) == EN_CHANGE) {
                const int length = ::GetWindowTextLengthW(children_[index]);
                std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
                ::GetWindowTextW(children_[index], text.data(), length + 1);
                text.resize(static_cast<std::size_t>(length));
                control.caption = text;
                shown_[static_cast<std::size_t>(index)].caption = text;
            }
            return 0;
        }
        break;
    }
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
        if (shown) {
            Dispatch(L"Form", L"Resize");
        }
        return 0;
    case WM_DPICHANGED:
        OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        // The session ends once this returns, whatever the form's Unload decides.
        if (wParam != FALSE) {
            EventArgs args;
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

Win32Runtime::Win32Runtime(HINSTANCE instance) : instance_(instance)
{
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(com) && com != RPC_E_CHANGED_MODE) {
        throw Failure(L"Starting", L"COM", ErrorText(static_cast<DWORD>(com)));
    }
    comStarted_ = SUCCEEDED(com);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&controls);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = &FormWindow::Proc;
    windowClass.hInstance = instance;
    windowClass.hIcon =
        static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON,
                                        ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON), LR_SHARED));
    windowClass.hIconSm =
        static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON,
                                        ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kWindowClass;
    if (::RegisterClassExW(&windowClass) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        ThrowLastError(L"Registering the window class", kWindowClass);
    }
}

Win32Runtime::~Win32Runtime()
{
    CloseAll();
    windows_.clear();
    if (comStarted_) {
        ::CoUninitialize();
    }
}

FormWindow* Win32Runtime::Find(const Form& form) const
{
    // The newest window of the form: older ones are unloaded.
    const auto found =
        std::find_if(windows_.rbegin(), windows_.rend(), [&](const auto& window) { return &window->form == &form; });
    return found != windows_.rend() ? found->get() : nullptr;
}

void Win32Runtime::EnableOthers(const FormWindow& except, bool enable)
{
    for (const auto& window : windows_) {
        if (window.get() != &except && window->alive()) {
            ::EnableWindow(window->hwnd(), enable ? TRUE : FALSE);
        }
    }
}

void Win32Runtime::Show(Form& form, int modal)
{
    const Busy busy(*this);
    FormWindow* window = Find(form);
    if (window == nullptr || !window->alive()) {
        // Each showing loads the form anew from its layout.
        windows_.push_back(std::make_unique<FormWindow>(*this, form, instance_));
        window = windows_.back().get();
        form.Load();
        SyncAll();
        window->Center();
    }
    if (!window->alive()) {
        return;
    }
    window->shown = true;
    ::ShowWindow(window->hwnd(), SW_SHOWNORMAL);
    window->FocusFirst();
    window->Dispatch(L"Form", L"Resize");
    if (modal == 0 || !window->alive()) {
        return;
    }
    window->modal = true;
    EnableOthers(*window, false);
    MSG message{};
    while (window->alive()) {
        const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
        if (got <= 0) {
            if (got == 0) {
                ::PostQuitMessage(static_cast<int>(message.wParam));
            }
            break;
        }
        if (!::IsDialogMessageW(window->hwnd(), &message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    EnableOthers(*window, true);
}

void Win32Runtime::Unload(Form& form)
{
    const Busy busy(*this);
    FormWindow* window = Find(form);
    if (window == nullptr || !window->alive()) {
        return;
    }
    // The other windows take input again before this one goes, so that the platform hands the
    // activation back to them and not to another program.
    if (window->modal) {
        EnableOthers(*window, true);
    }
    ::DestroyWindow(window->hwnd());
    if (lastActive == &form) {
        const auto other =
            std::find_if(windows_.begin(), windows_.end(), [](const auto& candidate) { return candidate->alive(); });
        if (other != windows_.end()) {
            ::SetForegroundWindow((*other)->hwnd());
        }
    }
}

void Win32Runtime::PopupMenu(Form& form, const std::wstring& menu)
{
    const Busy busy(*this);
    FormWindow* window = Find(form);
    if (window == nullptr || !window->alive()) {
        return;
    }
    SyncAll();
    POINT pointer{};
    ::GetCursorPos(&pointer);
    const UINT command = static_cast<UINT>(
        ::TrackPopupMenuEx(window->MenuFor(menu), TPM_LEFTALIGN | TPM_TOPALIGN | TPM_LEFTBUTTON | TPM_RETURNCMD,
                           pointer.x, pointer.y, window->hwnd(), nullptr));
    if (command != 0) {
        ::SendMessageW(window->hwnd(), WM_COMMAND, MAKEWPARAM(command, 0), 0);
    }
}

WindowHandle Win32Runtime::hWnd(const Form& form)
{
    const FormWindow* window = Find(form);
    return window != nullptr ? reinterpret_cast<WindowHandle>(window->hwnd()) : 0;
}

int Win32Runtime::Run(Form& startup)
{
    Show(startup, 0);
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        HWND active = ::GetActiveWindow();
        if (active == nullptr || !::IsDialogMessageW(active, &message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    CloseAll();
    return static_cast<int>(message.wParam);
}

// Newest first, so that each window goes before the ones it was shown above.
void Win32Runtime::CloseAll()
{
    const Busy busy(*this);
    for (std::size_t i = windows_.size(); i-- > 0;) {
        if (i < windows_.size() && windows_[i]->alive()) {
            ::DestroyWindow(windows_[i]->hwnd());
        }
    }
}

void Win32Runtime::FreeUnloaded()
{
    const auto dead =
        std::stable_partition(windows_.begin(), windows_.end(), [](const auto& window) { return window->alive(); });
    // Moved out first: freeing a window must not meet the list half changed.
    std::vector<std::unique_ptr<FormWindow>> unloaded(std::make_move_iterator(dead),
                                                      std::make_move_iterator(windows_.end()));
    windows_.erase(dead, windows_.end());
}

// The layouts were made with "MS Sans Serif". Windows maps "MS Shell Dlg" to its TrueType twin,
// "Microsoft Sans Serif". Wine has no such twin and maps it to its wider Tahoma, but has the
// classic font itself.
const std::wstring& Win32Runtime::FontFace()
{
    if (fontFace_.empty()) {
        const WindowDc screen(nullptr);
        const bool classicOnly = !Installed(screen.get(), kClassicTwinFace) && Installed(screen.get(), kClassicFace);
        fontFace_ = classicOnly ? kClassicFace : kDialogFace;
    }
    return fontFace_;
}

void Win32Runtime::SyncAll()
{
    const Busy busy(*this);
    for (const auto& window : windows_) {
        window->Sync();
    }
}

RECT Win32Runtime::ControlRect(const Form& form, std::wstring_view control)
{
    const FormWindow* window = Find(form);
    if (window == nullptr) {
        return {};
    }
    return window->PixelRect(form[control]);
}

void Win32Runtime::PumpMessages()
{
    MSG message{};
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

} // namespace platform::win32
