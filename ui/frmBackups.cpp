// The Backups window: its layout, its events, the rows of the backups and the copies as they are
// read, deleting and opening folders, and the work under way beside the progress bar. Comparing
// is in frmBackups_compare.cpp, restoring in frmBackups_restore.cpp, copies in frmBackups_copies.cpp.
#include "ui/frmBackups.h"

#include "backup/backup_paths.h"
#include "backup/check.h"
#include "backup/copies.h"
#include "backup/export.h"
#include "ui/clsOnTop.h"
#include "ui/command_label.h"
#include "ui/frmAutomatic.h"
#include "ui/table.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace ui {

namespace {

using platform::Control;
using platform::ControlKind;

constexpr platform::Color kTextBlue = 0x00B6703D;
constexpr const wchar_t* kCommands[] = {L"cmdCompare", L"cmdRestore",         L"cmdDelete", L"cmdOpenFolder",
                                        L"cmdCopies",  L"cmdRestoreFromFile", L"cmdClose",  L"cmdAutomatic"};

} // namespace

platform::Layout frmBackups::Layout()
{
    platform::Layout layout;
    layout.name = L"frmBackups";
    layout.caption = L"LarkSpool Backups";
    layout.backColor = 0xFFFFFF;
    layout.frame = platform::Frame::Sizable;
    layout.clientWidth = 9600;
    layout.clientHeight = 5640;

    Control list{
        .name = L"lstBackups", .kind = ControlKind::ListView, .left = 120, .top = 495, .width = 9360, .height = 2880};
    list.foreColor = kTextBlue;
    list.backColor = 0xFFFFFF;
    list.tabIndex = 0;
    list.anchor = platform::kAnchorWidth | platform::kAnchorHeight;
    list.multiSelect = true;
    list.columns = {{L"Backup", 1200}, {L"Created", 2100}, {L"Size", 1000}, {L"Values", 700},
                    {L"Keys", 600},    {L"State", 2400},   {L"Copy", 800}};

    // Above the comparison's table, what it compares and its count of differences.
    Control summary{.name = L"lblCompare", .left = 120, .top = 3495, .width = 6360, .height = 255};
    summary.foreColor = kTextBlue;
    summary.transparent = true;
    summary.anchor = platform::kAnchorWidth | platform::kAnchorBottom;

    Control table{
        .name = L"lstCompare", .kind = ControlKind::ListView, .left = 120, .top = 3795, .width = 9360, .height = 1350};
    table.foreColor = kTextBlue;
    table.backColor = 0xFFFFFF;
    table.tabIndex = 1;
    table.visible = false;
    table.anchor = platform::kAnchorWidth | platform::kAnchorBottom;
    table.multiSelect = true;
    table.columns = {{L"Change", 1300}, {L"Key", 1700}, {L"Name", 2100}, {L"Before", 2000}, {L"After", 1900}};
    table.rowsVersion = 1; // up to one row per value of the list
    table.contextMenu = L"mnuTable";

    // Long work: how far it got, here and on the taskbar button.
    Control progress{
        .name = L"prgWork", .kind = ControlKind::ProgressBar, .left = 6600, .top = 3495, .width = 2880, .height = 255};
    progress.visible = false;
    progress.taskbar = true;
    progress.anchor = platform::kAnchorRight | platform::kAnchorBottom;

    // The restore's steps and the window's messages, in the table's place.
    Control text{
        .name = L"txtCompare", .kind = ControlKind::TextBox, .left = 120, .top = 3795, .width = 9360, .height = 1350};
    text.foreColor = kTextBlue;
    text.backColor = 0xFFFFFF;
    text.tabIndex = 2;
    text.readOnly = true;
    text.anchor = platform::kAnchorWidth | platform::kAnchorBottom;

    // When backups happen by themselves, under the comparison.
    Control automatic = CommandLabel(L"cmdAutomatic", L"Automatic...", 120, 1215, L'u', 5265);
    automatic.anchor = platform::kAnchorBottom;
    automatic.tabIndex = 3; // Tab reaches it after the comparison above it
    Control state{.name = L"lblAutomatic", .caption = L"Automatic backups: off", .left = 1440, .top = 5265};
    state.width = 8040;
    state.height = 255;
    state.foreColor = kTextBlue;
    state.transparent = true;
    state.liveRegion = true; // a window of its own, which screen readers read
    state.anchor = platform::kAnchorWidth | platform::kAnchorBottom;

    Control timer{.name = L"tmrWork", .kind = ControlKind::Timer};
    timer.visible = false;
    timer.enabled = false;
    timer.interval = 100;

    layout.controls = {CommandLabel(L"cmdCompare", L"Compare", 120, 1095, L'C'),
                       CommandLabel(L"cmdRestore", L"Restore", 1320, 1095, L'R'),
                       CommandLabel(L"cmdDelete", L"Delete", 2520, 1095, L'D'),
                       CommandLabel(L"cmdOpenFolder", L"Open Folder", 3720, 1215, L'O'),
                       CommandLabel(L"cmdCopies", L"Copies...", 5040, 1095, L'p'),
                       CommandLabel(L"cmdRestoreFromFile", L"Restore From File...", 6240, 1935, L'F'),
                       CommandLabel(L"cmdClose", L"Close", 8280, 1095, L'l'),
                       list,
                       summary,
                       progress,
                       table,
                       text,
                       automatic,
                       state,
                       timer};
    // The commands of the selected rows, where the pointer or the keyboard is.
    layout.menus = {{.name = L"mnuRows", .caption = L"", .parent = L"", .visible = false},
                    {.name = L"mnuCompare", .caption = L"&Compare", .parent = L"mnuRows", .visible = true},
                    {.name = L"mnuRestore", .caption = L"&Restore", .parent = L"mnuRows", .visible = true},
                    {.name = L"mnuDelete", .caption = L"&Delete", .parent = L"mnuRows", .visible = true},
                    {.name = L"mnuOpenFolder", .caption = L"&Open Folder", .parent = L"mnuRows", .visible = true},
                    // The comparison's own.
                    {.name = L"mnuTable", .caption = L"", .parent = L"", .visible = false},
                    {.name = L"mnuCopy", .caption = L"&Copy", .parent = L"mnuTable", .visible = true}};
    layout.contextMenu = L"mnuRows";
    return layout;
}

