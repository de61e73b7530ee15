// The backups on drive C:, as the Backups window and the command line list them.
#pragma once

#include "platform/os.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace backup {

// The run numbers of the folders C:\Larkspool<digits>, newest first. The number is the text as
// it stands ("007" stays "007") and sorts by its value (as 7).
std::vector<std::wstring> ListBackupNumbers(platform::Os& os);
// The same for the folders Larkspool<digits> in another folder.
std::vector<std::wstring> ListBackupNumbers(platform::Os& os, const std::wstring& parent);
// Whether run number a is larger than b; "007" and "7" are one value, the shorter text first.
bool NewerNumber(const std::wstring& a, const std::wstring& b);

// The state of a backup that holds the list as it is now.
constexpr wchar_t kSameAsNow[] = L"same as now";

struct BackupDetails {
    std::wstring created;              // as its date stamp has it; empty without one; "unreadable: why"
    std::optional<std::uint64_t> size; // of the .reg file, in bytes; none without one
    std::size_t values = 0;
    std::size_t keys = 0;
    // "same as now", "differs from now", "unreadable: ...", "not a backup of the list: ...", "no backup file"
    std::wstring state;
};

// What one backup holds, compared with the add-on's key as it is now.
BackupDetails ReadBackupDetails(platform::Os& os, const std::wstring& runNumber, const platform::RegistryTree& now);
// The same for any backup file and its date stamp.
BackupDetails ReadBackupDetails(platform::Os& os, const std::wstring& file, const std::wstring& stamp,
                                const platform::RegistryTree& now);

// "Date Created: 12-08-2026\r\nTime Created: 3:04:05 PM\r\n" gives "12-08-2026 3:04:05 PM".
std::wstring CreatedText(const std::vector<std::uint8_t>& dateStamp);
// The day of such a text as yyyymmdd (20261208), to order backups by; nothing without one.
std::optional<long> CreatedDate(const std::wstring& created);

} // namespace backup
