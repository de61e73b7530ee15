// What a list of the forms does with its rows at the user's word: sort them by a column, select
// them all, give the selected ones as text for the clipboard.
#pragma once

#include "platform/forms.h"

#include <string>

namespace ui {

// Sorts the rows by the column, in any letter case, rows alike keeping their order; the same
// column again sorts the other way. The selected rows stay selected where they go.
void SortRows(platform::Control& list, int column);

// Selects every row of a list that takes more than one.
void SelectAll(platform::Control& list);

// The selected rows with a line of headings, cells between tabs and lines ending in CR LF, as a
// spreadsheet takes them: a cell with a tab, a line break or a double quote is quoted, its quotes
// doubled. Empty when no row is selected.
std::wstring TabSeparated(const platform::Control& list);

} // namespace ui