frmBackups::frmBackups(platform::Os& system, platform::Runtime& forms, backup::StartSafetyBackup safetyBackup)
    : Form(system, forms, Layout()), safetyBackup_(std::move(safetyBackup))
{
    On(L"Form_Load", [this](platform::EventArgs&) { Form_Load(); });
    On(L"Form_Unload", [this](platform::EventArgs& args) { Form_Unload(args); });
    On(L"Form_Resize", [this](platform::EventArgs&) { Form_Resize(); });
    On(L"Form_KeyDown", [this](const platform::EventArgs& args) { Form_KeyDown(args); });
    On(L"Form_MouseMove", [this](platform::EventArgs&) { Form_MouseMove(); });
    On(L"cmdCompare_Click", [this](platform::EventArgs&) { cmdCompare_Click(); });
    On(L"cmdRestore_Click", [this](platform::EventArgs&) { cmdRestore_Click(); });
    On(L"cmdDelete_Click", [this](platform::EventArgs&) { cmdDelete_Click(); });
    On(L"cmdOpenFolder_Click", [this](platform::EventArgs&) { cmdOpenFolder_Click(); });
    On(L"cmdRestoreFromFile_Click", [this](platform::EventArgs&) { cmdRestoreFromFile_Click(); });
    On(L"cmdCopies_Click", [this](platform::EventArgs&) { cmdCopies_Click(); });
    On(L"cmdClose_Click", [this](platform::EventArgs&) { cmdClose_Click(); });
    On(L"cmdAutomatic_Click", [this](platform::EventArgs&) { cmdAutomatic_Click(); });
    On(L"lstBackups_DblClick", [this](platform::EventArgs&) { cmdCompare_Click(); });
    On(L"mnuCompare_Click", [this](platform::EventArgs&) { cmdCompare_Click(); });
    On(L"mnuRestore_Click", [this](platform::EventArgs&) { cmdRestore_Click(); });
    On(L"mnuDelete_Click", [this](platform::EventArgs&) { cmdDelete_Click(); });
    On(L"mnuOpenFolder_Click", [this](platform::EventArgs&) { cmdOpenFolder_Click(); });
    On(L"lstBackups_KeyDown", [this](const platform::EventArgs& args) { ListKeyDown(L"lstBackups", args); });
    On(L"lstCompare_KeyDown", [this](const platform::EventArgs& args) { ListKeyDown(L"lstCompare", args); });
    On(L"lstCompare_ColumnClick",
       [this](const platform::EventArgs& args) { SortRows((*this)[L"lstCompare"], args.column); });
    On(L"mnuCopy_Click", [this](platform::EventArgs&) { CopyRows(); });
    // A file dropped on the window is restored as one picked with "Restore From File...".
    On(L"Form_DropFile", [this](const platform::EventArgs& args) {
        if (MayStartRestore()) {
            RestoreFromFile(args.path);
        }
    });
    On(L"tmrWork_Timer", [this](platform::EventArgs&) { tmrWork_Timer(); });
    beforeFailureEnds = [this] { FinishRestore(); };
    for (const wchar_t* command : kCommands) {
        On(std::wstring(command) + L"_MouseMove",
           [this, command](platform::EventArgs&) { Highlight((*this)[command]); });
    }
}

