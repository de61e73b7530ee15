#include "ui/frmAutomatic.h"

#include "backup/automatic.h"
#include "backup/schedule.h"
#include "ui/clsOnTop.h"
#include "ui/command_label.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace ui {

namespace {

using platform::Control;
using platform::ControlKind;
using Kind = backup::Schedule::Kind;

constexpr platform::Color kTextBlue = 0x00B6703D;
constexpr const wchar_t* kCommands[] = {L"cmdOK", L"cmdCancel"};
// The options in the order of Kind.
constexpr std::array<const wchar_t*, 4> kOptions = {L"optOff", L"optDaily", L"optWeekly", L"optLogon"};

Control Option(const wchar_t* name, const wchar_t* caption, int top, int width, wchar_t accessKey, int tabIndex)
{
    Control option{.name = name, .kind = ControlKind::Option, .caption = caption, .left = 120, .top = top};
    option.width = width;
    option.height = 255;
    option.backColor = 0xFFFFFF;
    option.foreColor = kTextBlue;
    option.accessKey = accessKey;
    option.tabIndex = tabIndex;
    return option;
}

} // namespace

std::wstring AutomaticState(platform::Os& os)
{
    std::wstring state = L"Automatic backups: ";
    try {
        const backup::ScheduleInForce current = backup::CurrentSchedule(os);
        state += current.schedule ? backup::ScheduleWords(*current.schedule) : L"on";
        if (current.programGone) { // what to do comes before how the last run went
            return state + L" - but it starts " + current.program +
                   L", which is no longer there: choose Automatic... and OK to register this program";
        }
    } catch (const platform::Failure& failure) {
        std::wstring said = failure.text();
        std::replace(said.begin(), said.end(), L'\n', L' '); // one line
        state += L"unknown; the Task Scheduler said: " + said;
    }
    if (const std::optional<backup::AutomaticRun> last = backup::LastAutomaticRun(os)) {
        state += L" - last on " + backup::WhenInWords(last->when, true) + L": " + last->line;
    }
    return state;
}

platform::Layout frmAutomatic::Layout()
{
    platform::Layout layout;
    layout.name = L"frmAutomatic";
    layout.caption = L"Automatic Backups";
    layout.backColor = 0xFFFFFF;
    layout.frame = platform::Frame::Sizable;
    layout.clientWidth = 3840;
    layout.clientHeight = 2220;

    Control off = Option(L"optOff", L"Off", 120, 3600, L'O', 0);
    off.group = true;
    // Its list drops below it: the height holds the list.
    Control day{.name = L"cboDay", .kind = ControlKind::ComboBox, .left = 1800, .top = 690, .width = 1440};
    day.height = 2400;
    day.items = {L"Sunday", L"Monday", L"Tuesday", L"Wednesday", L"Thursday", L"Friday", L"Saturday"};
    day.tabIndex = 3;
    Control timeLabel{.name = L"lblTime", .caption = L"At (every day, every week):", .left = 120, .top = 1380};
    timeLabel.width = 2160;
    timeLabel.height = 255;
    timeLabel.transparent = true;
    timeLabel.foreColor = kTextBlue;
    Control time{.name = L"txtTime", .kind = ControlKind::TextBox, .caption = L"12:00", .left = 2340, .top = 1350};
    time.width = 900;
    time.height = 315;
    time.foreColor = kTextBlue;
    time.backColor = 0xFFFFFF;
    time.tabIndex = 5;
    time.multiLine = false;

    Control ok = CommandLabel(L"cmdOK", L"OK", 1200, 1095, 0, 1845);
    ok.tabIndex = 6;
    Control cancel = CommandLabel(L"cmdCancel", L"Cancel", 2400, 1095, 0, 1845);
    cancel.tabIndex = 7;
    Control timer{.name = L"tmrRegister", .kind = ControlKind::Timer};
    timer.visible = false;
    timer.enabled = false;
    timer.interval = 50;
    layout.controls = {off,
                       Option(L"optDaily", L"Every day", 420, 3600, L'd', 1),
                       Option(L"optWeekly", L"Every week on", 720, 1620, L'w', 2),
                       day,
                       Option(L"optLogon", L"At every log-on", 1020, 3600, L'l', 4),
                       timeLabel,
                       time,
                       ok,
                       cancel,
                       timer};
    return layout;
}

