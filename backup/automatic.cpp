#include "backup/automatic.h"

#include "backup/backup_list.h"
#include "backup/backup_paths.h"
#include "backup/compare.h"
#include "backup/reg_file.h"
#include "backup/run_number.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <map>
#include <set>

namespace backup {

namespace {

constexpr wchar_t kAppName[] = L"lsBundle";
constexpr wchar_t kRunSection[] = L"Automatic";
constexpr std::size_t kNewestKept = 3;
constexpr std::int64_t kDailyDays = 7;
constexpr std::int64_t kWeeks = 5;
constexpr int kMonths = 12;

std::wstring MadeSection(const std::wstring& runNumber)
{
    return std::wstring(kRunSection) + L"\\Made\\" + runNumber;
}

std::wstring StampText(platform::Os& os, const std::wstring& runNumber)
{
    const std::vector<std::uint8_t> bytes = os.ReadFileBytes(DateStampFile(runNumber));
    return {bytes.begin(), bytes.end()}; // ANSI digits, letters and separators
}

std::chrono::year_month_day DateOf(std::int64_t day)
{
    return std::chrono::year_month_day{std::chrono::sys_days{std::chrono::days{day}}};
}

} // namespace

std::optional<std::int64_t> DayOf(std::wstring_view created)
{
    const std::optional<long> digits = CreatedDate(std::wstring(created));
    if (!digits) {
        return std::nullopt;
    }
    const std::chrono::year_month_day date{std::chrono::year{static_cast<int>(*digits / 10000)},
                                           std::chrono::month{static_cast<unsigned>(*digits / 100 % 100)},
                                           std::chrono::day{static_cast<unsigned>(*digits % 100)}};
    if (!date.ok()) {
        return std::nullopt;
    }
    return std::chrono::sys_days{date}.time_since_epoch().count();
}

std::vector<std::wstring> BackupsToThin(std::vector<AutomaticBackup> backups, std::int64_t today)
{
    std::sort(backups.begin(), backups.end(), [](const AutomaticBackup& a, const AutomaticBackup& b) {
        return a.day != b.day ? a.day > b.day : NewerNumber(a.number, b.number);
    });
    const std::chrono::year_month_day now = DateOf(today);
    std::set<std::int64_t> weeks;
    std::set<int> months;
    std::vector<std::wstring> thinned;
    // Newest first: the first backup met in a week or a month is its newest.
    for (std::size_t i = 0; i < backups.size(); ++i) {
        const std::int64_t age = today - backups[i].day;
        const std::chrono::year_month_day made = DateOf(backups[i].day);
        const int monthsBack = (static_cast<int>(now.year()) - static_cast<int>(made.year())) * 12 +
                               static_cast<int>(static_cast<unsigned>(now.month())) -
                               static_cast<int>(static_cast<unsigned>(made.month()));
        bool kept = i < kNewestKept || age < kDailyDays;
        if (age >= 0 && age < kWeeks * 7 && weeks.insert(age / 7).second) {
            kept = true;
        }
        if (monthsBack >= 0 && monthsBack < kMonths && months.insert(monthsBack).second) {
            kept = true;
        }
        if (!kept) {
            thinned.push_back(backups[i].number);
        }
    }
    return thinned;
}

std::wstring WhenInWords(const std::wstring& when, bool shorter)
{
    static constexpr std::array<const wchar_t*, 12> kMonths = {L"January",   L"February", L"March",    L"April",
                                                               L"May",       L"June",     L"July",     L"August",
                                                               L"September", L"October",  L"November", L"December"};
    static constexpr std::array<const wchar_t*, 7> kWeekdays = {L"Sunday",   L"Monday", L"Tuesday", L"Wednesday",
                                                                L"Thursday", L"Friday", L"Saturday"};
    unsigned month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
    wchar_t half[3] = {};
    if (swscanf(when.c_str(), L"%2u-%2u-%4u %2u:%2u:%2u %2ls", &month, &day, &year, &hour, &minute, &second, half) !=
            7 ||
        hour < 1 || hour > 12 || minute > 59) {
        return when;
    }
    const std::chrono::year_month_day date{std::chrono::year{static_cast<int>(year)}, std::chrono::month{month},
                                           std::chrono::day{day}};
    if (!date.ok()) {
        return when;
    }
    hour = hour % 12 + (std::wstring_view(half) == L"PM" ? 12 : 0);
    wchar_t time[6] = {};
    swprintf(time, 6, L"%02u:%02u", hour, minute);
    const std::wstring monthName = kMonths[month - 1];
    if (shorter) {
        return std::to_wstring(day) + L" " + monthName.substr(0, 3) + L" at " + time;
    }
    const std::chrono::weekday weekday{std::chrono::sys_days{date}};
    return std::wstring(kWeekdays[weekday.c_encoding()]) + L" " + std::to_wstring(day) + L" " + monthName + L" at " +
           time;
}

void MarkAutomatic(platform::Os& os, const std::wstring& runNumber)
{
    os.SaveSetting(kAppName, MadeSection(runNumber), L"Stamp", StampText(os, runNumber));
}

void ForgetAutomatic(platform::Os& os, const std::wstring& runNumber)
{
    os.DeleteSetting(kAppName, MadeSection(runNumber));
}

std::vector<AutomaticBackup> AutomaticBackups(platform::Os& os)
{
    std::vector<AutomaticBackup> found;
    for (const std::wstring& number : ListBackupNumbers(os)) {
        const std::wstring recorded = os.GetSetting(kAppName, MadeSection(number), L"Stamp");
        if (recorded.empty()) {
            continue;
        }
        std::wstring stamp;
        try {
            stamp = StampText(os, number);
        } catch (const platform::Failure&) {
            continue; // a stamp that cannot be read counts as made by hand: it is never deleted
        }
        if (stamp == recorded) {
            if (const std::optional<std::int64_t> day = DayOf(CreatedText({stamp.begin(), stamp.end()}))) {
                found.push_back({.number = number, .day = *day});
            }
        }
    }
    return found;
}

void RecordUnchanged(platform::Os& os, const std::wstring& runNumber, std::uint64_t since)
{
    os.SaveSetting(kAppName, kRunSection, L"Unchanged",
                   runNumber + L"|" + std::to_wstring(os.FileLen(BackupFile(runNumber))) + L"|" +
                       std::to_wstring(since));
}

std::optional<std::size_t> UnchangedSinceRecorded(platform::Os& os, const std::wstring& runNumber)
{
    // "run number|file length|since"
    const std::wstring record = os.GetSetting(kAppName, kRunSection, L"Unchanged");
    const std::size_t first = record.find(L'|');
    const std::size_t second = first == std::wstring::npos ? first : record.find(L'|', first + 1);
    if (second == std::wstring::npos || record.substr(0, first) != runNumber) {
        return std::nullopt;
    }
    std::uint64_t length = 0;
    std::uint64_t since = 0;
    try {
        length = std::stoull(record.substr(first + 1, second - first - 1));
        since = std::stoull(record.substr(second + 1));
    } catch (const std::exception&) {
        return std::nullopt; // a record garbled from outside: compare in full
    }
    const std::wstring file = BackupFile(runNumber);
    if (length != os.FileLen(file) || os.SystemTime() < since) {
        return std::nullopt;
    }
    const std::optional<std::vector<platform::KeyStamp>> stamps = os.ReadRegistryStamps(kAddOnKey);
    if (!stamps) {
        return std::nullopt;
    }
    // Each key's values as the file gives them (sections of one key merged), against the key now.
    std::map<std::wstring, std::set<std::wstring>> inFile;
    try {
        for (const platform::RegistryKey& key : ReadRegFile(os.ReadFileBytes(file)).keys) {
            if (key.deleted) {
                return std::nullopt;
            }
            std::set<std::wstring>& names = inFile[FoldedName(key.path)];
            for (const platform::RegistryValue& value : key.values) {
                if (!value.deleted) {
                    names.insert(FoldedName(value.name));
                }
            }
        }
    } catch (const RegFileError&) {
        return std::nullopt;
    }
    std::size_t values = 0;
    for (const platform::KeyStamp& stamp : *stamps) {
        const auto key = inFile.find(FoldedName(stamp.path));
        if (stamp.written > since || key == inFile.end() || key->second.size() != stamp.values) {
            return std::nullopt;
        }
        values += stamp.values;
    }
    if (inFile.size() != stamps->size()) {
        return std::nullopt;
    }
    return values;
}

void RecordAutomaticRun(platform::Os& os, const AutomaticRun& run)
{
    os.SaveSetting(kAppName, kRunSection, L"LastRun", run.when);
    os.SaveSetting(kAppName, kRunSection, L"LastCode", std::to_wstring(run.exitCode));
    os.SaveSetting(kAppName, kRunSection, L"LastWarned", run.warned ? L"1" : L"0");
    os.SaveSetting(kAppName, kRunSection, L"LastLine", run.line);
}

std::optional<AutomaticRun> LastAutomaticRun(platform::Os& os)
{
    AutomaticRun run;
    run.when = os.GetSetting(kAppName, kRunSection, L"LastRun");
    if (run.when.empty()) {
        return std::nullopt;
    }
    run.exitCode = static_cast<int>(ParseRunNumber(os.GetSetting(kAppName, kRunSection, L"LastCode")).value_or(-1));
    run.warned = os.GetSetting(kAppName, kRunSection, L"LastWarned") == L"1";
    run.line = os.GetSetting(kAppName, kRunSection, L"LastLine");
    return run;
}

std::optional<std::wstring> AutomaticRunToTell(platform::Os& os)
{
    const std::optional<AutomaticRun> run = LastAutomaticRun(os);
    if (!run || os.GetSetting(kAppName, kRunSection, L"Told") == run->when) {
        return std::nullopt;
    }
    if (run->warned) {
        return L"The automatic backup on " + WhenInWords(run->when) + L" warns: " + run->line;
    }
    if (run->exitCode != 0) {
        return L"The automatic backup on " + WhenInWords(run->when) + L" failed: " + run->line;
    }
    return std::nullopt;
}

void AutomaticRunTold(platform::Os& os)
{
    os.SaveSetting(kAppName, kRunSection, L"Told", os.GetSetting(kAppName, kRunSection, L"LastRun"));
}

} // namespace backup
