// The read-only text box's window. Wine's edit control lays its whole text out again for each
// piece appended, so a long comparison froze the window; this one keeps the lines apart, measures
// each line once as it comes in and paints only the lines in view.
#include "platform/win32/text_view.h"

#include "platform/win32/handles.h"
#include "platform/win32/os_win32.h"

#include <algorithm>
#include <cwchar>
#include <deque>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

namespace platform::win32 {

namespace {

constexpr int kMargin = 2; // pixels between the border and the text, as the edit control leaves
// Ended lines are kept in blocks of this many characters (or one longer line), never moved once
// written: one buffer for the whole text would now and then be copied whole into fresh memory as
// it grows, a pause of tens of milliseconds for a long text.
constexpr std::size_t kBlock = std::size_t{1} << 16;

class ClipboardLock {
public:
    explicit ClipboardLock(HWND owner) noexcept : open_(::OpenClipboard(owner) != FALSE) {}
    ~ClipboardLock()
    {
        if (open_) {
            ::CloseClipboard();
        }
    }
    ClipboardLock(const ClipboardLock&) = delete;
    ClipboardLock& operator=(const ClipboardLock&) = delete;
    explicit operator bool() const noexcept { return open_; }

private:
    bool open_;
};

class LockedMemory {
public:
    explicit LockedMemory(HGLOBAL memory) noexcept : memory_(memory), data_(::GlobalLock(memory)) {}
    ~LockedMemory()
    {
        if (data_ != nullptr) {
            ::GlobalUnlock(memory_);
        }
    }
    LockedMemory(const LockedMemory&) = delete;
    LockedMemory& operator=(const LockedMemory&) = delete;
    void* get() const noexcept { return data_; }

private:
    HGLOBAL memory_;
    void* data_;
};

class TextView {
public:
    explicit TextView(HWND window) noexcept : window_(window) {}
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);

private:
    std::size_t LineCount() const noexcept { return ended_.size() + 1; }
    std::wstring_view Line(std::size_t line) const noexcept;
    std::size_t TextLength() const noexcept { return endedChars_ + open_.size() + 2 * ended_.size(); }
    std::size_t CopyText(wchar_t* out, std::size_t capacity) const noexcept;
    HFONT Font() const noexcept;
    int Measure(HDC dc, std::wstring_view line) const;
    void Set(std::wstring_view text);
    void Append(std::wstring_view text);
    void AddText(std::wstring_view text);
    void EndLine(HDC dc);
    void OnFont(HFONT font, bool redraw);
    SIZE Client() const noexcept;
    std::size_t PageLines() const noexcept;
    std::size_t MaxTop() const noexcept;
    int MaxLeft() const noexcept;
    int Extent() const noexcept { return std::max(widest_, lastWidth_) + 2 * kMargin; }
    void UpdateScrollBars();
    void SetBar(int bar, int maximum, UINT page, int position);
    void ScrollTo(long long top, long long left);
    void OnScroll(int bar, WORD code);
    void OnKey(WPARAM key);
    void OnWheel(short delta);
    void Copy() const;
    void Paint();