frmAutomatic::frmAutomatic(platform::Os& system, platform::Runtime& forms) : Form(system, forms, Layout())
{
    On(L"Form_Load", [this](platform::EventArgs&) { Form_Load(); });
    On(L"Form_Resize", [this](platform::EventArgs&) { Form_Resize(); });
    On(L"Form_Unload", [this](platform::EventArgs& args) { Form_Unload(args); });
    On(L"tmrRegister_Timer", [this](platform::EventArgs&) { tmrRegister_Timer(); });
    // Enter is OK and Esc is Cancel, wherever the focus is.
    On(L"Form_KeyDown", [this](const platform::EventArgs& args) {
        if (args.keyCode == platform::vbKeyReturn) {
            cmdOK_Click();
        } else if (args.keyCode == platform::vbKeyEscape) {
            cmdCancel_Click();
        }
    });
    On(L"Form_MouseMove", [this](platform::EventArgs&) { Reset(*this, kCommands); });
    On(L"cmdOK_Click", [this](platform::EventArgs&) { cmdOK_Click(); });
    On(L"cmdCancel_Click", [this](platform::EventArgs&) { cmdCancel_Click(); });
    for (const wchar_t* command : kCommands) {
        On(std::wstring(command) + L"_MouseMove",
           [this, command](platform::EventArgs&) { Highlight((*this)[command]); });
    }
}

// The schedule in force, else the last choice where the Task Scheduler does not answer; every
// week on Sunday at 12:00 where there is none.
void frmAutomatic::Form_Load()
{
    closeWhenRegistered_ = false;
    std::optional<backup::Schedule> current;
    try {
        current = backup::CurrentSchedule(os).schedule;
    } catch (const platform::Failure&) {
        current = backup::RecordedSchedule(os);
    }
    backup::Schedule shown = current.value_or(backup::Schedule{});
    const Kind kind = shown.kind;
    if (kind == Kind::Off) {
        shown = backup::Schedule{};
    }
    for (std::size_t i = 0; i < kOptions.size(); ++i) {
        (*this)[kOptions[i]].value = static_cast<int>(i) == static_cast<int>(kind) ? 1 : 0;
    }
    (*this)[L"cboDay"].value = shown.day;
    wchar_t time[6] = {};
    swprintf(time, 6, L"%02d:%02d", shown.hour, shown.minute);
    (*this)[L"txtTime"].caption = time;
}

// Above the Backups window, which is topmost.
void frmAutomatic::Form_Resize()
{
    clsOnTop(os).MakeTopMost(hWnd());
}

// Closing while the Task Scheduler registers waits for its answer, which is then told.
void frmAutomatic::Form_Unload(platform::EventArgs& args)
{
    if (registering_) {
        closeWhenRegistered_ = true;
        args.cancel = 1;
    }
}

void frmAutomatic::cmdOK_Click()
{
    if (registering_) {
        return;
    }
    backup::Schedule chosen;
    for (std::size_t i = 0; i < kOptions.size(); ++i) {
        if ((*this)[kOptions[i]].value == 1) {
            chosen.kind = static_cast<Kind>(i);
        }
    }
    chosen.day = std::clamp((*this)[L"cboDay"].value, 0, 6); // the list has a choice; Sunday should it not
    std::wstring time = (*this)[L"txtTime"].caption;
    std::erase_if(time, [](wchar_t c) { return c == L' ' || c == L'\r' || c == L'\n'; });
    if (!backup::ReadTime(time, chosen)) {
        os.MsgBox(L"\"" + time + L"\" is no time of day. Type it as hours and minutes, such as 12:00 or 9:30.",
                  platform::MessageKind::Error);
        return;
    }
    Caption = L"Automatic Backups - registering...";
    registering_ = os.StartJob([&system = os, chosen] { backup::ApplySchedule(system, chosen); });
    (*this)[L"tmrRegister"].enabled = true;
    tmrRegister_Timer();
}

void frmAutomatic::tmrRegister_Timer()
{
    if (!registering_) {
        return;
    }
    std::wstring refused;
    try {
        if (!registering_->Done()) {
            return;
        }
    } catch (const platform::Failure& failure) {
        refused = failure.text();
    }
    registering_.reset();
    (*this)[L"tmrRegister"].enabled = false;
    Caption = layout().caption;
    if (!refused.empty()) {
        os.MsgBox(L"The Task Scheduler said: " + refused, platform::MessageKind::Error);
        if (!closeWhenRegistered_) {
            return; // the user may choose again
        }
    }
    runtime.Unload(*this);
}

void frmAutomatic::cmdCancel_Click()
{
    if (!registering_) {
        runtime.Unload(*this);
    }
}

} // namespace ui
