#include "backup/schedule.h"

#include <algorithm>
#include <array>

namespace backup {

namespace {

constexpr std::array<const wchar_t*, 7> kDays = {L"Sunday",   L"Monday", L"Tuesday", L"Wednesday",
                                                 L"Thursday", L"Friday", L"Saturday"};
constexpr wchar_t kAppName[] = L"lsBundle";
constexpr wchar_t kSection[] = L"Automatic";
constexpr int kHours = 24;
constexpr int kMinutes = 60;

std::wstring Lower(std::wstring text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; });
    return text;
}

std::optional<int> Number(const std::wstring& digits, int below)
{
    if (digits.empty() || digits.size() > 2 ||
        !std::all_of(digits.begin(), digits.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; })) {
        return std::nullopt;
    }
    const int value = std::stoi(digits);
    return value < below ? std::optional<int>(value) : std::nullopt;
}

std::optional<int> ReadDay(const std::wstring& text)
{
    const std::wstring day = Lower(text);
    for (int i = 0; i < static_cast<int>(kDays.size()); ++i) {
        const std::wstring whole = Lower(kDays[i]);
        if (day == whole || day == whole.substr(0, 3)) {
            return i;
        }
    }
    return std::nullopt;
}

std::wstring TwoDigits(int value)
{
    return (value < 10 ? L"0" : L"") + std::to_wstring(value);
}

std::wstring Clock(const Schedule& schedule)
{
    return TwoDigits(schedule.hour) + L":" + TwoDigits(schedule.minute);
}

