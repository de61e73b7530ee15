// The form's real child windows: the check box, the text box and the list view.
#include "platform/win32/form_window.h"

#include "platform/win32/accessible.h"
#include "platform/win32/os_win32.h"

#include <algorithm>
#include <limits>

namespace platform::win32 {

namespace {

// Sets a flag for the time of a change the window's own notifications would report back.
class Quiet {
public:
    explicit Quiet(bool& flag) noexcept : flag_(flag), old_(std::exchange(flag, true)) {}
    ~Quiet() { flag_ = old_; }
    Quiet(const Quiet&) = delete;
    Quiet& operator=(const Quiet&) = delete;

private:
    bool& flag_;
    bool old_;
};

// Stops a control drawing while it changes much, then draws it once.
class NoRedraw {
public:
    NoRedraw(HWND window, bool active) noexcept : window_(active ? window : nullptr)
    {
        if (window_ != nullptr) {
            ::SendMessageW(window_, WM_SETREDRAW, FALSE, 0);
        }
    }
    ~NoRedraw()
    {
        if (window_ != nullptr) {
            ::SendMessageW(window_, WM_SETREDRAW, TRUE, 0);
            ::InvalidateRect(window_, nullptr, TRUE);
        }
    }
    NoRedraw(const NoRedraw&) = delete;
    NoRedraw& operator=(const NoRedraw&) = delete;

private:
    HWND window_;
};

// A row may carry fewer texts than the list has columns: the others are empty.
const std::wstring& Cell(const std::vector<std::wstring>& row, std::size_t column)
{
    static const std::wstring empty;
    return column < row.size() ? row[column] : empty;
}

// The first row from start on, going round, whose first text begins with the typed one (in any
// letter case), or equals it; -1 when none does.
LRESULT FindRow(const std::vector<std::vector<std::wstring>>& rows, const LVFINDINFOW& find, int start)
{
    if ((find.flags & (LVFI_STRING | LVFI_PARTIAL)) == 0 || find.psz == nullptr || rows.empty()) {
        return -1;
    }
    const std::wstring_view typed(find.psz);
    const bool partial = (find.flags & LVFI_PARTIAL) != 0;
    const std::size_t first =
        start >= 0 && static_cast<std::size_t>(start) < rows.size() ? static_cast<std::size_t>(start) : 0;
    const std::size_t count = (find.flags & LVFI_WRAP) != 0 ? rows.size() : rows.size() - first;
    for (std::size_t step = 0; step < count; ++step) {
        const std::size_t row = (first + step) % rows.size();
        const std::wstring& text = Cell(rows[row], 0);
        if ((partial ? text.size() >= typed.size() : text.size() == typed.size()) &&
            ::CompareStringOrdinal(text.data(), static_cast<int>(typed.size()), typed.data(),
                                   static_cast<int>(typed.size()), TRUE) == CSTR_EQUAL) {
            return static_cast<LRESULT>(row);
        }
    }
    return -1;
}

void SetSelected(HWND list, std::size_t row, UINT state, UINT mask)
{
    LVITEMW item{};
    item.state = state;
    item.stateMask = mask;
    ::SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

void Mark(std::vector<std::size_t>& selected, std::size_t row, bool on)
{
    const auto at = std::lower_bound(selected.begin(), selected.end(), row);
    const bool there = at != selected.end() && *at == row;
    if (on && !there) {
        selected.insert(at, row);
    } else if (!on && there) {
        selected.erase(at);
    }
}

} // namespace

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

// The list holds no texts of its own (it asks for them as it draws): only its row count and the
// rows whose texts changed are passed on.
void FormWindow::SyncList(HWND list, Control& now, const Control& before)
{
    // The selection as the list can show it: ascending, once each, of existing rows.
    auto& selected = now.selected;
    std::sort(selected.begin(), selected.end());
    selected.erase(std::unique(selected.begin(), selected.end()), selected.end());
    selected.erase(std::lower_bound(selected.begin(), selected.end(), now.rows.size()), selected.end());
    if (!now.multiSelect && selected.size() > 1) {
        selected.erase(selected.begin() + 1, selected.end());
    }

    const Quiet quiet(syncing_);
    if (now.rowsVersion != 0) {
        // The form counts its changes: a new count draws the rows in view anew.
        if (now.rowsVersion != before.rowsVersion) {
            ::SendMessageW(list, LVM_SETITEMCOUNT, now.rows.size(), LVSICF_NOSCROLL);
        }
    } else if (now.rows.size() != before.rows.size()) {
        // Also draws every row anew; rows that went take their selection with them.
        ::SendMessageW(list, LVM_SETITEMCOUNT, now.rows.size(), LVSICF_NOSCROLL);
    } else if (now.rows != before.rows) {
        std::size_t first = 0;
        while (now.rows[first] == before.rows[first]) {
            ++first;
        }
        std::size_t last = now.rows.size() - 1;
        while (now.rows[last] == before.rows[last]) {
            --last;
        }
        ::SendMessageW(list, LVM_REDRAWITEMS, first, static_cast<LPARAM>(last));
    }
    if (selected != before.selected) {
        SyncSelection(list, selected, before.selected);
    }
}

// Only the rows whose state differs change; the first selected row takes the focus and is shown.
void FormWindow::SyncSelection(HWND list, const std::vector<std::size_t>& now, const std::vector<std::size_t>& before)
{
    // None, or every row of a long list: one message for all, and the focus stays where it is.
    // The list would draw each of 100 000 rows anew on its own; it draws once, afterwards.
    const auto count = static_cast<std::size_t>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    if (now.empty() || (count > 256 && now.size() == count && now.back() == count - 1)) {
        const NoRedraw once(list, ::IsWindowVisible(list) != FALSE);
        SetSelected(list, static_cast<std::size_t>(-1), now.empty() ? 0 : LVIS_SELECTED, LVIS_SELECTED);
        return;
    }
    std::vector<std::size_t> off;
    std::set_difference(before.begin(), before.end(), now.begin(), now.end(), std::back_inserter(off));
    for (std::size_t row : off) {
        SetSelected(list, row, 0, LVIS_SELECTED);
    }
    std::vector<std::size_t> on;
    std::set_difference(now.begin(), now.end(), before.begin(), before.end(), std::back_inserter(on));
    for (std::size_t row : on) {
        SetSelected(list, row, LVIS_SELECTED, LVIS_SELECTED);
    }
    SetSelected(list, now.front(), LVIS_FOCUSED, LVIS_FOCUSED);
    ::SendMessageW(list, LVM_ENSUREVISIBLE, now.front(), FALSE);
}

// The heading of the column the rows are sorted by shows which way.
void FormWindow::SetSortArrow(HWND list, const Control& control)
{
    HWND header = reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0));
    const int columns = header != nullptr ? Header_GetItemCount(header) : 0;
    for (int column = 0; column < columns; ++column) {
        HDITEMW item{};
        item.mask = HDI_FORMAT;
        if (!Header_GetItem(header, column, &item)) {
            continue;
        }
        const int old = item.fmt;
        item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
        if (column == control.sortColumn) {
            item.fmt |= control.sortDescending ? HDF_SORTDOWN : HDF_SORTUP;
        }
        if (item.fmt != old) {
            Header_SetItem(header, column, &item);
        }
    }
}

