#include "backup/copies.h"

#include "backup/backup_list.h"
#include "backup/backup_paths.h"
#include "backup/compare.h"
#include "backup/reg_file.h"
#include "backup/restore.h"

#include <algorithm>
#include <mutex>

namespace backup {

namespace {

constexpr wchar_t kAppName[] = L"lsBundle";
constexpr wchar_t kSection[] = L"Copies";
constexpr wchar_t kKey[] = L"Folder";
// Beside the target, so that the rename stays on its drive.
constexpr wchar_t kTemporary[] = L".LarkSpool-copy";
constexpr wchar_t kWriteTest[] = L"LarkSpool write test.tmp";

struct NotCopied {
    std::wstring why;    // in a few words
    std::wstring detail; // in full
};

// E:\ of E:\Copies, \\server\share\ of \\server\share\Copies.
std::wstring RootOf(const std::wstring& folder)
{
    std::size_t end = 2;
    if (folder.rfind(L"\\\\", 0) == 0) {
        const std::size_t server = folder.find(L'\\', 2);
        end = server == std::wstring::npos ? server : folder.find(L'\\', server + 1);
    }
    return end == std::wstring::npos ? folder + L"\\" : folder.substr(0, end) + L"\\";
}

// Why a copy failed in the words the main window has room for: a drive or share that is not
// there is named, otherwise the system's own words.
std::wstring FewWords(platform::Os& os, const std::wstring& copies, const platform::Failure& failure)
{
    if (!os.FolderExists(copies)) {
        const std::wstring root = RootOf(copies);
        return os.FolderExists(root) ? L"the copies folder is missing" : root + L" is not ready";
    }
    return failure.reason();
}

void RemoveQuietly(platform::Os& os, const std::wstring& path)
{
    try {
        if (os.FileExists(path)) {
            os.RemoveFile(path);
        }
    } catch (const platform::Failure&) {
        // Nothing better can be done here; the failure that led here is what gets told.
    }
}

// One file copied so that the target, once it has its name, is complete.
void CopyFile(platform::Os& os, const std::wstring& source, const std::wstring& target, bool readOnly)
{
    const std::vector<std::uint8_t> bytes = os.ReadFileBytes(source);
    if (os.FileExists(target)) {
        if (os.ReadFileBytes(target) != bytes) {
            throw NotCopied{L"a different " + target.substr(target.find_last_of(L'\\') + 1) + L" is there",
                            target + L" exists and differs; it is not overwritten"};
        }
        return;
    }
    const std::wstring temporary = target + kTemporary;
    RemoveQuietly(os, temporary); // left by a copy that was cut off
    try {
        os.WriteFileFlushed(temporary, bytes);
        if (os.ReadFileBytes(temporary) != bytes) {
            throw NotCopied{L"it read back different", temporary + L" read back differs"};
        }
        os.RenameFile(temporary, target);
    } catch (...) {
        RemoveQuietly(os, temporary);
        throw;
    }
    if (readOnly) {
        os.SetAttr(target, platform::vbReadOnly);
    }
}

} // namespace

std::wstring CopiesFolder(platform::Os& os)
{
    try {
        return os.GetSetting(kAppName, kSection, kKey);
    } catch (const platform::NotText&) {
        return {};
    }
}

void SetCopiesFolder(platform::Os& os, const std::wstring& folder)
{
    if (!folder.empty()) {
        const std::wstring test = JoinPath(folder, kWriteTest);
        os.WriteFileFlushed(test, {'L', 'S'});
        os.RemoveFile(test);
    }
    os.SaveSetting(kAppName, kSection, kKey, folder);
}

std::wstring CopyFolder(platform::Os& os, const std::wstring& copiesFolder, const std::wstring& runNumber)
{
    return JoinPath(JoinPath(copiesFolder, os.ComputerName()), L"Larkspool" + runNumber);
}

std::optional<CopyOutcome> CopyBackup(platform::Os& os, const std::wstring& runNumber)
{
    const std::wstring copies = CopiesFolder(os);
    if (copies.empty()) {
        return std::nullopt;
    }
    // One copy at a time in this program: the window's copy and a catching up never share a
    // temporary file.
    static std::mutex oneAtATime;
    const std::lock_guard<std::mutex> guard(oneAtATime);
    try {
        const std::wstring folder = CopyFolder(os, copies, runNumber);
        os.MakeNewDir(folder.substr(0, folder.find_last_of(L'\\')));
        os.MakeNewDir(folder);
        CopyFile(os, BackupFile(runNumber), JoinPath(folder, BackupFileName(runNumber)), false);
        CopyFile(os, DateStampFile(runNumber), JoinPath(folder, L"Date Created.txt"), true);
    } catch (const NotCopied& failed) {
        return CopyOutcome{.kept = false, .text = L"copy not made: " + failed.why, .detail = failed.detail};
    } catch (const platform::Failure& failure) {
        return CopyOutcome{.kept = false,
                           .text = L"copy not made: " + FewWords(os, copies, failure),
                           .detail = failure.subject() + L": " + failure.reason()};
    }
    return CopyOutcome{.kept = true, .text = L"copy kept", .detail = {}};
}

std::vector<ListedBackup> ListAllBackups(platform::Os& os)
{
    std::vector<ListedBackup> rows = ListBackupsOnC(os);
    std::vector<ListedBackup> copies = ListCopiesOnly(os);
    rows.insert(rows.end(), std::make_move_iterator(copies.begin()), std::make_move_iterator(copies.end()));
    return rows;
}

std::vector<ListedBackup> ListBackupsOnC(platform::Os& os)
{
    const std::vector<std::wstring> numbers = ListBackupNumbers(os);
    std::vector<ListedBackup> rows(numbers.size());
    std::transform(numbers.begin(), numbers.end(), rows.begin(), [](const std::wstring& number) {
        return ListedBackup{.label = number,
                            .number = number,
                            .file = BackupFile(number),
                            .stamp = DateStampFile(number),
                            .run = number,
                            .computer = {}};
    });
    return rows;
}

std::vector<ListedBackup> ListCopiesOnly(platform::Os& os)
{
    std::vector<ListedBackup> rows;
    const std::wstring copies = CopiesFolder(os);
    if (copies.empty()) {
        return rows;
    }
    const std::vector<std::wstring> onC = ListBackupNumbers(os);
    const std::wstring computer = os.ComputerName();
    try {
        // This computer's folder first, then the others'.
        std::vector<std::wstring> computers = os.ListFolders(copies);
        std::stable_partition(computers.begin(), computers.end(),
                              [&computer](const std::wstring& name) { return SameName(name, computer); });
        for (const std::wstring& name : computers) {
            const std::wstring folder = JoinPath(copies, name);
            const bool own = SameName(name, computer);
            for (const std::wstring& number : ListBackupNumbers(os, folder)) {
                if (own && std::find(onC.begin(), onC.end(), number) != onC.end()) {
                    continue; // the row of the backup on C: tells its copy
                }
                const std::wstring backupFolder = JoinPath(folder, L"Larkspool" + number);
                rows.push_back({.label = number + L" (" + (own ? std::wstring(L"copy") : name) + L")",
                                .number = {},
                                .file = JoinPath(backupFolder, BackupFileName(number)),
                                .stamp = JoinPath(backupFolder, L"Date Created.txt"),
                                .run = number,
                                .computer = own ? std::wstring() : name});
            }
        }
    } catch (const platform::Failure&) {
        // The copies folder cannot be listed now (a stick unplugged): only the backups on C:.
    }
    return rows;
}

std::optional<bool> MadeBefore(platform::Os& os, const ListedBackup& a, const ListedBackup& b)
{
    const auto date = [&os](const ListedBackup& listed) -> std::optional<long> {
        try {
            return CreatedDate(CreatedText(os.ReadFileBytes(listed.stamp)));
        } catch (const platform::Failure&) {
            return std::nullopt; // no stamp, or one that cannot be read
        }
    };
    const std::optional<long> dateA = date(a);
    const std::optional<long> dateB = date(b);
    if (dateA && dateB && *dateA != *dateB) {
        return *dateA < *dateB;
    }
    if (SameName(a.computer, b.computer)) {
        return NewerNumber(b.run, a.run);
    }
    return std::nullopt;
}

std::wstring CopyState(platform::Os& os, const std::wstring& runNumber)
{
    const std::wstring copies = CopiesFolder(os);
    if (copies.empty()) {
        return {};
    }
    try {
        if (!os.FileExists(BackupFile(runNumber))) {
            return {};
        }
        const std::wstring copy = JoinPath(CopyFolder(os, copies, runNumber), BackupFileName(runNumber));
        if (!os.FileExists(copy)) {
            return L"missing";
        }
        return os.ReadFileBytes(copy) == os.ReadFileBytes(BackupFile(runNumber)) ? L"kept" : L"differs";
    } catch (const platform::Failure&) {
        return L"missing"; // the copies folder cannot be read now (a stick unplugged)
    }
}

std::size_t CatchUpCopies(platform::Os& os, const std::atomic<bool>& stop)
{
    const std::wstring copies = CopiesFolder(os);
    std::size_t copied = 0;
    if (copies.empty()) {
        return copied;
    }
    try {
        for (const std::wstring& number : ListBackupNumbers(os)) {
            if (stop) {
                break;
            }
            if (os.FileExists(JoinPath(CopyFolder(os, copies, number), BackupFileName(number)))) {
                continue;
            }
            try {
                if (RefusalReason(ReadRegFile(os.ReadFileBytes(BackupFile(number))))) {
                    continue;
                }
            } catch (const RegFileError&) {
                continue;
            }
            const std::optional<CopyOutcome> copy = CopyBackup(os, number);
            copied += copy && copy->kept ? 1 : 0;
        }
    } catch (const platform::Failure&) {
        // Drive C: or the copies folder cannot be listed or read: the next backup tries again.
    }
    return copied;
}

} // namespace backup