    HWND window_;
    HFONT font_ = nullptr; // the form's, not owned
    int lineHeight_ = 16;
    int charWidth_ = 8;
    // The font's advance widths of the Latin characters: a line of them is measured by adding
    // up, without asking GDI for each line.
    std::vector<int> latinWidths_;
    // The lines without their ends: those that ended, and the last one, which may grow.
    struct Place {
        std::size_t block, offset, length;
    };
    std::vector<std::wstring> blocks_;
    std::deque<Place> ended_;
    std::size_t endedChars_ = 0;
    std::wstring open_;
    int widest_ = 0;    // of the lines that have ended: they never change again
    int lastWidth_ = 0; // of the last line, which appended text may still lengthen
    std::size_t given_ = 0;
    std::size_t top_ = 0; // the first line in view
    int left_ = 0;        // pixels scrolled to the right
    int wheel_ = 0;       // wheel turns short of a whole notch
    bool allSelected_ = false;
    // The scroll bars as last set; nMax -1 for not yet.
    SCROLLINFO vertical_{sizeof(SCROLLINFO), SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL, 0, -1, 0, 0, 0};
    SCROLLINFO horizontal_{sizeof(SCROLLINFO), SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL, 0, -1, 0, 0, 0};
};

std::wstring_view TextView::Line(std::size_t line) const noexcept
{
    if (line >= ended_.size()) {
        return open_;
    }
    const Place& place = ended_[line];
    return std::wstring_view(blocks_[place.block]).substr(place.offset, place.length);
}

// The lines joined with CR LF, as far as they fit with the closing null.
std::size_t TextView::CopyText(wchar_t* out, std::size_t capacity) const noexcept
{
    if (out == nullptr || capacity == 0) {
        return 0;
    }
    std::size_t written = 0;
    const std::size_t room = capacity - 1;
    for (std::size_t line = 0; line < LineCount() && written < room; ++line) {
        if (line > 0) {
            const wchar_t end[] = L"\r\n";
            const std::size_t count = std::min<std::size_t>(2, room - written);
            std::copy_n(end, count, out + written);
            written += count;
        }
        const std::wstring_view text = Line(line);
        const std::size_t count = std::min(text.size(), room - written);
        std::copy_n(text.data(), count, out + written);
        written += count;
    }
    out[written] = L'\0';
    return written;
}

HFONT TextView::Font() const noexcept
{
    return font_ != nullptr ? font_ : static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
}

int TextView::Measure(HDC dc, std::wstring_view line) const
{
    if (line.empty()) {
        return 0;
    }
    int width = 0;
    bool latin = !latinWidths_.empty();
    for (std::size_t i = 0; i < line.size() && latin; ++i) {
        const auto c = static_cast<std::size_t>(line[i]);
        latin = c < latinWidths_.size() && c != L'\t';
        width += latin ? latinWidths_[c] : 0;
    }
    if (latin) {
        return width;
    }
    if (line.find(L'\t') != std::wstring_view::npos) {
        return LOWORD(::GetTabbedTextExtentW(dc, line.data(), static_cast<int>(line.size()), 0, nullptr));
    }
    SIZE size{};
    ::GetTextExtentPoint32W(dc, line.data(), static_cast<int>(line.size()), &size);
    return size.cx;
}

void TextView::Set(std::wstring_view text)
{
    blocks_.clear();
    ended_.clear();
    endedChars_ = 0;
    open_.clear();
    widest_ = 0;
    lastWidth_ = 0;
    given_ = 0;
    top_ = 0;
    left_ = 0;
    allSelected_ = false;
    AddText(text);
    UpdateScrollBars();
    ::InvalidateRect(window_, nullptr, FALSE);
}

// Only the lines from the last one on are drawn again, and only when they are in view.
void TextView::Append(std::wstring_view text)
{
    const std::size_t changed = LineCount() - 1;
    AddText(text);
    UpdateScrollBars();
    const std::size_t page = PageLines();
    if (changed <= top_ + page) {
        RECT rect{};
        ::GetClientRect(window_, &rect);
        if (changed > top_) {
            rect.top = static_cast<LONG>(changed - top_) * lineHeight_;
        }
        ::InvalidateRect(window_, &rect, FALSE);
    }
}

// Lines end at LF, and a CR just before it goes too, also when the two come in separate pieces.
void TextView::AddText(std::wstring_view text)
{
    given_ += text.size();
    const WindowDc dc(window_);
    const Selection font(dc.get(), Font());
    std::size_t from = 0;
    for (std::size_t end; (end = text.find(L'\n', from)) != std::wstring_view::npos; from = end + 1) {
        open_.append(text.substr(from, end - from));
        if (!open_.empty() && open_.back() == L'\r') {
            open_.pop_back();
        }
        EndLine(dc.get());
    }
    open_.append(text.substr(from));
    lastWidth_ = Measure(dc.get(), open_);
}

void TextView::EndLine(HDC dc)
{
    const std::size_t length = open_.size();
    if (blocks_.empty() || blocks_.back().capacity() - blocks_.back().size() < length) {
        blocks_.emplace_back().reserve(std::max(kBlock, length));
    }
    std::wstring& block = blocks_.back();
    ended_.push_back({blocks_.size() - 1, block.size(), length});
    block.append(open_);
    endedChars_ += length;
    widest_ = std::max(widest_, Measure(dc, open_));
    open_.clear();
}

// A new font (another DPI) measures every line again.
void TextView::OnFont(HFONT font, bool redraw)
{
    font_ = font;
    const WindowDc dc(window_);
    const Selection selected(dc.get(), Font());
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc.get(), &metrics);
    lineHeight_ = std::max(1, static_cast<int>(metrics.tmHeight));
    charWidth_ = std::max(1, static_cast<int>(metrics.tmAveCharWidth));
    latinWidths_.assign(0x250, 0);
    if (!::GetCharWidth32W(dc.get(), 0, static_cast<UINT>(latinWidths_.size() - 1), latinWidths_.data())) {
        latinWidths_.clear();
    }
    widest_ = 0;
    for (std::size_t line = 0; line + 1 < LineCount(); ++line) {
        widest_ = std::max(widest_, Measure(dc.get(), Line(line)));
    }
    lastWidth_ = Measure(dc.get(), Line(LineCount() - 1));
    ScrollTo(static_cast<long long>(top_), left_);
    UpdateScrollBars();
    if (redraw) {
        ::InvalidateRect(window_, nullptr, FALSE);
    }
}

