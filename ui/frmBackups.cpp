#include "ui/frmBackups.h"

#include "backup/backup_paths.h"
#include "backup/check.h"
#include "backup/compare_text.h"
#include "backup/reg_file.h"
#include "ui/clsOnTop.h"
#include "ui/command_label.h"

namespace ui {

namespace {

using platform::Control;
using platform::ControlKind;

constexpr platform::Color kTextBlue = 0x00B6703D;
constexpr const wchar_t* kCommands[] = {L"cmdCompare", L"cmdRestore", L"cmdOpenFolder", L"cmdClose"};
enum Column { kBackup, kCreated, kSize, kValues, kKeys, kState };

// Alt+D stays free for a "Delete" command.
Control CommandLabel(const wchar_t* name, const wchar_t* caption, int left, int width, wchar_t accessKey)
{
    Control label{.name = name, .caption = caption, .left = left, .top = 120, .width = width, .height = 255};
    label.backColor = 0xFFFFFF;
    label.border = true;
    label.centered = true;
    label.command = true;
    label.accessKey = accessKey;
    return label;
}

// A backup's file, read for a comparison.
platform::RegistryTree ReadBackup(platform::Os& os, const std::wstring& number)
{
    return backup::ReadRegFile(os.ReadFileBytes(backup::BackupFile(number))).keys;
}

} // namespace

platform::Layout frmBackups::Layout()
{
    platform::Layout layout;
    layout.name = L"frmBackups";
    layout.caption = L"LarkSpool Backups";
    layout.backColor = 0xFFFFFF;
    layout.frame = platform::Frame::Sizable;
    layout.clientWidth = 9000;
    layout.clientHeight = 5640;

    Control list{
        .name = L"lstBackups", .kind = ControlKind::ListView, .left = 120, .top = 495, .width = 8760, .height = 2880};
    list.foreColor = kTextBlue;
    list.backColor = 0xFFFFFF;
    list.tabIndex = 0;
    list.anchor = platform::kAnchorWidth | platform::kAnchorHeight;
    list.multiSelect = true;
    list.columns = {{L"Backup", 900}, {L"Created", 2400}, {L"Size", 1100},
                    {L"Values", 900}, {L"Keys", 700},     {L"State", 2500}};

    Control text{
        .name = L"txtCompare", .kind = ControlKind::TextBox, .left = 120, .top = 3495, .width = 8760, .height = 2025};
    text.foreColor = kTextBlue;
    text.backColor = 0xFFFFFF;
    text.tabIndex = 1;
    text.readOnly = true;
    text.anchor = platform::kAnchorWidth | platform::kAnchorBottom;

    Control timer{.name = L"tmrWork", .kind = ControlKind::Timer};
    timer.visible = false;
    timer.enabled = false;
    timer.interval = 100;

    layout.controls = {CommandLabel(L"cmdCompare", L"Compare", 120, 1095, L'C'),
                       CommandLabel(L"cmdRestore", L"Restore", 1320, 1095, L'R'),
                       CommandLabel(L"cmdOpenFolder", L"Open Folder", 2520, 1215, L'O'),
                       CommandLabel(L"cmdClose", L"Close", 3840, 1095, L'l'),
                       list,
                       text,
                       timer};
    return layout;
}

frmBackups::frmBackups(platform::Os& system, platform::Runtime& forms, backup::StartSafetyBackup safetyBackup)
    : Form(system, forms, Layout()), safetyBackup_(std::move(safetyBackup))
{
    On(L"Form_Load", [this](platform::EventArgs&) { Form_Load(); });
    On(L"Form_Unload", [this](platform::EventArgs&) { Form_Unload(); });
    On(L"Form_Resize", [this](platform::EventArgs&) { Form_Resize(); });
    On(L"Form_KeyDown", [this](const platform::EventArgs& args) { Form_KeyDown(args); });
    On(L"Form_MouseMove", [this](platform::EventArgs&) { Form_MouseMove(); });
    On(L"cmdCompare_Click", [this](platform::EventArgs&) { cmdCompare_Click(); });
    On(L"cmdRestore_Click", [this](platform::EventArgs&) { cmdRestore_Click(); });
    On(L"cmdOpenFolder_Click", [this](platform::EventArgs&) { cmdOpenFolder_Click(); });
    On(L"cmdClose_Click", [this](platform::EventArgs&) { cmdClose_Click(); });
    On(L"lstBackups_DblClick", [this](platform::EventArgs&) { cmdCompare_Click(); });
    On(L"tmrWork_Timer", [this](platform::EventArgs&) { tmrWork_Timer(); });
    for (const wchar_t* command : kCommands) {
        On(std::wstring(command) + L"_MouseMove",
           [this, command](platform::EventArgs&) { Highlight((*this)[command]); });
    }
}

frmBackups::~frmBackups()
{
    StopWork();
}

void frmBackups::Form_Load()
{
    ListBackups();
}

void frmBackups::Form_Unload()
{
    StopWork();
}

// Above the main window, which is topmost, like the About window.
void frmBackups::Form_Resize()
{
    clsOnTop(os).MakeTopMost(hWnd());
}

void frmBackups::Form_KeyDown(const platform::EventArgs& args)
{
    if (args.keyCode == platform::vbKeyReturn) {
        cmdCompare_Click();
    } else if (args.keyCode == platform::vbKeyEscape) {
        cmdClose_Click();
    } else if (args.keyCode == platform::vbKeyF5) {
        ListBackups();
    }
}

void frmBackups::Form_MouseMove()
{
    for (const wchar_t* command : kCommands) {
        Reset((*this)[command]);
    }
}

// The rows at once from the folder listing; what each file holds follows as it is read.
void frmBackups::ListBackups()
{
    StopWork();
    numbers_ = backup::ListBackupNumbers(os);
    Control& list = (*this)[L"lstBackups"];
    list.rows.clear();
    list.selected.clear();
    for (const std::wstring& number : numbers_) {
        list.rows.push_back({number, L"", L"", L"", L"", L""});
    }
    details_ = std::make_shared<Details>();
    details_->rows.resize(numbers_.size());
    detailsShown_ = 0;
    detailsJob_ = os.StartJob([&system = os, details = details_, numbers = numbers_] {
        platform::RegistryTree now;
        try {
            now = system.ReadRegistryTree(backup::kAddOnKey).value_or(platform::RegistryTree{});
        } catch (const platform::Failure&) {
            // Each backup then shows as differing; the compare names why.
        }
        for (std::size_t row = 0; row < numbers.size() && !details->stop; ++row) {
            backup::BackupDetails read;
            try {
                read = backup::ReadBackupDetails(system, numbers[row], now);
            } catch (const platform::Failure& failure) {
                read.state = L"unreadable: " + failure.reason();
            }
            const std::lock_guard<std::mutex> guard(details->lock);
            details->rows[row] = std::move(read);
        }
    });
    (*this)[L"tmrWork"].enabled = true;
    ShowDetails();
}

void frmBackups::StopWork()
{
    if (details_) {
        details_->stop = true;
    }
    detailsJob_.reset();
    comparisonJob_.reset();
}

void frmBackups::ShowDetails()
{
    if (!details_) {
        return;
    }
    Control& list = (*this)[L"lstBackups"];
    const std::lock_guard<std::mutex> guard(details_->lock);
    while (detailsShown_ < details_->rows.size() && details_->rows[detailsShown_]) {
        const backup::BackupDetails& read = *details_->rows[detailsShown_];
        std::vector<std::wstring>& row = list.rows[detailsShown_];
        row[kCreated] = read.created;
        row[kSize] = read.size ? backup::FormatKilobytes(*read.size, os.DecimalSeparator()) + L" kb" : L"";
        row[kValues] = read.size ? std::to_wstring(read.values) : L"";
        row[kKeys] = read.size ? std::to_wstring(read.keys) : L"";
        row[kState] = read.state;
        ++detailsShown_;
    }
}

std::vector<std::wstring> frmBackups::SelectedNumbers() const
{
    std::vector<std::wstring> selected;
    for (std::size_t row : (*this)[L"lstBackups"].selected) {
        if (row < numbers_.size()) {
            selected.push_back(numbers_[row]);
        }
    }
    return selected;
}

// One backup with the list now, or two with each other, older to newer; worked out off the
// window's thread and shown a slice at a time.
void frmBackups::cmdCompare_Click()
{
    const std::vector<std::wstring> selected = SelectedNumbers();
    Control& text = (*this)[L"txtCompare"];
    comparisonJob_.reset();
    comparison_.reset();
    if (selected.empty() || selected.size() > 2) {
        text.caption = L"Select one backup to compare with the list now, or two to compare with each other.";
        return;
    }
    text.caption.clear();
    comparison_ = std::make_shared<Comparison>();
    comparisonShown_ = 0;
    comparisonJob_ = os.StartJob([&system = os, comparison = comparison_, selected] {
        try {
            if (selected.size() == 1) {
                const backup::CheckResult check =
                    backup::CheckBackup(system, backup::BackupFile(selected[0]), backup::kAddOnKey);
                if (check.outcome == backup::CheckResult::Outcome::Unreadable) {
                    comparison->problem = L"Backup " + selected[0] + L" cannot be read: " + check.problem;
                }
                comparison->differences = check.differences;
                return;
            }
            // Rows run newest first: the second selected is the older one.
            comparison->differences =
                backup::CompareTrees(ReadBackup(system, selected[1]), ReadBackup(system, selected[0]));
        } catch (const backup::RegFileError& error) {
            comparison->problem = L"A backup cannot be read: " + error.text();
        } catch (const platform::Failure& failure) {
            comparison->problem = failure.text();
        }
    });
    (*this)[L"tmrWork"].enabled = true;
    ShowComparison();
}

void frmBackups::ShowComparison()
{
    if (!comparison_ || !comparisonJob_ || !comparisonJob_->Done()) {
        return;
    }
    Control& text = (*this)[L"txtCompare"];
    if (!comparison_->problem.empty()) {
        text.caption = comparison_->problem;
        comparison_.reset();
        return;
    }
    const std::vector<backup::Difference>& differences = comparison_->differences;
    if (comparisonShown_ == 0) {
        text.caption = backup::SummaryLine(differences);
    }
    const std::size_t end = std::min(differences.size(), comparisonShown_ + kLinesPerTick);
    std::wstring slice;
    for (; comparisonShown_ < end; ++comparisonShown_) {
        slice += L"\r\n" + backup::DifferenceLine(differences[comparisonShown_], backup::kAddOnKeyFullName);
    }
    text.caption += slice;
    if (comparisonShown_ == differences.size()) {
        comparison_.reset();
    }
}

void frmBackups::tmrWork_Timer()
{
    ShowDetails();
    ShowComparison();
    const bool detailsDone = !details_ || detailsShown_ == details_->rows.size();
    if (detailsDone && !comparison_) {
        (*this)[L"tmrWork"].enabled = false;
    }
}

void frmBackups::cmdRestore_Click()
{
    const std::vector<std::wstring> selected = SelectedNumbers();
    if (selected.size() != 1) {
        os.MsgBox(L"Select the one backup to restore.", platform::MessageKind::Information);
        return;
    }
    const std::size_t row = (*this)[L"lstBackups"].selected.front();
    const backup::RestoreOutcome outcome =
        backup::Restore(os, selected[0], (*this)[L"lstBackups"].rows[row][kCreated], safetyBackup_);
    if (!outcome.message.empty()) {
        os.MsgBox(outcome.message, outcome.kind);
        ListBackups(); // the safety backup is a row of its own now
    }
}

void frmBackups::cmdOpenFolder_Click()
{
    const std::vector<std::wstring> selected = SelectedNumbers();
    if (!selected.empty()) {
        os.Shell(backup::FileBrowserCommandLine(os.WindowsPath(), backup::BackupFolder(selected[0])),
                 platform::vbNormalFocus);
    }
}

void frmBackups::cmdClose_Click()
{
    StopWork();
    runtime.Unload(*this);
}

} // namespace ui