// Element text: the quotes around the program stay as they are.
std::wstring Escaped(const std::wstring& text)
{
    std::wstring escaped;
    for (const wchar_t c : text) {
        switch (c) {
        case L'&':
            escaped += L"&amp;";
            break;
        case L'<':
            escaped += L"&lt;";
            break;
        case L'>':
            escaped += L"&gt;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

std::wstring Unescaped(std::wstring text)
{
    for (const auto& [entity, c] : {std::pair{L"&lt;", L"<"}, std::pair{L"&gt;", L">"}, std::pair{L"&quot;", L"\""},
                                    std::pair{L"&apos;", L"'"}, std::pair{L"&amp;", L"&"}}) {
        const std::wstring from = entity;
        for (std::size_t at = text.find(from); at != std::wstring::npos; at = text.find(from, at + 1)) {
            text.replace(at, from.size(), c);
        }
    }
    return text;
}

// The text of the first element of that name; nothing where there is none, or it is empty.
std::optional<std::wstring> Element(const std::wstring& xml, const std::wstring& name)
{
    const std::size_t open = xml.find(L"<" + name + L">");
    if (open == std::wstring::npos) {
        return std::nullopt;
    }
    const std::size_t start = open + name.size() + 2;
    const std::size_t end = xml.find(L"</" + name + L">", start);
    if (end == std::wstring::npos) {
        return std::nullopt;
    }
    return xml.substr(start, end - start);
}

std::wstring Trigger(const Schedule& schedule, const std::wstring& user)
{
    if (schedule.kind == Schedule::Kind::Logon) {
        return L"    <LogonTrigger>\n"
               L"      <Enabled>true</Enabled>\n"
               L"      <UserId>" +
               Escaped(user) +
               L"</UserId>\n"
               L"    </LogonTrigger>\n";
    }
    // The start boundary's day is only where the schedule begins; without a time zone it is the
    // local time wherever the computer is.
    const std::wstring by = schedule.kind == Schedule::Kind::Daily
                                ? L"      <ScheduleByDay>\n"
                                  L"        <DaysInterval>1</DaysInterval>\n"
                                  L"      </ScheduleByDay>\n"
                                : L"      <ScheduleByWeek>\n"
                                  L"        <DaysOfWeek>\n"
                                  L"          <" +
                                      std::wstring(kDays.at(static_cast<std::size_t>(schedule.day))) +
                                      L" />\n"
                                      L"        </DaysOfWeek>\n"
                                      L"        <WeeksInterval>1</WeeksInterval>\n"
                                      L"      </ScheduleByWeek>\n";
    return L"    <CalendarTrigger>\n"
           L"      <StartBoundary>2026-01-01T" +
           Clock(schedule) +
           L":00</StartBoundary>\n"
           L"      <Enabled>true</Enabled>\n" +
           by + L"    </CalendarTrigger>\n";
}

} // namespace

bool ReadTime(const std::wstring& text, Schedule& schedule)
{
    const std::size_t colon = text.find(L':');
    if (colon == std::wstring::npos || text.size() - colon != 3) {
        return false;
    }
    const std::optional<int> hour = Number(text.substr(0, colon), kHours);
    const std::optional<int> minute = Number(text.substr(colon + 1), kMinutes);
    if (!hour || !minute) {
        return false;
    }
    schedule.hour = *hour;
    schedule.minute = *minute;
    return true;
}

std::optional<Schedule> ParseSchedule(const std::vector<std::wstring>& words)
{
    const std::wstring kind = words.empty() ? L"" : Lower(words[0]);
    Schedule schedule;
    if ((kind == L"off" || kind == L"logon") && words.size() == 1) {
        schedule.kind = kind == L"off" ? Schedule::Kind::Off : Schedule::Kind::Logon;
        return schedule;
    }
    if (kind == L"daily" && words.size() == 2 && ReadTime(words[1], schedule)) {
        schedule.kind = Schedule::Kind::Daily;
        return schedule;
    }
    if (kind == L"weekly" && words.size() == 3 && ReadTime(words[2], schedule)) {
        const std::optional<int> day = ReadDay(words[1]);
        if (day) {
            schedule.day = *day;
            return schedule;
        }
    }
    return std::nullopt;
}

std::wstring ScheduleText(const Schedule& schedule)
{
    switch (schedule.kind) {
    case Schedule::Kind::Daily:
        return L"daily " + Clock(schedule);
    case Schedule::Kind::Weekly:
        return L"weekly " + Lower(kDays.at(static_cast<std::size_t>(schedule.day))).substr(0, 3) + L" " +
               Clock(schedule);
    case Schedule::Kind::Logon:
        return L"logon";
    default:
        return L"off";
    }
}

std::wstring ScheduleWords(const Schedule& schedule)
{
    switch (schedule.kind) {
    case Schedule::Kind::Daily:
        return L"every day at " + Clock(schedule);
    case Schedule::Kind::Weekly:
        return L"every " + std::wstring(kDays.at(static_cast<std::size_t>(schedule.day))) + L" at " + Clock(schedule);
    case Schedule::Kind::Logon:
        return L"at every log-on";
    default:
        return L"off";
    }
}

std::wstring TaskXml(const Schedule& schedule, const std::wstring& program, const std::wstring& user)
{
    return L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n"
           L"<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\n"
           L"  <RegistrationInfo>\n"
           L"    <Description>Backs up the custom names of Wrenlet when they have changed.</Description>\n"
           L"  </RegistrationInfo>\n"
           L"  <Triggers>\n" +
           Trigger(schedule, user) +
           L"  </Triggers>\n"
           L"  <Principals>\n"
           L"    <Principal id=\"Author\">\n"
           L"      <LogonType>InteractiveToken</LogonType>\n"
           L"      <RunLevel>LeastPrivilege</RunLevel>\n"
           L"    </Principal>\n"
           L"  </Principals>\n"
           L"  <Settings>\n"
           L"    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>\n"
           L"    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>\n"
           L"    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>\n"
           L"    <StartWhenAvailable>true</StartWhenAvailable>\n"
           L"    <Enabled>true</Enabled>\n"
           L"    <ExecutionTimeLimit>PT30M</ExecutionTimeLimit>\n"
           L"  </Settings>\n"
           L"  <Actions Context=\"Author\">\n"
           L"    <Exec>\n"
           L"      <Command>" +
           Escaped(L"\"" + program + L"\"") +
           L"</Command>\n"
           L"      <Arguments>/backup /auto</Arguments>\n"
           L"    </Exec>\n"
           L"  </Actions>\n"
           L"</Task>\n";
}

std::optional<Schedule> ScheduleFromXml(const std::wstring& xml)
{
    Schedule schedule;
    if (xml.find(L"<LogonTrigger") != std::wstring::npos) {
        schedule.kind = Schedule::Kind::Logon;
        return schedule;
    }
    const std::optional<std::wstring> start = Element(xml, L"StartBoundary");
    const std::size_t at = start ? start->find(L'T') : std::wstring::npos;
    if (at == std::wstring::npos || !ReadTime(start->substr(at + 1, 5), schedule)) {
        return std::nullopt;
    }
    if (xml.find(L"<ScheduleByDay>") != std::wstring::npos) {
        schedule.kind = Schedule::Kind::Daily;
        return schedule;
    }
    const std::optional<std::wstring> days = Element(xml, L"DaysOfWeek");
    for (int i = 0; days && i < static_cast<int>(kDays.size()); ++i) {
        if (days->find(L"<" + std::wstring(kDays[i])) != std::wstring::npos) {
            schedule.day = i;
            return schedule;
        }
    }
    return std::nullopt;
}

std::wstring ProgramFromXml(const std::wstring& xml)
{
    std::wstring command = Unescaped(Element(xml, L"Command").value_or(L""));
    if (command.size() >= 2 && command.front() == L'"' && command.back() == L'"') {
        command = command.substr(1, command.size() - 2);
    }
    return command;
}

void RecordSchedule(platform::Os& os, const Schedule& schedule)
{
    os.SaveSetting(kAppName, kSection, L"Schedule", ScheduleText(schedule));
    os.SaveSetting(kAppName, kSection, L"Program", schedule.kind == Schedule::Kind::Off ? L"" : ProgramPath(os));
}

std::optional<Schedule> RecordedSchedule(platform::Os& os)
{
    std::vector<std::wstring> words;
    const std::wstring text = os.GetSetting(kAppName, kSection, L"Schedule");
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find(L' ', start), text.size());
        words.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return ParseSchedule(words);
}

std::wstring ProgramPath(platform::Os& os)
{
    std::wstring folder = os.AppPath();
    if (!folder.ends_with(L'\\')) {
        folder += L'\\';
    }
    return folder + L"LarkSpool.exe";
}

void ApplySchedule(platform::Os& os, const Schedule& schedule)
{
    if (schedule.kind == Schedule::Kind::Off) {
        os.DeleteTask(kTaskFolder, kTaskName);
    } else {
        os.RegisterTask(kTaskFolder, kTaskName, TaskXml(schedule, ProgramPath(os), os.UserSid()));
    }
    RecordSchedule(os, schedule);
}

ScheduleInForce CurrentSchedule(platform::Os& os)
{
    ScheduleInForce current;
    const std::optional<std::wstring> xml = os.ReadTask(kTaskFolder, kTaskName);
    if (!xml) {
        current.schedule = Schedule{.kind = Schedule::Kind::Off};
        return current;
    }
    current.registered = true;
    current.program = ProgramFromXml(*xml);
    if (current.program.empty()) {
        current.program = os.GetSetting(kAppName, kSection, L"Program");
        current.programAsRecorded = !current.program.empty();
    }
    current.programGone = !current.program.empty() && !os.FileExists(current.program);
    current.schedule = ScheduleFromXml(*xml);
    if (!current.schedule) {
        current.schedule = RecordedSchedule(os);
        current.asLastChosen = true;
    }
    return current;
}

} // namespace backup
