#include "backup/schedule.h"
#include "fake_os.h"
#include "ui/frmAutomatic.h"
#include "ui/frmBackups.h"

#include <gtest/gtest.h>

namespace {

constexpr wchar_t kTask[] = L"\\LarkSpool\\LarkSpool automatic backup";

struct AutomaticWindow : ::testing::Test {
    fake::Os os;
    fake::Runtime runtime;
    ui::frmAutomatic window{os, runtime};

    void Click(const wchar_t* control) { window.Fire(control, L"Click"); }
    std::vector<std::wstring> Chosen()
    {
        std::vector<std::wstring> chosen;
        for (const wchar_t* option : {L"optOff", L"optDaily", L"optWeekly", L"optLogon"}) {
            if (window[option].value == 1) {
                chosen.emplace_back(option);
            }
        }
        return chosen;
    }
};

TEST_F(AutomaticWindow, OffShowsEveryWeekOnSundayAndOkRegistersIt)
{
    window.Show(1);
    EXPECT_EQ(Chosen(), std::vector<std::wstring>{L"optOff"});
    EXPECT_EQ(window[L"cboDay"].value, 0);
    EXPECT_EQ(window[L"cboDay"].items.at(0), L"Sunday");
    EXPECT_EQ(window[L"txtTime"].caption, L"12:00");

    window[L"optOff"].value = 0;
    window[L"optWeekly"].value = 1;
    // The Task Scheduler answers off the window's thread; closing meanwhile waits for its answer.
    os.holdJobs = true;
    Click(L"cmdOK");
    EXPECT_EQ(window.Caption, L"Automatic Backups - registering...");
    platform::EventArgs closing;
    window.Fire(L"Form", L"Unload", closing);
    EXPECT_EQ(closing.cancel, 1);
    os.RunJobs();
    window.Fire(L"tmrRegister", L"Timer");
    EXPECT_EQ(os.tasks[kTask], backup::TaskXml({}, L"D:\\Tools\\LarkSpool.exe", os.UserSid()));
    EXPECT_EQ(runtime.calls.back(), L"Unload frmAutomatic");
    os.holdJobs = false;

    window.Show(1);
    EXPECT_EQ(Chosen(), std::vector<std::wstring>{L"optWeekly"}) << "the schedule in force";
}

TEST_F(AutomaticWindow, ShowsTheScheduleInForce)
{
    backup::ApplySchedule(os, {.kind = backup::Schedule::Kind::Daily, .day = 0, .hour = 9, .minute = 30});
    window.Show(1);
    EXPECT_EQ(Chosen(), std::vector<std::wstring>{L"optDaily"});
    EXPECT_EQ(window[L"txtTime"].caption, L"09:30");
}

TEST_F(AutomaticWindow, BadTimeOrRefusalKeepsTheWindowAndCancelChangesNothing)
{
    window.Show(1);
    window[L"optOff"].value = 0;
    window[L"optDaily"].value = 1;
    for (const wchar_t* time : {L"24:00", L"12:60", L"noon", L"1200", L""}) {
        os.messages.clear();
        window[L"txtTime"].caption = time;
        Click(L"cmdOK");
        EXPECT_EQ(os.messages.size(), 1u);
    }
    window[L"txtTime"].caption = L"7:05";
    os.schedulerUnreachable = L"The RPC server is unavailable.";
    os.messages.clear();
    Click(L"cmdOK");
    EXPECT_EQ(os.messages, (std::vector<std::wstring>{L"The Task Scheduler said: Connecting to \"the Task Scheduler\" "
                                                      L"failed:\nThe RPC server is unavailable."}));
    EXPECT_TRUE(os.tasks.empty());
    EXPECT_EQ(runtime.calls.back(), L"Show frmAutomatic 1") << "the window stays";

    os.schedulerUnreachable.clear();
    platform::EventArgs escape;
    escape.keyCode = platform::vbKeyEscape;
    window.Fire(L"Form", L"KeyDown", escape);
    EXPECT_EQ(runtime.calls.back(), L"Unload frmAutomatic");
    EXPECT_TRUE(os.tasks.empty());
    EXPECT_EQ(os.settings.count(L"lsBundle\\Automatic\\Schedule"), 0u);

    platform::EventArgs enter;
    enter.keyCode = platform::vbKeyReturn;
    window.Fire(L"Form", L"KeyDown", enter);
    EXPECT_EQ(os.settings[L"lsBundle\\Automatic\\Schedule"], L"daily 07:05");
}

TEST(AutomaticState, TellsTheScheduleAndTheLastRun)
{
    fake::Os os;
    EXPECT_EQ(ui::AutomaticState(os), L"Automatic backups: off");
    backup::ApplySchedule(os, {});
    os.settings[L"lsBundle\\Automatic\\LastRun"] = L"12-06-2026 12:00:00 PM";
    os.settings[L"lsBundle\\Automatic\\LastCode"] = L"0";
    os.settings[L"lsBundle\\Automatic\\LastLine"] = L"checked";
    EXPECT_EQ(ui::AutomaticState(os), L"Automatic backups: every Sunday at 12:00 - last on 6 Dec at 12:00: checked");
    os.schedulerUnreachable = L"Access is denied.";
    EXPECT_EQ(ui::AutomaticState(os), L"Automatic backups: unknown; the Task Scheduler said: Connecting to \"the "
                                      L"Task Scheduler\" failed: Access is denied. - last on 6 Dec at 12:00: checked");

    os.schedulerUnreachable.clear();
    os.appPath = L"E:\\Moved";
    EXPECT_EQ(ui::AutomaticState(os), L"Automatic backups: every Sunday at 12:00 - but it starts "
                                      L"D:\\Tools\\LarkSpool.exe, which is no longer there: choose Automatic... and "
                                      L"OK to register this program");
    os.appPath = L"D:\\Tools";

    // The Backups window tells it under the list, and again once its Automatic window closes.
    fake::Runtime runtime;
    ui::frmBackups backups(os, runtime, []() -> std::shared_ptr<backup::ExportRun> { return nullptr; });
    backups.Show(1);
    EXPECT_EQ(backups[L"lblAutomatic"].caption, ui::AutomaticState(os));
    os.tasks.clear();
    backups.Fire(L"cmdAutomatic", L"Click");
    EXPECT_EQ(runtime.calls.back(), L"Show frmAutomatic 1");
    EXPECT_EQ(backups[L"lblAutomatic"].caption, L"Automatic backups: off - last on 6 Dec at 12:00: checked");
}

} // namespace
