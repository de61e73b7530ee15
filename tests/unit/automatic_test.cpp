#include "backup/automatic.h"
#include "backup/schedule.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

std::int64_t Day(const wchar_t* date)
{
    return backup::DayOf(date).value();
}

TEST(Automatic, DaysOfDateStamps)
{
    EXPECT_EQ(backup::DayOf(L"01-01-1970 8:00:00 AM"), 0);
    EXPECT_EQ(Day(L"03-01-2028") - Day(L"02-28-2028"), 2) << "a leap year";
    EXPECT_EQ(Day(L"01-01-2027") - Day(L"12-31-2026"), 1);
    for (const wchar_t* nonsense : {L"", L"13-01-2026", L"02-30-2026", L"2026-12-06", L"12/06/2026"}) {
        EXPECT_EQ(backup::DayOf(nonsense), std::nullopt);
    }
}

// Each case: the automatic backups by run number and date, today, and those thinned out.
TEST(Automatic, ThinningKeepsDaysWeeksMonthsAndTheNewestThree)
{
    struct Case {
        const char* what;
        std::vector<std::pair<const wchar_t*, const wchar_t*>> backups;
        const wchar_t* today;
        std::vector<std::wstring> thinned;
    };
    const Case cases[] = {
        {"a backup a day for ten days, across a month's end: the last 7 days, then a week's newest",
         {{L"1", L"11-28-2026"},
          {L"2", L"11-29-2026"},
          {L"3", L"11-30-2026"},
          {L"4", L"12-01-2026"},
          {L"5", L"12-02-2026"},
          {L"6", L"12-03-2026"},
          {L"7", L"12-04-2026"},
          {L"8", L"12-05-2026"},
          {L"9", L"12-06-2026"},
          {L"10", L"12-07-2026"}},
         L"12-07-2026",
         {L"2", L"1"}},
        {"across a year's end: a month's newest for twelve months, nothing older",
         {{L"20", L"12-25-2025"},
          {L"21", L"01-10-2026"},
          {L"22", L"11-15-2026"},
          {L"23", L"11-20-2026"},
          {L"24", L"12-01-2026"},
          {L"25", L"12-30-2026"},
          {L"26", L"12-31-2026"}},
         L"01-03-2027",
         {L"22", L"21", L"20"}},
        {"over a change of summer time, two on its day: days are dates",
         {{L"30", L"03-21-2026"},
          {L"31", L"03-22-2026"},
          {L"32", L"03-28-2026"},
          {L"33", L"03-29-2026"},
          {L"34", L"03-29-2026"}},
         L"03-30-2026",
         {L"30"}},
        {"the newest three stay, however old",
         {{L"40", L"01-01-2024"}, {L"41", L"02-01-2024"}, {L"42", L"03-01-2024"}, {L"43", L"04-01-2024"}},
         L"12-07-2026",
         {L"40"}},
        {"on one day the higher number is the newer; one dated after today stays",
         {{L"9", L"10-01-2026"},
          {L"10", L"10-01-2026"},
          {L"50", L"01-01-2027"},
          {L"51", L"12-07-2026"},
          {L"52", L"12-07-2026"}},
         L"12-07-2026",
         {L"9"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<backup::AutomaticBackup> backups;
        for (const auto& [number, date] : c.backups) {
            backups.push_back({.number = number, .day = Day(date)});
        }
        std::reverse(backups.begin(), backups.end()); // in no particular order
        EXPECT_EQ(backup::BackupsToThin(backups, Day(c.today)), c.thinned);
    }
}

using Kind = backup::Schedule::Kind;

// Each case: what /schedule was given, the schedule (none: not understood), its words and the
// trigger the task's definition has for it.
TEST(Schedule, WordsAndTriggers)
{
    struct Case {
        std::vector<std::wstring> words;
        std::optional<backup::Schedule> schedule;
        std::wstring said;
        std::vector<std::wstring> trigger;
    };
    const Case cases[] = {
        {{L"weekly", L"sun", L"12:00"},
         backup::Schedule{Kind::Weekly, 0, 12, 0},
         L"every Sunday at 12:00",
         {L"<StartBoundary>2026-01-01T12:00:00</StartBoundary>", L"<DaysOfWeek>\n          <Sunday />",
          L"<WeeksInterval>1</WeeksInterval>"}},
        {{L"WEEKLY", L"Saturday", L"7:05"},
         backup::Schedule{Kind::Weekly, 6, 7, 5},
         L"every Saturday at 07:05",
         {L"T07:05:00</StartBoundary>", L"<Saturday />"}},
        {{L"weekly", L"wed", L"23:59"},
         backup::Schedule{Kind::Weekly, 3, 23, 59},
         L"every Wednesday at 23:59",
         {L"<Wednesday />"}},
        {{L"daily", L"09:30"},
         backup::Schedule{Kind::Daily, 0, 9, 30},
         L"every day at 09:30",
         {L"T09:30:00</StartBoundary>", L"<ScheduleByDay>\n        <DaysInterval>1</DaysInterval>"}},
        {{L"daily", L"0:00"}, backup::Schedule{Kind::Daily, 0, 0, 0}, L"every day at 00:00", {L"T00:00:00<"}},
        {{L"Logon"},
         backup::Schedule{Kind::Logon, 0, 12, 0},
         L"at every log-on",
         {L"<LogonTrigger>\n      <Enabled>true</Enabled>\n      <UserId>S-1-5-21-7</UserId>"}},
        {{L"off"}, backup::Schedule{Kind::Off, 0, 12, 0}, L"off", {}},
        {{L"daily", L"24:00"}, std::nullopt, L"", {}},
        {{L"daily", L"12:60"}, std::nullopt, L"", {}},
        {{L"daily", L"12"}, std::nullopt, L"", {}},
        {{L"daily", L"123:00"}, std::nullopt, L"", {}},
        {{L"daily", L"12:0"}, std::nullopt, L"", {}},
        {{L"daily", L"+1:00"}, std::nullopt, L"", {}},
        {{L"daily"}, std::nullopt, L"", {}},
        {{L"weekly", L"12:00"}, std::nullopt, L"", {}},
        {{L"weekly", L"su", L"12:00"}, std::nullopt, L"", {}},
        {{L"weekly", L"sundays", L"12:00"}, std::nullopt, L"", {}},
        {{L"weekly", L"sun", L"12:00", L"x"}, std::nullopt, L"", {}},
        {{L"logon", L"now"}, std::nullopt, L"", {}},
        {{L"hourly"}, std::nullopt, L"", {}},
        {{}, std::nullopt, L"", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words.empty() ? std::string("(none)")
                                     : std::string(c.words.back().begin(), c.words.back().end()));
        const std::optional<backup::Schedule> schedule = backup::ParseSchedule(c.words);
        EXPECT_EQ(schedule, c.schedule);
        if (!schedule) {
            continue;
        }
        EXPECT_EQ(backup::ScheduleWords(*schedule), c.said);
        std::vector<std::wstring> text;
        for (std::wstring rest = backup::ScheduleText(*schedule); !rest.empty();) {
            text.push_back(rest.substr(0, rest.find(L' ')));
            rest = rest.find(L' ') == std::wstring::npos ? L"" : rest.substr(rest.find(L' ') + 1);
        }
        EXPECT_EQ(backup::ParseSchedule(text), schedule) << "the record reads back";
        if (schedule->kind == Kind::Off) {
            continue;
        }
        const std::wstring xml = backup::TaskXml(*schedule, L"D:\\Tools\\LarkSpool.exe", L"S-1-5-21-7");
        for (const std::wstring& part : c.trigger) {
            EXPECT_NE(xml.find(part), std::wstring::npos) << part;
        }
        const std::optional<backup::Schedule> back = backup::ScheduleFromXml(xml);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(backup::ScheduleWords(*back), c.said) << "the registered task tells its schedule";
    }
}

TEST(Schedule, TaskStartsTheProgramAsTheUserWithoutElevation)
{
    const std::wstring program = L"C:\\Program Files\\Ларк & Spool <2>\\LarkSpool.exe";
    const std::wstring xml = backup::TaskXml({}, program, L"S-1-5-21-7");
    for (const wchar_t* part : {
             L"<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">",
             L"<LogonType>InteractiveToken</LogonType>",
             L"<RunLevel>LeastPrivilege</RunLevel>",
             L"<StartWhenAvailable>true</StartWhenAvailable>",
             L"<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>",
             L"<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>",
             L"<MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>",
             L"<ExecutionTimeLimit>PT30M</ExecutionTimeLimit>",
             L"<Command>\"C:\\Program Files\\Ларк &amp; Spool &lt;2&gt;\\LarkSpool.exe\"</Command>",
             L"<Arguments>/backup /auto</Arguments>",
         }) {
        EXPECT_NE(xml.find(part), std::wstring::npos) << part;
    }
    EXPECT_EQ(backup::ProgramFromXml(xml), program);
    EXPECT_EQ(backup::ScheduleWords(backup::ScheduleFromXml(xml).value()), L"every Sunday at 12:00")
        << "the default schedule";
    // What the Task Scheduler of Wine 8 keeps of it.
    const std::wstring kept = L"<Task><Triggers/><Settings/><Actions><Exec/></Actions></Task>";
    EXPECT_EQ(backup::ScheduleFromXml(kept), std::nullopt);
    EXPECT_EQ(backup::ProgramFromXml(kept), L"");
}

} // namespace
