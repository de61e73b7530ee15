// The size monitor: twice a second the size label shows how large the backup file has grown,
// or why the export failed.
#include "app/Form1.h"
#include "backup/backup_paths.h"

void Form1::Timer1_Timer()
{
    // Each tick starts afresh: a file or folder that is not there yet, or any other failure,
    // ends this tick and the next one looks again.
    try {
        WatchExport();
        platform::Control& label2 = (*this)[L"Label2"];
        if (!exportFailure_.empty()) {
            label2.caption = exportFailure_;
            label2.visible = true;
            return;
        }
        const std::uint64_t length = os.FileLen(backup::BackupFile(startupRunNumber_));
        if (length != 0) {
            backupSize = backup::FormatKilobytes(length, os.DecimalSeparator());
            label2.caption = sizeCaptionPrefix_ + backupSize + L" kb";
            label2.visible = true;
        }
    } catch (const std::exception&) {
        return;
    }
}

// The registry tool is never waited for, but an export that failed must not pass for a backup.
void Form1::WatchExport()
{
    if (!exportProcess_) {
        return;
    }
    const std::optional<std::uint32_t> exitCode = exportProcess_->ExitCode();
    if (!exitCode) {
        return;
    }
    exportProcess_.reset();
    if (*exitCode == 0) {
        return;
    }
    exportFailure_ = os.RegistryKeyExists(backup::kAddOnKey)
                         ? L"Export failed: reg.exe ended with code " + std::to_wstring(*exitCode)
                         : std::wstring(L"Nothing to back up: ") + backup::kAddOnKey + L" does not exist";
}
