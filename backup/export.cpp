// The backup export: a new numbered folder on C:, the add-on's key exported into it by the
// registry tool, a read-only date stamp beside it.
#include "app/Form1.h"
#include "app/run_count.h"
#include "backup/backup_paths.h"

#include <limits>

void Form1::cmdExport_Click()
{
    const std::wstring registryTool = FindRegistryTool();
    if (registryTool.empty()) {
        os.MsgBox(L"Nothing was backed up: the registry tool reg.exe is neither in\n" + os.AppPath() + L"\nnor in\n" +
                      os.SystemPath(),
                  platform::MessageKind::Error);
        return;
    }
    ClaimBackupFolder();
    if (!backupDone_) {
        SetSizeCaptionRunNumber(timesRun_);
    }
    exportFailure_.clear();
    exportProcess_ = os.Shell(backup::ExportCommandLine(registryTool, timesRun_), platform::vbMinimizedFocus);
    (*this)[L"Timer1"].enabled = true;
    WriteDateStamp();
    OpenBackupFolder();
    RefreshRunCount();
    backupDone_ = true;
}

// The copy beside the program comes first, as it always has; the system's own otherwise.
std::wstring Form1::FindRegistryTool()
{
    for (const std::wstring& folder : {os.AppPath(), os.SystemPath()}) {
        std::wstring tool = backup::JoinPath(folder, L"reg.exe");
        if (os.FileExists(tool)) {
            return tool;
        }
    }
    return {};
}

// Creates the backup folder of the current run number. A run number comes back after runs
// without a backup, and an existing folder holds an earlier backup: that number is passed over
// for the next free one, and the counter moves on to it as if the refresh had read it.
void Form1::ClaimBackupFolder()
{
    if (os.MakeNewDir(backup::BackupFolder(timesRun_))) {
        return;
    }
    std::int64_t runNumber = *app::ParseRunCount(timesRun_);
    do {
        if (runNumber >= std::numeric_limits<std::int64_t>::max() - 2) {
            throw platform::Failure(L"Finding a free backup folder after", backup::BackupFolder(timesRun_),
                                    L"no run number is left.");
        }
        ++runNumber;
    } while (!os.MakeNewDir(backup::BackupFolder(std::to_wstring(runNumber))));
    timesRun_ = std::to_wstring(runNumber);
    StoreRunCount(runNumber + 1);
    ShowRunNumber();
}

void Form1::WriteDateStamp()
{
    const std::wstring path = backup::DateStampFile(timesRun_);
    os.AppendText(path, L"Date Created: " + os.DateText() + L"\r\nTime Created: " + os.TimeText() + L"\r\n");
    os.SetAttr(path, platform::vbReadOnly);
}

void Form1::OpenBackupFolder()
{
    if ((*this)[L"chkOpen"].value == 1) {
        os.Shell(backup::FileBrowserCommandLine(os.WindowsPath(), L"C:\\LarkSpool" + timesRun_),
                 platform::vbNormalFocus);
    }
}
