// Checked copies of the backups in a folder the user chose (a USB stick, a share, a synced
// folder), so that a backup outlives drive C:. A copy that exists is always complete: it is
// written under a temporary name, flushed, read back and compared, and only then renamed.
#pragma once

#include "platform/os.h"

#include <atomic>
#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace backup {

// The folder copies go to, as the settings store keeps it; empty when copies are off.
std::wstring CopiesFolder(platform::Os& os);

// A folder copies may not go to, and why in one line: it lies in a backup folder on C:, which
// Delete and /keep remove with everything in it, or its path leaves copies too little room.
class CopiesFolderRefused : public std::runtime_error {
public:
    explicit CopiesFolderRefused(std::wstring why);
    const std::wstring& why() const noexcept { return why_; }

private:
    std::wstring why_;
};

// Turns copies on, after a test that the folder can be written; empty turns them off. Throws
// CopiesFolderRefused for a folder copies may not go to, and a platform failure, with the
// system's words, when the folder cannot be written.
void SetCopiesFolder(platform::Os& os, const std::wstring& folder);

// Whether backup n's folder on C: holds the copies folder (the real paths compared: letter case,
// "..", short names and junctions hide nothing), so that Delete and /keep leave it. Throws a
// platform failure when that cannot be told.
bool HoldsCopiesFolder(platform::Os& os, const std::wstring& runNumber);

// <folder>\<computer name>\Larkspool<n>: where backup n is copied to.
std::wstring CopyFolder(platform::Os& os, const std::wstring& copiesFolder, const std::wstring& runNumber);

struct CopyOutcome {
    bool kept = false;
    // "copy kept", or "copy not made: <why in a few words>", short enough for a line of the
    // main window: "copy not made: E:\ is not ready".
    std::wstring text;
    // What failed in full (operation, path, the system's words); empty when kept.
    std::wstring detail;
};

// Backup n's file and date stamp copied to the copies folder; nothing when copies are off. An
// identical file already there counts as copied; a different one is never overwritten; a copies
// folder that has come to lie in a backup folder gets none. Never throws a platform failure.
std::optional<CopyOutcome> CopyBackup(platform::Os& os, const std::wstring& runNumber);

// Every backup as the Backups window and /list show it: those on C:, newest first, then those
// found only in the copies folder: this computer's ("5 (copy)"), then other computers' ("5
// (OLDPC)"), each newest first.
struct ListedBackup {
    std::wstring label;  // "5", "5 (copy)", "5 (OLDPC)"
    std::wstring number; // of a backup on C:; empty for a copy
    std::wstring file;
    std::wstring stamp;
    std::wstring run;      // the backup's number, wherever it lies
    std::wstring computer; // whose backup it is; empty for this computer's
};
std::vector<ListedBackup> ListAllBackups(platform::Os& os);
// Its two parts: the backups on C:, and those found only in the copies folder (which may be a
// share that is slow to answer).
std::vector<ListedBackup> ListBackupsOnC(platform::Os& os);
std::vector<ListedBackup> ListCopiesOnly(platform::Os& os);

// Whether backup `a` was made before backup `b`: by the dates their stamps give, else, for two of
// one computer, by their numbers; nothing when neither tells.
std::optional<bool> MadeBefore(platform::Os& os, const ListedBackup& a, const ListedBackup& b);

inline constexpr wchar_t kCopyMissing[] = L"missing";
// The copy of backup n on C:: "kept", "missing" (also when its date stamp is) or "differs"; empty
// while copies are off or when the backup has no file. Never throws a platform failure.
std::wstring CopyState(platform::Os& os, const std::wstring& runNumber);

// The copies that are missing (the drive was not plugged in, copies were turned on later, the
// date stamp's copy failed) made for every backup on C: that checks out now: a whole
// registration file, which nobody writes any more, that the restore would accept. A backup that
// cannot be read now (the registry tool still holds it) is tried again the next time; a failure
// ends the catching up only when the copies folder has gone. A backup with a file of its name in
// the copies folder is left alone. Stops between backups when `stop` is set. Gives how many
// were copied.
std::size_t CatchUpCopies(platform::Os& os, const std::atomic<bool>& stop);
// The same, counting as it goes, for a window that shows how far it got.
struct CatchUpCount {
    std::atomic<std::size_t> missing{0}; // the copies missing when it began
    std::atomic<std::size_t> tried{0};   // of those, how many were tried so far
    std::atomic<std::size_t> made{0};
};
std::size_t CatchUpCopies(platform::Os& os, const std::atomic<bool>& stop, CatchUpCount& count);

} // namespace backup
