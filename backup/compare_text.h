// How a comparison reads: a summary line and one line per difference, for the Backups window's
// compare and the command line's check.
#pragma once

#include "backup/compare.h"

#include <string>
#include <string_view>
#include <vector>

namespace backup {

// "3 added, 1 removed, 2 changed", or "No differences".
std::wstring SummaryLine(const std::vector<Difference>& differences);

// A difference as a row of the Backups window's table: change ("added", "removed", "changed"),
// key path below `root`, value name ("(Default)" for the empty name, "(key)" for a whole key),
// data before and after ("(none)" for the side that lacks it; both empty for a whole key).
std::vector<std::wstring> DifferenceCells(const Difference& difference, std::wstring_view root);

// "changed  \CustomNames  carol@example.org  "Carol" -> "Carol (choir)"": the key path below
// `root`, the value name ("(Default)" for the empty name), the data before and after: the cells
// of DifferenceCells on one line.
std::wstring DifferenceLine(const Difference& difference, std::wstring_view root);

// Strings as quoted text, dword and qword as decimal numbers, anything else as hex bytes.
std::wstring DataText(const platform::RegistryValue& value);

} // namespace backup