void FormWindow::SetListColors(HWND list, const Control& control)
{
    ::SendMessageW(list, LVM_SETBKCOLOR, 0, static_cast<LPARAM>(Resolve(control.backColor)));
    ::SendMessageW(list, LVM_SETTEXTBKCOLOR, 0, static_cast<LPARAM>(Resolve(control.backColor)));
    ::SendMessageW(list, LVM_SETTEXTCOLOR, 0, static_cast<LPARAM>(Resolve(control.foreColor)));
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

// The user's selection reaches the data without an event; a double click on a row fires DblClick.
// The list asks for the texts it draws, and for the row a typed prefix leads to.
std::optional<LRESULT> FormWindow::OnNotify(NMHDR& header)
{
    const int index = ChildIndex(header.hwndFrom);
    if (index < 0 || form.controls()[static_cast<std::size_t>(index)].kind != ControlKind::ListView) {
        return std::nullopt;
    }
    const auto at = static_cast<std::size_t>(index);
    // A list whose form counts its changes is read from the form itself, without a copy.
    const auto& rows = shown_[at].rowsVersion != 0 ? form.controls()[at].rows : shown_[at].rows;
    if (header.code == LVN_GETDISPINFOW) {
        LVITEMW& item = reinterpret_cast<NMLVDISPINFOW&>(header).item;
        if ((item.mask & LVIF_TEXT) != 0 && item.pszText != nullptr && item.cchTextMax > 0) {
            const std::wstring none;
            const bool exists =
                item.iItem >= 0 && static_cast<std::size_t>(item.iItem) < rows.size() && item.iSubItem >= 0;
            const std::wstring& text =
                exists ? Cell(rows[static_cast<std::size_t>(item.iItem)], static_cast<std::size_t>(item.iSubItem))
                       : none;
            // A text longer than the list's buffer is cut, and says so with an ellipsis.
            const auto room = static_cast<std::size_t>(item.cchTextMax) - 1;
            const bool cut = text.size() > room && room > 0;
            const std::size_t length = cut ? room - 1 : text.size();
            std::copy_n(text.data(), length, item.pszText);
            if (cut) {
                item.pszText[length] = L'\u2026';
            }
            item.pszText[length + (cut ? 1 : 0)] = L'\0';
        }
    } else if (header.code == LVN_ODFINDITEMW) {
        const auto& find = reinterpret_cast<const NMLVFINDITEMW&>(header);
        return FindRow(rows, find.lvfi, find.iStart);
    } else if (header.code == LVN_ITEMCHANGED && !syncing_) {
        const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
        if ((change.uChanged & LVIF_STATE) != 0 && ((change.uOldState ^ change.uNewState) & LVIS_SELECTED) != 0) {
            const bool on = (change.uNewState & LVIS_SELECTED) != 0;
            if (change.iItem < 0) { // every row at once
                OnSelectionChanged(at, 0, on ? std::numeric_limits<int>::max() : -1, on);
            } else {
                OnSelectionChanged(at, change.iItem, change.iItem, on);
            }
        }
    } else if (header.code == LVN_ODSTATECHANGED && !syncing_) {
        const auto& range = reinterpret_cast<const NMLVODSTATECHANGE&>(header);
        if (((range.uOldState ^ range.uNewState) & LVIS_SELECTED) != 0) {
            OnSelectionChanged(at, range.iFrom, range.iTo, (range.uNewState & LVIS_SELECTED) != 0);
        }
    } else if (header.code == LVN_COLUMNCLICK) {
        EventArgs args;
        args.column = reinterpret_cast<const NMLISTVIEW&>(header).iSubItem;
        Dispatch(form.controls()[at].name, L"ColumnClick", args);
    } else if (header.code == NM_DBLCLK) {
        if (reinterpret_cast<const NMITEMACTIVATE&>(header).iItem >= 0) {
            Dispatch(form.controls()[at].name, L"DblClick");
        }
    }
    return 0;
}

// The rows from `first` to `last` (past the end: to the last row; before `first`: none, and
// every other row off) are now selected or not.
void FormWindow::OnSelectionChanged(std::size_t index, int first, int last, bool selected)
{
    auto& data = form.controls()[index].selected;
    if (last < first) {
        data.clear();
    } else if (first == last) {
        Mark(data, static_cast<std::size_t>(first), selected);
    } else {
        // A range: merged in one pass, as Shift+End over 100 000 rows would be slow row by row.
        const auto count = static_cast<std::size_t>(::SendMessageW(children_[index], LVM_GETITEMCOUNT, 0, 0));
        const std::size_t from = static_cast<std::size_t>(std::max(first, 0));
        const std::size_t to = std::min(static_cast<std::size_t>(last) + 1, count);
        std::vector<std::size_t> range;
        for (std::size_t row = from; row < to; ++row) {
            range.push_back(row);
        }
        std::vector<std::size_t> merged;
        if (selected) {
            std::set_union(data.begin(), data.end(), range.begin(), range.end(), std::back_inserter(merged));
        } else {
            std::set_difference(data.begin(), data.end(), range.begin(), range.end(), std::back_inserter(merged));
        }
        data = std::move(merged);
    }
    shown_[index].selected = data;
}

// The arrows, Page Up and Down, Home and End without Shift or Ctrl select the row they lead to,
// as the list would. Wine's list takes tens of milliseconds for each such key in 100 000 rows,
// however little it does; these few messages take well under one.
bool FormWindow::MoveInList(HWND list, WPARAM key)
{
    if ((key != VK_UP && key != VK_DOWN && key != VK_PRIOR && key != VK_NEXT && key != VK_HOME && key != VK_END) ||
        ::GetKeyState(VK_SHIFT) < 0 || ::GetKeyState(VK_CONTROL) < 0 || ::GetKeyState(VK_MENU) < 0) {
        return false;
    }
    const auto count = static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    if (count == 0) {
        return true;
    }
    const auto focused = static_cast<int>(::SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
    const auto top = static_cast<int>(::SendMessageW(list, LVM_GETTOPINDEX, 0, 0));
    const int page = std::max(1, static_cast<int>(::SendMessageW(list, LVM_GETCOUNTPERPAGE, 0, 0)));
    const int last = top + page - 1; // the last row wholly in view
    const auto target = [&]() -> int {
        if (focused < 0) {
            return key == VK_END ? count - 1 : 0;
        }
        switch (key) {
        case VK_UP:
            return focused - 1;
        case VK_DOWN:
            return focused + 1;
        case VK_PRIOR:
            return focused > top ? top : focused - page + 1;
        case VK_NEXT:
            return focused < last ? last : focused + page - 1;
        default:
            return key == VK_HOME ? 0 : count - 1;
        }
    };
    const int to = std::clamp(target(), 0, count - 1);
    // Every other row loses its selection: one by one when a few hundred are selected, else all at
    // once, which Wine does row by row over the whole list (a tenth of a second in 100 000).
    const auto selectedCount = static_cast<std::size_t>(::SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0));
    if (selectedCount > 256) {
        const NoRedraw once(list, true);
        SetSelected(list, static_cast<std::size_t>(-1), 0, LVIS_SELECTED);
    } else {
        for (LRESULT row = -1;
             (row = ::SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(row), LVNI_SELECTED)) >= 0;) {
            if (row != to) {
                SetSelected(list, static_cast<std::size_t>(row), 0, LVIS_SELECTED);
            }
        }
    }
    SetSelected(list, static_cast<std::size_t>(to), LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ::SendMessageW(list, LVM_SETSELECTIONMARK, 0, to);
    ::SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(to), FALSE);
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
