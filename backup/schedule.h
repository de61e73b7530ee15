// When the Task Scheduler runs /backup /auto: the schedule in words, the task's definition as
// the Task Scheduler takes it, and the record of the last choice.
#pragma once

#include "platform/os.h"

#include <optional>
#include <string>
#include <vector>

namespace backup {

struct Schedule {
    enum class Kind { Off, Daily, Weekly, Logon };
    Kind kind = Kind::Weekly;
    int day = 0; // Weekly: 0 Sunday .. 6 Saturday
    int hour = 12;
    int minute = 0;
    bool operator==(const Schedule&) const = default;
};

// The task's folder and name in the Task Scheduler of the current user.
constexpr wchar_t kTaskFolder[] = L"\\LarkSpool";
constexpr wchar_t kTaskName[] = L"LarkSpool automatic backup";

// "9:30" or "09:30" into the schedule's hour and minute; false, and nothing changed, for
// anything else.
bool ReadTime(const std::wstring& text, Schedule& schedule);
// "daily 09:30", "weekly sun 12:00" (the day in English, three letters or whole, any letter
// case), "logon", "off"; nothing for anything else.
std::optional<Schedule> ParseSchedule(const std::vector<std::wstring>& words);
// The same words back, as ParseSchedule reads them.
std::wstring ScheduleText(const Schedule& schedule);
// "every Sunday at 12:00", "every day at 09:30", "at every log-on", "off".
std::wstring ScheduleWords(const Schedule& schedule);

// The task's definition in the Task Scheduler's XML: the trigger, run as the user only while
// logged on and without elevation, a run missed while the computer was off made up at the next
// chance, on battery too, never two at once, stopped after 30 minutes; the action starts the
// program, quoted, with /backup /auto. `user` (a SID) is whose log-on starts it.
std::wstring TaskXml(const Schedule& schedule, const std::wstring& program, const std::wstring& user);
// The schedule of a registered definition; nothing where it kept no trigger this program makes.
std::optional<Schedule> ScheduleFromXml(const std::wstring& xml);
// The program a registered definition starts, without quotes; empty where it kept no command.
std::wstring ProgramFromXml(const std::wstring& xml);

// The last choice and the program registered with it, kept in the settings store: where the Task
// Scheduler does not tell the triggers and command it keeps (Wine), they are told from it.
void RecordSchedule(platform::Os& os, const Schedule& schedule);
std::optional<Schedule> RecordedSchedule(platform::Os& os);

// This program as the task starts it.
std::wstring ProgramPath(platform::Os& os);
// Registers the task for the schedule (deletes it for Off) and records the choice. Throws the
// Task Scheduler's platform::Failure.
void ApplySchedule(platform::Os& os, const Schedule& schedule);

// The schedule in force, as far as it can be told.
struct ScheduleInForce {
    bool registered = false;          // a task is registered
    std::optional<Schedule> schedule; // Off without a task; nothing where neither it nor the record tells
    bool asLastChosen = false;        // from the record: the Task Scheduler does not tell the triggers (Wine)
    std::wstring program;             // what the task starts, without quotes; empty where nothing tells
    bool programAsRecorded = false;   // from the record: the Task Scheduler does not tell the command
    bool programGone = false;         // the program it starts is no longer there (it was moved)
};
// From the registered task where it tells its triggers, else from the last choice.
ScheduleInForce CurrentSchedule(platform::Os& os);

} // namespace backup
