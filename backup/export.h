// The backup engine: a free numbered folder, the export by the registry tool, the date stamp,
// and the watch over one export until its file is checked. It knows no window; the main
// window and the command line both drive it.
#pragma once

#include "backup/check.h"
#include "platform/os.h"

#include <memory>
#include <string>

namespace backup {

// The registry tool: the system's own, and a copy beside the program only where the system has
// none, so that a reg.exe dropped into a downloads folder never runs. Empty when neither exists.
std::wstring FindRegistryTool(platform::Os& os);

// Creates the backup folder of the run number, or, when that folder holds an earlier backup, of
// the first free number above it. Returns the number whose folder it made.
std::wstring ClaimBackupFolder(platform::Os& os, const std::wstring& runNumber);

// "Date Created.txt" beside the backup, read-only: of now, or with the text of DateStampText.
void WriteDateStamp(platform::Os& os, const std::wstring& runNumber);
void WriteDateStamp(platform::Os& os, const std::wstring& runNumber, const std::wstring& text);
std::wstring DateStampText(platform::Os& os);

class ExportRun;

// The start of a backup as a click on "Export Custom Names" makes it: the folder of the run
// number (or of the next free one) and the registry tool started on the add-on's key, minimised
// without taking the keyboard, and not waited for. The date stamp follows. The run's number is
// the one whose folder was made.
std::unique_ptr<ExportRun> StartBackup(platform::Os& os, const std::wstring& registryTool,
                                       const std::wstring& runNumber);

// One export, from the start of the registry tool until its file is checked against the key.
class ExportRun {
public:
    enum class State { Exporting, Checking, Checked, Failed };
    enum class Problem { None, NothingToBackUp, ExportFailed, CheckFailed };

    ExportRun(platform::Os& os, std::wstring runNumber, std::unique_ptr<platform::Process> tool);

    // Moves on as far as it can without waiting: the tool's end, then the check, which runs off
    // the caller's thread. A platform failure other than the key's lookup is thrown.
    State Poll();

    // The date stamp, taken now, is written once the registry tool has ended (or at WriteDateStamp):
    // while the tool writes, every file operation beside it slows it down.
    void StampWhenEnded();
    // Writes the stamp taken by StampWhenEnded now, if it is still to be written.
    void WriteDateStamp();

    State state() const noexcept { return state_; }
    const std::wstring& runNumber() const noexcept { return runNumber_; }
    // Checked: the backup's values, all found in the key.
    std::size_t valuesChecked() const noexcept { return check_.values; }
    std::size_t keysChecked() const noexcept { return check_.keys; }
    // Checked: the file's length when it was read back.
    std::uint64_t bytesChecked() const noexcept { return check_.bytes; }
    // Checked, or failed in the check: what the check found.
    const CheckResult& check() const noexcept { return check_; }
    // Failed: why, in the size label's words.
    const std::wstring& failure() const noexcept { return failure_; }
    // Why it failed. NothingToBackUp: the key does not exist, and the folder made for it is gone again.
    Problem problem() const noexcept { return problem_; }

private:
    void ToolEnded(std::uint32_t exitCode);

    platform::Os& os_;
    std::wstring runNumber_;
    std::unique_ptr<platform::Process> tool_;
    State state_ = State::Exporting;
    std::wstring failure_;
    std::wstring stamp_; // the date stamp still to be written
    Problem problem_ = Problem::None;
    CheckResult check_;
    std::unique_ptr<platform::Job> job_; // last: it writes check_ until it has ended
};

} // namespace backup
