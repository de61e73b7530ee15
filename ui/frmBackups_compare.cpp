// The Backups window's comparison: one backup with the list now, or two with each other, worked
// out off the window's thread and shown as a table that sorts and copies; messages in its place.
#include "ui/frmBackups.h"

#include "backup/backup_paths.h"
#include "backup/check.h"
#include "backup/compare_text.h"
#include "backup/list_file.h"
#include "backup/reg_file.h"
#include "ui/table.h"

#include <utility>

namespace ui {

namespace {

using platform::Control;

// A backup's list, read for a comparison; nothing, with why in `problem`, for a file that is no
// backup of the list.
std::optional<platform::RegistryTree> ReadBackup(platform::Os& os, const backup::ListedBackup& listed,
                                                 std::wstring& problem)
{
    const backup::RegFile file = backup::ReadRegFile(os.ReadFileBytes(listed.file));
    if (const std::optional<std::wstring> why = backup::NotABackupOfTheList(file)) {
        problem = L"Backup " + listed.label + L" is not a backup of the list: " + *why;
        return std::nullopt;
    }
    return backup::ListOf(file);
}

} // namespace

// One backup with the list now, or two with each other, older to newer; worked out off the
// window's thread, rows and all, and shown at once.
void frmBackups::cmdCompare_Click()
{
    const std::vector<backup::ListedBackup> selected = SelectedRows();
    if (comparisonJob_) {
        comparisonJob_->LetGo();
        comparisonJob_.reset();
    }
    comparison_.reset();
    if (selected.empty() || selected.size() > 2) {
        ShowText() = L"Select one backup to compare with the list now, or two to compare with each other.";
        return;
    }
    ShowTable({}, {});
    comparison_ = std::make_shared<Comparison>();
    comparisonJob_ = os.StartJob([&system = os, comparison = comparison_, selected] {
        // The lists and differences outlive the rows' hand-over: freeing a million small
        // pieces of memory takes a second under Wine, which the window need not wait for.
        std::vector<backup::Difference> differences;
        std::optional<platform::RegistryTree> older;
        std::optional<platform::RegistryTree> newer;
        try {
            if (selected.size() == 1) {
                comparison->heading = L"Since backup " + selected[0].label + L": ";
                backup::CheckResult check = backup::CheckBackup(system, selected[0].file, backup::kAddOnKey);
                if (check.outcome == backup::CheckResult::Outcome::Unreadable) {
                    comparison->problem = L"Backup " + selected[0].label + L" cannot be read: " + check.problem;
                } else if (check.outcome == backup::CheckResult::Outcome::NotABackup) {
                    comparison->problem =
                        L"Backup " + selected[0].label + L" is not a backup of the list: " + check.problem;
                }
                differences = std::move(check.differences);
            } else {
                // Rows run newest first within each place; across computers the stamps' dates tell.
                const bool firstOlder = backup::MadeBefore(system, selected[0], selected[1]).value_or(false);
                const backup::ListedBackup& olderRow = selected[firstOlder ? 0 : 1];
                const backup::ListedBackup& newerRow = selected[firstOlder ? 1 : 0];
                comparison->heading = L"From backup " + olderRow.label + L" to backup " + newerRow.label + L": ";
                older = ReadBackup(system, olderRow, comparison->problem);
                newer = older ? ReadBackup(system, newerRow, comparison->problem) : std::nullopt;
                if (older && newer) {
                    differences = backup::CompareTrees(*older, *newer);
                }
            }
        } catch (const backup::RegFileError& error) {
            comparison->problem = L"A backup cannot be read: " + error.text();
        } catch (const platform::Failure& failure) {
            comparison->problem = failure.text();
        }
        comparison->heading += backup::SummaryLine(differences);
        comparison->rows.reserve(differences.size());
        for (const backup::Difference& difference : differences) {
            comparison->rows.push_back(backup::DifferenceCells(difference, backup::kAddOnKeyFullName));
        }
        comparison->ready = true;
    });
    (*this)[L"tmrWork"].enabled = true;
    ShowComparison();
}

void frmBackups::ShowComparison()
{
    if (!comparison_ || !comparisonJob_) {
        return;
    }
    try {
        if (!comparison_->ready && !comparisonJob_->Done()) {
            return;
        }
    } catch (const std::exception& error) {
        ShowText() = L"The comparison failed: " + platform::FailureText(error);
        comparison_.reset();
        return;
    }
    const std::shared_ptr<Comparison> comparison = std::exchange(comparison_, nullptr);
    if (!comparison->problem.empty()) {
        ShowText() = comparison->problem;
        return;
    }
    ShowTable(comparison->heading, std::move(comparison->rows));
}

void frmBackups::ShowTable(std::wstring summary, std::vector<std::vector<std::wstring>> rows)
{
    (*this)[L"lblCompare"].caption = std::move(summary);
    Control& table = (*this)[L"lstCompare"];
    table.rows = std::move(rows);
    table.selected.clear();
    table.sortColumn = -1;
    table.sortDescending = false;
    ++table.rowsVersion;
    table.visible = true;
    (*this)[L"txtCompare"].visible = false;
}

std::wstring& frmBackups::ShowText()
{
    (*this)[L"lblCompare"].caption.clear();
    (*this)[L"lstCompare"].visible = false;
    Control& text = (*this)[L"txtCompare"];
    text.visible = true;
    return text.caption;
}

// Ctrl+A and Ctrl+C, as in other programs' tables.
void frmBackups::ListKeyDown(const wchar_t* list, const platform::EventArgs& args)
{
    if (args.shift != platform::vbCtrlMask) {
        return;
    }
    if (args.keyCode == platform::vbKeyA) {
        SelectAll((*this)[list]);
    } else if (args.keyCode == platform::vbKeyC && std::wstring_view(list) == L"lstCompare") {
        CopyRows();
    }
}

// A clipboard that another program keeps taken is told, and the window goes on.
void frmBackups::CopyRows()
{
    const std::wstring text = TabSeparated((*this)[L"lstCompare"]);
    if (text.empty()) {
        return;
    }
    try {
        os.SetClipboardText(hWnd(), text);
    } catch (const platform::Failure& failure) {
        os.MsgBox(failure.text(), platform::MessageKind::Error);
    }
}

} // namespace ui
