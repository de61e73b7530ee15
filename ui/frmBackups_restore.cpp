// The Backups window's restore: a backup or any registration file put in place of the list, a
// stage at a time off the window's thread, and the program's end held until the key is whole.
#include "ui/frmBackups.h"

#include "backup/restore.h"

#include <functional>
#include <memory>
#include <utility>

namespace ui {

namespace {

// How long the end of the session may wait for a restore to leave the key whole: Windows gives
// a program about five seconds.
constexpr int kEndOfSessionWait = 4000;

} // namespace

// The restore runs off the window's thread, a stage at a time; the window asks and tells.
void frmBackups::cmdRestore_Click()
{
    if (!MayStartRestore()) {
        return;
    }
    const std::vector<backup::ListedBackup> selected = SelectedRows();
    if (selected.size() != 1) {
        os.MsgBox(L"Select the one backup to restore.", platform::MessageKind::Information);
        return;
    }
    if (selected[0].number.empty()) {
        // A copy is restored from its file, named by its path, as a file picked would be.
        RestoreFromFile(selected[0].file);
        return;
    }
    const std::wstring created = (*this)[L"lstBackups"].rows[(*this)[L"lstBackups"].selected.front()][kCreated];
    StartRestore(L"Reading backup " + selected[0].number, [number = selected[0].number, created](platform::Os& system) {
        return backup::PlanRestore(system, number, created);
    });
}

// Any registration file (a copy from a stick, an attachment) through the same steps.
void frmBackups::cmdRestoreFromFile_Click()
{
    if (!MayStartRestore()) {
        return;
    }
    std::optional<std::wstring> file;
    try {
        file = os.ChooseFile(hWnd(), L"Restore From File");
    } catch (const platform::Failure& failure) {
        os.MsgBox(failure.text(), platform::MessageKind::Error); // nothing was changed
        return;
    }
    if (file) {
        RestoreFromFile(*file);
    }
}

void frmBackups::RestoreFromFile(const std::wstring& file)
{
    StartRestore(L"Reading " + file,
                 [file](platform::Os& system) { return backup::PlanRestoreFromFile(system, file); });
}

bool frmBackups::MayStartRestore()
{
    if (Restoring()) {
        os.MsgBox(L"A restore is under way. Wait until it has ended.", platform::MessageKind::Information);
        return false;
    }
    if (!restoresRefused_.empty()) {
        os.MsgBox(restoresRefused_, platform::MessageKind::Error);
        return false;
    }
    return true;
}

void frmBackups::StartRestore(const std::wstring& firstStep, backup::RestoreRun::MakePlan makePlan)
{
    StopWork();
    comparison_.reset();
    restore_ = std::make_unique<backup::RestoreRun>(os, firstStep, std::move(makePlan), safetyBackup_, false);
    (*this)[L"tmrWork"].enabled = true;
    StepRestore();
    ShowWork();
}

void frmBackups::StepRestore()
{
    if (!restore_ || asking_) {
        return; // a question is open: the tick comes back when it is answered
    }
    backup::RestoreRun::State state = restore_->Poll();
    while (state == backup::RestoreRun::State::Asking) {
        asking_ = true;
        const bool yes = os.Ask(restore_->question());
        asking_ = false;
        if (!restore_) {
            return; // the window was closed while the question was open: nothing had changed
        }
        restore_->Answer(yes);
        state = restore_->Poll();
    }
    // While the key changes, Windows is asked not to end the session.
    if (restore_->ChangingKey() != sessionBlocked_) {
        sessionBlocked_ = restore_->ChangingKey();
        os.BlockEndOfSession(hWnd(), sessionBlocked_ ? L"Restoring your custom names" : L"");
    }
    ShowText() = restore_->Steps();
    if (state == backup::RestoreRun::State::Ended) {
        EndRestore();
    }
}

// The steps end with the outcome, and the rows (the safety backup is one of its own now) are read
// again before the message, which stands above this window.
void frmBackups::EndRestore()
{
    const backup::RestoreOutcome outcome = restore_->outcome();
    ShowText() += L"\r\n" + restore_->lastStep();
    restore_.reset();
    std::function<void()> whenWhole = std::exchange(whenWhole_, nullptr);
    if (!whenWhole) {
        ListBackups();
    }
    ShowWork(); // the restore's bar gone before the message
    if (!outcome.message.empty()) {
        os.Report(hWnd(), outcome.message, outcome.kind);
    }
    // Asked to close while the key was changed: it is whole again.
    if (whenWhole) {
        whenWhole();
    }
}

void frmBackups::FinishRestore()
{
    constexpr int kFailureWait = 120000; // longer than the restore of the largest list takes
    if (restore_ && restore_->ChangingKey()) {
        restore_->Wait(kFailureWait);
    }
}

bool frmBackups::MayEnd(int unloadMode, std::function<void()> whenWhole)
{
    if (!restore_ || !restore_->ChangingKey()) {
        restore_.reset(); // nothing was changed yet: the restore is dropped
        return true;
    }
    if (unloadMode == platform::vbAppWindows) {
        restore_->Stop();
        restore_->Wait(kEndOfSessionWait);
        return true;
    }
    if (!os.Ask(L"A restore is under way.\n\nClose as soon as the list is whole again: the list from before, or "
                L"the backup once it stands in its place?")) {
        return false; // the restore goes on
    }
    if (!restore_) {
        return true; // it ended while the question was open
    }
    restore_->Stop();
    whenWhole_ = std::move(whenWhole);
    return false;
}

} // namespace ui
