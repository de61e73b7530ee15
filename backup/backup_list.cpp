#include "backup/backup_list.h"

#include "backup/backup_paths.h"
#include "backup/check.h"
#include "backup/compare.h"

#include <algorithm>
#include <string_view>

namespace backup {

namespace {

constexpr std::wstring_view kFolderPrefix = L"larkspool";

bool Digits(std::wstring_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

} // namespace

// Numbers of any length compare by their digits without leading zeros.
bool NewerNumber(const std::wstring& a, const std::wstring& b)
{
    const std::wstring_view valueA = std::wstring_view(a).substr(std::min(a.find_first_not_of(L'0'), a.size()));
    const std::wstring_view valueB = std::wstring_view(b).substr(std::min(b.find_first_not_of(L'0'), b.size()));
    if (valueA.size() != valueB.size()) {
        return valueA.size() > valueB.size();
    }
    if (valueA != valueB) {
        return valueA > valueB;
    }
    return a < b;
}

namespace {

// The line's text after its label, without the line end.
std::wstring After(const std::wstring& text, std::wstring_view label)
{
    const std::size_t start = text.find(label);
    if (start == std::wstring::npos) {
        return {};
    }
    const std::size_t from = start + label.size();
    return text.substr(from, text.find_first_of(L"\r\n", from) - from);
}

} // namespace

std::vector<std::wstring> ListBackupNumbers(platform::Os& os)
{
    return ListBackupNumbers(os, L"C:\\");
}

std::vector<std::wstring> ListBackupNumbers(platform::Os& os, const std::wstring& parent)
{
    std::vector<std::wstring> numbers;
    for (const std::wstring& name : os.ListFolders(parent)) {
        const std::wstring_view folder(name);
        if (folder.size() > kFolderPrefix.size() && SameName(folder.substr(0, kFolderPrefix.size()), kFolderPrefix) &&
            Digits(folder.substr(kFolderPrefix.size()))) {
            numbers.push_back(name.substr(kFolderPrefix.size()));
        }
    }
    std::sort(numbers.begin(), numbers.end(), NewerNumber);
    return numbers;
}

std::wstring CreatedText(const std::vector<std::uint8_t>& dateStamp)
{
    // The stamp is ANSI text of digits, letters and separators; its bytes are its characters.
    const std::wstring text(dateStamp.begin(), dateStamp.end());
    const std::wstring date = After(text, L"Date Created: ");
    const std::wstring time = After(text, L"Time Created: ");
    return date.empty() || time.empty() ? date + time : date + L" " + time;
}

std::optional<long> CreatedDate(const std::wstring& created)
{
    if (created.size() < 10 || created[2] != L'-' || created[5] != L'-') {
        return std::nullopt;
    }
    const std::wstring digits = created.substr(6, 4) + created.substr(0, 2) + created.substr(3, 2);
    return Digits(digits) ? std::optional<long>(std::stol(digits)) : std::nullopt;
}

BackupDetails ReadBackupDetails(platform::Os& os, const std::wstring& runNumber, const platform::RegistryTree& now)
{
    return ReadBackupDetails(os, BackupFile(runNumber), DateStampFile(runNumber), now);
}

BackupDetails ReadBackupDetails(platform::Os& os, const std::wstring& file, const std::wstring& stamp,
                                const platform::RegistryTree& now)
{
    BackupDetails details;
    // A file held open by another program is told in its own cell; the other rows go on.
    if (os.FileExists(stamp)) {
        try {
            details.created = CreatedText(os.ReadFileBytes(stamp));
        } catch (const platform::Failure& failure) {
            details.created = L"unreadable: " + failure.reason();
        }
    }
    if (!os.FileExists(file)) {
        details.state = L"no backup file";
        return details;
    }
    try {
        details.size = os.FileLen(file);
    } catch (const platform::Failure& failure) {
        details.state = L"unreadable: " + failure.reason();
        return details;
    }
    const CheckResult check = CheckBackup(os, file, now);
    details.values = check.values;
    details.keys = check.keys;
    switch (check.outcome) {
    case CheckResult::Outcome::Same:
        details.state = kSameAsNow;
        break;
    case CheckResult::Outcome::Differs:
        details.state = L"differs from now";
        break;
    case CheckResult::Outcome::Unreadable:
        details.state = L"unreadable: " + check.problem;
        break;
    case CheckResult::Outcome::NotABackup:
        details.state = L"not a backup of the list: " + check.problem;
        break;
    }
    return details;
}

} // namespace backup
