// What the form paints itself: the windowless labels and the picture, and the colours of the
// real child controls.
#include "platform/win32/form_window.h"

namespace platform::win32 {

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

} // namespace platform::win32
