// What the form's window is made with: its fonts, icons, menus and tooltips, at the window's DPI.
#include "platform/win32/form_window.h"

#include "platform/win32/os_win32.h"

#include <commctrl.h>

#include <algorithm>
#include <utility>

namespace platform::win32 {

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

} // namespace platform::win32
