// The check of a backup: its file read back and compared with the add-on's key as it stands.
#pragma once

#include "backup/compare.h"
#include "platform/os.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace backup {

struct CheckResult {
    // NotABackup: a registration file that writes outside the add-on's key, deletes, or writes
    // nothing of it.
    enum class Outcome { Same, Differs, Unreadable, NotABackup };
    Outcome outcome = Outcome::Unreadable;
    std::size_t values = 0;              // in the file
    std::size_t keys = 0;                // in the file, with the keys its sections imply
    std::uint64_t bytes = 0;             // the length of the file as it was read
    std::vector<Difference> differences; // what changed since: from the file (before) to the key (after)
    // Unreadable: "line 12: why", or the system's words. NotABackup: "line 3 writes <key>", "line 9 deletes <key>".
    std::wstring problem;
};

// Reads the file and the key and compares them. Never throws for what it finds: a file that
// cannot be read or is not a registration file is Unreadable. A missing key counts as empty.
CheckResult CheckBackup(platform::Os& os, const std::wstring& file, const std::wstring& key);
// The same against a key read before, for many files at a time.
CheckResult CheckBackup(platform::Os& os, const std::wstring& file, const platform::RegistryTree& now);

// The size label's words for a backup that did not check out:
// "Backup differs from the registry: 2 values missing, 1 changed", "Backup unreadable: line 12: why"
// or "Not a backup of HKCU\Software\Zephrix\Wrenlet2: line 3 writes <key>".
std::wstring CheckFailureText(const CheckResult& result);

// "1 value", "3 values"
std::wstring CountOf(std::size_t count, const wchar_t* singular, const wchar_t* plural);
// "10 000", as the restore's steps and the Backups window count
std::wstring Grouped(std::size_t count);

} // namespace backup
