#include "ui/table.h"

#include <algorithm>
#include <cwctype>
#include <iterator>
#include <numeric>
#include <string_view>

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

const std::wstring& Cell(const std::vector<std::wstring>& row, std::size_t column)
{
    static const std::wstring empty;
    return column < row.size() ? row[column] : empty;
}

// Appended in place: a copy of 100 000 rows makes no text per cell.
void AppendCell(std::wstring& text, const std::wstring& cell)
{
    if (cell.find_first_of(L"\t\r\n\"") == std::wstring::npos) {
        text += cell;
        return;
    }
    text += L'"';
    for (wchar_t c : cell) {
        text += c;
        if (c == L'"') {
            text += c;
        }
    }
    text += L'"';
}

void AppendLine(std::wstring& text, const std::vector<std::wstring>& cells, std::size_t columns)
{
    for (std::size_t column = 0; column < columns; ++column) {
        if (column > 0) {
            text += L'\t';
        }
        AppendCell(text, Cell(cells, column));
    }
    text += L"\r\n";
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
    // The cells folded into one buffer: a comparison then reads one place in memory for each
    // side, not a row, a cell and its text, which for 100 000 rows costs more than the sorting.
    std::wstring folded;
    std::vector<std::pair<std::size_t, std::size_t>> keys(rows.size()); // offset, length
    for (std::size_t row = 0; row < rows.size(); ++row) {
        const std::wstring& cell = Cell(rows[row], at);
        keys[row] = {folded.size(), cell.size()};
        std::transform(cell.begin(), cell.end(), std::back_inserter(folded), Folded);
    }
    const auto key = [&](std::size_t row) {
        return std::wstring_view(folded).substr(keys[row].first, keys[row].second);
    };
    // An order of row numbers, then the rows moved into it: no text is copied.
    std::vector<std::size_t> order(rows.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    if (list.sortDescending) {
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return key(b) < key(a); });
    } else {
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return key(a) < key(b); });
    }
    std::vector<std::vector<std::wstring>> sorted(rows.size());
    std::vector<std::size_t> place(rows.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        sorted[i] = std::move(rows[order[i]]);
        place[order[i]] = i;
    }
    rows = std::move(sorted);
    std::transform(list.selected.begin(), list.selected.end(), list.selected.begin(),
                   [&place](std::size_t row) { return row < place.size() ? place[row] : row; });
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
    const std::size_t columns = list.columns.size();
    std::vector<std::wstring> headings;
    std::transform(list.columns.begin(), list.columns.end(), std::back_inserter(headings),
                   [](const platform::ListColumn& column) { return column.caption; });
    // Its length first: 100 000 rows make megabytes, which growing step by step would copy again.
    std::size_t length = 0;
    for (std::size_t row : list.selected) {
        if (row < list.rows.size()) {
            length = std::accumulate(list.rows[row].begin(), list.rows[row].end(), length + 2,
                                     [](std::size_t sum, const std::wstring& cell) { return sum + cell.size() + 1; });
        }
    }
    std::wstring text;
    text.reserve(length + length / 8 + 256); // quoting may add a little
    AppendLine(text, headings, columns);
    for (std::size_t row : list.selected) {
        if (row < list.rows.size()) {
            AppendLine(text, list.rows[row], columns);
        }
    }
    return text;
}

} // namespace ui
