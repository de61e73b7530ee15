// The main window: start-up, run counter, exit, hover highlighting, popup menu and links
// and the export with its size monitor, which drive the backup engine in backup/.
#pragma once

#include "backup/copies.h"
#include "backup/export.h"
#include "backup/restore.h"
#include "platform/forms.h"
#include "ui/clsOnTop.h"
#include "ui/frmAbout.h"
#include "ui/frmBackups.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class Form1 : public platform::Form {
public:
    Form1(platform::Os& system, platform::Runtime& forms);
    ~Form1() override;
    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;

    static platform::Layout Layout();

    // Puts the stored run count back when this run made no backup.
    void did_backup();

    // State, readable for the tests.
    const std::wstring& timesRun() const noexcept { return timesRun_; }
    bool backupDone() const noexcept { return backupDone_; }
    const std::wstring& sizeCaptionPrefix() const noexcept { return sizeCaptionPrefix_; }
    const std::wstring& startupRunNumber() const noexcept { return startupRunNumber_; }

private:
    // Start-up and exit.
    void Form_Load();
    void Form_Activate();
    void cmdExit_Click();
    void Form_Unload(platform::EventArgs& args);
    void SetSizeCaptionRunNumber(const std::wstring& runNumber);

    // Run counter.
    void RefreshRunCount();
    void ShowRunNumber();

    // Hover highlighting, popup menu and links.
    void cmdExport_MouseMove();
    void cmdExit_MouseMove();
    void cmdAbout_MouseMove();
    void Form_MouseMove();
    void Label1_MouseMove();
    void ResetCommandLabels();
    void chkOpen_MouseDown(const platform::EventArgs& args);
    void mn2_Click();
    void mn3_Click();
    void Image1_Click();
    void cmdAbout_Click();

    // Backup export.
    void cmdExport_Click();
    // What a click on "Export Custom Names" does; the export's run, or none when no registry tool
    // could be found (the user has been told). Shared with a restore whose safety backup it is.
    std::shared_ptr<backup::ExportRun> ExportAsClicked();
    void WriteDateStamps();
    void OpenBackupFolder();

    // Backup size monitor.
    void Timer1_Timer();
    // The export whose file the size caption names, while it has not failed.
    const backup::ExportRun* WatchedExport() const;
    // Each checked backup copied off the window's thread, and the last copy's outcome told.
    void CopyCheckedBackups();

    std::optional<ui::clsOnTop> onTop;
    std::wstring backupSize;
    std::wstring sizeCaptionPrefix_;
    std::wstring startupRunNumber_;
    std::wstring timesRun_;
    bool backupDone_ = false;

    std::unique_ptr<ui::frmAbout> about_;
    std::unique_ptr<ui::frmBackups> backups_;
    // Why nothing may write to the key in this run; empty when restores may run.
    std::wstring restoresRefused_;
    // This run's exports whose outcome is still to be told, or that the caption names.
    std::vector<std::shared_ptr<backup::ExportRun>> exports_;
    // A copy's outcome, ready before its job ends: the job goes on to make the copies that were
    // missing.
    struct CopyResult {
        std::mutex lock;
        bool ready = false;
        std::optional<backup::CopyOutcome> outcome; // nothing when copies are off
    };
    struct Copy {
        std::wstring runNumber;
        std::wstring checked; // "28 values checked"
        std::shared_ptr<CopyResult> result;
        std::unique_ptr<platform::Job> job;
        bool told = false;
    };
    // Set when the window goes: catching up stops after the copy it is making.
    std::shared_ptr<std::atomic<bool>> copiesStop_ = std::make_shared<std::atomic<bool>>(false);
    std::vector<Copy> copies_;
};