frmBackups::~frmBackups()
{
    LetGoOfCatchUp();
    StopWork();
    if (restore_ && restore_->ChangingKey()) {
        restore_->Stop();
    }
    restore_.reset(); // the key whole again before the program goes on
}

void frmBackups::Form_Load()
{
    workShown_ = false;
    (*this)[L"lblAutomatic"].caption = AutomaticState(os);
    ListBackups();
    ShowCopiesFolder();
    CatchUp();
}

void frmBackups::cmdAutomatic_Click()
{
    if (!automatic_) {
        automatic_ = std::make_unique<frmAutomatic>(os, runtime);
    }
    automatic_->Show(1);
    (*this)[L"lblAutomatic"].caption = AutomaticState(os);
}

void frmBackups::Form_Unload(platform::EventArgs& args)
{
    if (!MayEnd(args.unloadMode, [this] { runtime.Unload(*this); })) {
        args.cancel = 1;
        return;
    }
    StopWork();
    LetGoOfCatchUp();
}

// Above the main window, which is topmost, like the About window.
void frmBackups::Form_Resize()
{
    clsOnTop(os).MakeTopMost(hWnd());
}

void frmBackups::Form_KeyDown(const platform::EventArgs& args)
{
    if (args.keyCode == platform::vbKeyReturn) {
        // In the table, Enter has nothing to do: the comparison is what it shows.
        if (args.control != L"lstCompare") {
            cmdCompare_Click();
        }
    } else if (args.keyCode == platform::vbKeyEscape) {
        cmdClose_Click();
    } else if (args.keyCode == platform::vbKeyF5) {
        ListBackups();
        if (caughtUp_->done) {
            CatchUp();
        }
    } else if (args.keyCode == platform::vbKeyDelete) {
        cmdDelete_Click();
    }
}

void frmBackups::Form_MouseMove()
{
    Reset(*this, kCommands);
}

// The rows of C: at once from the folder listing; the copies' rows, and what each file holds,
// follow as they are read.
void frmBackups::ListBackups()
{
    StopWork();
    backups_ = backup::ListBackupsOnC(os);
    Control& list = (*this)[L"lstBackups"];
    list.rows.clear();
    list.selected.clear();
    for (const backup::ListedBackup& listed : backups_) {
        list.rows.push_back({listed.label, L"", L"", L"", L"", L"", L""});
    }
    details_ = std::make_shared<Details>();
    details_->rows.resize(backups_.size());
    detailsShown_ = 0;
    detailsJob_ = os.StartJob([&system = os, details = details_, backups = backups_] {
        platform::RegistryTree now;
        try {
            now = system.ReadRegistryTree(backup::kAddOnKey).value_or(platform::RegistryTree{});
        } catch (const platform::Failure&) {
            // Each backup then shows as differing; the compare names why.
        }
        std::vector<backup::ListedBackup> rows = backups;
        {
            std::vector<backup::ListedBackup> copies = backup::ListCopiesOnly(system);
            rows.insert(rows.end(), copies.begin(), copies.end());
            const std::lock_guard<std::mutex> guard(details->lock);
            details->rows.resize(rows.size());
            details->copies = std::move(copies);
        }
        for (std::size_t row = 0; row < rows.size() && !details->stop; ++row) {
            Row read;
            try {
                read.read = backup::ReadBackupDetails(system, rows[row].file, rows[row].stamp, now);
            } catch (const platform::Failure& failure) {
                read.read.state = L"unreadable: " + failure.reason();
            }
            if (!rows[row].number.empty()) {
                read.copy = backup::CopyState(system, rows[row].number);
            }
            const std::lock_guard<std::mutex> guard(details->lock);
            details->rows[row] = std::move(read);
        }
    });
    (*this)[L"tmrWork"].enabled = true;
    ShowDetails();
}

