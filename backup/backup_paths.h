// Names and command lines of a backup: folder, exported file, date stamp, registry tool.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace backup {

constexpr wchar_t kAddOnKey[] = L"HKCU\\Software\\Zephrix\\Wrenlet2";
// The same key as registration files and the key tree name it.
constexpr wchar_t kAddOnKeyFullName[] = L"HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2";

std::wstring BackupFolder(std::wstring_view runNumber);   // C:\Larkspool<n>
std::wstring BackupFile(std::wstring_view runNumber);     // C:\Larkspool<n>\Larkspool<n>.reg
std::wstring BackupFileName(std::wstring_view runNumber); // Larkspool<n>.reg, in its folder or a copy's
std::wstring DateStampFile(std::wstring_view runNumber);  // C:\LarkSpool<n>\Date Created.txt

// folder + "\" + name, without doubling the backslash of a drive's root.
std::wstring JoinPath(std::wstring_view folder, std::wstring_view name);

// One argument quoted so that the program's command-line parser gives it back unchanged.
std::wstring QuoteArgument(std::wstring_view argument);

// "<tool>" EXPORT <key> "<file>" /y: both paths quoted, so that a blank in a folder name can
// never start another program, and /y so that the tool never stops to ask.
std::wstring ExportCommandLine(std::wstring_view registryTool, std::wstring_view runNumber);

// The file browser on one argument. The browser is named by its full path: a bare "explorer"
// is looked for first in the program's folder and the current folder, where anything may lie.
std::wstring FileBrowserCommandLine(std::wstring_view windowsFolder, std::wstring_view argument);

// Kilobytes by the pattern "#.##": nearest hundredth (halves away from zero), no leading zero,
// no trailing zeros, the separator always.
std::wstring FormatKilobytes(std::uint64_t bytes, std::wstring_view decimalSeparator);

} // namespace backup
