// A restore that cannot lose the current list: the backup is read and vetted, the user asked,
// the list as it is now backed up and checked, the key replaced by the backup and read back;
// anything short of an exact copy puts the previous list back.
#pragma once

#include "backup/reg_file.h"
#include "platform/os.h"

#include <functional>
#include <optional>
#include <string>

namespace backup {

class ExportRun;

// The first line of the file that would write outside the add-on's key (another key, also
// through ".." or another root) or delete anything, with why, or that it writes nothing of that
// key; nothing when it may be restored.
// Backup folders lie in C:\, where a file could have been planted to make the registry start a
// program.
std::optional<std::wstring> RefusalReason(const RegFile& file);

struct RestoreOutcome {
    bool restored = false;
    std::wstring message;
    platform::MessageKind kind = platform::MessageKind::Information;
};

// Starts a backup of the key as it is now, the way a click on "Export Custom Names" does, and
// gives the run; null when none could be started (the user has been told why).
using StartSafetyBackup = std::function<ExportRun*()>;

// Restores backup `runNumber`, created at `created` (as its date stamp says, may be empty).
RestoreOutcome Restore(platform::Os& os, const std::wstring& runNumber, const std::wstring& created,
                       const StartSafetyBackup& safetyBackup);

} // namespace backup
