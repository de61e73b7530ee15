// The Backups window's copies: the folder they go to, chosen or stopped, and the copies that are
// missing made off the window's thread, their states shown in the rows once made.
#include "ui/frmBackups.h"

#include "backup/backup_paths.h"
#include "backup/copies.h"

#include <algorithm>
#include <mutex>
#include <utility>

namespace ui {

namespace {

using platform::Control;

} // namespace

// The window's catching up ends after the backup it copies and is waited for by nobody, so that
// the window opened again never waits for a slow share.
void frmBackups::LetGoOfCatchUp()
{
    *catchUpStop_ = true;
    if (catchUpJob_) {
        catchUpJob_->LetGo();
        catchUpJob_.reset();
    }
}

// Makes the copies that are missing. One that still runs, for a folder chosen before, is let go
// and stops after the copy it makes.
void frmBackups::CatchUp()
{
    LetGoOfCatchUp();
    catchUpStop_ = std::make_shared<std::atomic<bool>>(false);
    caughtUp_ = std::make_shared<CaughtUp>();
    (*this)[L"tmrWork"].enabled = true;
    std::vector<std::wstring> numbers;
    for (const backup::ListedBackup& listed : backups_) {
        if (!listed.number.empty()) {
            numbers.push_back(listed.number);
        }
    }
    catchUpJob_ = os.StartJob([&system = os, stop = catchUpStop_, caughtUp = caughtUp_, numbers] {
        if (backup::CatchUpCopies(system, *stop, caughtUp->count) > 0) {
            std::vector<std::pair<std::wstring, std::wstring>> states(numbers.size());
            std::transform(numbers.begin(), numbers.end(), states.begin(), [&system](const std::wstring& number) {
                return std::pair{number, backup::CopyState(system, number)};
            });
            const std::lock_guard<std::mutex> guard(caughtUp->lock);
            caughtUp->states = std::move(states);
        }
        caughtUp->done = true;
    });
}

void frmBackups::ShowCopiesFolder()
{
    const std::wstring folder = backup::CopiesFolder(os);
    ShowText() =
        folder.empty() ? L"" : L"Copies of the backups go to " + backup::JoinPath(folder, os.ComputerName()) + L".";
}

// Where copies go: a folder chosen with the system's picker, tried at once; while copies are on,
// the user is asked first whether to choose another folder or to stop them.
void frmBackups::cmdCopies_Click()
{
    const std::wstring current = backup::CopiesFolder(os);
    if (!current.empty() && !os.Ask(L"Copies of the backups go to " + current + L".\n\nChoose another folder?")) {
        if (os.Ask(L"Stop keeping copies of the backups in " + current + L"?")) {
            LetGoOfCatchUp();
            backup::SetCopiesFolder(os, L"");
            ListBackups();
            ShowCopiesFolder();
        }
        return;
    }
    std::optional<std::wstring> folder;
    try {
        folder = os.ChooseFolder(hWnd(), L"Copies");
        if (folder) {
            backup::SetCopiesFolder(os, *folder);
        }
    } catch (const backup::CopiesFolderRefused& refused) {
        os.MsgBox(L"Copies cannot be kept in " + folder.value_or(L"that folder") + L":\n" + refused.why() + L".",
                  platform::MessageKind::Error);
        return;
    } catch (const platform::Failure& failure) {
        os.MsgBox(L"Copies cannot be kept in " + folder.value_or(L"that folder") + L":\n" + failure.text(),
                  platform::MessageKind::Error);
        return;
    }
    if (folder) { // its copies, of this computer and of others, become rows
        ListBackups();
        CatchUp();
    }
    ShowCopiesFolder();
}

std::wstring frmBackups::CopyShown(const std::wstring& state) const
{
    return state == backup::kCopyMissing && !caughtUp_->done ? L"copying" : state;
}

// After the rows are filled, so that no state read before the catching up ended overwrites it.
void frmBackups::ShowCaughtUp()
{
    Control& list = (*this)[L"lstBackups"];
    const std::lock_guard<std::mutex> guard(caughtUp_->lock);
    if (!caughtUp_->states) {
        if (caughtUp_->done) { // nothing was copied: what was on its way is missing still
            for (auto& row : list.rows) {
                if (row[kCopy] == L"copying") {
                    row[kCopy] = backup::kCopyMissing;
                }
            }
        }
        return;
    }
    for (const auto& [number, state] : *caughtUp_->states) {
        for (std::size_t row = 0; row < backups_.size() && row < list.rows.size(); ++row) {
            if (backups_[row].number == number) {
                list.rows[row][kCopy] = state;
            }
        }
    }
    caughtUp_->states.reset();
}

} // namespace ui
