// What the form paints itself: the labels and the picture, and the colours of the real child
// controls; in high contrast the system's colours instead of the layout's.
#include "platform/win32/form_window.h"

namespace platform::win32 {

namespace {

int Lightness(Color color)
{
    return 299 * GetRValue(color) + 587 * GetGValue(color) + 114 * GetBValue(color);
}

// Light text on a dark ground of the layout's own colours: the label under the mouse.
bool Lit(const Control& control)
{
    const bool own = (control.foreColor & 0x80000000u) == 0 && (control.backColor & 0x80000000u) == 0;
    return own && Lightness(control.foreColor) > Lightness(control.backColor);
}

} // namespace

HBRUSH FormWindow::BrushOf(COLORREF color)
{
    Brush& brush = brushes_[color];
    if (!brush) {
        brush.reset(::CreateSolidBrush(color));
    }
    return brush.get();
}

COLORREF FormWindow::FormBack() const
{
    return highContrast_ ? ::GetSysColor(COLOR_WINDOW) : Resolve(form.layout().backColor);
}

// In high contrast a command label under the mouse takes the system's highlight, the other
// command labels the button colours and everything else the window's.
COLORREF FormWindow::BackOf(const Control& control) const
{
    if (!highContrast_) {
        return Resolve(control.backColor);
    }
    if (!control.command) {
        return ::GetSysColor(COLOR_WINDOW);
    }
    return ::GetSysColor(Lit(control) ? COLOR_HIGHLIGHT : COLOR_BTNFACE);
}

COLORREF FormWindow::TextOf(const Control& control) const
{
    if (!highContrast_) {
        return Resolve(control.foreColor);
    }
    if (!control.command) {
        return ::GetSysColor(COLOR_WINDOWTEXT);
    }
    return ::GetSysColor(Lit(control) ? COLOR_HIGHLIGHTTEXT : COLOR_BTNTEXT);
}

void FormWindow::OnColorsChanged()
{
    highContrast_ = runtime_.highContrast();
    brushes_.clear(); // the system's colours may have changed too
    const auto& controls = form.controls();
    for (std::size_t i = 0; i < children_.size() && i < controls.size(); ++i) {
        if (children_[i] != nullptr && controls[i].kind == ControlKind::ListView) {
            SetListColors(children_[i], controls[i]);
        }
    }
    ::RedrawWindow(hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void FormWindow::Paint(HDC dc)
{
    const auto& controls = form.controls();
    for (const Control& control : controls) {
        if (!control.visible || !IsWindowless(control)) {
            continue;
        }
        if (control.kind == ControlKind::Label) {
            PaintLabel(dc, control, PixelRect(control));
        } else if (control.kind == ControlKind::Picture) {
            PaintPicture(dc, PixelRect(control));
        }
    }
}

void FormWindow::PaintPicture(HDC dc, RECT rect)
{
    if (!picture_) {
        return;
    }
    MemoryDc memory(::CreateCompatibleDC(dc));
    const Selection bitmap(memory.get(), picture_.get());
    ::SetStretchBltMode(dc, HALFTONE);
    ::SetBrushOrgEx(dc, 0, 0, nullptr);
    ::StretchBlt(dc, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, memory.get(), 0, 0,
                 pictureSize_.cx, pictureSize_.cy, SRCCOPY);
}

void FormWindow::PaintLabel(HDC dc, const Control& label, RECT rect, bool focused)
{
    // A label with a window of its own paints the form's ground itself.
    if (!label.transparent || !IsWindowless(label)) {
        ::FillRect(dc, &rect, BrushOf(label.transparent ? FormBack() : BackOf(label)));
    }
    if (label.border) {
        ::FrameRect(dc, &rect,
                    highContrast_ ? BrushOf(::GetSysColor(COLOR_WINDOWTEXT))
                                  : static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
        ::InflateRect(&rect, -1, -1);
    }
    const Selection font(dc, font_.get());
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, TextOf(label));
    UINT format = label.centered ? DT_CENTER : DT_LEFT;
    format |= label.autoSize ? DT_SINGLELINE : DT_WORDBREAK;
    if (label.command) {
        const std::wstring text = WindowTextOf(label, true);
        format |= showAccessKeys_ ? 0 : DT_HIDEPREFIX;
        ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect, format);
    } else {
        ::DrawTextW(dc, label.caption.c_str(), static_cast<int>(label.caption.size()), &rect, format | DT_NOPREFIX);
    }
    if (focused && showFocus_) {
        ::SetTextColor(dc, TextOf(label));
        ::DrawFocusRect(dc, &rect);
    }
}

// The command labels, the size label and the picture as windows of their own.
void FormWindow::OnDrawItem(const DRAWITEMSTRUCT& item)
{
    const int index = ChildIndex(item.hwndItem);
    if (index < 0) {
        return;
    }
    const Control& control = form.controls()[static_cast<std::size_t>(index)];
    RECT rect = item.rcItem;
    if (control.kind == ControlKind::Picture) {
        PaintPicture(item.hDC, rect);
    } else {
        PaintLabel(item.hDC, control, rect, (item.itemState & ODS_FOCUS) != 0);
    }
}

LRESULT FormWindow::ControlColor(HDC dc, HWND child)
{
    const int index = ChildIndex(child);
    if (index < 0) {
        return reinterpret_cast<LRESULT>(BrushOf(FormBack()));
    }
    const Control& control = form.controls()[static_cast<std::size_t>(index)];
    ::SetTextColor(dc, TextOf(control));
    ::SetBkColor(dc, BackOf(control));
    return reinterpret_cast<LRESULT>(BrushOf(BackOf(control)));
}

} // namespace platform::win32
