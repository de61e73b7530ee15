// The Backups window: the backup folders on C: and the copies elsewhere with what each holds, a comparison of one with
// the list now or of two with each other, and a restore that cannot lose the current list.
#pragma once

#include "backup/backup_list.h"
#include "backup/compare.h"
#include "backup/copies.h"
#include "backup/restore.h"
#include "platform/forms.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
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

    // Whether a restore is under way.
    bool Restoring() const noexcept { return restore_ != nullptr; }
    // Whether the program may end now. While a restore changes the key: when Windows ends the
    // session, the restore is asked to end and waited for as long as Windows allows; else the
    // user is asked, and on Yes `whenWhole` runs once the key is whole again.
    bool MayEnd(int unloadMode, std::function<void()> whenWhole);
    // Waits until a restore that changes the key has left it whole: the program is about to end.
    void FinishRestore();
    // Nothing may write to the key in this run: a restore cut off earlier could not be undone.
    void RefuseRestores(std::wstring why) { restoresRefused_ = std::move(why); }

    // Rows whose reading shows its progress: more than the list shows at once.
    static constexpr std::size_t kManyRows = 50;

private:
    // The list's columns, in the window's three files.
    enum Column { kBackup, kCreated, kSize, kValues, kKeys, kState, kCopy };

    void Form_Load();
    void Form_Unload(platform::EventArgs& args);
    void Form_Resize();
    void Form_KeyDown(const platform::EventArgs& args);
    void Form_MouseMove();
    void cmdCompare_Click();
    void cmdRestore_Click();
    void cmdDelete_Click();
    void cmdOpenFolder_Click();
    void cmdRestoreFromFile_Click();
    void RestoreFromFile(const std::wstring& file);
    void cmdCopies_Click();
    void ShowCopiesFolder();
    void cmdClose_Click();
    void cmdAutomatic_Click();
    void tmrWork_Timer();

    void ListBackups();
    void StopWork();
    void ShowDetails();
    void ShowComparison();
    // The comparison's summary and rows, in place of the text box.
    void ShowTable(std::wstring summary, std::vector<std::vector<std::wstring>> rows);
    // The text box, in place of the table: its text, for a message or the restore's steps.
    std::wstring& ShowText();
    void ListKeyDown(const wchar_t* list, const platform::EventArgs& args);
    void CopyRows();
    void ShowCaughtUp();
    void ShowWork();
    std::vector<backup::ListedBackup> SelectedRows() const;

    // The restore, moved on at each tick; the window asks and tells.
    // Tells why no restore may start now, if so.
    bool MayStartRestore();
    void StartRestore(const std::wstring& firstStep, backup::RestoreRun::MakePlan makePlan);
    void StepRestore();
    void EndRestore();
    // Stops the catching up of copies and lets it go: the window is closing.
    void LetGoOfCatchUp();
    void CatchUp();
    // A copy's state as its row shows it: one still missing while the catching up runs is on its way.
    std::wstring CopyShown(const std::wstring& state) const;

    backup::StartSafetyBackup safetyBackup_;
    std::vector<backup::ListedBackup> backups_; // of the rows: C: newest first, then the copies

    // Filled off the window's thread; the timer moves what is ready into the rows.
    struct Row {
        backup::BackupDetails read;
        std::wstring copy; // "kept", "missing", "differs"; empty for a copy's row or with copies off
    };
    struct Details {
        std::mutex lock;
        // The copies' rows, once the copies folder has been listed; they follow those on C:.
        std::optional<std::vector<backup::ListedBackup>> copies;
        std::vector<std::optional<Row>> rows;
        std::atomic<bool> stop{false};
    };
    std::shared_ptr<Details> details_;
    std::size_t detailsShown_ = 0;

    struct Comparison {
        std::wstring heading; // with the summary, once done
        std::wstring problem;
        std::vector<std::vector<std::wstring>> rows;
        std::atomic<bool> ready{false}; // the rows are whole, while the job may still be freeing memory
    };
    std::shared_ptr<Comparison> comparison_;

    std::unique_ptr<platform::Job> detailsJob_;
    // Makes the copies that are missing; let go when the window closes. When it made any, it
    // reads the copies' states again, which the timer puts into the rows once they are filled.
    struct CaughtUp {
        std::mutex lock;
        std::optional<std::vector<std::pair<std::wstring, std::wstring>>> states; // run number, copy state
        std::atomic<bool> done{false};
        backup::CatchUpCount count;
    };
    std::shared_ptr<CaughtUp> caughtUp_ = std::make_shared<CaughtUp>();
    std::shared_ptr<std::atomic<bool>> catchUpStop_ = std::make_shared<std::atomic<bool>>(false);
    std::unique_ptr<platform::Job> catchUpJob_;
    std::unique_ptr<platform::Job> comparisonJob_;

    std::unique_ptr<backup::RestoreRun> restore_;
    bool workShown_ = false;      // the label and the bar tell the work under way
    std::wstring wordsShown_;     // of the work
    std::wstring wordsBefore_;    // what the label showed before
    bool asking_ = false;         // a question of the restore is open
    bool sessionBlocked_ = false; // Windows is asked not to end the session
    std::function<void()> whenWhole_;
    std::wstring restoresRefused_;
    std::unique_ptr<platform::Form> automatic_;
};

} // namespace ui
