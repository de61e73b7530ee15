#include "backup/automatic.h"

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

} // namespace
