// The main window's export and size monitor: a click starts a backup through the engine, and
// twice a second the size label shows how large it has grown, whether it checked out, or why
// it failed.
#include "app/Form1.h"
#include "app/run_count.h"
#include "backup/backup_paths.h"
#include "backup/check.h"
#include "backup/run_number.h"

#include <algorithm>
#include <atomic>

namespace {
// The Backups window opens from menus only; the first checked backup says where.
constexpr wchar_t kBackupsHint[] = L"Right-click for your backups.";
} // namespace

void Form1::cmdExport_Click()
{
    ExportAsClicked();
}

std::shared_ptr<backup::ExportRun> Form1::ExportAsClicked()
{
    const std::wstring registryTool = backup::FindRegistryTool(os);
    if (registryTool.empty()) {
        os.MsgBox(L"Nothing was backed up: the registry tool reg.exe is neither in\n" + os.SystemPath() +
                      L"\nnor in\n" + os.AppPath(),
                  platform::MessageKind::Error);
        return nullptr;
    }
    std::shared_ptr<backup::ExportRun> run = backup::StartBackup(os, registryTool, timesRun_);
    if (run->runNumber() != timesRun_) {
        // The counter moves on to the number taken, as if the refresh had read it.
        timesRun_ = run->runNumber();
        app::StoreRunCount(os, *backup::ParseRunNumber(timesRun_) + 1);
        ShowRunNumber();
    }
    // Exports whose failure was told make way; the first export that did not fail names the
    // file that the size caption follows.
    std::erase_if(exports_, [](const auto& earlier) { return earlier->state() == backup::ExportRun::State::Failed; });
    if (!WatchedExport()) {
        SetSizeCaptionRunNumber(timesRun_);
    }
    run->StampWhenEnded();
    exports_.push_back(std::move(run));
    (*this)[L"Timer1"].enabled = true;
    OpenBackupFolder();
    RefreshRunCount();
    backupDone_ = true;
    return exports_.back();
}

// The stamps were taken just after each tool started; a tool still running at exit leaves its
// folder stamped all the same.
void Form1::WriteDateStamps()
{
    for (const auto& run : exports_) {
        run->WriteDateStamp();
    }
}

void Form1::OpenBackupFolder()
{
    if ((*this)[L"chkOpen"].value == 1) {
        os.Shell(backup::FileBrowserCommandLine(os.WindowsPath(), L"C:\\LarkSpool" + timesRun_),
                 platform::vbNormalFocus);
    }
}

const backup::ExportRun* Form1::WatchedExport() const
{
    const auto found = std::find_if(exports_.begin(), exports_.end(),
                                    [this](const auto& run) { return run->runNumber() == startupRunNumber_; });
    return found != exports_.end() ? found->get() : nullptr;
}

void Form1::CopyCheckedBackups()
{
    for (const auto& run : exports_) {
        if (run->state() == backup::ExportRun::State::Checked &&
            std::none_of(copies_.begin(), copies_.end(),
                         [&run](const Copy& copy) { return copy.runNumber == run->runNumber(); })) {
            auto result = std::make_shared<CopyResult>();
            copies_.push_back(
                {.runNumber = run->runNumber(),
                 .checked = backup::CountOf(run->valuesChecked(), L"value", L"values") + L" checked",
                 .result = result,
                 .job = os.StartJob([&system = os, result, stop = copiesStop_, number = run->runNumber()] {
                     const std::optional<backup::CopyOutcome> outcome = backup::CopyBackup(system, number);
                     {
                         const std::lock_guard<std::mutex> guard(result->lock);
                         result->outcome = outcome;
                         result->ready = true;
                     }
                     if (outcome) { // then the copies that were missing, which may be many
                         backup::CatchUpCopies(system, *stop);
                     }
                 }),
                 .told = false});
        }
    }
    bool underWay = false;
    for (Copy& copy : copies_) {
        std::optional<backup::CopyOutcome> outcome;
        bool ready = false;
        {
            const std::lock_guard<std::mutex> guard(copy.result->lock);
            outcome = copy.result->outcome;
            ready = copy.result->ready;
        }
        try {
            if (copy.job && copy.job->Done()) {
                copy.job.reset();
            }
        } catch (const std::exception& error) {
            copy.job.reset();
            if (!ready) { // once the copy has been told, only the catching up can have failed; it tries again later
                ready = true;
                outcome = backup::CopyOutcome{
                    .kept = false, .text = L"copy not made: " + platform::FailureText(error), .detail = {}};
            }
        }
        if (copy.told) {
            continue;
        }
        if (!ready) {
            underWay = true;
            continue;
        }
        copy.told = true;
        // The copy's outcome is nothing when copies are off. The size caption tells the first
        // export's check; a later export's check has only this line.
        std::wstring caption = outcome ? outcome->text : L"";
        if (copy.runNumber != startupRunNumber_) {
            caption = L"Larkspool" + copy.runNumber + L".reg: " + copy.checked + (outcome ? L", " : L"") + caption;
        } else if (!outcome || outcome->kept) { // a failed copy's line stays whole
            caption += (caption.empty() ? L"" : L". ") + std::wstring(kBackupsHint);
        }
        platform::Control& label3 = (*this)[L"Label3"];
        label3.caption = caption;
        label3.visible = true;
        Announce(L"Label3");
    }
    (*this)[L"tmrCopy"].enabled = underWay;
}

void Form1::Timer1_Timer()
{
    for (const auto& run : exports_) {
        run->Poll();
    }
    // A failed copy never turns a checked backup into a failed one: it has a line of its own.
    CopyCheckedBackups();
    platform::Control& label2 = (*this)[L"Label2"];
    // A screen reader is told when the label comes to tell an outcome, not at each size.
    const auto tellOutcome = [this, &label2, before = label2.caption] {
        if (label2.caption != before) {
            Announce(L"Label2");
        }
    };
    // The newest failure is told, naming its file when the caption names another.
    const auto failed = std::find_if(exports_.rbegin(), exports_.rend(),
                                     [](const auto& run) { return run->state() == backup::ExportRun::State::Failed; });
    if (failed != exports_.rend()) {
        const backup::ExportRun& run = **failed;
        label2.caption = run.runNumber() == startupRunNumber_
                             ? run.failure()
                             : L"Larkspool" + run.runNumber() + L".reg: " + run.failure();
        label2.visible = true;
        tellOutcome();
        return;
    }
    std::uint64_t length = 0;
    try {
        length = os.FileLen(backup::BackupFile(startupRunNumber_));
    } catch (const platform::Failure&) {
        // Not there yet, or gone: this tick ends and the next one looks again.
        return;
    }
    if (length == 0) {
        return;
    }
    backupSize = backup::FormatKilobytes(length, os.DecimalSeparator());
    label2.caption = sizeCaptionPrefix_ + backupSize + L" kb";
    // Only a file that was read back and found equal to the key is called checked, and only
    // while it is as long as it was then.
    if (const backup::ExportRun* watched = WatchedExport(); watched != nullptr &&
                                                            watched->state() == backup::ExportRun::State::Checked &&
                                                            watched->bytesChecked() == length) {
        label2.caption += L" (" + backup::CountOf(watched->valuesChecked(), L"value", L"values") + L" checked)";
        label2.visible = true;
        tellOutcome();
        return;
    }
    label2.visible = true;
}