// The jobs that fill the rows and compare are let go, not waited for: they write only into data
// they share, and a comparison of large backups may take a second to notice.
void frmBackups::StopWork()
{
    if (details_) {
        details_->stop = true;
    }
    for (std::unique_ptr<platform::Job>* job : {&detailsJob_, &comparisonJob_}) {
        if (*job) {
            (*job)->LetGo();
            job->reset();
        }
    }
}

void frmBackups::ShowDetails()
{
    if (!details_) {
        return;
    }
    Control& list = (*this)[L"lstBackups"];
    const std::lock_guard<std::mutex> guard(details_->lock);
    if (details_->copies) {
        for (backup::ListedBackup& copy : *details_->copies) {
            list.rows.push_back({copy.label, L"", L"", L"", L"", L"", L""});
            backups_.push_back(std::move(copy));
        }
        details_->copies.reset();
    }
    while (detailsShown_ < details_->rows.size() && details_->rows[detailsShown_]) {
        const backup::BackupDetails& read = details_->rows[detailsShown_]->read;
        std::vector<std::wstring>& row = list.rows[detailsShown_];
        row[kCopy] = CopyShown(details_->rows[detailsShown_]->copy);
        row[kCreated] = read.created;
        row[kSize] = read.size ? backup::FormatKilobytes(*read.size, os.DecimalSeparator()) + L" kb" : L"";
        row[kValues] = read.size ? std::to_wstring(read.values) : L"";
        row[kKeys] = read.size ? std::to_wstring(read.keys) : L"";
        row[kState] = read.state;
        ++detailsShown_;
    }
}

std::vector<backup::ListedBackup> frmBackups::SelectedRows() const
{
    std::vector<backup::ListedBackup> selected;
    for (std::size_t row : (*this)[L"lstBackups"].selected) {
        if (row < backups_.size()) {
            selected.push_back(backups_[row]);
        }
    }
    return selected;
}

void frmBackups::tmrWork_Timer()
{
    ShowDetails();
    ShowComparison();
    StepRestore();
    const bool detailsDone = !details_ || detailsShown_ == details_->rows.size();
    if (detailsDone) {
        ShowCaughtUp();
    }
    ShowWork();
    if (detailsDone && caughtUp_->done && !comparison_ && !Restoring()) {
        (*this)[L"tmrWork"].enabled = false;
    }
}

// The work under way beside the bar, which the taskbar button repeats: the restore first, then
// the rows being read, when they are many, then the copies being made. The label shows again what
// it showed before once the work has ended.
void frmBackups::ShowWork()
{
    std::wstring what;  // the bar's name, for screen readers
    std::wstring words; // the label's
    std::size_t done = 0;
    std::size_t total = 0;
    const std::size_t rows = (*this)[L"lstBackups"].rows.size();
    if (restore_) {
        const backup::RestoreProgress::Share step = restore_->CurrentStep();
        what = step.step;
        done = step.done;
        total = step.total;
        words = what + (total != 0 ? L": " + std::to_wstring(done * 100 / total) + L"%" : L"");
    } else if (details_ && rows > kManyRows && detailsShown_ < rows) {
        what = L"Reading the backups";
        done = detailsShown_;
        total = rows;
        words = what + L": " + backup::Grouped(done) + L" of " + backup::Grouped(total);
    } else if (!caughtUp_->done && caughtUp_->count.missing > 0) {
        what = L"Making the missing copies";
        done = caughtUp_->count.tried;
        total = caughtUp_->count.missing;
        words = backup::Grouped(caughtUp_->count.made) + L" of " + backup::Grouped(total) + L" copies made";
    }
    Control& label = (*this)[L"lblCompare"];
    Control& bar = (*this)[L"prgWork"];
    if (!workShown_ || label.caption != wordsShown_) {
        wordsBefore_ = label.caption; // also what was written there meanwhile
    }
    if (what.empty()) {
        if (std::exchange(workShown_, false)) {
            label.caption = wordsBefore_;
            bar.visible = false;
        }
        return;
    }
    workShown_ = true;
    label.caption = wordsShown_ = words;
    bar.caption = what;
    bar.visible = true;
    constexpr std::size_t kMost = std::numeric_limits<int>::max();
    bar.maximum = static_cast<int>(std::min(total, kMost));
    bar.value = static_cast<int>(std::min(done, kMost));
}

