// The Backups window: the backup folders on C: with what each holds, a comparison of one with
// the list now or of two with each other, and a restore that cannot lose the current list.
#pragma once

#include "backup/backup_list.h"
#include "backup/compare.h"
#include "backup/restore.h"
#include "platform/forms.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace ui {

class frmBackups : public platform::Form {
public:
    // `safetyBackup` starts a backup as a click on "Export Custom Names" does.
    frmBackups(platform::Os& system, platform::Runtime& forms, backup::StartSafetyBackup safetyBackup);
    ~frmBackups() override;
    frmBackups(const frmBackups&) = delete;
    frmBackups& operator=(const frmBackups&) = delete;

    static platform::Layout Layout();

    // Lines of a comparison that reach the text box at each tick, so that a long one never
    // holds the window up.
    static constexpr std::size_t kLinesPerTick = 2000;

private:
    void Form_Load();
    void Form_Unload();
    void Form_Resize();
    void Form_KeyDown(const platform::EventArgs& args);
    void Form_MouseMove();
    void cmdCompare_Click();
    void cmdRestore_Click();
    void cmdOpenFolder_Click();
    void cmdClose_Click();
    void tmrWork_Timer();

    void ListBackups();
    void StopWork();
    void ShowDetails();
    void ShowComparison();
    std::vector<std::wstring> SelectedNumbers() const;

    backup::StartSafetyBackup safetyBackup_;
    std::vector<std::wstring> numbers_; // of the rows, newest first

    // Filled off the window's thread; the timer moves what is ready into the rows.
    struct Details {
        std::mutex lock;
        std::vector<std::optional<backup::BackupDetails>> rows;
        std::atomic<bool> stop{false};
    };
    std::shared_ptr<Details> details_;
    std::size_t detailsShown_ = 0;

    struct Comparison {
        std::wstring heading;
        std::wstring problem;
        std::vector<backup::Difference> differences;
    };
    std::shared_ptr<Comparison> comparison_;
    std::size_t comparisonShown_ = 0;

    std::unique_ptr<platform::Job> detailsJob_;
    std::unique_ptr<platform::Job> comparisonJob_;
};

} // namespace ui
