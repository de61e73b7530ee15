#include "backup/export.h"

#include "backup/backup_paths.h"
#include "backup/run_number.h"

#include <limits>
#include <utility>

namespace backup {

std::wstring FindRegistryTool(platform::Os& os)
{
    for (const std::wstring& folder : {os.SystemPath(), os.AppPath()}) {
        std::wstring tool = JoinPath(folder, L"reg.exe");
        if (os.FileExists(tool)) {
            return tool;
        }
    }
    return {};
}

// A run number comes back after runs without a backup, and an existing folder holds an earlier
// backup: that number is passed over for the next free one. The folder's creation is the claim,
// so two programs running at once never get the same folder.
std::wstring ClaimBackupFolder(platform::Os& os, const std::wstring& runNumber)
{
    if (os.MakeNewDir(BackupFolder(runNumber))) {
        return runNumber;
    }
    std::int64_t number = ParseRunNumber(runNumber).value_or(0);
    do {
        if (number >= kLargestRunNumber - 1) {
            throw platform::Failure(L"Finding a free backup folder after", BackupFolder(runNumber),
                                    L"no run number is left.");
        }
        ++number;
    } while (!os.MakeNewDir(BackupFolder(std::to_wstring(number))));
    return std::to_wstring(number);
}

std::wstring DateStampText(platform::Os& os)
{
    return L"Date Created: " + os.DateText() + L"\r\nTime Created: " + os.TimeText() + L"\r\n";
}

void WriteDateStamp(platform::Os& os, const std::wstring& runNumber, const std::wstring& text)
{
    const std::wstring path = DateStampFile(runNumber);
    os.AppendText(path, text);
    os.SetAttr(path, platform::vbReadOnly);
}

void WriteDateStamp(platform::Os& os, const std::wstring& runNumber)
{
    WriteDateStamp(os, runNumber, DateStampText(os));
}

std::unique_ptr<ExportRun> StartBackup(platform::Os& os, const std::wstring& registryTool,
                                       const std::wstring& runNumber)
{
    std::wstring claimed = ClaimBackupFolder(os, runNumber);
    return std::make_unique<ExportRun>(
        os, claimed, os.Shell(ExportCommandLine(registryTool, claimed), platform::vbMinimizedNoFocus));
}

ExportRun::ExportRun(platform::Os& os, std::wstring runNumber, std::unique_ptr<platform::Process> tool)
    : os_(os), runNumber_(std::move(runNumber)), tool_(std::move(tool))
{
}

void ExportRun::StampWhenEnded()
{
    stamp_ = DateStampText(os_);
}

void ExportRun::WriteDateStamp()
{
    if (!stamp_.empty()) {
        backup::WriteDateStamp(os_, runNumber_, std::exchange(stamp_, std::wstring()));
    }
}

ExportRun::State ExportRun::Poll()
{
    if (state_ == State::Exporting) {
        if (const std::optional<std::uint32_t> exitCode = tool_->ExitCode()) {
            tool_.reset();
            ToolEnded(*exitCode);
        }
    }
    if (state_ == State::Checking) {
        try {
            if (!job_->Done()) {
                return state_;
            }
        } catch (const std::exception& error) {
            // Out of memory, say: the check could not be made, so the backup is no checked one.
            job_.reset();
            state_ = State::Failed;
            problem_ = Problem::CheckFailed;
            failure_ = L"Backup not checked: " + platform::FailureText(error);
            return state_;
        }
        job_.reset();
        if (check_.outcome == CheckResult::Outcome::Same) {
            state_ = State::Checked;
        } else {
            state_ = State::Failed;
            problem_ = Problem::CheckFailed;
            failure_ = CheckFailureText(check_);
        }
    }
    return state_;
}

void ExportRun::ToolEnded(std::uint32_t exitCode)
{
    if (exitCode == 0) {
        WriteDateStamp();
        // An exit code of 0 is not yet a backup: the file is read back and compared with the key.
        state_ = State::Checking;
        job_ = os_.StartJob([this, file = BackupFile(runNumber_)] { check_ = CheckBackup(os_, file, kAddOnKey); });
        return;
    }
    state_ = State::Failed;
    problem_ = Problem::ExportFailed;
    failure_ = L"Export failed: reg.exe ended with code " + std::to_wstring(exitCode);
    bool keyMissing = false;
    try {
        keyMissing = !os_.RegistryKeyExists(kAddOnKey);
    } catch (const platform::Failure&) {
        // A key that cannot be read is a likely reason for the failure; the tool's code is what is known.
        WriteDateStamp();
        return;
    }
    if (!keyMissing) {
        WriteDateStamp(); // the folder stays, with what the tool wrote
        return;
    }
    stamp_.clear();
    failure_ = std::wstring(L"Nothing to back up: ") + kAddOnKey + L" does not exist";
    problem_ = Problem::NothingToBackUp;
    // The folder holds at most the date stamp of this run: backup folders hold backups.
    const std::wstring stamp = DateStampFile(runNumber_);
    if (os_.FileExists(stamp)) {
        os_.RemoveFile(stamp);
    }
    os_.RemoveEmptyDir(BackupFolder(runNumber_));
}

} // namespace backup