// The selected backups' folders deleted after the user's word, twice when the newest backup of
// the list as it is now would go.
void frmBackups::cmdDelete_Click()
{
    if (Restoring()) {
        os.MsgBox(L"A restore is under way. Wait until it has ended.", platform::MessageKind::Information);
        return;
    }
    // Another LarkSpool's restore may need its safety backup to put the list back.
    const std::unique_ptr<platform::ListLock> lock = os.LockList(0);
    if (!lock) {
        os.MsgBox(backup::AnotherAtWork(os), platform::MessageKind::Information);
        return;
    }
    const std::vector<backup::ListedBackup> selected = SelectedRows();
    if (selected.empty()) {
        os.MsgBox(L"Select the backups to delete.", platform::MessageKind::Information);
        return;
    }
    std::wstring names;
    for (const backup::ListedBackup& listed : selected) {
        if (listed.number.empty()) {
            os.MsgBox(L"Backup " + listed.label + L" is a copy, not a backup on drive C:; only those are deleted here.",
                      platform::MessageKind::Information);
            return;
        }
        names += L"\n" + backup::BackupFolder(listed.number);
    }
    if (!os.Ask(L"Delete " + backup::CountOf(selected.size(), L"backup", L"backups") + L" with everything in " +
                (selected.size() == 1 ? L"its folder?" : L"their folders?") + names)) {
        return;
    }
    const Control& list = (*this)[L"lstBackups"];
    const auto sameAsNow = std::find_if(list.rows.begin(), list.rows.end(),
                                        [](const auto& row) { return row[kState] == backup::kSameAsNow; });
    if (sameAsNow != list.rows.end() &&
        std::any_of(selected.begin(), selected.end(),
                    [&sameAsNow](const auto& listed) { return listed.number == (*sameAsNow)[kBackup]; }) &&
        !os.Ask(L"Backup " + (*sameAsNow)[kBackup] +
                L" is the newest backup of the list as it is now. Delete it all the same?")) {
        return;
    }
    std::wstring failed;
    for (const backup::ListedBackup& listed : selected) {
        try {
            if (backup::HoldsCopiesFolder(os, listed.number)) {
                failed += L"\n" + backup::BackupFolder(listed.number) + L" holds the copies folder.";
                continue;
            }
            os.RemoveFolder(backup::BackupFolder(listed.number));
        } catch (const platform::Failure& failure) {
            failed += L"\n" + failure.text();
        }
    }
    if (!failed.empty()) {
        os.MsgBox(L"Not every backup could be deleted:" + failed, platform::MessageKind::Error);
    }
    ListBackups();
}

void frmBackups::cmdOpenFolder_Click()
{
    const std::vector<backup::ListedBackup> selected = SelectedRows();
    if (!selected.empty()) {
        const std::wstring& file = selected[0].file;
        os.Shell(backup::FileBrowserCommandLine(os.WindowsPath(), file.substr(0, file.find_last_of(L'\\'))),
                 platform::vbNormalFocus);
    }
}

void frmBackups::cmdClose_Click()
{
    if (!MayEnd(platform::vbFormControlMenu, [this] { runtime.Unload(*this); })) {
        return;
    }
    StopWork();
    LetGoOfCatchUp();
    runtime.Unload(*this);
}

} // namespace ui
