#include "ui/table.h"

#include <algorithm>
#include <cwctype>
#include <numeric>

namespace ui {

namespace {

// Letter case aside; most texts here are plain ASCII, which needs no call.
wchar_t Folded(wchar_t c)
{
    if (c < 0x80) {
        return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + (L'a' - L'A')) : c;
    }
    return static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
}

bool Before(const std::wstring& a, const std::wstring& b)
{
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const wchar_t x = Folded(a[i]);
        const wchar_t y = Folded(b[i]);
        if (x != y) {
            return x < y;
        }
    }
    return a.size() < b.size();
}

const std::wstring& Cell(const std::vector<std::wstring>& row, std::size_t column)
{
    static const std::wstring empty;
    return column < row.size() ? row[column] : empty;
}

std::wstring Quoted(const std::wstring& cell)
{
    if (cell.find_first_of(L"\t\r\n\"") == std::wstring::npos) {
        return cell;
    }
    std::wstring quoted = L"\"";
    for (wchar_t c : cell) {
        quoted += c == L'"' ? L"\"\"" : std::wstring(1, c);
    }
    return quoted + L"\"";
}

} // namespace

void SortRows(platform::Control& list, int column)
{
    if (column < 0) {
        return;
    }
    list.sortDescending = column == list.sortColumn && !list.sortDescending;
    list.sortColumn = column;
    auto& rows = list.rows;
    const auto at = static_cast<std::size_t>(column);
    // An order of row numbers, then the rows moved into it: no text is copied.
    std::vector<std::size_t> order(rows.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    if (list.sortDescending) {
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return Before(Cell(rows[b], at), Cell(rows[a], at)); });
    } else {
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return Before(Cell(rows[a], at), Cell(rows[b], at)); });
    }
    std::vector<std::vector<std::wstring>> sorted(rows.size());
    std::vector<std::size_t> place(rows.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        sorted[i] = std::move(rows[order[i]]);
        place[order[i]] = i;
    }
    rows = std::move(sorted);
    for (std::size_t& row : list.selected) {
        row = row < place.size() ? place[row] : row;
    }
    std::sort(list.selected.begin(), list.selected.end());
    ++list.rowsVersion;
}

void SelectAll(platform::Control& list)
{
    if (!list.multiSelect) {
        return;
    }
    list.selected.resize(list.rows.size());
    std::iota(list.selected.begin(), list.selected.end(), std::size_t{0});
}

std::wstring TabSeparated(const platform::Control& list)
{
    if (list.selected.empty()) {
        return {};
    }
    std::wstring text;
    for (std::size_t column = 0; column < list.columns.size(); ++column) {
        text += (column == 0 ? L"" : L"\t") + Quoted(list.columns[column].caption);
    }
    text += L"\r\n";
    for (std::size_t row : list.selected) {
        if (row >= list.rows.size()) {
            continue;
        }
        for (std::size_t column = 0; column < list.columns.size(); ++column) {
            text += (column == 0 ? L"" : L"\t") + Quoted(Cell(list.rows[row], column));
        }
        text += L"\r\n";
    }
    return text;
}

} // namespace ui