SIZE TextView::Client() const noexcept
{
    RECT rect{};
    ::GetClientRect(window_, &rect);
    return {rect.right, rect.bottom};
}

// The lines that fit wholly; at least one.
std::size_t TextView::PageLines() const noexcept
{
    return static_cast<std::size_t>(std::max(1, static_cast<int>(Client().cy) / lineHeight_));
}

std::size_t TextView::MaxTop() const noexcept
{
    const std::size_t page = PageLines();
    return LineCount() > page ? LineCount() - page : 0;
}

int TextView::MaxLeft() const noexcept
{
    return std::max(0, Extent() - static_cast<int>(Client().cx));
}

// The bars stay, greyed when all fits: a bar that came and went would resize the text area.
void TextView::UpdateScrollBars()
{
    SetBar(SB_VERT, static_cast<int>(LineCount() - 1), static_cast<UINT>(PageLines()), static_cast<int>(top_));
    SetBar(SB_HORZ, Extent() - 1, static_cast<UINT>(std::max(0L, Client().cx)), left_);
}

// Only a bar whose numbers changed is set: Wine draws a bar anew for each setting.
void TextView::SetBar(int bar, int maximum, UINT page, int position)
{
    SCROLLINFO& shown = bar == SB_VERT ? vertical_ : horizontal_;
    if (shown.nMax == maximum && shown.nPage == page && shown.nPos == position) {
        return;
    }
    shown.nMax = maximum;
    shown.nPage = page;
    shown.nPos = position;
    ::SetScrollInfo(window_, bar, &shown, TRUE);
}

void TextView::ScrollTo(long long top, long long left)
{
    const auto newTop = static_cast<std::size_t>(std::clamp(top, 0LL, static_cast<long long>(MaxTop())));
    const auto newLeft = static_cast<int>(std::clamp(left, 0LL, static_cast<long long>(MaxLeft())));
    if (newTop == top_ && newLeft == left_) {
        return;
    }
    const long long dy = (static_cast<long long>(top_) - static_cast<long long>(newTop)) * lineHeight_;
    const int dx = left_ - newLeft;
    top_ = newTop;
    left_ = newLeft;
    const SIZE client = Client();
    if (dy > -client.cy && dy < client.cy) {
        ::ScrollWindowEx(window_, dx, static_cast<int>(dy), nullptr, nullptr, nullptr, nullptr, SW_INVALIDATE);
    } else {
        ::InvalidateRect(window_, nullptr, FALSE);
    }
    SetBar(SB_VERT, vertical_.nMax, vertical_.nPage, static_cast<int>(top_));
    SetBar(SB_HORZ, horizontal_.nMax, horizontal_.nPage, left_);
}

void TextView::OnScroll(int bar, WORD code)
{
    const bool vertical = bar == SB_VERT;
    const long long step = vertical ? 1 : charWidth_;
    const long long page = vertical ? static_cast<long long>(PageLines()) : std::max(1L, Client().cx - charWidth_);
    const long long now = vertical ? static_cast<long long>(top_) : left_;
    long long to = now;
    switch (code) {
    case SB_LINEUP:
        to = now - step;
        break;
    case SB_LINEDOWN:
        to = now + step;
        break;
    case SB_PAGEUP:
        to = now - page;
        break;
    case SB_PAGEDOWN:
        to = now + page;
        break;
    case SB_TOP:
        to = 0;
        break;
    case SB_BOTTOM:
        to = vertical ? static_cast<long long>(MaxTop()) : MaxLeft();
        break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: {
        // The 32-bit place; the message's own is 16 bits.
        SCROLLINFO info{sizeof info, SIF_TRACKPOS, 0, 0, 0, 0, 0};
        ::GetScrollInfo(window_, bar, &info);
        to = info.nTrackPos;
        break;
    }
    default:
        return;
    }
    ScrollTo(vertical ? to : static_cast<long long>(top_), vertical ? left_ : to);
}

