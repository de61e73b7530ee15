// Backups that happen by themselves: which backups /backup /auto made, and which of them a year
// of runs keeps.
#pragma once

#include "platform/os.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace backup {

// Days since 1 January 1970 of a date as the date stamps have it ("12-06-2026 ..."); none for
// anything else.
std::optional<std::int64_t> DayOf(std::wstring_view created);

struct AutomaticBackup {
    std::wstring number; // the run number, as its folder is named
    std::int64_t day;    // the day its date stamp names, as DayOf gives it
};

// The automatic backups that thinning deletes on `today`. Kept are the newest 3, every one of the
// last 7 days, the newest of each of the last 5 weeks (7 days back from today each) and the
// newest of each of the last 12 calendar months; one dated after today is kept too.
std::vector<std::wstring> BackupsToThin(std::vector<AutomaticBackup> backups, std::int64_t today);

// The record that /backup /auto made a backup: its date stamp's text in the settings store, so
// that neither a moved program nor a planted file changes what counts as automatic.
void MarkAutomatic(platform::Os& os, const std::wstring& runNumber);
void ForgetAutomatic(platform::Os& os, const std::wstring& runNumber);
// The backups on C: whose record matches their date stamp, newest first.
std::vector<AutomaticBackup> AutomaticBackups(platform::Os& os);

// "12-06-2026 12:00:00 PM" as "Sunday 6 December at 12:00", or shorter as "6 Dec at 12:00";
// anything else as it is.
std::wstring WhenInWords(const std::wstring& when, bool shorter = false);

// The record that the list equalled backup `runNumber` as read at `since` (SystemTime, taken
// before the list was read), so that the next run can tell it unchanged without reading every value.
void RecordUnchanged(platform::Os& os, const std::wstring& runNumber, std::uint64_t since);
// The number of values in backup `runNumber` when the list is sure to equal it still: the record
// names that backup and its file's length, the file still reads, no key was written since (nor
// has the clock gone back), and the keys and their numbers of values are the backup's. Nothing
// where it cannot be told so quickly; then the list is compared value by value.
std::optional<std::size_t> UnchangedSinceRecorded(platform::Os& os, const std::wstring& runNumber);

// What the last automatic run did, for the window to tell.
struct AutomaticRun {
    std::wstring when; // "12-06-2026 12:00:00 PM"
    int exitCode = 0;
    bool warned = false;
    std::wstring line; // "unchanged since backup 12 of 12-06-2026", what failed, or the warning
};
void RecordAutomaticRun(platform::Os& os, const AutomaticRun& run);
// The run recorded last; nothing before the first.
std::optional<AutomaticRun> LastAutomaticRun(platform::Os& os);
// What the last automatic run has to tell the user when it failed or warned, once: the text is
// given until AutomaticRunTold is called for that run. Nothing for a run that went well.
std::optional<std::wstring> AutomaticRunToTell(platform::Os& os);
void AutomaticRunTold(platform::Os& os);

} // namespace backup
