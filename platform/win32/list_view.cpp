// The form's list views: report style with owner data, so that the list asks for the texts of
// the rows it draws; the selection kept in step with the form's data, the sort arrow, and the
// keys that move in a long list.
#include "platform/win32/control_guards.h"
#include "platform/win32/form_window.h"

#include <algorithm>
#include <limits>

namespace platform::win32 {

namespace {

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

} // namespace platform::win32