void TextView::OnKey(WPARAM key)
{
    const auto top = static_cast<long long>(top_);
    const auto page = static_cast<long long>(PageLines());
    switch (key) {
    case VK_UP:
        ScrollTo(top - 1, left_);
        break;
    case VK_DOWN:
        ScrollTo(top + 1, left_);
        break;
    case VK_PRIOR:
        ScrollTo(top - page, left_);
        break;
    case VK_NEXT:
        ScrollTo(top + page, left_);
        break;
    case VK_HOME:
        ScrollTo(0, 0);
        break;
    case VK_END:
        ScrollTo(static_cast<long long>(MaxTop()), left_);
        break;
    case VK_LEFT:
        ScrollTo(top, static_cast<long long>(left_) - charWidth_);
        break;
    case VK_RIGHT:
        ScrollTo(top, static_cast<long long>(left_) + charWidth_);
        break;
    default:
        break;
    }
}

void TextView::OnWheel(short delta)
{
    UINT perNotch = 3;
    ::SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &perNotch, 0);
    wheel_ += delta;
    const int notches = wheel_ / WHEEL_DELTA;
    wheel_ -= notches * WHEEL_DELTA;
    const long long lines = perNotch == WHEEL_PAGESCROLL ? static_cast<long long>(PageLines()) : perNotch;
    ScrollTo(static_cast<long long>(top_) - notches * lines, left_);
}

void TextView::Copy() const
{
    const std::size_t length = TextLength();
    GlobalMemory memory(::GlobalAlloc(GMEM_MOVEABLE, (length + 1) * sizeof(wchar_t)));
    if (!memory) {
        return;
    }
    {
        const LockedMemory locked(memory.get());
        if (locked.get() == nullptr) {
            return;
        }
        CopyText(static_cast<wchar_t*>(locked.get()), length + 1);
    }
    const ClipboardLock clipboard(window_);
    if (clipboard && ::EmptyClipboard() && ::SetClipboardData(CF_UNICODETEXT, memory.get()) != nullptr) {
        memory.release(); // the clipboard's now
    }
}

// The colours come from the parent as a read-only edit control's would.
void TextView::Paint()
{
    const PaintDc paint(window_);
    const HDC dc = paint.get();
    RECT box{};
    ::GetClipBox(dc, &box);
    HWND parent = ::GetParent(window_);
    auto* brush = parent != nullptr
                      ? reinterpret_cast<HBRUSH>(::SendMessageW(parent, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                                                reinterpret_cast<LPARAM>(window_)))
                      : nullptr;
    if (brush == nullptr) {
        ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
        ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
        brush = ::GetSysColorBrush(COLOR_WINDOW);
    }
    ::FillRect(dc, &box, brush);
    const Selection font(dc, Font());
    if (allSelected_ && ::GetFocus() == window_) {
        ::SetBkMode(dc, OPAQUE);
        ::SetBkColor(dc, ::GetSysColor(COLOR_HIGHLIGHT));
        ::SetTextColor(dc, ::GetSysColor(COLOR_HIGHLIGHTTEXT));
    } else {
        ::SetBkMode(dc, TRANSPARENT);
    }
    const std::size_t first = top_ + static_cast<std::size_t>(std::max(0L, box.top) / lineHeight_);
    const std::size_t end = std::min(
        LineCount(), top_ + static_cast<std::size_t>(std::max(0L, box.bottom + lineHeight_ - 1) / lineHeight_));
    for (std::size_t line = first; line < end; ++line) {
        const std::wstring_view text = Line(line);
        const int x = kMargin - left_;
        const int y = static_cast<int>(line - top_) * lineHeight_;
        if (text.find(L'\t') != std::wstring_view::npos) {
            ::TabbedTextOutW(dc, x, y, text.data(), static_cast<int>(text.size()), 0, nullptr, x);
        } else {
            ::ExtTextOutW(dc, x, y, 0, nullptr, text.data(), static_cast<UINT>(text.size()), nullptr);
        }
    }
}

