#include "backup/check.h"

#include "backup/backup_paths.h"
#include "backup/list_file.h"
#include "backup/reg_file.h"

namespace backup {

CheckResult CheckBackup(platform::Os& os, const std::wstring& file, const std::wstring& key)
{
    std::optional<platform::RegistryTree> now;
    try {
        now = os.ReadRegistryTree(key);
    } catch (const platform::Failure& failure) {
        CheckResult result;
        result.problem = L"the key cannot be read: " + failure.reason();
        return result;
    }
    return CheckBackup(os, file, now.value_or(platform::RegistryTree{}));
}

CheckResult CheckBackup(platform::Os& os, const std::wstring& file, const platform::RegistryTree& now)
{
    CheckResult result;
    try {
        const std::vector<std::uint8_t> bytes = os.ReadFileBytes(file);
        result.bytes = bytes.size();
        const RegFile backup = ReadRegFile(bytes);
        if (std::optional<std::wstring> why = NotABackupOfTheList(backup)) {
            result.values = CountValues(backup.keys);
            result.keys = CountKeys(backup.keys);
            result.problem = std::move(*why);
            result.outcome = CheckResult::Outcome::NotABackup;
            return result;
        }
        const platform::RegistryTree list = ListOf(backup);
        result.values = CountValues(list);
        result.keys = CountKeys(list);
        result.differences = CompareTrees(list, now);
        result.outcome = result.differences.empty() ? CheckResult::Outcome::Same : CheckResult::Outcome::Differs;
    } catch (const RegFileError& error) {
        result.problem = error.text();
    } catch (const platform::Failure& failure) {
        result.problem = failure.reason();
    } catch (const std::bad_alloc&) {
        result.problem = L"the file is too large to read.";
    }
    return result;
}

std::wstring CountOf(std::size_t count, const wchar_t* singular, const wchar_t* plural)
{
    return std::to_wstring(count) + L" " + (count == 1 ? singular : plural);
}

std::wstring Grouped(std::size_t count)
{
    std::wstring digits = std::to_wstring(count);
    for (std::size_t at = digits.size(); at > 3; at -= 3) {
        digits.insert(at - 3, 1, L' ');
    }
    return digits;
}

std::wstring CheckFailureText(const CheckResult& result)
{
    if (result.outcome == CheckResult::Outcome::Unreadable) {
        return L"Backup unreadable: " + result.problem;
    }
    if (result.outcome == CheckResult::Outcome::NotABackup) {
        return L"Not a backup of " + std::wstring(kAddOnKey) + L": " + result.problem;
    }
    // Missing: added to the key, not in the file. Extra: in the file, gone from the key since.
    const DifferenceCounts counts = Count(result.differences);
    std::wstring text;
    const auto add = [&text](std::size_t count, const std::wstring& words) {
        if (count != 0) {
            text += (text.empty() ? L"" : L", ") + words;
        }
    };
    add(counts.added, CountOf(counts.added, L"value", L"values") + L" missing");
    add(counts.removed, std::to_wstring(counts.removed) + L" extra");
    add(counts.changed, std::to_wstring(counts.changed) + L" changed");
    return L"Backup differs from the registry: " + text;
}

} // namespace backup
