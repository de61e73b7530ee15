#include "backup/copies.h"

#include "backup/backup_list.h"
#include "backup/backup_paths.h"
#include "backup/compare.h"
#include "backup/reg_file.h"
#include "backup/restore.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <utility>

namespace backup {

namespace {

constexpr wchar_t kAppName[] = L"lsBundle";
constexpr wchar_t kSection[] = L"Copies";
constexpr wchar_t kKey[] = L"Folder";
// Beside the target, so that the rename stays on its drive.
constexpr wchar_t kTemporary[] = L".LarkSpool-copy";
constexpr wchar_t kStampName[] = L"Date Created.txt";
// The longest path the system opens without its long-path prefix, and the longest run number and
// process id a copy's path is measured with (ten billion runs).
constexpr std::size_t kLongestPath = 259;
constexpr wchar_t kLongestNumber[] = L"9999999999";
constexpr std::uint32_t kLongestProcessId = 4294967295U;

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

// A name of this process alone: two LarkSpools never share a temporary file.
std::wstring OfThisProcess(const std::wstring& name, std::uint32_t processId)
{
    return name + L"." + std::to_wstring(processId) + kTemporary;
}

// The bytes copied so that the target, once it has its name, is complete: written, flushed, and
// read back past the cache.
void CopyBytes(platform::Os& os, const std::vector<std::uint8_t>& bytes, const std::wstring& target, bool readOnly)
{
    const auto sameThere = [&] { return os.FileExists(target) && os.ReadFileBytes(target) == bytes; };
    if (os.FileExists(target)) {
        if (!sameThere()) {
            throw NotCopied{L"a different " + target.substr(target.find_last_of(L'\\') + 1) + L" is there",
                            target + L" exists and differs; it is not overwritten"};
        }
        return;
    }
    const std::wstring temporary = OfThisProcess(target, os.ProcessId());
    RemoveQuietly(os, temporary); // left by a copy that was cut off
    try {
        os.WriteFileFlushed(temporary, bytes);
        if (os.ReadFileUnbuffered(temporary) != bytes) {
            throw NotCopied{L"it read back different", temporary + L" read back differs"};
        }
        try {
            os.RenameFile(temporary, target);
        } catch (const platform::Failure&) {
            if (!sameThere()) {
                throw;
            }
            RemoveQuietly(os, temporary); // another LarkSpool made the same copy meanwhile
        }
    } catch (...) {
        RemoveQuietly(os, temporary);
        throw;
    }
    if (readOnly) {
        os.SetAttr(target, platform::vbReadOnly);
    }
}

constexpr std::wstring_view kFolderPrefix = L"Larkspool";

bool IsBackupFolderName(std::wstring_view name)
{
    return name.size() > kFolderPrefix.size() && SameName(name.substr(0, kFolderPrefix.size()), kFolderPrefix) &&
           std::all_of(name.begin() + static_cast<std::ptrdiff_t>(kFolderPrefix.size()), name.end(),
                       [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

// The path is the folder or lies below it.
bool InOrUnder(std::wstring_view path, std::wstring_view folder)
{
    if (!folder.empty() && folder.back() == L'\\') {
        folder.remove_suffix(1);
    }
    return path.size() >= folder.size() && SameName(path.substr(0, folder.size()), folder) &&
           (path.size() == folder.size() || path[folder.size()] == L'\\');
}

// The real path; the path as given where it cannot be opened now (a stick unplugged), which is
// all there is to compare then.
std::wstring RealPath(platform::Os& os, const std::wstring& path)
{
    try {
        return os.FinalPath(path);
    } catch (const platform::Failure&) {
        return path;
    }
}

// This computer's folder in the copies folder, by its real path.
std::wstring OwnCopies(platform::Os& os, const std::wstring& copies)
{
    return JoinPath(RealPath(os, copies), os.ComputerName());
}

// The backup folder on C: that this computer's copies would lie in: one named as a backup's in
// C:'s root, which is one or may become one, or, with `everyFolder`, one whose own real path holds
// them (a junction to the stick). That asks each backup folder, a millisecond each under Wine: it
// is done where the folder is chosen, while a copy asks the copies folder's real path alone.
std::optional<std::wstring> BackupFolderHolding(platform::Os& os, const std::wstring& copies, bool everyFolder)
{
    const std::wstring own = OwnCopies(os, copies);
    const std::wstring root = JoinPath(RealPath(os, L"C:\\"), L"");
    if (InOrUnder(own, root)) {
        const std::wstring first = own.substr(root.size(), own.find(L'\\', root.size()) - root.size());
        if (IsBackupFolderName(first)) {
            return BackupFolder(first.substr(kFolderPrefix.size()));
        }
    }
    for (const std::wstring& number : everyFolder ? ListBackupNumbers(os) : std::vector<std::wstring>()) {
        if (InOrUnder(own, RealPath(os, BackupFolder(number)))) {
            return BackupFolder(number);
        }
    }
    return std::nullopt;
}

// Why copies may not go to the folder: in a few words, and in one line.
std::optional<NotCopied> Refusal(platform::Os& os, const std::wstring& copies, bool everyFolder)
{
    const std::wstring longest = OfThisProcess(
        JoinPath(CopyFolder(os, copies, kLongestNumber), BackupFileName(kLongestNumber)), kLongestProcessId);
    if (longest.size() > kLongestPath) {
        return NotCopied{L"the folder's path is too long",
                         L"its path is too long: copies in it have paths of up to " + std::to_wstring(longest.size()) +
                             L" characters, and the system opens " + std::to_wstring(kLongestPath) + L" at most"};
    }
    if (const std::optional<std::wstring> holder = BackupFolderHolding(os, copies, everyFolder)) {
        return NotCopied{L"the folder is in " + *holder,
                         L"it lies in " + *holder + L", a backup folder that Delete and /keep remove whole"};
    }
    return std::nullopt;
}

// Whether backup n's copy is whole: its file and its date stamp are there.
bool Copied(platform::Os& os, const std::wstring& copies, const std::wstring& runNumber)
{
    const std::wstring folder = CopyFolder(os, copies, runNumber);
    return os.FileExists(JoinPath(folder, BackupFileName(runNumber))) && os.FileExists(JoinPath(folder, kStampName));
}

// Backup n copied: its file, as read, then its date stamp.
void CopyTo(platform::Os& os, const std::wstring& copies, const std::wstring& runNumber,
            const std::vector<std::uint8_t>& backupFile)
{
    // One copy at a time in this program: the window's copy and a catching up never write one
    // file at once.
    static std::mutex oneAtATime;
    const std::lock_guard<std::mutex> guard(oneAtATime);
    const std::wstring folder = CopyFolder(os, copies, runNumber);
    os.MakeNewDir(folder.substr(0, folder.find_last_of(L'\\')));
    os.MakeNewDir(folder);
    CopyBytes(os, backupFile, JoinPath(folder, BackupFileName(runNumber)), false);
    CopyBytes(os, os.ReadFileNoWriter(DateStampFile(runNumber)), JoinPath(folder, kStampName), true);
}

} // namespace

CopiesFolderRefused::CopiesFolderRefused(std::wstring why)
    : std::runtime_error("the copies folder is refused"), why_(std::move(why))
{
}

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
        if (const std::optional<NotCopied> refused = Refusal(os, folder, true)) {
            throw CopiesFolderRefused(refused->detail);
        }
        const std::wstring test =
            JoinPath(folder, L"LarkSpool write test." + std::to_wstring(os.ProcessId()) + L".tmp");
        RemoveQuietly(os, test); // left by a test that was cut off
        os.WriteFileFlushed(test, {'L', 'S'});
        os.RemoveFile(test);
    }
    os.SaveSetting(kAppName, kSection, kKey, folder);
}

bool HoldsCopiesFolder(platform::Os& os, const std::wstring& runNumber)
{
    const std::wstring copies = CopiesFolder(os);
    if (copies.empty()) {
        return false;
    }
    const std::wstring own = OwnCopies(os, copies);
    return InOrUnder(own, RealPath(os, BackupFolder(runNumber))) ||
           InOrUnder(own, JoinPath(RealPath(os, L"C:\\"), std::wstring(kFolderPrefix) + runNumber));
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
    try {
        if (const std::optional<NotCopied> refused = Refusal(os, copies, false)) {
            throw NotCopied{refused->why, copies + L": " + refused->detail};
        }
        CopyTo(os, copies, runNumber, os.ReadFileNoWriter(BackupFile(runNumber)));
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
            return kCopyMissing;
        }
        if (os.ReadFileBytes(copy) != os.ReadFileBytes(BackupFile(runNumber))) {
            return L"differs";
        }
        return Copied(os, copies, runNumber) ? L"kept" : kCopyMissing;
    } catch (const platform::Failure&) {
        return kCopyMissing; // the copies folder cannot be read now (a stick unplugged)
    }
}

std::size_t CatchUpCopies(platform::Os& os, const std::atomic<bool>& stop)
{
    CatchUpCount count;
    return CatchUpCopies(os, stop, count);
}

// The copies missing are found first, so that their number is known while they are made.
std::size_t CatchUpCopies(platform::Os& os, const std::atomic<bool>& stop, CatchUpCount& count)
{
    const std::wstring copies = CopiesFolder(os);
    std::vector<std::wstring> missing;
    try {
        if (copies.empty() || Refusal(os, copies, false)) {
            return 0; // a refused folder is told at each backup's copy
        }
        for (const std::wstring& number : ListBackupNumbers(os)) {
            if (stop) {
                return 0;
            }
            if (!Copied(os, copies, number)) {
                missing.push_back(number);
            }
        }
    } catch (const platform::Failure&) {
        return 0; // drive C: or the copies folder cannot be listed now: the next backup tries again
    }
    count.missing = missing.size();
    for (const std::wstring& number : missing) {
        if (stop) {
            break;
        }
        try {
            const std::vector<std::uint8_t> file = os.ReadFileNoWriter(BackupFile(number));
            if (!RefusalReason(ReadRegFile(file))) {
                CopyTo(os, copies, number, file);
                ++count.made;
            }
        } catch (const RegFileError&) {
            // Not a whole registration file: never a copy.
        } catch (const NotCopied&) {
            // A different file is there: the Copy column tells it.
        } catch (const platform::Failure&) {
            if (!os.FolderExists(copies)) {
                break; // the stick was unplugged: no other copy can be made now
            }
            // This backup cannot be read or copied now: the next catching up tries again.
        }
        ++count.tried;
    }
    return count.made;
}

} // namespace backup