LRESULT TextView::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        Set(create->lpszName != nullptr ? create->lpszName : L"");
        return 0;
    }
    // The text stays here, never in the window's own title: that is what made the edit slow.
    case WM_SETTEXT:
        Set(lParam != 0 ? reinterpret_cast<const wchar_t*>(lParam) : L"");
        return TRUE;
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(TextLength());
    case WM_GETTEXT:
        return static_cast<LRESULT>(CopyText(reinterpret_cast<wchar_t*>(lParam), wParam));
    case kTextViewAppend:
        Append(std::wstring_view(reinterpret_cast<const wchar_t*>(lParam), wParam));
        return 0;
    case kTextViewGivenLength:
        return static_cast<LRESULT>(given_);
    case EM_GETLINECOUNT:
        return static_cast<LRESULT>(LineCount());
    case EM_GETFIRSTVISIBLELINE:
        return static_cast<LRESULT>(top_);
    case WM_SETFONT:
        OnFont(reinterpret_cast<HFONT>(wParam), LOWORD(lParam) != 0);
        return 0;
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(font_);
    case WM_SIZE:
        ScrollTo(static_cast<long long>(top_), left_);
        UpdateScrollBars();
        ::InvalidateRect(window_, nullptr, FALSE);
        return 0;
    case WM_ERASEBKGND:
        return 1; // painting fills the background
    case WM_PAINT:
        Paint();
        return 0;
    case WM_VSCROLL:
    case WM_HSCROLL:
        OnScroll(message == WM_VSCROLL ? SB_VERT : SB_HORZ, LOWORD(wParam));
        return 0;
    case WM_MOUSEWHEEL:
        OnWheel(GET_WHEEL_DELTA_WPARAM(wParam));
        return 0;
    // Arrows and characters come here; Enter and Esc stay the dialog manager's, for the form.
    case WM_GETDLGCODE:
        return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_KEYDOWN:
        OnKey(wParam);
        return 0;
    case WM_CHAR:
        if (wParam == 1) { // Ctrl+A
            allSelected_ = true;
            ::InvalidateRect(window_, nullptr, FALSE);
        } else if (wParam == 3) { // Ctrl+C
            Copy();
        }
        return 0;
    case WM_COPY:
        Copy();
        return 0;
    case WM_LBUTTONDOWN:
        ::SetFocus(window_);
        if (std::exchange(allSelected_, false)) {
            ::InvalidateRect(window_, nullptr, FALSE);
        }
        return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        if (allSelected_) {
            ::InvalidateRect(window_, nullptr, FALSE);
        }
        return 0;
    default:
        break;
    }
    return ::DefWindowProcW(window_, message, wParam, lParam);
}

LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept
{
    try {
        if (message == WM_NCCREATE) {
            ::SetWindowLongPtrW(window, 0, reinterpret_cast<LONG_PTR>(std::make_unique<TextView>(window).release()));
            // The default would keep the first text as the window's title.
            CREATESTRUCTW nameless = *reinterpret_cast<const CREATESTRUCTW*>(lParam);
            nameless.lpszName = nullptr;
            return ::DefWindowProcW(window, message, wParam, reinterpret_cast<LPARAM>(&nameless));
        }
        auto* view = reinterpret_cast<TextView*>(::GetWindowLongPtrW(window, 0));
        if (view == nullptr) {
            return ::DefWindowProcW(window, message, wParam, lParam);
        }
        if (message == WM_NCDESTROY) {
            ::SetWindowLongPtrW(window, 0, 0);
            std::unique_ptr<TextView> gone(view);
            return ::DefWindowProcW(window, message, wParam, lParam);
        }
        return view->Handle(message, wParam, lParam);
    } catch (...) {
        ::FatalAppExitW(0, L"LarkSpool failed inside the window runtime.");
        return 0;
    }
}

} // namespace

void RegisterTextView(HINSTANCE instance)
{
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &Proc;
    windowClass.cbWndExtra = sizeof(LONG_PTR);
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kTextViewClass;
    if (::RegisterClassExW(&windowClass) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        ThrowLastError(L"Registering the window class", kTextViewClass);
    }
}

bool IsTextView(HWND window)
{
    wchar_t name[std::size(kTextViewClass) + 1] = L"";
    ::GetClassNameW(window, name, static_cast<int>(std::size(name)));
    return std::wcscmp(name, kTextViewClass) == 0;
}

// The view's own count of what it was given must match: text set past the view would not be
// in it.
void SyncTextView(HWND view, const std::wstring& now, const std::wstring& before)
{
    const bool appended = now.size() > before.size() && now.compare(0, before.size(), before) == 0 &&
                          static_cast<std::size_t>(::SendMessageW(view, kTextViewGivenLength, 0, 0)) == before.size();
    if (appended) {
        ::SendMessageW(view, kTextViewAppend, now.size() - before.size(),
                       reinterpret_cast<LPARAM>(now.c_str() + before.size()));
    } else {
        ::SendMessageW(view, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(now.c_str()));
    }
}

} // namespace platform::win32
